#include "virtual_input.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "wav_file.hpp"

namespace pw::dev {

FMOD_RESULT VirtualInput::create(const RecordEntry& entry, int channels, int rate,
                                 std::unique_ptr<InputStream>* out) {
    if (!out || channels < 1 || channels > 32 || rate < 1000 || rate > 1000000) return FMOD_ERR_INVALID_PARAM;
    std::unique_ptr<VirtualInput> in(new VirtualInput(channels, rate));
    if (entry.input == InputKind::Sine) {
        in->increment_ = entry.frequency / rate;
    } else {
        WavData data;
        std::string error;
        if (!readWav(entry.path, &data, &error)) {
            std::fprintf(stderr, "virtual record input \"%s\": %s\n", entry.info.name.c_str(), error.c_str());
            FILE* probe = std::fopen(entry.path.c_str(), "rb");
            if (!probe) return FMOD_ERR_FILE_NOTFOUND;
            std::fclose(probe);
            return FMOD_ERR_FORMAT;
        }
        const size_t frames = data.samples.size() / static_cast<size_t>(data.channels);
        if (frames == 0) {
            std::fprintf(stderr, "virtual record input \"%s\": %s has no samples\n",
                         entry.info.name.c_str(), entry.path.c_str());
            return FMOD_ERR_FORMAT;
        }
        // Stream channel c takes file channel c modulo the file's count (a mono file feeds every
        // channel). The file's rate is not converted: the file plays at the stream's rate.
        in->wav_.resize(frames * static_cast<size_t>(channels));
        for (size_t f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c)
                in->wav_[f * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
                    data.samples[f * static_cast<size_t>(data.channels) + static_cast<size_t>(c % data.channels)];
    }
    *out = std::move(in);
    return FMOD_OK;
}

VirtualInput::VirtualInput(int channels, int rate)
    : channels_(channels), rate_(rate), pacer_(static_cast<unsigned>(rate), Pacer::Clock::now()) {}

unsigned VirtualInput::read(float* interleaved, unsigned maxFrames) {
    if (!interleaved || maxFrames == 0) return 0;
    if (!started_) {
        pacer_ = Pacer(static_cast<unsigned>(rate_), Pacer::Clock::now());
        started_ = true;
    }
    // Wait for a chunk of about 10 ms rather than waking for every frame.
    const uint64_t chunk = std::max<uint64_t>(1, std::min<uint64_t>(maxFrames, static_cast<uint64_t>(rate_ / 100)));
    const auto due = pacer_.timeOfFrame(delivered_ + chunk);
    {
        std::unique_lock<std::mutex> lk(mutex_);
        wake_.wait_until(lk, due, [this] { return aborted_.load(std::memory_order_acquire); });
    }
    if (aborted_.load(std::memory_order_acquire)) return 0;
    const uint64_t available = pacer_.framesAt(Pacer::Clock::now()) - delivered_;
    const unsigned frames = static_cast<unsigned>(std::min<uint64_t>(std::max<uint64_t>(available, chunk), maxFrames));
    render(interleaved, frames);
    delivered_ += frames;
    return frames;
}

void VirtualInput::render(float* out, unsigned frames) {
    if (wav_.empty()) {
        constexpr double kTwoPi = 6.283185307179586476925;
        for (unsigned f = 0; f < frames; ++f) {
            const float v = kSineAmplitude * static_cast<float>(std::sin(kTwoPi * phase_));
            std::fill(out, out + channels_, v);
            out += channels_;
            phase_ += increment_;
            phase_ -= std::floor(phase_);
        }
        return;
    }
    const size_t total = wav_.size() / static_cast<size_t>(channels_);
    for (unsigned f = 0; f < frames; ++f) {
        const float* src = wav_.data() + wavFrame_ * static_cast<size_t>(channels_);
        std::copy(src, src + channels_, out);
        out += channels_;
        if (++wavFrame_ == total) wavFrame_ = 0;
    }
}

void VirtualInput::abort() {
    aborted_.store(true, std::memory_order_release);
    { std::lock_guard<std::mutex> lk(mutex_); }
    wake_.notify_all();
}

}  // namespace pw::dev
