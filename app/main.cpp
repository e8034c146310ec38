#include "ProgramWindows.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tarnvik"));
    QApplication::setApplicationName(QStringLiteral("Quellorix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quellorix"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/Quellorix.svg")));
    return RunProgram();
}
