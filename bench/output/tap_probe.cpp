// Natives of bench.TapLatency: a unit at the end of an output slot's mix that notes, on the steady
// clock, each block in which the mix turns from silence to sound or back. It tells the benchmark
// when the mixer computed the block a call made audible or silent, the first of the three legs of
// tap-to-sound (call to mixer block, the layer's hand-over, the server).
//
// Loaded into the JVM after the engine library, whose symbols it uses (the slot's audio system).
// The read callback runs on the mixer thread: it writes into a fixed ring, never allocates.
#include <jni.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>

#include "FMODSystem.h"
#include "TKCore.h"

namespace {

// Below this a sample counts as silence (-80 dBFS): filters may leave tails that never reach 0.
constexpr float kSilence = 1e-4f;
constexpr unsigned kEvents = 4096;

struct Event {
    int64_t steadyNs;  // when the mixer computed the block
    int32_t sound;     // 1: the block holds the first sound after silence; 0: the first silence
    int32_t offset;    // the frame within the block where that starts
};

Event g_events[kEvents];
std::atomic<unsigned> g_count{0};
bool g_sounding = false;  // mixer thread only

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void note(int sound, unsigned offset) {
    const unsigned n = g_count.load(std::memory_order_relaxed);
    if (n >= kEvents) return;
    g_events[n] = Event{nowNs(), sound, static_cast<int32_t>(offset)};
    g_count.store(n + 1, std::memory_order_release);
}

FMOD_RESULT onRead(FMOD_DSP_STATE*, float* in, float* out, unsigned length, int inchannels, int) {
    const size_t channels = static_cast<size_t>(inchannels);
    std::memcpy(out, in, length * channels * sizeof(float));
    // The first frame that differs from the state of the block before, and whether the block ends
    // in the other state (a fade-out's last frames are quiet, so silence is the block's tail).
    long firstLoud = -1, lastLoud = -1;
    for (unsigned f = 0; f < length; ++f)
        for (size_t c = 0; c < channels; ++c)
            if (std::fabs(in[f * channels + c]) > kSilence) {
                if (firstLoud < 0) firstLoud = f;
                lastLoud = f;
            }
    if (!g_sounding && firstLoud >= 0) {
        note(1, static_cast<unsigned>(firstLoud));
        g_sounding = true;
    } else if (g_sounding && lastLoud < 0) {
        note(0, 0);
        g_sounding = false;
    } else if (g_sounding && static_cast<unsigned>(lastLoud) + 1 < length &&
               length - static_cast<unsigned>(lastLoud) - 1 >= 32) {
        // Sound that ends inside the block with at least 32 silent frames after it.
        note(0, static_cast<unsigned>(lastLoud) + 1);
        g_sounding = false;
    }
    return FMOD_OK;
}

}  // namespace

extern "C" {

// Adds the unit at the end of output slot `slot`'s mix. true when it is in place.
JNIEXPORT jboolean JNICALL Java_bench_TapLatency_installProbe(JNIEnv*, jclass, jint slot) {
    if (slot < 0 || slot >= kTKSlotCount || !CTKCore::g_Systems[slot]) return JNI_FALSE;
    FMOD::System* system = CTKCore::g_Systems[slot]->getFMODSystem();
    FMOD_DSP_DESCRIPTION description{};
    std::strncpy(description.name, "tap probe", sizeof description.name - 1);
    description.read = onRead;
    FMOD::DSP* unit = nullptr;
    if (!system || system->createDSP(&description, &unit) != FMOD_OK) return JNI_FALSE;
    return system->addDSP(unit, nullptr) == FMOD_OK && unit->setActive(true) == FMOD_OK ? JNI_TRUE : JNI_FALSE;
}

// The events noted from index `from` on, three longs each: steady-clock ns, 1 sound or 0
// silence, the frame within the block.
JNIEXPORT jlongArray JNICALL Java_bench_TapLatency_probeEvents(JNIEnv* env, jclass, jint from) {
    const unsigned count = g_count.load(std::memory_order_acquire);
    const unsigned first = from < 0 ? 0 : static_cast<unsigned>(from);
    const unsigned n = first < count ? count - first : 0;
    jlongArray out = env->NewLongArray(static_cast<jsize>(3 * n));
    if (!out) return nullptr;
    for (unsigned i = 0; i < n; ++i) {
        const Event& e = g_events[first + i];
        const jlong row[3] = {e.steadyNs, e.sound, e.offset};
        env->SetLongArrayRegion(out, static_cast<jsize>(3 * i), 3, row);
    }
    return out;
}

}  // extern "C"
