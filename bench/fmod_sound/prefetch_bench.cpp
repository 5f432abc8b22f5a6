// What feeding streams costs: 8 MP3 streams play for a few seconds on a virtual card paced in real
// time at a 256-frame block. The CPU time of the prefetch workers (and of priming the rings in
// playSound) is compared with decoding the same audio directly; the mixer's time is shown beside
// the same 8 sounds played from memory. Thread times come from the scheduler's counters.
// Usage: fmod_prefetch_bench [seconds]
#include <dirent.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "decoder.hpp"
#include "fmod.hpp"

namespace {

constexpr int kStreams = 8;

// Per-thread CPU time in seconds, by thread id, from the scheduler's nanosecond counters.
std::map<int, double> threadTimes() {
    std::map<int, double> times;
    DIR* d = opendir("/proc/self/task");
    while (dirent* e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.') continue;
        std::FILE* f = std::fopen(("/proc/self/task/" + std::string(e->d_name) + "/schedstat").c_str(), "r");
        unsigned long long ns = 0;
        if (f && std::fscanf(f, "%llu", &ns) == 1) times[std::atoi(e->d_name)] = static_cast<double>(ns) / 1e9;
        if (f) std::fclose(f);
    }
    if (d) closedir(d);
    return times;
}

double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Cost {
    double mixer = 0;     // the threads that existed before playback: the mixer (and the pacer)
    double prefetch = 0;  // threads that came with the playbacks, plus priming in playSound
    double priming = 0;   // of which playSound itself
};

// Where the CPU goes while `mode`-opened copies of `files` play for `seconds`.
Cost play(const std::vector<std::string>& files, FMOD_MODE mode, double seconds) {
    FMOD::System* system = nullptr;
    FMOD_System_Create(&system);
    system->setDSPBufferSize(256, 4);
    if (system->init(32, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) {
        std::fprintf(stderr, "init failed\n");
        std::exit(1);
    }
    std::vector<FMOD::Sound*> sounds;
    for (const std::string& f : files) {
        FMOD::Sound* s = nullptr;
        if (system->createSound(f.c_str(), mode, nullptr, &s) != FMOD_OK) std::exit(1);
        sounds.push_back(s);
    }
    const int self = static_cast<int>(syscall(SYS_gettid));
    const std::map<int, double> before = threadTimes();
    const double primingStart = threadCpu();
    for (FMOD::Sound* s : sounds) system->playSound(FMOD_CHANNEL_FREE, s, false, nullptr);
    Cost cost;
    cost.priming = threadCpu() - primingStart;
    cost.prefetch = cost.priming;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    for (const auto& [tid, t] : threadTimes()) {
        if (tid == self) continue;
        const auto old = before.find(tid);
        if (old != before.end())
            cost.mixer += t - old->second;
        else
            cost.prefetch += t;
    }
    for (FMOD::Sound* s : sounds) s->release();
    system->release();
    return cost;
}

double decodeAlone(const std::vector<std::string>& files, double seconds) {
    const double start = threadCpu();
    std::vector<short> buffer(1024 * 2);
    for (const std::string& f : files) {
        std::unique_ptr<pw::decode::Decoder> d;
        if (pw::decode::openFile(f, false, {}, &d) != FMOD_OK) std::exit(1);
        unsigned long left = static_cast<unsigned long>(seconds * d->info().rate);
        while (left > 0) {
            const long got = d->read(buffer.data(), std::min<unsigned long>(1024, left));
            if (got <= 0) break;
            left -= static_cast<unsigned long>(got);
        }
    }
    return threadCpu() - start;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    char dir[] = "/tmp/pw-prefetch-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string table = std::string(dir) + "/devices.txt";
    std::FILE* t = std::fopen(table.c_str(), "w");
    std::fprintf(t, "output name=\"Bench\" channels=2 sink=discard pacing=realtime\n");
    std::fclose(t);
    setenv("PELLWARDEN_DEVICE_TABLE", table.c_str(), 1);
    std::vector<std::string> files;
    for (int i = 0; i < kStreams; ++i) {
        const std::string wav = std::string(dir) + "/s" + std::to_string(i) + ".wav";
        const std::string mp3 = std::string(dir) + "/s" + std::to_string(i) + ".mp3";
        const std::string cmd = "sox -n -r 44100 -c 2 -b 16 " + wav + " synth " + std::to_string(seconds + 2) +
                                " pinknoise vol 0.3 && lame --quiet -b 192 " + wav + " " + mp3;
        if (std::system(cmd.c_str()) != 0) return 1;
        files.push_back(mp3);
    }
    const Cost streams = play(files, 0xC0CA, seconds);
    const Cost memory = play(files, 0x249, seconds);
    const double decode = decodeAlone(files, seconds);
    std::printf("8 MP3 streams, 256-frame block, %.1f s real time (CPU seconds)\n", seconds);
    std::printf("  mixer, streams:           %.3f\n", streams.mixer);
    std::printf("  mixer, same from memory:  %.3f\n", memory.mixer);
    std::printf("  prefetch (workers, priming): %.3f (priming %.3f)\n", streams.prefetch, streams.priming);
    std::printf("  decoding the same alone:  %.3f\n", decode);
    std::printf("  prefetch / decoding:      %.2fx\n", streams.prefetch / decode);
    std::system((std::string("rm -rf ") + dir).c_str());
    return 0;
}
