// The mixer-to-device handoff: a consumer that takes at its own pace gets every sample in order and
// paces the producer; a consumer that takes nothing no longer stops the producer, which keeps a
// real-time pace and drops what does not fit; abort releases a waiting producer. A producer that
// waits for room before each push (awaitRoom) is paced the same way, and its push never waits.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "block_handoff.hpp"

namespace pw::dev {
namespace {

using Clock = BlockHandoff::Clock;
using std::chrono::milliseconds;

constexpr unsigned kRate = 44100;
constexpr unsigned kBlockFrames = 441;  // 10 ms
constexpr size_t kChannels = 2;
constexpr size_t kBlockSamples = kBlockFrames * kChannels;

std::vector<float> block(size_t index) {
    std::vector<float> b(kBlockSamples);
    for (size_t i = 0; i < kBlockSamples; ++i) b[i] = static_cast<float>(index * kBlockSamples + i);
    return b;
}

TEST(BlockHandoff, ConsumerTakingInOddChunksGetsEverySampleInOrder) {
    BlockHandoff handoff(kBlockSamples, 2, kRate, kBlockFrames, std::chrono::hours(1));
    constexpr size_t kBlocks = 300;
    std::thread producer([&] {
        for (size_t k = 0; k < kBlocks; ++k) {
            const auto b = block(k);
            ASSERT_EQ(handoff.push(b.data(), b.size()), BlockHandoff::Push::Queued) << k;
        }
    });
    std::vector<float> got;
    std::vector<float> chunk(777);  // odd, smaller and larger than a block
    while (got.size() < kBlocks * kBlockSamples) {
        const size_t n = handoff.pull(chunk.data(), chunk.size());
        got.insert(got.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
        if (n == 0) std::this_thread::yield();
    }
    producer.join();
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<float>(i)) << i;
    EXPECT_EQ(handoff.dropped(), 0u);
}

// A producer that asks for room before each push: the push then queues the block if there was
// room, and drops it if it was due (nothing takes in between in these tests).
BlockHandoff::Push awaitThenPush(BlockHandoff& handoff, const std::vector<float>& b) {
    const BlockHandoff::Room room = handoff.awaitRoom(b.size());
    const BlockHandoff::Push result = handoff.push(b.data(), b.size());
    switch (room) {
    case BlockHandoff::Room::Free:
        EXPECT_EQ(result, BlockHandoff::Push::Queued);
        break;
    case BlockHandoff::Room::Due:
        EXPECT_EQ(result, BlockHandoff::Push::Dropped);
        break;
    case BlockHandoff::Room::Aborted:
        EXPECT_EQ(result, BlockHandoff::Push::Aborted);
        break;
    }
    return result;
}

// The consumer stops running: after the stall limit the producer drops blocks at one per block
// duration, counted from the consumer's last sign of life, and never faster, whether it waits in
// push() or in awaitRoom() before it. When the consumer takes again, it finds the blocks queued
// before the stall, then the producer's next ones.
TEST(BlockHandoff, StalledConsumerLeavesTheProducerAtItsOwnPace) {
    for (const bool awaitFirst : {false, true}) {
        SCOPED_TRACE(awaitFirst ? "awaitRoom, then push" : "push alone");
        const auto stallLimit = milliseconds(30);
        BlockHandoff handoff(kBlockSamples, 2, kRate, kBlockFrames, stallLimit);
        auto push = [&](size_t index) {
            const auto b = block(index);
            return awaitFirst ? awaitThenPush(handoff, b) : handoff.push(b.data(), b.size());
        };
        std::vector<float> out(4 * kBlockSamples);
        handoff.alive();  // the consumer runs, with nothing to take
        const Clock::time_point alive = Clock::now();
        size_t index = 0;
        for (; index < 2; ++index) ASSERT_EQ(push(index), BlockHandoff::Push::Queued);
        constexpr uint64_t kDrops = 12;
        for (uint64_t d = 0; d < kDrops; ++d, ++index) ASSERT_EQ(push(index), BlockHandoff::Push::Dropped) << d;
        EXPECT_EQ(handoff.dropped(), kDrops);
        // The d-th dropped block is due d block durations after the last pull: 12 drops take at
        // least 120 ms (a lower bound only, which a slow machine can only exceed).
        EXPECT_GE(Clock::now() - alive, milliseconds(10) * kDrops);
        // Asking for room again finds the next block due, later, and drops nothing by itself.
        EXPECT_EQ(handoff.awaitRoom(kBlockSamples), BlockHandoff::Room::Due);
        EXPECT_GE(Clock::now() - alive, milliseconds(10) * (kDrops + 1));
        EXPECT_EQ(handoff.awaitRoom(kBlockSamples), BlockHandoff::Room::Due);
        EXPECT_EQ(handoff.dropped(), kDrops);

        // The consumer is back: the two blocks from before, then the one pushed now.
        ASSERT_EQ(handoff.pull(out.data(), out.size()), 2 * kBlockSamples);
        ASSERT_EQ(push(index), BlockHandoff::Push::Queued);
        ASSERT_EQ(handoff.pull(out.data() + 2 * kBlockSamples, kBlockSamples), kBlockSamples);
        for (size_t i = 0; i < 2 * kBlockSamples; ++i) ASSERT_EQ(out[i], static_cast<float>(i));
        for (size_t i = 0; i < kBlockSamples; ++i)
            ASSERT_EQ(out[2 * kBlockSamples + i], static_cast<float>(index * kBlockSamples + i));
    }
}

// awaitRoom() waits while the ring is full, queues nothing, and returns when the consumer has
// taken enough for one block; the push after it goes in at once.
TEST(BlockHandoff, AwaitRoomWaitsForTheConsumerWithoutQueuing) {
    BlockHandoff handoff(kBlockSamples, 1, kRate, kBlockFrames, std::chrono::hours(1));
    ASSERT_EQ(handoff.push(block(0).data(), kBlockSamples), BlockHandoff::Push::Queued);
    std::atomic<bool> free{false};
    std::thread producer([&] {
        EXPECT_EQ(handoff.awaitRoom(kBlockSamples), BlockHandoff::Room::Free);
        free = true;
    });
    std::vector<float> out(kBlockSamples);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_FALSE(free.load()) << "room while the ring was full";
    ASSERT_EQ(handoff.pull(out.data(), kBlockSamples / 2), kBlockSamples / 2);  // half a block: no room yet
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_FALSE(free.load()) << "room for a block while half of one was left";
    ASSERT_EQ(handoff.pull(out.data() + kBlockSamples / 2, kBlockSamples), kBlockSamples - kBlockSamples / 2);
    producer.join();
    EXPECT_EQ(out, block(0));
    EXPECT_EQ(handoff.readable(), 0u) << "awaitRoom queued something";
    EXPECT_EQ(awaitThenPush(handoff, block(1)), BlockHandoff::Push::Queued);
    ASSERT_EQ(handoff.pull(out.data(), out.size()), kBlockSamples);
    EXPECT_EQ(out, block(1));
    EXPECT_EQ(handoff.dropped(), 0u);
}

// A consumer that tells its demand paces the producer by it: the producer waits until the device
// wants a whole block more than the ring holds, and a demand of part of a block (the rest of one
// it was given in parts) makes nothing. A ring of two blocks keeps one made ahead of the demand.
TEST(BlockHandoff, ADeviceThatTellsItsDemandGetsABlockOnlyWhenItAsks) {
    BlockHandoff handoff(kBlockSamples, 1, kRate, kBlockFrames, std::chrono::hours(1));
    handoff.want(kBlockSamples / 2);  // before the producer starts: until told, any room is demand
    std::atomic<int> made{0};
    std::thread producer([&] {
        for (size_t b = 0; b < 2; ++b) {
            if (awaitThenPush(handoff, block(b)) != BlockHandoff::Push::Queued) return;
            ++made;
        }
    });
    std::vector<float> out(2 * kBlockSamples);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(made.load(), 0) << "a block made for half a block's demand";
    handoff.want(kBlockSamples);
    while (made.load() < 1) std::this_thread::sleep_for(milliseconds(1));
    ASSERT_EQ(handoff.pull(out.data(), kBlockSamples), kBlockSamples);
    handoff.want(kBlockSamples / 4);  // the device took the block and wants a little more
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(made.load(), 1) << "a block made for a quarter block's demand";
    handoff.want(kBlockSamples + kBlockSamples / 4);
    producer.join();
    EXPECT_EQ(made.load(), 2);
    ASSERT_EQ(handoff.pull(out.data() + kBlockSamples, kBlockSamples), kBlockSamples);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + kBlockSamples), block(0));
    EXPECT_EQ(std::vector<float>(out.begin() + kBlockSamples, out.end()), block(1));

    BlockHandoff twoBlocks(kBlockSamples, 2, kRate, kBlockFrames, std::chrono::hours(1));
    twoBlocks.want(0);
    std::thread ahead([&] { EXPECT_EQ(awaitThenPush(twoBlocks, block(0)), BlockHandoff::Push::Queued); });
    ahead.join();  // would wait an hour
    EXPECT_EQ(twoBlocks.readable(), kBlockSamples);
}

// A consumer that runs but takes nothing for longer than the stall limit (a device whose clock
// paused) still paces the producer: nothing is dropped, the block waits for room.
TEST(BlockHandoff, LiveConsumerTakingNothingStillPacesTheProducer) {
    BlockHandoff handoff(kBlockSamples, 2, kRate, kBlockFrames, milliseconds(30));
    std::atomic<bool> pushed{false};
    std::thread consumer([&] {
        const Clock::time_point until = Clock::now() + milliseconds(150);
        while (Clock::now() < until) {
            handoff.alive();
            std::this_thread::sleep_for(milliseconds(5));
        }
        EXPECT_FALSE(pushed.load()) << "the third block went in while the ring was full";
        std::vector<float> out(kBlockSamples);
        EXPECT_EQ(handoff.pull(out.data(), out.size()), kBlockSamples);
    });
    for (size_t k = 0; k < 3; ++k)
        ASSERT_EQ(handoff.push(block(k).data(), kBlockSamples), BlockHandoff::Push::Queued) << k;
    pushed = true;
    consumer.join();
    EXPECT_EQ(handoff.dropped(), 0u);
}

// A device that has not started (its thread not yet scheduled, as under a sanitizer) is waited
// for well past the stall limit: the producer's first blocks reach it whole, none dropped.
TEST(BlockHandoff, ADeviceNotYetStartedIsWaitedFor) {
    BlockHandoff handoff(kBlockSamples, 1, kRate, kBlockFrames, milliseconds(30));
    ASSERT_EQ(handoff.push(block(0).data(), kBlockSamples), BlockHandoff::Push::Queued);
    BlockHandoff::Push result = BlockHandoff::Push::Dropped;
    std::thread producer([&] { result = handoff.push(block(1).data(), kBlockSamples); });  // the ring is full
    std::this_thread::sleep_for(milliseconds(300));  // the stall limit and the grace, several times
    std::vector<float> out(kBlockSamples);
    ASSERT_EQ(handoff.pull(out.data(), out.size()), kBlockSamples);
    producer.join();
    EXPECT_EQ(result, BlockHandoff::Push::Queued);
    EXPECT_EQ(handoff.dropped(), 0u);
    EXPECT_EQ(out, block(0));
}

TEST(BlockHandoff, AbortReleasesAWaitingProducer) {
    for (const bool awaitFirst : {false, true}) {
        SCOPED_TRACE(awaitFirst ? "waiting in awaitRoom" : "waiting in push");
        BlockHandoff handoff(kBlockSamples, 1, kRate, kBlockFrames, std::chrono::hours(1));
        ASSERT_EQ(handoff.push(block(0).data(), kBlockSamples), BlockHandoff::Push::Queued);
        BlockHandoff::Push result = BlockHandoff::Push::Queued;
        std::thread producer([&] {  // the ring is full
            const auto b = block(1);
            result = awaitFirst ? awaitThenPush(handoff, b) : handoff.push(b.data(), b.size());
        });
        std::this_thread::sleep_for(milliseconds(20));
        handoff.abort();
        producer.join();  // would wait an hour
        EXPECT_EQ(result, BlockHandoff::Push::Aborted);
        EXPECT_TRUE(handoff.aborted());
        EXPECT_EQ(handoff.awaitRoom(kBlockSamples), BlockHandoff::Room::Aborted);
        EXPECT_EQ(handoff.push(block(2).data(), kBlockSamples), BlockHandoff::Push::Aborted);
    }
}

}  // namespace
}  // namespace pw::dev
