#ifdef _WIN32

#include "WindowsSerialDevice.h"

#include "CommEventRules.h"
#include "TickSource.h"

#include "Win32.h"

#include <string>

namespace {

std::string SystemText(DWORD code)
{
    wchar_t buffer[256] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, 255, nullptr);
    if (length == 0)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, buffer, int(length), nullptr, 0, nullptr, nullptr);
    std::string text(std::size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, buffer, int(length), text.data(), size, nullptr, nullptr);
    return CommEventRules::TrimSystemText(std::move(text));
}

SerialError SystemError(SerialError::Kind kind, DWORD code)
{
    return {kind, int(code), SystemText(code)};
}

SerialError LastError(SerialError::Kind kind)
{
    return SystemError(kind, GetLastError());
}

HANDLE AsHandle(void* value)
{
    return static_cast<HANDLE>(value);
}

bool IsOpen(void* value)
{
    return value != nullptr && AsHandle(value) != INVALID_HANDLE_VALUE;
}

} // namespace

WindowsSerialDevice::~WindowsSerialDevice()
{
    Close();
}

SerialError WindowsSerialDevice::Open(const std::string& path, const SerialLineSettings& settings)
{
    Close();
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    waitEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (!stopEvent || !waitEvent) {
        const SerialError error = LastError(SerialError::Kind::Open);
        Close();
        return error;
    }

    handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
    if (AsHandle(handle) == INVALID_HANDLE_VALUE) {
        const SerialError error = LastError(SerialError::Kind::Open);
        handle = nullptr;
        Close();
        return error;
    }

    const SerialError error = Configure(settings);
    if (error)
        Close();
    return error;
}

SerialError WindowsSerialDevice::Configure(const SerialLineSettings& settings)
{
    const HANDLE port = AsHandle(handle);

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = 1;
    dcb.fDtrControl = settings.enableDtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    if (settings.flowControl == TFlowControl::fcRtsCts) {
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else if (settings.flowControl == TFlowControl::fcXonXoff) {
        dcb.fOutX = 1;
        dcb.fInX = 1;
    }
    dcb.XonLim = WORD(settings.writeBufSize / 4);
    dcb.XoffLim = 1;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    dcb.Parity = BYTE(settings.parity);
    dcb.StopBits = BYTE(settings.stopBits);
    dcb.BaudRate = DWORD(settings.baudRate);
    dcb.ByteSize = BYTE(settings.dataBits);
    if (!SetCommState(port, &dcb))
        return LastError(SerialError::Kind::Configure);

    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(port, &timeouts))
        return LastError(SerialError::Kind::Configure);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 1000;
    timeouts.WriteTotalTimeoutConstant = 1500;
    if (!SetCommTimeouts(port, &timeouts))
        return LastError(SerialError::Kind::Configure);
    if (!SetupComm(port, DWORD(settings.readBufSize), DWORD(settings.writeBufSize)))
        return LastError(SerialError::Kind::Configure);

    eventMask = settings.eventMask;
    if (!SetCommMask(port, DWORD(eventMask)))
        return LastError(SerialError::Kind::Configure);
    DWORD modemStatus = 0;
    GetCommModemStatus(port, &modemStatus);
    lastStatus = std::uint32_t(modemStatus);
    return {};
}

void WindowsSerialDevice::Close()
{
    if (IsOpen(handle)) {
        PurgeComm(AsHandle(handle), PURGE_RXABORT | PURGE_RXCLEAR);
        CloseHandle(AsHandle(handle));
    }
    handle = nullptr;
    if (waitEvent)
        CloseHandle(AsHandle(waitEvent));
    waitEvent = nullptr;
    if (stopEvent)
        CloseHandle(AsHandle(stopEvent));
    stopEvent = nullptr;
}

void WindowsSerialDevice::SetDtr(bool on)
{
    if (IsOpen(handle))
        EscapeCommFunction(AsHandle(handle), on ? SETDTR : CLRDTR);
}

SerialWaitResult WindowsSerialDevice::Wait(std::vector<SerialEventBatch>& batches, SerialError& lost)
{
    const HANDLE port = AsHandle(handle);
    const HANDLE waitList[2] = {AsHandle(stopEvent), AsHandle(waitEvent)};
    CommEventRules::FailedCompletions failedCompletions;

    for (;;) {
        if (WaitForSingleObject(waitList[0], 0) == WAIT_OBJECT_0)
            return SerialWaitResult::Stopped;

        OVERLAPPED overlapped{};
        overlapped.hEvent = waitList[1];
        DWORD occurred = 0;
        if (!WaitCommEvent(port, &occurred, &overlapped)) {
            const DWORD code = GetLastError();
            if (code != ERROR_IO_PENDING) {
                lost = SystemError(SerialError::Kind::Lost, code);
                return SerialWaitResult::Lost;
            }
            const DWORD woken = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
            if (woken != WAIT_OBJECT_0 + 1) {
                const DWORD waitError = GetLastError();
                // The pending wait writes into occurred: let it finish before leaving.
                CancelIo(port);
                DWORD ignored = 0;
                GetOverlappedResult(port, &overlapped, &ignored, TRUE);
                if (woken == WAIT_OBJECT_0)
                    return SerialWaitResult::Stopped;
                lost = SystemError(SerialError::Kind::Lost, waitError);
                return SerialWaitResult::Lost;
            }
            DWORD transferred = 0;
            if (!GetOverlappedResult(port, &overlapped, &transferred, FALSE)) {
                const DWORD code2 = GetLastError();
                DWORD errors = 0;
                COMSTAT status{};
                if (failedCompletions.Fail(ClearCommError(port, &errors, &status) != FALSE)) {
                    lost = SystemError(SerialError::Kind::Lost, code2);
                    return SerialWaitResult::Lost;
                }
                continue; // this batch is skipped
            }
        }
        failedCompletions.Succeeded();

        // Read the clock before the lines: the tick belongs to the change. The
        // sampler calls again at once, and the driver keeps the events that
        // come meanwhile for the next wait, so none is stamped late.
        const std::uint32_t tick = TickSource().GetTickCount();
        DWORD modemStatus = 0;
        GetCommModemStatus(port, &modemStatus);
        const std::vector<SerialEventBatch> expanded =
            CommEventRules::BatchesFromEvent(lastStatus, occurred, eventMask, modemStatus, tick);
        lastStatus = std::uint32_t(modemStatus);
        if (expanded.empty())
            continue;
        batches.insert(batches.end(), expanded.begin(), expanded.end());
        return SerialWaitResult::Changed;
    }
}

void WindowsSerialDevice::RequestStop()
{
    if (stopEvent)
        SetEvent(AsHandle(stopEvent));
}

std::uint32_t WindowsSerialDevice::ModemStatus()
{
    if (!IsOpen(handle))
        return 0;
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(AsHandle(handle), &errors, &status);
    DWORD lines = 0;
    GetCommModemStatus(AsHandle(handle), &lines);
    return lines;
}

int WindowsSerialDevice::InputCount()
{
    if (!IsOpen(handle))
        return 0;
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(AsHandle(handle), &errors, &status);
    return int(status.cbInQue);
}

std::unique_ptr<ISerialDevice> CreateSystemSerialDevice()
{
    return std::make_unique<WindowsSerialDevice>();
}

#endif
