#pragma once

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// The calling thread, and every thread it starts meanwhile, may not take
// real-time priority itself (as an ordinary user without an rtprio limit).
class WithoutRealTimeRights
{
public:
    WithoutRealTimeRights()
    {
        ::syscall(SYS_capget, &header, saved);
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~(1u << CAP_SYS_NICE);
        ::syscall(SYS_capset, &header, reduced);
        ::getrlimit(RLIMIT_RTPRIO, &rtprio);
        const rlimit none{0, rtprio.rlim_max};
        ::setrlimit(RLIMIT_RTPRIO, &none);
    }
    ~WithoutRealTimeRights()
    {
        ::syscall(SYS_capset, &header, saved);
        ::setrlimit(RLIMIT_RTPRIO, &rtprio);
    }

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    rlimit rtprio{};
};
