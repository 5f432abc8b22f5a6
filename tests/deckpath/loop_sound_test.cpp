// The loop and snippet source over a sound whose frames encode their own index: loops, planned
// loop changes, snippets, seeks and reverse, with the cross-fade after every jump, and the
// corrector's walk over what was read. The prefetch worker is stopped and driven by the test.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "LoopSound.h"
#include "index_sound.h"

namespace {

using deckpath_test::ascending;
using deckpath_test::bytesToFrames;
using deckpath_test::crossFade;
using deckpath_test::encodeFrame;
using deckpath_test::Frame16;
using deckpath_test::IndexSound;
using deckpath_test::descending;

constexpr unsigned int kFrames = 300000;

std::vector<Frame16> concat(std::initializer_list<std::vector<Frame16>> parts) {
    std::vector<Frame16> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<Frame16> faded(std::vector<Frame16> frames, int a, int b) {
    crossFade(frames, 0, a, b);
    return frames;
}

class LoopSoundTest : public testing::Test {
protected:
    void SetUp() override {
        sound = std::make_unique<IndexSound>(kFrames, 2, 16);
        ASSERT_EQ(sound->createResult(), FMOD_OK);
        ls = std::make_unique<LoopSound>(sound->get());
        ls->stopBuffering();
        pump(20);
    }
    void TearDown() override {
        ls.reset();
        sound.reset();
    }
    void pump(int passes) {
        for (int i = 0; i < passes; ++i) ls->getBufferingSound()->workerPass();
    }
    // Puts both the reader and the prefetch ring at a frame outside the current window.
    void placeFar(unsigned int frame) {
        ASSERT_EQ(ls->setPositionPCM(frame), 0);
        ls->getBufferingSound()->seekData(frame);
        pump(4);
    }
    std::vector<Frame16> read(unsigned int frames, int* result = nullptr) {
        pump(4);
        std::vector<unsigned char> bytes(frames * 4, 0xEE);
        unsigned int count = 0;
        const int r = ls->readData(bytes.data(), frames * 4, &count, corrector);
        if (result) *result = r;
        return bytesToFrames(bytes, count / 4);
    }
    std::unique_ptr<IndexSound> sound;
    std::unique_ptr<LoopSound> ls;
    TimeStretchCorrector corrector;
};

TEST_F(LoopSoundTest, FormatAndConversionsComeFromTheSound) {
    unsigned int length = 0;
    EXPECT_EQ(ls->getLength(&length, FMOD_TIMEUNIT_PCM), FMOD_OK);
    EXPECT_EQ(length, kFrames);
    unsigned int start = 1, end = 0;
    ls->getLoopWindow(&start, &end);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, kFrames);
    struct Conversion {
        unsigned int ms;
        unsigned int pcm;
    };
    for (const Conversion& c : {Conversion{0, 0}, Conversion{1, 44}, Conversion{1000, 44100}, Conversion{250, 11025}}) {
        EXPECT_EQ(ls->ConvertMS2PCM(c.ms), c.pcm) << c.ms;
    }
    for (const Conversion& c : {Conversion{0, 22}, Conversion{1, 23}, Conversion{1000, 44100}}) {
        EXPECT_EQ(ls->ConvertPCM2MS(c.pcm), c.ms) << c.pcm;
    }
}

TEST_F(LoopSoundTest, PlainForwardAndReverseReadsMapBackThroughTheCorrector) {
    ASSERT_EQ(ls->setPositionPCM(1000), 0);
    corrector.reset(1000);
    for (unsigned int block = 0; block < 3; ++block) {
        EXPECT_EQ(read(1024), ascending(1000 + block * 1024, 1024)) << block;  // no fade on the plain path
        EXPECT_EQ(corrector.getSamplePCMPos(1.0, 1024), 1000 + (block + 1) * 1024);
    }
    EXPECT_EQ(ls->getReaderPosition(), 4072u);
    ASSERT_EQ(ls->setReverse(true), 0);
    EXPECT_TRUE(ls->isReverse());
    EXPECT_EQ(read(1024), descending(4072, 1024));
    EXPECT_EQ(corrector.getSamplePCMPos(1.0, 1024), 3048);
}

TEST_F(LoopSoundTest, PlainPathEndOfDataAndBound) {
    placeFar(kFrames - 100);
    int result = -1;
    EXPECT_TRUE(read(1024, &result).empty());  // more than is left: nothing, result 0
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read(100, &result), ascending(kFrames - 100, 100));
    EXPECT_EQ(ls->getReaderPosition(), kFrames);
    EXPECT_TRUE(read(16, &result).empty());
    EXPECT_EQ(result, 0);

    // Reverse play counts the position up: passing the length is result 2, position unchanged.
    // The seek crosses over from the last frame played.
    placeFar(kFrames - 1000);
    ls->setReverse(true);  // the next passes fill behind the needle
    const auto frames = read(2048, &result);
    EXPECT_EQ(result, FMOD_ERR_BADCOMMAND);
    const Frame16 last = encodeFrame(kFrames - 1);
    EXPECT_EQ(frames, faded(descending(kFrames - 1000, 2048), last.left, last.right));
    EXPECT_EQ(ls->getReaderPosition(), kFrames - 1000);
}

TEST_F(LoopSoundTest, LoopJumpsBackWithACrossFade) {
    ASSERT_EQ(ls->setLoopPointsPCM(1000, 1500), 0);
    ls->setLoop(true);
    EXPECT_TRUE(ls->isLoopEnabled());
    ASSERT_EQ(ls->setPositionPCM(1200), 0);
    corrector.reset(1200);
    // The seek fades in from silence; the loop end fades from the last frame (1499).
    const auto expected = concat({faded(ascending(1200, 300), 0, 0), faded(ascending(1000, 300), 1499, 0)});
    EXPECT_EQ(read(600), expected);
    // The corrector walks the frames read: 300 frames end at the loop end; the jump back is
    // walked from the loop start, so the walk ends at the 1300 heard.
    EXPECT_EQ(corrector.getSamplePCMPos(1.0, 300), 1500);
    EXPECT_EQ(corrector.getSamplePCMPos(1.0, 300), 1300);
}

TEST_F(LoopSoundTest, PlannedLoopEndBeforeThePositionWaitsForTheJump) {
    struct Case {
        const char* name;
        unsigned int start;  // position after the first 16 frames
        std::vector<Frame16> expected;
        unsigned int frames;
    };
    const Case cases[] = {
        {"applied within a chunk", 1216,
         concat({ascending(1216, 284), faded(ascending(1000, 300), 1499, 0)}), 584},
        {"applied at the loop start", 1716,
         concat({ascending(1716, 284), faded(ascending(1000, 500), 1999, 0), faded(ascending(1000, 100), 1499, 0)}),
         884},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ASSERT_EQ(ls->setLoopPointsPCM(1000, 2000), 0);
        ls->setLoop(true);
        ASSERT_EQ(ls->setPositionPCM(c.start - 16), 0);
        read(16);  // takes the fade-in of the seek
        ASSERT_EQ(ls->setLoopPointsPCM(1000, 1500), 0);
        EXPECT_TRUE(ls->isLoopPlanned());
        unsigned int start = 0, end = 0;
        ls->getLoopWindow(&start, &end);
        EXPECT_EQ(end, 2000u);
        EXPECT_EQ(read(c.frames), c.expected);
        EXPECT_FALSE(ls->isLoopPlanned());
        ls->getLoopWindow(&start, &end);
        EXPECT_EQ(start, 1000u);
        EXPECT_EQ(end, 1500u);
    }
}

TEST_F(LoopSoundTest, LoopChangesArePlannedOnlyWhileLoopingAwayFromTheEnd) {
    struct Case {
        bool looping;
        unsigned int oldEnd;
        unsigned int newStart;
        unsigned int newEnd;
        bool planned;
    };
    const Case cases[] = {
        {true, 2000, 1000, 1500, true},
        {true, kFrames - 89, 1000, 1500, true},
        {true, kFrames - 88, 1000, 1500, false},  // within 88 frames of the end: at once
        {true, kFrames - 50, 1000, 1500, false},
        {false, 2000, 1000, 1500, false},         // loop off: at once
        {true, 2000, 900, 1500, false},           // the start moves: at once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.looping << " " << c.oldEnd << " " << c.newStart);
        SetUp();
        ASSERT_EQ(ls->setLoopPointsPCM(1000, c.oldEnd), 0);
        ls->setLoop(c.looping);
        ASSERT_EQ(ls->setLoopPointsPCM(c.newStart, c.newEnd), 0);
        EXPECT_EQ(ls->isLoopPlanned(), c.planned);
        unsigned int start = 0, end = 0;
        ls->getLoopWindow(&start, &end);
        EXPECT_EQ(start, c.planned ? 1000u : c.newStart);
        EXPECT_EQ(end, c.planned ? c.oldEnd : c.newEnd);
    }
}

TEST_F(LoopSoundTest, BadLoopPointsAreRefused) {
    struct Case {
        unsigned int start;
        unsigned int end;
    };
    for (const Case& c : {Case{200, 100}, Case{0, kFrames + 1}, Case{kFrames + 1, kFrames + 2},
                          Case{0x80000000u, 0x80000001u}}) {
        EXPECT_EQ(ls->setLoopPointsPCM(c.start, c.end), FMOD_ERR_INVALID_PARAM) << c.start << "-" << c.end;
    }
    unsigned int start = 1, end = 0;
    ls->getLoopWindow(&start, &end);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, kFrames);
    EXPECT_EQ(ls->setLoopPoints(1000, 500), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(ls->setLoopPoints(10, 20), 0);  // milliseconds
    ls->getLoopWindow(&start, &end);
    EXPECT_EQ(start, 441u);
    EXPECT_EQ(end, 882u);
}

TEST_F(LoopSoundTest, LoopSwitchedOnPastTheLoopEndJumpsAtOnce) {
    ASSERT_EQ(ls->setLoopPointsPCM(1000, 1500), 0);
    ASSERT_EQ(ls->setPositionPCM(3000), 0);
    EXPECT_EQ(read(64), ascending(3000, 64));
    ls->setLoop(true);
    EXPECT_EQ(read(32), faded(ascending(1000, 32), 3063, 0));  // faded from the last frame played
}

TEST_F(LoopSoundTest, PositionBeyondTheLoopEndIsRefusedWhileLooping) {
    ASSERT_EQ(ls->setLoopPointsPCM(1000, 1500), 0);
    ls->setLoop(true);
    ASSERT_EQ(ls->setPositionPCM(1200), 0);
    EXPECT_EQ(ls->setPositionPCM(1600), FMOD_ERR_BADCOMMAND);
    EXPECT_EQ(ls->seekData(1501, true), FMOD_ERR_BADCOMMAND);
    EXPECT_EQ(ls->getReaderPosition(), 1200u);
    EXPECT_EQ(ls->setPositionPCM(1500), 0);  // the bound itself is allowed
    ls->setLoop(false);
    EXPECT_EQ(ls->setPositionPCM(1600), 0);
}

TEST_F(LoopSoundTest, SnippetsPlayInOrderThenPlayGoesOn) {
    ASSERT_EQ(ls->setPositionPCM(1000), 0);
    EXPECT_EQ(read(64), ascending(1000, 64));
    EXPECT_EQ(ls->addPlaybackSnippetMs(0, 100), 0);    // [0, 4410): plays from the position
    EXPECT_EQ(ls->addPlaybackSnippetMs(200, 250), 0);  // [8820, 11025)
    // The first snippet runs on from 1064 without a jump; the second starts with a jump and a
    // fade from 4409; after it play goes on without a jump from the snippet's end, 11025, though
    // the prefetch reads whole 8-byte words and the snippet ends inside one.
    const auto expected = concat({ascending(1064, 3346), faded(ascending(8820, 2205), 4409, 0), ascending(11025, 100)});
    EXPECT_EQ(read(3346 + 2205 + 100), expected);
    EXPECT_FALSE(ls->isPositionsAvailable());
    EXPECT_EQ(read(16), ascending(11125, 16));  // the plain path again
}

TEST_F(LoopSoundTest, SnippetAlreadyPassedIsSkipped) {
    ASSERT_EQ(ls->setPositionPCM(5000), 0);
    read(16);
    ls->addPlaybackSnippetMs(0, 50);     // ends at 2205, behind the position
    ls->addPlaybackSnippetMs(200, 210);  // [8820, 9261)
    EXPECT_EQ(read(100), faded(ascending(8820, 100), 5015, 0));  // from the last frame played
}

TEST_F(LoopSoundTest, ReverseLoopCountsThePositionUp) {
    ASSERT_EQ(ls->setLoopPointsPCM(1000, 1200), 0);
    ls->setLoop(true);
    ASSERT_EQ(ls->setPositionPCM(1100), 0);
    ls->setReverse(true);
    // 100 frames (the region end less the position) backward from 1100, then the jump to the
    // loop start, backward from there, faded from the last frame written (1000).
    const auto expected = concat({faded(descending(1100, 100), 0, 0), faded(descending(1000, 40), 1000, 0)});
    EXPECT_EQ(read(140), expected);
}

TEST_F(LoopSoundTest, SnippetPastTheEndOfTheSoundEndsWithEndOfFile) {
    placeFar(kFrames - 64);
    ls->addPlaybackSnippetMs(0, 10000);  // ends beyond the sound
    int result = 0;
    EXPECT_EQ(read(1000, &result), faded(ascending(kFrames - 64, 64), 0, 0));
    EXPECT_EQ(result, FMOD_ERR_FILE_EOF);
}

// Regions that hold no frames: the read ends instead of spinning on empty copies. A zero-length
// loop holds play, silent, at the loop start; an empty snippet is dropped and the next one plays.
TEST_F(LoopSoundTest, EmptyRegionsEndTheReadInsteadOfSpinning) {
    ASSERT_EQ(ls->setPositionPCM(900), 0);
    ASSERT_EQ(ls->setLoopPointsPCM(1000, 1000), 0);
    ls->setLoop(true);
    for (int call = 0; call < 3; ++call) {
        int result = -1;
        EXPECT_TRUE(read(64, &result).empty()) << call;
        EXPECT_EQ(result, 0) << call;
        EXPECT_EQ(ls->getReaderPosition(), 1000u) << call;
    }

    ls->setLoop(false);
    ASSERT_EQ(ls->setPositionPCM(1000), 0);
    read(16);
    ls->addPlaybackSnippetMs(300, 200);  // ends before it starts
    ls->addPlaybackSnippetMs(400, 410);  // [17640, 18081)
    EXPECT_EQ(read(100), faded(ascending(17640, 100), 1015, 0));  // from the last frame played
}

// Backward below a ring bottom that never grows: the loop path stops retrying and returns what
// it has instead of waiting forever.
TEST_F(LoopSoundTest, LoopPathGivesUpOnAPrefetchThatNeverDelivers) {
    placeFar(200000);
    placeFar(2000);
    EXPECT_EQ(read(16), ascending(2000, 16));  // forward data is there
    placeFar(2000);
    ls->setReverse(true);
    ls->addPlaybackSnippetMs(0, 10000);
    int result = -1;
    EXPECT_TRUE(read(64, &result).empty());
    EXPECT_EQ(result, 0);
}

TEST_F(LoopSoundTest, SwitchingTheLoopOffRestoresTheWholeSound) {
    struct Case {
        const char* name;
        unsigned int firstEnd;   // loop [0 or 1000, firstEnd], looping
        unsigned int loopStart;
        unsigned int plannedEnd; // then a planned change to this end (0: none)
        unsigned int windowEnd;
        bool plannedAfter;
    };
    const Case cases[] = {
        {"planned change dropped", 2000, 1000, 1500, kFrames, false},
        {"whole sound already", kFrames, 0, 0, kFrames, false},
        {"planned end already the length: only the switch", 1500, 0, kFrames, 1500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ASSERT_EQ(ls->setLoopPointsPCM(c.loopStart, c.firstEnd), 0);
        ls->setLoop(true);
        if (c.plannedEnd) {
            ASSERT_EQ(ls->setLoopPointsPCM(c.loopStart, c.plannedEnd), 0);
            ASSERT_TRUE(ls->isLoopPlanned());
        }
        ls->setLoop(false);
        EXPECT_FALSE(ls->isLoopEnabled());
        unsigned int start = 1, end = 0;
        ls->getLoopWindow(&start, &end);
        EXPECT_EQ(start, c.windowEnd == kFrames ? 0u : c.loopStart);
        EXPECT_EQ(end, c.windowEnd);
        EXPECT_EQ(ls->isLoopPlanned(), c.plannedAfter);
    }
}

// Every lap holds exactly the loop's frames in order, whatever the loop's length against the
// 64-byte chunk (16 frames here) and the read block; only the first ten frames of a lap are
// faded from the frame before the wrap.
TEST_F(LoopSoundTest, EveryLapHoldsTheLoopFramesInOrder) {
    struct Case {
        unsigned int start, length, block;
    };
    const Case cases[] = {
        {1000, 1000, 1024}, {1000, 1024, 1000}, {2000, 777, 256}, {3000, 4096, 1024},
        {5000, 333, 1000}, {7000, 505, 62},   {9000, 2048, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "loop " << c.start << "+" << c.length << " read " << c.block);
        ls = std::make_unique<LoopSound>(sound->get());
        ls->stopBuffering();
        pump(20);
        ASSERT_EQ(ls->setLoopPointsPCM(c.start, c.start + c.length), 0);
        ls->setLoop(true);
        ASSERT_EQ(ls->setPositionPCM(c.start), 0);
        const unsigned int laps = 6;
        std::vector<Frame16> got;
        while (got.size() < laps * c.length) {
            const auto part = read(c.block);
            ASSERT_EQ(part.size(), c.block);
            got.insert(got.end(), part.begin(), part.end());
        }
        const Frame16 last = encodeFrame(c.start + c.length - 1);
        std::vector<Frame16> expected = faded(ascending(c.start, c.length), 0, 0);
        for (unsigned int lap = 1; lap < laps; ++lap) {
            const auto next = faded(ascending(c.start, c.length), last.left, last.right);
            expected.insert(expected.end(), next.begin(), next.end());
        }
        got.resize(expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(got[i], expected[i]) << "lap " << i / c.length << " frame " << i % c.length;
    }
}

// A jump to a loop start the prefetch has not loaded: silence that is not counted as played, then
// the lap from its first frame, faded in from that silence.
TEST_F(LoopSoundTest, LoopStartNotYetLoadedIsSilenceThatDoesNotCount) {
    placeFar(250000);
    EXPECT_EQ(read(100), ascending(250000, 100));
    ASSERT_EQ(ls->setLoopPointsPCM(150000, 151000), 0);
    ls->setLoop(true);  // play is past the loop end: the next read jumps to its start
    std::vector<unsigned char> bytes(400 * 4, 0xEE);
    unsigned int count = 0;
    ls->readData(bytes.data(), 400 * 4, &count, corrector);
    EXPECT_EQ(ls->getReaderPosition(), 150000u) << "silence counted as played";
    EXPECT_EQ(read(400), faded(ascending(150000, 400), 0, 0));
}

// A wrap at the very start of a read fades from the loop's last frame, not from silence.
TEST_F(LoopSoundTest, WrapAtTheStartOfAReadFadesFromTheLoop) {
    ASSERT_EQ(ls->setLoopPointsPCM(1000, 1512), 0);
    ls->setLoop(true);
    ASSERT_EQ(ls->setPositionPCM(1000), 0);
    EXPECT_EQ(read(512), faded(ascending(1000, 512), 0, 0));
    const Frame16 last = encodeFrame(1511);
    EXPECT_EQ(read(100), faded(ascending(1000, 100), last.left, last.right));
}

// A snippet that ends beyond the loop's end plays to its end, then the loop takes over again.
TEST_F(LoopSoundTest, SnippetBeyondTheLoopEndStillEnds) {
    ASSERT_EQ(ls->setLoopPointsPCM(1000, 2000), 0);
    ls->setLoop(true);
    ASSERT_EQ(ls->setPositionPCM(1000), 0);
    ASSERT_EQ(ls->addPlaybackSnippetMs(50, 100), 0);  // [2205, 4410)
    const auto expected = concat({faded(ascending(1000, 3410), 0, 0), faded(ascending(1000, 200), 4409, 0)});
    EXPECT_EQ(read(3610), expected);
    EXPECT_FALSE(ls->isPositionsAvailable());
}


TEST(LoopSound8Bit, CrossFadeCoversTenFramesOfEightBitStereo) {
    IndexSound sound(20000, 2, 8);
    ASSERT_EQ(sound.createResult(), FMOD_OK);
    LoopSound ls(sound.get());
    ls.stopBuffering();
    for (int i = 0; i < 6; ++i) ls.getBufferingSound()->workerPass();
    ASSERT_EQ(ls.setLoopPointsPCM(100, 200), 0);
    ls.setLoop(true);
    ASSERT_EQ(ls.setPositionPCM(152), 0);
    TimeStretchCorrector corrector;
    std::vector<unsigned char> out(58 * 2);
    unsigned int count = 0;
    ASSERT_EQ(ls.readData(out.data(), static_cast<unsigned int>(out.size()), &count, corrector), 0);
    ASSERT_EQ(count, out.size());

    std::vector<int8_t> expected;
    auto append = [&](unsigned int first, unsigned int frames, int prev) {
        for (unsigned int i = 0; i < frames; ++i) {
            const int8_t s = static_cast<int8_t>((first + i) & 0xFF);
            int8_t v = s;
            if (i < 10) {
                const float w = static_cast<float>(i + 1) / 10.0f;
                v = static_cast<int8_t>(static_cast<float>(prev) * (1.0f - w) + static_cast<float>(s) * w);
            }
            expected.push_back(v);
            expected.push_back(v);
        }
    };
    append(152, 48, 0);
    append(100, 10, static_cast<int8_t>(199));
    std::vector<int8_t> got(out.size());
    std::memcpy(got.data(), out.data(), out.size());
    EXPECT_EQ(got, expected);
}

TEST(PositionSequencer, QueueKeepsOrderAndRefusesAnEmptyFront) {
    PositionSequencer q;
    EXPECT_FALSE(q.isPositionsAvailable());
    EXPECT_THROW(q.getCurrentPositionSnippet(), std::out_of_range);
    EXPECT_THROW(q.removeCurrentPositionSnippet(), std::out_of_range);
    struct Snip {
        unsigned int start, end;
    };
    const Snip snips[] = {{10, 20}, {50, 40}, {0, 0}};  // no bounds test: an end before the start is kept
    for (const Snip& s : snips) EXPECT_TRUE(q.addSnippet(s.start, s.end));
    for (const Snip& s : snips) {
        ASSERT_TRUE(q.isPositionsAvailable());
        EXPECT_EQ(q.getCurrentPositionSnippet().start, s.start);
        const PositionSnippet removed = q.removeCurrentPositionSnippet();
        EXPECT_EQ(removed.start, s.start);
        EXPECT_EQ(removed.end, s.end);
    }
    EXPECT_FALSE(q.isPositionsAvailable());
    EXPECT_TRUE(q.addSnippet(1, 2));  // the lock was released after the throws
}

}  // namespace
