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
    return true;
}

bool AacStream::open(const std::string& path) {
    path_ = path;
    if (!openContainer())
        return false;
    // Count every frame the decoder delivers: this is the length, exactly as a full read gives it.
    uint64_t total = 0;
    int rc;
    while ((rc = nextFrame()) == 1) {
        if (total == 0) {
            channels_ = frame_->ch_layout.nb_channels;
            rate_ = frame_->sample_rate;
        } else if (frame_->ch_layout.nb_channels != channels_ || frame_->sample_rate != rate_) {
            return false;  // a stream that changes shape mid-way cannot be one sound
        }
        total += static_cast<uint64_t>(frame_->nb_samples);
        av_frame_unref(frame_);
    }
    if (rc < 0 || total == 0 || channels_ <= 0 || rate_ <= 0)
        return false;
    length_ = total;
    return restart();
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
            if (rc < 0)
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
        const int rc = nextFrame();
        if (rc <= 0)
            return false;
        const uint64_t n = static_cast<uint64_t>(frame_->nb_samples);
        if (position_ + n <= target) {
            position_ += n;
            av_frame_unref(frame_);
            continue;
        }
        const bool ok = convert(target - position_);
        av_frame_unref(frame_);
        if (!ok)
            return false;
        position_ = target;
    }
    return true;
}

// Seeking decodes: the decoder's state (overlap, and the noise generator of noise-substituted
// bands) depends on every block before, so only a decode from the start reproduces a linear read
// bit for bit. Forward seeks continue from where the stream is; backward ones start over.
bool AacStream::seek(uint64_t frame) {
    if (frame > length_)
        return false;
    if (frame < position_ && !restart())
        return false;
    return decodeForwardTo(frame);
}

}  // namespace trellisco
