#include "audio/pulse_connection.h"

namespace zb::audio {

PulseConnection::~PulseConnection() {
    if (loop_ != nullptr)
        pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_ != nullptr)
        pa_threaded_mainloop_free(loop_);
}

bool PulseConnection::connect(const char* clientName, std::atomic<bool>* lost) {
    lost_ = lost;
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr)
        return false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), clientName);
    if (context_ == nullptr)
        return false;
    pa_context_set_state_callback(context_, &PulseConnection::stateChanged, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0)
        return false;
    PulseLock lock(loop_);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state))
            return false;
        pa_threaded_mainloop_wait(loop_);
    }
}

bool PulseConnection::awaitReady(pa_stream* stream) {
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY)
            return true;
        if (!PA_STREAM_IS_GOOD(state))
            return false;
        pa_threaded_mainloop_wait(loop_);
    }
}

void PulseConnection::await(pa_operation* op) {
    if (op == nullptr)
        return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(op);
}

// Main-loop thread (or the UI thread inside pa_context_disconnect).
void PulseConnection::stateChanged(pa_context* context, void* user) {
    auto* self = static_cast<PulseConnection*>(user);
    if (self->lost_ != nullptr && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        self->lost_->store(true, std::memory_order_relaxed);
    pa_threaded_mainloop_signal(self->loop_, 0);
}

}  // namespace zb::audio
