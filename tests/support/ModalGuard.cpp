#include "ModalGuard.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMetaObject>
#include <QProgressDialog>
#include <QTest>

namespace ModalGuard {
namespace {

int expected = 0;
CaptureScope* capture = nullptr;

// A progress dialog waits for work, not for a person: it closes by itself.
bool WaitsForAnswer(const QWidget* widget)
{
    return widget->isWindow() && widget->windowModality() != Qt::NonModal &&
           qobject_cast<const QDialog*>(widget) && !qobject_cast<const QProgressDialog*>(widget);
}

class Filter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && expected == 0) {
            auto* dialog = qobject_cast<QDialog*>(watched);
            if (dialog && WaitsForAnswer(dialog)) {
                // Closed from the dialog's own loop, once exec() has entered it.
                QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
                ReportUnexpected(dialog->windowTitle());
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

void Install()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        qApp->installEventFilter(new Filter(qApp));
}

} // namespace

void ReportUnexpected(const QString& title)
{
    if (capture) {
        capture->titles.append(title);
        return;
    }
    const QByteArray message = "a dialog opened that nothing answers: \"" + title.toUtf8() + '"';
    if (!QTest::currentTestFunction())
        qFatal("%s", message.constData()); // a bench, or a test outside its functions: never wait
    QTest::qFail(message.constData(), __FILE__, __LINE__);
}

ExpectedScope::ExpectedScope()
{
    ++expected;
}
ExpectedScope::~ExpectedScope()
{
    --expected;
}

CaptureScope::CaptureScope()
{
    capture = this;
}
CaptureScope::~CaptureScope()
{
    capture = nullptr;
}

} // namespace ModalGuard

namespace {
void InstallModalGuard()
{
    ModalGuard::Install();
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallModalGuard)
