#include "tschannel_rig.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "fmod_testhooks.hpp"

namespace tsc_test {

namespace {

FMOD::System* noSoundSystem() {
    // One decoding system for the whole test process, never mixed.
    static FMOD::System* system = [] {
        FMOD::System* s = nullptr;
        if (FMOD_System_Create(&s) != FMOD_OK || !s) return static_cast<FMOD::System*>(nullptr);
        s->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
        if (s->init(16, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) return static_cast<FMOD::System*>(nullptr);
        return s;
    }();
    return system;
}

}  // namespace

FMOD::System* decodingSystem() { return noSoundSystem(); }

GeneratedSound::GeneratedSound(unsigned int frames, int channels,
                               const std::function<float(unsigned int, int)>& sample, int bits, bool isFloat,
                               int rate)
    : m_frames(frames), m_channels(channels), m_bits(bits), m_float(isFloat) {
    FMOD::System* system = noSoundSystem();
    if (!system) return;
    const unsigned int bytesPerSample = static_cast<unsigned int>(bits / 8);
    const unsigned int length = frames * static_cast<unsigned int>(channels) * bytesPerSample;
    m_pcm.assign(length, 0);
    for (unsigned int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            float v = sample(i, c);
            v = v > 1.0f ? 1.0f : (v < -1.0f ? -1.0f : v);
            unsigned char* p = &m_pcm[(static_cast<size_t>(i) * channels + c) * bytesPerSample];
            if (bits == 8) {
                p[0] = static_cast<unsigned char>(static_cast<int8_t>(std::lrint(v * 127.0f)));
            } else if (bits == 16) {
                const int16_t s = static_cast<int16_t>(std::lrint(v * 32767.0f));
                std::memcpy(p, &s, 2);
            } else if (bits == 24) {
                const int32_t s = static_cast<int32_t>(std::lrint(static_cast<double>(v) * 8388607.0));
                p[0] = static_cast<unsigned char>(s & 0xff);
                p[1] = static_cast<unsigned char>((s >> 8) & 0xff);
                p[2] = static_cast<unsigned char>((s >> 16) & 0xff);
            } else if (isFloat) {
                std::memcpy(p, &v, 4);
            } else {
                const int32_t s = static_cast<int32_t>(std::llrint(static_cast<double>(v) * 2147483647.0));
                std::memcpy(p, &s, 4);
            }
        }
    }
    FMOD_CREATESOUNDEXINFO ex;
    std::memset(&ex, 0, sizeof ex);
    ex.cbsize = sizeof ex;
    ex.length = length;
    ex.numchannels = channels;
    ex.defaultfrequency = rate;
    switch (bits) {
        case 8: ex.format = FMOD_SOUND_FORMAT_PCM8; break;
        case 24: ex.format = FMOD_SOUND_FORMAT_PCM24; break;
        case 32: ex.format = isFloat ? FMOD_SOUND_FORMAT_PCMFLOAT : FMOD_SOUND_FORMAT_PCM32; break;
        default: ex.format = FMOD_SOUND_FORMAT_PCM16; break;
    }
    FMOD::Sound* sound = nullptr;
    if (system->createSound(nullptr, FMOD_OPENUSER | FMOD_SOFTWARE, &ex, &sound) != FMOD_OK || !sound) return;
    void *p1 = nullptr, *p2 = nullptr;
    unsigned int l1 = 0, l2 = 0;
    if (sound->lock(0, length, &p1, &p2, &l1, &l2) != FMOD_OK) {
        sound->release();
        return;
    }
    std::memcpy(p1, m_pcm.data(), l1);
    if (p2 && l2) std::memcpy(p2, m_pcm.data() + l1, l2);
    sound->unlock(p1, p2, l1, l2);
    m_sound = sound;
}

GeneratedSound::~GeneratedSound() {
    if (m_sound) m_sound->release();
}

float GeneratedSound::stored(unsigned int frame, int channel) const {
    const size_t at = static_cast<size_t>(frame) * m_channels + channel;
    if (m_bits == 8) return static_cast<float>(static_cast<int8_t>(m_pcm[at])) / 128.0f;
    if (m_bits == 24) {
        const unsigned char* p = &m_pcm[at * 3];
        int32_t s = p[0] | (p[1] << 8) | (p[2] << 16);
        if (s & 0x800000) s -= 0x1000000;
        return static_cast<float>(s) * (1.0f / 8388608.0f);
    }
    if (m_bits == 32) {
        if (m_float) {
            float f;
            std::memcpy(&f, &m_pcm[at * 4], 4);
            return f;
        }
        int32_t s;
        std::memcpy(&s, &m_pcm[at * 4], 4);
        return static_cast<float>(static_cast<double>(s) / 2147483648.0);
    }
    int16_t s;
    std::memcpy(&s, &m_pcm[at * 2], 2);
    return static_cast<float>(s) * (1.0f / 32768.0f);
}

GeneratedSound* makeTone(double hz, unsigned int frames, int channels, float amplitude) {
    return new GeneratedSound(frames, channels, [hz, amplitude](unsigned int i, int) {
        return amplitude * static_cast<float>(std::sin(2.0 * M_PI * hz * i / kRate));
    });
}

OutputRig::OutputRig(bool realtime, bool keepReceived) {
    m_table = std::make_unique<pw::test::DeviceTableFile>(std::string("output name=\"") + kCard +
                                                          "\" channels=2 sink=" +
                                                          (keepReceived ? "memory" : "discard") + " pacing=" +
                                                          (realtime ? "realtime" : "stepped") + "\n");
    if (FMOD_System_Create(&m_system) != FMOD_OK || !m_system) return;
    if (m_system->init(32, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) {
        m_system->release();
        m_system = nullptr;
        return;
    }
    m_wrapper = std::make_unique<FMODSystem>(m_system);
}

OutputRig::~OutputRig() {
    m_wrapper.reset();  // closes and releases the system
    m_table.reset();
}

bool OutputRig::play(TimeStretchedChannel& channel, unsigned int blocks, bool waitForRing) {
    auto* ring = channel.getOutputBuffer();
    while (blocks > 0) {
        if (waitForRing && ring && !ring->isBypassed()) {
            // Wait (bounded) until the worker has rendered what it keeps ahead of the mixer.
            // A paused or silent channel never gets there: then the card is stepped anyway.
            for (int spins = 0; !ring->holdsKeptAhead() && spins < 400; ++spins)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        if (ring && ring->isBypassed()) feedPrefetch(channel);
        // One block per fill: at speed 2 the card takes two ring blocks per block of its own.
        const unsigned int n = 1;
        // To rest: the mixer has taken its next block from the ring, so a report read now is
        // the frame it takes after that, and a change made now meets no take in progress.
        if (!pw::testhooks::stepToRest(kCard, n)) return false;
        blocks -= n;
    }
    return true;
}

std::vector<float> OutputRig::received() const { return pw::testhooks::received(kCard); }

void OutputRig::clearReceived() const { pw::testhooks::clearReceived(kCard); }

FreeRunningCard::FreeRunningCard()
    : m_thread([this] {
          while (!m_finished.load(std::memory_order_acquire)) {
              if (!pw::testhooks::step(kCard, 1)) {
                  m_stalled.store(true, std::memory_order_release);
                  return;
              }
              m_blocks.fetch_add(1, std::memory_order_relaxed);
          }
      }) {}

void FreeRunningCard::stop() {
    m_finished.store(true, std::memory_order_release);
    if (m_thread.joinable()) m_thread.join();
}

double measureFrequency(const std::vector<float>& stereo, size_t fromFrame, size_t frameCount, int channel) {
    const size_t end = std::min(stereo.size() / 2, fromFrame + frameCount);
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (size_t i = fromFrame + 1; i < end; ++i) {
        const float a = stereo[2 * (i - 1) + channel];
        const float b = stereo[2 * i + channel];
        if (a < 0.0f && b >= 0.0f) {
            const double t = static_cast<double>(i - 1) + static_cast<double>(-a) / static_cast<double>(b - a);
            if (first < 0.0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2 || last <= first) return 0.0;
    return (crossings - 1) * kRate / (last - first);
}

double measurePurity(const std::vector<float>& stereo, size_t fromFrame, size_t frameCount, double hz, int channel) {
    const size_t end = std::min(stereo.size() / 2, fromFrame + frameCount);
    if (end <= fromFrame + 2) return 0.0;
    // Least squares for x = a sin + b cos + c: the 3x3 normal equations, solved by Cramer's rule.
    double m[3][3] = {}, v[3] = {};
    for (size_t i = fromFrame; i < end; ++i) {
        const double w = 2.0 * M_PI * hz * static_cast<double>(i) / kRate;
        const double basis[3] = {std::sin(w), std::cos(w), 1.0};
        const double x = stereo[2 * i + channel];
        for (int r = 0; r < 3; ++r) {
            v[r] += basis[r] * x;
            for (int c = 0; c < 3; ++c) m[r][c] += basis[r] * basis[c];
        }
    }
    auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    if (d == 0.0) return 0.0;
    double coef[3];
    for (int k = 0; k < 3; ++k) {
        double mk[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) mk[r][c] = c == k ? v[r] : m[r][c];
        coef[k] = det(mk) / d;
    }
    double tonePower = 0.0, rest = 0.0;
    for (size_t i = fromFrame; i < end; ++i) {
        const double w = 2.0 * M_PI * hz * static_cast<double>(i) / kRate;
        const double fit = coef[0] * std::sin(w) + coef[1] * std::cos(w);
        const double e = stereo[2 * i + channel] - fit - coef[2];
        tonePower += fit * fit;
        rest += e * e;
    }
    if (rest <= 0.0) return 300.0;  // nothing left: purer than any measurement here
    return 10.0 * std::log10(tonePower / rest);
}

void takeOverPrefetch(TimeStretchedChannel& channel) {
    if (channel.getLoopSound()) channel.getLoopSound()->getBufferingSound()->stopBuffering();
}

void feedPrefetch(TimeStretchedChannel& channel, int passes) {
    if (!channel.getLoopSound()) return;
    for (int i = 0; i < passes; ++i) channel.getLoopSound()->getBufferingSound()->workerPass();
}

unsigned int heardFrame(TimeStretchedChannel& channel) {
    unsigned int p = 0;
    channel.getPosition(&p, FMOD_TIMEUNIT_PCM, false);
    return p;
}

void ChannelFixture::open(GeneratedSound* sound, bool onThisThread) {
    source.reset(sound);
    ASSERT_TRUE(source->ok());
    ASSERT_TRUE(rig.ok());
    channel = std::make_unique<TimeStretchedChannel>(rig.system(), source->get(), true);
    ASSERT_NE(channel->getFMODChannel(), nullptr);
    ASSERT_NE(channel->getOutputBuffer(), nullptr);
    ASSERT_EQ(channel->getBlockFrames(), kBlock);
    if (onThisThread) {
        channel->getOutputBuffer()->setBypass(true);
        takeOverPrefetch(*channel);
    }
}

void ChannelFixture::TearDown() {
    channel.reset();
    source.reset();
}

std::vector<float> ChannelFixture::render(unsigned int blocks, float fill, std::vector<int>* results) {
    std::vector<float> all;
    std::vector<float> block(kBlock * 2, fill);
    for (unsigned int b = 0; b < blocks; ++b) {
        feedPrefetch(*channel);
        const int r = channel->readFromBuffer(block.data(), kBlock, 2);
        if (results) results->push_back(r);
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

}  // namespace tsc_test
