#include "TComPort.h"

#include "SerialAdapters.h"
#include "SerialPorts.h"
#include "TComThread.h"
#ifndef _WIN32
#include "RealtimeKit.h"
#endif

#include <QMetaMethod>

#include <string>
#include <utility>

std::uint32_t DeviceEventMask(TEvents events)
{
    static constexpr std::pair<TEvent, std::uint32_t> bits[] = {
        {TEvent::evRxChar, EV_RXCHAR}, {TEvent::evTxEmpty, EV_TXEMPTY}, {TEvent::evRxFlag, EV_RXFLAG},
        {TEvent::evRing, EV_RING},     {TEvent::evBreak, EV_BREAK},     {TEvent::evCTS, EV_CTS},
        {TEvent::evDSR, EV_DSR},       {TEvent::evError, EV_ERR},       {TEvent::evRLSD, EV_RLSD}};
    std::uint32_t mask = 0;
    for (const auto& [event, bit] : bits) {
        if (events.testFlag(event))
            mask |= bit;
    }
    return mask;
}

std::uint32_t BaudRateValue(TBaudRate rate, std::int32_t userRate)
{
    switch (rate) {
    case TBaudRate::br110:
        return 110;
    case TBaudRate::br300:
        return 300;
    case TBaudRate::br600:
        return 600;
    case TBaudRate::br1200:
        return 1200;
    case TBaudRate::br2400:
        return 2400;
    case TBaudRate::br4800:
        return 4800;
    case TBaudRate::br9600:
        return 9600;
    case TBaudRate::br14400:
        return 14400;
    case TBaudRate::br19200:
        return 19200;
    case TBaudRate::br38400:
        return 38400;
    case TBaudRate::br56000:
        return 56000;
    case TBaudRate::br57600:
        return 57600;
    case TBaudRate::br115200:
        return 115200;
    case TBaudRate::br128000:
        return 128000;
    case TBaudRate::br256000:
        return 256000;
    case TBaudRate::brUser:
        break;
    }
    return std::uint32_t(userRate);
}

namespace {

std::string ErrorText(const SerialError& error)
{
    return error.text.empty() ? std::to_string(error.code) : error.text;
}

} // namespace

TComPort::TComPort(QObject* parent) : QObject(parent)
{
#ifndef _WIN32
    UseRealtimeKit();
#endif
}

TComPort::~TComPort()
{
    Close();
}

void TComPort::SetBaudRate(TBaudRate value)
{
    baudRate = value;
}

void TComPort::SetBaudRateUser(std::int32_t value)
{
    baudRateUser = value;
}

void TComPort::SetPort(std::uint8_t value)
{
    port = value;
}

void TComPort::SetParity(TParity value)
{
    parity = value;
}

void TComPort::SetStopBits(TStopBits value)
{
    stopBits = value;
}

void TComPort::SetFlowControl(TFlowControl value)
{
    flowControl = value;
}

void TComPort::SetDataBits(int value)
{
    if (value == dataBits)
        return;
    dataBits = std::uint8_t(value > 8 ? 8 : value < 5 ? 5 : value);
}

void TComPort::SetEvents(TEvents value)
{
    events = value;
}

void TComPort::SetEnableDTR(bool value)
{
    enableDtr = value;
}

void TComPort::SetWriteBufSize(std::int32_t value)
{
    writeBufSize = value;
}

void TComPort::SetReadBufSize(std::int32_t value)
{
    readBufSize = value;
}

SerialLineSettings TComPort::LineSettings() const
{
    SerialLineSettings settings;
    settings.baudRate = BaudRateValue(baudRate, baudRateUser);
    settings.dataBits = dataBits;
    settings.parity = parity;
    settings.stopBits = stopBits;
    settings.flowControl = flowControl;
    settings.enableDtr = enableDtr;
    settings.readBufSize = readBufSize;
    settings.writeBufSize = writeBufSize;
    settings.eventMask = DeviceEventMask(events);
    return settings;
}

void TComPort::SetDeviceFactory(SerialDeviceFactory factory)
{
    deviceFactory = std::move(factory);
}

void TComPort::Open()
{
    Close();

    std::shared_ptr<ISerialDevice> opened = deviceFactory ? deviceFactory() : CreateSystemSerialDevice();
    const SerialLineSettings settings = LineSettings();
    const QString path = devicePath.isEmpty() ? PortDeviceName(port) : devicePath;
    const SerialError error = opened->Open(path.toStdString(), settings);
    openError = error;
    if (error.kind == SerialError::Kind::Configure)
        throw EComState("Unable to set com state: " + ErrorText(error));
    if (error)
        throw EComHandle("Unable to open com port: " + ErrorText(error));

    device = std::move(opened);
    activeEventMask = settings.eventMask;
    handOver = std::make_shared<THandOver>();
    thread = std::make_unique<TComThread>(*this, device, handOver);
    thread->Start();
    connected = true;
    emit OnOpen(this);
}

void TComPort::Close()
{
    if (!connected)
        return;
    thread->Stop();
    thread.reset();
    handOver.reset();
    device->Close();
    device.reset();
    connected = false;
    emit OnClose(this);
}

std::uint32_t TComPort::ModemStatus()
{
    if (dispatching)
        return dispatching->modemStatus;
    return device ? device->ModemStatus() : 0;
}

int TComPort::InputCount()
{
    return device ? device->InputCount() : 0;
}

QStringList TComPort::DeviceNotes() const
{
    QStringList notes;
    if (device) {
        for (const std::string& note : device->Notes())
            notes << QString::fromStdString(note);
    }
    // The device's own helper threads may have told it already.
    if (thread && thread->Priority() != StampingPriority::RealTime && !notes.contains(StampingPriorityNote()))
        notes << StampingPriorityNote();
    return notes;
}

bool TComPort::MonitorRunning() const
{
    return thread && !thread->Finished();
}

StampingPriority TComPort::MonitorPriority() const
{
    return thread ? thread->Priority() : StampingPriority::Normal;
}

bool TComPort::WaitForBatchOnOffer(int milliseconds)
{
    return handOver && handOver->WaitForOffer(milliseconds);
}

void TComPort::ServeHandOver(const std::shared_ptr<THandOver>& slot)
{
    if (slot != handOver)
        return;
    const std::optional<SerialEventBatch> batch = slot->Take();
    if (!batch)
        return;
    DispatchEvents(*batch, slot);
    slot->Served();
}

void TComPort::DispatchEvents(const SerialEventBatch& batch, const std::shared_ptr<THandOver>& slot)
{
    const SerialEventBatch* const outer = dispatching;
    dispatching = &batch;
    eventTick = batch.tick.value_or(0);
    const std::uint32_t mask = batch.events & activeEventMask;

    // A handler may close or reopen the port; the rest of this batch then
    // belongs to a port that no longer exists.
    const auto stillOpen = [this, &slot] { return connected && handOver == slot; };
    const auto fire = [&](std::uint32_t bit, void (TComPort::*signal)(TComPort*)) {
        if ((mask & bit) && stillOpen())
            emit(this->*signal)(this);
    };

    if ((mask & EV_RXCHAR) && isSignalConnected(QMetaMethod::fromSignal(&TComPort::OnRxChar)))
        emit OnRxChar(this, InputCount());
    fire(EV_TXEMPTY, &TComPort::OnTxEmpty);
    fire(EV_BREAK, &TComPort::OnBreak);
    fire(EV_RING, &TComPort::OnRing);
    fire(EV_CTS, &TComPort::OnCTS);
    fire(EV_DSR, &TComPort::OnDSR);
    fire(EV_RXFLAG, &TComPort::OnRxFlag);
    fire(EV_RLSD, &TComPort::OnRLSD);
    fire(EV_ERR, &TComPort::OnError);

    dispatching = outer;
}

void TComPort::DeviceLost(const std::shared_ptr<THandOver>& slot, const QString& reason)
{
    if (slot != handOver)
        return;
    Close();
    emit OnDeviceLost(this, reason);
}
