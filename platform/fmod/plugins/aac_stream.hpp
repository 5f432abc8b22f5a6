// One open AAC file (M4A or ADTS) decoded with FFmpeg to interleaved 16-bit PCM.
//
// The length is exact and comes from the container, without decoding: every AAC packet decodes
// to one block of the same size, so the length is packets x block, less the priming the demuxer
// has the decoder drop (an M4A's edit list; its final block's padding is kept, as FFmpeg itself
// decodes it). An M4A lists its packets in its index; an ADTS stream has none, so its packets are
// counted once at open by parsing their headers, which also gives the demuxer an index to seek by.
// A cut M4A keeps the whole file's index: only the packets that lie whole in the file count.
//
// Seeks go through that index to a packet shortly before the target and decode forward from
// there (see seek()). Not thread-safe; the host serialises calls on one stream.
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
    // The index lists packets past the end of the file (an interrupted copy): the length is that
    // of the packets the file holds.
    bool cutShort() const { return cutShort_; }

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
    bool consumeFrame(uint64_t target);
    bool sameShape() const;
    bool countPackets(int64_t* packets, int64_t* firstTs);
    // A stream timestamp as a frame index of the decoded audio, and back.
    uint64_t frameAt(int64_t ts) const;
    int64_t tsOf(uint64_t frame) const;

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
    uint64_t blockFrames_ = 1024;
    bool cutShort_ = false;

    std::vector<int16_t> pending_;  // converted samples not yet handed out
    size_t pendingPos_ = 0;         // in samples
    uint64_t position_ = 0;         // frame index of the next frame read() returns
    int64_t origin_ = 0;            // stream timestamp of decoded frame 0
    bool resync_ = false;           // after a seek: the next frame's timestamp gives position_
};

}  // namespace trellisco
