// init, close and release of a system.
//
// init opens the device in the speaker mode's layout and starts the mixer thread (none for the
// no-sound types). A device that refuses the layout answers FMOD_ERR_OUTPUT_CREATEBUFFER; the
// system then stays uninitialised with its speaker mode set back to stereo, so a second init
// tries stereo on the same configuration.
#include <algorithm>
#include <new>

#include "system_impl.hpp"

using pw::mix::SystemImpl;

namespace {

constexpr int kMaxVoices = 4093;

bool realtimeOutput(FMOD_OUTPUTTYPE type) {
    return type == FMOD_OUTPUTTYPE_AUTODETECT || type == FMOD_OUTPUTTYPE_PULSEAUDIO ||
           type == FMOD_OUTPUTTYPE_VIRTUAL;
}

// configLock and graphLock held: back to the uninitialised state.
void shutDown(SystemImpl* s) {
    if (!s->initialised.load(std::memory_order_acquire)) return;
    pw::mix::stopAllChannels(s);
    pw::mix::stopMixerThread(s);
    s->stream.reset();
    s->initialised.store(false, std::memory_order_release);
    s->reclaimer.collect();
}

}  // namespace

namespace {

// init's work; throws bad_alloc when the driver list, the voice table or the mixer's buffers
// cannot be had (nothing is started then).
FMOD_RESULT initialise(FMOD::System* system, int maxchannels) {
    auto* s = SystemImpl::cast(system);
    if (maxchannels < 0) return FMOD_ERR_INVALID_PARAM;
    std::lock_guard<std::mutex> config(s->configLock);
    if (s->initialised.load(std::memory_order_acquire)) return FMOD_ERR_INITIALIZED;

    pw::dev::Backend* backend = realtimeOutput(s->config.output) ? s->backend() : nullptr;
    int rawChannels = 2;
    std::unique_ptr<pw::dev::OutputStream> stream;
    const unsigned block = s->config.dspLength;
    if (backend) {
        if (!s->driversListed) {
            s->drivers = backend->outputDrivers();
            s->driversListed = true;
        }
        if (s->drivers.empty()) return FMOD_ERR_OUTPUT_NOHARDWARE;
        const int driver = std::min(s->config.driver, static_cast<int>(s->drivers.size()) - 1);
        rawChannels = s->drivers[driver].channels;
        const pw::mix::SpeakerLayout layout = pw::mix::layoutFor(s->config.speakerMode, rawChannels);
        const FMOD_RESULT opened = backend->openOutput(driver, layout.channels, s->config.rate, block, &stream);
        if (opened != FMOD_OK) {
            if (opened == FMOD_ERR_OUTPUT_CREATEBUFFER) s->config.speakerMode = FMOD_SPEAKERMODE_STEREO;
            return opened;
        }
        if (!stream) return FMOD_ERR_OUTPUT_INIT;
    }

    std::lock_guard<std::mutex> graph(s->graphLock);
    s->layout = pw::mix::layoutFor(s->config.speakerMode, rawChannels);
    s->blockFrames = block;
    s->mixRate.store(s->config.rate, std::memory_order_relaxed);
    const int voices = std::clamp(maxchannels, 1, kMaxVoices);
    if (voices > s->maxChannels) {
        // The mixer is not running, so the table can be replaced; live handles do not exist.
        s->active.reset(new std::atomic<pw::mix::ChannelImpl*>[voices]);
        s->maxChannels = voices;
    }
    for (int i = 0; i < s->maxChannels; ++i) s->active[i].store(nullptr, std::memory_order_relaxed);
    pw::mix::allocateMixer(s);
    s->stream = std::move(stream);
    s->initialised.store(true, std::memory_order_release);
    if (s->stream) {
        const FMOD_RESULT started = pw::mix::startMixerThread(s);
        if (started != FMOD_OK) {
            s->stream.reset();
            s->initialised.store(false, std::memory_order_release);
            return started;
        }
    }
    return FMOD_OK;
}

}  // namespace

FMOD_RESULT FMOD::System::init(int maxchannels, FMOD_INITFLAGS, void*) {
    return pw::guarded([&] { return initialise(this, maxchannels); });
}

FMOD_RESULT FMOD::System::close() {
    auto* s = SystemImpl::cast(this);
    if (s->onMixerThread()) return FMOD_ERR_INVALID_THREAD;
    pw::releaseSoundsOf(this);  // recordings and sounds go before the mixer does
    std::lock_guard<std::mutex> config(s->configLock);
    std::lock_guard<std::mutex> graph(s->graphLock);
    shutDown(s);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::release() {
    auto* s = SystemImpl::cast(this);
    if (s->onMixerThread()) return FMOD_ERR_INVALID_THREAD;
    pw::releaseSoundsOf(this);
    {
        std::lock_guard<std::mutex> config(s->configLock);
        std::lock_guard<std::mutex> graph(s->graphLock);
        shutDown(s);
        while (!s->units.empty()) pw::mix::destroyUnit(s, s->units.back());
        for (auto* chain : {&s->master.chain, &s->systemChain}) {
            chain->units.clear();
            delete chain->snapshot.exchange(nullptr);
        }
        s->reclaimer.drainAll();  // no mixer thread any more
    }
    {
        std::lock_guard<std::mutex> lock(s->pluginLock);
        for (auto& plugin : s->plugins) pw::mix::closePlugin(plugin);
        s->plugins.clear();
    }
    pw::liveCounter(pw::testhooks::Kind::System).fetch_sub(1, std::memory_order_relaxed);
    delete s;
    return FMOD_OK;
}
