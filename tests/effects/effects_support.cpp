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
    return deck_test::stepCard(deck_ ? deck_test::renderChannel(*deck_) : nullptr, card, blocks);
}

std::vector<double> EffectsDeck::measure(const std::string& card, unsigned settle, unsigned blocks) {
    std::vector<double> sums;
    if (!run(card, settle)) return sums;
    hooks::clearReceived(card);
    if (!run(card, blocks)) return sums;
    return deck_test::channelRms(card);
}

}  // namespace effects_test
