#include "audio/realtime_threads.h"

#include <pthread.h>
#include <sched.h>
#include <sys/types.h>

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

}  // namespace

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
        if (sched_getscheduler(tid) == SCHED_FIFO)
            continue;
        if (sched_setscheduler(tid, SCHED_FIFO, &param) == 0)
            ++raised;
    }
    return raised;
}

}  // namespace zb::audio
