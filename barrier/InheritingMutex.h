#pragma once

// A mutex and its condition for the locks the threads that stamp line changes
// share with others. A real-time thread that blocks on one of these lends its
// priority to the holder until the lock is released, so a GUI thread (or any
// thread without real-time priority) that a busy machine preempts while it
// holds the lock cannot keep a stamping thread waiting for a core.
//
// Windows has no priority inheritance for user-mode locks (its scheduler
// boosts a starved holder instead): the standard types there.

#include <chrono>
#include <condition_variable>
#include <mutex>

#ifndef _WIN32
#include <pthread.h>
#include <time.h>
#endif

#ifdef _WIN32

using TInheritingMutex = std::mutex;
using TInheritingCondition = std::condition_variable;

#else

class TInheritingMutex
{
public:
    TInheritingMutex()
    {
        pthread_mutexattr_t attributes;
        ::pthread_mutexattr_init(&attributes);
        ::pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
        ::pthread_mutex_init(&handle, &attributes);
        ::pthread_mutexattr_destroy(&attributes);
    }
    ~TInheritingMutex() { ::pthread_mutex_destroy(&handle); }

    TInheritingMutex(const TInheritingMutex&) = delete;
    TInheritingMutex& operator=(const TInheritingMutex&) = delete;

    void lock() { ::pthread_mutex_lock(&handle); }
    bool try_lock() { return ::pthread_mutex_trylock(&handle) == 0; }
    void unlock() { ::pthread_mutex_unlock(&handle); }
    pthread_mutex_t* native_handle() { return &handle; }

private:
    pthread_mutex_t handle;
};

// The subset of std::condition_variable the monitor uses, over a
// TInheritingMutex; timed waits on the monotonic clock (steady_clock).
class TInheritingCondition
{
public:
    using Lock = std::unique_lock<TInheritingMutex>;

    TInheritingCondition()
    {
        pthread_condattr_t attributes;
        ::pthread_condattr_init(&attributes);
        ::pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
        ::pthread_cond_init(&handle, &attributes);
        ::pthread_condattr_destroy(&attributes);
    }
    ~TInheritingCondition() { ::pthread_cond_destroy(&handle); }

    TInheritingCondition(const TInheritingCondition&) = delete;
    TInheritingCondition& operator=(const TInheritingCondition&) = delete;

    void notify_one() { ::pthread_cond_signal(&handle); }
    void notify_all() { ::pthread_cond_broadcast(&handle); }

    void wait(Lock& lock) { ::pthread_cond_wait(&handle, lock.mutex()->native_handle()); }
    template <typename Predicate> void wait(Lock& lock, Predicate ready)
    {
        while (!ready())
            wait(lock);
    }

    template <typename Duration>
    std::cv_status wait_until(Lock& lock,
                              const std::chrono::time_point<std::chrono::steady_clock, Duration>& until)
    {
        const auto since =
            std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch()).count();
        const timespec deadline{time_t(since / 1'000'000'000), long(since % 1'000'000'000)};
        ::pthread_cond_timedwait(&handle, lock.mutex()->native_handle(), &deadline);
        return std::chrono::steady_clock::now() < until ? std::cv_status::no_timeout
                                                        : std::cv_status::timeout;
    }
    template <typename Duration, typename Predicate>
    bool wait_until(Lock& lock, const std::chrono::time_point<std::chrono::steady_clock, Duration>& until,
                    Predicate ready)
    {
        while (!ready()) {
            if (wait_until(lock, until) == std::cv_status::timeout)
                return ready();
        }
        return true;
    }
    template <typename Rep, typename Period, typename Predicate>
    bool wait_for(Lock& lock, const std::chrono::duration<Rep, Period>& timeout, Predicate ready)
    {
        return wait_until(lock, std::chrono::steady_clock::now() + timeout, std::move(ready));
    }

private:
    pthread_cond_t handle;
};

#endif
