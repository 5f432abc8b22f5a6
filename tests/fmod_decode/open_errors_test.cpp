// What openFile answers for files that are not there or that no decoder takes, content-based
// routing (the extension does not decide), UTF-8 paths, and the MPEG frame-header recogniser.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "decode_fixture.hpp"
#include "mpeg_sniff.hpp"

namespace pw::decode::test {
namespace {

struct BadInput {
    const char* name;
    Bytes content;
};

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<unsigned char>(rng());
    return out;
}

// Each case is written under several extensions, so that no extension rescues garbage.
std::vector<BadInput> badInputs() {
    Bytes riffOnly = text("RIFF\x24\x00\x00\x00WAVE");
    Bytes mpegSync = {0xFF, 0xFB, 0x90, 0x64};  // one plausible MP3 frame header, no frame
    Bytes id3Only = text("ID3\x03");
    id3Only.resize(10, 0);
    Bytes adtsHeaderOnly = {0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC};
    return {
        {"empty", {}},
        {"three_bytes", {1, 2, 3}},
        {"text", text(std::string(500, 'x') + "not audio at all\n")},
        {"random_4k", randomBytes(4096, 1)},
        {"random_200k", randomBytes(200000, 2)},
        {"riff_header_only", riffOnly},
        {"mpeg_sync_only", mpegSync},
        {"id3_header_only", id3Only},
        {"adts_header_only", adtsHeaderOnly},
        {"zeros", Bytes(65536, 0)},
        {"ones", Bytes(65536, 0xFF)},
    };
}

TEST(OpenFile, MissingFileOrDirectoryIsNotFound) {
    TempDir dir;
    std::unique_ptr<Decoder> d;
    const std::vector<std::string> paths = {dir.file("absent.wav"), dir.file("absent.mp3"), dir.path(), ""};
    for (const auto& path : paths) {
        EXPECT_EQ(openFile(path, true, {aacPlugin()}, &d), FMOD_ERR_FILE_NOTFOUND) << "'" << path << "'";
        EXPECT_EQ(d, nullptr);
    }
}

TEST(OpenFile, NothingTakesGarbage) {
    TempDir dir;
    std::vector<const PWCodecDescription*> plugins;
    if (aacPlugin())
        plugins.push_back(aacPlugin());
    for (const BadInput& bad : badInputs()) {
        for (const char* ext : {"wav", "mp3", "m4a", "bin"}) {
            const std::string path = dir.file(std::string(bad.name) + "." + ext);
            writeFile(path, bad.content);
            std::unique_ptr<Decoder> d(nullptr);
            for (bool accurate : {false, true}) {
                EXPECT_EQ(openFile(path, accurate, plugins, &d), FMOD_ERR_FORMAT) << path;
                EXPECT_EQ(d, nullptr) << "a decoder came with a failure: " << path;
            }
        }
    }
}

// Special files are refused at once: a FIFO without a writer would block any reader forever.
TEST(OpenFile, SpecialFilesAreRefusedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);
    for (const std::string& path : {dir.file("pipe.wav"), std::string("/dev/zero"), std::string("/dev/null")}) {
        std::unique_ptr<Decoder> d;
        EXPECT_EQ(openFile(path, true, {}, &d), FMOD_ERR_FORMAT) << path;
        EXPECT_EQ(d, nullptr);
    }
}

TEST(OpenFile, RefusingLeavesAPreviousDecoderCleared) {
    TempDir dir;
    writeFile(dir.file("ok.raw"), fullRangePcm(2, 2, 4410, 1));
    ASSERT_TRUE(run("sox -t raw -e signed -b 16 -c 2 -r 44100 -L " + dir.file("ok.raw") + " " + dir.file("ok.wav")));
    std::unique_ptr<Decoder> d;
    ASSERT_EQ(openFile(dir.file("ok.wav"), true, {}, &d), FMOD_OK);
    writeFile(dir.file("bad.wav"), {1, 2, 3});
    EXPECT_EQ(openFile(dir.file("bad.wav"), true, {}, &d), FMOD_ERR_FORMAT);
    EXPECT_EQ(d, nullptr);
}

// Content decides: a WAV named .mp3 is WAV, MPEG audio named .wav or without extension is MPEG,
// and M4A under a foreign name still goes to the plug-in.
TEST(OpenFile, ContentNotExtensionDecides) {
    ASSERT_NE(aacPlugin(), nullptr);
    TempDir dir;
    writeFile(dir.file("in.raw"), tonePcm16(2, 22050, 44100, 9));
    ASSERT_TRUE(run("sox -t raw -e signed -b 16 -c 2 -r 44100 -L " + dir.file("in.raw") + " " + dir.file("in.wav")));
    ASSERT_TRUE(run("lame --quiet " + dir.file("in.wav") + " " + dir.file("in.mp3")));
    ASSERT_TRUE(run("ffmpeg -loglevel error -y -i " + dir.file("in.wav") + " -c:a aac " + dir.file("in.m4a")));
    const struct {
        const char* from;
        const char* to;
        FMOD_SOUND_TYPE type;
    } cases[] = {
        {"in.wav", "wave.mp3", FMOD_SOUND_TYPE_WAV},
        {"in.mp3", "mpeg.wav", FMOD_SOUND_TYPE_MPEG},
        {"in.mp3", "mpeg_no_extension", FMOD_SOUND_TYPE_MPEG},
        {"in.mp3", "mpeg.flac", FMOD_SOUND_TYPE_MPEG},
        {"in.m4a", "aac.mp3", FMOD_SOUND_TYPE_AAC},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(run("cp " + dir.file(c.from) + " " + dir.file(c.to)));
        std::unique_ptr<Decoder> d;
        ASSERT_EQ(openFile(dir.file(c.to), true, {aacPlugin()}, &d), FMOD_OK) << c.to;
        EXPECT_EQ(d->info().type, c.type) << c.to;
    }
}

TEST(OpenFile, Utf8PathWithNonLatinCharacters) {
    TempDir dir;
    const std::string path = dir.file("Музыка 音楽 ☃ ελληνικά.wav");
    const Bytes raw = fullRangePcm(2, 1, 1000, 4);
    writeFile(dir.file("in.raw"), raw);
    ASSERT_TRUE(run("sox -t raw -e signed -b 16 -c 1 -r 44100 -L " + dir.file("in.raw") + " '" + path + "'"));
    std::unique_ptr<Decoder> d;
    ASSERT_EQ(openFile(path, true, {}, &d), FMOD_OK);
    EXPECT_EQ(readAll(*d), raw);
    // The MPEG decoder opens by path separately: it must take the same name.
    const std::string mp3 = dir.file("Лёд ❄ 氷.mp3");
    ASSERT_TRUE(run("lame --quiet '" + path + "' '" + mp3 + "'"));
    ASSERT_EQ(openFile(mp3, true, {}, &d), FMOD_OK);
    EXPECT_EQ(d->info().type, FMOD_SOUND_TYPE_MPEG);
}

// A quick open estimates (a CBR file's size-based figure is off by the priming it cannot see)
// and says so; the accurate open scans.
TEST(OpenFile, QuickOpenOfMp3EstimatesAndSaysSo) {
    TempDir dir;
    ASSERT_TRUE(run("sox -n -r 44100 -c 2 " + dir.file("x.mp3") + " synth 3 sine 440"));
    std::unique_ptr<Decoder> quick;
    std::unique_ptr<Decoder> exact;
    ASSERT_EQ(openFile(dir.file("x.mp3"), false, {}, &quick), FMOD_OK);
    ASSERT_EQ(openFile(dir.file("x.mp3"), true, {}, &exact), FMOD_OK);
    EXPECT_TRUE(exact->info().lengthExact);
    EXPECT_FALSE(quick->info().lengthExact);
    EXPECT_NEAR(static_cast<double>(quick->info().lengthFrames), static_cast<double>(exact->info().lengthFrames),
                0.02 * static_cast<double>(exact->info().lengthFrames));
    // Both decode the same samples, whatever the length says.
    const Bytes a = readAll(*quick);
    const Bytes b = readAll(*exact);
    EXPECT_EQ(firstDifference(a, b), "");
    EXPECT_EQ(b.size() / 4, exact->info().lengthFrames);
}

// Frame headers: every table entry that matters, and the values that must be refused.
TEST(MpegSniff, HeaderFields) {
    const struct {
        unsigned char bytes[4];
        bool valid;
        int version, layer, rate, frameBytes;
    } cases[] = {
        {{0xFF, 0xFB, 0x90, 0x64}, true, 1, 3, 44100, 417},  // 128 kbit/s layer III
        {{0xFF, 0xFB, 0x92, 0x64}, true, 1, 3, 44100, 418},  // padded
        {{0xFF, 0xFB, 0xE0, 0x64}, true, 1, 3, 44100, 1044}, // 320 kbit/s
        {{0xFF, 0xF3, 0x80, 0x64}, true, 2, 3, 22050, 208},  // MPEG-2 64 kbit/s: 72 * 64000 / 22050
        {{0xFF, 0xE3, 0x80, 0x64}, true, 25, 3, 11025, 417}, // MPEG-2.5
        {{0xFF, 0xFD, 0xA0, 0x04}, true, 1, 2, 44100, 626},  // layer II 192 kbit/s
        {{0xFF, 0xFF, 0x80, 0x04}, true, 1, 1, 44100, 276},  // layer I 256 kbit/s: (12*256000/44100)*4
        {{0xFF, 0xFB, 0xF0, 0x64}, false, 0, 0, 0, 0},       // bitrate index 15
        {{0xFF, 0xFB, 0x00, 0x64}, false, 0, 0, 0, 0},       // free format
        {{0xFF, 0xFB, 0x9C, 0x64}, false, 0, 0, 0, 0},       // rate index 3
        {{0xFF, 0xEB, 0x90, 0x64}, false, 0, 0, 0, 0},       // version 01 reserved
        {{0xFF, 0xF9, 0x90, 0x64}, false, 0, 0, 0, 0},       // layer 00 reserved (ADTS looks like this)
        {{0xFE, 0xFB, 0x90, 0x64}, false, 0, 0, 0, 0},       // no sync
    };
    for (const auto& c : cases) {
        MpegFrameHeader h;
        ASSERT_EQ(parseMpegHeader(c.bytes, &h), c.valid) << std::hex << int(c.bytes[1]) << " " << int(c.bytes[2]);
        if (!c.valid)
            continue;
        EXPECT_EQ(h.version, c.version);
        EXPECT_EQ(h.layer, c.layer);
        EXPECT_EQ(h.rate, c.rate);
        EXPECT_EQ(h.bytes, c.frameBytes) << std::hex << int(c.bytes[1]) << " " << int(c.bytes[2]);
    }
}

TEST(MpegSniff, NeedsAChainOfFrames) {
    const unsigned char header[4] = {0xFF, 0xFB, 0x90, 0x64};  // 417-byte frames
    auto stream = [&](int frames, size_t junk) {
        Bytes out(junk, 0x11);
        for (int i = 0; i < frames; ++i) {
            out.insert(out.end(), header, header + 4);
            out.resize(out.size() + 413, 0x22);
        }
        return out;
    };
    EXPECT_TRUE(findMpegFrames(stream(3, 0).data(), stream(3, 0).size(), 4096, 3));
    EXPECT_TRUE(findMpegFrames(stream(5, 700).data(), stream(5, 700).size(), 4096, 3)) << "junk before the first frame";
    EXPECT_TRUE(findMpegFrames(stream(2, 0).data(), stream(2, 0).size(), 4096, 3)) << "a file that ends after 2";
    Bytes one = stream(1, 0);
    EXPECT_FALSE(findMpegFrames(one.data(), one.size(), 4096, 3)) << "a lone header is not a stream";
    Bytes broken = stream(3, 0);
    broken[417] = 0x00;  // second header destroyed
    broken.resize(broken.size() + 100, 0x33);
    EXPECT_FALSE(findMpegFrames(broken.data(), broken.size(), 4096, 3));
    Bytes far = stream(3, 5000);
    EXPECT_FALSE(findMpegFrames(far.data(), far.size(), 4096, 3)) << "beyond the search window";
}

}  // namespace
}  // namespace pw::decode::test
