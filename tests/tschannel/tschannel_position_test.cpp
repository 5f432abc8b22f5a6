// The reported position against the audio over long play: a click track through the real
// channel at several tempos, in and out of loops. Each click heard in the output is traced back to
// the source frame the report gives for its moment; the click the source really holds there is the
// nearest one, and the difference is how far the report is from the audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

constexpr unsigned int kPeriod = 4410;             // a click every 100 ms of source
constexpr unsigned int kClickOffset = kPeriod / 2;  // clicks sit between loop starts
constexpr unsigned int kClickFrames = 24;

float clickTrack(unsigned int frame, int) {
    return frame % kPeriod >= kClickOffset && frame % kPeriod < kClickOffset + kClickFrames ? 0.8f : 0.0f;
}

struct Phase {
    const char* name;
    float tempo;           // source frames per output frame
    unsigned int seconds;  // of output
    unsigned int loopStart, loopEnd;  // source frames; equal for no loop
};

class Position : public ChannelFixture {};

// One click heard: where the report places it in the source, against the nearest real click.
struct Heard {
    double errorFrames;
    double sourceFrame;
    size_t phase;
};

TEST_F(Position, ReportStaysWithTheAudioOverTenMinutesOfTempoAndLoops) {
    const unsigned int sourceFrames = 240 * kRate;
    open(new GeneratedSound(sourceFrames, 1, clickTrack));
    // Loop lengths that are no multiple of the click period, the read chunk or the block.
    const Phase phases[] = {
        {"0.8 plain", 0.8f, 60, 0, 0},
        {"1.05 loop", 1.05f, 120, 40 * kPeriod, 40 * kPeriod + 3 * kPeriod + 1237},
        {"1.2 plain", 1.2f, 60, 0, 0},
        {"1.2 loop", 1.2f, 120, 300 * kPeriod, 300 * kPeriod + 5 * kPeriod + 611},
        {"0.8 loop", 0.8f, 120, 600 * kPeriod, 600 * kPeriod + 2 * kPeriod + 77},
        {"1.05 plain", 1.05f, 60, 0, 0},
        {"1.0 plain", 1.0f, 60, 0, 0},
    };
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);

    std::vector<Heard> heard;
    unsigned int quiet = kPeriod;  // frames since the output was last above the floor
    for (size_t k = 0; k < sizeof(phases) / sizeof(phases[0]); ++k) {
        const Phase& ph = phases[k];
        channel->setTimeStretch(1.0f / ph.tempo, false);
        const bool loop = ph.loopEnd > ph.loopStart;
        if (loop) {
            ASSERT_EQ(channel->setLoopPoints(ph.loopStart, FMOD_TIMEUNIT_PCM, ph.loopEnd, FMOD_TIMEUNIT_PCM), FMOD_OK);
            ASSERT_EQ(channel->setLoopCount(-1), FMOD_OK);
        } else {
            ASSERT_EQ(channel->setLoopCount(0), FMOD_OK);
        }
        const unsigned int blocks = ph.seconds * kRate / kBlock;
        for (unsigned int b = 0; b < blocks; ++b) {
            const std::vector<float> out = render(1);
            const double end = heardFrame(*channel);
            for (unsigned int i = 0; i < kBlock; ++i) {
                const float v = std::fabs(out[2 * i]);
                if (v > 0.3f && quiet > kPeriod / 2) {
                    double at = end - static_cast<double>(kBlock - i) * ph.tempo;
                    if (loop && at < ph.loopStart && end >= ph.loopStart) at += ph.loopEnd - ph.loopStart;
                    const double click = std::round((at - kClickOffset) / kPeriod) * kPeriod + kClickOffset;
                    heard.push_back(Heard{at - click, at, k});
                }
                quiet = v > 0.05f ? 0 : quiet + 1;
            }
        }
    }
    ASSERT_GT(heard.size(), 4000u);

    // The stretcher may repeat or drop a click inside a sequence, so each phase is judged by the
    // median of its clicks after its first second: within 5 ms of the audio at every tempo, and
    // no drift between the first and the second half of a phase.
    const double drift = 0.001 * kRate;
    const double alignment = 0.005 * kRate;
    for (size_t k = 0; k < sizeof(phases) / sizeof(phases[0]); ++k) {
        SCOPED_TRACE(phases[k].name);
        double medians[2] = {0.0, 0.0};
        size_t n = 0;
        for (const Heard& h : heard) n += h.phase == k;
        for (int half = 0; half < 2; ++half) {
            std::vector<double> errors;
            size_t seen = 0;
            for (const Heard& h : heard) {
                if (h.phase != k) continue;
                ++seen;
                if (seen > 10 && (seen > n / 2) == (half == 1)) errors.push_back(h.errorFrames);
            }
            ASSERT_GT(errors.size(), 50u);
            std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
            medians[half] = errors[errors.size() / 2];
            EXPECT_LE(std::fabs(medians[half]), alignment) << (half ? "second" : "first") << " half, "
                                                           << medians[half] * 1000.0 / kRate << " ms";
        }
        EXPECT_LE(std::fabs(medians[1] - medians[0]), drift)
            << "drift " << (medians[1] - medians[0]) * 1000.0 / kRate << " ms";
    }
    // Back at tempo 1.0 the source plays straight: every click is the real one, none heard twice.
    double last = 0.0;
    for (const Heard& h : heard) {
        if (h.phase != 6) continue;
        EXPECT_LE(std::fabs(h.errorFrames), 0.005 * kRate) << "click at " << h.sourceFrame;
        EXPECT_GT(h.sourceFrame, last + kPeriod / 2) << "click replayed at " << h.sourceFrame;
        last = h.sourceFrame;
    }
}

}  // namespace

namespace {

// A click track at `rate`: a click every 100 ms of source, halfway between 100 ms marks.
GeneratedSound* clicksAt(int rate, unsigned int seconds) {
    const unsigned int period = static_cast<unsigned int>(rate) / 10;
    return new GeneratedSound(
        seconds * static_cast<unsigned int>(rate), 1,
        [period](unsigned int frame, int) {
            return frame % period >= period / 2 && frame % period < period / 2 + kClickFrames ? 0.8f : 0.0f;
        },
        16, false, rate);
}

struct TempoCase {
    float tempo;  // source frames per output frame
    int rate;     // of the source
};

class PositionPerTempo : public ChannelFixture, public ::testing::WithParamInterface<TempoCase> {};

// At each tempo, plain and in a loop, the clicks heard in the rendered output sit where the
// report places them: the median distance is the report's offset from the sound's own line.
// Every hearing of a click counts: below tempo 1 the stretcher plays each stretch of source in
// two sequences, and the line runs between the two.
TEST_P(PositionPerTempo, ReportSitsOnTheSoundsLine) {
    const TempoCase c = GetParam();
    const unsigned int period = static_cast<unsigned int>(c.rate) / 10;
    open(clicksAt(c.rate, 120));
    channel->setTimeStretch(1.0f / c.tempo, false);
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    // A loop of 3.3 periods far into the source, entered after the plain phase.
    const unsigned int loopStart = 500 * period + 311, loopEnd = loopStart + 3 * period + period / 3;
    for (int loop = 0; loop < 2; ++loop) {
        SCOPED_TRACE(loop ? "loop" : "plain");
        if (loop) {
            ASSERT_EQ(channel->setLoopPoints(loopStart, FMOD_TIMEUNIT_PCM, loopEnd, FMOD_TIMEUNIT_PCM), FMOD_OK);
            ASSERT_EQ(channel->setLoopCount(-1), FMOD_OK);
            ASSERT_EQ(channel->setPosition(loopStart, FMOD_TIMEUNIT_PCM), FMOD_OK);
        }
        std::vector<double> errors;
        unsigned int quiet = period;
        const unsigned int blocks = 12 * static_cast<unsigned int>(c.rate) / kBlock;
        for (unsigned int b = 0; b < blocks; ++b) {
            const std::vector<float> out = render(1);
            const double end = heardFrame(*channel);
            for (unsigned int i = 0; i < kBlock; ++i) {
                const float v = std::fabs(out[2 * i]);
                if (v > 0.3f && quiet > 4 * kClickFrames && b * kBlock > static_cast<unsigned int>(c.rate)) {
                    double at = end - static_cast<double>(kBlock - i) * c.tempo;
                    if (loop && at < loopStart) at += loopEnd - loopStart;
                    const double click = std::round((at - period / 2) / period) * period + period / 2;
                    errors.push_back((at - click) * 1000.0 / c.rate);
                }
                quiet = v > 0.05f ? 0 : quiet + 1;
            }
        }
        ASSERT_GT(errors.size(), 40u);
        std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
        const double median = errors[errors.size() / 2];
        double mean = 0.0;
        for (double e : errors) mean += e;
        mean /= static_cast<double>(errors.size());
        fprintf(stderr, "render offset tempo %.3f rate %d %s: median %.2f ms, mean %.2f ms over %zu clicks\n", c.tempo,
                c.rate, loop ? "loop" : "plain", median, mean, errors.size());
        EXPECT_LE(std::fabs(median), 3.0) << median << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(Tempos, PositionPerTempo,
                         ::testing::Values(TempoCase{0.5f, 44100}, TempoCase{0.667f, 44100}, TempoCase{0.8f, 44100},
                                           TempoCase{1.25f, 44100}, TempoCase{1.5f, 44100}, TempoCase{2.0f, 44100},
                                           TempoCase{0.5f, 48000}, TempoCase{1.5f, 48000}, TempoCase{2.0f, 48000}));

}  // namespace

namespace {

class FarJump : public ChannelFixture {};

// A jump beyond what the prefetch holds plays silence while the prefetch fetches: through it the
// report stays on the frame asked, then moves on from there, never back, whatever frame is asked
// (the prefetch lands on whole words, a frame before an odd one), at tempo 1 and stretched.
TEST_F(FarJump, ReportHoldsAtTheAskedFrameThroughTheSilenceAndNeverStepsBack) {
    struct Case {
        unsigned int from, to;
        float tempo;
    };
    const Case cases[] = {{50000, 500051, 1.0f}, {50000, 500050, 1.0f}, {400000, 100025, 1.0f},
                          {50000, 500051, 1.5f}, {400000, 100025, 0.8f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "to " << c.to << " at tempo " << c.tempo);
        open(new GeneratedSound(30 * kRate, 1, clickTrack));
        channel->setTimeStretch(1.0f / c.tempo, false);
        ASSERT_EQ(channel->setPosition(c.from, FMOD_TIMEUNIT_PCM), FMOD_OK);
        ASSERT_EQ(channel->setPaused(false), FMOD_OK);
        render(6);
        ASSERT_EQ(channel->setPosition(c.to, FMOD_TIMEUNIT_PCM), FMOD_OK);
        unsigned int last = heardFrame(*channel);
        EXPECT_EQ(last, c.to);
        unsigned int held = 0;
        for (int b = 0; b < 16; ++b) {
            render(1);
            const unsigned int now = heardFrame(*channel);
            EXPECT_GE(now, last) << "block " << b << " steps back";
            held += now == c.to;
            last = now;
        }
        EXPECT_GT(last, c.to + 4 * kBlock) << "play never moved on";
        EXPECT_GE(held, 1u) << "no silence: the case no longer reaches beyond the prefetch";
        channel.reset();
    }
}

}  // namespace
