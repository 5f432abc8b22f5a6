#include "WorkerThread.h"

#include <sched.h>
#include <unistd.h>

#include "DebugLog.h"

namespace {

// The start handshake polls the running flag at this interval.
constexpr useconds_t kStartPollMicroseconds = 10000;
// Starts and stops poll at this interval while another caller joins the worker's thread.
constexpr useconds_t kJoinPollMicroseconds = 1000;

// The worker lock's log lines name this file the way the rest of the engine names its callers.
constexpr const char* kLockFile = "WorkerThread";

std::atomic<WorkerThread::ThreadCreateFn> g_createThread{&pthread_create};

}  // namespace

void WorkerThread::setThreadCreateForTesting(ThreadCreateFn create) {
    g_createThread.store(create != nullptr ? create : &pthread_create, std::memory_order_release);
}

WorkerThread::WorkerThread(const char* lockName)
    : m_workerLock(lockName), m_bStarted(false), m_bRunning(false), m_thread(), m_bJoinable(false),
      m_iJoinsPending(0), m_joining() {}

WorkerThread::~WorkerThread() { stopThread(); }

void* WorkerThread::RunnerProc(void* worker) {
    if (worker == nullptr) return nullptr;
    WorkerThread* self = static_cast<WorkerThread*>(worker);
    // Running must be set before the body is called: startThread holds the worker lock until it
    // sees the flag, and a body that returns at once waits for that lock in _objectRunnerDone.
    self->_objectRunnerStart();
    self->objectRunner();
    self->_objectRunnerDone();
    return nullptr;  // the same as pthread_exit(nullptr)
}

void WorkerThread::_objectRunnerStart() { m_bRunning.store(true, std::memory_order_release); }

void WorkerThread::_objectRunnerDone() {
    m_workerLock.Enter("_objectRunnerDone", kLockFile, __LINE__);
    // A thread that stopped itself was detached and may outlive the start of its successor: it
    // must not clear the successor's flags. The thread stays joinable; whoever starts, stops or
    // destroys the worker next joins it.
    if (pthread_equal(m_thread, pthread_self())) {
        m_bStarted = false;
        m_bRunning.store(false, std::memory_order_release);
    }
    m_workerLock.Leave("_objectRunnerDone", kLockFile, __LINE__);
}

void WorkerThread::waitForPendingJoins() {
    // The thread being joined polls the running flag that a new thread would set again: starting
    // now would keep the old body running and its joiner waiting for ever.
    // The thread being joined never waits for its own join: a body that stops its own worker
    // while another caller joins it goes on to return.
    while (m_iJoinsPending > 0 && !pthread_equal(m_joining, pthread_self())) {
        m_workerLock.Leave("waitForPendingJoins", kLockFile, __LINE__);
        usleep(kJoinPollMicroseconds);
        m_workerLock.Enter("waitForPendingJoins", kLockFile, __LINE__);
    }
}

int WorkerThread::startThread(bool realtime) {
    stopThread();

    m_workerLock.Enter("startThread", kLockFile, __LINE__);
    waitForPendingJoins();
    if (m_bStarted) {
        // Another caller started the worker in the meantime.
        m_workerLock.Leave("startThread", kLockFile, __LINE__);
        return 1;
    }
    if (m_bJoinable) {
        // Another caller's run ended by itself since our stopThread. Its last step is past (it
        // cleared the flags under this lock), so joining under the lock cannot deadlock.
        m_bJoinable = false;
        if (pthread_equal(m_thread, pthread_self())) {
            pthread_detach(m_thread);
        } else {
            pthread_join(m_thread, nullptr);
        }
    }

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (realtime) {
        sched_param priority{};
        priority.sched_priority = sched_get_priority_max(SCHED_FIFO) - 1;
        // The caller itself becomes round-robin real-time too; unprivileged, both requests fail
        // (the thread is then not created, see below).
        pthread_setschedparam(pthread_self(), SCHED_RR, &priority);
        pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
        pthread_attr_setschedpolicy(&attributes, SCHED_FIFO);
        pthread_attr_setschedparam(&attributes, &priority);
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
    m_bRunning.store(false, std::memory_order_release);
    const int created = g_createThread.load(std::memory_order_acquire)(&m_thread, &attributes,
                                                                       &WorkerThread::RunnerProc, this);
    pthread_attr_destroy(&attributes);

    if (created != 0) {
        // No thread will ever set the running flag: waiting for it would hang the caller. The
        // worker stays idle and a later startThread may try again.
        m_workerLock.Leave("startThread", kLockFile, __LINE__);
        debugMsg("WorkerThread: thread could not be created (%d)\n", created);
        return 1;
    }
    m_bJoinable = true;
    // The lock stays held while polling: see RunnerProc.
    while (!m_bRunning.load(std::memory_order_acquire)) usleep(kStartPollMicroseconds);
    m_bStarted = true;
    m_workerLock.Leave("startThread", kLockFile, __LINE__);
    return 1;
}

int WorkerThread::stopThread() {
    m_workerLock.Enter("stopThread", kLockFile, __LINE__);
    // Another caller may be joining: wait, so that the thread is gone when any stop returns.
    waitForPendingJoins();
    const bool wasStarted = m_bStarted;
    m_bStarted = false;
    m_bRunning.store(false, std::memory_order_release);

    // Claim the join under the lock, so that two stopping callers never join one thread twice.
    bool join = false;
    pthread_t thread{};
    if (m_bJoinable) {
        m_bJoinable = false;
        thread = m_thread;
        if (pthread_equal(thread, pthread_self())) {
            // The body stops its own worker: a thread cannot join itself. It returns once this
            // call is done, and its resources go back when it exits.
            pthread_detach(thread);
        } else {
            join = true;
            ++m_iJoinsPending;
            m_joining = thread;
        }
    }
    m_workerLock.Leave("stopThread", kLockFile, __LINE__);

    if (!join) return 1;
    // Released before logging and joining: the body may take the worker lock while we wait.
    // A body that ended by itself is reclaimed silently, as an idle worker logs nothing.
    if (wasStarted) {
        debugMsg("joining WorkerThread... %p %p\n", static_cast<void*>(this),
                 static_cast<void*>(&m_thread));
    }
    pthread_join(thread, nullptr);
    if (wasStarted) debugMsg("WorkerThread joined!\n");

    m_workerLock.Enter("stopThread", kLockFile, __LINE__);
    --m_iJoinsPending;
    m_workerLock.Leave("stopThread", kLockFile, __LINE__);
    return 1;
}
