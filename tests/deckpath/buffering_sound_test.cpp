// The prefetching source over a sound whose frames encode their own index. The worker is stopped
// right after construction and its passes are run by the test, so every read is deterministic.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "BufferingSound.h"
#include "index_sound.h"

namespace {

using deckpath_test::ascending;
using deckpath_test::bytesToFrames;
using deckpath_test::Frame16;
using deckpath_test::IndexSound;
using deckpath_test::descending;

constexpr unsigned int kFrames = 300000;

void pump(BufferingSound& bs, int passes) {
    for (int i = 0; i < passes; ++i) bs.workerPass();
}

struct Read {
    int result;
    unsigned int count;
    std::vector<unsigned char> bytes;
};

Read readBytes(BufferingSound& bs, unsigned int bytes) {
    Read r;
    r.bytes.assign(bytes, 0xAB);
    r.count = 12345;
    r.result = bs.readData(r.bytes.data(), bytes, &r.count);
    return r;
}

class BufferingSoundTest : public testing::Test {
protected:
    void SetUp() override {
        sound = std::make_unique<IndexSound>(kFrames, 2, 16);
        ASSERT_EQ(sound->createResult(), FMOD_OK);
        bs = std::make_unique<BufferingSound>(sound->get());
        bs->stopBuffering();
        pump(*bs, 20);
    }
    void TearDown() override {
        bs.reset();
        sound.reset();
    }
    std::unique_ptr<IndexSound> sound;
    std::unique_ptr<BufferingSound> bs;
};

TEST_F(BufferingSoundTest, ForwardReadDeliversEveryFrameThenReportsTheEnd) {
    std::vector<Frame16> got;
    const unsigned int block = 1024;
    while (got.size() + block <= kFrames) {
        Read r = readBytes(*bs, block * 4);
        ASSERT_EQ(r.result, 0);
        if (r.count == 0) {  // the ring ran dry: let the worker fill, then read again
            pump(*bs, 4);
            continue;
        }
        ASSERT_EQ(r.count, block * 4);
        const auto frames = bytesToFrames(r.bytes, block);
        got.insert(got.end(), frames.begin(), frames.end());
        pump(*bs, 1);
    }
    ASSERT_EQ(got, ascending(0, static_cast<unsigned int>(got.size())));
    pump(*bs, 4);
    // The last 992 frames are in the ring; a full block is not: zeros, count 0 and 22.
    Read tooMuch = readBytes(*bs, block * 4);
    EXPECT_EQ(tooMuch.result, FMOD_ERR_FILE_EOF);
    EXPECT_EQ(tooMuch.count, 0u);
    EXPECT_EQ(tooMuch.bytes, std::vector<unsigned char>(block * 4, 0));
    const unsigned int rest = kFrames - static_cast<unsigned int>(got.size());
    Read last = readBytes(*bs, rest * 4);
    EXPECT_EQ(last.result, 0);
    EXPECT_EQ(bytesToFrames(last.bytes, rest), ascending(kFrames - rest, rest));
    Read past = readBytes(*bs, 8);
    EXPECT_EQ(past.result, FMOD_ERR_FILE_EOF);
    EXPECT_EQ(past.count, 0u);
}

TEST_F(BufferingSoundTest, SeeksInsideTheWindowTakeEffectOnTheNextRead) {
    struct Case {
        unsigned int target;
        unsigned int expected;  // whole words: 16-bit stereo lands on the even frame below
        bool inside;
    };
    // The ring's bottom stays at frame 0 here; a target exactly at the bottom is held: inside.
    const Case cases[] = {{5000, 5000, true}, {5001, 5000, true}, {100, 100, true}, {30001, 30000, true},
                          {2, 2, true},       {0, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(bs->seekData(c.target), 0);
        EXPECT_EQ(bs->isSeekPending(), !c.inside);
        if (!c.inside) pump(*bs, 1);
        EXPECT_EQ(bs->GetPositionPCM(), c.expected);
        Read r = readBytes(*bs, 64);
        ASSERT_EQ(r.count, 64u);
        EXPECT_EQ(bytesToFrames(r.bytes, 16), ascending(c.expected, 16));
    }
}

TEST_F(BufferingSoundTest, SeekOutsideTheWindowGivesSilenceUntilTheWorkerResets) {
    ASSERT_EQ(bs->seekData(250000), 0);
    EXPECT_TRUE(bs->isSeekPending());
    EXPECT_EQ(bs->GetPositionPCM(), 250000u);
    for (int i = 0; i < 3; ++i) {
        Read r = readBytes(*bs, 256);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.count, 256u);  // full count while the seek is pending
        EXPECT_EQ(r.bytes, std::vector<unsigned char>(256, 0));
    }
    EXPECT_EQ(bs->GetPositionPCM(), 250000u);
    // A second target before the worker's pass replaces the first.
    ASSERT_EQ(bs->seekData(240002), 0);
    pump(*bs, 1);
    EXPECT_FALSE(bs->isSeekPending());
    Read r = readBytes(*bs, 64);
    ASSERT_EQ(r.count, 64u);
    EXPECT_EQ(bytesToFrames(r.bytes, 16), ascending(240002, 16));
    // Back to the start is outside the new window too.
    pump(*bs, 30);
    ASSERT_EQ(bs->seekData(10), 0);
    EXPECT_TRUE(bs->isSeekPending());
}

TEST(BufferingSoundFormats, PositionsFallOnWholeWords) {
    struct Case {
        int channels;
        int bits;
        unsigned int seek;
        unsigned int expected;
    };
    const Case cases[] = {
        {2, 16, 1001, 1000}, {2, 16, 1002, 1002}, {1, 16, 1003, 1000},
        {1, 16, 1004, 1004}, {1, 8, 1007, 1000},  {1, 8, 1008, 1008},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << "ch " << c.bits << "bit " << c.seek);
        IndexSound sound(20000, c.channels, c.bits);
        ASSERT_EQ(sound.createResult(), FMOD_OK);
        BufferingSound bs(sound.get());
        bs.stopBuffering();
        pump(bs, 4);
        bs.seekData(c.seek);
        EXPECT_EQ(bs.GetPositionPCM(), c.expected);
        std::vector<unsigned char> out(8);
        unsigned int count = 0;
        ASSERT_EQ(bs.readData(out.data(), 8, &count), 0);
        ASSERT_EQ(count, 8u);
        if (c.bits == 8) {
            EXPECT_EQ(out[0], static_cast<unsigned char>(c.expected & 0xFF));
        } else {
            int16_t first;
            std::memcpy(&first, out.data(), 2);
            EXPECT_EQ(first, static_cast<int16_t>(c.expected));
        }
    }
}

TEST_F(BufferingSoundTest, ReverseReadsPlayFrameByFrameBackward) {
    bs->seekData(5000);
    ASSERT_EQ(bs->setReverse(true), 0);
    EXPECT_TRUE(bs->isReverse());
    Read first = readBytes(*bs, 64);
    ASSERT_EQ(first.count, 64u);
    EXPECT_EQ(bytesToFrames(first.bytes, 16), descending(5000, 16));
    Read second = readBytes(*bs, 4096);
    ASSERT_EQ(second.count, 4096u);
    EXPECT_EQ(bytesToFrames(second.bytes, 1024), descending(4984, 1024));
    EXPECT_EQ(bs->GetPositionPCM(), 5000u - 16 - 1024);
}

TEST_F(BufferingSoundTest, ReverseDownToTheStartEndsWithEndOfFile) {
    bs->seekData(40);
    bs->setReverse(true);
    const int expectedResults[] = {0, 0, FMOD_ERR_FILE_EOF};
    const unsigned int expectedCounts[] = {64, 64, 0};
    for (int i = 0; i < 3; ++i) {
        Read r = readBytes(*bs, 64);
        EXPECT_EQ(r.result, expectedResults[i]) << i;
        EXPECT_EQ(r.count, expectedCounts[i]) << i;
    }
    EXPECT_EQ(bs->GetPositionPCM(), 8u);
}

TEST_F(BufferingSoundTest, BytesBeyondWholeWordsAreLeftUntouched) {
    Read r = readBytes(*bs, 4100);
    ASSERT_EQ(r.count, 4100u);
    EXPECT_EQ(bytesToFrames(r.bytes, 1024), ascending(0, 1024));
    EXPECT_EQ(std::vector<unsigned char>(r.bytes.end() - 4, r.bytes.end()), std::vector<unsigned char>(4, 0xAB));
    EXPECT_EQ(bs->GetPositionPCM(), 1024u);
}

// A reset less than one chunk after the start of the sound: nothing is ever fetched below it,
// and backward reads there are dropouts in the middle of the sound (result 0, count 0).
TEST_F(BufferingSoundTest, NothingIsFetchedBelowABottomNearTheStart) {
    bs->seekData(200000);
    pump(*bs, 2);
    bs->seekData(2000);
    ASSERT_TRUE(bs->isSeekPending());
    pump(*bs, 2);
    bs->setReverse(true);
    pump(*bs, 10);
    for (int i = 0; i < 3; ++i) {
        Read r = readBytes(*bs, 64);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.count, 0u);
    }
    EXPECT_EQ(bs->GetPositionPCM(), 2000u);
    bs->setReverse(false);
    Read forward = readBytes(*bs, 64);
    EXPECT_EQ(bytesToFrames(forward.bytes, 16), ascending(2000, 16));
}

// The last frame of a sound of odd length is not a whole word: it is never stored.
TEST(BufferingSoundEnd, PartialLastWordIsNotStored) {
    IndexSound sound(1001, 2, 16);
    ASSERT_EQ(sound.createResult(), FMOD_OK);
    BufferingSound bs(sound.get());
    bs.stopBuffering();
    pump(bs, 3);
    unsigned int length = 0;
    EXPECT_EQ(bs.getLength(&length, FMOD_TIMEUNIT_PCM), FMOD_OK);
    EXPECT_EQ(length, 1001u);
    std::vector<unsigned char> out(4000);
    unsigned int count = 0;
    ASSERT_EQ(bs.readData(out.data(), 4000, &count), 0);
    EXPECT_EQ(bytesToFrames(out, 1000), ascending(0, 1000));
    EXPECT_EQ(bs.readData(out.data(), 8, &count), FMOD_ERR_FILE_EOF);
    EXPECT_EQ(count, 0u);
}

TEST(BufferingSoundEnd, NoSoundAttached) {
    BufferingSound bs(nullptr);
    bs.stopBuffering();
    pump(bs, 2);
    unsigned int length = 7;
    EXPECT_EQ(bs.getLength(&length, FMOD_TIMEUNIT_PCM), FMOD_ERR_INTERNAL);
    float rate = 0;
    EXPECT_EQ(bs.getDefaults(&rate, nullptr, nullptr, nullptr), FMOD_ERR_INTERNAL);
    EXPECT_EQ(bs.GetPositionPCM(), 0u);
    std::vector<unsigned char> out(16, 1);
    unsigned int count = 0;
    EXPECT_EQ(bs.readData(out.data(), 16, &count), FMOD_ERR_FILE_EOF);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(out, std::vector<unsigned char>(16, 0));
}

}  // namespace
