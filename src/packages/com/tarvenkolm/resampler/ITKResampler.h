// A resampler that sits between the time-stretched channel's render step and its output, changing
// playback speed by resampling instead of through the audio layer's channel frequency. The engine
// never installs one; the interface exists so the channel's slot can hold one (and be tested with
// the pass-through NoResampler).
//
// Thread safety
// - readFromBuffer runs on the render thread; setPitch and reset on the thread that drives the
//   channel. Implementations make pitch a single atomic word.
#pragma once

#include <atomic>

#include "com/tarvenkolm/resampler/ITKResamplerSource.h"

namespace com_tarvenkolm_resampler {

// Quality steps of a resampler. Only the pass-through exists; the values are this engine's own.
enum ResamplerQuality {
    RESAMPLER_QUALITY_NONE = 0,
    RESAMPLER_QUALITY_LINEAR = 1,
    RESAMPLER_QUALITY_BEST = 2,
};

class ITKResampler {
public:
    // source: not owned, may be null. channels and rate describe the source's blocks.
    ITKResampler(ITKResamplerSource* source, ResamplerQuality quality, int channels, float rate)
        : m_pSource(source), m_iChannels(channels), m_fRate(rate), m_quality(quality), m_fPitch(1.0f) {}

    // Fills buffer with frames x channels samples at the current pitch.
    virtual int readFromBuffer(float* buffer, unsigned int frames, int channels) = 0;
    virtual ~ITKResampler() { m_pSource = nullptr; }
    virtual int setPitch(float pitch) = 0;
    virtual int reset() = 0;

    ITKResampler(const ITKResampler&) = delete;
    ITKResampler& operator=(const ITKResampler&) = delete;

    ITKResamplerSource* getSource() const { return m_pSource; }
    int getChannels() const { return m_iChannels; }
    float getRate() const { return m_fRate; }
    ResamplerQuality getQuality() const { return m_quality; }

protected:
    ITKResamplerSource* m_pSource;
    int m_iChannels;
    float m_fRate;
    ResamplerQuality m_quality;
    std::atomic<float> m_fPitch;
};

// Hands every read to its source unchanged; pitch and reset are accepted and ignored.
class NoResampler : public ITKResampler {
public:
    NoResampler(ITKResamplerSource* source, ResamplerQuality quality, int channels, float rate)
        : ITKResampler(source, quality, channels, rate) {}
    ~NoResampler() override = default;

    // The source's result, or 2 without a source.
    int readFromBuffer(float* buffer, unsigned int frames, int channels) override;
    int setPitch(float pitch) override;
    int reset() override;
};

}  // namespace com_tarvenkolm_resampler
