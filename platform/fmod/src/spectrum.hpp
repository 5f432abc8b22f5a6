// Magnitude spectra of what a channel or a system produced, for level meters and tone detection.
//
// A SpectrumRing keeps the latest kFrames frames of a signal. getSpectrum(values, n, channel,
// window) takes the newest 2n frames of one channel, windows them and returns n magnitudes: bin k
// covers k x rate / (2n) Hz. Magnitudes are scaled by the window's sum, so that a full-scale sine
// on a bin centre peaks near 1.0 whatever the window.
//
// Thread safety: write() is called by the mixer thread only. spectrum() may be called from any
// thread at any time; it reads the ring through relaxed atomics, so a spectrum taken while a block
// is being written mixes old and new frames of that block (harmless for a meter) and never waits.
// allocate() and clear() only while the ring is not written (the owner is out of the mix). clear()
// only restarts the count: frames from before it are never read again, they read as silence.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "fmod.hpp"

namespace pw::mix {

class SpectrumRing {
public:
    static constexpr unsigned kFrames = 16384;  // 8192 values at most

    void allocate(int channels);
    void release();
    void clear();
    void write(const float* interleaved, unsigned frames);
    FMOD_RESULT spectrum(float* values, int numValues, int channel, FMOD_DSP_FFT_WINDOW window) const;
    int channels() const { return channels_; }

private:
    std::unique_ptr<std::atomic<float>[]> samples_;
    int channels_ = 0;
    std::atomic<uint64_t> written_{0};  // frames written since the last clear()
};

// Checks the arguments of a spectrum request: a power of two from 64 to 8192 values, a known window.
bool validSpectrumRequest(int numValues, FMOD_DSP_FFT_WINDOW window);

// `frames` = 2 x numValues samples, oldest first, to numValues magnitudes.
void computeSpectrum(const float* frames, int numValues, FMOD_DSP_FFT_WINDOW window, float* values);

}  // namespace pw::mix
