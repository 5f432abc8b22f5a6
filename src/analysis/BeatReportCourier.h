// The courier that hands the deck beat trackers' lists to Java (PlayerNative.updateBeatList).
//
// A tracker's worker never calls Java itself: it posts its report here and goes on. A thread of
// the courier's own, attached to the VM as a daemon, delivers the reports in the order posted,
// one at a time, and detaches and ends once none is left. So
// - a Java handler may call the engine for any deck, loading included: whoever stops a tracker
//   (under that deck's locks) waits for the worker only, never for Java;
// - nothing waits for the courier: neither the JVM when main returns, nor the engine's teardown
//   at process exit, when a thread in Java or in DetachCurrentThread never comes back.
//
// Thread safety: post and withdraw from any thread. The courier's lock is a leaf, never held
// while Java runs. Its state lives for the whole process (it is never freed), so a courier thread
// still running at exit finds it intact.
#pragma once

#include "BeatTracker.h"

namespace beat_courier {

// Queues a copy of the report for Java, tagged with its source (the tracker; an identity only).
// Dropped, with false, when no VM is known, memory runs out or no courier thread can be started.
bool post(const void* source, const BeatReport& report);

// Drops the reports of `source` not yet handed to Java (one being delivered goes on).
void withdraw(const void* source);

}  // namespace beat_courier
