// Before the library's first SetupSampler every slot has volume 0 and pitch 0: a sample played
// then is silent. The first SetupSampler sets every slot to 1.0, overwriting what was set before
// it; later ones keep the values. A process of its own: the first call happens once per library.
#include <string>
#include <vector>

#include "sampler_test_support.h"

namespace {

using namespace samplertest;

TEST_F(SamplerOnCards, SilentUntilTheFirstSetupThenUnityOnce) {
    std::vector<char> path = narrow(m_sample);
    ASSERT_EQ(t_core.LoadSample(3, path.data(), false, false), 1);
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    float volume = -1.0f;
    float frequency = -1.0f;
    ASSERT_EQ(g_samplerChannels[3]->getVolume(&volume), FMOD_OK);
    ASSERT_EQ(g_samplerChannels[3]->getFrequency(&frequency), FMOD_OK);
    EXPECT_EQ(volume, 0.0f);
    EXPECT_EQ(frequency, 0.0f);
    EXPECT_EQ(pw::test::rms(nextLeft("Card1", 6)), 0.0);

    ASSERT_EQ(t_core.SetSampleVolume(3, 2500), 1);
    ASSERT_EQ(t_core.SetupSampler(0), 1);
    EXPECT_EQ(g_fSamplerVolumes[3], 1.0f) << "the first setup overwrites it";
    EXPECT_EQ(g_fSamplerFrequencyPitches[3], 1.0f);
    EXPECT_EQ(g_fSamplerVolumes[64], 1.0f);
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    const std::vector<float> heard = nextLeft("Card1", 4);
    EXPECT_NEAR(pw::test::rms(std::vector<float>(heard.end() - 2 * kBlockFrames, heard.end())),
                kAmplitude / std::sqrt(2.0), 0.01);

    ASSERT_EQ(t_core.SetSampleVolume(3, 2500), 1);
    ASSERT_EQ(t_core.SetupSampler(0), 1);
    EXPECT_EQ(g_fSamplerVolumes[3], 0.25f) << "later setups keep it";
}

}  // namespace
