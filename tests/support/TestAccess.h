#pragma once

#include "TFormMain.h"
#include "TestPasswords.h"

#include <QSettings>
#include <memory>

// What a main window under test takes from the system: its settings in the
// given ini file, no serial ports, a keyring of its own.
inline TSystemAccess TestAccess(const QString& settingsFile)
{
    TSystemAccess access;
    access.OpenSettings = [settingsFile] {
        return std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
    };
    access.ScanPorts = [] { return std::uint32_t(0); };
    access.Passwords = std::make_shared<TestPasswords>();
    return access;
}
