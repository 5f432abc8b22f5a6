// Times the analysis kernel on a generated 5-minute track (44.1 kHz stereo, 16-bit): the onset
// detector fed hop by hop, then beat detection, as whole-file analysis runs them. Writes the same
// track as a WAV file and times `aubio tempo` on it for comparison when aubio is on the PATH.
//
// Usage: analysis_bench [bpm] [repeats]   (defaults: 128 BPM, 3 repeats)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "AudioProcessor.h"
#include "BeatTracker.h"
#include "Event.h"

namespace {

const int kRate = 44100;
const int kChannels = 2;
const double kSeconds = 300.0;

typedef std::chrono::steady_clock Clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Kick-like noise bursts on the beat, quieter off-beat hats, over a -34 dBFS noise bed.
std::vector<int16_t> makeTrack(double bpm) {
    const size_t frames = static_cast<size_t>(kSeconds * kRate);
    std::vector<double> mono(frames);
    std::mt19937 rng(42);
    std::normal_distribution<double> bed(0.0, 0.02);
    std::uniform_real_distribution<double> uni(-1.0, 1.0);
    for (double& x : mono) x = bed(rng);
    const double beat = 60.0 / bpm;
    for (int k = 0;; ++k) {
        const double t = 0.1 + k * beat / 2;
        const size_t start = static_cast<size_t>(std::llround(t * kRate));
        if (start >= frames) break;
        const double gain = k % 2 == 0 ? 0.8 : 0.25;
        const size_t len = k % 2 == 0 ? 2000 : 400;
        for (size_t i = 0; i < len && start + i < frames; ++i)
            mono[start + i] += gain * uni(rng) * std::exp(-5.0 * static_cast<double>(i) / len);
    }
    std::vector<int16_t> pcm(frames * kChannels);
    for (size_t f = 0; f < frames; ++f) {
        const double v = std::max(-1.0, std::min(1.0, mono[f]));
        pcm[f * 2] = pcm[f * 2 + 1] = static_cast<int16_t>(std::lround(v * 32767));
    }
    return pcm;
}

bool writeWav(const std::string& path, const std::vector<int16_t>& pcm) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint32_t dataBytes = static_cast<uint32_t>(pcm.size() * 2);
    auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(kChannels);
    u32(kRate);
    u32(kRate * kChannels * 2);
    u16(kChannels * 2);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
    const bool ok = std::fwrite(pcm.data(), 2, pcm.size(), f) == pcm.size();
    return std::fclose(f) == 0 && ok;
}

// Median spacing of a list of times, as BPM.
double medianBpm(std::vector<double> times) {
    if (times.size() < 2) return 0;
    std::vector<double> d;
    for (size_t i = 1; i < times.size(); ++i) d.push_back(times[i] - times[i - 1]);
    std::nth_element(d.begin(), d.begin() + d.size() / 2, d.end());
    return 60.0 / d[d.size() / 2];
}

// Runs one aubio command on the file; returns its standard output and the wall time it took.
std::string runCommand(const std::string& cmd, double* took) {
    const Clock::time_point start = Clock::now();
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, got);
        pclose(p);
    }
    *took = secondsSince(start);
    return out;
}

void runAubio(const std::string& wav) {
    if (std::system("command -v aubio >/dev/null 2>&1") != 0) {
        std::printf("aubio: not installed\n");
        return;
    }
    double took = 0;
    // `aubio tempo` prints its tempo estimate, "<bpm> bpm".
    const std::string tempo = runCommand("aubio tempo -i '" + wav + "' 2>/dev/null", &took);
    double aubioBpm = 0;
    std::sscanf(tempo.c_str(), "%lf", &aubioBpm);
    std::printf("aubio tempo:       %7.3f s, %.2f BPM\n", took, aubioBpm);
    // `aubio beat` prints one beat time per line.
    const std::string beat = runCommand("aubio beat -i '" + wav + "' 2>/dev/null", &took);
    std::vector<double> beats;
    const char* p = beat.c_str();
    char* end = nullptr;
    for (double t = std::strtod(p, &end); end != p; t = std::strtod(p, &end)) {
        beats.push_back(t);
        p = end;
    }
    std::printf("aubio beat:        %7.3f s, %zu beats, median spacing %.2f BPM\n", took,
                beats.size(), medianBpm(beats));
}

}  // namespace

int main(int argc, char** argv) {
    const double bpm = argc > 1 ? std::atof(argv[1]) : 128.0;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::vector<int16_t> pcm = makeTrack(bpm);
    std::printf("track: %.0f s of %d Hz stereo 16-bit, %.1f BPM\n", kSeconds, kRate, bpm);

    for (unsigned precision = 0; precision <= 2; ++precision) {
        double best = 1e9, bestFeed = 0, bestTrack = 0;
        float found = 0;
        size_t beatCount = 0;
        for (int r = 0; r < repeats; ++r) {
            const Clock::time_point start = Clock::now();
            AudioProcessor processor(precision);
            unsigned chunkBytes = 0;
            processor.setConfig(kChannels, static_cast<float>(kRate),
                                static_cast<unsigned>(pcm.size() / kChannels), &chunkBytes);
            const char* bytes = reinterpret_cast<const char*>(pcm.data());
            for (unsigned h = 0; h < processor.totalFrames; ++h)
                processor.processFrame(bytes + static_cast<size_t>(h) * chunkBytes, chunkBytes, h);
            const double feed = secondsSince(start);
            BeatTracker tracker;
            std::vector<Event*> beats;
            std::atomic<bool> running(true);
            float bpmOut = 0;
            const Clock::time_point trackStart = Clock::now();
            tracker.beatTrack(&processor, bpmOut, beats, &running, false);
            const double track = secondsSince(trackStart);
            const double total = secondsSince(start);
            if (total < best) {
                best = total;
                bestFeed = feed;
                bestTrack = track;
            }
            found = bpmOut;
            beatCount = beats.size();
            deleteSyntheticEvents(beats);
        }
        std::printf("kernel precision %u: %7.3f s (onsets %.3f s, beat detection %.3f s), "
                    "%zu beats, %.2f BPM, %.0fx real time\n",
                    precision, best, bestFeed, bestTrack, beatCount, found, kSeconds / best);
    }

    const std::string wav = "/tmp/pw_analysis_bench.wav";
    if (writeWav(wav, pcm)) {
        runAubio(wav);
        std::remove(wav.c_str());
    } else {
        std::printf("could not write %s\n", wav.c_str());
    }
    return 0;
}
