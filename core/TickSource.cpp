#include "TickSource.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<ITickSource*> installedSource{nullptr};
}

std::uint32_t MonotonicTickSource::GetTickCount() const
{
    using namespace std::chrono;
    return std::uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::int64_t MonotonicMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

ITickSource& TickSource()
{
    static MonotonicTickSource monotonic;
    ITickSource* source = installedSource.load();
    return source ? *source : monotonic;
}

void SetTickSource(ITickSource* source)
{
    installedSource.store(source);
}
