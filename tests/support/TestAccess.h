#pragma once

#include "TFormMain.h"

#include <QSettings>
#include <memory>

// What a main window under test takes from the system: its settings in the
// given ini file, no serial ports.
inline TSystemAccess TestAccess(const QString& settingsFile)
{
    TSystemAccess access;
    access.OpenSettings = [settingsFile] {
        return std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
    };
    access.ScanPorts = [] { return std::uint32_t(0); };
    return access;
}
