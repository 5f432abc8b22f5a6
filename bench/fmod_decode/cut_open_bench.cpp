// Opening a file cut short against opening the whole file: 10 minutes of stereo MP3 and FLAC,
// whole and cut to 90 % of their bytes (an interrupted download). A cut file's length is counted
// from its frames at open, under a deck's load: this shows what that costs next to the whole
// file's open. Each open is accurate, as a deck loads (an MP3 also quick, which skips the scan of a
// whole file).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "decoder.hpp"

namespace {

struct Files {
    std::string dir;
    Files() {
        char pattern[] = "/tmp/pw-cut-open-bench-XXXXXX";
        dir = mkdtemp(pattern);
        const std::string wav = dir + "/in.wav";
        // Two 300 s parts one after the other: 600 s in all.
        const std::string cmds[] = {
            "sox -n -r 44100 -c 2 -b 16 " + wav + " synth 300 pinknoise vol 0.3 : synth 300 sine 220-880 vol 0.3",
            "lame --quiet -b 192 " + wav + " " + dir + "/whole.mp3",
            "flac -s -f " + wav + " -o " + dir + "/whole.flac",
        };
        for (const auto& c : cmds) {
            if (std::system((c + " >/dev/null 2>&1").c_str()) != 0)
                std::fprintf(stderr, "failed: %s\n", c.c_str());
        }
        for (const char* ext : {"mp3", "flac"}) {
            const std::string whole = dir + "/whole." + ext, cut = dir + "/cut." + ext;
            std::filesystem::copy_file(whole, cut, std::filesystem::copy_options::overwrite_existing);
            std::filesystem::resize_file(cut, std::filesystem::file_size(whole) * 9 / 10);
        }
    }
    ~Files() { std::filesystem::remove_all(dir); }
};

const Files& files() {
    static Files f;
    return f;
}

void BM_Open(benchmark::State& state, const char* name, bool accurate) {
    const std::string path = files().dir + "/" + name;
    double seconds = 0;
    for (auto _ : state) {
        std::unique_ptr<pw::decode::Decoder> d;
        if (pw::decode::openFile(path, accurate, {}, &d) != FMOD_OK || !d) {
            state.SkipWithError("open failed");
            return;
        }
        seconds = static_cast<double>(d->info().lengthFrames) / d->info().rate;
        benchmark::DoNotOptimize(d);
    }
    state.counters["audio_s"] = seconds;
}

BENCHMARK_CAPTURE(BM_Open, mp3_whole_quick, "whole.mp3", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Open, mp3_cut_quick, "cut.mp3", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Open, mp3_whole_accurate, "whole.mp3", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Open, mp3_cut_accurate, "cut.mp3", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Open, flac_whole, "whole.flac", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Open, flac_cut, "cut.flac", false)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
