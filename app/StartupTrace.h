#pragma once

#include <QString>
#include <QStringList>

// The steps of the program's start-up and shut-down, recorded as they run, so
// that their order can be checked. Each entry is "<step> <detail>", the step an
// identifier such as "FormCreate.12" without blanks.
void TraceStep(const QString& step, const QString& detail = {});
const QStringList& TracedSteps();
// Only the step identifiers, in order.
QStringList TracedStepIds();
void ClearTrace();

// When the environment names a probe file (QUELLORIX_STARTUP_PROBE), the
// program closes itself as soon as it is running and writes its trace there at
// the end: a trial start for installation checks and tests.
QString StartupProbeFile();
bool WriteTrace(const QString& fileName);
