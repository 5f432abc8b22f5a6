// Compressed formats: exact lengths, samples equal to what the decoding library (or the ffmpeg
// tool, for AAC) gives when used directly, and seeks that land on the exact frame, MP3 included.
#include <gtest/gtest.h>
#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "decode_fixture.hpp"

namespace pw::decode::test {
namespace {

enum class Reference { Raw, Sndfile, Mpg123, Ffmpeg };

struct CompressedCase {
    const char* name;
    const char* file;
    // Makes `file` in the folder from in.wav / in.raw (16-bit stereo 44.1 kHz, 1.000 s).
    std::function<bool(const TempDir&)> make;
    Reference reference;
    FMOD_SOUND_TYPE type;
    int rate;
    // Bounds of the length: a format with a delay record decodes to exactly 1 s (min == max);
    // M4A loses its priming but keeps the last block's padding, as FFmpeg decodes it; formats
    // without any record keep the priming too.
    uint64_t minFrames;
    uint64_t maxFrames;
    bool needsPlugin;
    // Largest sample difference allowed after a seek. mpg123 restarts part of its synthesis state
    // at a seek; for MPEG-1 stereo our landing strategy reproduces a linear read bit for bit, for
    // mono and MPEG-2 streams a few samples may round one step apart (the position stays exact).
    int seekTolerance = 0;
};

// Largest difference between two equally long 16-bit sample strings; huge when lengths differ.
int maxSampleDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size())
        return 1 << 20;
    int worst = 0;
    for (size_t i = 0; i + 1 < a.size(); i += 2) {
        const int x = static_cast<int16_t>(a[i] | a[i + 1] << 8);
        const int y = static_cast<int16_t>(b[i] | b[i + 1] << 8);
        worst = std::max(worst, std::abs(x - y));
    }
    return worst;
}

// RMS of the difference of two 16-bit sample strings over the RMS of `want`.
double relativeError(const Bytes& got, const Bytes& want) {
    double e = 0, p = 0;
    for (size_t i = 0; i + 1 < got.size() && i + 1 < want.size(); i += 2) {
        const int x = static_cast<int16_t>(got[i] | got[i + 1] << 8);
        const int y = static_cast<int16_t>(want[i] | want[i + 1] << 8);
        e += double(x - y) * (x - y);
        p += double(y) * y;
    }
    return p > 0 ? std::sqrt(e / p) : 0;
}

const std::string kRawFormat = "-t raw -e signed -b 16 -c 2 -r 44100 -L ";

Bytes sndfileReference(const std::string& path) {
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr);
    if (!f)
        return {};
    std::vector<short> pcm(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_short(f, pcm.data(), info.frames);
    sf_close(f);
    pcm.resize(static_cast<size_t>(got * info.channels));
    Bytes out(pcm.size() * 2);
    std::memcpy(out.data(), pcm.data(), out.size());
    return out;
}

Bytes mpg123Reference(const std::string& path) {
    mpg123_init();
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    const long* rates = nullptr;
    size_t n = 0;
    mpg123_rates(&rates, &n);
    for (size_t i = 0; i < n; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    Bytes out;
    if (mpg123_open(h, path.c_str()) == MPG123_OK) {
        unsigned char buf[8192];
        size_t done = 0;
        int rc;
        do {
            rc = mpg123_read(h, buf, sizeof buf, &done);
            out.insert(out.end(), buf, buf + done);
        } while (rc == MPG123_OK || rc == MPG123_NEW_FORMAT);
        mpg123_close(h);
    }
    mpg123_delete(h);
    return out;
}

Bytes ffmpegReference(const TempDir& dir, const std::string& path) {
    const std::string out = dir.file("reference.raw");
    EXPECT_TRUE(run("ffmpeg -loglevel error -y -i " + path + " -f s16le -acodec pcm_s16le " + out));
    return readFile(out);
}

bool writeOpus(const TempDir& dir) {
    const Bytes pcm = tonePcm16(2, 48000, 48000, 5);
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_OGG | SF_FORMAT_OPUS;
    SNDFILE* f = sf_open(dir.file("x.opus").c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t wrote = sf_writef_short(f, reinterpret_cast<const short*>(pcm.data()), 48000);
    sf_close(f);
    return wrote == 48000;
}

const CompressedCase kCases[] = {
    {"flac", "x.flac",
     [](const TempDir& d) { return run("flac -s -f --force-raw-format --endian=little --sign=signed --channels=2 "
                                       "--bps=16 --sample-rate=44100 " + d.file("in.raw") + " -o " + d.file("x.flac")); },
     Reference::Raw, FMOD_SOUND_TYPE_FLAC, 44100, 44100, 44100, false},
    {"vorbis", "x.ogg", [](const TempDir& d) { return run("oggenc -Q -q 5 " + d.file("in.wav") + " -o " + d.file("x.ogg")); },
     Reference::Sndfile, FMOD_SOUND_TYPE_OGGVORBIS, 44100, 44100, 44100, false},
    {"opus", "x.opus", writeOpus, Reference::Sndfile, FMOD_SOUND_TYPE_OPUS, 48000, 48000, 48000, false},
    {"mp3_lame", "x.mp3",
     [](const TempDir& d) { return run("lame --quiet -b 192 " + d.file("in.wav") + " " + d.file("x.mp3")); },
     Reference::Mpg123, FMOD_SOUND_TYPE_MPEG, 44100, 44100, 44100, false},
    {"mp3_sox", "x.mp3", [](const TempDir& d) { return run("sox " + d.file("in.wav") + " " + d.file("x.mp3")); },
     Reference::Mpg123, FMOD_SOUND_TYPE_MPEG, 44100, 44100 + 1152, 44100 + 3 * 1152, false},
    {"mp3_lame_22k_mono", "x.mp3",
     [](const TempDir& d) {
         return run("sox " + d.file("in.wav") + " -r 22050 -c 1 " + d.file("m.wav")) &&
                run("lame --quiet -b 64 " + d.file("m.wav") + " " + d.file("x.mp3"));
     },
     Reference::Mpg123, FMOD_SOUND_TYPE_MPEG, 22050, 22050, 22050, false, 1},
    {"mp2", "x.mp2",
     [](const TempDir& d) {
         return run("ffmpeg -loglevel error -y -i " + d.file("in.wav") + " -c:a mp2 -b:a 192k " + d.file("x.mp2"));
     },
     Reference::Mpg123, FMOD_SOUND_TYPE_MPEG, 44100, 44101, 44100 + 2 * 1152, false},
    // AAC without noise substitution, so that seeks compare bit for bit (AacIndexSeek below has
    // the noise case).
    {"m4a", "x.m4a",
     [](const TempDir& d) {
         return run("ffmpeg -loglevel error -y -i " + d.file("in.wav") + " -c:a aac -aac_pns 0 -b:a 192k " +
                    d.file("x.m4a"));
     },
     Reference::Ffmpeg, FMOD_SOUND_TYPE_AAC, 44100, 44100, 44100 + 1023, true},
    {"adts", "x.aac",
     [](const TempDir& d) {
         return run("ffmpeg -loglevel error -y -i " + d.file("in.wav") + " -c:a aac -aac_pns 0 -b:a 192k -f adts " +
                    d.file("x.aac"));
     },
     Reference::Ffmpeg, FMOD_SOUND_TYPE_AAC, 44100, 44100 + 1024, 44100 + 3 * 1024, true},
};

class CompressedFormats : public ::testing::TestWithParam<CompressedCase> {
protected:
    void SetUp() override {
        const CompressedCase& c = GetParam();
        if (c.needsPlugin) {
            ASSERT_NE(aacPlugin(), nullptr) << "the AAC plug-in was not built into " PW_PLUGIN_DIR;
            plugins_.push_back(aacPlugin());
        }
        raw_ = tonePcm16(2, 44100, 44100, 3);
        writeFile(dir_.file("in.raw"), raw_);
        ASSERT_TRUE(run("sox " + kRawFormat + dir_.file("in.raw") + " " + dir_.file("in.wav")));
        path_ = dir_.file(c.file);
        ASSERT_TRUE(c.make(dir_)) << "could not make " << path_;
        switch (c.reference) {
        case Reference::Raw: reference_ = raw_; break;
        case Reference::Sndfile: reference_ = sndfileReference(path_); break;
        case Reference::Mpg123: reference_ = mpg123Reference(path_); break;
        case Reference::Ffmpeg: reference_ = ffmpegReference(dir_, path_); break;
        }
        ASSERT_FALSE(reference_.empty());
        ASSERT_EQ(openFile(path_, true, plugins_, &decoder_), FMOD_OK);
        ASSERT_TRUE(decoder_);
        fb_ = frameBytes(decoder_->info());
    }

    TempDir dir_;
    Bytes raw_;
    Bytes reference_;
    std::string path_;
    std::vector<const PWCodecDescription*> plugins_;
    std::unique_ptr<Decoder> decoder_;
    size_t fb_ = 0;
};

TEST_P(CompressedFormats, ReportsSixteenBitsAndExactLength) {
    const CompressedCase& c = GetParam();
    const StreamInfo& info = decoder_->info();
    EXPECT_EQ(info.type, c.type);
    EXPECT_EQ(info.format, FMOD_SOUND_FORMAT_PCM16);
    EXPECT_EQ(info.bits, 16);
    EXPECT_EQ(info.rate, c.rate);
    EXPECT_TRUE(info.lengthExact);
    EXPECT_EQ(info.lengthFrames, reference_.size() / fb_) << "length differs from a full decode";
    EXPECT_GE(info.lengthFrames, c.minFrames) << "encoder delay or padding";
    EXPECT_LE(info.lengthFrames, c.maxFrames) << "encoder delay or padding";
}

TEST_P(CompressedFormats, ReadEqualsTheLibrary) {
    const Bytes all = readAll(*decoder_, 1001);
    EXPECT_EQ(firstDifference(all, reference_), "");
}

TEST_P(CompressedFormats, SeekEqualsTheSameSpanOfAFullRead) {
    const uint64_t len = reference_.size() / fb_;
    // Reading to the end first: some libraries seek wrongly from the end-of-stream state.
    EXPECT_EQ(readAll(*decoder_).size(), reference_.size());
    // Forward, backward, frame 0 after the end, and positions inside the first blocks.
    const uint64_t targets[] = {len / 2 + 7, len / 10, len - 1000, 1, 0, len - 1, len, len * 2 / 3, 1500, len / 4};
    for (uint64_t target : targets) {
        ASSERT_TRUE(decoder_->seek(target)) << target;
        const Bytes got = readSome(*decoder_, 2000);
        const uint64_t expectFrames = std::min<uint64_t>(2000, len - target);
        ASSERT_EQ(got.size(), expectFrames * fb_) << "at " << target;
        const Bytes want(reference_.begin() + static_cast<long>(target * fb_),
                         reference_.begin() + static_cast<long>((target + expectFrames) * fb_));
        if (GetParam().seekTolerance == 0)
            EXPECT_EQ(firstDifference(got, want), "") << "after a seek to " << target;
        else
            EXPECT_LE(maxSampleDifference(got, want), GetParam().seekTolerance) << "after a seek to " << target;
    }
    EXPECT_FALSE(decoder_->seek(len + 1));
}

// AAC in a longer file, where seeks go through the container's index rather than decoding on:
// the length is the one a full decode gives, and every seek, in any order, lands on the exact
// frame. Without noise substitution the samples equal a linear read bit for bit. With it, the
// noise-substituted bands come from the decoder's noise generator, whose state only a decode from
// the start reproduces: they hold fresh noise of the same spectrum, so the difference to a linear
// read stays at the noise's level, far below what a one-frame slip gives (about 0.11 here).
TEST(AacIndexSeek, SeeksThroughTheIndexLandOnTheExactFrame) {
    ASSERT_NE(aacPlugin(), nullptr) << "the AAC plug-in was not built into " PW_PLUGIN_DIR;
    TempDir dir;
    const int frames = 44100 * 12;
    writeFile(dir.file("in.raw"), tonePcm16(2, frames, 44100, 11));
    ASSERT_TRUE(run("sox " + kRawFormat + dir.file("in.raw") + " " + dir.file("in.wav")));
    struct Row {
        const char* file;
        const char* options;
        double maxRelativeError;  // RMS of the difference over RMS of the linear read
    };
    const Row rows[] = {
        {"plain.m4a", "-aac_pns 0", 0.0},
        {"plain.aac", "-aac_pns 0 -f adts", 0.0},
        {"noise.m4a", "", 0.05},
        {"noise.aac", "-f adts", 0.05},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string path = dir.file(row.file);
        ASSERT_TRUE(run("ffmpeg -loglevel error -y -i " + dir.file("in.wav") + " -c:a aac -b:a 160k " + row.options +
                        " " + path));
        const Bytes reference = ffmpegReference(dir, path);
        std::unique_ptr<Decoder> d;
        ASSERT_EQ(openFile(path, false, {aacPlugin()}, &d), FMOD_OK);
        const uint64_t len = reference.size() / 4;
        EXPECT_EQ(d->info().lengthFrames, len);
        const uint64_t targets[] = {len / 2 + 3, 100000, len - 5000, 300000, 1030, 5 * 44100 + 1, len - 1, 2048,
                                    len / 3, len / 3 + 9000, len};
        for (uint64_t target : targets) {
            ASSERT_TRUE(d->seek(target)) << target;
            const Bytes got = readSome(*d, 3000);
            const uint64_t expect = std::min<uint64_t>(3000, len - target);
            ASSERT_EQ(got.size(), expect * 4) << "at " << target;
            const Bytes want(reference.begin() + static_cast<long>(target * 4),
                             reference.begin() + static_cast<long>((target + expect) * 4));
            if (row.maxRelativeError == 0.0)
                EXPECT_EQ(firstDifference(got, want), "") << "after a seek to " << target;
            else
                EXPECT_LE(relativeError(got, want), row.maxRelativeError) << "after a seek to " << target;
        }
    }
}

void PrintTo(const CompressedCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Codecs, CompressedFormats, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CompressedCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace pw::decode::test
