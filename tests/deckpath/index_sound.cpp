#include "index_sound.h"

#include <cstring>

namespace deckpath_test {

FMOD::System* noSoundSystem() {
    // One system for the whole test process; released at exit by the layer.
    static FMOD::System* system = [] {
        FMOD::System* s = nullptr;
        if (FMOD_System_Create(&s) != FMOD_OK || !s) return static_cast<FMOD::System*>(nullptr);
        s->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
        if (s->init(16, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) return static_cast<FMOD::System*>(nullptr);
        return s;
    }();
    return system;
}

IndexSound::IndexSound(unsigned int frames, int channels, int bits, int rate) {
    FMOD::System* system = noSoundSystem();
    if (!system) return;
    const unsigned int bytesPerSample = static_cast<unsigned int>(bits / 8);
    const unsigned int length = frames * static_cast<unsigned int>(channels) * bytesPerSample;
    FMOD_CREATESOUNDEXINFO ex;
    std::memset(&ex, 0, sizeof ex);
    ex.cbsize = sizeof ex;
    ex.length = length;
    ex.numchannels = channels;
    ex.defaultfrequency = rate;
    ex.format = bits == 8 ? FMOD_SOUND_FORMAT_PCM8 : FMOD_SOUND_FORMAT_PCM16;
    m_result = system->createSound(nullptr, FMOD_OPENUSER | FMOD_SOFTWARE, &ex, &m_sound);
    if (m_result != FMOD_OK || !m_sound) return;

    std::vector<unsigned char> pcm(length);
    for (unsigned int i = 0; i < frames; ++i) {
        if (bits == 8) {
            for (int c = 0; c < channels; ++c) pcm[i * channels + c] = static_cast<unsigned char>(i & 0xFF);
        } else if (channels == 2) {
            const Frame16 f = encodeFrame(i);
            std::memcpy(&pcm[i * 4], &f.left, 2);
            std::memcpy(&pcm[i * 4 + 2], &f.right, 2);
        } else {
            const int16_t s = static_cast<int16_t>(i & 0xFFFF);
            for (int c = 0; c < channels; ++c) std::memcpy(&pcm[(i * channels + c) * 2], &s, 2);
        }
    }
    void *p1 = nullptr, *p2 = nullptr;
    unsigned int l1 = 0, l2 = 0;
    m_result = m_sound->lock(0, length, &p1, &p2, &l1, &l2);
    if (m_result != FMOD_OK) return;
    std::memcpy(p1, pcm.data(), l1);
    if (p2 && l2) std::memcpy(p2, pcm.data() + l1, l2);
    m_result = m_sound->unlock(p1, p2, l1, l2);
}

IndexSound::~IndexSound() {
    if (m_sound) m_sound->release();
}

Frame16 encodeFrame(unsigned int index) {
    return Frame16{static_cast<int16_t>(index & 0xFFFF), static_cast<int16_t>((index >> 16) & 0xFFFF)};
}

int64_t decodeFrame(const Frame16& f) {
    if (f.right < 0) return -1;
    return static_cast<int64_t>(static_cast<uint16_t>(f.left)) | (static_cast<int64_t>(f.right) << 16);
}

std::vector<Frame16> bytesToFrames(const std::vector<unsigned char>& bytes, size_t count) {
    std::vector<Frame16> out(count);
    for (size_t i = 0; i < count && (i + 1) * 4 <= bytes.size(); ++i) {
        std::memcpy(&out[i].left, &bytes[i * 4], 2);
        std::memcpy(&out[i].right, &bytes[i * 4 + 2], 2);
    }
    return out;
}

std::vector<Frame16> ascending(unsigned int first, unsigned int count) {
    std::vector<Frame16> out;
    for (unsigned int i = 0; i < count; ++i) out.push_back(encodeFrame(first + i));
    return out;
}

std::vector<Frame16> descending(unsigned int needle, unsigned int count) {
    std::vector<Frame16> out;
    for (unsigned int k = 1; k <= count; ++k) out.push_back(encodeFrame(needle - k));
    return out;
}

void crossFade(std::vector<Frame16>& frames, size_t at, int a, int b) {
    for (int i = 1; i <= 10 && at + static_cast<size_t>(i - 1) < frames.size(); ++i) {
        const float w = static_cast<float>(i) / 10.0f;
        Frame16& f = frames[at + static_cast<size_t>(i - 1)];
        f.left = static_cast<int16_t>(static_cast<float>(a) * (1.0f - w) + static_cast<float>(f.left) * w);
        f.right = static_cast<int16_t>(static_cast<float>(b) * (1.0f - w) + static_cast<float>(f.right) * w);
    }
}

}  // namespace deckpath_test
