// WorkerThread: base of the engine's background workers (prefetch, output rendering, beat
// tracking). A derived class supplies the body by overriding objectRunner; the base gives it a
// POSIX thread with a start handshake, a cooperative stop through the running flag, and a join.
//
// Rules for derived classes
// - The body loops while isRunning() is true and returns soon after it turns false.
// - A derived destructor calls stopThread itself before its own members go, so the body never runs
//   on a half-destroyed object; the base destructor's stopThread then finds nothing to join.
//
// Thread safety
// - startThread and stopThread may be called from any thread; stopThread also from the body itself
//   (a worker never joins its own thread: a self-stop detaches it instead). Both block: startThread
//   until the new thread runs (10 ms polls), stopThread until the thread has been joined. Neither is
//   for real-time code.
// - isRunning may be read from any thread.
// - All threads of one worker share the running flag, so a new thread is never created while an
//   old one is still being stopped: starts and stops wait for every join in progress. A body that
//   stops its own worker returns right afterwards, and never starts its own worker.
//
// Thread reclaiming
// - A body that returns by itself leaves both flags clear; its thread is joined, without log lines,
//   by the next startThread, stopThread or the destructor.
// - When the thread cannot be created, startThread returns at once with the worker idle.
#pragma once

#include <pthread.h>

#include <atomic>

#include "CritSect.h"

class WorkerThread {
public:
    // lockName names the worker lock ("BufferingSound", "ITKOutputBuffer", "BeatTracker").
    explicit WorkerThread(const char* lockName);
    // Stops and joins the thread, then destroys the lock.
    virtual ~WorkerThread();

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Stops a previous thread, starts a new one and returns once it runs. realtime: the caller is
    // switched to SCHED_RR and the new thread created with SCHED_FIFO, both at the highest FIFO
    // priority less one. Always returns 1.
    int startThread(bool realtime);

    // Asks the body to return and joins the thread. Always returns 1.
    int stopThread();

    // The running flag: set by the new thread as its first action, cleared by stopThread and when
    // the body returns. Read it on every test.
    const std::atomic<bool>& isRunning() const { return m_bRunning; }

    // The thread body. The result is not used.
    virtual int objectRunner() = 0;

    // Thread entry handed to pthread_create; the argument is the worker.
    static void* RunnerProc(void* worker);

    // The entry's first step: sets the running flag.
    void _objectRunnerStart();
    // The entry's last step: clears both flags under the worker lock.
    void _objectRunnerDone();

    // Thread creation, replaceable so that a test can make it fail. Production code never sets it.
    typedef int (*ThreadCreateFn)(pthread_t* thread, const pthread_attr_t* attr,
                                  void* (*entry)(void*), void* arg);
    static void setThreadCreateForTesting(ThreadCreateFn create);

protected:
    // Guards the started flag and the thread bookkeeping; derived bodies may take it too.
    CritSect m_workerLock;

private:
    bool m_bStarted;                  // under m_workerLock
    std::atomic<bool> m_bRunning;     // written by the new thread without the lock
    pthread_t m_thread;               // meaningful while m_bJoinable
    bool m_bJoinable;                 // a created thread nobody has joined or detached yet
    int m_iJoinsPending;              // under m_workerLock: stops between claim and join
    pthread_t m_joining;              // under m_workerLock: the thread being joined, if any

    // Called and returning with m_workerLock held; releases it while another caller's join is
    // pending.
    void waitForPendingJoins();
};
