#include "AppDialogs.h"
#include "TFormMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tarnvik"));
    QApplication::setApplicationName(QStringLiteral("Quellorix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quellorix"));
    TFormMain window;
    AppDialogs dialogs(&window);
    SetDialogs(&dialogs);
    window.show();
    const int result = app.exec();
    SetDialogs(nullptr);
    return result;
}
