// The sampler's rules: slot bounds, empty slots, load failures, which paths are kept for a reload
// on another output, SetupSampler onto a slot without a system, and every call after shutdown
// (run under AddressSanitizer, where a released sound or channel touched again fails the test).
#include <functional>
#include <string>

#include "sampler_test_support.h"

namespace {

using namespace samplertest;

// Each slot operation, called on `slot`.
struct SlotCall {
    const char* what;
    std::function<int(int)> call;
};

std::vector<SlotCall> slotCalls() {
    return {
        {"LoadSample", [](int s) { char p[] = "x.wav"; return t_core.LoadSample(s, p, false, false); }},
        {"UnloadSample", [](int s) { return t_core.UnloadSample(s); }},
        {"PlaySample", [](int s) { return t_core.PlaySample(s, false); }},
        {"SetSampleVolume", [](int s) { return t_core.SetSampleVolume(s, 5000); }},
        {"SetSampleFrequencyPitch", [](int s) { return t_core.SetSampleFrequencyPitch(s, 1.5f); }},
        {"SetSampleMode", [](int s) { return t_core.SetSampleMode(s, true); }},
        {"SetSamplePosition", [](int s) { return t_core.SetSamplePosition(s, 10); }},
        {"GetSamplePosition", [](int s) { unsigned ms = 0; return t_core.GetSamplePosition(s, &ms); }},
        {"GetSampleLength", [](int s) { unsigned ms = 0; return t_core.GetSampleLength(s, &ms); }},
    };
}

TEST_F(SamplerOnCards, SlotsOutsideTheTableAreRefusedBeforeAnythingIsLogged) {
    ASSERT_EQ(t_core.SetupSampler(0), 1);
    const std::string before = logText();
    for (const SlotCall& c : slotCalls())
        for (int slot : {-1, 65, -1000, 1 << 30}) EXPECT_EQ(c.call(slot), -23) << c.what << " " << slot;
    for (int slot : {-1, 65, 1000}) EXPECT_EQ(t_core.SetupSampler(slot), -5) << slot;
    EXPECT_EQ(logText(), before);
    EXPECT_EQ(g_iSamplerSoundcard, 0);
}

TEST_F(SamplerOnCards, AnEmptySlotAnswers24AndTheSettersStillStore) {
    ASSERT_EQ(t_core.SetupSampler(0), 1);
    for (const SlotCall& c : slotCalls()) {
        if (std::string(c.what) == "LoadSample") continue;
        EXPECT_EQ(c.call(7), -24) << c.what;
    }
    EXPECT_FLOAT_EQ(g_fSamplerVolumes[7], 0.5f);
    EXPECT_FLOAT_EQ(g_fSamplerFrequencyPitches[7], 1.5f);
    EXPECT_EQ(t_core.SetSampleVolume(7, 15000), -24);
    EXPECT_FLOAT_EQ(g_fSamplerVolumes[7], 1.5f) << "stored unclamped";
}

TEST_F(SamplerOnCards, FailedLoadsLeaveTheSlotEmptyWithoutAPath) {
    ASSERT_EQ(t_core.SetupSampler(0), 1);
    std::vector<char> good = narrow(m_sample);
    const std::string text = m_dir + "/notes.wav";
    {
        std::FILE* f = std::fopen(text.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(std::string(4096, 'x').c_str(), f);
        std::fclose(f);
    }
    struct Case {
        std::string path;
        int result;
    } cases[] = {{m_dir + "/missing.wav", -16}, {text, -16}, {"", -16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(t_core.LoadSample(4, good.data(), false, false), 1);
        std::vector<char> path = narrow(c.path);
        EXPECT_EQ(t_core.LoadSample(4, path.data(), false, false), c.result);
        EXPECT_EQ(g_samplerSounds[4], nullptr);
        EXPECT_EQ(g_sSamplerFileNames[4][0], 0) << "the earlier file is forgotten";
    }
    // Without a system on the sampler's output slot.
    ASSERT_EQ(t_core.SetupSampler(20), 1);
    EXPECT_EQ(t_core.LoadSample(4, good.data(), false, false), -30);
    EXPECT_EQ(t_core.PlaySample(4, false), -30);
}

TEST_F(SamplerOnCards, LongUtf16PathsLoadButAreNotKept) {
    ASSERT_EQ(t_core.SetupSampler(0), 1);
    // Names of exactly 127 and 128 UTF-16 units, with a character outside ASCII.
    struct Case {
        size_t units;
        bool kept;
    } cases[] = {{127, true}, {128, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.units);
        std::u16string name(m_dir.begin(), m_dir.end());
        name += u"/\u00e9";
        ASSERT_LT(name.size() + 4, c.units);
        name += std::u16string(c.units - name.size() - 4, u'a');
        name += u".wav";
        ASSERT_EQ(name.size(), c.units);
        std::string utf8 = m_dir + "/\xc3\xa9" + std::string(c.units - m_dir.size() - 6, 'a') + ".wav";
        ASSERT_TRUE(writeTone(utf8, kSampleFrames));
        std::vector<char> path = utf16(name);

        ASSERT_EQ(t_core.LoadSample(9, path.data(), true, false), 1) << "loads either way";
        EXPECT_TRUE(g_bSamplerFileNameUnicode[9]);
        EXPECT_EQ(std::memcmp(g_sSamplerFileNames[9], path.data(), path.size()) == 0, c.kept);
        ASSERT_EQ(t_core.SetupSampler(1), 1);
        EXPECT_EQ(g_samplerSounds[9] != nullptr, c.kept) << "reloaded on the other card only when kept";
        ASSERT_EQ(t_core.SetupSampler(0), 1);
    }
}

TEST_F(SamplerOnCards, SetupOntoASlotWithoutSystemEmptiesEveryLoadedSlot) {
    ASSERT_EQ(t_core.SetupSampler(0), 1);
    std::vector<char> path = narrow(m_sample);
    for (int slot : {0, 3, 64}) ASSERT_EQ(t_core.LoadSample(slot, path.data(), false, false), 1);
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    ASSERT_EQ(t_core.SetupSampler(30), 1);
    for (int slot : {0, 3, 64}) {
        EXPECT_EQ(g_samplerSounds[slot], nullptr) << slot;
        EXPECT_EQ(g_samplerChannels[slot], nullptr) << slot;
    }
    // Nothing to move back: the slots hold neither sound nor channel.
    ASSERT_EQ(t_core.SetupSampler(0), 1);
    EXPECT_EQ(g_samplerSounds[3], nullptr);
}

TEST_F(SamplerOnCards, EveryCallAfterShutdownLeavesTheReleasedObjectsAlone) {
    ASSERT_EQ(t_core.SetupSampler(0), 1);
    std::vector<char> path = narrow(m_sample);
    ASSERT_EQ(t_core.LoadSample(3, path.data(), false, false), 1);
    ASSERT_EQ(t_core.LoadSample(5, path.data(), false, true), 1);
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    ASSERT_EQ(t_core.PlaySample(5, true), 1);
    t_core.CleanUp();
    EXPECT_EQ(live(hooks::Kind::Sound), 0);

    struct Case {
        const char* what;
        int result;
    };
    const Case expected[] = {{"LoadSample", -1},       {"UnloadSample", -24},     {"PlaySample", -30},
                             {"SetSampleVolume", -24}, {"SetSampleFrequencyPitch", -24}, {"SetSampleMode", -24},
                             {"SetSamplePosition", -24}, {"GetSamplePosition", -24}, {"GetSampleLength", -24}};
    const std::vector<SlotCall> calls = slotCalls();
    for (size_t i = 0; i < calls.size(); ++i)
        for (int slot : {3, 5}) EXPECT_EQ(calls[i].call(slot), expected[i].result) << expected[i].what << " " << slot;
    EXPECT_EQ(t_core.SetupSampler(0), 1);

    // A new start-up: the kept paths load again.
    ASSERT_EQ(t_core.InitPlayer(0, 1, kRate), 1);
    EXPECT_EQ(t_core.LoadSample(3, g_sSamplerFileNames[3], false, false), 1);
    EXPECT_EQ(t_core.PlaySample(3, false), 1);
}

}  // namespace
