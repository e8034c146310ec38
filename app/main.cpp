#include "AppDialogs.h"
#include "RaceJournal.h"
#include "TFormMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tarnvik"));
    QApplication::setApplicationName(QStringLiteral("Quellorix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quellorix"));
    TSystemAccess access;
    access.JournalFolder = DefaultJournalFolder();
    TFormMain window(std::move(access));
    AppDialogs dialogs(&window);
    SetDialogs(&dialogs);
    window.show();
    window.RestoreLastSession();
    const int result = app.exec();
    SetDialogs(nullptr);
    return result;
}
