// The output stream on a PulseAudio or PipeWire (pipewire-pulse) server, through libpulse's
// asynchronous API: one threaded main loop whose write callback renders the engine straight
// into the server's memory. The stream's frame count stays the master clock of the step
// grid (Engine::framesRendered).
//
// Threads: openPulseOutput and every OutputDriver method on the UI thread; the engine is
// called on the main loop's thread only, from the write callback, which is real-time code.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/audio_system.h"

namespace zb::audio {

// The server-side buffer at rest and for a Play, sized by measurement (README's figures): a
// Play reaches the sink's monitor within 25 ms. The server asks for a chunk whenever that
// much room is free, which sets how often the main loop is asked for sound (86 times a
// second).
inline constexpr int64_t kPulseBufferFrames = 1024;
inline constexpr int64_t kPulseChunkFrames = 512;
// While the steps run (a loop or an export) every step is queued ahead by the step clock,
// so the buffer grows between steps to ride out a longer stall of the machine (a drop-out
// shifts every later step), and once grown the server asks for larger chunks, waking the
// main loop half as often. It shrinks again when the steps stop.
inline constexpr int64_t kPulseLoopBufferFrames = 3072;
inline constexpr int64_t kPulseLoopChunkFrames = 1024;

// Opens the output stream on the server's default sink; null when no server answers.
// Throws SoundError when a server answers but refuses the stream.
std::unique_ptr<OutputDriver> openPulseOutput();

}  // namespace zb::audio
