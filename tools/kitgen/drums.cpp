#include "drums.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace zb::kitgen {

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

int Frames(double seconds) {
    return static_cast<int>(std::lround(seconds * kRate));
}

// xorshift32: the same sequence on every machine, unlike the standard distributions.
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed) {}
    // Uniform in [-1, 1).
    double next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1.0;
    }

private:
    uint32_t state_;
};

// RBJ biquad, direct form I.
class Biquad {
public:
    static Biquad HighPass(double hz, double q) {
        const double w = kTwoPi * hz / kRate;
        const double alpha = std::sin(w) / (2 * q);
        const double c = std::cos(w);
        const double a0 = 1 + alpha;
        return Biquad((1 + c) / 2 / a0, -(1 + c) / a0, (1 + c) / 2 / a0, -2 * c / a0,
                      (1 - alpha) / a0);
    }
    static Biquad BandPass(double hz, double q) {
        const double w = kTwoPi * hz / kRate;
        const double alpha = std::sin(w) / (2 * q);
        const double a0 = 1 + alpha;
        return Biquad(alpha / a0, 0, -alpha / a0, -2 * std::cos(w) / a0, (1 - alpha) / a0);
    }
    double operator()(double x) {
        const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    Biquad(double b0, double b1, double b2, double a1, double a2)
        : b0_(b0), b1_(b1), b2_(b2), a1_(a1), a2_(a2) {}
    double b0_, b1_, b2_, a1_, a2_;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// A 1 ms rise and a 5 ms fall to silence, so neither end of the sample clicks.
void Shape(std::vector<double>& s) {
    const int rise = Frames(0.001);
    const int fall = Frames(0.005);
    const int n = static_cast<int>(s.size());
    for (int i = 0; i < rise && i < n; ++i) s[i] *= static_cast<double>(i) / rise;
    for (int i = 0; i < fall && i < n; ++i) s[n - 1 - i] *= static_cast<double>(i) / fall;
}

std::vector<float> Normalized(std::vector<double> s, float peak) {
    Shape(s);
    double max = 0;
    for (double v : s) max = std::max(max, std::abs(v));
    std::vector<float> out(s.size());
    const double gain = max > 0 ? peak / max : 0;
    for (size_t i = 0; i < s.size(); ++i) out[i] = static_cast<float>(s[i] * gain);
    return out;
}

float PeakOf(std::vector<float> (*synth)()) {
    for (const auto& d : kKit) {
        if (d.synthesize == synth)
            return d.peak;
    }
    return 0.5f;
}

}  // namespace

std::vector<float> Kick() {
    const int n = Frames(0.300);
    std::vector<double> s(n);
    Noise noise(0x4B1C4u);
    double phase = 0;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        // The pitch falls from 160 Hz to 45 Hz within the first tens of milliseconds.
        const double hz = 45.0 + 115.0 * std::exp(-t / 0.035);
        phase += kTwoPi * hz / kRate;
        const double body = std::sin(phase) * std::exp(-t / 0.110);
        const double click = t < 0.004 ? noise.next() * 0.35 * (1.0 - t / 0.004) : 0.0;
        s[i] = body + click;
    }
    return Normalized(std::move(s), PeakOf(&Kick));
}

std::vector<float> Snare() {
    const int n = Frames(0.200);
    std::vector<double> s(n);
    Noise noise(0x5A4E4Au);
    Biquad hp = Biquad::HighPass(1800.0, 0.7);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double body = (std::sin(kTwoPi * 185.0 * t) + 0.6 * std::sin(kTwoPi * 330.0 * t)) *
                            std::exp(-t / 0.045);
        const double rattle = hp(noise.next()) * std::exp(-t / 0.060);
        s[i] = 0.8 * body + 1.0 * rattle;
    }
    return Normalized(std::move(s), PeakOf(&Snare));
}

std::vector<float> HiHat() {
    const int n = Frames(0.070);
    std::vector<double> s(n);
    Noise noise(0x4848u);
    Biquad hp1 = Biquad::HighPass(7000.0, 0.7);
    Biquad hp2 = Biquad::HighPass(7000.0, 0.7);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        s[i] = hp2(hp1(noise.next())) * std::exp(-t / 0.018);
    }
    return Normalized(std::move(s), PeakOf(&HiHat));
}

std::vector<float> Clap() {
    const int n = Frames(0.150);
    std::vector<double> s(n);
    Noise noise(0xC1A9u);
    Biquad bp = Biquad::BandPass(1200.0, 1.2);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        // Hands rarely meet at once: three bursts 11 ms apart, then the room.
        double env = 0;
        for (double start : {0.0, 0.011, 0.022}) {
            if (t >= start)
                env = std::max(env, std::exp(-(t - start) / 0.004));
        }
        if (t >= 0.033)
            env = std::max(env, 0.8 * std::exp(-(t - 0.033) / 0.045));
        s[i] = bp(noise.next()) * env;
    }
    return Normalized(std::move(s), PeakOf(&Clap));
}

std::vector<int16_t> ToPcm16(const std::vector<float>& samples) {
    std::vector<int16_t> pcm(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        const long v = std::lround(static_cast<double>(samples[i]) * 32767.0);
        pcm[i] = static_cast<int16_t>(std::clamp(v, -32768L, 32767L));
    }
    return pcm;
}

bool WriteWav(const std::string& path, const std::vector<float>& samples, std::string* error) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = kChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        if (error)
            *error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    const std::vector<int16_t> pcm = ToPcm16(samples);
    const sf_count_t written =
        sf_write_short(file, pcm.data(), static_cast<sf_count_t>(pcm.size()));
    const bool ok = written == static_cast<sf_count_t>(pcm.size());
    if (!ok && error)
        *error = path + ": " + sf_strerror(file);
    const bool closed = sf_close(file) == 0;
    if (ok && !closed && error)
        *error = path + ": cannot finish the file";
    return ok && closed;
}

bool WriteKit(const std::string& dir, std::string* error) {
    for (const auto& drum : kKit) {
        if (!WriteWav(dir + "/" + drum.fileName, drum.synthesize(), error))
            return false;
    }
    return true;
}

}  // namespace zb::kitgen
