#include "decode_fixture.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace pw::decode::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pw-decode-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool run(const std::string& command) {
    const std::string quiet = "(" + command + ") >/dev/null 2>&1";
    return std::system(quiet.c_str()) == 0;
}

void writeFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out.good()) << path;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes fullRangePcm(int bytesPerSample, int channels, int frames, uint32_t seed) {
    std::mt19937 rng(seed);
    const size_t n = static_cast<size_t>(channels) * static_cast<size_t>(frames);
    Bytes out(n * static_cast<size_t>(bytesPerSample));
    for (size_t i = 0; i < n; ++i) {
        uint32_t v = rng();
        // Put both extremes and zero at fixed places so that clipping or sign faults show.
        if (i == 0)
            v = 0x80000000u;  // most negative at any depth once truncated from the top
        else if (i == 1)
            v = 0x7FFFFFFFu;  // most positive
        else if (i == 2)
            v = 0;
        for (int b = 0; b < bytesPerSample; ++b)
            out[i * static_cast<size_t>(bytesPerSample) + static_cast<size_t>(b)] =
                static_cast<unsigned char>(v >> (8 * (4 - bytesPerSample + b)));
    }
    return out;
}

Bytes floatPcm(int channels, int frames, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    const size_t n = static_cast<size_t>(channels) * static_cast<size_t>(frames);
    Bytes out(n * 4);
    for (size_t i = 0; i < n; ++i) {
        const float v = dist(rng);
        std::memcpy(&out[i * 4], &v, 4);
    }
    return out;
}

Bytes tonePcm16(int channels, int frames, int rate, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(-0.02, 0.02);
    Bytes out(static_cast<size_t>(channels) * static_cast<size_t>(frames) * 2);
    size_t k = 0;
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            const double t = static_cast<double>(f) / rate;
            const double v = 0.4 * std::sin(2 * M_PI * (440.0 + 110.0 * c) * t) + 0.2 * std::sin(2 * M_PI * 1234.5 * t) +
                             noise(rng);
            const auto s = static_cast<int16_t>(std::lrint(v * 32767.0));
            out[k++] = static_cast<unsigned char>(static_cast<uint16_t>(s) & 0xFF);
            out[k++] = static_cast<unsigned char>(static_cast<uint16_t>(s) >> 8);
        }
    }
    return out;
}

size_t frameBytes(const StreamInfo& info) {
    size_t sample = 2;
    switch (info.format) {
    case FMOD_SOUND_FORMAT_PCM8: sample = 1; break;
    case FMOD_SOUND_FORMAT_PCM16: sample = 2; break;
    case FMOD_SOUND_FORMAT_PCM24: sample = 3; break;
    case FMOD_SOUND_FORMAT_PCM32:
    case FMOD_SOUND_FORMAT_PCMFLOAT: sample = 4; break;
    default: break;
    }
    return sample * static_cast<size_t>(info.channels);
}

std::string firstDifference(const Bytes& got, const Bytes& want) {
    const size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i) {
        if (got[i] != want[i])
            return "byte " + std::to_string(i) + ": " + std::to_string(got[i]) + " instead of " + std::to_string(want[i]);
    }
    if (got.size() != want.size())
        return std::to_string(got.size()) + " bytes instead of " + std::to_string(want.size());
    return "";
}

Bytes readSome(Decoder& decoder, unsigned long frames) {
    const size_t fb = frameBytes(decoder.info());
    Bytes out(frames * fb);
    size_t have = 0;
    while (have < frames) {
        const long got = decoder.read(out.data() + have * fb, frames - have);
        EXPECT_GE(got, 0) << "read error";
        if (got <= 0)
            break;
        EXPECT_LE(static_cast<unsigned long>(got), frames - have);
        have += static_cast<size_t>(got);
    }
    out.resize(have * fb);
    return out;
}

Bytes readAll(Decoder& decoder, unsigned long chunkFrames) {
    const size_t fb = frameBytes(decoder.info());
    Bytes out;
    std::vector<unsigned char> chunk(chunkFrames * fb);
    for (;;) {
        const long got = decoder.read(chunk.data(), chunkFrames);
        EXPECT_GE(got, 0) << "read error";
        if (got <= 0)
            break;
        out.insert(out.end(), chunk.begin(), chunk.begin() + got * static_cast<long>(fb));
    }
    return out;
}

const PWCodecDescription* aacPlugin() {
    static const PWCodecDescription* codec = [] () -> const PWCodecDescription* {
        void* lib = dlopen(PW_PLUGIN_DIR "/Trellisco.dylib", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return nullptr;
        auto entry = reinterpret_cast<PWCodecPluginDescriptionFn>(dlsym(lib, PW_CODEC_PLUGIN_ENTRY));
        return entry ? entry() : nullptr;
    }();
    return codec;
}

}  // namespace pw::decode::test
