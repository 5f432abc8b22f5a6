// Files cut short, as an interrupted download or copy leaves them: each format opens, quick and
// accurate, with the length of what the usual command-line decoder gets out of the same bytes,
// the same samples, and seeks that land where a linear read puts them, up to the very end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "decode_fixture.hpp"
#include "flac_tail.hpp"
#include "mpeg_info_frame.hpp"
#include "pcm_chunks.hpp"

namespace pw::decode::test {
namespace {

struct TruncatedCase {
    const char* name;
    const char* file;
    const char* encode;     // shell command from in.wav to `file`
    const char* reference;  // shell command from cut.<ext> to ref.raw (16-bit little-endian)
    // Samples must agree with the reference up to this many steps: libsndfile and the Vorbis tool
    // round floats to 16 bits their own way, and the 32-bit mpg123 rounds apart from the tool's.
    int sampleTolerance;
    // After a seek, samples equal a linear read, except where mpg123 rounds isolated samples one
    // step apart (mono, MPEG-2 and the 32-bit library; the position stays exact).
    int seekTolerance = 0;
    int channels = 2;
    // Whether the cut file is told cut short: not when its header declares no length to fall
    // short of (a FLAC file written to a pipe has no sample count).
    bool markedCut = true;
};

constexpr int kFrames = 44100 * 20;  // of the whole file
constexpr int kMp3On32Bits = sizeof(void*) == 8 ? 0 : 1;
const char* const kMpg123 = "mpg123 -q -s cut.mp3 > ref.raw";
const char* const kFlacTool = "flac -s -d -F --force-raw-format --endian=little --sign=signed cut.flac -o ref.raw";

const TruncatedCase kCases[] = {
    {"wav", "x.wav", "cp in.wav x.wav", "sox cut.wav -t raw -e signed -b 16 -L ref.raw", 0},
    {"aiff", "x.aiff", "sox in.wav x.aiff", "sox cut.aiff -t raw -e signed -b 16 -L ref.raw", 0},
    {"flac", "x.flac", "flac -s in.wav -o x.flac", kFlacTool, 0},
    {"flac_pipe", "x.flac", "flac -s --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 "
     "--sample-rate=44100 -c - < in.raw | cat > x.flac", kFlacTool, 0, 0, 2, false},
    {"vorbis", "x.ogg", "oggenc -Q -q 5 in.wav -o x.ogg", "oggdec -Q -R -o ref.raw cut.ogg", 1},
    {"mp3", "x.mp3", "lame --quiet -b 192 in.wav x.mp3", kMpg123, kMp3On32Bits, kMp3On32Bits},
    {"mp3_vbr", "x.mp3", "lame --quiet -V 2 in.wav x.mp3", kMpg123, kMp3On32Bits, kMp3On32Bits},
    // The info record sits after side information whose size depends on version and mode.
    {"mp3_mono", "x.mp3", "lame --quiet -m m -b 96 in.wav x.mp3", kMpg123, kMp3On32Bits, 1, 1},
    {"mp3_22k_mono", "x.mp3", "lame --quiet -m m --resample 22.05 -b 64 in.wav x.mp3", kMpg123, kMp3On32Bits, 1, 1},
    {"mp3_22k_stereo", "x.mp3", "lame --quiet --resample 22.05 -b 64 in.wav x.mp3", kMpg123, kMp3On32Bits, 1},
};

// Largest difference between the 16-bit samples the two strings have in common.
int maxDifference(const Bytes& a, const Bytes& b) {
    int worst = 0;
    for (size_t i = 0; i + 1 < a.size() && i + 1 < b.size(); i += 2) {
        const int x = static_cast<int16_t>(a[i] | a[i + 1] << 8);
        const int y = static_cast<int16_t>(b[i] | b[i + 1] << 8);
        worst = std::max(worst, std::abs(x - y));
    }
    return worst;
}

class TruncatedFiles : public ::testing::TestWithParam<TruncatedCase> {
protected:
    void SetUp() override {
        const TruncatedCase& c = GetParam();
        const std::string in = "cd " + dir_.path() + " && ";
        // Silence first, then music: the encoded data is not evenly spread over the file, so a
        // decoder that estimates positions from the header's figures looks for the cut file's
        // last frames past its end.
        Bytes pcm = tonePcm16(2, kFrames, 44100, 36);
        std::fill(pcm.begin(), pcm.begin() + 44100 * 4 * 2, 0);
        writeFile(dir_.file("in.raw"), pcm);
        ASSERT_TRUE(run(in + "sox -t raw -e signed -b 16 -c 2 -r 44100 -L in.raw in.wav"));
        ASSERT_TRUE(run(in + c.encode));
        whole_ = dir_.file(c.file);
        const Bytes whole = readFile(whole_);
        const std::string ext = std::string(c.file).substr(1);
        path_ = dir_.file("cut" + ext);
        writeFile(path_, Bytes(whole.begin(), whole.begin() + static_cast<long>(whole.size() * 2 / 5)));
        run(in + c.reference);  // decoders of damaged files may well exit with an error status
        reference_ = readFile(dir_.file("ref.raw"));
        ASSERT_GT(reference_.size(), 22050u * 2 * 5) << "the reference decoder got too little from " << path_;
    }

    TempDir dir_;
    std::string whole_;
    std::string path_;
    Bytes reference_;
};

TEST_P(TruncatedFiles, OpensWithTheLengthAndSamplesTheDataHolds) {
    const TruncatedCase& c = GetParam();
    const size_t fb = 2 * static_cast<size_t>(c.channels);
    const uint64_t frames = reference_.size() / fb;
    // Only the cut files are taken for cut short by the tests that make an open count frames:
    // whole files keep the length of their headers, at no cost.
    const std::string name = c.name;
    EXPECT_FALSE(mpegFileCutShort(whole_));
    EXPECT_EQ(mpegFileCutShort(path_), name.rfind("mp3", 0) == 0);
    EXPECT_TRUE(flacDataHoldsLength(whole_, kFrames));
    EXPECT_EQ(flacDataHoldsLength(path_, kFrames), name.rfind("flac", 0) != 0);
    EXPECT_EQ(pcmDataChunkCut(path_), name == "wav" || name == "aiff");
    EXPECT_FALSE(pcmDataChunkCut(whole_));
    for (const bool accurate : {false, true}) {
        SCOPED_TRACE(accurate ? "accurate open" : "quick open");
        std::unique_ptr<Decoder> d;
        ASSERT_EQ(openFile(path_, accurate, {}, &d), FMOD_OK);
        ASSERT_EQ(d->info().channels, c.channels);
        const uint64_t length = d->info().lengthFrames;
        EXPECT_EQ(length, frames) << "the reference decoder's length";
        EXPECT_EQ(d->info().cutShort, c.markedCut);
        std::unique_ptr<Decoder> whole;
        ASSERT_EQ(openFile(whole_, accurate, {}, &whole), FMOD_OK);
        EXPECT_FALSE(whole->info().cutShort);
        EXPECT_EQ(whole->info().lengthFrames, static_cast<uint64_t>(kFrames) * static_cast<uint64_t>(whole->info().rate) / 44100);
        const Bytes all = readAll(*d, 2048);
        EXPECT_EQ(all.size(), length * fb) << "a read to the end gives the length";
        EXPECT_LE(maxDifference(all, reference_), c.sampleTolerance);

        // Where the analyses seek: the silence analysis reads the last chunk first, then each
        // one before it; a deck seeks anywhere.
        std::vector<uint64_t> targets = {length / 2, length - 1, 3, length};
        for (uint64_t back = length - 2048 - 4; back > 2048 * 7; back -= 2048 * 7)
            targets.push_back(back);
        for (uint64_t target : targets) {
            ASSERT_TRUE(d->seek(target)) << "seek to " << target << " of " << length;
            const Bytes got = readSome(*d, 3000);
            const uint64_t expect = std::min<uint64_t>(3000, length - target);
            ASSERT_EQ(got.size(), expect * fb) << "at " << target;
            const Bytes want(all.begin() + static_cast<long>(target * fb),
                             all.begin() + static_cast<long>((target + expect) * fb));
            EXPECT_LE(maxDifference(got, want), c.seekTolerance) << "after a seek to " << target;
        }
        EXPECT_FALSE(d->seek(length + 1));
    }
}

// The byte count of the info record, wherever the frame's layout puts it.
TEST(MpegInfoFrame, DeclaredBytesOfEachLayout) {
    struct Row {
        const char* what;
        unsigned char header[4];
        size_t at;  // where the record starts
        const char* tag;
        uint32_t flags;
        uint64_t expected;
    };
    const Row rows[] = {
        {"MPEG-1 stereo, frames and bytes", {0xFF, 0xFB, 0x90, 0x00}, 36, "Xing", 3, 123456},
        {"MPEG-1 stereo, bytes only", {0xFF, 0xFB, 0x90, 0x00}, 36, "Info", 2, 123456},
        {"MPEG-1 stereo, frames only", {0xFF, 0xFB, 0x90, 0x00}, 36, "Xing", 1, 0},
        {"MPEG-1 mono", {0xFF, 0xFB, 0x90, 0xC0}, 21, "Info", 3, 123456},
        {"MPEG-2 stereo", {0xFF, 0xF3, 0x90, 0x00}, 21, "Xing", 3, 123456},
        {"MPEG-2 mono", {0xFF, 0xF3, 0x90, 0xC0}, 13, "Xing", 3, 123456},
        {"MPEG-1 mono, record where stereo keeps it", {0xFF, 0xFB, 0x90, 0xC0}, 36, "Xing", 3, 0},
        {"VBRI", {0xFF, 0xFB, 0x90, 0x00}, 36, "VBRI", 0, 123456},
        {"layer II", {0xFF, 0xFD, 0x90, 0x00}, 36, "Xing", 3, 0},
    };
    for (const Row& row : rows) {
        Bytes frame(417, 0);
        std::copy(row.header, row.header + 4, frame.begin());
        std::copy(row.tag, row.tag + 4, frame.begin() + static_cast<long>(row.at));
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                frame[at + static_cast<size_t>(i)] = static_cast<unsigned char>(v >> (24 - 8 * i));
        };
        if (std::string(row.tag) == "VBRI") {
            put32(row.at + 10, 123456);
            put32(row.at + 14, 999);  // frames
        } else {
            put32(row.at + 4, row.flags);
            put32(row.at + 8, (row.flags & 1) ? 999 : 123456);
            put32(row.at + 12, 123456);
        }
        EXPECT_EQ(declaredStreamBytes(frame.data(), frame.size()), row.expected) << row.what;
    }
}

void PrintTo(const TruncatedCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Formats, TruncatedFiles, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TruncatedCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace pw::decode::test
