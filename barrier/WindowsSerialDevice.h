#pragma once

#ifdef _WIN32

#include "SerialDevice.h"

#include <cstdint>

// A Win32 communications port: a DCB for the line settings, an overlapped
// WaitCommEvent raced against a stop event for line changes. A line event
// whose line reads as before was a pulse and gives two batches.
class WindowsSerialDevice : public ISerialDevice
{
public:
    WindowsSerialDevice() = default;
    ~WindowsSerialDevice() override;

    WindowsSerialDevice(const WindowsSerialDevice&) = delete;
    WindowsSerialDevice& operator=(const WindowsSerialDevice&) = delete;

    SerialError Open(const std::string& path, const SerialLineSettings& settings) override;
    void Close() override;
    void SetDtr(bool on) override;
    SerialWaitResult Wait(std::vector<SerialEventBatch>& batches, SerialError& lost) override;
    void RequestStop() override;
    std::uint32_t ModemStatus() override;
    int InputCount() override;

private:
    SerialError Configure(const SerialLineSettings& settings);

    // HANDLEs, kept as void* so that <windows.h> stays out of this header.
    void* handle = nullptr;
    void* stopEvent = nullptr;
    void* waitEvent = nullptr;
    std::uint32_t eventMask = 0;
    std::uint32_t lastStatus = 0; // MS_* bits at the last completed wait
};

#endif
