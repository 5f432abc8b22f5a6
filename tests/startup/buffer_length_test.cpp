// DSP buffer lengths: the millisecond computation on its own, and what each card receives at
// start-up in millisecond and in sample mode (its clamped rate decides, card by card).
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "device_table_file.hpp"
#include "startup_test_support.h"

namespace {

using namespace startuptest;

struct LengthCase {
    unsigned rate;
    unsigned ms;
    unsigned length;
};

TEST(DSPBufferLengthForMS, PowerOfTwoWithinBounds) {
    const LengthCase cases[] = {
        {44100, 20, 1024},      // 882.5
        {48000, 20, 1024},      // 960.5
        {96000, 20, 2048},      // 1920.5
        {44100, 1, 128},        // 44.6, raised
        {44100, 3, 256},        // 132.8
        {192000, 2000, 262144}, // 384000, cut
        {44100, 0, 128},        // 0.5: one sample or less
        {0, 20, 128},
        {1000, 1, 128},         // 1.5 truncates to 1
        {2000, 1, 128},         // 2.5 -> 2 -> 2, raised
        {128000, 1, 128},       // exactly 128
        {129000, 1, 256},       // 129.5 -> 129
        {1024000, 1, 1024},     // a power of two stays
        {44100, 5944, 262144},  // 262130.9: the largest length itself
        {44100, 5945, 262144},  // 262175.0: beyond
        {4000000000u, 4000000000u, 262144},  // far beyond, no overflow
    };
    for (const LengthCase& c : cases)
        EXPECT_EQ(CTKCore::DSPBufferLengthForMS(c.rate, c.ms), c.length) << c.rate << " Hz, " << c.ms << " ms";
}

struct CardCase {
    const char* what;
    const char* table;      // the card(s); the length is checked on every slot in order
    unsigned useMS;
    unsigned ms;            // millisecond mode
    unsigned samples;       // sample mode: g_dsp_buffer_size before start-up
    unsigned rate;          // InitPlayer's rate argument
    std::vector<unsigned> perSlot;
    unsigned after;         // g_dsp_buffer_size after start-up
};

void PrintTo(const CardCase& c, std::ostream* os) { *os << c.what; }

class CardBuffers : public EngineTest, public ::testing::WithParamInterface<CardCase> {};

TEST_P(CardBuffers, EachCardGetsItsOwnLengthInFourBuffers) {
    const CardCase& c = GetParam();
    CTKCore::g_usebuffersizesMS = c.useMS;
    CTKCore::g_dsp_buffer_sizeMS = c.ms;
    CTKCore::g_dsp_buffer_size = c.samples;
    pw::test::DeviceTableFile table(c.table);
    ASSERT_EQ(t_core.InitPlayer(0, 1, c.rate), 1);
    ASSERT_EQ(CTKCore::g_soundcardcount, static_cast<int>(c.perSlot.size()));
    for (int i = 0; i < CTKCore::g_soundcardcount; ++i) {
        unsigned length = 0;
        int buffers = 0;
        ASSERT_EQ(CTKCore::g_Systems[i]->getDSPBufferSize(&length, &buffers), FMOD_OK);
        EXPECT_EQ(length, c.perSlot[i]) << "slot " << i;
        EXPECT_EQ(buffers, 4) << "slot " << i;
    }
    EXPECT_EQ(CTKCore::g_dsp_buffer_size, c.after);
}

// 22 ms: 1024 at 44100 Hz and below, 2048 at 48000 Hz up to 93090 Hz, 4096 above.
const CardCase kCards[] = {
    {"RaisedToMinimum", "output name=\"A\" minrate=48000 maxrate=96000\n", 1, 22, 0, 44100, {2048}, 2048},
    {"CutToMaximum", "output name=\"A\" minrate=8000 maxrate=44100\n", 1, 22, 0, 96000, {1024}, 1024},
    {"InsideRangeUnchanged", "output name=\"A\" minrate=8000 maxrate=192000\n", 1, 22, 0, 96000, {4096}, 4096},
    {"ZeroMinimumLeavesRate", "output name=\"A\" minrate=0 maxrate=44100\n", 1, 22, 0, 96000, {4096}, 4096},
    {"ZeroMaximumLeavesRate", "output name=\"A\" minrate=48000 maxrate=0\n", 1, 22, 0, 44100, {1024}, 1024},
    {"NextCardStartsFromArgument",
     "output name=\"A\" minrate=48000 maxrate=96000\noutput name=\"B\"\n", 1, 22, 0, 44100, {2048, 1024}, 1024},
    {"LastCardWritesBack",
     "output name=\"B\"\noutput name=\"A\" channels=4 minrate=48000 maxrate=96000\n", 1, 22, 0, 44100,
     {1024, 2048, 2048, 2048}, 2048},
    {"SampleModePassesSizeUnchanged",
     "output name=\"A\" minrate=48000 maxrate=96000\noutput name=\"B\"\n", 0, 22, 3000, 44100, {3000, 3000}, 3000},
};

INSTANTIATE_TEST_SUITE_P(Cards, CardBuffers, ::testing::ValuesIn(kCards),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
