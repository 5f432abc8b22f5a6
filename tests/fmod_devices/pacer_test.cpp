// Real-time pacing arithmetic: deadlines follow the total frame count, so late wake-ups and
// per-block rounding never accumulate into drift. Asserts on counts and computed instants only.
#include <gtest/gtest.h>

#include "pacer.hpp"

namespace pw::dev {
namespace {

using Clock = Pacer::Clock;
using std::chrono::nanoseconds;

int64_t nanosSince(Clock::time_point origin, Clock::time_point t) {
    return std::chrono::duration_cast<nanoseconds>(t - origin).count();
}

// A writer that always wakes late (by a varying amount below kMaxLag) still gets block k's
// deadline at exactly k*frames/rate: nothing accumulates.
TEST(Pacer, LateWakeUpsDoNotDrift) {
    struct Row {
        unsigned rate;
        unsigned frames;
    };
    const Row rows[] = {{44100, 1024}, {44100, 441}, {48000, 1000}, {96000, 333}, {22050, 7}};
    for (const Row& r : rows) {
        const Clock::time_point origin{};
        Pacer pacer(r.rate, origin);
        Clock::time_point now = origin;
        uint64_t frames = 0;
        for (int k = 1; k <= 20000; ++k) {
            const Clock::time_point due = pacer.advance(r.frames, now);
            frames += r.frames;
            // Exact: floor(frames * 1e9 / rate) nanoseconds after the origin.
            const int64_t expected = static_cast<int64_t>((static_cast<unsigned __int128>(frames) * 1000000000u) / r.rate);
            ASSERT_EQ(nanosSince(origin, due), expected) << r.rate << "/" << r.frames << " block " << k;
            now = due + std::chrono::microseconds((k * 7919) % 3000);  // 0..3 ms late
        }
        EXPECT_EQ(pacer.framesAccounted(), frames);
    }
}

// framesAt and timeOfFrame agree exactly, across second boundaries and odd rates.
TEST(Pacer, FramesAtInvertsTimeOfFrame) {
    for (unsigned rate : {8000u, 44100u, 48000u, 192000u, 7u}) {
        const Clock::time_point origin{std::chrono::seconds(5)};
        Pacer pacer(rate, origin);
        for (uint64_t f : {0ull, 1ull, 2ull, 440ull, 44099ull, 44100ull, 44101ull, 1000003ull, 86400ull * 192000ull}) {
            const Clock::time_point t = pacer.timeOfFrame(f);
            EXPECT_EQ(pacer.framesAt(t), f) << rate << " Hz frame " << f;
            if (t > origin) {
                EXPECT_EQ(pacer.framesAt(t - nanoseconds(1)), f - 1) << rate << " Hz frame " << f;
            }
        }
        EXPECT_EQ(pacer.framesAt(origin - std::chrono::seconds(1)), 0u);
    }
}

// A stall longer than kMaxLag moves the origin instead of racing to catch up.
TEST(Pacer, LongStallRebases) {
    const Clock::time_point origin{};
    Pacer pacer(44100, origin);
    Clock::time_point due = pacer.advance(441, origin);
    const Clock::time_point late = due + Pacer::kMaxLag + std::chrono::seconds(1);
    due = pacer.advance(441, late);
    EXPECT_EQ(nanosSince(late, due), 10000000);  // 441 frames after the new origin
    EXPECT_EQ(pacer.framesAccounted(), 441u);
    // A delay just below kMaxLag keeps the schedule.
    Pacer steady(44100, origin);
    const Clock::time_point first = steady.advance(441, origin);
    const Clock::time_point second = steady.advance(441, first + Pacer::kMaxLag - std::chrono::milliseconds(1));
    EXPECT_EQ(nanosSince(origin, second), 20000000);
}

}  // namespace
}  // namespace pw::dev
