#pragma once

#include "BarrierLine.h"
#include "SerialDevice.h"
#include "TSettings.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QWidget>
#include <functional>
#include <memory>

class QAction;
class TComPort;
class TStationStartLinkPort;

// What the start station's window takes from the system; tests give stand-ins.
struct TStationAccess
{
    std::function<std::unique_ptr<QSettings>()> OpenSettings = OpenSettingsKey;
    SerialDeviceFactory DeviceFactory; // empty: the system's serial device
    // Microseconds on the tick base the serial port stamps with (ticks × 1000);
    // empty: the monotonic clock the ticks come from.
    std::function<qint64()> Clock;
    // Where the starts not yet acknowledged are kept over a restart; empty: nowhere.
    QString OutboxFile;
};

// The window of the laptop at the top of the track ("quellorix --startplatz"):
// its own start barrier on its serial port, each start edge stamped and sent to
// the finish until acknowledged; the pair on the lanes, the run and the start
// barrier as the finish reports them; [F4] or the big button asks the finish
// to arm (or disarm) the start barrier.
class TFormStation : public QWidget
{
    Q_OBJECT

public:
    explicit TFormStation(TStationAccess access, QWidget* parent = nullptr);
    ~TFormStation() override;

    // The settings dialog for the finish's address, the code and the port.
    void OpenSettings();
    // A start edge stamped at tick (ms on the tick base), as the serial port reports it.
    void StartEdge(std::uint32_t tick);
    // Asks the finish to arm the start barrier (disarm when the finish shows it armed).
    void ToggleArm();

    const TStationStartLinkPort* Link() const { return m_link.get(); }
    const TStoredSettings& StoredSettings() const { return m_settings; }

    QLabel* LinkState = nullptr;
    QLabel* RunState = nullptr;
    QLabel* Lane1 = nullptr;
    QLabel* Lane2 = nullptr;
    QPushButton* ArmButton = nullptr;
    QLabel* BarrierState = nullptr;
    QListWidget* LastStarts = nullptr;
    QPushButton* SettingsButton = nullptr;
    QAction* ArmAction = nullptr;

private:
    void ApplySettings();
    void OpenPort();
    void LineChanged();
    void ShowLink();
    void SaveOutbox();

    TStationAccess m_access;
    TStoredSettings m_settings;
    std::unique_ptr<TStationStartLinkPort> m_link;
    TComPort* m_port = nullptr;
    TBarrierLine m_startLine{MS_CTS_ON, kLastCtsStart};
    QString m_outboxSaved; // what the file holds, so only a change is written
    int m_shownAcknowledged = 0;
};
