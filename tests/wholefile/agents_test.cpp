// Multi-agent beat induction and tracking on synthetic onset lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "AgentList.h"
#include "Induction.h"

namespace {

struct Onsets {
    std::vector<Event*> events;
    explicit Onsets(const std::vector<double>& times, double salience = 1.0) {
        for (double t : times) {
            Event* e = new Event(t, 1.0);
            e->salience = salience;
            events.push_back(e);
        }
    }
    ~Onsets() {
        for (Event* e : events) delete e;
    }
};

void freeList(AgentList* list) {
    list->RemoveAll();
    delete list;
}

TEST(MultiAgent, OneOnsetOrOnsetsTooCloseGiveNoAgent) {
    struct Case {
        const char* what;
        std::vector<double> times;
    } cases[] = {{"no onset", {}}, {"one onset", {1.0}}, {"all within 70 ms", {1.0, 1.02, 1.04, 1.06, 1.069}}};
    for (const Case& c : cases) {
        Onsets onsets(c.times);
        AgentList* list = Induction::beatInduction(&onsets.events, 0);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->ag, nullptr) << c.what;
        EXPECT_EQ(list->bestAgent(), nullptr) << c.what;
        EXPECT_EQ(list->semibestAgent(), nullptr) << c.what;
        freeList(list);
    }
}

TEST(MultiAgent, AnAgentWithoutAnOnsetForTenSecondsIsRemoved) {
    // Beats every 0.5 s up to 4 s, then nothing until 16 s.
    std::vector<double> times;
    for (double t = 0.5; t <= 4.0; t += 0.5) times.push_back(t);
    times.push_back(16.0);
    times.push_back(16.5);  // the last event is never tracked
    Onsets onsets(times);
    AgentList list;
    list.add(new Agent(0.5));
    const int tracked = list.beatTrack(&onsets.events, -1.0, 0);
    EXPECT_EQ(tracked, static_cast<int>(times.size()));
    for (AgentList* p = &list; p->ag; p = p->next)
        EXPECT_GE(p->ag->lastBeatTime, 16.0) << "an agent that stopped at 4 s survived";
    list.RemoveAll();
}

TEST(MultiAgent, SteadyOnsetsGiveTheirPeriodWithinOnePercent) {
    // 120 BPM with a little timing jitter, weaker off-beat onsets and a few stray ones.
    std::mt19937 rng(7);
    std::normal_distribution<double> jitter(0.0, 0.005);
    std::uniform_real_distribution<double> stray(0.0, 30.0);
    std::vector<double> times;
    for (int k = 0; k < 60; ++k) times.push_back(0.3 + 0.5 * k + jitter(rng));
    std::vector<Event*> events;
    for (double t : times) {
        Event* e = new Event(t, 1.0);
        e->salience = 1.0;
        events.push_back(e);
        Event* off = new Event(t + 0.25, 1.0);
        off->salience = 0.3;
        events.push_back(off);
    }
    for (int i = 0; i < 6; ++i) {
        Event* e = new Event(stray(rng), 1.0);
        e->salience = 0.2;
        events.push_back(e);
    }
    std::sort(events.begin(), events.end(), [](const Event* a, const Event* b) { return a->time < b->time; });

    AgentList* list = Induction::beatInduction(&events, 0);
    ASSERT_NE(list->ag, nullptr);
    EXPECT_EQ(list->beatTrack(&events, -1.0, 0), static_cast<int>(events.size()));
    Agent* best = list->bestAgent();
    ASSERT_NE(best, nullptr);
    EXPECT_NEAR(best->period, 0.5, 0.005);
    // Its beats lie on the strong onsets; the gaps it fills keep the grid.
    const size_t accepted = best->acceptedBeats->size();
    EXPECT_GE(accepted, 50u);
    best->fillBeats2();
    EXPECT_GE(best->acceptedBeats->size(), accepted);
    for (const Event* b : *best->acceptedBeats) {
        const double phase = std::fmod(b->time - 0.3 + 0.25, 0.5) - 0.25;
        EXPECT_LT(std::fabs(phase), 0.03) << "beat at " << b->time;
    }
    Agent* semibest = list->semibestAgent();
    ASSERT_NE(semibest, nullptr);
    freeList(list);
    for (Event* e : events) delete e;
}

TEST(MultiAgent, SemibestNeverDividesByAFirstBeatAtZeroOrReadsAnEmptyAgent) {
    AgentList list;
    list.add(new Agent(0.5));  // no beat at all
    Agent* atZero = new Agent(0.5);
    Event zero(0.0, 1.0);
    zero.salience = 1.0;
    atZero->considerAsBeat(&zero, &list);
    list.add(atZero);
    Agent* later = new Agent(0.5);
    Event one(1.0, 1.0);
    one.salience = 5.0;
    later->considerAsBeat(&one, &list);
    list.add(later);
    Agent* chosen = list.semibestAgent();
    ASSERT_NE(chosen, nullptr);
    EXPECT_FALSE(chosen->acceptedBeats->empty());
    EXPECT_TRUE(std::isfinite(10000.0 / std::fmax(chosen->acceptedBeats->front()->time, 0.001)));
    list.RemoveAll();
}

TEST(MultiAgent, ListAddSortRemoveKeepTheTerminatingNode) {
    AgentList list;
    for (double p : {0.6, 0.4, 0.5, 0.45}) list.add(new Agent(p), false);
    EXPECT_EQ(list.size, 4);
    list.sort();
    std::vector<double> periods;
    for (AgentList* n = &list; n->ag; n = n->next) periods.push_back(n->ag->period);
    EXPECT_EQ(periods, (std::vector<double>{0.4, 0.45, 0.5, 0.6}));
    list.add(new Agent(0.47));
    list.remove(list.next);  // the 0.45 agent
    periods.clear();
    for (AgentList* n = &list; n->ag; n = n->next) periods.push_back(n->ag->period);
    EXPECT_EQ(periods, (std::vector<double>{0.4, 0.47, 0.5, 0.6}));
    EXPECT_EQ(list.size, 4);
    list.RemoveAll();  // the head keeps its agent
    ASSERT_NE(list.ag, nullptr);
    EXPECT_EQ(list.ag->period, 0.4);
    EXPECT_EQ(list.size, 1);
    EXPECT_EQ(list.bestAgent(), list.ag);
    list.add(new Agent(0.3));  // still usable, before and after the kept agent
    list.add(new Agent(0.9));
    periods.clear();
    for (AgentList* n = &list; n && n->ag; n = n->next) periods.push_back(n->ag->period);
    EXPECT_EQ(periods, (std::vector<double>{0.3, 0.4, 0.9}));
    list.RemoveAll();
}

}  // namespace
