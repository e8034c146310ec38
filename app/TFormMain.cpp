#include "TFormMain.h"

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Quellorix 2.7"));
}
