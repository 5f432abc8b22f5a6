#include "loading_support.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "Monitor.h"
#include "TimestretchedChannel.h"
#include "fmod_testhooks.hpp"

namespace loading_test {

namespace hooks = pw::testhooks;

namespace {
constexpr int kFramesPerSector = 588;  // 2352 bytes of 16-bit stereo

std::string msf(int sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return text;
}
}  // namespace

double trackFrequency(int track) { return 300.0 + 200.0 * track; }
unsigned trackMs(int track) { return static_cast<unsigned>(kTrackSectors[track] * 1000 / 75); }

std::string writeDiscImage(const std::string& dir, const std::string& stem) {
    const std::string bin = dir + "/" + stem + ".bin", cue = dir + "/" + stem + ".cue";
    std::ofstream disc(bin, std::ios::binary | std::ios::trunc);
    std::ofstream sheet(cue, std::ios::trunc);
    sheet << "FILE \"" << stem << ".bin\" BINARY\n";
    int start = 0;
    for (int t = 0; t < kTracks; ++t) {
        const std::string raw = dir + "/track" + std::to_string(t) + ".raw";
        const std::string command = "sox -r 44100 -c 2 -n -b 16 -e signed-integer -L -t raw '" + raw + "' synth " +
                                    std::to_string(kTrackSectors[t] * kFramesPerSector) + "s sine " +
                                    std::to_string(trackFrequency(t)) + " vol 0.5 2>/dev/null";
        if (std::system(command.c_str()) != 0) return std::string();
        std::ifstream in(raw, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() != static_cast<size_t>(kTrackSectors[t]) * 2352u) return std::string();
        disc.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::remove(raw.c_str());
        char number[8];
        std::snprintf(number, sizeof number, "%02d", t + 1);
        sheet << "  TRACK " << number << " AUDIO\n    INDEX 01 " << msf(start) << "\n";
        start += kTrackSectors[t];
    }
    return (disc && sheet) ? cue : std::string();
}

std::string LoadingEngine::table() {
    cue_ = writeDiscImage(files_.path(), "disc");
    if (cue_.empty()) ADD_FAILURE() << "no disc image (sox)";
    return "output name=\"Card1\" channels=2 sink=memory pacing=stepped\n"
           "output name=\"Card2\" channels=2 sink=memory pacing=stepped\n"
           "record name=\"Line In\" input=sine:" + std::to_string(kLineInHz) + "\n"
           "record name=\"Mic\" input=sine:" + std::to_string(kMicHz) + "\n"
           "cdrom name=\"dev\" image=\"" + cue_ + "\"\n"
           "cdrom name=\"/dev/disk1\" image=\"" + cue_ + "\"\n"
           "cdrom name=\"E:/\" image=\"" + cue_ + "\"\n";
}

void LoadingEngine::SetUp() {
    EngineOnTable::SetUp();
    ASSERT_EQ(initResult_, 1);
    card1_ = deck_test::findSlot("Card1", 0);
    card2_ = deck_test::findSlot("Card2", 0);
    ASSERT_GE(card1_, 0);
    ASSERT_GE(card2_, 0);
}

std::string LoadingEngine::sineWav(const std::string& name, double hz, double seconds) {
    const std::string path = file(name);
    const bool written = deck_test::writeWav(path, 44100, 2, 16, static_cast<long>(44100 * seconds), [hz](long f, int) {
        return static_cast<float>(0.5 * std::sin(2 * M_PI * hz * f / 44100.0));
    });
    if (!written) ADD_FAILURE() << "cannot write " << path;
    return path;
}

bool LoadingEngine::run(CPlayer& deck, const std::string& card, unsigned blocks) {
    return deck_test::stepCard(deck_test::renderChannel(deck), card, blocks);
}

int load(CPlayer& deck, const std::string& name, int mainSlot, int cueSlot, bool unicode) {
    std::vector<char> bytes(name.begin(), name.end());
    bytes.push_back('\0');
    return loadBytes(deck, std::move(bytes), mainSlot, cueSlot, unicode);
}

int loadBytes(CPlayer& deck, std::vector<char> name, int mainSlot, int cueSlot, bool unicode) {
    return deck.Load(name.data(), mainSlot, cueSlot, unicode);
}

std::vector<float> leftChannel(const std::string& card) {
    const std::vector<float> got = hooks::received(card);
    const int channels = hooks::receivedChannels(card);
    std::vector<float> left;
    if (channels <= 0) return left;
    for (size_t i = 0; i + static_cast<size_t>(channels) <= got.size(); i += static_cast<size_t>(channels))
        left.push_back(got[i]);
    return left;
}

}  // namespace loading_test
