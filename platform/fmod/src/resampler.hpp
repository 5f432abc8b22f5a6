// Pulls a channel's source at the channel's frequency and resamples it to the mix rate.
//
// Linear interpolation on a small frame FIFO. A ratio of exactly 1.0 lands every output frame on
// a source frame, so samples pass through bit for bit; ratio 2.0 consumes exactly two source
// frames per output frame; ratio 0 pulls nothing and gives silence. Output is produced in chunks
// of kChunk frames so that the FIFO stays small whatever the block length.
//
// Thread safety: allocate/reset on any thread while the channel is not in the mix; render on the
// mixer thread only (no allocation, no locks).
#pragma once

#include <vector>

#include "services.hpp"

namespace pw::mix {

class Resampler {
public:
    // Frequencies above kMaxRatio times the mix rate play at kMaxRatio (25 x 44100 Hz at a
    // 44100 Hz mix is 25, within it).
    static constexpr double kMaxRatio = 64.0;
    static constexpr unsigned kChunk = 64;

    void allocate(int channels);
    void release();  // frees the FIFO of a channel that no longer plays
    void reset();
    bool allocated() const { return capacity_ != 0; }

    // Writes `frames` frames of channels() interleaved floats. Returns false once the source has
    // reported its end (the rest of the block is then silence).
    bool render(ChannelSource& source, float* out, unsigned frames, double ratio);

    int channels() const { return channels_; }

private:
    std::vector<float> fifo_;
    int channels_ = 0;
    unsigned capacity_ = 0;  // frames
    unsigned count_ = 0;     // frames held
    double pos_ = 0.0;       // read position in the FIFO, in source frames
    bool ended_ = false;
};

}  // namespace pw::mix
