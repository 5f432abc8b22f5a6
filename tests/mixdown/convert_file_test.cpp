// File conversion against the decoders' own command-line tools: each source format is made by its
// encoder, converted by the engine to a WAV file with a name outside Latin-1, and compared sample
// by sample with what sox, mpg123, oggdec or ffmpeg decode from the same file. Then the refusals:
// nothing may be left that looks like a finished file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TKCore.h"
#include "mixdown_test_support.h"
#include "soundopen_support.h"

namespace {

namespace fs = std::filesystem;
using mixdowntest::readFile;
using mixdowntest::u32At;

constexpr double kSeconds = 2.5;

// The engine on one virtual card: start-up with cards is what enables the AAC plug-in.
class ConvertFile : public soundopen::EngineFixture {
protected:
    int convert(const std::string& source, const std::string& target, int format = 1) {
        std::vector<char> from = soundopen::utf16(source);
        std::vector<char> to = soundopen::utf16(target);
        return t_core.ConvertFile(from.data(), to.data(), nullptr, nullptr, nullptr, format, 128);
    }

    // The 16-bit source every lossless case starts from: 440 Hz left, 1 kHz right.
    std::string source16() {
        const std::string path = file("source16.wav");
        if (!fs::exists(path)) {
            EXPECT_TRUE(soundopen::run("sox -n -r 44100 -c 2 -b 16 '" + path + "' synth " + std::to_string(kSeconds) +
                                       " sine 440 sine 1000 gain -6"));
        }
        return path;
    }
};

struct Case {
    const char* name;
    const char* tool;     // the encoder that must be present
    const char* make;     // shell text making {out} from {src16}
    const char* decode;   // shell text writing raw 16-bit little-endian {raw} from {out}
    int tolerance;        // largest difference in LSB
    int rate;
};

// The decoders' own outputs. 24-bit to 16: sox rounds where the converter keeps the upper 16 bits.
const Case kCases[] = {
    {"wav24", "sox", "sox -n -r 48000 -c 2 -b 24 {out} synth 2.5 sine 440 sine 1000 gain -6",
     "sox -D {out} -t raw -b 16 -e signed {raw}", 1, 48000},
    {"wav8", "sox", "sox -D {src16} -b 8 {out}", "sox {out} -t raw -b 16 -e signed {raw}", 0, 44100},
    {"wavfloat", "sox", "sox {src16} -e floating-point -b 32 {out}", "sox {src16} -t raw {raw}", 0, 44100},
    {"flac", "flac", "flac -s -f -o {out} {src16}", "sox {src16} -t raw {raw}", 0, 44100},
    {"aiff", "sox", "sox {src16} {out}", "sox {src16} -t raw {raw}", 0, 44100},
    {"ogg", "oggenc", "oggenc -Q -o {out} {src16}", "oggdec -Q -R -o {raw} {out}", 1, 44100},
    {"mp3", "lame", "lame --quiet -b 192 {src16} {out}", "mpg123 -q -O {raw} {out}", 2, 44100},
    {"m4a", "ffmpeg", "ffmpeg -loglevel error -y -i {src16} -c:a aac -b:a 192k {out}",
     "ffmpeg -loglevel error -y -i {out} -f s16le -acodec pcm_s16le {raw}", 1, 44100},
};

std::string expand(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [key, value] : values) {
        for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), "'" + value + "'");
    }
    return text;
}

class ConvertFormats : public ConvertFile, public ::testing::WithParamInterface<Case> {};

TEST_P(ConvertFormats, GivesA16BitWavEqualToTheDecodersOwnOutput) {
    const Case& c = GetParam();
    if (!soundopen::haveTool(c.tool) || !soundopen::haveTool("mpg123") || !soundopen::haveTool("oggdec"))
        GTEST_SKIP() << "tools missing";
    ASSERT_EQ(initResult_, 1);
    if (std::string(c.name) == "m4a" && !CTKCore::g_bHaveAACPlugin) GTEST_SKIP() << "no AAC plug-in";
    const std::string out = file(std::string("source.") + (c.name[0] == 'w' ? "wav" : c.name));
    const std::string raw = file("reference.raw");
    const std::vector<std::pair<std::string, std::string>> names = {
        {"{out}", out}, {"{src16}", source16()}, {"{raw}", raw}};
    ASSERT_TRUE(soundopen::run(expand(c.make, names)));
    ASSERT_TRUE(soundopen::run(expand(c.decode, names)));

    // Neither Latin-1 nor the basic plane: a name that narrowing to bytes would have mangled.
    const std::string target = file(std::string("Überspielung-日本語-🎵-") + c.name + ".wav");
    ASSERT_EQ(convert(out, target), 1);

    const std::vector<uint8_t> wav = readFile(target);
    const std::vector<uint8_t> ref = readFile(raw);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(u32At(wav, 4), wav.size() - 8);
    EXPECT_EQ(wav[20] | wav[21] << 8, 1);   // PCM
    EXPECT_EQ(wav[22] | wav[23] << 8, 2);   // channels
    EXPECT_EQ(u32At(wav, 24), uint32_t(c.rate));
    EXPECT_EQ(u32At(wav, 28), uint32_t(c.rate) * 4);
    EXPECT_EQ(wav[32] | wav[33] << 8, 4);   // block align
    EXPECT_EQ(wav[34] | wav[35] << 8, 16);  // bits, whatever the source's depth
    EXPECT_EQ(u32At(wav, 40), wav.size() - 44);
    ASSERT_EQ(wav.size() - 44, ref.size()) << "frames: " << (wav.size() - 44) / 4 << " against " << ref.size() / 4;

    int worst = 0;
    size_t worstAt = 0;
    for (size_t i = 0; i + 1 < ref.size(); i += 2) {
        const int d = std::abs(mixdowntest::s16At(wav, 44 + i) - mixdowntest::s16At(ref, i));
        if (d > worst) worst = d, worstAt = i / 2;
    }
    EXPECT_LE(worst, c.tolerance) << "at sample " << worstAt;
}

INSTANTIATE_TEST_SUITE_P(Formats, ConvertFormats, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The refusals: the Part's status, and no file that looks finished.
TEST_F(ConvertFile, RefusalsLeaveNoFileBehind) {
    ASSERT_EQ(initResult_, 1);
    const std::string source = source16();
    const uintmax_t sourceSize = fs::file_size(source);
    fs::create_directory_symlink("/dev", file("devices"));
    // A folder where a name of 300 characters would be created, were it not too long.
    const std::string deep = file("long/" + std::string(120, 'd'));
    fs::create_directories(deep);
    const std::string tooLong = deep + "/" + std::string(300 - deep.size() - 1, 'x');
    struct Refusal {
        const char* what;
        std::string source, target;
        int format, expected;
    };
    const std::vector<Refusal> refusals = {
        {"missing source", file("nothing.mp3"), file("a.wav"), 1, -3},
        {"folder that does not exist", source, file("no/such/folder/a.wav"), 1, -29},
        {"the source itself", source, source, 1, -29},
        {"format 2 (no encoder)", source, file("b.wav"), 2, -16},
        {"format 7", source, file("c.wav"), 7, -16},
        {"300 characters", source, tooLong, 1, -29},
        {"a full disk", source, file("devices/full"), 1, -29},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(convert(r.source, r.target, r.format), r.expected);
        if (r.target != source && r.target.find("devices") == std::string::npos) {
            EXPECT_FALSE(fs::exists(r.target));
        }
    }
    // The source is untouched, and nothing else was made: not even a name cut short.
    EXPECT_EQ(fs::file_size(source), sourceSize);
    auto entries = [](const std::string& dir) {
        return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    };
    EXPECT_EQ(entries(files_.path()), 4);  // the source, the plug-in and device links, the long folder
    EXPECT_EQ(entries(deep), 0);

    // An unpaired surrogate cannot become a file name on this system.
    std::vector<char> from = soundopen::utf16(source);
    std::vector<char16_t> broken;
    for (char ch : file("bad-")) broken.push_back(static_cast<unsigned char>(ch));
    broken.insert(broken.end(), {0xD83C, u'.', u'w', u'a', u'v', 0});
    EXPECT_EQ(t_core.ConvertFile(from.data(), reinterpret_cast<char*>(broken.data()), nullptr, nullptr, nullptr, 1, 0),
              -29);
    // Memory format: converted, and no file written.
    EXPECT_EQ(convert(source, file("memory.wav"), -1), 1);
    EXPECT_FALSE(fs::exists(file("memory.wav")));
    EXPECT_EQ(entries(files_.path()), 4);
}

// A FLAC file cut short: what decodes is kept as a valid WAV, sample for sample what the reference
// decoder makes of the same file, and the answer says the source failed part way. Half the file
// ends where the decoder loses sync (a decode error); 45 % ends on a clean frame boundary, where
// the data simply stops before the length the header declares.
TEST_F(ConvertFile, ACutFlacKeepsWhatDecodedAndAnswersMinusFive) {
    if (!soundopen::haveTool("flac") || !soundopen::haveTool("sox")) GTEST_SKIP() << "tools missing";
    ASSERT_EQ(initResult_, 1);
    const std::string wav = file("long.wav");
    const std::string full = file("full.flac");
    // -D: no dither, so the file and where the cut falls in it are the same on every run.
    ASSERT_TRUE(soundopen::run("sox -D -n -r 44100 -c 2 -b 16 '" + wav + "' synth 20 sine 440 sine 1000 gain -6"));
    ASSERT_TRUE(soundopen::run("flac -s -f -o '" + full + "' '" + wav + "'"));
    for (const int percent : {50, 45}) {
        SCOPED_TRACE(std::to_string(percent) + " %");
        const std::string cut = file("cut" + std::to_string(percent) + ".flac");
        const std::string raw = file("reference" + std::to_string(percent) + ".raw");
        ASSERT_TRUE(fs::copy_file(full, cut));
        fs::resize_file(cut, fs::file_size(full) * percent / 100);
        // -F: decode through the damage, as far as the data goes (flac answers 1 for the damage).
        soundopen::run("flac -d -F -s -f --force-raw-format --endian=little --sign=signed -o '" + raw + "' '" +
                       cut + "'");
        const std::vector<uint8_t> ref = readFile(raw);
        ASSERT_GT(ref.size(), 44100u * 4 * 8);  // 9 or 10 s survive the cut

        const std::string target = file("cut" + std::to_string(percent) + ".wav");
        EXPECT_EQ(convert(cut, target), -5);
        const std::vector<uint8_t> out = readFile(target);
        ASSERT_GE(out.size(), 44u);
        EXPECT_EQ(u32At(out, 4), out.size() - 8);
        EXPECT_EQ(u32At(out, 40), out.size() - 44);
        EXPECT_EQ((out.size() - 44) % 4, 0u);
        const size_t frames = (out.size() - 44) / 4;
        // Everything the reference decoder gets, but the block (4096 frames) the cut runs through.
        EXPECT_GE(frames + 4096, ref.size() / 4) << frames << " frames against " << ref.size() / 4;
        ASSERT_LE(frames, ref.size() / 4);
        size_t differing = 0;
        for (size_t i = 0; i < frames * 2; ++i) {
            differing += mixdowntest::s16At(out, 44 + 2 * i) != mixdowntest::s16At(ref, 2 * i);
        }
        EXPECT_EQ(differing, 0u) << "of " << frames * 2 << " samples";
    }
}

TEST(ConvertFileIdle, BeforeStartUpTheAnswerIsMinusOne) {
    std::vector<char> from = soundopen::utf16("/tmp/a.wav");
    std::vector<char> to = soundopen::utf16("/tmp/b.wav");
    EXPECT_EQ(t_core.ConvertFile(from.data(), to.data(), nullptr, nullptr, nullptr, 1, 0), -1);
}

}  // namespace
