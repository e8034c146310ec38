#pragma once

#include "ActiveWindow.h"
#include "FakeTickSource.h"
#include "FormMainAccess.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestAccess.h"
#include "TestDialogs.h"
#include "TestPasswords.h"
#include "TestPrintDialogs.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

// A main window for file tests and benchmarks: its settings in a temporary
// folder, no serial ports, its dialogs answered from queues, its clock the
// test's (when one is made before the window), and files named relative to
// that folder.
class WindowHarness
{
public:
    QTemporaryDir dir;
    std::unique_ptr<FakeTickSource> clock;
    std::unique_ptr<TestDialogs> dialogs;
    std::unique_ptr<TestPrintDialogs> printDialogs;
    std::unique_ptr<TTestFormMain> window;
    std::shared_ptr<TestPasswords> passwords = std::make_shared<TestPasswords>();
    QList<QUrl> opened;     // files and addresses handed to the desktop, in order
    bool openAnswer = true; // what the desktop answers

    QString Path(const QString& name) const { return dir.filePath(name); }

    // New dialogs and a new, shown window on fresh settings.
    void CreateWindow()
    {
        dialogs = std::make_unique<TestDialogs>();
        QFile::remove(Path(QStringLiteral("settings.ini")));
        window = std::make_unique<TTestFormMain>(Access());
        if (!ShowActive(*window))
            QTest::qFail("the window did not become active", __FILE__, __LINE__);
    }

    // The harness's stand-ins and settings, for a window made by the test.
    TSystemAccess Access()
    {
        if (!printDialogs)
            printDialogs = std::make_unique<TestPrintDialogs>();
        TSystemAccess access = TestAccess(Path(QStringLiteral("settings.ini")));
        access.OpenUrl = [this](const QUrl& url) {
            opened.append(url);
            return openAnswer;
        };
        access.Ticks = clock.get();
        access.Dialogs = dialogs.get();
        access.PrintDialogs = printDialogs.get();
        access.Passwords = passwords;
        return access;
    }

    // Closes the window without the question for unsaved changes.
    void DestroyWindow()
    {
        if (window)
            window->SetUnsaved(false);
        window.reset();
        dialogs.reset();
        printDialogs.reset();
    }

    void WriteFile(const QString& name, const QByteArray& bytes) const
    {
        QFile file(Path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }

    QByteArray ReadFile(const QString& name) const
    {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Answers the next file dialog with the name and entry, then opens or saves.
    void Open(const QString& name, int filterIndex = 1)
    {
        dialogs->fileNames.enqueue(Path(name));
        dialogs->filterIndexes.enqueue(filterIndex);
        window->Open1->trigger();
    }

    void Save(const QString& name, int filterIndex)
    {
        dialogs->fileNames.enqueue(Path(name));
        dialogs->filterIndexes.enqueue(filterIndex);
        window->Save1->trigger();
    }
};
