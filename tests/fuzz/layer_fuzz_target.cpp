// Fuzz entry point for the audio layer as the engine uses it: the bytes become a file that
// System::createSound opens (as a sample, a stream, a deck's stream or open-only, chosen by the
// first byte), that is then measured, read, sought and played on a stepped virtual card, and
// released. Any crash, leak, hang, abort or sanitizer report is a finding; refusing the file with
// an error result is the normal outcome.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fmod.hpp"
#include "fmod_testhooks.hpp"

namespace {

constexpr const char* kCard = "FuzzCard";

struct Layer {
    std::string dir;
    std::string input;
    FMOD::System* system = nullptr;

    Layer() {
        const char* tmp = std::getenv("TMPDIR");
        dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/pw-layer-fuzz-" + std::to_string(getpid());
        std::system(("mkdir -p " + dir).c_str());
        input = dir + "/input";
        const std::string table = dir + "/devices.txt";
        if (FILE* f = std::fopen(table.c_str(), "w")) {
            std::fprintf(f, "output name=\"%s\" channels=2 sink=discard pacing=stepped\n", kCard);
            std::fclose(f);
        }
        setenv("PELLWARDEN_DEVICE_TABLE", table.c_str(), 1);
        if (FMOD_System_Create(&system) != FMOD_OK || system->setDSPBufferSize(256, 4) != FMOD_OK ||
            system->init(32, FMOD_INIT_NORMAL, nullptr) != FMOD_OK)
            std::abort();
        unsigned handle = 0;
        if (system->setPluginPath(PW_PLUGIN_DIR) == FMOD_OK) system->loadPlugin("Trellisco.dylib", &handle, 0);
    }
    ~Layer() {
        system->release();
        std::remove(input.c_str());
        std::remove((dir + "/devices.txt").c_str());
        rmdir(dir.c_str());
    }
};

Layer& layer() {
    static Layer l;
    return l;
}

void check(FMOD_RESULT r, std::initializer_list<FMOD_RESULT> allowed) {
    for (FMOD_RESULT a : allowed)
        if (r == a) return;
    std::fprintf(stderr, "unexpected result %d\n", r);
    std::abort();
}

void exercise(FMOD::System* system, FMOD::Sound* sound) {
    unsigned frames = 0, ms = 0, bytes = 0;
    check(sound->getLength(&frames, FMOD_TIMEUNIT_PCM), {FMOD_OK});
    check(sound->getLength(&ms, FMOD_TIMEUNIT_MS), {FMOD_OK});
    check(sound->getLength(&bytes, FMOD_TIMEUNIT_PCMBYTES), {FMOD_OK});
    int channels = 0;
    check(sound->getFormat(nullptr, nullptr, &channels, nullptr), {FMOD_OK});
    if (channels < 1 || channels > 8) std::abort();  // the layer refuses anything a channel cannot play
    // Bounded: a lying length must not turn one input into minutes of decoding.
    std::vector<unsigned char> buffer(65536);
    unsigned read = 0;
    for (int i = 0; i < 16; ++i) {
        const FMOD_RESULT r = sound->readData(buffer.data(), static_cast<unsigned>(buffer.size()), &read);
        check(r, {FMOD_OK, FMOD_ERR_FILE_EOF, FMOD_ERR_FILE_BAD});
        if (r != FMOD_OK) break;
    }
    for (unsigned target : {frames / 2, frames, 0u, frames / 3 + 7}) {
        if (sound->seekData(target) == FMOD_OK) sound->readData(buffer.data(), 4096, &read);
    }
    FMOD::Channel* channel = nullptr;
    const FMOD_RESULT played = system->playSound(FMOD_CHANNEL_FREE, sound, false, &channel);
    check(played, {FMOD_OK, FMOD_ERR_MEMORY});
    if (played != FMOD_OK) return;
    pw::testhooks::step(kCard, 4);
    channel->setPosition(frames / 3, FMOD_TIMEUNIT_PCM);
    channel->setLoopPoints(0, FMOD_TIMEUNIT_PCM, frames / 2, FMOD_TIMEUNIT_PCM);
    pw::testhooks::step(kCard, 4);
    check(channel->stop(), {FMOD_OK});
}

}  // namespace

extern "C" const char* __lsan_default_suppressions() { return "leak:vorbis_info_init\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Layer& l = layer();
    FILE* f = std::fopen(l.input.c_str(), "wb");
    if (!f) return 0;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    static const FMOD_MODE kModes[] = {0x249, 0xC9, 0xE0CA, 0x2000};
    const FMOD_MODE mode = kModes[size > 0 ? data[0] % 4 : 0];
    FMOD::Sound* sound = nullptr;
    const FMOD_RESULT r = l.system->createSound(l.input.c_str(), mode, nullptr, &sound);
    if ((r == FMOD_OK) != (sound != nullptr)) std::abort();  // a sound comes exactly with success
    if (r == FMOD_ERR_FILE_NOTFOUND) std::abort();             // the file is there
    if (sound) {
        exercise(l.system, sound);
        check(sound->release(), {FMOD_OK});
    }
    pw::testhooks::clearReceived(kCard);
    return 0;
}
