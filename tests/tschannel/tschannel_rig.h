// Test rig of the time-stretched channel: generated 16-bit sources as user sounds on a no-sound
// system, a stepped virtual 44.1 kHz stereo card that keeps what it receives, and measurements
// on the received signal.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FMODSystem.h"
#include "TimestretchedChannel.h"
#include "device_table_file.hpp"
#include "fmod.hpp"

namespace tsc_test {

constexpr int kRate = 44100;
constexpr unsigned int kBlock = 1024;  // the card's block, and the channel's
constexpr const char* kCard = "Card1";

// The no-sound system the generated sounds (and tests' files) are created on, as the engine's
// silent system decodes a deck's file.
FMOD::System* decodingSystem();

// A user sound of `frames` frames of `bits`-bit samples (8, 16, 24 or 32; 32 with isFloat is
// IEEE float); sample(frame, channel) gives the value in [-1, 1].
class GeneratedSound {
public:
    GeneratedSound(unsigned int frames, int channels, const std::function<float(unsigned int, int)>& sample,
                   int bits = 16, bool isFloat = false, int rate = kRate);
    ~GeneratedSound();
    GeneratedSound(const GeneratedSound&) = delete;
    GeneratedSound& operator=(const GeneratedSound&) = delete;

    FMOD::Sound* get() const { return m_sound; }
    bool ok() const { return m_sound != nullptr; }
    // The exact float the channel makes of a stored sample (value / 2^15 for 16 bits, / 2^23 for
    // 24, / 2^31 for 32-bit integers, the value itself for float).
    float stored(unsigned int frame, int channel) const;
    unsigned int frames() const { return m_frames; }

private:
    FMOD::Sound* m_sound = nullptr;
    unsigned int m_frames;
    int m_channels;
    int m_bits;
    bool m_float;
    std::vector<unsigned char> m_pcm;
};

GeneratedSound* makeTone(double hz, unsigned int frames, int channels = 2, float amplitude = 0.5f);

// The output side: the device table, an initialised system on the card and its wrapper. The card
// is stepped by play(), or with realtime set paced by the clock, as a sound card would be.
class OutputRig {
public:
    // realtime paces the card by the clock; keepReceived false discards what the card gets (for
    // long stress runs).
    explicit OutputRig(bool realtime = false, bool keepReceived = true);
    ~OutputRig();
    bool ok() const { return m_wrapper != nullptr; }
    FMODSystem* system() { return m_wrapper.get(); }

    // Renders `blocks` mixer blocks, letting the channel's ring fill to what its worker keeps
    // ahead before each block so the card never reads an empty ring. With a bypassed ring the card is simply stepped.
    // Returns false when the card or the ring stopped answering.
    // waitForRing false steps the card at once (dropouts allowed; for stress runs).
    bool play(TimeStretchedChannel& channel, unsigned int blocks, bool waitForRing = true);
    std::vector<float> received() const;
    void clearReceived() const;

private:
    std::unique_ptr<pw::test::DeviceTableFile> m_table;
    FMOD::System* m_system = nullptr;
    std::unique_ptr<FMODSystem> m_wrapper;
};

// Steps the rig's card back to back on a thread of its own until stopped, so that the mixer is
// nearly always inside a callback. stalled() turns true when the mixer stopped taking blocks
// (the card's step gives up after 10 s): a mixer stuck in a callback.
class FreeRunningCard {
public:
    FreeRunningCard();
    ~FreeRunningCard() { stop(); }
    FreeRunningCard(const FreeRunningCard&) = delete;
    FreeRunningCard& operator=(const FreeRunningCard&) = delete;

    void stop();
    bool stalled() const { return m_stalled.load(std::memory_order_acquire); }
    unsigned int blocks() const { return m_blocks.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_stalled{false};
    std::atomic<unsigned int> m_blocks{0};
    std::thread m_thread;
};

// Frequency of channel `channel` of interleaved stereo samples [from, from + count) frames,
// from rising zero crossings (interpolated). 0 without two crossings.
double measureFrequency(const std::vector<float>& stereo, size_t fromFrame, size_t frameCount, int channel = 0);

// Purity of a tone of `hz` in channel `channel` of interleaved stereo frames [from, from + count):
// the power of the best-fitting sine of that frequency (with an offset) over the power of what is
// left, in dB. Distortion, clicks and silence all lower it.
double measurePurity(const std::vector<float>& stereo, size_t fromFrame, size_t frameCount, double hz,
                     int channel = 0);

// Stops the channel's prefetch worker so the test drives it: feedPrefetch runs its passes on
// the calling thread, which makes direct render steps deterministic.
void takeOverPrefetch(TimeStretchedChannel& channel);
void feedPrefetch(TimeStretchedChannel& channel, int passes = 8);

// Heard PCM frame of the channel (no interpolation).
unsigned int heardFrame(TimeStretchedChannel& channel);

// A channel on the rig's card over a generated source. open() makes it; by default its render
// ring is bypassed and its prefetch driven by the test, so render() steps it on this thread
// alone. The channel is released before its source.
class ChannelFixture : public ::testing::Test {
protected:
    // Takes `sound`. onThisThread false leaves the ring and the prefetch to their own threads.
    void open(GeneratedSound* sound, bool onThisThread = true);
    void TearDown() override;
    // Renders `blocks` blocks into one interleaved stereo vector. `fill` is what the block buffer
    // holds beforehand (the ring's worker reuses one buffer, so stale content must never
    // survive); the render results go to `results` when given.
    std::vector<float> render(unsigned int blocks, float fill = 0.75f, std::vector<int>* results = nullptr);

    OutputRig rig;
    std::unique_ptr<GeneratedSound> source;
    std::unique_ptr<TimeStretchedChannel> channel;
};

}  // namespace tsc_test
