#pragma once

#include "SeamScope.h"

#include "TickSource.h"

#include <atomic>
#include <functional>
#include <mutex>

// A tick counter the test moves by hand. A window takes it through
// TSystemAccess::Ticks; a test without a window installs it with SeamScope.
class FakeTickSource : public ITickSource
{
public:
    explicit FakeTickSource(std::uint32_t start = 1000) : now(start) {}

    std::uint32_t GetTickCount() const override
    {
        const std::uint32_t tick = now.load();
        if (armed.load()) {
            std::function<void()> action;
            {
                std::lock_guard lock(hookMutex);
                action.swap(afterRead);
                armed = false;
            }
            if (action)
                action();
        }
        return tick;
    }
    void Set(std::uint32_t tick) { now.store(tick); }
    void Advance(std::uint32_t ms) { now.fetch_add(ms); }
    // Runs action on the thread that reads the clock next, right after it
    // has read it: what happens in action comes after that reading.
    void AfterNextRead(std::function<void()> action)
    {
        std::lock_guard lock(hookMutex);
        afterRead = std::move(action);
        armed = true;
    }

private:
    std::atomic<std::uint32_t> now;
    mutable std::mutex hookMutex;
    mutable std::function<void()> afterRead;
    mutable std::atomic<bool> armed{false};
};

using TickSourceScope = SeamScope<ITickSource, SetTickSource>;
