#pragma once

#include <atomic>

// A long read or save on a worker thread can be called off: the file readers
// running on that thread look at the flag now and then and stop with the
// refusal kReadCancelledReason; the savers leave the file as it was. Only the
// thread that set the scope is affected.
inline thread_local const std::atomic<bool>* t_readCancel = nullptr;

inline bool ReadCancelled()
{
    return t_readCancel && t_readCancel->load(std::memory_order_relaxed);
}

// Blocks until the work on this thread is called off; returns at once on a
// thread without a scope. Only for tests that need work to last until then.
inline void WaitUntilReadCancelled()
{
    if (t_readCancel)
        t_readCancel->wait(false, std::memory_order_relaxed);
}

inline constexpr const char16_t* kReadCancelledReason = u"das Lesen wurde abgebrochen";

class ReadCancelScope
{
public:
    explicit ReadCancelScope(const std::atomic<bool>& cancel) { t_readCancel = &cancel; }
    ~ReadCancelScope() { t_readCancel = nullptr; }
    ReadCancelScope(const ReadCancelScope&) = delete;
    ReadCancelScope& operator=(const ReadCancelScope&) = delete;
};
