#include "com/tarvenkolm/resampler/ITKResampler.h"

namespace com_tarvenkolm_resampler {

namespace {
constexpr int kNoSource = 2;
}  // namespace

int NoResampler::readFromBuffer(float* buffer, unsigned int frames, int channels) {
    if (!m_pSource) return kNoSource;
    return m_pSource->readFromBuffer(buffer, frames, channels);
}

int NoResampler::setPitch(float pitch) {
    m_fPitch.store(pitch, std::memory_order_relaxed);
    return 0;
}

int NoResampler::reset() { return 0; }

}  // namespace com_tarvenkolm_resampler
