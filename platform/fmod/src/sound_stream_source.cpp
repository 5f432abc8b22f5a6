#include "sound_stream_source.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "sound_format.hpp"

namespace pw::sound {

namespace {
constexpr unsigned kBlockFrames = 1024;

// About 1.5 s of audio, at least 8 blocks: enough to ride over a slow disk or a busy worker,
// small enough that a loop-point change is heard soon.
size_t ringBlocks(int rate) { return std::max<size_t>(8, static_cast<size_t>(rate) * 3 / 2 / kBlockFrames + 1); }
}  // namespace

StreamFeed::StreamFeed(std::shared_ptr<SoundImpl> sound, std::shared_ptr<PlayControl> ctl)
    : sound_(std::move(sound)), ctl_(std::move(ctl)),
      ring_(ringBlocks(sound_->format().rate), kBlockFrames, sound_->format().channels),
      scratch_(static_cast<size_t>(kBlockFrames) * sound_->format().frameBytes) {
    // An estimated length (MP3 opened without a scan) is not a limit: the decoder says when the
    // audio ends.
    length_ = sound_->lengthExact() ? sound_->lengthFrames() : std::numeric_limits<uint64_t>::max();
}

void StreamFeed::wake() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        wakeRequested_ = true;
    }
    wakeCv_.notify_one();
}

void StreamFeed::waitForWork(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wakeCv_.wait_for(lock, timeout, [this] { return wakeRequested_; });
    wakeRequested_ = false;
}

void StreamFeed::pushEnd(uint32_t gen) {
    BlockRing::Header& h = ring_.backHeader();
    h.gen = gen;
    h.startFrame = nextFrame_;
    h.frames = 0;
    h.end = true;
    ring_.push();
    producerEnded_ = true;
    seekAnswered_ = true;
}

void StreamFeed::produce() {
    if (dead.load(std::memory_order_acquire)) return;
    const uint64_t seek = ctl_->seek.load(std::memory_order_acquire);
    const uint32_t gen = PlayControl::hi(seek);
    if (gen != producedGen_) {
        producedGen_ = gen;
        nextFrame_ = PlayControl::lo(seek);
        producerEnded_ = false;
        seekAnswered_ = false;
    }
    const SoundImpl::Format& f = sound_->format();
    int emptyWraps = 0;  // guards against a loop whose start reads nothing
    while (!producerEnded_ && !ring_.full()) {
        if (PlayControl::hi(ctl_->seek.load(std::memory_order_acquire)) != gen) return;  // next pass
        if (sound_->released()) {
            pushEnd(gen);
            return;
        }
        uint64_t loopStart = 0;
        const uint64_t end = passEnd(*ctl_, length_, &loopStart);
        if (nextFrame_ >= end) {
            if (ctl_->looping() && loopStart < end && emptyWraps++ < 2) {
                nextFrame_ = loopStart;
                ctl_->consumeLoop();
                continue;
            }
            pushEnd(gen);
            return;
        }
        const auto want = static_cast<unsigned long>(std::min<uint64_t>(kBlockFrames, end - nextFrame_));
        const long got = sound_->readAt(nextFrame_, scratch_.data(), want);
        if (got <= 0) {
            // The decoder ended before the length said (or failed): wrap when looping, else end.
            if (ctl_->looping() && loopStart < nextFrame_ && emptyWraps++ < 2) {
                nextFrame_ = loopStart;
                ctl_->consumeLoop();
                continue;
            }
            pushEnd(gen);
            return;
        }
        emptyWraps = 0;
        BlockRing::Header& h = ring_.backHeader();
        pcmToFloat(scratch_.data(), f.format, ring_.backData(), static_cast<size_t>(got) * static_cast<size_t>(f.channels));
        h.gen = gen;
        h.startFrame = nextFrame_;
        h.frames = static_cast<unsigned>(got);
        h.end = false;
        ring_.push();
        seekAnswered_ = true;
        nextFrame_ += static_cast<uint64_t>(got);
    }
}

StreamSource::StreamSource(std::shared_ptr<SoundImpl> sound) : SoundSource(std::move(sound)) {}

StreamSource::~StreamSource() {
    // The worker holds the feed too and drops it on its next pass; freeing happens there.
    if (feed_) {
        feed_->dead.store(true, std::memory_order_release);
        feed_->wake();
    }
}

unsigned StreamSource::pull(float* out, unsigned frames) {
    const auto ch = static_cast<size_t>(channels());
    unsigned n = 0;
    if (!feed_) {
        std::memset(out, 0, static_cast<size_t>(frames) * ch * sizeof(float));
        return 0;
    }
    // A released sound ends its channels at once, whatever the ring still holds.
    bool ended = ctl_->ended.load(std::memory_order_relaxed) || sound_->released();
    const uint32_t gen = PlayControl::hi(ctl_->seek.load(std::memory_order_acquire));
    BlockRing& ring = feed_->ring();
    while (!ended && n < frames && !ring.empty()) {
        const BlockRing::Header& h = ring.frontHeader();
        if (h.gen != gen) {  // queued before a seek: drop
            ring.pop();
            offset_ = 0;
            continue;
        }
        if (appliedGen_ != gen) {
            appliedGen_ = gen;
            ctl_->position.store(static_cast<uint32_t>(h.startFrame), std::memory_order_release);
            ctl_->appliedSeekGen.store(gen, std::memory_order_release);
        }
        const unsigned take = std::min(h.frames - offset_, frames - n);
        std::memcpy(out + n * ch, ring.frontData() + offset_ * ch, static_cast<size_t>(take) * ch * sizeof(float));
        offset_ += take;
        n += take;
        ctl_->position.store(static_cast<uint32_t>(h.startFrame + offset_), std::memory_order_release);
        if (offset_ == h.frames) {
            const bool last = h.end;
            ring.pop();
            offset_ = 0;
            if (last) ended = true;
        }
    }
    std::memset(out + n * ch, 0, static_cast<size_t>(frames - n) * ch * sizeof(float));
    if (ended) {
        ctl_->ended.store(true, std::memory_order_release);
        return n;
    }
    return frames;  // an underrun is silence, not an end
}

std::unique_ptr<StreamSource> makeStreamSource(const std::shared_ptr<SoundImpl>& sound,
                                               std::shared_ptr<StreamFeed>* feed) {
    auto source = std::make_unique<StreamSource>(sound);
    auto f = std::make_shared<StreamFeed>(sound, source->control());
    f->produce();  // prime: the channel has audio from its first block
    source->attachFeed(f);
    *feed = std::move(f);
    return source;
}

}  // namespace pw::sound
