// PCM containers: every depth comes back bit-exact, in its own width, with the exact length, and
// seeks land on the exact frame.
#include <gtest/gtest.h>

#include "decode_fixture.hpp"

namespace pw::decode::test {
namespace {

struct PcmCase {
    const char* name;
    const char* ext;        // container, by sox's file type
    const char* soxEncoding;
    int bytes;              // per sample
    int channels;
    FMOD_SOUND_FORMAT format;
    int bits;
    FMOD_SOUND_TYPE type;
};

const PcmCase kPcmCases[] = {
    {"wav8_mono", "wav", "signed", 1, 1, FMOD_SOUND_FORMAT_PCM8, 8, FMOD_SOUND_TYPE_WAV},
    {"wav8_stereo", "wav", "signed", 1, 2, FMOD_SOUND_FORMAT_PCM8, 8, FMOD_SOUND_TYPE_WAV},
    {"wav16_mono", "wav", "signed", 2, 1, FMOD_SOUND_FORMAT_PCM16, 16, FMOD_SOUND_TYPE_WAV},
    {"wav16_stereo", "wav", "signed", 2, 2, FMOD_SOUND_FORMAT_PCM16, 16, FMOD_SOUND_TYPE_WAV},
    {"wav24_mono", "wav", "signed", 3, 1, FMOD_SOUND_FORMAT_PCM24, 24, FMOD_SOUND_TYPE_WAV},
    {"wav24_stereo", "wav", "signed", 3, 2, FMOD_SOUND_FORMAT_PCM24, 24, FMOD_SOUND_TYPE_WAV},
    {"wav32_stereo", "wav", "signed", 4, 2, FMOD_SOUND_FORMAT_PCM32, 32, FMOD_SOUND_TYPE_WAV},
    {"wavfloat_stereo", "wav", "float", 4, 2, FMOD_SOUND_FORMAT_PCMFLOAT, 32, FMOD_SOUND_TYPE_WAV},
    {"aiff8_mono", "aiff", "signed", 1, 1, FMOD_SOUND_FORMAT_PCM8, 8, FMOD_SOUND_TYPE_AIFF},
    {"aiff16_stereo", "aiff", "signed", 2, 2, FMOD_SOUND_FORMAT_PCM16, 16, FMOD_SOUND_TYPE_AIFF},
    {"aiff24_stereo", "aiff", "signed", 3, 2, FMOD_SOUND_FORMAT_PCM24, 24, FMOD_SOUND_TYPE_AIFF},
    {"caf24_stereo", "caf", "signed", 3, 2, FMOD_SOUND_FORMAT_PCM24, 24, FMOD_SOUND_TYPE_UNKNOWN},
    {"caf16_mono", "caf", "signed", 2, 1, FMOD_SOUND_FORMAT_PCM16, 16, FMOD_SOUND_TYPE_UNKNOWN},
};

constexpr int kRate = 44100;
constexpr int kFrames = 44100;  // 1.000 s

class PcmFormats : public ::testing::TestWithParam<PcmCase> {
protected:
    // Writes the raw samples, has sox wrap them in the container, and opens the result.
    void SetUp() override {
        const PcmCase& c = GetParam();
        raw_ = c.format == FMOD_SOUND_FORMAT_PCMFLOAT ? floatPcm(c.channels, kFrames, 7)
                                                      : fullRangePcm(c.bytes, c.channels, kFrames, 11);
        const std::string rawPath = dir_.file("in.raw");
        path_ = dir_.file(std::string(c.name) + "." + c.ext);
        writeFile(rawPath, raw_);
        ASSERT_TRUE(run("sox -t raw -e " + std::string(c.soxEncoding) + " -b " + std::to_string(c.bytes * 8) +
                        " -c " + std::to_string(c.channels) + " -r 44100 -L " + rawPath + " -t " + c.ext + " " +
                        path_))
            << "sox could not write " << path_;
        ASSERT_EQ(openFile(path_, true, {}, &decoder_), FMOD_OK);
        ASSERT_TRUE(decoder_);
    }

    TempDir dir_;
    Bytes raw_;
    std::string path_;
    std::unique_ptr<Decoder> decoder_;
};

TEST_P(PcmFormats, ReportsItsOwnDepthAndExactLength) {
    const PcmCase& c = GetParam();
    const StreamInfo& info = decoder_->info();
    EXPECT_EQ(info.format, c.format);
    EXPECT_EQ(info.bits, c.bits);
    EXPECT_EQ(info.type, c.type);
    EXPECT_EQ(info.channels, c.channels);
    EXPECT_EQ(info.rate, kRate);
    EXPECT_EQ(info.lengthFrames, static_cast<uint64_t>(kFrames));
    EXPECT_TRUE(info.lengthExact);
}

TEST_P(PcmFormats, ReadIsBitExact) {
    // An odd chunk size makes reads straddle every internal buffer boundary.
    const Bytes all = readAll(*decoder_, 997);
    ASSERT_EQ(all.size(), raw_.size());
    EXPECT_TRUE(all == raw_) << "samples differ from the generating data";
    unsigned char spare[16];
    EXPECT_EQ(decoder_->read(spare, 1), 0) << "reads past the end must return 0";
}

TEST_P(PcmFormats, SeekLandsOnTheExactFrame) {
    const size_t fb = static_cast<size_t>(GetParam().bytes * GetParam().channels);
    for (uint64_t target : {uint64_t{12345}, uint64_t{0}, uint64_t{kFrames - 100}, uint64_t{1}, uint64_t{kFrames}}) {
        ASSERT_TRUE(decoder_->seek(target)) << target;
        const Bytes got = readSome(*decoder_, 500);
        const size_t expectFrames = std::min<uint64_t>(500, kFrames - target);
        ASSERT_EQ(got.size(), expectFrames * fb) << target;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), raw_.begin() + static_cast<long>(target * fb))) << target;
    }
    EXPECT_FALSE(decoder_->seek(kFrames + 1));
}

void PrintTo(const PcmCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Containers, PcmFormats, ::testing::ValuesIn(kPcmCases),
                         [](const ::testing::TestParamInfo<PcmCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace pw::decode::test
