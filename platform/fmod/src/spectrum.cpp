#include "spectrum.hpp"

#include <cmath>
#include <complex>
#include <vector>

#include "services.hpp"

namespace pw::mix {

namespace {

constexpr double kPi = 3.14159265358979323846;

double windowValue(FMOD_DSP_FFT_WINDOW window, int i, int n) {
    const double x = static_cast<double>(i) / (n - 1);
    switch (window) {
    case FMOD_DSP_FFT_WINDOW_TRIANGLE: return 1.0 - std::fabs(2.0 * x - 1.0);
    case FMOD_DSP_FFT_WINDOW_HAMMING: return 0.54 - 0.46 * std::cos(2 * kPi * x);
    case FMOD_DSP_FFT_WINDOW_HANNING: return 0.5 - 0.5 * std::cos(2 * kPi * x);
    case FMOD_DSP_FFT_WINDOW_BLACKMAN:
        return 0.42 - 0.5 * std::cos(2 * kPi * x) + 0.08 * std::cos(4 * kPi * x);
    case FMOD_DSP_FFT_WINDOW_BLACKMANHARRIS:
        return 0.35875 - 0.48829 * std::cos(2 * kPi * x) + 0.14128 * std::cos(4 * kPi * x) -
               0.01168 * std::cos(6 * kPi * x);
    default: return 1.0;
    }
}

// In-place iterative radix-2 FFT; n is a power of two.
void fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2 * kPi / static_cast<double>(len);
        const std::complex<double> wlen(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < len / 2; ++k) {
                const auto u = a[i + k];
                const auto v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= wlen;
            }
        }
    }
}

}  // namespace

bool validSpectrumRequest(int numValues, FMOD_DSP_FFT_WINDOW window) {
    if (numValues < 64 || numValues > 8192 || (numValues & (numValues - 1)) != 0) return false;
    return window >= FMOD_DSP_FFT_WINDOW_RECT && window <= FMOD_DSP_FFT_WINDOW_BLACKMANHARRIS;
}

void computeSpectrum(const float* frames, int numValues, FMOD_DSP_FFT_WINDOW window, float* values) {
    const int n = numValues * 2;
    std::vector<std::complex<double>> a(n);
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double w = windowValue(window, i, n);
        sum += w;
        a[i] = frames[i] * w;
    }
    fft(a);
    const double scale = sum > 0.0 ? 2.0 / sum : 0.0;
    for (int k = 0; k < numValues; ++k) values[k] = static_cast<float>(std::abs(a[k]) * scale);
}

void SpectrumRing::allocate(int channels) {
    if (channels != channels_ || !samples_) {
        samples_.reset(new std::atomic<float>[static_cast<size_t>(kFrames) * channels]);
        channels_ = channels;
    }
    clear();
}

void SpectrumRing::release() {
    samples_.reset();
    channels_ = 0;
}

void SpectrumRing::clear() { written_.store(0, std::memory_order_release); }

void SpectrumRing::write(const float* interleaved, unsigned frames) {
    if (!samples_) return;
    uint64_t pos = written_.load(std::memory_order_relaxed);
    const int ch = channels_;
    for (unsigned f = 0; f < frames; ++f, ++pos) {
        std::atomic<float>* slot = &samples_[static_cast<size_t>(pos % kFrames) * ch];
        for (int c = 0; c < ch; ++c) slot[c].store(interleaved[f * ch + c], std::memory_order_relaxed);
    }
    written_.store(pos, std::memory_order_release);
}

FMOD_RESULT SpectrumRing::spectrum(float* values, int numValues, int channel,
                                   FMOD_DSP_FFT_WINDOW window) const {
    if (!values || !validSpectrumRequest(numValues, window)) return FMOD_ERR_INVALID_PARAM;
    if (channel < 0 || channel >= channels_ || !samples_) return FMOD_ERR_INVALID_PARAM;
    const unsigned n = static_cast<unsigned>(numValues) * 2;
    // The frames and the transform's buffers are allocated per call. `window` is taken by value: a
    // reference would make the checks above load the caller's out-of-range value from memory.
    return guarded([&, window] {
        std::vector<float> frames(n);
        const uint64_t end = written_.load(std::memory_order_acquire);
        for (unsigned i = 0; i < n; ++i) {
            if (end + i < n) continue;  // before the first frame written: silence (frames is zeroed)
            const uint64_t pos = end + i - n;
            frames[i] = samples_[static_cast<size_t>(pos % kFrames) * channels_ + channel].load(
                std::memory_order_relaxed);
        }
        computeSpectrum(frames.data(), numValues, window, values);
        return FMOD_OK;
    });
}

}  // namespace pw::mix
