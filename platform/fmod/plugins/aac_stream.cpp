#include "aac_stream.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace trellisco {

namespace {

bool acceptedContainer(const AVInputFormat* format) {
    if (!format || !format->name)
        return false;
    return std::strcmp(format->name, "aac") == 0 || std::strstr(format->name, "mp4") != nullptr ||
           std::strstr(format->name, "m4a") != nullptr;
}

}  // namespace

AacStream::~AacStream() { closeContainer(); }

void AacStream::closeContainer() {
    swr_free(&swr_);
    avcodec_free_context(&dec_);
    avformat_close_input(&fmt_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    stream_ = -1;
    draining_ = false;
    pending_.clear();
    pendingPos_ = 0;
}

bool AacStream::openContainer() {
    closeContainer();
    if (avformat_open_input(&fmt_, path_.c_str(), nullptr, nullptr) < 0)
        return false;
    if (!acceptedContainer(fmt_->iformat) || avformat_find_stream_info(fmt_, nullptr) < 0)
        return false;
    stream_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream_ < 0)
        return false;
    const AVCodecParameters* par = fmt_->streams[stream_]->codecpar;
    if (par->codec_id != AV_CODEC_ID_AAC)
        return false;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    if (!codec)
        return false;
    dec_ = avcodec_alloc_context3(codec);
    if (!dec_ || avcodec_parameters_to_context(dec_, par) < 0 || avcodec_open2(dec_, codec, nullptr) < 0)
        return false;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    return packet_ && frame_;
}

int AacStream::nextFrame() {
    for (;;) {
        int rc = avcodec_receive_frame(dec_, frame_);
        if (rc == 0)
            return 1;
        if (rc == AVERROR_EOF)
            return 0;
        if (rc != AVERROR(EAGAIN))
            return rc;
        if (draining_)
            return 0;
        rc = av_read_frame(fmt_, packet_);
        if (rc < 0) {
            // End of file (or a read error, which ends the stream the same way): drain the decoder.
            avcodec_send_packet(dec_, nullptr);
            draining_ = true;
            continue;
        }
        if (packet_->stream_index == stream_) {
            // A damaged block is dropped and decoding goes on with the next one.
            avcodec_send_packet(dec_, packet_);
        }
        av_packet_unref(packet_);
    }
}

bool AacStream::restart() {
    if (!openContainer())
        return false;
    position_ = 0;
    resync_ = false;
    return true;
}

uint64_t AacStream::frameAt(int64_t ts) const {
    if (ts <= origin_)
        return 0;
    return static_cast<uint64_t>(av_rescale_q(ts - origin_, fmt_->streams[stream_]->time_base, AVRational{1, rate_}));
}

int64_t AacStream::tsOf(uint64_t frame) const {
    return origin_ + av_rescale_q(static_cast<int64_t>(frame), AVRational{1, rate_}, fmt_->streams[stream_]->time_base);
}

// The number of AAC packets and the first one's timestamp. An M4A's index lists them; an ADTS
// stream is read through once (headers only, nothing is decoded), which leaves the demuxer an
// index of every packet for later seeks, and then rewound.
bool AacStream::countPackets(int64_t* packets, int64_t* firstTs) {
    AVStream* st = fmt_->streams[stream_];
    const int entries = avformat_index_get_entries_count(st);
    if (entries > 0 && std::strcmp(fmt_->iformat->name, "aac") != 0) {
        // Packets lie in the file in the order the index lists them; those that end past the
        // end of the file (one cut short) never decode.
        const int64_t fileBytes = avio_size(fmt_->pb);
        int whole = entries;
        while (fileBytes > 0 && whole > 0) {
            const AVIndexEntry* e = avformat_index_get_entry(st, whole - 1);
            if (e->pos + e->size <= fileBytes)
                break;
            --whole;
        }
        if (whole == 0)
            return false;
        cutShort_ = whole < entries;
        *packets = whole;
        *firstTs = avformat_index_get_entry(st, 0)->timestamp;
        return true;
    }
    int64_t count = 0;
    int64_t first = 0;
    while (av_read_frame(fmt_, packet_) >= 0) {
        if (packet_->stream_index == stream_) {
            if (count == 0)
                first = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
            ++count;
        }
        av_packet_unref(packet_);
    }
    if (count == 0 || first == AV_NOPTS_VALUE || av_seek_frame(fmt_, stream_, first, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    *packets = count;
    *firstTs = first;
    return true;
}

bool AacStream::open(const std::string& path) {
    path_ = path;
    if (!openContainer())
        return false;
    const AVCodecParameters* par = fmt_->streams[stream_]->codecpar;
    channels_ = par->ch_layout.nb_channels;
    rate_ = par->sample_rate;
    // Frames each packet decodes to: 1024 for AAC-LC (960 for its short-frame variant), the
    // decoder's doubled block for SBR streams, as the stream probe found it.
    const int64_t block = par->frame_size > 0 ? par->frame_size : 1024;
    int64_t packets = 0;
    int64_t firstTs = 0;
    if (channels_ <= 0 || rate_ <= 0 || !countPackets(&packets, &firstTs))
        return false;
    // Packets before timestamp 0 are priming: the demuxer has the decoder drop them.
    origin_ = std::max<int64_t>(firstTs, 0);
    const int64_t priming = firstTs < 0 ? av_rescale_q(-firstTs, fmt_->streams[stream_]->time_base, AVRational{1, rate_}) : 0;
    const int64_t total = packets * block - priming;
    if (total <= 0)
        return false;
    length_ = static_cast<uint64_t>(total);
    blockFrames_ = static_cast<uint64_t>(block);
    return true;
}

bool AacStream::convert(uint64_t skip) {
    const int frames = frame_->nb_samples;
    if (!swr_) {
        if (swr_alloc_set_opts2(&swr_, &frame_->ch_layout, AV_SAMPLE_FMT_S16, frame_->sample_rate, &frame_->ch_layout,
                                static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, 0, nullptr) < 0 ||
            swr_init(swr_) < 0)
            return false;
    }
    pending_.resize(static_cast<size_t>(frames) * static_cast<size_t>(channels_));
    auto* out = reinterpret_cast<uint8_t*>(pending_.data());
    const int got = swr_convert(swr_, &out, frames, const_cast<const uint8_t**>(frame_->extended_data), frames);
    if (got < 0)
        return false;
    pending_.resize(static_cast<size_t>(got) * static_cast<size_t>(channels_));
    pendingPos_ = std::min<size_t>(pending_.size(), static_cast<size_t>(skip) * static_cast<size_t>(channels_));
    return true;
}

long AacStream::read(int16_t* dst, unsigned long frames) {
    unsigned long done = 0;
    const size_t ch = static_cast<size_t>(channels_);
    while (done < frames && position_ < length_) {
        if (pendingPos_ >= pending_.size()) {
            const int rc = nextFrame();
            if (rc == 0)
                break;
            if (rc < 0 || !sameShape())
                return done > 0 ? static_cast<long>(done) : -1;
            const bool ok = convert(0);
            av_frame_unref(frame_);
            if (!ok)
                return done > 0 ? static_cast<long>(done) : -1;
            continue;
        }
        const uint64_t available = (pending_.size() - pendingPos_) / ch;
        const unsigned long take = static_cast<unsigned long>(
            std::min<uint64_t>({available, static_cast<uint64_t>(frames - done), length_ - position_}));
        std::memcpy(dst + done * ch, pending_.data() + pendingPos_, take * ch * sizeof(int16_t));
        pendingPos_ += take * ch;
        done += take;
        position_ += take;
    }
    return static_cast<long>(done);
}

// Takes the decoded frame in frame_ as the audio at position_ and moves on: all of it when it ends
// before `target`, else the part from `target` on goes to pending_.
bool AacStream::consumeFrame(uint64_t target) {
    const uint64_t n = static_cast<uint64_t>(frame_->nb_samples);
    bool ok = sameShape();
    if (ok && position_ + n <= target) {
        position_ += n;
    } else if (ok) {
        ok = convert(target - position_);
        position_ = target;
    }
    av_frame_unref(frame_);
    return ok;
}

bool AacStream::sameShape() const {
    return frame_->ch_layout.nb_channels == channels_ && frame_->sample_rate == rate_;
}

// Decodes and throws away everything from the current position up to `target`.
bool AacStream::decodeForwardTo(uint64_t target) {
    const size_t ch = static_cast<size_t>(channels_);
    const uint64_t buffered = (pending_.size() - pendingPos_) / ch;
    if (target - position_ <= buffered) {
        pendingPos_ += static_cast<size_t>(target - position_) * ch;
        position_ = target;
        return true;
    }
    position_ += buffered;
    pending_.clear();
    pendingPos_ = 0;
    while (position_ < target) {
        if (nextFrame() <= 0 || !consumeFrame(target))
            return false;
    }
    return true;
}

// A block decodes from its own packet and the overlap of the one before; the decoder's state
// settles within a packet after a flush. So a seek lands kPrerollPackets before the target's
// packet through the index, flushes, and decodes forward: from the target on, the samples equal
// a linear read, with one exception: noise-substituted bands come from the decoder's noise
// generator, whose state only a decode from the start reproduces, so they hold fresh noise of the
// same spectrum. The landing packet's timestamp says where decoding resumed, whatever the demuxer
// chose. Targets near the start, and short hops forward, simply decode on from where the stream is
// (from the start, as a linear read, for backward ones).
bool AacStream::seek(uint64_t frame) {
    constexpr uint64_t kPrerollPackets = 2;
    constexpr uint64_t kDecodeOnPackets = 8;
    if (frame > length_)
        return false;
    const uint64_t preroll = kPrerollPackets * blockFrames_;
    if (frame >= position_ && frame - position_ <= kDecodeOnPackets * blockFrames_)
        return decodeForwardTo(frame);
    if (frame >= preroll + blockFrames_) {
        pending_.clear();
        pendingPos_ = 0;
        draining_ = false;
        if (av_seek_frame(fmt_, stream_, tsOf(frame - preroll), AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(dec_);
            if (nextFrame() == 1) {
                const int64_t ts = frame_->best_effort_timestamp != AV_NOPTS_VALUE ? frame_->best_effort_timestamp
                                                                                  : frame_->pts;
                const uint64_t landed = ts != AV_NOPTS_VALUE ? frameAt(ts) : frame + 1;
                if (ts != AV_NOPTS_VALUE && landed + blockFrames_ <= frame) {
                    position_ = landed;
                    return consumeFrame(frame) && decodeForwardTo(frame);
                }
                av_frame_unref(frame_);
            }
        }
        // The index could not take us before the target: fall back to decoding from the start.
    }
    if (!restart())
        return false;
    return decodeForwardTo(frame);
}

}  // namespace trellisco
