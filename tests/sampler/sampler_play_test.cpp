// Sample playback on stepped virtual cards: a one-shot that ends and reports its length, loop mode
// taking effect at the next start, a paused start, and volume and pitch carried to another card.
#include <string>
#include <vector>

#include "sampler_test_support.h"

namespace {

using namespace samplertest;

const double kToneRms = kAmplitude / std::sqrt(2.0);

// The RMS of the newest `frames` values.
double tailRms(const std::vector<float>& left, size_t frames) {
    if (left.size() < frames) return -1.0;
    return pw::test::rms(std::vector<float>(left.end() - static_cast<long>(frames), left.end()));
}

class SamplePlayback : public SamplerOnCards {
protected:
    void SetUp() override {
        SamplerOnCards::SetUp();
        ASSERT_EQ(t_core.SetupSampler(0), 1);
        ASSERT_EQ(t_core.SetSampleVolume(3, 10000), -24);
        ASSERT_EQ(t_core.SetSampleFrequencyPitch(3, 1.0f), -24);
        m_path = narrow(m_sample);
        ASSERT_EQ(t_core.LoadSample(3, m_path.data(), false, false), 1);
    }
    std::vector<char> m_path;
};

TEST_F(SamplePlayback, AOneShotPlaysOnItsCardThenReportsItsLength) {
    unsigned ms = 0;
    EXPECT_EQ(t_core.GetSamplePosition(3, &ms), -24) << "never played";
    ASSERT_EQ(t_core.GetSampleLength(3, &ms), 1);
    EXPECT_EQ(ms, kSampleMs);

    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    const std::vector<float> start = nextLeft("Card1", 4);
    EXPECT_NEAR(tailRms(start, 2 * kBlockFrames), kToneRms, 0.01);
    EXPECT_NEAR(pw::test::toneHz(std::vector<float>(start.end() - 2 * kBlockFrames, start.end()), kRate), kToneHz, 2.0);
    ASSERT_EQ(t_core.GetSamplePosition(3, &ms), 1);
    EXPECT_GT(ms, 0u);
    EXPECT_LT(ms, kSampleMs);

    // 250 ms are under 11 blocks: after 16 more the card is silent and the length is reported.
    const std::vector<float> rest = nextLeft("Card1", 16);
    EXPECT_EQ(tailRms(rest, 4 * kBlockFrames), 0.0);
    ASSERT_EQ(t_core.GetSamplePosition(3, &ms), 1);
    EXPECT_EQ(ms, kSampleMs);
    EXPECT_EQ(tailRms(nextLeft("Card2", 4), kBlockFrames), 0.0) << "nothing on the other card";
}

TEST_F(SamplePlayback, LoopModeTakesEffectAtTheNextPlay) {
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    ASSERT_EQ(t_core.SetSampleMode(3, true), 1);
    EXPECT_EQ(tailRms(nextLeft("Card1", 20), 4 * kBlockFrames), 0.0) << "the running one-shot still ends";

    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    const std::vector<float> looped = nextLeft("Card1", 40);  // over three laps
    EXPECT_NEAR(tailRms(looped, 8 * kBlockFrames), kToneRms, 0.01);
    unsigned ms = 0;
    ASSERT_EQ(t_core.GetSamplePosition(3, &ms), 1);
    EXPECT_LT(ms, kSampleMs) << "a loop reports where it is, not its length";

    ASSERT_EQ(t_core.SetSampleMode(3, false), 1);
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    EXPECT_EQ(tailRms(nextLeft("Card1", 20), 4 * kBlockFrames), 0.0) << "play once again";
}

TEST_F(SamplePlayback, APausedStartWaitsWithItsSettingsApplied) {
    ASSERT_EQ(t_core.SetSampleVolume(3, 5000), 1);
    ASSERT_EQ(t_core.SetSampleFrequencyPitch(3, 1.5f), 1);
    ASSERT_EQ(t_core.PlaySample(3, true), 1);
    FMOD::Channel* channel = g_samplerChannels[3];
    ASSERT_NE(channel, nullptr);
    bool paused = false;
    float volume = 0.0f;
    float frequency = 0.0f;
    ASSERT_EQ(channel->getPaused(&paused), FMOD_OK);
    ASSERT_EQ(channel->getVolume(&volume), FMOD_OK);
    ASSERT_EQ(channel->getFrequency(&frequency), FMOD_OK);
    EXPECT_TRUE(paused);
    EXPECT_FLOAT_EQ(volume, 0.5f);
    EXPECT_FLOAT_EQ(frequency, 1.5f * kRate);
    EXPECT_EQ(tailRms(nextLeft("Card1", 4), 2 * kBlockFrames), 0.0);

    // A second start stops the paused playback and plays the slot from 0. (The stopped handle is
    // handed back for reuse, but the audio layer never restarts a stopped handle: it takes a new
    // one, and the old one stays safe to ask.)
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    ASSERT_NE(g_samplerChannels[3], nullptr);
    bool oldPlaying = true;
    EXPECT_EQ(channel->isPlaying(&oldPlaying), FMOD_OK);
    EXPECT_EQ(oldPlaying, g_samplerChannels[3] == channel);
    const std::vector<float> heard = nextLeft("Card1", 4);
    EXPECT_NEAR(tailRms(heard, 2 * kBlockFrames), 0.5 * kToneRms, 0.01);
    EXPECT_NEAR(pw::test::toneHz(std::vector<float>(heard.end() - 2 * kBlockFrames, heard.end()), kRate),
                1.5 * kToneHz, 3.0);
}

TEST_F(SamplePlayback, SetupSamplerMovesTheSlotWithItsVolumeAndPitch) {
    ASSERT_EQ(t_core.SetSampleMode(3, true), 1);
    ASSERT_EQ(t_core.SetSampleVolume(3, 2500), 1);
    ASSERT_EQ(t_core.SetSampleFrequencyPitch(3, 0.5f), 1);
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    ASSERT_EQ(t_core.SetupSampler(1), 1);
    EXPECT_EQ(g_samplerChannels[3], nullptr) << "moved stopped";
    ASSERT_NE(g_samplerSounds[3], nullptr);
    EXPECT_FLOAT_EQ(g_fSamplerVolumes[3], 0.25f);
    EXPECT_FLOAT_EQ(g_fSamplerFrequencyPitches[3], 0.5f);

    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    const std::vector<float> heard = nextLeft("Card2", 6);
    EXPECT_NEAR(tailRms(heard, 2 * kBlockFrames), 0.25 * kToneRms, 0.005);
    EXPECT_NEAR(pw::test::toneHz(std::vector<float>(heard.end() - 2 * kBlockFrames, heard.end()), kRate),
                0.5 * kToneHz, 2.0);
    EXPECT_EQ(tailRms(nextLeft("Card1", 4), 2 * kBlockFrames), 0.0) << "no longer on the first card";
    // Reloaded as a one-shot: at half speed 500 ms, so 40 blocks see it end.
    EXPECT_EQ(tailRms(nextLeft("Card2", 40), 4 * kBlockFrames), 0.0);
}

}  // namespace
