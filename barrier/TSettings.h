#pragma once

#include "SettingsLimits.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QSettings;

// The values the program keeps per user between runs. The defaults are those of
// a first start. Left and Top stay empty until read: the window system then
// chooses the window's position.
struct TStoredSettings
{
    std::optional<int> Left;
    std::optional<int> Top;
    int Width = 802;
    int Height = 445;
    int Port = 0; // COM port number of the light barriers 1-16, 0 = none
    int Alg1 = 0; // start contact 7+8: 0 = "ON", 1 = "OFF"
    int Alg2 = 0; // lane 1 contact 4+6
    int Alg3 = 0; // lane 2 contact 4+1
    int CountBahn = 2;
    int FilterInd = 1;
    int TimerGesperrt = 10000; // lock time after a start, milliseconds
    int AllLaufe = 6;
    int ProbeLaufe = 2;
    // Linux: the /dev/serial/by-id name of the USB adapter last opened as the
    // port, so that it is found again under another ttyUSB number. Stored
    // apart from the numbers; older settings lack it.
    QString PortAdapter;
    // The shortest plausible run time in hundredths of a second; 0 = no check.
    // Stored apart from the numbers (older settings lack it).
    int Mindestzeit = 0;
    // Live results on the network: the HTTP port, 0 = off; and the event's
    // title for the spectators, the printout and the files. Both stored
    // apart from the numbers, like PortAdapter.
    int LivePort = 0;
    QString Veranstaltung;
    // The folder on the club's web host the results go to after every change
    // (sftp://, ftps://, ftp://, https:// or http://), empty = off; and the user
    // where the URL names none. The password stays in the desktop's keyring.
    // Stored apart from the numbers.
    QString OnlineZiel;
    QString OnlineBenutzer;
    // The start station at the top of the track. On the finish: the UDP port it
    // listens on, 0 = off. On the station (--startplatz): the finish's
    // "address:port". On both: the pairing code the finish shows, normalised
    // (16 characters); empty until the finish makes one. Stored apart from the numbers.
    int StartplatzPort = 0;
    QString StartplatzSchluessel;
    QString ZielAdresse;

    friend bool operator==(const TStoredSettings&, const TStoredSettings&) = default;
};

inline constexpr int MaxMindestzeit = 99999;
// Limits of the values stored apart from the numbers.
inline constexpr int MaxLivePort = 65535;
inline constexpr int MaxVeranstaltungLength = 200;
inline constexpr int MaxOnlineZielLength = 1000;
inline constexpr int MaxOnlineBenutzerLength = 200;
inline constexpr int MaxStartplatzPort = 65535;
inline constexpr int MaxZielAdresseLength = 100;

// Reads the stored values in their fixed order, starting from the defaults.
// Reading stops silently at the first value that is missing or not an integer;
// that value and all later ones keep their defaults, earlier ones stay applied.
TStoredSettings ReadSettings(QSettings& settings);

// One value as it goes into the store.
struct TStoredValue
{
    QString name;
    int value = 0;

    friend bool operator==(const TStoredValue&, const TStoredValue&) = default;
};

// The value names in the order in which they are read.
QStringList SettingsReadOrder();

// The values in the order in which they are written at shut-down.
QList<TStoredValue> SettingsWriteList(const TStoredSettings& values);

// Writes all values in the order of shut-down and flushes them. Returns false
// (and writes nothing) when the store cannot be written, or when flushing failed.
bool WriteSettings(QSettings& settings, const TStoredSettings& values);

// The name under which the settings are kept: the program file's name without
// its extension ("Quellorix" for ".../Quellorix.exe").
QString SettingsApplicationName(const QString& programFilePath);

// The per-user settings of this program: organisation "Tarnvik", application
// SettingsApplicationName() of the running program, native format (on Windows
// HKEY_CURRENT_USER\Software\Tarnvik\<name>).
std::unique_ptr<QSettings> OpenSettingsKey();
