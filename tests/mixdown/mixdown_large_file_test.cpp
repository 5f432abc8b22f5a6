// A recording that grows past 2 GiB, in every build (the 32-bit one included): close keeps every
// byte and writes the sizes into the header. The first 2 GiB are a hole in a sparse file (read as
// silence and counted as written), so the test takes a moment and almost no disk; the frames
// around and beyond the boundary go through the recorder's own writes, and close is its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "mixdown_test_support.h"
#include "temp_dir.hpp"

namespace {

using mixdowntest::u32At;

constexpr uint64_t k2GiB = uint64_t(1) << 31;

int16_t leftOf(uint64_t f) { return int16_t(f % 30011); }
int16_t rightOf(uint64_t f) { return int16_t(-int(f % 30011) - 1); }

std::vector<uint8_t> readAt(const std::string& path, uint64_t offset, size_t bytes) {
    std::vector<uint8_t> out(bytes);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ssize_t got = fd >= 0 ? ::pread(fd, out.data(), bytes, static_cast<off_t>(offset)) : -1;
    if (fd >= 0) ::close(fd);
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

TEST(MixDownLargeFile, ARecordingPast2GiBKeepsEveryByte) {
    pw::test::TempDir dir;
    const std::string path = dir.file("long.wav");
    constexpr unsigned kBlock = 65536;         // frames per write, 256 KiB
    constexpr uint64_t kFrameBytes = 4;
    // The hole ends 1 MiB short of 2 GiB, on a whole frame; 32 blocks (8 MiB) follow it.
    const uint64_t holeFrames = (k2GiB - (1 << 20) - 44) / kFrameBytes;
    constexpr int kBlocksAfter = 32;
    std::vector<short> block(2 * kBlock);
    int closed = 0;
    {
        CMixDown recorder;
        ASSERT_EQ(recorder.openFile(path.c_str(), 1, 0, true, 2, 16, 44100), 1);
        MIXDOWN_FILE& file = MixDownTestPeer::file(recorder);
        ASSERT_NE(file.file, nullptr);
        ASSERT_EQ(std::fflush(file.file), 0);
        ASSERT_EQ(::fseeko(file.file, static_cast<off_t>(holeFrames * kFrameBytes), SEEK_CUR), 0);
        file.dataBytes = static_cast<uint32_t>(holeFrames * kFrameBytes);
        uint64_t f = holeFrames;
        for (int b = 0; b < kBlocksAfter; ++b) {
            for (unsigned i = 0; i < kBlock; ++i, ++f) block[2 * i] = leftOf(f), block[2 * i + 1] = rightOf(f);
            recorder.writeToFileEx(block.data(), kBlock);
        }
        closed = recorder.close();
    }
    EXPECT_EQ(closed, 1);
    const uint64_t frames = holeFrames + uint64_t(kBlocksAfter) * kBlock;
    const uint64_t dataBytes = frames * kFrameBytes;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 44 + dataBytes);
    const std::vector<uint8_t> header = readAt(path, 0, 44);
    ASSERT_EQ(header.size(), 44u);
    EXPECT_EQ(u32At(header, 40), dataBytes);
    EXPECT_EQ(u32At(header, 4), 36 + dataBytes);
    // Frames just before and after the boundary, and the last one.
    const uint64_t boundaryFrame = (k2GiB - 44) / kFrameBytes;
    for (const uint64_t f : {holeFrames, boundaryFrame - 1, boundaryFrame + 1, frames - 1}) {
        SCOPED_TRACE("frame " + std::to_string(f));
        const std::vector<uint8_t> at = readAt(path, 44 + f * kFrameBytes, 4);
        ASSERT_EQ(at.size(), 4u);
        EXPECT_EQ(mixdowntest::s16At(at, 0), leftOf(f));
        EXPECT_EQ(mixdowntest::s16At(at, 2), rightOf(f));
    }
}

}  // namespace
