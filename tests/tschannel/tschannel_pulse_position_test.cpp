// The position a deck reports against what a sound server plays: a private PulseAudio daemon with
// a float null sink stands for the card, its monitor is recorded, and the reports polled while
// the deck plays are set against the clicks heard on the monitor.
//
// - The clicks are short tone bursts whose pitch (16 steps, which the stretcher keeps) names the
//   click modulo 16, so a heard click is known within +-200 ms of source whatever the report says.
// - A probe unit on the same mixer writes a marker every 100 ms and notes when the mixer computed
//   each of its blocks: the time from the mixer to the monitor is the output's latency.
// - A heard click's moment minus that latency is when the mixer took it; the report at that
//   moment, less the click's source position, is the report's offset from the sound's own line.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "TimestretchedChannel.h"
#include "pulse_card.h"
#include "tschannel_rig.h"

namespace {

using tsc_test::GeneratedSound;
using Clock = std::chrono::steady_clock;

constexpr int kSourceRate = 44100;
constexpr unsigned int kBlockFrames = 1024;
constexpr unsigned int kPeriod = kSourceRate / 40;  // a click every 25 ms of source
constexpr unsigned int kBurst = 132;                // 3 ms
constexpr int kCodes = 16;
constexpr double kPhaseSeconds = 2.5;   // the loop's
constexpr double kPlainSeconds = 1.1;   // each of the plain phase's starts
constexpr double kSettleSeconds = 0.5;  // after a start, a seek or a loop entered
constexpr unsigned int kJumps = 10;
constexpr double kJumpSeconds = 0.4;  // of play after each far jump

double codeHz(unsigned int code) { return 1000.0 + 200.0 * code; }
// Click k lies in the k-th period, off its middle by up to a quarter period, pseudo-randomly: on
// a regular grid the clicks would meet the stretcher's sequences at a few phases only, and their
// mean would not be the mean over the sequences.
unsigned int clickFrame(unsigned int k) {
    const unsigned int hash = (k * 2654435761u) >> 16;
    return k * kPeriod + kPeriod / 4 + hash % (kPeriod / 2);
}

float clickSample(unsigned int frame, int channel) {
    if (channel != 0) return 0.0f;
    const unsigned int k = frame / kPeriod;
    const unsigned int at = clickFrame(k);
    if (frame < at || frame >= at + kBurst) return 0.0f;
    return 0.8f * static_cast<float>(std::cos(2.0 * M_PI * codeHz(k % kCodes) * (frame - at) / kSourceRate));
}

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The probe: a generator on the mixer that marks every 100 ms of card frames on the right side and
// notes when each block was computed. Slots are preallocated: the mixer thread never allocates.
struct Probe {
    int rate = 44100;
    std::atomic<uint64_t> frames{0};
    std::atomic<size_t> blocks{0};
    std::vector<uint64_t> blockStart = std::vector<uint64_t>(4096);
    std::vector<int64_t> blockNs = std::vector<int64_t>(4096);
};

FMOD_RESULT probeRead(FMOD_DSP_STATE* state, float*, float* out, unsigned int length, int, int channels) {
    void* user = nullptr;
    state->instance->getUserData(&user);
    auto* p = static_cast<Probe*>(user);
    const uint64_t start = p->frames.fetch_add(length);
    const size_t b = p->blocks.fetch_add(1);
    if (b < p->blockNs.size()) {
        p->blockStart[b] = start;
        p->blockNs[b] = nowNs();
    }
    const uint64_t period = static_cast<uint64_t>(p->rate) / 10;
    std::memset(out, 0, sizeof(float) * length * static_cast<unsigned int>(channels));
    for (unsigned int i = 0; i < length; ++i)
        if ((start + i) % period == 0) out[static_cast<size_t>(i) * channels + 1] = 0.5f;
    return FMOD_OK;
}

struct Poll {
    int64_t ns;
    double interpolated;  // ms
    double plain;         // ms, not interpolated
};

// The report at time t, linear between the polls around it.
double reportAt(const std::vector<Poll>& polls, int64_t t) {
    auto it = std::lower_bound(polls.begin(), polls.end(), t, [](const Poll& p, int64_t v) { return p.ns < v; });
    if (it == polls.begin()) return it->interpolated;
    if (it == polls.end()) return polls.back().interpolated;
    const Poll& b = *it;
    const Poll& a = *(it - 1);
    if (b.interpolated < a.interpolated) return t - a.ns < b.ns - t ? a.interpolated : b.interpolated;  // a wrap
    const double w = static_cast<double>(t - a.ns) / static_cast<double>(b.ns - a.ns);
    return a.interpolated + w * (b.interpolated - a.interpolated);
}

// Onsets on one side of the capture: the first frame off silence after 2 ms of quiet, when the
// signal rises above `threshold` within the next few frames (a card at another rate interpolates
// the first frame of a burst).
std::vector<size_t> onsets(const std::vector<float>& capture, int side, float threshold, int rate) {
    std::vector<size_t> found;
    const size_t quietNeeded = static_cast<size_t>(rate) / 500;
    const size_t frames = capture.size() / 2;
    auto at = [&](size_t f) { return std::fabs(capture[2 * f + static_cast<size_t>(side)]); };
    size_t quiet = quietNeeded;
    for (size_t f = 0; f < frames; ++f) {
        const float v = at(f);
        if (v > 0.02f && quiet >= quietNeeded) {
            for (size_t g = f; g < std::min(frames, f + 3); ++g)
                if (at(g) > threshold) {
                    found.push_back(f);
                    break;
                }
        }
        quiet = v > 0.02f ? 0 : quiet + 1;
    }
    return found;
}

// The code of the burst heard at `onset` (its pitch from zero crossings), or -1 when unclear.
int burstCode(const std::vector<float>& capture, size_t onset, int rate) {
    const size_t length = static_cast<size_t>(0.0028 * rate);
    if (2 * (onset + length) > capture.size()) return -1;
    int crossings = 0;
    double first = -1.0, last = -1.0;
    for (size_t f = onset + 1; f < onset + length; ++f) {
        const float a = capture[2 * (f - 1)], b = capture[2 * f];
        if ((a < 0.0f) != (b < 0.0f)) {
            const double at = static_cast<double>(f - 1) + static_cast<double>(a) / static_cast<double>(a - b);
            if (first < 0.0) first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 3 || last <= first) return -1;
    const double hz = (crossings - 1) / 2.0 * rate / (last - first);
    const int code = static_cast<int>(std::lround((hz - 1000.0) / 200.0));
    if (code < 0 || code >= kCodes || std::fabs(hz - codeHz(static_cast<unsigned int>(code))) > 80.0) return -1;
    return code;
}

// The mean without the tenth at either end, and how far it may stray by chance (twice its
// standard error).
struct Mean {
    double value;
    double chance;
};
Mean trimmedMean(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t trim = values.size() / 10;
    const size_t n = values.size() - 2 * trim;
    double sum = 0.0;
    for (size_t i = trim; i < values.size() - trim; ++i) sum += values[i];
    const double mean = sum / static_cast<double>(n);
    double spread = 0.0;
    for (size_t i = trim; i < values.size() - trim; ++i) spread += (values[i] - mean) * (values[i] - mean);
    return Mean{mean, n > 1 ? 2.0 * std::sqrt(spread / static_cast<double>(n - 1) / static_cast<double>(n)) : 0.0};
}

struct Case {
    int cardRate;
    float tempo;  // source frames per output frame
    unsigned int block = kBlockFrames;  // the mixer's block, in card frames
};

// Away from tempo 1 the clicks a phase hears depend on where the stretcher's sequences fall
// among them, which is set where play starts: the plain phase starts at several frames, and its
// offset is their clicks' mean (from one start it strayed from -6.4 to +1.9 ms with the start at
// tempo 0.667).
struct Phase {
    const char* name;
    std::vector<unsigned int> starts;  // source frames where play begins, in order
    unsigned int loopStart, loopEnd;   // equal: no loop
    double seconds;                    // of play from each start
};

// Where a phase is judged: from each start's settling on, until the next start.
struct Window {
    int64_t seek;  // steady ns of the start's call
    int64_t from, to;
};

// One far jump: the frame asked, the steady ns around the call, and until when it played.
struct Jump {
    unsigned int asked;
    int64_t before, after;
    int64_t until;
};

class PulsePosition : public ::testing::TestWithParam<Case> {};

TEST_P(PulsePosition, ReportsFollowTheHeardSound) {
    const Case c = GetParam();
    if (const std::string why = tsc_test::PulseCard::skipReason(); !why.empty()) GTEST_SKIP() << why;
    // Declared before the card: the mixer calls into it until the card's system is released.
    Probe probe;
    probe.rate = c.cardRate;
    tsc_test::PulseCard card(c.cardRate, c.block);
    ASSERT_EQ(card.error(), "");
    FMOD::System* system = card.raw();
    pw::test::SourceCapture& capture = card.capture();
    FMOD_DSP_DESCRIPTION d;
    std::memset(&d, 0, sizeof d);
    std::strncpy(d.name, "probe", sizeof d.name - 1);
    d.version = 1;
    d.channels = 2;
    d.read = probeRead;
    d.userdata = &probe;
    FMOD::DSP* probeUnit = nullptr;
    ASSERT_EQ(system->createDSP(&d, &probeUnit), FMOD_OK);
    ASSERT_EQ(probeUnit->setDefaults(static_cast<float>(c.cardRate), 1.0f, 0.0f, 0), FMOD_OK);
    FMOD::Channel* probeChannel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, probeUnit, false, &probeChannel), FMOD_OK);

    GeneratedSound source(240 * kSourceRate, 2, clickSample);
    ASSERT_TRUE(source.ok());
    auto channel = std::make_unique<TimeStretchedChannel>(&card.system(), source.get(), true);
    ASSERT_NE(channel->getFMODChannel(), nullptr);
    ASSERT_EQ(channel->getBlockFrames(), c.block);
    channel->setTimeStretch(1.0f / c.tempo, false);

    // Far into the source, and a loop of 13.3 clicks that starts off the click grid.
    const unsigned int loopStart = 4800 * kPeriod + 977, loopEnd = loopStart + 13 * kPeriod + kPeriod / 3;
    const Phase phases[] = {
        {"plain", {1200 * kPeriod + 311, 1900 * kPeriod + 1717, 2600 * kPeriod + 4099, 3300 * kPeriod + 1013}, 0, 0,
         kPlainSeconds},
        {"loop", {loopStart}, loopStart, loopEnd, kPhaseSeconds}};
    std::vector<Poll> polls;
    polls.reserve(static_cast<size_t>((4 * kPlainSeconds + kPhaseSeconds + kJumps * kJumpSeconds) * 1200));
    std::vector<std::vector<Window>> windows;  // per phase
    // Whether steady ns a and b both lie in one of phase p's windows.
    auto within = [&](size_t p, int64_t a, int64_t b) {
        for (const Window& w : windows[p])
            if (a >= w.from && b <= w.to) return true;
        return false;
    };
    // Polls both reports every millisecond for `seconds`; false when a call fails.
    auto pollFor = [&](double seconds) {
        const int64_t begin = nowNs();
        while (nowNs() - begin < static_cast<int64_t>(seconds * 1e9)) {
            unsigned int interpolated = 0, plain = 0;
            if (channel->getPosition(&plain, FMOD_TIMEUNIT_MS, false) != FMOD_OK) return false;
            const int64_t before = nowNs();
            if (channel->getPosition(&interpolated, FMOD_TIMEUNIT_MS, true) != FMOD_OK) return false;
            const int64_t after = nowNs();
            // A poll this thread was held up in does not say when its report was true.
            if (after - before < 200000)
                polls.push_back(Poll{(before + after) / 2, static_cast<double>(interpolated), static_cast<double>(plain)});
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    };
    for (const Phase& ph : phases) {
        const bool loop = ph.loopEnd > ph.loopStart;
        if (loop) {
            ASSERT_EQ(channel->setLoopPoints(ph.loopStart, FMOD_TIMEUNIT_PCM, ph.loopEnd, FMOD_TIMEUNIT_PCM), FMOD_OK);
            ASSERT_EQ(channel->setLoopCount(-1), FMOD_OK);
        }
        windows.emplace_back();
        for (unsigned int start : ph.starts) {
            const int64_t seek = nowNs();
            ASSERT_EQ(channel->setPosition(start, FMOD_TIMEUNIT_PCM), FMOD_OK);
            ASSERT_EQ(channel->setPaused(false), FMOD_OK);
            const int64_t from = nowNs() + static_cast<int64_t>(kSettleSeconds * 1e9);
            ASSERT_TRUE(pollFor(ph.seconds));
            windows.back().push_back(Window{seek, from, nowNs()});
        }
    }

    // Far jumps, each beyond what the prefetch holds (10 s and more away), forward and back,
    // landing off the click grid; the reports are polled through the silence while it fetches.
    ASSERT_EQ(channel->setLoopCount(0), FMOD_OK);
    std::vector<Jump> jumps;
    const unsigned int seconds[kJumps] = {200, 40, 180, 60, 160, 80, 140, 100, 220, 20};
    for (unsigned int j = 0; j < kJumps; ++j) {
        const unsigned int asked = seconds[j] * kSourceRate + 523 * j + 101;
        const int64_t before = nowNs();
        ASSERT_EQ(channel->setPosition(asked, FMOD_TIMEUNIT_PCM), FMOD_OK);
        const int64_t after = nowNs();
        jumps.push_back(Jump{asked, before, after, 0});
        ASSERT_TRUE(pollFor(kJumpSeconds));
        jumps.back().until = nowNs();
    }
    channel->setPaused(true);
    // What is still on its way to the monitor.
    const std::vector<float> got = capture.waitFrames(capture.capturedFrames() + static_cast<size_t>(c.cardRate) / 2);
    const int64_t frameZero = capture.frameZeroNs(c.cardRate);
    ASSERT_NE(frameZero, 0);
    channel.reset();
    probeChannel->stop();
    probeUnit->release();
    auto heardNs = [&](size_t frame) {
        return frameZero + static_cast<int64_t>(static_cast<double>(frame) * 1e9 / c.cardRate);
    };

    // The output's latency: from the mixer computing a marker to the monitor receiving it.
    std::vector<double> latencies;
    const size_t blocks = std::min(probe.blocks.load(), probe.blockNs.size());
    const uint64_t markerPeriod = static_cast<uint64_t>(c.cardRate) / 10;
    const std::vector<size_t> markers = onsets(got, 1, 0.25f, c.cardRate);
    // The markers heard map onto the probe's in order, from the first one (frame 0).
    for (size_t m = 0; m < markers.size() && m * markerPeriod < probe.frames.load(); ++m) {
        const uint64_t frame = m * markerPeriod;
        size_t b = 0;
        while (b + 1 < blocks && probe.blockStart[b + 1] <= frame) ++b;
        if (b + 1 >= blocks) break;
        const double mixed = probe.blockNs[b] + (frame - probe.blockStart[b]) * 1e9 / c.cardRate;
        latencies.push_back((heardNs(markers[m]) - mixed) * 1e-6);
    }
    ASSERT_GT(latencies.size(), 20u);
    // The mixer works in bursts, as the server asks for data: its blocks' latencies spread over a
    // few blocks, and their mean is the output's latency.
    const double latencyMs = trimmedMean(latencies).value;
    const double blockMs = 1000.0 * c.block / c.cardRate;
    RecordProperty("output_latency_ms", std::to_string(latencyMs));

    const std::vector<size_t> clicks = onsets(got, 0, 0.3f, c.cardRate);
    for (size_t p = 0; p < sizeof(phases) / sizeof(phases[0]); ++p) {
        const Phase& ph = phases[p];
        const bool loop = ph.loopEnd > ph.loopStart;
        SCOPED_TRACE(ph.name);
        // Reports never step back while the deck plays forward at a steady tempo; in the loop the
        // wrap is the only way back.
        const double loopMs = 1000.0 * (ph.loopEnd - ph.loopStart) / kSourceRate;
        int back = 0, backPlain = 0;
        double worst = 0.0;
        for (size_t i = 1; i < polls.size(); ++i) {
            if (!within(p, polls[i - 1].ns, polls[i].ns)) continue;
            const double step = polls[i].interpolated - polls[i - 1].interpolated;
            const double stepPlain = polls[i].plain - polls[i - 1].plain;
            const bool wrap = loop && step < -loopMs / 2;
            if (step < 0.0 && !wrap) {
                ++back;
                worst = std::min(worst, step);
            }
            if (stepPlain < 0.0 && !(loop && stepPlain < -loopMs / 2)) ++backPlain;
        }
        EXPECT_EQ(back, 0) << "steps back, the largest " << worst << " ms";
        EXPECT_EQ(backPlain, 0) << "steps back without interpolation";

        // Each heard click against the report at the moment the mixer took it.
        std::vector<double> offsets, leads;
        std::vector<std::pair<int64_t, unsigned int>> matched;  // when taken, which source frame
        for (size_t onset : clicks) {
            const int64_t heard = heardNs(onset);
            const int64_t taken = heard - static_cast<int64_t>(latencyMs * 1e6);
            if (!within(p, taken, heard)) continue;
            const int code = burstCode(got, onset, c.cardRate);
            if (code < 0) continue;
            const double predicted = reportAt(polls, taken) * kSourceRate / 1000.0;
            // The click of that code nearest to the prediction (in the loop: on the loop's circle).
            double best = 1e18;
            unsigned int bestFrame = 0;
            for (unsigned int k = static_cast<unsigned int>(code); clickFrame(k) < 240u * kSourceRate; k += kCodes) {
                const double s = clickFrame(k);
                if (loop && (s < ph.loopStart || s >= ph.loopEnd)) continue;
                double e = predicted - s;
                if (loop) {
                    const double length = ph.loopEnd - ph.loopStart;
                    e = std::remainder(e, length);
                }
                if (std::fabs(e) < std::fabs(best)) {
                    best = e;
                    bestFrame = clickFrame(k);
                }
            }
            if (best > 1e17) continue;
            offsets.push_back(best * 1000.0 / kSourceRate);
            matched.push_back({taken, bestFrame});
            if (!loop) {
                // When the report first reached the click (since its start), against when it was
                // heard.
                const double clickMs = 1000.0 * bestFrame / kSourceRate;
                int64_t seek = 0;
                for (const Window& w : windows[p])
                    if (w.seek <= taken) seek = w.seek;
                auto it = std::find_if(polls.begin(), polls.end(),
                                       [&](const Poll& q) { return q.ns >= seek && q.interpolated >= clickMs; });
                if (it != polls.end() && it->ns <= heard) leads.push_back((heard - it->ns) * 1e-6);
            }
        }
        // Away from tempo 1 each sequence of the stretcher plays at the source's own rate, so the
        // clicks scatter evenly around the line by up to a quarter sequence: their mean, less the
        // tenth at either end, is the offset.
        ASSERT_GT(offsets.size(), 30u);
        // At tempo 1 every click is exact; away from it they scatter over the sequences, and their
        // mean may stray by chance by what `chance` says.
        const Mean mean = trimmedMean(offsets);
        const double offset = mean.value, chance = mean.chance;
        fprintf(stderr, "offset %s tempo %.3f card %d block %u: %.2f ms (+-%.2f) over %zu clicks (latency %.1f ms)\n", ph.name,
                c.tempo, c.cardRate, c.block, offset, chance, offsets.size(), latencyMs);
        RecordProperty(std::string(ph.name) + "_offset_ms", std::to_string(offset));
        EXPECT_LE(std::fabs(offset), 3.0 + chance) << "offset from the sound's line at tempo " << c.tempo << ", output latency "
                                          << latencyMs << " ms";
        if (!loop && c.tempo == 1.0f) {
            ASSERT_GT(leads.size(), 30u);
            std::sort(leads.begin(), leads.end());
            const double lead = leads[leads.size() * 9 / 10];
            fprintf(stderr, "lead at tempo 1, card %d: median %.1f ms, 90%% %.1f ms (latency %.1f ms)\n", c.cardRate,
                    leads[leads.size() / 2], lead, latencyMs);
            RecordProperty("lead_ms", std::to_string(lead));
            EXPECT_LE(lead, latencyMs + blockMs) << "output latency " << latencyMs << " ms, median lead "
                                                 << leads[leads.size() / 2] << " ms";
        }
        if (loop) {
            // Each wrap of the report against the seam the mixer took. The seam lies between two
            // clicks heard one after the other whose source frames go back; each places it by its
            // own distance to the loop's end or start. Away from tempo 1 the clicks scatter over
            // the stretcher's sequences, so the seam is placed to the millisecond at tempo 1 only.
            std::sort(matched.begin(), matched.end());
            const double loopEndMs = 1000.0 * ph.loopEnd / kSourceRate;
            const double frameNs = 1e9 / kSourceRate / c.tempo;
            std::vector<double> wrapErrors, pastEnd;
            for (size_t i = 1; i < matched.size(); ++i) {
                const int64_t ta = matched[i - 1].first, tb = matched[i].first;
                const unsigned int sa = matched[i - 1].second, sb = matched[i].second;
                if (sb >= sa || tb - ta > 100000000LL) continue;
                const double seam = 0.5 * ((static_cast<double>(ta) + (ph.loopEnd - sa) * frameNs) +
                                           (static_cast<double>(tb) - (sb - ph.loopStart) * frameNs));
                double nearest = 1e18, furthest = 0.0;
                for (size_t q = 1; q < polls.size(); ++q) {
                    if (!within(p, polls[q - 1].ns, polls[q].ns)) continue;
                    if (std::fabs(polls[q].ns - seam) < 200e6 && polls[q].ns < seam)
                        furthest = std::max(furthest, polls[q].interpolated);
                    if (polls[q].interpolated - polls[q - 1].interpolated >= -loopMs / 2) continue;
                    const double at = 0.5 * static_cast<double>(polls[q - 1].ns + polls[q].ns);
                    if (std::fabs(at - seam) < std::fabs(nearest)) nearest = at - seam;
                    // The report's last value before its own wrap.
                    if (std::fabs(at - seam) < 200e6) furthest = std::max(furthest, polls[q - 1].interpolated);
                }
                if (nearest > 1e17) continue;
                wrapErrors.push_back(nearest * 1e-6);
                pastEnd.push_back(furthest - loopEndMs);
            }
            // At slow tempos a phase holds few laps; the seam is judged at tempo 1 only anyway.
            if (c.tempo == 1.0f) {
                ASSERT_GT(wrapErrors.size(), 3u);
            }
            if (wrapErrors.empty()) continue;
            const auto [early, late] = std::minmax_element(wrapErrors.begin(), wrapErrors.end());
            const double past = *std::max_element(pastEnd.begin(), pastEnd.end());
            fprintf(stderr, "wraps tempo %.3f card %d: report wraps %.1f to %.1f ms after the seam, runs up to %.1f ms "
                    "past the loop end, over %zu wraps\n", c.tempo, c.cardRate, *early, *late, past, wrapErrors.size());
            if (c.tempo == 1.0f) {
                EXPECT_LE(*late, 3.0) << "a wrap reported late";
                EXPECT_GE(*early, -3.0) << "a wrap reported early";
                EXPECT_LE(past, 3.0) << "a report past the loop end";
            }
        }
    }

    // Far jumps: until the mixer takes the frame asked the report holds there (the silence while
    // the prefetch fetches), and after the jump itself it never steps back.
    const double frameNs = 1e9 / kSourceRate / c.tempo;
    // The report's pace through the ring starts again from the first read after the jump, which
    // the mixer may make a few ms early in a burst; the stretcher's first sequence after the
    // jump places its clicks up to half a sequence either way. On a card at another rate than the
    // source's, the mixer reads each ring block somewhere within one of its own blocks, a place
    // the pace knows only on average: from the few reads before the new place plays it may run
    // up to half a mixer block early (8 ms seen at 48 kHz). A report running on through the
    // silence runs a whole block (21-23 ms).
    const double margin = (c.tempo == 1.0f ? 5e6 : 25e6) + (c.cardRate != kSourceRate ? 0.5e6 * blockMs : 0.0);
    int backs = 0, moved = 0;
    double worstBack = 0.0, worstMove = 0.0, longest = 0.0;
    for (const Jump& jump : jumps) {
        const double askedMs = 1000.0 * jump.asked / kSourceRate;
        // When the mixer took the frame asked: each of the first clicks heard after the jump
        // tells it by its distance from that frame. Above tempo 1 they scatter over the
        // stretcher's sequences, so their median; below it a click is heard again in the next
        // sequence, later, so the earliest.
        std::vector<double> starts;
        for (size_t onset : clicks) {
            const int64_t taken = heardNs(onset) - static_cast<int64_t>(latencyMs * 1e6);
            if (taken < jump.after) continue;
            if (taken > jump.until || starts.size() == 5) break;
            const int code = burstCode(got, onset, c.cardRate);
            if (code < 0) continue;
            unsigned int k = jump.asked / kPeriod;
            while (clickFrame(k) < jump.asked || static_cast<int>(k % kCodes) != code) ++k;
            // The first clicks after the frame asked: a code heard again names a later one.
            if (clickFrame(k) > jump.asked + 16 * kPeriod) continue;
            starts.push_back(static_cast<double>(taken) - (clickFrame(k) - jump.asked) * frameNs);
        }
        ASSERT_FALSE(starts.empty()) << "no click heard after the jump to " << jump.asked;
        std::sort(starts.begin(), starts.end());
        const double start = c.tempo > 1.0f ? starts[starts.size() / 2] : starts.front();
        longest = std::max(longest, (start - static_cast<double>(jump.before)) * 1e-6);
        for (size_t q = 1; q < polls.size(); ++q) {
            if (polls[q - 1].ns < jump.after || polls[q].ns > jump.until) continue;
            const double step = polls[q].interpolated - polls[q - 1].interpolated;
            if (step < 0.0 || polls[q].plain < polls[q - 1].plain) {
                ++backs;
                worstBack = std::min(worstBack, std::min(step, polls[q].plain - polls[q - 1].plain));
            }
            if (static_cast<double>(polls[q].ns) < start - margin) {
                const double off = polls[q].interpolated - askedMs;
                if (std::fabs(off) > 1.0) {
                    ++moved;
                    if (std::fabs(off) > std::fabs(worstMove)) worstMove = off;
                }
            }
        }
    }
    fprintf(stderr, "far jumps tempo %.3f card %d: %d steps back (largest %.1f ms), %d reports off the frame asked "
            "in the silence (largest %.1f ms), silence up to %.1f ms\n", c.tempo, c.cardRate, backs, worstBack, moved,
            worstMove, longest);
    EXPECT_EQ(backs, 0) << "steps back after a far jump, the largest " << worstBack << " ms";
    EXPECT_EQ(moved, 0) << "reports off the frame asked before it plays, the largest " << worstMove << " ms";
}

INSTANTIATE_TEST_SUITE_P(TemposAndCards, PulsePosition,
                         ::testing::Values(Case{44100, 1.0f}, Case{44100, 0.5f}, Case{44100, 1.5f}, Case{44100, 2.0f},
                                           Case{48000, 1.0f}, Case{48000, 0.667f}, Case{48000, 2.0f}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::to_string(info.param.cardRate) + "Hz_tempo" +
                                    std::to_string(static_cast<int>(std::lround(info.param.tempo * 1000))) +
                                    (info.param.block == kBlockFrames ? "" : "_block" + std::to_string(info.param.block));
                         });

}  // namespace

