// Runs a fuzz entry point (the decoders', or the whole layer's) without libFuzzer: first a seed corpus of small real files
// made here with the audio tools, then a bounded number of mutants of them (bit flips, byte
// runs, truncations, splices), all from a fixed random seed so a failure replays exactly.
// Usage: decode_fuzz_replay [mutants] [extra input files...]
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Small files of every family the decoders take; a tool that is missing just gives no seed.
std::vector<Bytes> makeSeeds(const std::string& dir) {
    const std::string wav = dir + "/seed.wav";
    std::vector<std::string> commands = {
        "sox -n -r 44100 -c 2 -b 16 " + wav + " synth 0.1 sine 440",
        "sox -n -r 22050 -c 1 -b 8 " + dir + "/seed8.wav synth 0.05 sine 300",
        "sox -n -r 44100 -c 2 -b 24 " + dir + "/seed.aiff synth 0.05 sine 500",
        "sox -n -r 44100 -c 2 -e float -b 32 " + dir + "/seedf.wav synth 0.05 sine 600",
        "flac -s -f " + wav + " -o " + dir + "/seed.flac",
        "oggenc -Q " + wav + " -o " + dir + "/seed.ogg",
        "lame --quiet " + wav + " " + dir + "/seed.mp3",
        "sox " + wav + " " + dir + "/seedsox.mp3",
        "ffmpeg -loglevel error -y -i " + wav + " -c:a libopus " + dir + "/seed.opus",
        "ffmpeg -loglevel error -y -i " + wav + " -c:a aac " + dir + "/seed.m4a",
        "ffmpeg -loglevel error -y -i " + wav + " -c:a aac -f adts " + dir + "/seed.aac",
        "ffmpeg -loglevel error -y -i " + wav + " -c:a mp2 " + dir + "/seed.mp2",
    };
#ifdef PW_HOSTILE_CORPUS_SCRIPT
    // The corpus of files with lying headers, the same the sound tests use.
    commands.push_back(std::string("/usr/bin/python3 " PW_HOSTILE_CORPUS_SCRIPT " ") + dir);
#endif
    for (const auto& c : commands) {
        const std::string quiet = "(" + c + ") >/dev/null 2>&1";
        if (std::system(quiet.c_str()) != 0)
            std::cerr << "seed not made: " << c << "\n";
    }
    std::vector<Bytes> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file())
            seeds.push_back(readFile(entry.path().string()));
    return seeds;
}

Bytes mutate(const std::vector<Bytes>& seeds, std::mt19937& rng) {
    Bytes b = seeds[rng() % seeds.size()];
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits && !b.empty(); ++e) {
        switch (rng() % 6) {
        case 0:  // flip one bit, mostly near the start where the headers are
            b[(rng() % 2 ? rng() % std::min<size_t>(b.size(), 256) : rng() % b.size())] ^=
                static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1: {  // overwrite a run with an extreme byte
            const size_t at = rng() % b.size();
            const size_t n = std::min<size_t>(b.size() - at, 1 + rng() % 16);
            const uint8_t v = rng() % 2 ? 0xFF : 0x00;
            for (size_t i = 0; i < n; ++i)
                b[at + i] = v;
            break;
        }
        case 2:  // truncate
            b.resize(rng() % b.size());
            break;
        case 3: {  // splice the tail of another seed
            const Bytes& other = seeds[rng() % seeds.size()];
            if (!other.empty()) {
                const size_t at = rng() % b.size();
                const size_t from = rng() % other.size();
                b.resize(at);
                b.insert(b.end(), other.begin() + static_cast<long>(from), other.end());
            }
            break;
        }
        case 4: {  // duplicate a block
            const size_t at = rng() % b.size();
            const size_t n = std::min<size_t>(b.size() - at, 1 + rng() % 512);
            const Bytes block(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
            b.insert(b.begin() + static_cast<long>(at), block.begin(), block.end());
            break;
        }
        default:  // a random 32-bit value somewhere in the first 4 KB (sizes, counts, rates)
            if (b.size() >= 4) {
                const size_t at = rng() % std::min<size_t>(b.size() - 3, 4096);
                const uint32_t v = rng();
                for (int i = 0; i < 4; ++i)
                    b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
            }
            break;
        }
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    const int mutants = argc > 1 ? std::atoi(argv[1]) : 300;
    char pattern[] = "/tmp/pw-fuzz-seeds-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) {
        std::cerr << "no temp folder\n";
        return 1;
    }
    const std::vector<Bytes> seeds = makeSeeds(dir);
    std::filesystem::remove_all(dir);
    if (seeds.empty()) {
        std::cerr << "no seeds\n";
        return 1;
    }
    int runs = 0;
    for (int i = 2; i < argc; ++i) {
        const Bytes extra = readFile(argv[i]);
        LLVMFuzzerTestOneInput(extra.data(), extra.size());
        ++runs;
    }
    for (const Bytes& s : seeds) {
        LLVMFuzzerTestOneInput(s.data(), s.size());
        ++runs;
    }
    std::mt19937 rng(20261209);
    for (int i = 0; i < mutants; ++i) {
        const Bytes b = mutate(seeds, rng);
        LLVMFuzzerTestOneInput(b.data(), b.size());
        ++runs;
    }
    std::cout << PW_FUZZ_NAME " fuzz replay: " << seeds.size() << " seeds, " << runs << " inputs, no crash\n";
    return 0;
}
