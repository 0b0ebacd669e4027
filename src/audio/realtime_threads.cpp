#include "audio/realtime_threads.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace zb::audio {

namespace {

sched_param soundPriority() {
    sched_param param{};
    param.sched_priority = std::min(kSoundThreadPriority, sched_get_priority_max(SCHED_FIFO));
    return param;
}

// A real-time thread that spins is stopped by the kernel after this much CPU time without
// sleeping; a sound thread sleeps every few milliseconds.
constexpr long long kRtTimeUsec = 200000;
constexpr int kRealtimeKitTimeoutMs = 1000;

const QString kRtkitService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kRtkitPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

// One property of RealtimeKit; ok is false when the service does not answer.
long long rtkitProperty(const QString& name, bool& ok) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kRtkitService, kRtkitPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kRtkitService << name;
    const QDBusMessage reply =
        QDBusConnection::systemBus().call(get, QDBus::Block, kRealtimeKitTimeoutMs);
    ok = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
    if (!ok)
        return 0;
    return reply.arguments().first().value<QDBusVariant>().variant().toLongLong(&ok);
}

// Asks RealtimeKit to raise thread `tid` of this process. UI thread.
bool raiseThroughRealtimeKit(pid_t tid) {
    if (!QDBusConnection::systemBus().isConnected())
        return false;
    bool okPriority = false;
    bool okTime = false;
    RealtimeKitLimits limits;
    limits.maxPriority =
        static_cast<int>(rtkitProperty(QStringLiteral("MaxRealtimePriority"), okPriority));
    limits.rtTimeUsecMax = rtkitProperty(QStringLiteral("RTTimeUSecMax"), okTime);
    if (!okPriority || !okTime)
        return false;
    const RealtimeKitRequest request = PlanRealtimeKitRequest(limits);
    if (request.priority <= 0)
        return false;
    // RealtimeKit refuses a process that has not bounded its real-time CPU time.
    rlimit rt{};
    if (getrlimit(RLIMIT_RTTIME, &rt) != 0)
        return false;
    if (rt.rlim_max == RLIM_INFINITY || static_cast<long long>(rt.rlim_max) > request.rtTimeUsec) {
        rt.rlim_cur = rt.rlim_max = static_cast<rlim_t>(request.rtTimeUsec);
        if (setrlimit(RLIMIT_RTTIME, &rt) != 0)
            return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kRtkitService, kRtkitPath, kRtkitService,
                                                       QStringLiteral("MakeThreadRealtimeWithPID"));
    call << static_cast<qulonglong>(::getpid()) << static_cast<qulonglong>(tid)
         << static_cast<uint>(request.priority);
    const QDBusMessage reply =
        QDBusConnection::systemBus().call(call, QDBus::Block, kRealtimeKitTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace

RealtimeKitRequest PlanRealtimeKitRequest(const RealtimeKitLimits& limits) {
    RealtimeKitRequest r;
    if (limits.maxPriority <= 0 || limits.rtTimeUsecMax <= 0)
        return r;
    r.priority = std::min(kSoundThreadPriority, limits.maxPriority);
    r.rtTimeUsec = std::min(kRtTimeUsec, limits.rtTimeUsecMax);
    return r;
}

bool RaiseCallingThread() noexcept {
    const sched_param param = soundPriority();
    // A thread the sound library already runs in real time (JACK's process thread, at its
    // server's priority) keeps what it has.
    int policy = SCHED_OTHER;
    sched_param current{};
    if (pthread_getschedparam(pthread_self(), &policy, &current) == 0 &&
        (policy == SCHED_FIFO || policy == SCHED_RR) &&
        current.sched_priority >= param.sched_priority)
        return true;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

int RaiseSoundLibraryThreads() {
    // libpulse names the thread of each pa_simple stream's main loop "threaded-ml".
    int raised = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream commFile(task.path() / "comm");
        std::string comm;
        if (!std::getline(commFile, comm) || comm != "threaded-ml")
            continue;
        const pid_t tid = static_cast<pid_t>(std::atoi(task.path().filename().c_str()));
        if (tid <= 0)
            continue;
        const sched_param param = soundPriority();
        // RealtimeKit grants SCHED_RR, with the reset-on-fork flag.
        const int policy = sched_getscheduler(tid) & ~SCHED_RESET_ON_FORK;
        if (policy == SCHED_FIFO || policy == SCHED_RR)
            continue;
        if (sched_setscheduler(tid, SCHED_FIFO, &param) == 0 || raiseThroughRealtimeKit(tid))
            ++raised;
    }
    return raised;
}

}  // namespace zb::audio
