#include "sound_test_util.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pw::test {

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const size_t wrote = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
    return std::fclose(f) == 0 && wrote == bytes.size();
}

std::vector<unsigned char> makePcm(int frames, int channels, int bytes, int rate) {
    std::vector<unsigned char> out;
    out.reserve(static_cast<size_t>(frames) * channels * bytes);
    const double full = std::ldexp(1.0, 8 * bytes - 1) - 1.0;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double t = static_cast<double>(i) / rate;
            const double x = 0.5 * std::sin(2 * M_PI * 440.0 * (c + 1) * t) + 0.01 * ((i % 37) - 18) / 18.0;
            const auto v = static_cast<int32_t>(std::lround(x * full));
            for (int b = 0; b < bytes; ++b) out.push_back(static_cast<unsigned char>((static_cast<uint32_t>(v) >> (8 * b)) & 0xff));
        }
    }
    return out;
}

std::vector<float> pcm16ToFloat(const std::vector<unsigned char>& bytes) {
    std::vector<float> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<float>(static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8))) / 32768.0f;
    return out;
}

double zeroCrossingFrequency(const std::vector<float>& x, int channels, int channel, int rate) {
    const size_t frames = x.size() / static_cast<size_t>(channels);
    long first = -1;
    long last = -1;
    long crossings = 0;
    // The middle half only: codec priming and padding at either end are near-silent noise
    // whose crossings say nothing about the tone.
    bool armed = false;
    for (size_t i = frames / 4 + 1; i < frames * 3 / 4; ++i) {
        const float b = x[i * channels + channel];
        // Hysteresis: a crossing counts only after the signal was clearly negative.
        if (b < -0.05f) armed = true;
        if (armed && b >= 0.0f) {
            armed = false;
            if (first < 0) first = static_cast<long>(i);
            last = static_cast<long>(i);
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}

double rms(const std::vector<float>& x, int channels, int channel) {
    const size_t frames = x.size() / static_cast<size_t>(channels);
    if (frames == 0) return 0.0;
    double sum = 0.0;
    for (size_t i = 0; i < frames; ++i) sum += static_cast<double>(x[i * channels + channel]) * x[i * channels + channel];
    return std::sqrt(sum / static_cast<double>(frames));
}

NoSoundSystem::NoSoundSystem() {
    if (FMOD_System_Create(&system_) != FMOD_OK || !system_) return;
    system_->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
    init_ = system_->init(16, FMOD_INIT_NORMAL, nullptr);
}

NoSoundSystem::~NoSoundSystem() {
    if (system_) system_->release();
}

std::vector<unsigned char> readToEnd(FMOD::Sound* sound, unsigned chunk, std::vector<ReadStep>* steps) {
    std::vector<unsigned char> all;
    std::vector<unsigned char> buf(chunk);
    for (int calls = 0; calls < 100000; ++calls) {
        unsigned got = 0;
        const FMOD_RESULT r = sound->readData(buf.data(), chunk, &got);
        if (steps) steps->push_back({r, got});
        all.insert(all.end(), buf.begin(), buf.begin() + got);
        if (got == 0 || (r != FMOD_OK && r != FMOD_ERR_FILE_EOF)) break;
    }
    return all;
}

std::vector<char16_t> utf16(const std::u16string& text) {
    std::vector<char16_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

}  // namespace pw::test
