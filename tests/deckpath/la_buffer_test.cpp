// The look-ahead ring: capacity and gap, wrap at the end of storage, half-window trimming,
// group- and frame-reversed backward reads and the ring without storage. Element values are the stream
// positions they stand for, so every expected output follows from positions alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "LABuffer.h"

namespace {

using Ring = CLABuffer<unsigned long>;

std::vector<unsigned long> stream(unsigned long first, size_t count) {
    std::vector<unsigned long> v(count);
    std::iota(v.begin(), v.end(), first);
    return v;
}

template <typename T>
unsigned int ahead(CLABuffer<T>& r) {
    r.LockMutex();
    const unsigned int v = r._GetUsedBufferSizeForward();
    r.UnlockMutex();
    return v;
}
template <typename T>
unsigned int behind(CLABuffer<T>& r) {
    r.LockMutex();
    const unsigned int v = r._GetUsedBufferSizeBackward();
    r.UnlockMutex();
    return v;
}

TEST(LABuffer, ResetLeavesAnEmptyRingAtThePosition) {
    struct Case {
        int64_t size;
        uint64_t position;
    };
    for (const Case& c : {Case{25, 0}, Case{8201, 77}, Case{Ring::kDefaultSize, 1u << 30}, Case{2097161, 5}}) {
        SCOPED_TRACE(c.size);
        Ring r;
        if (c.size != Ring::kDefaultSize) {
            r.ResizeBuffer(c.size);
        }
        ASSERT_EQ(r.ResetBuffer(c.position), 1);
        EXPECT_EQ(ahead(r), 0u);
        EXPECT_EQ(behind(r), 0u);
        EXPECT_EQ(r.GetFreeBufferSize(), static_cast<unsigned int>(c.size - 8));
        EXPECT_EQ(r.GetBottom(), c.size);
        EXPECT_EQ(r.GetAbsolutePosition(), c.position);
    }
}

TEST(LABuffer, FillsUpToFreeAndRefusesMore) {
    struct Case {
        int64_t size;
        uint64_t first;   // filled first
        uint64_t second;  // then this
        int expected;
        unsigned int freeAfter;
    };
    const Case cases[] = {
        {25, 17, 0, 1, 0},     // exactly free
        {25, 0, 18, -1, 17},   // one more than free: refused, nothing changes
        {25, 10, 8, -1, 7},    // second block one too many
        {25, 10, 7, 1, 0},
        {25, 0, 26, -1, 17},   // above the size
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << "+" << c.second);
        Ring r;
        r.ResizeBuffer(c.size);
        const auto a = stream(0, c.first);
        if (c.first) {
            ASSERT_EQ(r.FillBufferForward(a.data(), a.size()), 1);
        }
        const int64_t topBefore = r.GetTop();
        const auto b = stream(c.first, c.second);
        EXPECT_EQ(r.FillBufferForward(b.data(), b.size()), c.expected);
        EXPECT_EQ(r.GetFreeBufferSize(), c.freeAfter);
        if (c.expected != 1) {
            EXPECT_EQ(r.GetTop(), topBefore);
        }
    }
}

TEST(LABuffer, OutputRingTakesFourBlocksThenOneSampleIsFree) {
    struct Case {
        int channels;
        int frames;
    };
    for (const Case& c : {Case{2, 1024}, Case{1, 7}, Case{2, 3}, Case{6, 256}}) {
        SCOPED_TRACE(testing::Message() << c.channels << "x" << c.frames);
        CLABuffer<float> r;
        const int64_t block = static_cast<int64_t>(c.channels) * c.frames;
        r.ResizeBuffer(block * 4 + 9);
        std::vector<float> data(static_cast<size_t>(block), 0.5f);
        for (int i = 0; i < 4; ++i) ASSERT_EQ(r.FillBufferForward(data.data(), data.size()), 1) << i;
        EXPECT_EQ(r.GetFreeBufferSize(), 1u);
        EXPECT_EQ(r.FillBufferForward(data.data(), data.size()), -1);
        // The half window is two blocks: reading keeps two blocks behind the needle.
        std::vector<float> out(static_cast<size_t>(block));
        for (int i = 0; i < 3; ++i) ASSERT_EQ(r.ReadBufferForward(out.data(), out.size(), true), 1);
        EXPECT_EQ(behind(r), static_cast<unsigned int>(2 * block));
    }
}

// A fill and a read that end exactly at the end of storage leave top and needle at 0, and the
// data survives the wrap.
TEST(LABuffer, FillAndReadEndingAtTheEndOfStorageWrapToZero) {
    Ring r;
    r.ResizeBuffer(25);  // half window 8
    const auto first = stream(0, 17);
    ASSERT_EQ(r.FillBufferForward(first.data(), first.size()), 1);
    std::vector<unsigned long> out(17);
    ASSERT_EQ(r.ReadBufferForward(out.data(), out.size(), true), 1);
    EXPECT_EQ(out, first);
    EXPECT_EQ(behind(r), 8u);  // trimmed to the half window
    const auto second = stream(17, 8);
    ASSERT_EQ(r.FillBufferForward(second.data(), second.size()), 1);
    EXPECT_EQ(r.GetTop(), 0);
    out.assign(8, 0);
    ASSERT_EQ(r.ReadBufferForward(out.data(), out.size(), true), 1);
    EXPECT_EQ(r.GetNeedle(), 0);
    EXPECT_EQ(out, second);
    EXPECT_EQ(r.GetAbsolutePosition(), 25u);
}

TEST(LABuffer, ForwardReadNeedsTheDataAhead) {
    struct Case {
        uint64_t filled;
        uint64_t read;
        int expected;
    };
    for (const Case& c : {Case{12, 12, 1}, Case{12, 13, -1}, Case{0, 1, -1}, Case{12, 0, 1}}) {
        SCOPED_TRACE(testing::Message() << c.filled << "/" << c.read);
        Ring r;
        r.ResizeBuffer(25);
        r.ResetBuffer(40);
        const auto data = stream(40, c.filled);
        if (c.filled) {
            ASSERT_EQ(r.FillBufferForward(data.data(), data.size()), 1);
        }
        std::vector<unsigned long> out(c.read + 1, 0xDEAD);
        EXPECT_EQ(r.ReadBufferForward(out.data(), c.read, true), c.expected);
        if (c.expected == 1) {
            EXPECT_EQ(std::vector<unsigned long>(out.begin(), out.begin() + static_cast<long>(c.read)), stream(40, c.read));
            EXPECT_EQ(r.GetAbsolutePosition(), 40 + c.read);
        } else {
            for (uint64_t i = 0; i < c.read; ++i) EXPECT_EQ(out[i], 0u) << i;  // silence for the caller
            EXPECT_EQ(r.GetNeedle(), 0);
            EXPECT_EQ(r.GetAbsolutePosition(), 40u);
        }
        EXPECT_EQ(out[c.read], 0xDEADu);  // nothing written past the count
    }
}

TEST(LABuffer, ReadingTrimsTheFarSideToTheHalfWindow) {
    Ring r;
    r.ResizeBuffer(41);  // half window 16
    const auto data = stream(0, 30);
    ASSERT_EQ(r.FillBufferForward(data.data(), data.size()), 1);
    ASSERT_EQ(r.ReadBufferForward(nullptr, 25, false), 1);
    EXPECT_EQ(behind(r), 16u);
    EXPECT_EQ(ahead(r), 5u);
    // Backward now: reading back 16 leaves 21 ahead, trimmed to 16.
    ASSERT_EQ(r.ReadBufferBackward(nullptr, 16, false), 1);
    EXPECT_EQ(ahead(r), 16u);
    EXPECT_EQ(behind(r), 0u);
    EXPECT_EQ(r.GetAbsolutePosition(), 9u);
    // The trimmed side is free again.
    EXPECT_EQ(r.GetFreeBufferSize(), static_cast<unsigned int>(41 - 8 - 16));
}

// Moving top or bottom into the 8-element gap gives up elements on the other side.
TEST(LABuffer, TopAndBottomMovesRestoreTheGap) {
    struct Case {
        bool moveTop;
        int by;
        int64_t top;
        int64_t bottom;
    };
    // After a fill of 17 in a ring of 25: top 17, bottom 25, gap 8.
    for (const Case& c : {Case{true, 3, 20, 3}, Case{true, 0, 17, 25}, Case{false, -3, 14, 22},
                          Case{false, 2, 17, 2}}) {
        SCOPED_TRACE(testing::Message() << c.moveTop << " " << c.by);
        Ring r;
        r.ResizeBuffer(25);
        const auto data = stream(0, 17);
        ASSERT_EQ(r.FillBufferForward(data.data(), data.size()), 1);
        EXPECT_EQ(c.moveTop ? r.ToTop(c.by) : r.ToBottom(c.by), 1);
        EXPECT_EQ(r.GetTop(), c.top);
        EXPECT_EQ(r.GetBottom(), c.bottom);
    }
}

TEST(LABuffer, NeedleAtBottomMovingZeroKeepsBottom) {
    Ring r;
    r.ResizeBuffer(25);
    const int64_t bottom = r.GetBottom();
    EXPECT_EQ(r.ToNeedle(0, true), 1);
    EXPECT_EQ(r.GetBottom(), bottom);
    EXPECT_EQ(behind(r), 0u);
}

TEST(LABuffer, SkipReadMovesWithoutWriting) {
    Ring r;
    r.ResizeBuffer(25);
    r.ResetBuffer(1000);
    const auto data = stream(1000, 10);
    ASSERT_EQ(r.FillBufferForward(data.data(), data.size()), 1);
    std::vector<unsigned long> out(4, 7);
    EXPECT_EQ(r.ReadBufferForward(out.data(), 4, false), 1);
    EXPECT_EQ(out, std::vector<unsigned long>(4, 7));
    EXPECT_EQ(r.GetAbsolutePosition(), 1004u);
    ASSERT_EQ(r.ReadBufferForward(out.data(), 4, true), 1);
    EXPECT_EQ(out, stream(1004, 4));
}

// Backward fills prepend in their own order; backward reads reverse the order of groups, also
// across the end of storage.
TEST(LABuffer, BackwardReadsReverseGroupsAcrossTheEndOfStorage) {
    struct Case {
        int width;
        uint64_t count;
        std::vector<unsigned long> expected;
    };
    const Case cases[] = {
        {1, 17, {114, 113, 112, 111, 110, 109, 108, 107, 106, 105, 104, 103, 102, 101, 100, 99, 98}},
        {2, 16, {113, 114, 111, 112, 109, 110, 107, 108, 105, 106, 103, 104, 101, 102, 99, 100}},
        {4, 16, {111, 112, 113, 114, 107, 108, 109, 110, 103, 104, 105, 106, 99, 100, 101, 102}},
        {3, 7, {112, 113, 114, 109, 110, 111, 108}},  // a last partial group
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        Ring r;
        r.ResizeBuffer(25);  // half window 8
        r.ResetBuffer(100);
        const auto ahead15 = stream(100, 15);
        ASSERT_EQ(r.FillBufferForward(ahead15.data(), ahead15.size()), 1);
        ASSERT_EQ(r.ReadBufferForward(nullptr, 15, false), 1);  // bottom trimmed to stream 107
        ASSERT_EQ(behind(r), 8u);
        const auto before = stream(98, 9);  // wraps below storage index 0
        ASSERT_EQ(r.FillBufferBackward(before.data(), before.size()), 1);
        EXPECT_EQ(r.GetBottom(), 23);
        ASSERT_EQ(behind(r), 17u);
        r.SetGroupWidth(c.width);
        std::vector<unsigned long> out(c.count);
        ASSERT_EQ(r.ReadBufferBackward(out.data(), c.count, true), 1);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(r.GetAbsolutePosition(), 115 - c.count);
        // One more than is behind is refused and zeroes the output.
        std::vector<unsigned long> more(20, 9);
        EXPECT_EQ(r.ReadBufferBackward(more.data(), behind(r) + 1, true), -1);
        EXPECT_EQ(more[0], 0u);
    }
}

// A ring of words that carry a byte stream (the prefetch's PCM): with a frame size set, a backward
// read returns whole frames from the needle down, also frames that straddle two words and the
// end of storage.
TEST(LABuffer, BackwardReadsReverseFramesOfAnyByteWidth) {
    // Word w carries stream bytes 8w .. 8w+7, each byte the low 8 bits of its stream index.
    auto words = [](unsigned long first, size_t count) {
        std::vector<unsigned long> v(count);
        for (size_t i = 0; i < count; ++i) {
            unsigned char bytes[8];
            for (int b = 0; b < 8; ++b) bytes[b] = static_cast<unsigned char>((first + i) * 8 + b);
            std::memcpy(&v[i], bytes, 8);
        }
        return v;
    };
    for (const unsigned int frameBytes : {2u, 4u, 6u, 8u, 24u}) {
        SCOPED_TRACE(frameBytes);
        Ring r;
        r.ResizeBuffer(25);
        r.ResetBuffer(100);
        const auto ahead15 = words(100, 15);
        ASSERT_EQ(r.FillBufferForward(ahead15.data(), ahead15.size()), 1);
        ASSERT_EQ(r.ReadBufferForward(nullptr, 15, false), 1);
        const auto before = words(98, 9);  // wraps below storage index 0
        ASSERT_EQ(r.FillBufferBackward(before.data(), before.size()), 1);
        r.SetFrameBytes(frameBytes);
        std::vector<unsigned char> out(96);  // 12 words: whole frames of every width here
        ASSERT_EQ(r.ReadBufferBackward(reinterpret_cast<unsigned long*>(out.data()), 12, true), 1);
        std::vector<unsigned char> expected;
        for (unsigned int end = 115 * 8; expected.size() < 96; end -= frameBytes)
            for (unsigned int b = end - frameBytes; b < end; ++b) expected.push_back(static_cast<unsigned char>(b));
        EXPECT_EQ(out, expected);
        EXPECT_EQ(r.GetAbsolutePosition(), 103u);
    }
}

TEST(LABuffer, BackwardFillRefusedWithoutRoom) {
    Ring r;
    r.ResizeBuffer(25);
    const auto data = stream(0, 18);
    EXPECT_EQ(r.FillBufferBackward(data.data(), 18), -1);
    EXPECT_EQ(r.GetBottom(), 25);
    EXPECT_EQ(r.FillBufferBackward(data.data(), 17), 1);
    EXPECT_EQ(r.GetFreeBufferSize(), 0u);
}

TEST(LABuffer, RingWithoutStorageReportsAndNeverBlocks) {
    Ring r;
    r.ReleaseStorage();
    const unsigned long one = 1;
    unsigned long out = 5;
    struct Step {
        const char* name;
        int result;
        int expected;
    };
    const Step steps[] = {
        {"reset", r.ResetBuffer(3), -3},
        {"reset again", r.ResetBuffer(4), -3},
        {"fill forward", r.FillBufferForward(&one, 1), -3},
        {"fill backward", r.FillBufferBackward(&one, 1), -3},
        {"read forward", r.ReadBufferForward(&out, 1, true), -3},
        {"read backward", r.ReadBufferBackward(&out, 1, true), -3},
    };
    for (const Step& s : steps) EXPECT_EQ(s.result, s.expected) << s.name;
    EXPECT_EQ(r.GetFreeBufferSize(), static_cast<unsigned int>(Ring::kDefaultSize - 8));  // mutex not left taken
    EXPECT_EQ(r.GetAbsolutePosition(), 4u);
    r.ResizeBuffer(25);
    EXPECT_EQ(r.FillBufferForward(&one, 1), 1);
    EXPECT_EQ(r.GetAbsolutePosition(), 4u);  // a resize keeps the position
}

TEST(LABuffer, ValuesBeyondSizeWrapByWholeSizes) {
    struct Case {
        int64_t in;
        int64_t out;
    };
    for (const Case& c : {Case{-1, 24}, Case{-25, 0}, Case{-26, 24}, Case{25, 25}, Case{26, 1}, Case{50, 25},
                          Case{51, 1}, Case{0, 0}}) {
        CLAValue v;
        v.SetValue(c.in, 25);
        EXPECT_EQ(v.GetValue(25), c.out) << c.in;
    }
}

}  // namespace
