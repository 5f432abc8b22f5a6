// How a recording ends: a disk that fills part way, a writer that is stalled when close comes, and
// the count of dropped blocks from one recording to the next. Every sample written carries its own
// frame index, so a lost, repeated or shifted frame shows in the file read back.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "FMODSystem.h"
#include "mixdown_test_support.h"
#include "temp_dir.hpp"

namespace {

using mixdowntest::readFile;
using mixdowntest::s16At;
using mixdowntest::u32At;

// Frame f holds (f mod 32768, -(f mod 32768) - 1) as 16-bit samples.
int16_t leftOf(size_t f) { return int16_t(f % 32768); }
int16_t rightOf(size_t f) { return int16_t(-int(f % 32768) - 1); }

// Holds the process's file-size limit at `bytes` for its life, with SIGXFSZ ignored: a write beyond
// the limit then fails with EFBIG, as one fails with ENOSPC on a full disk, and no mount is needed.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool ok_ = false;
};

// A 10 s recording (44100 Hz stereo, 1.76 MB) written block by block onto a disk that holds
// `room` bytes: the header describes exactly the whole frames on disk, they are the recording's
// first frames, and close says whether the recording is whole.
TEST(MixDownClose, AFullDiskLeavesAHeaderThatDescribesTheFile) {
    constexpr size_t kFrames = 441000;
    constexpr unsigned kBlock = 441;
    const struct {
        rlim_t room;
        int closeResult;
    } cases[] = {
        {1 << 20, -29},             // 1 MiB
        {(1 << 20) + 3, -29},       // a frame cut in half
        {4096 * 37 + 1, -29},       // full within the first stream buffers
        {44 + 4 * kFrames, 1},      // exactly enough
        {8 << 20, 1},               // room to spare
    };
    std::vector<short> all(kFrames * 2);
    for (size_t f = 0; f < kFrames; ++f) all[2 * f] = leftOf(f), all[2 * f + 1] = rightOf(f);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.room) + " bytes of room");
        pw::test::TempDir dir;
        const std::string path = dir.file("full.wav");
        int closed = 0;
        {
            CMixDown recorder;
            FileSizeLimit limit(c.room);
            ASSERT_TRUE(limit.ok());
            ASSERT_EQ(recorder.openFile(path.c_str(), 1, 0, true, 2, 16, 44100), 1);
            for (size_t f = 0; f < kFrames; f += kBlock) recorder.writeToFileEx(all.data() + 2 * f, kBlock);
            closed = recorder.close();
        }
        EXPECT_EQ(closed, c.closeResult);
        const std::vector<uint8_t> bytes = readFile(path);
        ASSERT_GE(bytes.size(), 44u);
        const size_t frames = std::min<size_t>(kFrames, (c.room - 44) / 4);
        EXPECT_EQ(bytes.size(), 44 + 4 * frames);
        EXPECT_EQ(u32At(bytes, 40), bytes.size() - 44);
        EXPECT_EQ(u32At(bytes, 4), bytes.size() - 8);
        size_t wrong = 0;
        for (size_t f = 0; 44 + 4 * f + 3 < bytes.size(); ++f) {
            wrong += s16At(bytes, 44 + 4 * f) != leftOf(f) || s16At(bytes, 46 + 4 * f) != rightOf(f);
        }
        EXPECT_EQ(wrong, 0u);
    }
}

// The writer stalls in its first write (a slow disk) while 100 more blocks are captured, and close
// comes during the stall: every block captured is in the file, in order, with one source or two.
// With two, the source ahead ends against silence.
TEST(MixDownClose, CloseWritesEveryBlockCapturedWhileTheWriterStalled) {
    constexpr unsigned kBlock = 256;
    constexpr size_t kBlocks = 100;
    for (const bool twoSources : {false, true}) {
        SCOPED_TRACE(twoSources ? "two sources" : "one source");
        pw::test::TempDir dir;
        FMODSystem first(nullptr), second(nullptr);
        CMixDown recorder;
        ASSERT_EQ(recorder.setup(&first, 0, nullptr, twoSources ? &second : nullptr, 0, nullptr), 1);
        ASSERT_EQ(recorder.openFile(dir.file("stall.wav").c_str(), 1, 0, true, 2, 16, 44100), 1);
        bool stalled = false;
        recorder.setWriteHookForTesting([&stalled] {
            if (!stalled) std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stalled = true;
        });
        // One source: frame f is (f, -f - 1) / 32768 (the writer's x 32768 gives the index back). Two
        // sources are mixed at half each way: source 1 brings the index, source 2 a constant.
        auto block = [&](size_t b, int source) {
            std::vector<float> lr(2 * kBlock);
            for (unsigned i = 0; i < kBlock; ++i) {
                const size_t f = b * kBlock + i;
                const float scale = twoSources ? 2.0f / 32768 : 1.0f / 32768;
                lr[2 * i] = source == 1 ? leftOf(f) * scale : 0.0f;
                lr[2 * i + 1] = source == 1 ? rightOf(f) * scale : 0.0f;
            }
            return lr;
        };
        ASSERT_EQ(recorder.start(), 1);
        ASSERT_TRUE(MixDownTestPeer::push(recorder, 1, block(0, 1)));
        if (twoSources) {
            ASSERT_TRUE(MixDownTestPeer::push(recorder, 2, block(0, 2)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the writer is in its stall
        for (size_t b = 1; b <= kBlocks; ++b) {
            ASSERT_TRUE(MixDownTestPeer::push(recorder, 1, block(b, 1)));
            // The second card is three blocks behind when capture stops.
            if (twoSources && b + 3 <= kBlocks) {
                ASSERT_TRUE(MixDownTestPeer::push(recorder, 2, block(b, 2)));
            }
        }
        ASSERT_EQ(recorder.close(), 1);
        const std::vector<uint8_t> bytes = readFile(dir.file("stall.wav"));
        const size_t frames = (kBlocks + 1) * kBlock;
        ASSERT_EQ(bytes.size(), 44 + 4 * frames);
        size_t wrong = 0;
        for (size_t f = 0; f < frames; ++f) {
            wrong += s16At(bytes, 44 + 4 * f) != leftOf(f) || s16At(bytes, 46 + 4 * f) != rightOf(f);
        }
        EXPECT_EQ(wrong, 0u) << "of " << frames << " frames";
    }
}

// Drops are reported by the recording they happened in, and the next recording starts from none.
TEST(MixDownClose, EachRecordingCountsItsOwnDrops) {
    pw::test::TempDir dir;
    FMODSystem system(nullptr);
    CMixDown recorder;
    ASSERT_EQ(recorder.setup(&system, 0, nullptr, nullptr, 0, nullptr), 1);
    MixDownSampleQueue& queue = *MixDownTestPeer::queue(recorder, 1);
    const std::vector<float> lr(2 * 64, 0.1f);
    ASSERT_EQ(recorder.openFile(dir.file("1.wav").c_str(), 1, 0, true, 2, 16, 44100), 1);
    size_t pushed = 0;
    while (MixDownTestPeer::push(recorder, 1, lr)) ++pushed;  // the writer has fallen 30 s behind
    MixDownTestPeer::push(recorder, 1, lr);
    EXPECT_EQ(queue.droppedBlocks(), 2u);
    MixDownTestPeer::drain(recorder);
    ASSERT_EQ(recorder.close(), 1);
    EXPECT_EQ(u32At(readFile(dir.file("1.wav")), 40), pushed * 64 * 4);

    ASSERT_EQ(recorder.openFile(dir.file("2.wav").c_str(), 1, 0, true, 2, 16, 44100), 1);
    ASSERT_TRUE(MixDownTestPeer::push(recorder, 1, lr));
    EXPECT_EQ(queue.droppedBlocks(), 0u);  // what close will report for this one
    MixDownTestPeer::drain(recorder);
    ASSERT_EQ(recorder.close(), 1);
}

}  // namespace

namespace {

// A capture callback that never finishes (its thread stopped in the middle) does not hold close:
// close gives up on it within a second, and the file is still finished.
TEST(MixDownClose, CloseDoesNotWaitForEverOnAStalledCapture) {
    pw::test::TempDir dir;
    CMixDown recorder;
    const std::string path = dir.file("stalled.wav");
    ASSERT_EQ(recorder.openFile(path.c_str(), 1, 0, true, 2, 16, 44100), 1);
    std::atomic<int>& inFlight = MixDownTestPeer::file(recorder).capturesInFlight;
    inFlight.store(1);
    std::atomic<bool> closed{false};
    std::thread closer([&] { closed = recorder.close() == 1; });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!closed && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool returned = closed.load();
    inFlight.store(0);  // lets a close that waits for ever end, so that the test can
    closer.join();
    EXPECT_TRUE(returned) << "close still waits for the capture after 3 s";
    EXPECT_EQ(u32At(readFile(path), 4), 36u);
}

}  // namespace
