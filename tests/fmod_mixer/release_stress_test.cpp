// Units created, played and released while the mix runs: once release (or stop) returns, no
// callback of the unit runs again. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "device_table_file.hpp"
#include "fmod_testhooks.hpp"
#include "mixer_test_util.hpp"

using namespace pw::mixtest;

namespace {

struct Probe {
    std::atomic<bool> released{false};
    std::atomic<int> calls{0};
    std::atomic<int> late{0};  // callbacks after release returned
};

FMOD_RESULT probeRead(FMOD_DSP_STATE* state, float* in, float* out, unsigned length, int inch, int outch) {
    void* ud = nullptr;
    state->instance->getUserData(&ud);
    auto* probe = static_cast<Probe*>(ud);
    if (probe->released.load(std::memory_order_acquire)) probe->late.fetch_add(1);
    probe->calls.fetch_add(1, std::memory_order_release);
    // Setting calls from inside a callback, as the engine's units make them.
    FMOD::DSP* self = state->instance;
    self->setParameter(0, 1.0f);  // no parameters: refused, harmlessly
    bool bypass = false;
    self->getBypass(&bypass);
    // Take a while, so that releases often land while a callback runs.
    float acc = 0.0f;
    for (unsigned k = 0; k < length * static_cast<unsigned>(outch); ++k) {
        for (int r = 0; r < 20; ++r) acc += std::sqrt(static_cast<float>(k + r));
        out[k] = inch ? in[k] * 0.5f : 0.1f;
    }
    out[0] += acc * 0.0f;
    // Still running after release returned is as wrong as starting after it.
    if (probe->released.load(std::memory_order_acquire)) probe->late.fetch_add(1);
    return FMOD_OK;
}

// Waits (bounded, generously: sanitizers and loaded machines are slow) for the unit's first call.
bool waitCalls(const Probe& p) {
    for (int i = 0; i < 100000 && p.calls.load(std::memory_order_acquire) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    return p.calls.load() > 0;
}

TEST(MixerReleaseStress, NoCallbackRunsAfterReleaseReturns) {
    pw::test::DeviceTableFile table("output name=\"Stress\" channels=2 sink=discard pacing=stepped\n");
    using pw::testhooks::Kind;
    const int dspsBefore = pw::testhooks::liveCount(Kind::DSP);
    const int channelsBefore = pw::testhooks::liveCount(Kind::Channel);

    FMOD::System* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    ASSERT_EQ(system->setDSPBufferSize(64, 4), FMOD_OK);
    ASSERT_EQ(system->init(65, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    FMOD::ChannelGroup* master = nullptr;
    ASSERT_EQ(system->getMasterChannelGroup(&master), FMOD_OK);

    std::atomic<bool> stop{false};
    std::thread stepper([&] {
        while (!stop.load()) pw::testhooks::step("Stress", 1);
    });

    std::vector<std::unique_ptr<Probe>> probes;
    int ran = 0;
    for (int cycle = 0; cycle < 1000; ++cycle) {
        probes.push_back(std::make_unique<Probe>());
        Probe* headProbe = probes.back().get();
        probes.push_back(std::make_unique<Probe>());
        Probe* chainProbe = probes.back().get();
        FMOD_DSP_DESCRIPTION hd = describe("Player", 2, probeRead, headProbe);
        FMOD_DSP_DESCRIPTION cd = describe("Tap", 0, probeRead, chainProbe);
        FMOD::DSP* head = nullptr;
        FMOD::DSP* tap = nullptr;
        ASSERT_EQ(system->createDSP(&hd, &head), FMOD_OK);
        ASSERT_EQ(system->createDSP(&cd, &tap), FMOD_OK);
        FMOD::Channel* channel = nullptr;
        ASSERT_EQ(system->playDSP(FMOD_CHANNEL_REUSE, head, false, &channel), FMOD_OK);
        if (cycle % 2 == 0) {
            ASSERT_EQ(channel->addDSP(tap, nullptr), FMOD_OK);
        } else {
            ASSERT_EQ(master->addDSP(tap, nullptr), FMOD_OK);
        }
        if (waitCalls(*headProbe) && waitCalls(*chainProbe)) ++ran;

        switch (cycle % 3) {
        case 0:  // the engine's teardown of a tap: bypass, disconnect, remove, release
            tap->setBypass(true);
            tap->disconnectAll(true, true);
            tap->remove();
            ASSERT_EQ(tap->release(), FMOD_OK);
            chainProbe->released.store(true, std::memory_order_release);
            ASSERT_EQ(channel->stop(), FMOD_OK);
            headProbe->released.store(true, std::memory_order_release);
            ASSERT_EQ(head->release(), FMOD_OK);
            break;
        case 1:  // release the head first: the channel ends with it
            ASSERT_EQ(head->release(), FMOD_OK);
            headProbe->released.store(true, std::memory_order_release);
            ASSERT_EQ(tap->release(), FMOD_OK);
            chainProbe->released.store(true, std::memory_order_release);
            break;
        default:  // release the unit while it runs in the chain, then the channel
            ASSERT_EQ(tap->release(), FMOD_OK);
            chainProbe->released.store(true, std::memory_order_release);
            ASSERT_EQ(head->release(), FMOD_OK);
            headProbe->released.store(true, std::memory_order_release);
            break;
        }
    }
    // Let more blocks run after the last release.
    for (int i = 0; i < 20; ++i) std::this_thread::yield();
    stop.store(true);
    stepper.join();

    int late = 0;
    for (const auto& p : probes) late += p->late.load();
    EXPECT_EQ(late, 0);
    EXPECT_EQ(ran, 1000);  // every cycle really ran both units during the mix
    EXPECT_EQ(pw::testhooks::liveCount(Kind::DSP), dspsBefore);
    EXPECT_EQ(pw::testhooks::liveCount(Kind::Channel), channelsBefore);
    EXPECT_EQ(system->release(), FMOD_OK);
}

}  // namespace
