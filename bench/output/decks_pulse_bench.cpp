// 2 and 8 decks at tempo 1.2 on a private PulseAudio daemon's null sink, for each buffer setting
// (256, 512, 1024 frames, four buffers): how often a deck's ring ran dry, how much silence the
// sink's monitor heard in steady play (the server ran dry, or a deck did), and the CPU time the
// process took against the time played. Usage: decks_pulse_bench [seconds per run, default 60].
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "FMODSystem.h"
#include "TimestretchedChannel.h"
#include "com/tarvenkolm/outputbuffering/ITKOutputBuffer.h"
#include "pulse_server.hpp"
#include "scoped_env.hpp"
#include "source_capture.hpp"
#include "tschannel_rig.h"

namespace {

constexpr int kRate = 44100;
constexpr float kTempo = 1.2f;

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// A chord on an offset, never 0: silence on the monitor is a dropout.
float chord(unsigned int frame, int channel) {
    const double t = static_cast<double>(frame) / kRate;
    return static_cast<float>(0.02 + 0.01 * std::sin(2 * M_PI * (220.0 + 57.0 * channel) * t) +
                              0.005 * std::sin(2 * M_PI * 330.0 * t));
}

void run(unsigned int block, int decks, double seconds) {
    pw::test::ScopedEnv noTable("PELLWARDEN_DEVICE_TABLE", std::nullopt);
    pw::test::PulseServer server({{"card1", "Card1", 2, kRate}});
    if (!server.ready()) {
        std::fprintf(stderr, "no sound server: %s\n", server.error().c_str());
        std::exit(1);
    }
    FMOD::System* system = nullptr;
    FMOD_System_Create(&system);
    FMODSystem wrapper(system);
    system->setDriver(0);
    system->setSoftwareFormat(kRate, FMOD_SOUND_FORMAT_PCMFLOAT, 0, 6, FMOD_DSP_RESAMPLER_LINEAR);
    system->setDSPBufferSize(block, 4);
    if (system->init(64, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) {
        std::fprintf(stderr, "init failed\n");
        std::exit(1);
    }
    pw::test::SourceCapture capture("card1.monitor", 2, kRate);
    const unsigned int sourceFrames = static_cast<unsigned int>((seconds * kTempo + 3.0) * kRate);
    std::vector<std::unique_ptr<tsc_test::GeneratedSound>> sounds;
    std::vector<std::unique_ptr<TimeStretchedChannel>> channels;
    for (int d = 0; d < decks; ++d) {
        sounds.push_back(std::make_unique<tsc_test::GeneratedSound>(sourceFrames, 2, chord));
        channels.push_back(std::make_unique<TimeStretchedChannel>(&wrapper, sounds.back()->get(), false));
        channels.back()->setTimeStretch(1.0f / kTempo, false);
    }
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (auto& c : channels) c->setPaused(false);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    const size_t heard = capture.capturedFrames();
    const std::vector<float> got = capture.waitFrames(heard);
    uint64_t ringDry = 0;
    for (auto& c : channels) {
        if (auto* ring = c->getOutputBuffer()) ringDry += ring->getUnderruns();
        c->setPaused(true);
    }
    // Silence from half a second after the first sound to the end of what was captured.
    size_t first = 0;
    while (first < got.size() / 2 && got[2 * first] == 0.0f) ++first;
    size_t silent = 0, gaps = 0;
    for (size_t f = first + kRate / 2; f < got.size() / 2; ++f)
        if (got[2 * f] == 0.0f && got[2 * f + 1] == 0.0f && (silent++, f == 0 || got[2 * (f - 1)] != 0.0f)) ++gaps;
    const double sounding = static_cast<double>(got.size() / 2 - std::min(first, got.size() / 2)) / kRate;
    std::printf("%5u frames %d decks: %.1f s of %.0f s heard, ring underruns %llu, silent gaps %zu (%zu frames), "
                "CPU %.1f %% of a core\n",
                block, decks, sounding, wall, static_cast<unsigned long long>(ringDry), gaps, silent, 100.0 * cpu / wall);
    std::fflush(stdout);
    channels.clear();
    sounds.clear();
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    if (!pw::test::PulseServer::binaryAvailable()) {
        std::fprintf(stderr, "pulseaudio not installed\n");
        return 1;
    }
    for (unsigned int block : {256u, 512u, 1024u})
        for (int decks : {2, 8}) run(block, decks, seconds);
    return 0;
}
