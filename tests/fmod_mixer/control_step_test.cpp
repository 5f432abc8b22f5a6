// Moving a control on a playing channel never clicks: a steady -6 dBFS tone through the real mixer,
// each control moved there and back ten times at block boundaries, and the largest step between
// two output samples stays within three times the tone's own largest step. Each control's change
// must become a ramp or a cross-fade within one block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "mixer_drive.hpp"
#include "mixer_test_util.hpp"

using namespace pw::mixtest;

namespace {

constexpr unsigned kBlock = 256;
constexpr double kRate = 44100.0;
constexpr float kAmplitude = 0.5f;  // -6 dBFS

// What a case works on: the tone's channel, its unit (when the case uses one) and the master group.
struct Rig {
    FMOD::Channel* channel = nullptr;
    FMOD::DSP* unit = nullptr;
    FMOD::ChannelGroup* master = nullptr;
};

struct StepCase {
    std::string name;
    double hz;
    FMOD_DSP_TYPE unitType;  // FMOD_DSP_TYPE_UNKNOWN: no unit
    std::function<void(Rig&)> setup;
    std::function<void(Rig&)> there;
    std::function<void(Rig&)> back;
    double loudest = 10.0;  // the output's peak never goes above this (an echo adds up)
};

void param(Rig& r, int index, float value) { r.unit->setParameter(index, value); }

std::vector<StepCase> cases() {
    const auto none = [](Rig&) {};
    const FMOD_DSP_TYPE noUnit = FMOD_DSP_TYPE_UNKNOWN;
    return {
        {"volume", 1000, noUnit, none, [](Rig& r) { r.channel->setVolume(0.0f); },
         [](Rig& r) { r.channel->setVolume(1.0f); }},
        {"pan", 1000, noUnit, none, [](Rig& r) { r.channel->setPan(-1.0f); },
         [](Rig& r) { r.channel->setPan(1.0f); }},
        {"mute", 1000, noUnit, none, [](Rig& r) { r.channel->setMute(true); },
         [](Rig& r) { r.channel->setMute(false); }},
        {"pause", 1000, noUnit, none, [](Rig& r) { r.channel->setPaused(true); },
         [](Rig& r) { r.channel->setPaused(false); }},
        {"master volume", 1000, noUnit, none, [](Rig& r) { r.master->setVolume(0.0f); },
         [](Rig& r) { r.master->setVolume(1.0f); }},
        {"eq low kill", 100, FMOD_DSP_TYPE_PARAMEQ,
         [](Rig& r) {
             param(r, 0, 100.0f);
             param(r, 1, 2.0f);
         },
         [](Rig& r) { param(r, 2, 0.05f); }, [](Rig& r) { param(r, 2, 1.0f); }},
        {"eq mid kill", 2000, FMOD_DSP_TYPE_PARAMEQ,
         [](Rig& r) {
             param(r, 0, 2000.0f);
             param(r, 1, 2.0f);
         },
         [](Rig& r) { param(r, 2, 0.05f); }, [](Rig& r) { param(r, 2, 1.0f); }},
        {"low-pass cut-off", 1000, FMOD_DSP_TYPE_LOWPASS, [](Rig& r) { param(r, 0, 10.0f); },
         [](Rig& r) { param(r, 0, 10000.0f); }, [](Rig& r) { param(r, 0, 10.0f); }},
        {"high-pass cut-off", 1000, FMOD_DSP_TYPE_HIGHPASS, [](Rig& r) { param(r, 0, 0.0f); },
         [](Rig& r) { param(r, 0, 5000.0f); }, [](Rig& r) { param(r, 0, 0.0f); }},
        {"echo on/off", 1000, FMOD_DSP_TYPE_ECHO, [](Rig& r) { param(r, 0, 50.0f); },
         [](Rig& r) { r.unit->setBypass(true); }, [](Rig& r) { r.unit->setBypass(false); }},
        {"flange on/off", 1000, FMOD_DSP_TYPE_FLANGE, none, [](Rig& r) { r.unit->setBypass(true); },
         [](Rig& r) { r.unit->setBypass(false); }},
        {"compressor on/off", 1000, FMOD_DSP_TYPE_COMPRESSOR, [](Rig& r) { param(r, 0, -30.0f); },
         [](Rig& r) { r.unit->setBypass(true); }, [](Rig& r) { r.unit->setBypass(false); }},
        {"normaliser on/off", 1000, FMOD_DSP_TYPE_NORMALIZE, [](Rig& r) { param(r, 0, 10000.0f); },
         [](Rig& r) { r.unit->setBypass(true); }, [](Rig& r) { r.unit->setBypass(false); },
         // Its fade time of 10 s brings the tone up slowly: within the second this takes, by no
         // more than a tenth, not to full scale in the block it is switched on.
         0.55},
    };
}

double largestStep(const std::vector<float>& out, int channels, int channel, size_t fromFrame) {
    double worst = 0.0;
    for (size_t f = fromFrame + 1; f * channels < out.size(); ++f)
        worst = std::max(worst, std::fabs(double(out[f * channels + channel]) - out[(f - 1) * channels + channel]));
    return worst;
}

TEST(ControlStepTest, EveryControlMovedThereAndBackStaysWithinThreeTimesTheTonesOwnStep) {
    for (const StepCase& c : cases()) {
        SCOPED_TRACE(c.name);
        FMOD::System* system = makeOfflineSystem(kBlock);
        ASSERT_NE(system, nullptr);
        GenState tone;
        tone.hz = c.hz;
        tone.rate = kRate;
        tone.amplitude = kAmplitude;
        FMOD_DSP_DESCRIPTION d = describe("Tone", 1, sineRead, &tone);
        FMOD::DSP* head = nullptr;
        ASSERT_EQ(system->createDSP(&d, &head), FMOD_OK);
        Rig rig;
        ASSERT_EQ(system->getMasterChannelGroup(&rig.master), FMOD_OK);
        ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &rig.channel), FMOD_OK);
        if (c.unitType != FMOD_DSP_TYPE_UNKNOWN) {
            ASSERT_EQ(system->createDSPByType(c.unitType, &rig.unit), FMOD_OK);
            ASSERT_EQ(rig.channel->addDSP(rig.unit, nullptr), FMOD_OK);
        }
        c.setup(rig);
        std::vector<float> out;
        ASSERT_EQ(pw::mix::renderBlocks(system, 40, &out), FMOD_OK);  // settled before the first move
        const size_t settled = out.size() / 2 - 1;
        for (int i = 0; i < 10; ++i) {
            c.there(rig);
            ASSERT_EQ(pw::mix::renderBlocks(system, 7, &out), FMOD_OK);
            c.back(rig);
            ASSERT_EQ(pw::mix::renderBlocks(system, 5, &out), FMOD_OK);
        }
        const double toneStep = 2.0 * kAmplitude * std::sin(M_PI * c.hz / kRate);
        for (int ch = 0; ch < 2; ++ch) EXPECT_LE(largestStep(out, 2, ch, settled), 3.0 * toneStep) << "channel " << ch;
        for (float v : out) {
            ASSERT_TRUE(std::isfinite(v));
            ASSERT_LE(std::fabs(v), c.loudest);
        }
        if (rig.unit) {
            EXPECT_EQ(rig.unit->release(), FMOD_OK);
        }
        EXPECT_EQ(system->release(), FMOD_OK);
    }
}

}  // namespace
