// The source interface of the output ring: something that renders blocks of interleaved float
// frames. The time-stretched channel implements it, and so does ITKOutputBuffer, which renders a
// source ahead; the channel reads through this one interface whether a ring stands in between
// or not.
#pragma once

namespace com_tarvenkolm_outputbuffering {

class ITKOutputBufferSource {
public:
    // Fills buffer with frames x channels interleaved samples. 0: success; anything else:
    // nothing usable was rendered. flag: the deck's playing state from the mixer side, false from
    // the render worker.
    virtual int readFromResampledBuffer(float* buffer, unsigned int frames, int channels, bool flag) = 0;

protected:
    // Never deleted through this interface: owners delete through their own type.
    ~ITKOutputBufferSource() = default;
};

}  // namespace com_tarvenkolm_outputbuffering
