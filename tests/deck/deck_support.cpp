#include "deck_support.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "Monitor.h"
#include "Player.h"
#include "PlayerList.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"
#include "fmod_testhooks.hpp"

namespace deck_test {

namespace fs = std::filesystem;

namespace {
void put16(std::ofstream& out, uint16_t v) {
    const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    out.write(b, 2);
}
void put32(std::ofstream& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v & 0xFFFF));
    put16(out, static_cast<uint16_t>(v >> 16));
}
}  // namespace

bool writeWav(const std::string& path, int rate, int channels, int bits, long frames,
              const std::function<float(long, int)>& sample) {
    const int bytes = bits / 8;
    const uint32_t dataBytes = static_cast<uint32_t>(frames) * channels * bytes;
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    put32(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1);
    put16(out, static_cast<uint16_t>(channels));
    put32(out, static_cast<uint32_t>(rate));
    put32(out, static_cast<uint32_t>(rate * channels * bytes));
    put16(out, static_cast<uint16_t>(channels * bytes));
    put16(out, static_cast<uint16_t>(bits));
    out.write("data", 4);
    put32(out, dataBytes);
    std::vector<char> block;
    block.reserve(65536);
    const double full = bits == 24 ? 8388607.0 : 32767.0;
    for (long f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            float v = sample(f, c);
            v = v > 1.0f ? 1.0f : (v < -1.0f ? -1.0f : v);
            const int32_t s = static_cast<int32_t>(std::lround(v * full));
            for (int b = 0; b < bytes; ++b) block.push_back(static_cast<char>((s >> (8 * b)) & 0xFF));
        }
        if (block.size() >= 60000) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            block.clear();
        }
    }
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    return static_cast<bool>(out);
}

bool writeClickTrack(const std::string& path, int rate, int channels, int bits, double seconds, double bpm) {
    const long period = static_cast<long>(std::lround(rate * 60.0 / bpm));
    const long burst = rate / 100;
    return writeWav(path, rate, channels, bits, static_cast<long>(seconds * rate), [&](long f, int) {
        const long t = f % period;
        if (t >= burst) return 0.0f;
        const double env = std::exp(-5.0 * t / burst);
        return static_cast<float>(0.8 * env * std::sin(2.0 * M_PI * 1000.0 * t / rate));
    });
}

int findSlot(const std::string& card, int role) {
    if (!CTKCore::g_soundcards) return -1;
    for (int i = 0; i < CTKCore::g_soundcardcount; ++i) {
        const std::string name = CTKCore::g_soundcards[i];
        if (name.find("[" + card + "]") != std::string::npos && CTKCore::g_outputstate[i] == role) return i;
    }
    return -1;
}

TimeStretchedChannel* renderChannel(CPlayer& deck) {
    const DeckConfig* config = deck.GetConfig();
    return config && config->m_pMainOutput ? config->m_pMainOutput->getTimeStretchedChannel() : nullptr;
}

bool stepCard(TimeStretchedChannel* channel, const std::string& card, unsigned blocks,
              std::chrono::milliseconds pace) {
    auto* ring = channel ? channel->getOutputBuffer() : nullptr;
    for (unsigned i = 0; i < blocks; ++i) {
        // Until the worker has rendered what it keeps ahead of the mixer (bounded: a paused
        // channel renders nothing).
        for (int spins = 0; ring && !ring->isBypassed() && !ring->holdsKeptAhead() && spins < 4000; ++spins)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        std::this_thread::sleep_for(pace);
        if (!pw::testhooks::step(card, 1)) return false;
    }
    return true;
}

std::vector<double> channelRms(const std::string& card) {
    const std::vector<float> got = pw::testhooks::received(card);
    const int channels = pw::testhooks::receivedChannels(card);
    std::vector<double> sums(static_cast<size_t>(channels > 0 ? channels : 0), 0.0);
    if (channels <= 0) return sums;
    const size_t width = static_cast<size_t>(channels);
    const size_t frames = got.size() / width;
    for (size_t f = 0; f < frames; ++f)
        for (size_t c = 0; c < width; ++c) sums[c] += double(got[f * width + c]) * got[f * width + c];
    for (double& s : sums) s = frames ? std::sqrt(s / static_cast<double>(frames)) : 0.0;
    return sums;
}

void EngineOnTable::SetUp() {
    previousDir_ = fs::current_path().string();
    fs::current_path(files_.path());
    table_ = std::make_unique<pw::test::DeviceTableFile>(table());
    initResult_ = t_core.InitPlayer(0, 1, 44100);
    ASSERT_TRUE(CPlayerList::initialized.load());
}

void EngineOnTable::TearDown() {
    t_core.CleanUp();
    table_.reset();
    fs::current_path(previousDir_);
}

}  // namespace deck_test
