#include "AppSetup.h"

#include <QCoreApplication>

void SetUpApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnvik"));
    QCoreApplication::setApplicationName(QStringLiteral("Quellorix"));
}
