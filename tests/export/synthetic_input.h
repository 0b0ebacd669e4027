// A recording input for tests: instead of a sound card it delivers exactly the frames the
// test hands it, through the same sink a real input's thread would call.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "export/capture_input.h"

namespace zb::test {

class SyntheticInput : public capture::InputSystem {
public:
    std::unique_ptr<capture::InputStream> openInput(int sampleRate, int channels,
                                                    capture::FrameSink& sink) override {
        ++opens;
        if (refuseOpen)
            return nullptr;
        rate = sampleRate;
        channelCount = channels;
        return std::make_unique<Stream>(*this, sink);
    }

    // Delivers interleaved frames while a stream runs; ignored otherwise, as a stopped
    // input delivers nothing.
    void feed(const int16_t* frames, uint32_t count) {
        if (running_ != nullptr)
            running_->write(frames, count);
    }
    void feed(const std::vector<int16_t>& interleaved) {
        feed(interleaved.data(), static_cast<uint32_t>(interleaved.size() / channelCount));
    }
    // Float stereo as an output renders it, turned into 16-bit samples.
    void feedFloat(const std::vector<float>& stereo) {
        std::vector<int16_t> pcm(stereo.size());
        std::transform(stereo.begin(), stereo.end(), pcm.begin(), [](float x) {
            return static_cast<int16_t>(std::lround(std::clamp(x, -1.0f, 1.0f) * 32767.0f));
        });
        feed(pcm.data(), static_cast<uint32_t>(pcm.size() / 2));
    }
    bool running() const { return running_ != nullptr; }

    bool refuseOpen = false;
    bool failStart = false;
    int opens = 0;
    int rate = 0;
    int channelCount = 2;

private:
    class Stream : public capture::InputStream {
    public:
        Stream(SyntheticInput& owner, capture::FrameSink& sink) : owner_(owner), sink_(sink) {}
        ~Stream() override { stop(); }
        bool start() override {
            if (owner_.failStart)
                return false;
            owner_.running_ = &sink_;
            return true;
        }
        void stop() override {
            if (owner_.running_ == &sink_)
                owner_.running_ = nullptr;
        }

    private:
        SyntheticInput& owner_;
        capture::FrameSink& sink_;
    };

    capture::FrameSink* running_ = nullptr;
};

}  // namespace zb::test
