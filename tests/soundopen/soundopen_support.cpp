#include "soundopen_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "SoundHandles.h"
#include "TKCore.h"

namespace soundopen {

namespace fs = std::filesystem;

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool haveTool(const std::string& name) { return run("command -v " + name); }

bool writeBytes(const std::string& path, size_t bytes, char fill) {
    std::ofstream out(path, std::ios::binary);
    const std::string data(bytes, fill);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

bool makeWav(const std::string& path, long frames, int rate, int channels) {
    char command[1024];
    std::snprintf(command, sizeof command, "sox -r %d -c %d -b 16 -n '%s' synth %lds sine 440 vol 0.5", rate, channels,
                  path.c_str(), frames);
    return run(command);
}

std::vector<char> utf16(const std::string& utf8) {
    std::vector<char16_t> units;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t cp = c;
        int extra = 0;
        if (c >= 0xF0) cp = c & 0x07, extra = 3;
        else if (c >= 0xE0) cp = c & 0x0F, extra = 2;
        else if (c >= 0xC0) cp = c & 0x1F, extra = 1;
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i) cp = (cp << 6) | (utf8[i] & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
    }
    units.push_back(0);
    std::vector<char> bytes(units.size() * 2);
    std::memcpy(bytes.data(), units.data(), bytes.size());
    return bytes;
}

int CdImage::totalSectors() const {
    int total = 0;
    for (int s : trackSectors) total += s;
    return total;
}

int CdImage::startFrames(int track) const {
    int start = 150;
    for (int i = 0; i < track; ++i) start += trackSectors[static_cast<size_t>(i)];
    return start;
}

bool writeCdImage(const std::string& dir, const std::string& stem, CdImage* image) {
    constexpr int kSectorBytes = 2352;
    std::ofstream bin(dir + "/" + stem + ".bin", std::ios::binary);
    std::vector<unsigned char> sector(kSectorBytes);
    unsigned int sample = 12345;
    for (int s = 0; s < image->totalSectors(); ++s) {
        for (int b = 0; b < kSectorBytes; b += 2) {
            sample = sample * 1103515245u + 12345u;
            sector[static_cast<size_t>(b)] = static_cast<unsigned char>(sample >> 16);
            sector[static_cast<size_t>(b) + 1] = static_cast<unsigned char>(sample >> 24);
        }
        bin.write(reinterpret_cast<const char*>(sector.data()), kSectorBytes);
    }
    if (!bin) return false;
    std::ofstream cue(dir + "/" + stem + ".cue");
    cue << "FILE \"" << stem << ".bin\" BINARY\n";
    int start = 0;
    for (size_t t = 0; t < image->trackSectors.size(); ++t) {
        char line[128];
        std::snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n    INDEX 01 %02d:%02d:%02d\n", t + 1, start / 4500,
                      start / 75 % 60, start % 75);
        cue << line;
        start += image->trackSectors[t];
    }
    image->cuePath = dir + "/" + stem + ".cue";
    return static_cast<bool>(cue);
}

void EngineFixture::SetUp() {
    previousDir_ = fs::current_path().string();
    std::error_code ignored;
    fs::create_directory_symlink(PW_PLUGIN_DIR, files_.file("plugins"), ignored);
    fs::current_path(files_.path());
    table_ = std::make_unique<pw::test::DeviceTableFile>(
        "output name=\"Card1\" channels=2 sink=discard pacing=stepped\n" + extraTableLines());
    initResult_ = t_core.InitPlayer(startMode(), 1, 44100);
}

void EngineFixture::TearDown() {
    // Every test closes what it opened.
    EXPECT_EQ(SoundHandles::count(), 0u);
    t_core.CleanUp();
    table_.reset();
    fs::current_path(previousDir_);
}

}  // namespace soundopen
