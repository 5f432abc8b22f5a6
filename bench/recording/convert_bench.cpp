// Conversion speed: CTKCore::ConvertFile of a 5-minute stereo MP3 to WAV, next to the command-line
// decoders doing the same (mpg123 -w, sox), in one run on one file. The file (music-like noise and
// a sweep, 192 kbit/s, made with sox and lame) is made once at start-up. Wall time counts: the
// tools run as child processes. "x_realtime" is seconds of audio converted per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TKCore.h"

namespace {

constexpr double kSeconds = 300.0;

struct Setup {
    std::string dir, mp3, previous;
    Setup() {
        char pattern[] = "/tmp/pw-convert-bench-XXXXXX";
        dir = mkdtemp(pattern);
        mp3 = dir + "/in.mp3";
        const std::string wav = dir + "/in.wav";
        // 300 s of pink noise with a sine sweep mixed in, in one effects chain: sox's ":" would
        // start a second chain, 300 s more, after the first.
        const std::string cmds[] = {
            "sox -n -r 44100 -c 2 -b 16 " + wav + " synth 300 pinknoise synth 300 sine mix 220-880 vol 0.3",
            "lame --quiet -b 192 " + wav + " " + mp3,
        };
        for (const auto& c : cmds) {
            if (std::system((c + " >/dev/null 2>&1").c_str()) != 0) std::fprintf(stderr, "failed: %s\n", c.c_str());
        }
        std::filesystem::remove(wav);
        // No cards: the silent system is all a conversion needs.
        if (t_core.InitPlayer(2, 1, 44100) != 1) std::fprintf(stderr, "start-up failed\n");
    }
    ~Setup() {
        t_core.CleanUp();
        std::filesystem::remove_all(dir);
    }
};

const Setup& setup() {
    static Setup s;
    return s;
}

std::vector<char> utf16(const std::string& ascii) {
    std::vector<char> out;
    for (char c : ascii) out.insert(out.end(), {c, 0});
    out.insert(out.end(), {0, 0});
    return out;
}

void finish(benchmark::State& state) {
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ConvertFile(benchmark::State& state) {
    std::vector<char> from = utf16(setup().mp3);
    std::vector<char> to = utf16(setup().dir + "/engine.wav");
    for (auto _ : state) {
        if (t_core.ConvertFile(from.data(), to.data(), nullptr, nullptr, nullptr, 1, 0) != 1) {
            state.SkipWithError("ConvertFile failed");
        }
    }
    finish(state);
}

void runTool(benchmark::State& state, const std::string& command) {
    for (auto _ : state) {
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) state.SkipWithError(command.c_str());
    }
    finish(state);
}

void BM_Mpg123(benchmark::State& state) {
    runTool(state, "mpg123 -q -w " + setup().dir + "/mpg123.wav " + setup().mp3);
}

void BM_Sox(benchmark::State& state) { runTool(state, "sox " + setup().mp3 + " " + setup().dir + "/sox.wav"); }

BENCHMARK(BM_ConvertFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Mpg123)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Sox)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
