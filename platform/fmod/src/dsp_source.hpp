// The ChannelSource of a DSP channel (playDSP): pulls the head unit's read callback, always in
// whole blocks of the DSP buffer length, so a callback's `length` is the same every time; frames
// left over from a block are kept for the next pull.
#pragma once

#include <vector>

#include "dsp_unit.hpp"
#include "services.hpp"

namespace pw::mix {

class DspSource : public ChannelSource {
public:
    // `channels`: what the head generates; `blockFrames`: the DSP buffer length.
    DspSource(DSPImpl* head, int channels, unsigned blockFrames);

    void setChannel(const void* channel) { channel_ = channel; }

    int channels() const override { return channels_; }
    float defaultFrequency() const override;
    unsigned pull(float* out, unsigned frames) override;

private:
    DSPImpl* head_;
    const void* channel_ = nullptr;  // the head runs only while its owner is this channel
    int channels_;
    unsigned block_;
    std::vector<float> input_;  // the head's input: silence, cleared before every call
    std::vector<float> staged_;
    unsigned stagedFrames_ = 0;
    unsigned stagedOffset_ = 0;
};

}  // namespace pw::mix
