// Shared by the sampler tests: two stepped virtual cards with memory sinks ("Card1" on slot 0,
// "Card2" on slot 1), a short tone written as the sample, paths in the UTF-16 form Java hands
// over, and a look at what a card received.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "deck_support.h"
#include "device_table_file.hpp"
#include "signal_measure.hpp"
#include "startup_test_support.h"

namespace samplertest {

using namespace startuptest;

constexpr int kRate = 44100;
constexpr double kToneHz = 441.0;  // a whole number of periods in every 100 frames
constexpr double kAmplitude = 0.5;
constexpr long kSampleFrames = kRate / 4;  // 250 ms
constexpr unsigned kSampleMs = 250;
constexpr unsigned kBlockFrames = 1024;   // the cards' DSP block at 20 ms

// The UTF-16 units of an ASCII or Latin-1 text with a two-byte terminator, as bytes.
inline std::vector<char> utf16(const std::u16string& text) {
    std::vector<char> bytes((text.size() + 1) * 2, 0);
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return bytes;
}

inline std::vector<char> narrow(const std::string& text) {
    std::vector<char> bytes(text.begin(), text.end());
    bytes.push_back('\0');
    return bytes;
}

inline bool writeTone(const std::string& path, long frames, double hz = kToneHz) {
    return deck_test::writeWav(path, kRate, 2, 16, frames, [hz](long f, int) {
        return static_cast<float>(kAmplitude * std::sin(2 * M_PI * hz * static_cast<double>(f) / kRate + 0.3));
    });
}

class SamplerOnCards : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_table = std::make_unique<pw::test::DeviceTableFile>(
            "output name=\"Card1\" channels=2 sink=memory pacing=stepped\n"
            "output name=\"Card2\" channels=2 sink=memory pacing=stepped\n");
        m_sample = m_dir + "/tone.wav";
        ASSERT_TRUE(writeTone(m_sample, kSampleFrames));
        ASSERT_EQ(t_core.InitPlayer(0, 1, kRate), 1);
        ASSERT_EQ(CTKCore::g_soundcardcount, 2);
    }
    void TearDown() override {
        t_core.CleanUp();
        m_table.reset();
        for (int slot = 0; slot < kTKSlotCount; ++slot) {
            g_fSamplerVolumes[slot] = 1.0f;
            g_fSamplerFrequencyPitches[slot] = 1.0f;
            g_sSamplerFileNames[slot][0] = 0;
            g_sSamplerFileNames[slot][1] = 0;
        }
        g_iSamplerSoundcard = 0;
        EngineTest::TearDown();
    }

    // What the card plays in the next `blocks` blocks, left channel only.
    static std::vector<float> nextLeft(const std::string& card, unsigned blocks) {
        hooks::clearReceived(card);
        EXPECT_TRUE(hooks::step(card, blocks));
        const std::vector<float> got = hooks::received(card);
        std::vector<float> left;
        for (size_t i = 0; i + 1 < got.size(); i += 2) left.push_back(got[i]);
        return left;
    }

    std::unique_ptr<pw::test::DeviceTableFile> m_table;
    std::string m_sample;
};

}  // namespace samplertest
