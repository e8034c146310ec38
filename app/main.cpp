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
    // The laptop at the top of the track: the start station's small window.
    if (QCoreApplication::arguments().contains(QStringLiteral("--startplatz")))
        return RunStation();
    return RunProgram();
}
