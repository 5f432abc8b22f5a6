// Conversion memory: the peak resident size of CTKCore::ConvertFile converting 30 minutes of
// 44.1 kHz stereo to WAV (format 1, the default) and to the memory format (-1, which writes no
// file), next to the engine started and stopped without converting. Each run is a child process
// of its own, so its peak is its own: "peak_MB" is the child's maximum resident size, "over_idle_MB"
// what the conversion added to the engine's own. The source (a sine and pink noise, made with sox)
// is made once at start-up and removed at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TKCore.h"

namespace {

constexpr int kMinutes = 30;

struct Source {
    std::string dir, wav;
    Source() {
        char pattern[] = "/tmp/pw-convert-memory-XXXXXX";
        dir = mkdtemp(pattern);
        wav = dir + "/in.wav";
        const std::string make = "sox -n -r 44100 -c 2 -b 16 " + wav + " synth " + std::to_string(kMinutes * 60) +
                                 " sine 440 pinknoise vol 0.3 >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", make.c_str());
    }
    ~Source() { std::filesystem::remove_all(dir); }
};

const Source& source() {
    static Source s;
    return s;
}

std::vector<char> utf16(const std::string& ascii) {
    std::vector<char> out;
    for (char c : ascii) out.insert(out.end(), {c, 0});
    out.insert(out.end(), {0, 0});
    return out;
}

// Starts the engine (no cards: the silent system is all a conversion needs), converts with
// `format` unless it is 0, stops the engine; in a child process. The child's peak resident size
// in MB, or -1 when the child failed.
double peakOfChild(int format) {
    const std::vector<char> from = utf16(source().wav);
    const std::vector<char> to = utf16(source().dir + "/out.wav");
    const pid_t child = fork();
    if (child == 0) {
        int status = t_core.InitPlayer(2, 1, 44100) == 1 ? 0 : 2;
        if (status == 0 && format != 0) {
            std::vector<char> a = from, b = to;
            status = t_core.ConvertFile(a.data(), b.data(), nullptr, nullptr, nullptr, format, 0) == 1 ? 0 : 3;
        }
        t_core.CleanUp();
        _exit(status);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1.0;
    }
    std::error_code error;
    const uintmax_t written = std::filesystem::file_size(source().dir + "/out.wav", error);
    if (format != 0) std::fprintf(stderr, "format %d: %.1f MB written\n", format, error ? 0.0 : written / 1e6);
    std::filesystem::remove(source().dir + "/out.wav", error);
    return double(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

void BM_ConvertPeakMemory(benchmark::State& state) {
    const int format = static_cast<int>(state.range(0));
    source();  // made before the clock starts
    double idle = 0;
    double peak = 0;
    for (auto _ : state) {
        idle = peakOfChild(0);
        peak = peakOfChild(format);
        if (idle < 0 || peak < 0) state.SkipWithError("the child run failed");
    }
    state.counters["peak_MB"] = peak;
    state.counters["over_idle_MB"] = peak - idle;
}

BENCHMARK(BM_ConvertPeakMemory)->ArgName("format")->Arg(1)->Arg(-1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
