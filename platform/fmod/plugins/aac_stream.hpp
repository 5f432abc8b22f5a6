// One open AAC file (M4A or ADTS) decoded with FFmpeg to interleaved 16-bit PCM. Lengths are
// exact: the whole file is decoded once at open and its frames counted, because an ADTS stream
// has no reliable duration, and an M4A's container duration leaves out the final block's padding
// that the decoder delivers (its priming is removed by the demuxer, as FFmpeg itself decodes it).
// Not thread-safe; the host serialises calls on one stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace trellisco {

class AacStream {
public:
    AacStream() = default;
    ~AacStream();
    AacStream(const AacStream&) = delete;
    AacStream& operator=(const AacStream&) = delete;

    // false when the file is not AAC in an MP4/M4A or ADTS container, or does not decode.
    bool open(const std::string& path);

    int channels() const { return channels_; }
    int rate() const { return rate_; }
    uint64_t length() const { return length_; }

    long read(int16_t* dst, unsigned long frames);
    bool seek(uint64_t frame);

private:
    bool openContainer();
    void closeContainer();
    // 1: a decoded frame is in frame_; 0: end of stream; negative: a hard error.
    int nextFrame();
    // Converts frame_ into pending_, dropping its first `skip` frames.
    bool convert(uint64_t skip);
    bool restart();
    bool decodeForwardTo(uint64_t target);

    std::string path_;
    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* dec_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    bool draining_ = false;

    int channels_ = 0;
    int rate_ = 0;
    uint64_t length_ = 0;

    std::vector<int16_t> pending_;  // converted samples not yet handed out
    size_t pendingPos_ = 0;         // in samples
    uint64_t position_ = 0;         // frame index of the next frame read() returns
};

}  // namespace trellisco
