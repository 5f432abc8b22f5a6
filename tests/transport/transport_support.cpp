#include "transport_support.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "FMODSystem.h"
#include "Monitor.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"
#include "fmod_testhooks.hpp"

namespace transport_test {

namespace hooks = pw::testhooks;

void TransportDeck::SetUp() {
    EngineOnTable::SetUp();
    slot_ = deck_test::findSlot(kCard, 0);
    ASSERT_GE(slot_, 0);
    tone_ = writeTone("tone.wav", 20.0);
}

std::string TransportDeck::writeTone(const std::string& name, double seconds, double toneFrom) {
    const std::string path = file(name);
    const long from = static_cast<long>(toneFrom * kRate);
    EXPECT_TRUE(deck_test::writeWav(path, kRate, 2, 16, static_cast<long>(seconds * kRate), [from](long f, int c) {
        if (c != 0 || f < from) return 0.0f;
        return static_cast<float>(0.5 * std::sin(2 * M_PI * 441.0 * f / kRate));
    }));
    return path;
}

namespace {
// The outputs, the tap and the main volume, as the loader sets them up.
bool startOutputs(CPlayer& deck, int slot, FMOD::Sound* sound, bool loopMode) {
    DeckConfig* c = deck.GetConfig();
    c->m_pSound = sound;
    c->m_iMainOutput = slot;
    c->m_iCueOutput = slot;
    ++CTKCore::g_SystemsUseCount[slot];
    if (c->m_pMainOutput->Init(slot, 0, sound, loopMode) != 1) return false;
    if (c->m_pCueOutput->Init(slot, 1, nullptr, false) != 1) return false;
    c->m_pMainOutput->ActivateMonitoring();
    c->m_pMainOutput->SetVolume(1.0f);
    return c->m_pMainOutput->getTimeStretchedChannel() != nullptr;
}
}  // namespace

bool TransportDeck::loadFile(CPlayer& deck, const std::string& path) {
    DeckConfig* c = deck.GetConfig();
    std::memset(c->m_szFileName, 0, sizeof c->m_szFileName);
    std::strncpy(c->m_szFileName, path.c_str(), sizeof c->m_szFileName - 1);
    FMOD::Sound* sound = nullptr;
    const FMOD_MODE mode =
        FMOD_LOOP_NORMAL | FMOD_2D | FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_ACCURATETIME | FMOD_MPEGSEARCH;
    EXPECT_EQ(CTKCore::g_SilentSystem->createStream(path.c_str(), mode, nullptr, &sound), FMOD_OK);
    if (!sound) return false;
    unsigned int length = 0;
    EXPECT_EQ(sound->getLength(&length, FMOD_TIMEUNIT_MS), FMOD_OK);
    c->m_uiLength = length;
    c->m_uiLoopStart = 0;
    c->m_uiLoopEnd = length;
    c->m_bLoopOn = false;
    const bool ok = startOutputs(deck, slot_, sound, true);
    EXPECT_TRUE(ok);
    return ok;
}

bool TransportDeck::loadLineIn(CPlayer& deck) {
    DeckConfig* c = deck.GetConfig();
    FMODSystem* system = CTKCore::g_Systems[slot_];
    FMOD_CREATESOUNDEXINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbsize = 208;
    info.length = 17640;
    info.numchannels = 1;
    info.defaultfrequency = kRate;
    info.format = FMOD_SOUND_FORMAT_PCM16;
    FMOD::Sound* sound = nullptr;
    EXPECT_EQ(system->createSound(nullptr, FMOD_OPENUSER | FMOD_SOFTWARE | FMOD_2D | FMOD_LOOP_NORMAL, &info, &sound),
              FMOD_OK);
    if (!sound) return false;
    EXPECT_EQ(system->recordStart(0, sound, true), FMOD_OK);
    c->m_bRecording = true;
    c->m_iRecorder = 0;
    const bool ok = startOutputs(deck, slot_, sound, false);
    EXPECT_TRUE(ok);
    return ok;
}

bool TransportDeck::run(CPlayer& deck, unsigned blocks) {
    TimeStretchedChannel* tsc = deck.GetConfig()->m_pMainOutput->getTimeStretchedChannel();
    auto* ring = tsc ? tsc->getOutputBuffer() : nullptr;
    // A paused channel (or one at speed 0) renders nothing into the ring: nothing to wait for.
    bool paused = true;
    if (tsc) tsc->getPaused(&paused);
    const bool buffered = ring && !ring->isBypassed() && !paused && deck.GetConfig()->m_dSpeed != 0.0;
    auto waitWhile = [&](auto condition, int spins) {
        for (int i = 0; buffered && condition() && i < spins; ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
    };
    for (unsigned i = 0; i < blocks; ++i) {
        // Until the worker has rendered what it keeps ahead of the mixer.
        waitWhile([&] { return !ring->holdsKeptAhead(); }, 4000);
        if (!hooks::step(kCard, 1)) return false;
        // The mixer mixes its next block as soon as the last one is written, which may be after
        // step() returned: let it take from the filled ring before the next wait looks at it. A
        // channel at speed 0 takes nothing, hence the bound.
        waitWhile([&] { return ring->holdsKeptAhead(); }, 40);
    }
    return true;
}

std::vector<double> TransportDeck::leftRmsPerBlock(unsigned frames) {
    const std::vector<float> got = hooks::received(kCard);
    const size_t channels = static_cast<size_t>(hooks::receivedChannels(kCard));
    std::vector<double> out;
    if (channels == 0) return out;
    const size_t total = got.size() / channels;
    for (size_t start = 0; start + frames <= total; start += frames) {
        double sum = 0.0;
        for (size_t f = start; f < start + frames; ++f) sum += double(got[f * channels]) * got[f * channels];
        out.push_back(std::sqrt(sum / frames));
    }
    return out;
}

}  // namespace transport_test
