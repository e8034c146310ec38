#include "OfficeClasses.h"

bool OleClassAvailable(const QString& progId)
{
    return progId == QStringLiteral("Excel.Application");
}
