#pragma once

#include "SerialDevice.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A serial line a test drives by hand. Devices made by Factory() share it:
// the test sets the line states, raises batches of edges (optionally with the
// tick of each), makes the next open fail, or makes the open device vanish.
class FakeSerialLine
{
    struct State
    {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::vector<SerialEventBatch>> raised;
        std::uint32_t status = 0;
        SerialError openFailure;
        SerialError vanished;
        bool open = false;
        bool dtr = false;
        int opens = 0;
        int closes = 0;
        int waitCalls = 0;
        int waiting = 0;
        std::string path;
        SerialLineSettings settings;
        std::vector<std::string> notes;
    };

    class Device : public ISerialDevice
    {
    public:
        explicit Device(std::shared_ptr<State> state) : state(std::move(state)) {}
        ~Device() override { Close(); }

        SerialError Open(const std::string& path, const SerialLineSettings& settings) override
        {
            std::lock_guard lock(state->mutex);
            state->path = path;
            state->settings = settings;
            if (state->openFailure)
                return state->openFailure;
            state->open = true;
            state->dtr = settings.enableDtr;
            state->vanished = {};
            ++state->opens;
            isOpen = true;
            stop = false;
            return {};
        }
        void Close() override
        {
            std::lock_guard lock(state->mutex);
            if (!isOpen)
                return;
            isOpen = false;
            state->open = false;
            ++state->closes;
        }
        void SetDtr(bool on) override
        {
            std::lock_guard lock(state->mutex);
            state->dtr = on;
        }
        SerialWaitResult Wait(std::vector<SerialEventBatch>& batches, SerialError& lost) override
        {
            std::unique_lock lock(state->mutex);
            ++state->waitCalls;
            ++state->waiting;
            state->changed.notify_all();
            state->changed.wait(lock, [this] { return stop || state->vanished || !state->raised.empty(); });
            --state->waiting;
            state->changed.notify_all();
            if (stop)
                return SerialWaitResult::Stopped;
            if (state->vanished) {
                lost = state->vanished;
                return SerialWaitResult::Lost;
            }
            const std::vector<SerialEventBatch> raised = std::move(state->raised.front());
            state->raised.pop_front();
            batches.insert(batches.end(), raised.begin(), raised.end());
            if (!raised.empty())
                state->status = raised.back().modemStatus;
            return SerialWaitResult::Changed;
        }
        void RequestStop() override
        {
            std::lock_guard lock(state->mutex);
            stop = true;
            state->changed.notify_all();
        }
        std::uint32_t ModemStatus() override
        {
            std::lock_guard lock(state->mutex);
            return state->status;
        }
        int InputCount() override { return 0; }
        std::vector<std::string> Notes() const override
        {
            std::lock_guard lock(state->mutex);
            return state->notes;
        }

    private:
        std::shared_ptr<State> state;
        bool isOpen = false;
        bool stop = false; // guarded by state->mutex
    };

public:
    SerialDeviceFactory Factory()
    {
        return [state = state] { return std::make_unique<Device>(state); };
    }

    // The line states ModemStatus reads outside a dispatch.
    void SetLines(std::uint32_t status)
    {
        std::lock_guard lock(state->mutex);
        state->status = status;
    }

    // One wake-up of the monitor with these batches, oldest first.
    void RaiseEdges(std::vector<SerialEventBatch> batches)
    {
        std::lock_guard lock(state->mutex);
        state->raised.push_back(std::move(batches));
        state->changed.notify_all();
    }
    void Raise(std::uint32_t events, std::uint32_t status, std::optional<std::uint32_t> tick = std::nullopt)
    {
        RaiseEdges({SerialEventBatch{events, status, tick}});
    }

    // What the device tells the operator (ISerialDevice::Notes).
    void SetNotes(std::vector<std::string> notes)
    {
        std::lock_guard lock(state->mutex);
        state->notes = std::move(notes);
    }

    // Every later open fails like this (Kind::None clears it).
    void FailOpenWith(SerialError::Kind kind, int code, std::string text)
    {
        std::lock_guard lock(state->mutex);
        state->openFailure = {kind, code, std::move(text)};
    }

    // The open device goes away: the waiting monitor gets this error.
    void Vanish(int code, std::string text)
    {
        std::lock_guard lock(state->mutex);
        state->vanished = {SerialError::Kind::Lost, code, std::move(text)};
        state->changed.notify_all();
    }

    // Waits until a monitor is blocked in Wait with nothing left to report.
    bool WaitForIdleMonitor(int milliseconds = 5000)
    {
        std::unique_lock lock(state->mutex);
        return state->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                       [this] { return state->waiting > 0 && state->raised.empty(); });
    }

    bool IsOpen() const { return Read(&State::open); }
    bool Dtr() const { return Read(&State::dtr); }
    int Opens() const { return Read(&State::opens); }
    int Closes() const { return Read(&State::closes); }
    int WaitCalls() const { return Read(&State::waitCalls); }
    int Waiting() const { return Read(&State::waiting); }
    std::string Path() const { return Read(&State::path); }
    SerialLineSettings Settings() const { return Read(&State::settings); }

private:
    template <typename T> T Read(T State::*member) const
    {
        std::lock_guard lock(state->mutex);
        return (*state).*member;
    }

    std::shared_ptr<State> state = std::make_shared<State>();
};
