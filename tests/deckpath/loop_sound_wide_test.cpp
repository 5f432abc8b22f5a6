// Sources whose frames are not a whole number of 8-byte ring words, or whose samples are wider
// than 16 bits: 24-bit mono and stereo, 16-bit with three channels, 32-bit integer and float. The
// loop path must stay frame-aligned across its chunks and jumps, and fade in the sample's own
// width; reverse play must give whole frames too.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "LoopSound.h"
#include "index_sound.h"

namespace {

constexpr unsigned int kFrames = 20000;

struct Format {
    const char* name;
    FMOD_SOUND_FORMAT format;
    int channels;
    int bytes;
};

// Sample c of frame k, in the source's own units: a ramp that tells every frame and channel apart.
double sampleValue(const Format& f, unsigned int k, int c) {
    const double v = static_cast<double>(k) * 2 + c;
    switch (f.format) {
        case FMOD_SOUND_FORMAT_PCM16: return v;
        case FMOD_SOUND_FORMAT_PCM24: return v * 100;
        case FMOD_SOUND_FORMAT_PCM32: return v * 100000;
        default: return v * 1e-5;
    }
}

void put(const Format& f, unsigned char* p, double v) {
    if (f.format == FMOD_SOUND_FORMAT_PCMFLOAT) {
        const float s = static_cast<float>(v);
        std::memcpy(p, &s, 4);
        return;
    }
    const int32_t s = static_cast<int32_t>(v);
    for (int b = 0; b < f.bytes; ++b) p[b] = static_cast<unsigned char>((static_cast<uint32_t>(s) >> (8 * b)) & 0xFF);
}

double get(const Format& f, const unsigned char* p) {
    if (f.format == FMOD_SOUND_FORMAT_PCMFLOAT) {
        float s;
        std::memcpy(&s, p, 4);
        return s;
    }
    uint32_t u = 0;
    for (int b = 0; b < f.bytes; ++b) u |= static_cast<uint32_t>(p[b]) << (8 * b);
    if (f.bytes < 4 && (u & (1u << (8 * f.bytes - 1)))) u |= ~0u << (8 * f.bytes);  // sign
    return static_cast<int32_t>(u);
}

// A user sound holding the ramp.
class RampSound {
public:
    explicit RampSound(const Format& f) {
        const unsigned int frameBytes = static_cast<unsigned int>(f.channels * f.bytes);
        FMOD_CREATESOUNDEXINFO ex;
        std::memset(&ex, 0, sizeof ex);
        ex.cbsize = sizeof ex;
        ex.length = kFrames * frameBytes;
        ex.numchannels = f.channels;
        ex.defaultfrequency = 44100;
        ex.format = f.format;
        result = deckpath_test::noSoundSystem()->createSound(nullptr, FMOD_OPENUSER | FMOD_SOFTWARE, &ex, &sound);
        if (result != FMOD_OK) return;
        std::vector<unsigned char> pcm(ex.length);
        for (unsigned int k = 0; k < kFrames; ++k)
            for (int c = 0; c < f.channels; ++c) put(f, &pcm[k * frameBytes + c * f.bytes], sampleValue(f, k, c));
        void *p1 = nullptr, *p2 = nullptr;
        unsigned int l1 = 0, l2 = 0;
        result = sound->lock(0, ex.length, &p1, &p2, &l1, &l2);
        if (result != FMOD_OK) return;
        std::memcpy(p1, pcm.data(), l1);
        result = sound->unlock(p1, p2, l1, l2);
    }
    ~RampSound() {
        if (sound) sound->release();
    }
    FMOD::Sound* sound = nullptr;
    FMOD_RESULT result = FMOD_ERR_INTERNAL;
};

void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }

const Format kFormats[] = {
    {"24-bit stereo", FMOD_SOUND_FORMAT_PCM24, 2, 3},
    {"24-bit mono", FMOD_SOUND_FORMAT_PCM24, 1, 3},
    {"16-bit three channels", FMOD_SOUND_FORMAT_PCM16, 3, 2},
    {"32-bit stereo", FMOD_SOUND_FORMAT_PCM32, 2, 4},
    {"float stereo", FMOD_SOUND_FORMAT_PCMFLOAT, 2, 4},
};

// The loop source over the ramp of the format under test; its prefetch worker is stopped and
// driven by the test.
class WideLoop : public testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        ramp = std::make_unique<RampSound>(f);
        ASSERT_EQ(ramp->result, FMOD_OK);
        ls = std::make_unique<LoopSound>(ramp->sound);
        ls->stopBuffering();
        pump();
    }
    void TearDown() override {
        ls.reset();
        ramp.reset();
    }
    void pump() {
        for (int i = 0; i < 6; ++i) ls->getBufferingSound()->workerPass();
    }
    // One read of `frames` frames, which must all be produced.
    std::vector<unsigned char> read(unsigned int frames) {
        std::vector<unsigned char> out(frames * frameBytes);
        unsigned int count = 0;
        EXPECT_EQ(ls->readData(out.data(), static_cast<unsigned int>(out.size()), &count, corrector), 0);
        EXPECT_EQ(count, out.size());
        return out;
    }

    const Format f = GetParam();
    const unsigned int frameBytes = static_cast<unsigned int>(f.channels * f.bytes);
    std::unique_ptr<RampSound> ramp;
    std::unique_ptr<LoopSound> ls;
    TimeStretchCorrector corrector;
};

// Loop [96, 200) entered at 152: frames 152..199, then two laps from 96. Each jump fades the
// first ten frames in from the last samples written (silence for the seek at the start): A, the
// sample before the last, for channel 0 and B, the last, for the others, in the source's units.
TEST_P(WideLoop, LoopLapsAreWholeFramesFadedInTheSampleWidth) {
    ASSERT_EQ(ls->setLoopPointsPCM(96, 200), 0);
    ls->setLoop(true);
    ASSERT_EQ(ls->setPositionPCM(152), 0);
    const std::vector<unsigned char> out = read(48 + 104 + 30);
    ASSERT_FALSE(HasFailure());

    std::vector<double> expected;
    auto lap = [&](unsigned int first, unsigned int n, double a, double b) {
        for (unsigned int i = 0; i < n; ++i)
            for (int c = 0; c < f.channels; ++c) {
                double s = sampleValue(f, first + i, c);
                if (i < 10) {
                    const float w = static_cast<float>(i + 1) / 10.0f;
                    const float prev = static_cast<float>(c == 0 ? a : b);
                    const float blend = prev * (1.0f - w) + static_cast<float>(s) * w;
                    s = f.format == FMOD_SOUND_FORMAT_PCMFLOAT ? blend : std::trunc(blend);
                }
                expected.push_back(s);
            }
    };
    // The last two samples written before a jump at the loop end (frame 199).
    const double a = f.channels == 1 ? sampleValue(f, 198, 0) : sampleValue(f, 199, f.channels - 2);
    const double b = sampleValue(f, 199, f.channels - 1);
    lap(152, 48, 0, 0);
    lap(96, 104, a, b);
    lap(96, 30, a, b);

    for (size_t i = 0; i < expected.size(); ++i) {
        const double heard = get(f, &out[i * static_cast<size_t>(f.bytes)]);
        const double tolerance = f.format == FMOD_SOUND_FORMAT_PCM32 ? 256.0 : 0.0;
        ASSERT_NEAR(heard, expected[i], tolerance + std::fabs(expected[i]) * 1e-6)
            << "frame " << i / static_cast<size_t>(f.channels) << " channel " << i % static_cast<size_t>(f.channels);
    }
    EXPECT_EQ(ls->getReaderPosition(), 126u);
}

// Backward from frame 4000: reversed groups, each of whole frames, so every frame read is one frame
// of the source with all its channels, and none is read twice.
TEST_P(WideLoop, ReversePlayGivesWholeFrames) {
    ASSERT_EQ(ls->setPositionPCM(4000), 0);
    ls->setReverse(true);
    pump();
    const unsigned int frames = 64;
    const std::vector<unsigned char> out = read(frames);
    ASSERT_FALSE(HasFailure());

    std::vector<bool> seen(kFrames, false);
    for (unsigned int i = 0; i < frames; ++i) {
        const unsigned char* frame = &out[i * frameBytes];
        // Channel 0 of frame k holds sampleValue(k, 0) = k x sampleValue(1, 0).
        const long k = std::lround(get(f, frame) / sampleValue(f, 1, 0));
        ASSERT_TRUE(k > 4000 - 80 && k <= 4000) << "frame " << i << " holds frame " << k;
        EXPECT_FALSE(seen[static_cast<size_t>(k)]) << "frame " << k << " twice";
        seen[static_cast<size_t>(k)] = true;
        for (int c = 0; c < f.channels; ++c)
            EXPECT_NEAR(get(f, frame + c * f.bytes), sampleValue(f, static_cast<unsigned int>(k), c),
                        std::fabs(sampleValue(f, static_cast<unsigned int>(k), c)) * 1e-6)
                << "frame " << i << " channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, WideLoop, testing::ValuesIn(kFormats),
                         [](const testing::TestParamInfo<Format>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

}  // namespace
