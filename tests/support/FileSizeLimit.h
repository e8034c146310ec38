#pragma once

#include <csignal>
#include <sys/resource.h>

// Runs action under a file size limit of `limit` bytes, which makes writes fail
// the way a full disk does (also for root, whom permissions don't stop). Returns
// false, without running the action, if the limit can't be set.
template <typename Action> bool UnderFileSizeLimit(rlim_t limit, Action&& action)
{
    rlimit saved{};
    if (getrlimit(RLIMIT_FSIZE, &saved) != 0)
        return false;
    rlimit small = saved;
    small.rlim_cur = limit;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &small) != 0) {
        std::signal(SIGXFSZ, oldHandler);
        return false;
    }
    action();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return true;
}
