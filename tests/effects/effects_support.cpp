#include "effects_support.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "Monitor.h"
#include "TimestretchedChannel.h"
#include "fmod_testhooks.hpp"

namespace effects_test {

namespace hooks = pw::testhooks;

double sineRms(double amplitude) { return amplitude / std::sqrt(2.0); }

std::string EffectsDeck::table() {
    return "output name=\"C44\" channels=2 minrate=44100 maxrate=44100 sink=memory pacing=stepped\n"
           "output name=\"C48\" channels=2 minrate=48000 maxrate=48000 sink=memory pacing=stepped\n";
}

void EffectsDeck::TearDown() {
    deck_.reset();  // a deck's units live on the engine's systems: gone before they are
    EngineOnTable::TearDown();
}

std::string EffectsDeck::toneFile(double hz, double amplitude) {
    const std::string path = file("tone-" + std::to_string(hz) + "-" + std::to_string(amplitude) + ".wav");
    EXPECT_TRUE(deck_test::writeWav(path, 44100, 2, 16, 44100L * 20, [=](long f, int) {
        return static_cast<float>(amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(f) / 44100.0));
    }));
    return path;
}

CPlayer& EffectsDeck::loadAndPlay(const std::string& card, const std::string& path) {
    deck_.reset();
    deck_ = std::make_unique<CPlayer>(0);
    const int slot = deck_test::findSlot(card, 0);
    EXPECT_GE(slot, 0) << card;
    std::string name = path;
    EXPECT_EQ(deck_->Load(name.data(), slot, slot, false), 1) << path;
    EXPECT_EQ(deck_->SetVolume(10000), 1);
    EXPECT_EQ(deck_->Play(true, false), 1);
    return *deck_;
}

bool EffectsDeck::run(const std::string& card, unsigned blocks) {
    TimeStretchedChannel* tsc = deck_ ? deck_->GetConfig()->m_pMainOutput->getTimeStretchedChannel() : nullptr;
    auto* ring = tsc ? tsc->getOutputBuffer() : nullptr;
    for (unsigned i = 0; i < blocks; ++i) {
        for (int spins = 0;
             ring && !ring->isBypassed() && ring->getFreeSamples() >= tsc->getBlockFrames() * 2 && spins < 4000;
             ++spins)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        if (!hooks::step(card, 1)) return false;
    }
    return true;
}

std::vector<double> EffectsDeck::measure(const std::string& card, unsigned settle, unsigned blocks) {
    std::vector<double> sums;
    if (!run(card, settle)) return sums;
    hooks::clearReceived(card);
    if (!run(card, blocks)) return sums;
    const std::vector<float> got = hooks::received(card);
    const int channels = hooks::receivedChannels(card);
    if (channels <= 0) return sums;
    sums.assign(static_cast<size_t>(channels), 0.0);
    const size_t frames = got.size() / static_cast<size_t>(channels);
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            const double v = got[f * static_cast<size_t>(channels) + static_cast<size_t>(c)];
            sums[static_cast<size_t>(c)] += v * v;
        }
    for (double& s : sums) s = frames ? std::sqrt(s / static_cast<double>(frames)) : 0.0;
    return sums;
}

}  // namespace effects_test
