#include "record_session.hpp"

#include <algorithm>
#include <system_error>
#include <vector>

#include "sound_format.hpp"

namespace pw::sound {

namespace {
constexpr unsigned kReadFrames = 1024;
}

RecordSession::RecordSession(std::shared_ptr<SoundImpl> sound, bool loop) : sound_(std::move(sound)), loop_(loop) {}

RecordSession::~RecordSession() { stop(); }

FMOD_RESULT RecordSession::start(dev::Backend& backend, int id) {
    const SoundImpl::Format& f = sound_->format();
    const FMOD_RESULT r = backend.openInput(id, f.channels, f.rate, &input_);
    if (r != FMOD_OK || !input_) {
        input_.reset();
        return r != FMOD_OK ? r : FMOD_ERR_RECORD;
    }
    running_.store(true, std::memory_order_release);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        running_.store(false, std::memory_order_release);
        input_.reset();
        return FMOD_ERR_MEMORY;
    }
    return FMOD_OK;
}

void RecordSession::stop() {
    if (input_) input_->abort();  // wakes a blocked read(), which then returns 0
    if (thread_.joinable()) thread_.join();
    running_.store(false, std::memory_order_release);
    input_.reset();
}

void RecordSession::run() {
    const SoundImpl::Format& f = sound_->format();
    const auto ch = static_cast<size_t>(f.channels);
    const uint64_t length = sound_->lengthFrames();
    std::vector<float> in(kReadFrames * ch);
    std::vector<unsigned char> pcm(static_cast<size_t>(kReadFrames) * f.frameBytes);
    uint64_t pos = 0;
    while (length > 0) {
        const unsigned got = input_->read(in.data(), kReadFrames);
        if (got == 0) break;  // aborted, or the device is gone
        floatToPcm(in.data(), f.format, pcm.data(), static_cast<size_t>(got) * ch);
        unsigned done = 0;
        bool full = false;
        while (done < got) {
            if (pos >= length) {
                if (!loop_) {
                    full = true;
                    break;
                }
                pos = 0;
            }
            const auto take = static_cast<unsigned>(std::min<uint64_t>(got - done, length - pos));
            atomicCopyIn(sound_->memory() + pos * f.frameBytes, pcm.data() + static_cast<size_t>(done) * f.frameBytes,
                         static_cast<size_t>(take) * f.frameBytes);
            pos += take;
            done += take;
        }
        position_.store(static_cast<unsigned>(pos >= length && loop_ ? 0 : pos), std::memory_order_release);
        if (full || (!loop_ && pos >= length)) break;  // a one-shot recording stops at the end
    }
    running_.store(false, std::memory_order_release);
}

}  // namespace pw::sound
