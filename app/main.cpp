#include "AppDialogs.h"
#include "AppSetup.h"
#include "TFormMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SetUpApplication();
    TFormMain window;
    AppDialogs dialogs(&window);
    SetDialogs(&dialogs);
    window.show();
    const int result = app.exec();
    SetDialogs(nullptr);
    return result;
}
