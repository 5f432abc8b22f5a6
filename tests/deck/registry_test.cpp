// The deck registry: decks come into being on first use, numbered by position; indexes below 0
// or above 64 are refused; removal from the head destroys decks; the started flag gates it all.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Player.h"
#include "PlayerList.h"

namespace {

// Each test starts and ends with no registry and the engine "not started".
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        CPlayerList::deleteInstance();
        CPlayerList::setInitialized(false);
    }
    void TearDown() override {
        CPlayerList::deleteInstance();
        CPlayerList::setInitialized(false);
    }
};

TEST_F(Registry, NothingExistsOrIsCreatedBeforeStartUp) {
    EXPECT_EQ(CPlayerList::getInstance(), nullptr);
    EXPECT_EQ(CPlayerList::ref, nullptr);
    CPlayerList::deleteInstance();  // without a registry: nothing happens
    EXPECT_EQ(CPlayerList::ref, nullptr);
}

TEST_F(Registry, FirstInstanceHoldsDeckZeroAndLookupsCreateEveryMissingDeck) {
    CPlayerList::setInitialized(true);
    CPlayerList* registry = CPlayerList::getInstance();
    ASSERT_NE(registry, nullptr);
    EXPECT_EQ(CPlayerList::getInstance(), registry);
    EXPECT_EQ(registry->count(), 1);

    CPlayer* zero = registry->getChannelObject(0);
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(zero->getIndex(), 0);
    EXPECT_EQ(registry->count(), 1);  // found, not created again

    CPlayer* two = registry->getChannelObject(2);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->getIndex(), 2);
    EXPECT_EQ(registry->count(), 3);
    CPlayer* one = registry->getChannelObject(1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->getIndex(), 1);
    EXPECT_EQ(registry->count(), 3);
    EXPECT_EQ(registry->getChannelObject(2), two);
    EXPECT_EQ(registry->getChannelObject(0), zero);
}

TEST_F(Registry, IndexesOutsideZeroTo64AreRefusedWithoutCreatingAnything) {
    CPlayerList::setInitialized(true);
    CPlayerList* registry = CPlayerList::getInstance();
    ASSERT_NE(registry, nullptr);
    struct Case {
        int index;
        bool found;
    };
    const Case cases[] = {{-1, false}, {-2147483647 - 1, false}, {65, false}, {1000000, false},
                          {2147483647, false}, {3, true}};
    for (const Case& c : cases) {
        const int before = registry->count();
        CPlayer* deck = registry->getChannelObject(c.index);
        EXPECT_EQ(deck != nullptr, c.found) << c.index;
        if (!c.found) {
            EXPECT_EQ(registry->count(), before) << c.index;
        }
    }
    CPlayer* last = registry->getChannelObject(CPlayerList::kMaxDeckIndex);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->getIndex(), 64);
    EXPECT_EQ(registry->count(), 65);
}

TEST_F(Registry, ClearedFlagHandsOutNothingFromAnExistingRegistry) {
    CPlayerList::setInitialized(true);
    CPlayerList* registry = CPlayerList::getInstance();
    ASSERT_NE(registry, nullptr);
    CPlayerList::setInitialized(false);
    EXPECT_EQ(registry->getChannelObject(0), nullptr);
    EXPECT_EQ(CPlayerList::getInstance(), nullptr);
    EXPECT_EQ(registry->count(), 1);
}

TEST_F(Registry, RemovalFromTheHeadDestroysDecksAndOnlyPositionZeroIsRemoved) {
    CPlayerList::setInitialized(true);
    CPlayerList* registry = CPlayerList::getInstance();
    ASSERT_NE(registry->getChannelObject(2), nullptr);
    CPlayer* second = registry->getChannelObject(1);

    registry->deletePos(1);  // not supported: nothing changes
    EXPECT_EQ(registry->count(), 3);
    registry->deletePos(0);
    EXPECT_EQ(registry->count(), 2);
    EXPECT_EQ(registry->list->head->item, second);
    registry->deletePos(0);
    registry->deletePos(0);
    EXPECT_EQ(registry->count(), 0);
    EXPECT_EQ(registry->list->head, nullptr);
    registry->deletePos(0);  // empty: nothing changes
    EXPECT_EQ(registry->count(), 0);
}

TEST_F(Registry, DeleteInstanceDestroysAllDecksAndClearsTheStartedFlag) {
    CPlayerList::setInitialized(true);
    ASSERT_NE(CPlayerList::getInstance()->getChannelObject(3), nullptr);
    CPlayerList::deleteInstance();
    EXPECT_EQ(CPlayerList::ref, nullptr);
    EXPECT_FALSE(CPlayerList::initialized.load());
    // A new start begins again with deck 0 alone.
    CPlayerList::setInitialized(true);
    ASSERT_NE(CPlayerList::getInstance(), nullptr);
    EXPECT_EQ(CPlayerList::getInstance()->count(), 1);
}

// Lookups arrive from threads holding different engine locks: each index must still map to
// exactly one deck.
TEST_F(Registry, ConcurrentFirstLookupsCreateEachDeckOnce) {
    CPlayerList::setInitialized(true);
    CPlayerList* registry = CPlayerList::getInstance();
    constexpr int kThreads = 6;
    constexpr int kTop = 12;
    std::vector<std::vector<CPlayer*>> seen(kThreads, std::vector<CPlayer*>(kTop + 1));
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = kTop; i >= 0; --i) seen[t][i] = registry->getChannelObject((i * (t + 1)) % (kTop + 1));
        });
    }
    go = true;
    for (auto& th : threads) th.join();
    EXPECT_EQ(registry->count(), kTop + 1);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i <= kTop; ++i) {
            const int index = (i * (t + 1)) % (kTop + 1);
            ASSERT_NE(seen[t][i], nullptr);
            EXPECT_EQ(seen[t][i], registry->getChannelObject(index));
            EXPECT_EQ(seen[t][i]->getIndex(), index);
        }
}

}  // namespace
