#include "TSettings.h"

#include "SerialPorts.h"
#include "StartLinkCodec.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>
#include <algorithm>

namespace {

// A stored number is accepted when it is an integer, whether the store hands it
// back typed (the registry) or as text (an INI file read by a new process).
std::optional<int> StoredInt(const QVariant& value)
{
    if (!value.isValid())
        return std::nullopt;
    const int type = value.typeId();
    if (type == QMetaType::Double || type == QMetaType::Float || type == QMetaType::Bool)
        return std::nullopt;
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

using Apply = void (*)(TStoredSettings&, int);

struct ReadStep
{
    const char* name;
    Apply apply;
};

// The order matters: reading stops at the first value that cannot be taken.
constexpr ReadStep ReadSteps[] = {
    {"Left", [](TStoredSettings& s, int v) { s.Left = v; }},
    {"Top", [](TStoredSettings& s, int v) { s.Top = v; }},
    {"Width", [](TStoredSettings& s, int v) { s.Width = v; }},
    {"Height", [](TStoredSettings& s, int v) { s.Height = v; }},
    // A number no COM port has means none (not the nearest port).
    {"Port", [](TStoredSettings& s, int v) { s.Port = v >= 1 && v <= MaxComPort ? v : 0; }},
    {"Alg1", [](TStoredSettings& s, int v) { s.Alg1 = v; }},
    {"Alg2", [](TStoredSettings& s, int v) { s.Alg2 = v; }},
    {"Alg3", [](TStoredSettings& s, int v) { s.Alg3 = v; }},
    {"CountBahn", [](TStoredSettings& s, int v) { s.CountBahn = std::clamp(v, MinCountBahn, MaxCountBahn); }},
    {"FilterInd", [](TStoredSettings& s, int v) { s.FilterInd = v; }},
    {"TimerGesperrt",
     [](TStoredSettings& s, int v) { s.TimerGesperrt = std::clamp(v, 0, MaxTimerGesperrt); }},
    // The run columns end before "Gesamt": more runs than columns would total the
    // total column itself.
    {"AllLaufe",
     [](TStoredSettings& s, int v) {
         if (v > 0)
             s.AllLaufe = std::min(v, MaxAllLaufe);
     }},
    {"ProbeLaufe",
     [](TStoredSettings& s, int v) { s.ProbeLaufe = std::clamp(v, MinProbeLaufe, MaxProbeLaufe); }},
};

} // namespace

QStringList SettingsReadOrder()
{
    QStringList names;
    for (const ReadStep& step : ReadSteps)
        names.append(QString::fromLatin1(step.name));
    return names;
}

TStoredSettings ReadSettings(QSettings& settings)
{
    TStoredSettings values;
    for (const ReadStep& step : ReadSteps) {
        const std::optional<int> number = StoredInt(settings.value(QString::fromLatin1(step.name)));
        if (!number)
            break;
        step.apply(values, *number);
    }
    values.PortAdapter = settings.value(QStringLiteral("PortAdapter")).toString();
    if (const std::optional<int> minimum = StoredInt(settings.value(QStringLiteral("Mindestzeit"))))
        values.Mindestzeit = std::clamp(*minimum, 0, MaxMindestzeit);
    // A port that can't be listened on means no live results, not a refusal to start.
    const int livePort = StoredInt(settings.value(QStringLiteral("LivePort"))).value_or(0);
    values.LivePort = livePort > 0 && livePort <= MaxLivePort ? livePort : 0;
    values.Veranstaltung =
        settings.value(QStringLiteral("Veranstaltung")).toString().simplified().left(MaxVeranstaltungLength);
    values.OnlineZiel =
        settings.value(QStringLiteral("OnlineZiel")).toString().trimmed().left(MaxOnlineZielLength);
    values.OnlineBenutzer =
        settings.value(QStringLiteral("OnlineBenutzer")).toString().trimmed().left(MaxOnlineBenutzerLength);
    const int startPort = StoredInt(settings.value(QStringLiteral("StartplatzPort"))).value_or(0);
    values.StartplatzPort = startPort > 0 && startPort <= MaxStartplatzPort ? startPort : 0;
    // A code that is no longer sound is none: the finish makes a new one.
    values.StartplatzSchluessel =
        NormalisePairingCode(settings.value(QStringLiteral("StartplatzSchluessel")).toString().left(100))
            .code;
    values.ZielAdresse =
        settings.value(QStringLiteral("ZielAdresse")).toString().trimmed().left(MaxZielAdresseLength);
    return values;
}

QList<TStoredValue> SettingsWriteList(const TStoredSettings& values)
{
    // An unknown position is written as 0 rather than left out, so that the
    // values after it can still be read back.
    return {
        {QStringLiteral("Left"), values.Left.value_or(0)},
        {QStringLiteral("Top"), values.Top.value_or(0)},
        {QStringLiteral("Width"), values.Width},
        {QStringLiteral("Height"), values.Height},
        {QStringLiteral("Port"), values.Port},
        {QStringLiteral("CountBahn"), values.CountBahn},
        {QStringLiteral("FilterInd"), values.FilterInd},
        {QStringLiteral("Alg1"), values.Alg1},
        {QStringLiteral("Alg2"), values.Alg2},
        {QStringLiteral("Alg3"), values.Alg3},
        {QStringLiteral("TimerGesperrt"), values.TimerGesperrt},
        {QStringLiteral("ProbeLaufe"), values.ProbeLaufe},
        {QStringLiteral("AllLaufe"), values.AllLaufe},
    };
}

bool WriteSettings(QSettings& settings, const TStoredSettings& values)
{
    if (!settings.isWritable())
        return false;
    for (const TStoredValue& value : SettingsWriteList(values))
        settings.setValue(value.name, value.value);
    if (values.PortAdapter.isEmpty())
        settings.remove(QStringLiteral("PortAdapter"));
    else
        settings.setValue(QStringLiteral("PortAdapter"), values.PortAdapter);
    settings.setValue(QStringLiteral("Mindestzeit"), values.Mindestzeit);
    settings.setValue(QStringLiteral("LivePort"), values.LivePort);
    settings.setValue(QStringLiteral("StartplatzPort"), values.StartplatzPort);
    if (values.Veranstaltung.isEmpty())
        settings.remove(QStringLiteral("Veranstaltung"));
    else
        settings.setValue(QStringLiteral("Veranstaltung"), values.Veranstaltung);
    for (const auto& [name, value] :
         {std::pair{QStringLiteral("OnlineZiel"), values.OnlineZiel},
          std::pair{QStringLiteral("OnlineBenutzer"), values.OnlineBenutzer},
          std::pair{QStringLiteral("StartplatzSchluessel"), values.StartplatzSchluessel},
          std::pair{QStringLiteral("ZielAdresse"), values.ZielAdresse}}) {
        if (value.isEmpty())
            settings.remove(name);
        else
            settings.setValue(name, value);
    }
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString SettingsApplicationName(const QString& programFilePath)
{
    return QFileInfo(programFilePath).completeBaseName();
}

std::unique_ptr<QSettings> OpenSettingsKey()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Tarnvik"),
                                       SettingsApplicationName(QCoreApplication::applicationFilePath()));
}
