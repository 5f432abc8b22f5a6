// The source side of a resampler: something that renders blocks of interleaved float frames at
// its own rate. The time-stretched channel implements it; a resampler pulls from it.
#pragma once

namespace com_tarvenkolm_resampler {

class ITKResamplerSource {
public:
    // Fills buffer with frames x channels interleaved samples. 0 after a rendered block; any
    // other value: the block is silence or nothing usable was rendered.
    //
    // Thread safety: called on the deck's render thread only (the output ring's worker, or the
    // mixer thread while the ring is bypassed).
    virtual int readFromBuffer(float* buffer, unsigned int frames, int channels) = 0;

protected:
    // Never deleted through this interface: owners delete through their own type.
    ~ITKResamplerSource() = default;
};

}  // namespace com_tarvenkolm_resampler
