#include "OfficeClasses.h"

bool OleClassAvailable(const QString& progId)
{
    Q_UNUSED(progId);
    return false;
}
