#pragma once

#include "TickSource.h"

#include <atomic>

// A tick counter the test moves by hand. Installs itself for its lifetime.
class FakeTickSource : public ITickSource
{
public:
    explicit FakeTickSource(std::uint32_t start = 1000) : now(start) { SetTickSource(this); }
    ~FakeTickSource() override { SetTickSource(nullptr); }

    std::uint32_t GetTickCount() const override { return now.load(); }
    void Set(std::uint32_t tick) { now.store(tick); }
    void Advance(std::uint32_t ms) { now.fetch_add(ms); }

private:
    std::atomic<std::uint32_t> now;
};
