// The single-producer, single-consumer ring: wrap-around, full and empty, and a threaded run
// that must deliver every sample in order (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <thread>

#include "float_ring.hpp"

namespace pw::dev {
namespace {

TEST(FloatRing, FillsToCapacityAndWraps) {
    FloatRing ring(7);
    EXPECT_EQ(ring.capacity(), 7u);
    float in[10], out[10];
    for (int i = 0; i < 10; ++i) in[i] = static_cast<float>(i);
    float next = 0;
    float expect = 0;
    // Rounds of odd sizes walk the indexes across the end many times.
    for (int round = 0; round < 50; ++round) {
        const size_t want = static_cast<size_t>(1 + round % 9);
        for (size_t i = 0; i < want; ++i) in[i] = next++;
        const size_t wrote = ring.write(in, want);
        EXPECT_LE(wrote, 7u);
        next -= static_cast<float>(want - wrote);  // what did not fit is offered again next round
        EXPECT_EQ(ring.readable(), wrote);
        EXPECT_EQ(ring.writable(), 7u - wrote);
        const size_t got = ring.read(out, 10);
        ASSERT_EQ(got, wrote);
        for (size_t i = 0; i < got; ++i) ASSERT_EQ(out[i], expect++) << "round " << round;
    }
    EXPECT_EQ(ring.read(out, 10), 0u);
}

TEST(FloatRing, ThreadedTransferKeepsOrder) {
    FloatRing ring(1000);
    constexpr int kTotal = 300000;
    std::thread producer([&] {
        float block[333];
        int sent = 0;
        while (sent < kTotal) {
            const int n = std::min(333, kTotal - sent);
            for (int i = 0; i < n; ++i) block[i] = static_cast<float>(sent + i);
            int done = 0;
            while (done < n) {
                done += static_cast<int>(ring.write(block + done, static_cast<size_t>(n - done)));
                if (done < n) std::this_thread::yield();
            }
            sent += n;
        }
    });
    std::vector<float> got;
    got.reserve(kTotal);
    float chunk[257];
    while (got.size() < static_cast<size_t>(kTotal)) {
        const size_t n = ring.read(chunk, 257);
        got.insert(got.end(), chunk, chunk + n);
        if (n == 0) std::this_thread::yield();
    }
    producer.join();
    for (int i = 0; i < kTotal; ++i) ASSERT_EQ(got[static_cast<size_t>(i)], static_cast<float>(i)) << i;
}

}  // namespace
}  // namespace pw::dev
