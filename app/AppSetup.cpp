#include "AppSetup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void SetUpApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnvik"));
    QCoreApplication::setApplicationName(QStringLiteral("Quellorix"));
}

bool InstallQtTranslation()
{
    static QTranslator* installed = nullptr;
    if (installed)
        return true;
    // Owned by the application, so it lives exactly as long as the texts are asked for.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    installed = translator;
    return true;
}
