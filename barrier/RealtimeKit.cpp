#ifndef _WIN32

#include "RealtimeKit.h"

#include "LineSampler.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString rtkitService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString rtkitPath = QStringLiteral("/org/freedesktop/RealtimeKit1");
constexpr int callTimeoutMs = 2000;

std::atomic<bool> unreachable{false};

qlonglong RtkitProperty(const QDBusConnection& bus, const QString& name, qlonglong fallback)
{
    QDBusMessage get = QDBusMessage::createMethodCall(rtkitService, rtkitPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << rtkitService << name;
    const QDBusMessage reply = bus.call(get, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return fallback;
    bool ok = false;
    const qlonglong value = reply.arguments().constFirst().value<QDBusVariant>().variant().toLongLong(&ok);
    return ok ? value : fallback;
}

bool RunsRealTime()
{
    const int policy = ::sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

} // namespace

bool MakeThreadRealTimeByRealtimeKit(int priority)
{
    if (unreachable.load())
        return false;
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        unreachable = true;
        return false;
    }
    // RealtimeKit grants only a process that has capped the CPU time a
    // real-time thread may use without sleeping; these threads sleep at once.
    const qlonglong maxRtTime = RtkitProperty(bus, QStringLiteral("RTTimeUSecMax"), 200000);
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTTIME, &limit) == 0 &&
        (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > rlim_t(maxRtTime))) {
        limit.rlim_cur = limit.rlim_max = rlim_t(maxRtTime);
        ::setrlimit(RLIMIT_RTTIME, &limit);
    }
    const qlonglong maxPriority = RtkitProperty(bus, QStringLiteral("MaxRealtimePriority"), priority);
    QDBusMessage make = QDBusMessage::createMethodCall(rtkitService, rtkitPath, rtkitService,
                                                       QStringLiteral("MakeThreadRealtime"));
    make << quint64(::gettid()) << quint32(std::clamp<qlonglong>(priority, 1, std::max<qlonglong>(1, maxPriority)));
    const QDBusMessage reply = bus.call(make, QDBus::Block, callTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
            reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NoReply"))
            unreachable = true;
        return false;
    }
    return RunsRealTime();
}

void UseRealtimeKit()
{
    SetDefaultRealTimeGrant([] { return MakeThreadRealTimeByRealtimeKit(); });
}

#endif
