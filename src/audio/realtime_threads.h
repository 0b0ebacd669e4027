// Real-time scheduling for the threads that carry sound. With the output's few milliseconds
// of queued sound, a feeding thread that waits behind busy programs lets the device run dry:
// silence is played and every later note comes late. Where the system allows it (root, or
// a real-time limit for the user), these threads run first; where it refuses, RealtimeKit
// (the desktop's D-Bus service for it) is asked; without either they keep the normal
// policy and nothing else changes.
#pragma once

namespace zb::audio {

// Low in the real-time range: ahead of every normal thread, next to the sound server's own
// (PulseAudio asks for 5), and well below the kernel's interrupt threads (50), which must
// never wait for an application.
constexpr int kSoundThreadPriority = 10;

// Raises the calling thread, unless it already runs in real time at least as high. Audio
// thread, once at its start (two system calls, no allocation). False when the system does
// not allow it.
bool RaiseCallingThread() noexcept;

// Raises the sound library's own threads in this process (PulseAudio's client main loops,
// which move a stream's sound to and from the server, and render the output), directly or
// through RealtimeKit. UI thread, after a stream is opened: never from a sound thread, as
// the D-Bus call waits for an answer. Returns how many were raised.
int RaiseSoundLibraryThreads();

// What RealtimeKit grants: the highest priority and the CPU time a real-time thread may use
// without blocking, which the process must promise through RLIMIT_RTTIME first.
struct RealtimeKitLimits {
    int maxPriority = 0;
    long long rtTimeUsecMax = 0;
};
// The priority to ask for and the RLIMIT_RTTIME to set (microseconds) within the limits;
// priority 0 when nothing can be asked.
struct RealtimeKitRequest {
    int priority = 0;
    long long rtTimeUsec = 0;
};
RealtimeKitRequest PlanRealtimeKitRequest(const RealtimeKitLimits& limits);

}  // namespace zb::audio
