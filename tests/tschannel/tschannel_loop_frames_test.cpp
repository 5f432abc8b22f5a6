// Loops through the real channel, frame by frame: a 16-bit stereo source whose every frame carries
// its own index (left = the low 15 bits, right = the rest), rendered at tempo 1.0 on this thread
// and decoded back. Laps from even and odd frames, short laps, leaving a loop, and a loop far
// behind the prefetch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

constexpr unsigned int kSourceFrames = 300000;
constexpr unsigned int kFade = LoopSound::kCrossFadeFrames;

GeneratedSound* indexSound() {
    return new GeneratedSound(kSourceFrames, 2, [](unsigned int i, int c) {
        return static_cast<float>(c == 0 ? (i & 0x7FFF) : (i >> 15)) / 32767.0f;
    });
}

// The 16-bit value of one output sample (gain 1, pan 0: the source sample / 2^15 exactly).
long value(const std::vector<float>& out, size_t frame, int channel) {
    return std::lrint(out[2 * frame + channel] * 32768.0f);
}

long indexAt(const std::vector<float>& out, size_t frame) { return value(out, frame, 0) + 32768 * value(out, frame, 1); }

class LoopFrames : public ChannelFixture {
protected:
    void openAt(unsigned int position) {
        open(indexSound());
        ASSERT_EQ(channel->setPosition(position, FMOD_TIMEUNIT_PCM), FMOD_OK);
        ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    }
    void loop(unsigned int start, unsigned int end) {
        ASSERT_EQ(channel->setLoopPoints(start, FMOD_TIMEUNIT_PCM, end, FMOD_TIMEUNIT_PCM), FMOD_OK);
        ASSERT_EQ(channel->setLoopCount(-1), FMOD_OK);
    }
};

// Play runs from before the loop into it, then laps. Every lap holds exactly the frames
// [start, end) in order; only the ten frames after each wrap are blended (the cross-fade).
TEST_F(LoopFrames, EveryLapHoldsExactlyTheLoopFrames) {
    struct Case {
        unsigned int start, length;
    };
    const Case cases[] = {
        {44100, 32502}, {44101, 32502}, {44101, 32501}, {44100, 32501},  // 737 ms, even and odd
        {66151, 16},    {66150, 23},    {66151, 23},    {66153, 1024}, {66151, 1025},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "loop " << c.start << " + " << c.length);
        const unsigned int lead = 300 + (c.start & 1);  // play starts on an even frame
        openAt(c.start - lead);
        loop(c.start, c.start + c.length);
        const unsigned int laps = std::max(3u, 20000u / c.length);
        const std::vector<float> out = render((lead + laps * c.length) / kBlock + 2);
        std::vector<long> expected;
        for (unsigned int i = 0; i < lead; ++i) expected.push_back(c.start - lead + i);
        for (unsigned int lap = 0; lap <= laps; ++lap)
            for (unsigned int i = 0; i < c.length; ++i) expected.push_back(c.start + i);
        const size_t frames = std::min(expected.size(), out.size() / 2);
        size_t wrong = 0, firstWrong = 0;
        for (size_t f = kFade; f < frames; ++f) {
            // The cross-fade after a wrap: the first ten frames of every lap.
            if (f >= lead && (f - lead) % c.length < kFade) continue;
            if (indexAt(out, f) != expected[f] && wrong++ == 0) firstWrong = f;
        }
        EXPECT_EQ(wrong, 0u) << "first at output frame " << firstWrong << ": " << indexAt(out, firstWrong)
                             << " for " << expected[firstWrong];
        channel.reset();
    }
}

// Leaving a loop at any point goes on from the frame after the last one played: the exits fall
// at every phase of the source's two-frame words against the odd lap and the blocks.
TEST_F(LoopFrames, LeavingALoopSkipsAndRepeatsNothing) {
    const unsigned int start = 20001, length = 4409;
    unsigned int broken = 0;
    for (unsigned int blocks = 5; blocks < 14; ++blocks) {
        SCOPED_TRACE(testing::Message() << "loop off after " << blocks << " blocks");
        openAt(start);
        loop(start, start + length);
        std::vector<float> out = render(blocks);
        ASSERT_EQ(channel->setLoopCount(0), FMOD_OK);
        const std::vector<float> after = render(6);
        out.insert(out.end(), after.begin(), after.end());
        // From the last wrap on, each frame follows the one before it.
        const size_t lastWrap = ((blocks * kBlock) / length) * length;
        size_t wrong = 0;
        for (size_t f = lastWrap + kFade + 1; f < out.size() / 2; ++f) wrong += indexAt(out, f) != indexAt(out, f - 1) + 1;
        broken += wrong > 0;
        EXPECT_EQ(wrong, 0u) << "loop left at output frame " << blocks * kBlock;
        EXPECT_GT(indexAt(out, out.size() / 2 - 1), static_cast<long>(start + length));  // it did leave
        channel.reset();
    }
    EXPECT_EQ(broken, 0u) << "of 9 exits";
}

// A loop set far behind play, beyond what the prefetch holds: the old audio fades out into silence
// while the prefetch fetches it, then the lap from its first frame, faded in from that silence. The largest step of the
// signal from the last frame before the silence to the end of the fade stays within one fade
// step of the loop's first frame, where a fade from the frame heard before the jump steps by
// nearly that frame's full value.
TEST_F(LoopFrames, LoopBeyondThePrefetchFadesInFromSilence) {
    const unsigned int play = 250000, start = 50000;
    openAt(play);
    std::vector<float> out = render(4);
    loop(start, start + 20000);
    const std::vector<float> after = render(8);
    out.insert(out.end(), after.begin(), after.end());
    const size_t jump = 4 * kBlock;  // the loop takes over at the next block
    ASSERT_GT(indexAt(out, jump - 1), static_cast<long>(play + kBlock));  // playing, far from the loop
    // The old audio first fades out into the silence: a ramp from the last frame before the
    // jump down to nothing over the fade's frames, never a step of that frame's full value.
    for (size_t f = jump; f <= jump + kFade; ++f)
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_LE(std::labs(value(out, f, ch) - value(out, f - 1, ch)), std::labs(value(out, jump - 1, ch)) / 10 + 2)
                << "fade-out, frame " << f;
    size_t resume = jump + kFade;
    while (resume < out.size() / 2 && value(out, resume, 0) == 0 && value(out, resume, 1) == 0) ++resume;
    ASSERT_LT(resume, out.size() / 2 - 2 * kFade) << "the loop never came in";
    EXPECT_GT(resume, jump) << "no silence: the test no longer reaches beyond the prefetch";
    long largest = 0;
    for (size_t f = resume; f < resume + kFade + 2; ++f)
        for (int ch = 0; ch < 2; ++ch) largest = std::max(largest, std::labs(value(out, f, ch) - value(out, f - 1, ch)));
    const long first = static_cast<long>(start & 0x7FFF);
    EXPECT_LE(largest, first / 10 + 2) << "largest step " << largest << " LSB";
    // After the fade, the lap itself, frame by frame.
    for (size_t f = resume + kFade; f < resume + 2000; ++f)
        ASSERT_EQ(indexAt(out, f), static_cast<long>(start + (f - resume))) << "frame " << f;
}

// The ring and the prefetch on their own threads, as a deck plays: every lap lasts exactly the
// loop, whatever the workers' timing. A loop from the start of the sound, or from where the
// prefetch was reset, starts at the oldest frame the prefetch holds; each wrap must find it there
// rather than reset the prefetch and play the refill's silence.
TEST_F(LoopFrames, LapsOnTheWorkersThreadsLastExactlyTheLoop) {
    const unsigned int length = 32502;  // 737 ms
    for (unsigned int start : {0u, 44100u, 44101u}) {
        SCOPED_TRACE(testing::Message() << "loop from " << start);
        open(indexSound(), false);
        ASSERT_EQ(channel->setPosition(start, FMOD_TIMEUNIT_PCM), FMOD_OK);
        loop(start, start + length);
        ASSERT_EQ(channel->setPaused(false), FMOD_OK);
        rig.clearReceived();
        ASSERT_TRUE(rig.play(*channel, 8 * length / kBlock));
        const std::vector<float> out = rig.received();
        // The first frame of each lap that the cross-fade leaves alone marks the lap.
        std::vector<size_t> marks;
        for (size_t f = 0; f < out.size() / 2; ++f)
            if (indexAt(out, f) == static_cast<long>(start + kFade)) marks.push_back(f);
        ASSERT_GE(marks.size(), 6u);
        for (size_t i = 1; i < marks.size(); ++i) EXPECT_EQ(marks[i] - marks[i - 1], length) << "lap " << i;
        channel.reset();
    }
}

}  // namespace

// A DJ pressing loop-out: the loop's end is the position reported, the frame the mixer takes
// next, while the ring holds audio rendered past it. With the ring and the prefetch on their own
// workers, as a deck plays: the first lap already ends at that frame (the ring is rendered again
// from it), with no silence before the wrap, at tempo 1.0 and with a loop-in set earlier too.
TEST_F(LoopFrames, ALoopEndingAtTheReportedFrameWrapsThereOnItsFirstLap) {
    struct Case {
        const char* label;
        unsigned int length;  // e - s
        bool endFirst;        // loop points, then the loop switched on (else loop on, then points)
    };
    const Case cases[] = {{"500 ms, points then loop on", 22050, true},
                          {"500 ms, loop on then points", 22050, false},
                          {"one block and a half", 1536, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        open(indexSound(), false);
        ASSERT_EQ(channel->setPosition(40000, FMOD_TIMEUNIT_PCM), FMOD_OK);
        ASSERT_EQ(channel->setPaused(false), FMOD_OK);
        rig.clearReceived();
        ASSERT_TRUE(rig.play(*channel, 30));
        const unsigned int e = heardFrame(*channel);
        ASSERT_GT(e, 40000u + 20 * kBlock);
        if (c.endFirst) {
            loop(e - c.length, e);
        } else {
            ASSERT_EQ(channel->setLoopCount(-1), FMOD_OK);
            ASSERT_EQ(channel->setLoopPoints(e - c.length, FMOD_TIMEUNIT_PCM, e, FMOD_TIMEUNIT_PCM), FMOD_OK);
        }
        ASSERT_TRUE(rig.play(*channel, 30));
        const std::vector<float> out = rig.received();
        // The first frame the index sequence leaves after frame e - 1 was heard: the wrap.
        size_t last = 0;
        while (last < out.size() / 2 && indexAt(out, last) != static_cast<long>(e - 1)) ++last;
        ASSERT_LT(last, out.size() / 2) << "frame e - 1 never played";
        size_t wrap = last + 1;
        while (wrap < out.size() / 2 && indexAt(out, wrap) == indexAt(out, wrap - 1) + 1) ++wrap;
        EXPECT_EQ(wrap, last + 1) << "the first lap ran " << wrap - last - 1 << " frames past its end";
        // After the wrap's fade: the lap from its first frame, no silence between.
        ASSERT_LT(wrap + kFade + 100, out.size() / 2);
        EXPECT_EQ(indexAt(out, wrap + kFade), static_cast<long>(e - c.length + kFade));
        channel.reset();
    }
}
