#include "StartupTrace.h"

#include <QFile>
#include <QtGlobal>

namespace {

QStringList& Trace()
{
    static QStringList trace;
    return trace;
}

} // namespace

void TraceStep(const QString& step, const QString& detail)
{
    Trace().append(detail.isEmpty() ? step : step + QLatin1Char(' ') + detail);
}

const QStringList& TracedSteps()
{
    return Trace();
}

QStringList TracedStepIds()
{
    QStringList ids;
    for (const QString& entry : Trace())
        ids.append(entry.section(QLatin1Char(' '), 0, 0));
    return ids;
}

void ClearTrace()
{
    Trace().clear();
}

QString StartupProbeFile()
{
    return qEnvironmentVariable("QUELLORIX_STARTUP_PROBE");
}

bool WriteTrace(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    const QByteArray text = (Trace().join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    return file.write(text) == text.size() && file.flush();
}
