#pragma once

#include <QString>
#include <QStringList>

// Every test executable with widgets carries this guard: a modal dialog that
// opens while no test answers it fails the running test at once, naming the
// dialog's title, and is closed again, so no test can wait for ever on a real
// dialog. Dialogs answered through TestDialogs are expected and pass.
namespace ModalGuard {

// Fails the running test: a dialog with this title opened that nobody answers.
void ReportUnexpected(const QString& title);

// For its lifetime, modal dialogs that open are taken as expected: a test
// that answers a real modal dialog itself (its own unit test) holds one.
class ExpectedScope
{
public:
    ExpectedScope();
    ~ExpectedScope();
    ExpectedScope(const ExpectedScope&) = delete;
    ExpectedScope& operator=(const ExpectedScope&) = delete;
};

// For its lifetime, unexpected dialogs are collected here instead of failing
// the test: for the test that proves the guard itself.
class CaptureScope
{
public:
    CaptureScope();
    ~CaptureScope();
    CaptureScope(const CaptureScope&) = delete;
    CaptureScope& operator=(const CaptureScope&) = delete;

    QStringList titles;
};

} // namespace ModalGuard
