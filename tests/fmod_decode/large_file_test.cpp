// A WAV past 2 GiB (a sparse file: marked frames at both ends, silence between) opens with its
// whole length and seeks and reads beyond the 2 GiB boundary, in every build (the 32-bit one
// included, which runs this under the emulator).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decoder.hpp"
#include "decode_fixture.hpp"

namespace pw::decode::test {
namespace {

void put32(std::vector<unsigned char>* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// Frame f of the marked stretches holds (f mod 30011, -(f mod 30011) - 1).
std::vector<unsigned char> marked(uint64_t first, size_t frames) {
    std::vector<unsigned char> out(frames * 4);
    for (size_t i = 0; i < frames; ++i) {
        const int16_t l = int16_t((first + i) % 30011), r = int16_t(-int((first + i) % 30011) - 1);
        out[4 * i] = uint8_t(l), out[4 * i + 1] = uint8_t(l >> 8);
        out[4 * i + 2] = uint8_t(r), out[4 * i + 3] = uint8_t(r >> 8);
    }
    return out;
}

TEST(LargeFile, AWavPast2GiBOpensWholeAndReadsBeyondTheBoundary) {
    TempDir dir;
    const std::string path = dir.file("long.wav");
    constexpr uint64_t kFrames = 550'000'000;  // 2.2 GB of 16-bit stereo, 3 h 28 min at 44.1 kHz
    constexpr size_t kMarked = 4096;
    std::vector<unsigned char> header(44, 0);
    const unsigned char fixed[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                                   1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
    std::copy(std::begin(fixed), std::end(fixed), header.begin());
    put32(&header, 40, static_cast<uint32_t>(kFrames * 4));
    put32(&header, 4, static_cast<uint32_t>(36 + kFrames * 4));
    const uint64_t tailFrame = kFrames - kMarked;
    const std::vector<unsigned char> head = marked(0, kMarked), tail = marked(tailFrame, kMarked);
    // Made with the explicit 64-bit calls, whatever offsets the build has, so that only the
    // decoders' own file access is on trial.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_LARGEFILE, 0644);
    ASSERT_GE(fd, 0);
    const bool written = ::pwrite64(fd, header.data(), 44, 0) == 44 &&
                         ::pwrite64(fd, head.data(), head.size(), 44) == ssize_t(head.size()) &&
                         ::pwrite64(fd, tail.data(), tail.size(), off64_t(44 + tailFrame * 4)) == ssize_t(tail.size());
    ::close(fd);
    ASSERT_TRUE(written) << "the sparse file could not be made";

    std::unique_ptr<Decoder> decoder;
    ASSERT_EQ(openFile(path, true, {}, &decoder), FMOD_OK);
    EXPECT_EQ(decoder->info().lengthFrames, kFrames);
    EXPECT_FALSE(decoder->info().cutShort);
    std::vector<unsigned char> got(kMarked * 4);
    ASSERT_EQ(decoder->read(got.data(), kMarked), long(kMarked));
    EXPECT_EQ(got, head);
    ASSERT_TRUE(decoder->seek(tailFrame));
    ASSERT_EQ(decoder->read(got.data(), kMarked), long(kMarked));
    EXPECT_EQ(got, tail);
    EXPECT_EQ(decoder->read(got.data(), kMarked), 0);
}

}  // namespace
}  // namespace pw::decode::test
