#include "TFormMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tarnvik"));
    QApplication::setApplicationName(QStringLiteral("Quellorix"));
    TFormMain window;
    window.show();
    return app.exec();
}
