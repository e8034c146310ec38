#pragma once

#include "LineSampler.h"
#include "SerialDevice.h"

#include <QFlags>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <stdexcept>

// Events a port can report, in declaration order.
enum class TEvent : std::uint32_t {
    evRxChar = 0x001,
    evTxEmpty = 0x002,
    evRxFlag = 0x004,
    evRing = 0x008,
    evBreak = 0x010,
    evCTS = 0x020,
    evDSR = 0x040,
    evError = 0x080,
    evRLSD = 0x100
};
Q_DECLARE_FLAGS(TEvents, TEvent)
Q_DECLARE_OPERATORS_FOR_FLAGS(TEvents)

inline constexpr TEvents AllComEvents{TEvent::evRxChar, TEvent::evTxEmpty, TEvent::evRxFlag,
                                      TEvent::evRing,   TEvent::evBreak,   TEvent::evCTS,
                                      TEvent::evDSR,    TEvent::evError,   TEvent::evRLSD};

// The EV_* bit the device is asked to report for each event of the set.
std::uint32_t DeviceEventMask(TEvents events);
// Bits per second of a rate; brUser gives userRate.
std::uint32_t BaudRateValue(TBaudRate rate, std::int32_t userRate);

class EComHandle : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class EComState : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class THandOver;
class TComThread;

// Opens one serial port and reports changes of its input lines as signals,
// always on the thread the port lives on (the GUI thread), one batch at a time
// in the order RxChar, TxEmpty, Break, Ring, CTS, DSR, RxFlag, RLSD, Error.
// The next batch is handed over only after the handlers of the one before have
// returned; the lines are watched meanwhile, and each change keeps the tick of
// the moment it was seen.
class TComPort : public QObject
{
    Q_OBJECT

public:
    explicit TComPort(QObject* parent = nullptr);
    ~TComPort() override;

    TBaudRate BaudRate() const { return baudRate; }
    void SetBaudRate(TBaudRate value);
    std::int32_t BaudRateUser() const { return baudRateUser; }
    void SetBaudRateUser(std::int32_t value);
    // COM port number; 0 means none.
    std::uint8_t Port() const { return port; }
    void SetPort(std::uint8_t value);
    TParity Parity() const { return parity; }
    void SetParity(TParity value);
    TStopBits StopBits() const { return stopBits; }
    void SetStopBits(TStopBits value);
    TFlowControl FlowControl() const { return flowControl; }
    void SetFlowControl(TFlowControl value);
    std::uint8_t DataBits() const { return dataBits; }
    // Stored within 5..8.
    void SetDataBits(int value);
    TEvents Events() const { return events; }
    void SetEvents(TEvents value);
    bool EnableDTR() const { return enableDtr; }
    void SetEnableDTR(bool value);
    std::int32_t WriteBufSize() const { return writeBufSize; }
    void SetWriteBufSize(std::int32_t value);
    std::int32_t ReadBufSize() const { return readBufSize; }
    void SetReadBufSize(std::int32_t value);

    // Line settings as Open hands them to the device.
    SerialLineSettings LineSettings() const;

    // Closes first if open. Throws EComHandle or EComState; the port is then closed.
    void Open();
    // Does nothing unless connected.
    void Close();
    bool Connected() const { return connected; }
    // Why the last Open failed (Kind::None after a successful one).
    const SerialError& OpenError() const { return openError; }

    // MS_* bits. Inside a dispatch: the line states that came with the batch
    // being dispatched, so a handler sees the lines as they were at the change.
    std::uint32_t ModemStatus();
    int InputCount();
    // Tick counter reading taken by the monitor when it saw the batch being
    // (or last) dispatched. A barrier time taken from here doesn't depend on
    // how long the GUI thread took to get to the batch.
    std::uint32_t EventTick() const { return eventTick; }
    // What the operator should know about the open device (see ISerialDevice::Notes).
    QStringList DeviceNotes() const;
    // The device node to open instead of the one of Port (empty: Port's).
    void SetDevicePath(const QString& path) { devicePath = path; }
    QString DevicePath() const { return devicePath; }
    // True while the monitor thread of the open port has not ended.
    bool MonitorRunning() const;
    // What the system granted the threads that stamp the line changes.
    StampingPriority MonitorPriority() const;
    // Blocks the calling (GUI) thread until the monitor offers a batch to it,
    // without serving it; false after the time-out or while closed.
    bool WaitForBatchOnOffer(int milliseconds = 5000);

    // Where devices come from; an empty factory restores the system's device.
    void SetDeviceFactory(SerialDeviceFactory factory);

signals:
    void OnRxChar(TComPort* sender, int inQue);
    void OnTxEmpty(TComPort* sender);
    void OnBreak(TComPort* sender);
    void OnRing(TComPort* sender);
    void OnCTS(TComPort* sender);
    void OnDSR(TComPort* sender);
    void OnRxFlag(TComPort* sender);
    void OnRLSD(TComPort* sender);
    void OnError(TComPort* sender);
    void OnOpen(TComPort* sender);
    void OnClose(TComPort* sender);
    // The open device went away (adapter unplugged) or failed; the port has
    // closed itself (OnClose has fired) when this arrives.
    void OnDeviceLost(TComPort* sender, const QString& reason);

private:
    friend class TComThread;

    void ServeHandOver(const std::shared_ptr<THandOver>& slot);
    void DispatchEvents(const SerialEventBatch& batch, const std::shared_ptr<THandOver>& slot);
    void DeviceLost(const std::shared_ptr<THandOver>& slot, const QString& reason);

    TBaudRate baudRate = TBaudRate::br9600;
    std::int32_t baudRateUser = 9600;
    std::uint8_t port = 1;
    TParity parity = TParity::prNone;
    TStopBits stopBits = TStopBits::sbOneStopBit;
    TFlowControl flowControl = TFlowControl::fcNone;
    std::uint8_t dataBits = 8;
    TEvents events = AllComEvents;
    bool enableDtr = true;
    std::int32_t writeBufSize = 2048;
    std::int32_t readBufSize = 2048;

    QString devicePath;
    SerialDeviceFactory deviceFactory;
    std::shared_ptr<ISerialDevice> device;
    std::shared_ptr<THandOver> handOver;
    std::unique_ptr<TComThread> thread;
    bool connected = false;
    SerialError openError;
    std::uint32_t activeEventMask = 0;

    const SerialEventBatch* dispatching = nullptr;
    std::uint32_t eventTick = 0;
};
