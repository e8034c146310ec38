#include "AppSetup.h"
#include "ProgramWindows.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SetUpApplication();
    InstallQtTranslation();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/Quellorix.svg")));
    return RunProgram();
}
