// The deck path with its real threads: the prefetch worker fills the ring, the output buffer's
// worker renders blocks from LoopSound, a mixer thread takes them out, and a control thread seeks.
// The frames heard must be exactly the frames of the source, in order; run under the thread
// sanitizer as well.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "LoopSound.h"
#include "com/tarvenkolm/outputbuffering/ITKOutputBuffer.h"
#include "index_sound.h"

namespace {

using com_tarvenkolm_outputbuffering::ITKOutputBuffer;
using com_tarvenkolm_outputbuffering::ITKOutputBufferSource;
using deckpath_test::ascending;
using deckpath_test::crossFade;
using deckpath_test::decodeFrame;
using deckpath_test::Frame16;
using deckpath_test::IndexSound;

constexpr unsigned int kFrames = 400000;
constexpr unsigned int kBlock = 256;

// Stands in for the channel's 1:1 render step: one block of raw frames from LoopSound, as floats
// holding the raw 16-bit values, and the corrector walked by the block.
class RawChannel : public ITKOutputBufferSource {
public:
    explicit RawChannel(LoopSound& source) : m_source(source) {}

    int readFromResampledBuffer(float* out, unsigned int frames, int channels, bool) override {
        if (channels != 2) return 1;
        std::vector<unsigned char>& raw = m_raw;
        raw.assign(frames * 4, 0);
        unsigned int filled = 0;
        // The loop path may end a call short while the prefetch catches up; keep reading.
        for (int attempt = 0; filled < raw.size() && attempt < 100000; ++attempt) {
            unsigned int got = 0;
            m_source.readData(raw.data() + filled, static_cast<unsigned int>(raw.size()) - filled, &got, corrector);
            if (got == 0 && filled == 0) return 1;  // a dropout: nothing rendered, try again later
            filled += got;
            if (got == 0) std::this_thread::yield();
        }
        for (unsigned int i = 0; i < frames; ++i) {
            int16_t l, r;
            std::memcpy(&l, &raw[i * 4], 2);
            std::memcpy(&r, &raw[i * 4 + 2], 2);
            out[i * 2] = l;
            out[i * 2 + 1] = r;
        }
        const int64_t mapped = corrector.getSamplePCMPos(1.0, frames);
        const int64_t last = decodeFrame(Frame16{static_cast<int16_t>(out[(frames - 1) * 2]),
                                                 static_cast<int16_t>(out[(frames - 1) * 2 + 1])});
        positions.push_back({last, mapped});
        return 0;
    }

    struct Mapping {
        int64_t lastFrame;
        int64_t mapped;
    };
    TimeStretchCorrector corrector;
    std::vector<Mapping> positions;  // render thread only, read after it stopped

private:
    LoopSound& m_source;
    std::vector<unsigned char> m_raw;
};

std::vector<Frame16> toFrames(const std::vector<float>& block) {
    std::vector<Frame16> frames(block.size() / 2);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = Frame16{static_cast<int16_t>(block[2 * i]), static_cast<int16_t>(block[2 * i + 1])};
    return frames;
}

bool silent(const std::vector<float>& block) {
    for (float v : block)
        if (v != 0.0f) return false;
    return true;
}

void waitForPrefetch(LoopSound& ls, unsigned int words) {
    BufferingSound* bs = ls.getBufferingSound();
    for (int i = 0; i < 20000; ++i) {
        bs->LockMutex();
        const unsigned int ahead = bs->_GetUsedBufferSizeForward();
        bs->UnlockMutex();
        if (ahead >= words) return;
        usleep(500);
    }
}

TEST(DeckPathThreaded, PlainPlayAndASeekOutsideTheWindowAreHeardInOrder) {
    IndexSound sound(kFrames, 2, 16);
    ASSERT_EQ(sound.createResult(), FMOD_OK);
    LoopSound ls(sound.get());
    waitForPrefetch(ls, 8192);
    ASSERT_EQ(ls.setPositionPCM(1000), 0);
    RawChannel channel(ls);
    channel.corrector.reset(1000);
    ITKOutputBuffer ob(&channel);
    ob.startBuffering(kBlock, 2, 44100.0f, true);

    // The mixer takes blocks; the control thread seeks far back once 100 have been heard.
    std::vector<Frame16> heard;
    std::atomic<int> blocks{0};
    std::thread control([&] {
        while (blocks.load() < 100) usleep(200);
        // As the channel does: the ring first, then the source, then the corrector.
        // and the source's fade from what the mixer took last, not from the audio the reset dropped.
        ob.reset(300000);
        float heardLeft = 0.0f, heardRight = 0.0f;
        ob.getLastTaken(&heardLeft, &heardRight);
        ls.setHeardFrame(heardLeft / 32768.0f, heardRight / 32768.0f);  // the raw channel's scale
        ls.setPositionPCM(300000);
    });
    std::vector<float> block(kBlock * 2);
    for (int reads = 0; blocks.load() < 300 && reads < 2000000; ++reads) {
        ob.readFromResampledBuffer(block.data(), kBlock, 2, true);
        if (silent(block)) {
            usleep(200);
            continue;
        }
        const auto frames = toFrames(block);
        heard.insert(heard.end(), frames.begin(), frames.end());
        blocks.fetch_add(1);
    }
    control.join();
    ob.setBypass(true);
    ls.stopBuffering();

    ASSERT_EQ(blocks.load(), 300);
    // Two runs: from 1000 up to wherever the seek cut in, then from 300000 on.
    size_t cut = 0;
    while (cut + 1 < heard.size() && decodeFrame(heard[cut + 1]) == decodeFrame(heard[cut]) + 1) ++cut;
    ASSERT_GE(cut + 1, 100u * kBlock);
    EXPECT_EQ(std::vector<Frame16>(heard.begin(), heard.begin() + static_cast<long>(cut + 1)),
              ascending(1000, static_cast<unsigned int>(cut + 1)));
    // The last frame heard fades out into the prefetch's silence (never a fade from audio the
    // ring rendered ahead and the reset dropped), then 300000 on fades in from that silence. When
    // the mixer took the emptied ring's silence first, that silence was heard: nothing fades out.
    const Frame16 last = heard[cut];
    std::vector<Frame16> fadeOut(10, Frame16{0, 0});
    crossFade(fadeOut, 0, last.left, last.right);
    ASSERT_GE(heard.size(), cut + 1 + fadeOut.size());
    const bool fadedOut = std::vector<Frame16>(heard.begin() + static_cast<long>(cut + 1),
                                               heard.begin() + static_cast<long>(cut + 11)) == fadeOut;
    size_t resume = fadedOut ? cut + 11 : cut + 1;
    while (resume < heard.size() && heard[resume].left == 0 && heard[resume].right == 0) ++resume;
    const std::vector<Frame16> after(heard.begin() + static_cast<long>(resume), heard.end());
    std::vector<Frame16> expectedAfter = ascending(300000, static_cast<unsigned int>(after.size()));
    crossFade(expectedAfter, 0, 0, 0);
    EXPECT_EQ(after, expectedAfter);
    // Before the seek every block maps back to the frame after its last one.
    for (size_t i = 0; i < 90 && i < channel.positions.size(); ++i)
        EXPECT_EQ(channel.positions[i].mapped, channel.positions[i].lastFrame + 1) << i;
}

TEST(DeckPathThreaded, LoopPlaysRoundWithCrossFades) {
    IndexSound sound(kFrames, 2, 16);
    ASSERT_EQ(sound.createResult(), FMOD_OK);
    LoopSound ls(sound.get());
    waitForPrefetch(ls, 65536);
    // 4000 frames: no lap ends on a block boundary, so every jump lies inside a read and fades
    // from the frame before it (a jump at the start of a read would fade from silence).
    const unsigned int start = 16, length = 4000;
    ASSERT_EQ(ls.setLoopPointsPCM(start, start + length), 0);
    ls.setLoop(true);
    ASSERT_EQ(ls.setPositionPCM(start), 0);
    RawChannel channel(ls);
    ITKOutputBuffer ob(&channel);
    ob.startBuffering(kBlock, 2, 44100.0f, true);

    std::vector<Frame16> heard;
    std::vector<float> block(kBlock * 2);
    const size_t wanted = 5 * length;
    for (int reads = 0; heard.size() < wanted && reads < 2000000; ++reads) {
        ob.readFromResampledBuffer(block.data(), kBlock, 2, true);
        if (silent(block)) {
            usleep(200);
            continue;
        }
        const auto frames = toFrames(block);
        heard.insert(heard.end(), frames.begin(), frames.end());
    }
    ob.setBypass(true);
    ls.stopBuffering();
    ASSERT_GE(heard.size(), wanted);
    heard.resize(wanted);

    // The seek at the start fades in from silence; every round after fades from the loop's
    // last frame.
    std::vector<Frame16> expected;
    for (int round = 0; round < 5; ++round) {
        auto lap = ascending(start, length);
        if (round == 0)
            crossFade(lap, 0, 0, 0);
        else
            crossFade(lap, 0, static_cast<int16_t>(start + length - 1), 0);
        expected.insert(expected.end(), lap.begin(), lap.end());
    }
    size_t firstDiff = 0;
    while (firstDiff < wanted && heard[firstDiff] == expected[firstDiff]) ++firstDiff;
    EXPECT_EQ(firstDiff, wanted) << "first difference at frame " << firstDiff;
}

// A zero-length loop with the prefetch worker delivering all the time: every read returns, empty,
// and play holds at the loop start (a hang here ends in the test runner's timeout).
TEST(DeckPathThreaded, ZeroLengthLoopReadsReturnWhileThePrefetchDelivers) {
    IndexSound sound(kFrames, 2, 16);
    ASSERT_EQ(sound.createResult(), FMOD_OK);
    LoopSound ls(sound.get());
    waitForPrefetch(ls, 65536);
    ASSERT_EQ(ls.setLoopPointsPCM(3000, 3000), 0);
    ls.setLoop(true);
    ASSERT_EQ(ls.setPositionPCM(3000), 0);
    TimeStretchCorrector corrector;
    std::vector<unsigned char> bytes(kBlock * 4);
    for (int call = 0; call < 50; ++call) {
        unsigned int got = 1;
        ls.readData(bytes.data(), static_cast<unsigned int>(bytes.size()), &got, corrector);
        EXPECT_EQ(got, 0u) << call;
        usleep(200);
    }
    EXPECT_EQ(ls.getReaderPosition(), 3000u);
    ls.stopBuffering();
}

}  // namespace
