// Times whole-file analysis on a generated 5-minute track (a kick and hat loop at 128 BPM over a
// pink bed, 44.1 kHz stereo), encoded to MP3 with lame: decoding alone, each task alone, and the
// four tasks in one pass, each the best of `repeats` runs on one thread. Then times `aubio tempo`
// on the MP3 and `metaflac --add-replay-gain` on a FLAC copy, when they are installed.
//
// Usage: wholefile_bench [repeats]   (default 3)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "com/tarvenkolm/analysis/calc/WaveAnalyzer.h"
#include "fmod.hpp"

using namespace com_tarvenkolm_analysis_calc;

namespace {

typedef std::chrono::steady_clock Clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

double timeCommand(const std::string& command) {
    const Clock::time_point start = Clock::now();
    if (!sh(command)) return -1.0;
    return secondsSince(start);
}

FMOD::System* noSoundSystem() {
    FMOD::System* s = nullptr;
    if (FMOD::System_Create(&s) != FMOD_OK) return nullptr;
    s->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
    if (s->init(16, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) return nullptr;
    return s;
}

struct Outcome {
    double seconds;
    WaveAnalyzerResult result;
};

// One run on a freshly opened stream, opening included (as the engine's entry points do).
Outcome analyse(FMOD::System* system, const std::string& path, unsigned bits, std::vector<char>* waveform) {
    Outcome o;
    const Clock::time_point start = Clock::now();
    FMOD::Sound* sound = nullptr;
    if (system->createSound(path.c_str(), FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_OPENONLY | FMOD_ACCURATETIME,
                            nullptr, &sound) != FMOD_OK)
        return {-1.0, {}};
    if (bits == 0) {
        std::vector<unsigned char> buf(2048 * 4);
        unsigned got = 0;
        while (sound->readData(buf.data(), static_cast<unsigned>(buf.size()), &got) == FMOD_OK && got) {
        }
    } else {
        WaveAnalyzerOptions options(static_cast<TK_WAVEANALYZER_OPTIONS>(bits));
        options.msPerPixel = 100.0;
        options.silenceTargetDB = -60.0f;
        options.bpmPrecision = 2;
        o.result.targetBuffer = waveform->data();
        o.result.targetBufferSize = static_cast<unsigned>(waveform->size());
        WaveAnalyzer analyzer(&options, &o.result, sound);
        analyzer.doProcessing(nullptr, nullptr, nullptr, false);
    }
    sound->release();
    o.seconds = secondsSince(start);
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    char dirTemplate[] = "/tmp/pw-wholefile-bench-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir) return 1;
    const std::string d(dir), beat = d + "/beat.wav", wav = d + "/track.wav", mp3 = d + "/track.mp3",
                      flac = d + "/track.flac";
    // One beat of 20672 frames (128 BPM): kick, off-beat hat, bed; then 640 beats (5 min).
    const std::string sox = "sox -D -R -r 44100 -n -c 2 -b 16 ";
    if (!sh(sox + d + "/k.wav synth 0.12 sine 150:45 fade 0 0.12 0.1 vol 0.8 pad 0 15380s") ||
        !sh(sox + d + "/h.wav synth 0.03 whitenoise highpass 5000 fade 0 0.03 0.025 vol 0.3 pad 10336s 9013s") ||
        !sh(sox + d + "/b.wav synth 20672s pinknoise vol 0.05") ||
        !sh("sox -D -m " + d + "/k.wav " + d + "/h.wav " + d + "/b.wav " + beat) ||
        !sh("sox -D " + beat + " " + wav + " repeat 639") || !sh("lame --quiet -b 192 " + wav + " " + mp3) ||
        !sh("flac -s -f " + wav + " -o " + flac)) {
        std::fprintf(stderr, "sox, lame and flac are needed\n");
        return 1;
    }
    FMOD::System* system = noSoundSystem();
    if (!system) return 1;
    std::vector<char> waveform(4 * 3000);

    struct Row {
        const char* name;
        unsigned bits;
    } rows[] = {{"decode only", 0},          {"waveform alone (100 ms)", 1}, {"silence alone", 2},
                {"ReplayGain alone", 4},     {"beat tracking alone", 8},     {"all four tasks, one pass", 15}};
    std::printf("5 min 44.1 kHz stereo MP3 (192 kbit/s), best of %d runs, one thread:\n", repeats);
    for (const Row& row : rows) {
        double best = 1e9;
        Outcome last;
        for (int r = 0; r < repeats; ++r) {
            Outcome o = analyse(system, mp3, row.bits, &waveform);
            if (o.seconds < best) best = o.seconds;
            for (Event* e : o.result.beatEvents) delete e;
            o.result.beatEvents.clear();
            last = o;
        }
        std::printf("  %-28s %6.3f s", row.name, best);
        if (row.bits == 15)
            std::printf("   (BPM %.2f, gain %.2f dB, silence %u..%u ms, waveform %s)", last.result.bpm,
                        last.result.replayGain, last.result.silenceStartPoint, last.result.silenceEndPoint,
                        last.result.waveDataCalculated ? "full" : "short");
        std::printf("\n");
    }
    const double aubio = timeCommand("aubio tempo " + mp3);
    const double metaflac = timeCommand("metaflac --add-replay-gain " + flac);
    if (aubio >= 0) std::printf("  %-28s %6.3f s\n", "aubio tempo (MP3)", aubio);
    if (metaflac >= 0) std::printf("  %-28s %6.3f s\n", "metaflac --add-replay-gain", metaflac);
    if (aubio >= 0 && metaflac >= 0) std::printf("  %-28s %6.3f s\n", "both tools together", aubio + metaflac);
    system->release();
    sh("rm -rf " + d);
    return 0;
}
