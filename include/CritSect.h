// CritSect: the engine's one lock type, a plain (non-recursive) mutex with an optional name.
//
// A named lock writes one debug-log line on every Enter and Leave, with the caller's function,
// source file and line and a nesting depth shared by all named locks; that is how lock traffic is
// traced when debugging is on. An unnamed lock never logs and never touches the depth counter,
// which is why the debug log's own lock is unnamed: logging can never recurse into itself.
//
// Thread safety
// - Enter and Leave may be called from any thread. A thread never enters a lock it holds and never
//   leaves a lock it does not hold (the mutex is not recursive and not error-checking).
// - setName changes the name and the logging switch without synchronisation: call it only while no
//   other thread uses the lock (during set-up of the owning object).
//
// Callback safety
// - Enter blocks for as long as the holder keeps the lock. Real-time callbacks take only the small
//   locks of the structures they touch, never a lock held across file I/O or a join.
// - On a thread marked as the mixer's (MixerThread.h) a lock never logs, named or not: the log is
//   file I/O under a lock of its own. Enter there first tries the mutex and counts it when it
//   then has to wait (pw::rt::mixerLockWaits), which the test builds assert is never; code that
//   has a fallback uses TryEnter (or CritSectTryScope) and does not wait at all.
#pragma once

#include <pthread.h>

#include <atomic>

class CritSect {
public:
    // The name field holds at most this many characters plus the terminating zero.
    static constexpr int kMaxNameLength = 255;

    // name: the lock's name (copied, cut to 255 characters), or null for a silent lock.
    explicit CritSect(const char* name = nullptr);
    ~CritSect();

    CritSect(const CritSect&) = delete;
    CritSect& operator=(const CritSect&) = delete;

    // Locks, waiting as long as needed; a named lock then logs
    // "CritSect(<depth>): Enter: <name> at <function> in <file> at line:<line>" with the depth
    // before it raised it. The line is written while the lock is held.
    void Enter(const char* function, const char* file, int line);

    // Locks only when the mutex is free: true when it did (logged like Enter), false at once
    // otherwise.
    bool TryEnter(const char* function, const char* file, int line);

    // Unlocks; a named lock then lowers the depth and logs the Leave line with the lowered depth.
    // The line is written after the lock has been released.
    void Leave(const char* function, const char* file, int line);

    // A name switches logging on, null switches it off (the name becomes empty). The mutex is
    // left alone.
    void setName(const char* name);
    const char* getName();

    // Nesting depth shared by all named locks; diagnostic only, nothing decides on it. It changes
    // whether or not debugging is on.
    static std::atomic<unsigned int> m_uiCritSectDepth;

private:
    // Logs the Enter line of a lock just taken (named locks, off the mixer thread).
    void logEnter(const char* function, const char* file, int line);

    char m_name[kMaxNameLength + 1];
    bool m_bLogging;
    pthread_mutex_t m_mutex;
};

// Scoped holder for call sites that leave on several paths. It records the place of the Enter and
// passes the same place to Leave.
class CritSectScope {
public:
    CritSectScope(CritSect& lock, const char* function, const char* file, int line)
        : m_lock(lock), m_function(function), m_file(file), m_line(line) {
        m_lock.Enter(m_function, m_file, m_line);
    }
    ~CritSectScope() { m_lock.Leave(m_function, m_file, m_line); }

    CritSectScope(const CritSectScope&) = delete;
    CritSectScope& operator=(const CritSectScope&) = delete;

private:
    CritSect& m_lock;
    const char* m_function;
    const char* m_file;
    int m_line;
};

// Scoped holder that may decline to wait: with wait false it only tries the lock, and owns()
// tells whether it got it. With wait true it is a CritSectScope.
class CritSectTryScope {
public:
    CritSectTryScope(CritSect& lock, bool wait, const char* function, const char* file, int line)
        : m_lock(lock), m_function(function), m_file(file), m_line(line), m_bOwns(true) {
        if (wait)
            m_lock.Enter(m_function, m_file, m_line);
        else
            m_bOwns = m_lock.TryEnter(m_function, m_file, m_line);
    }
    ~CritSectTryScope() {
        if (m_bOwns) m_lock.Leave(m_function, m_file, m_line);
    }
    bool owns() const { return m_bOwns; }

    CritSectTryScope(const CritSectTryScope&) = delete;
    CritSectTryScope& operator=(const CritSectTryScope&) = delete;

private:
    CritSect& m_lock;
    const char* m_function;
    const char* m_file;
    int m_line;
    bool m_bOwns;
};

// Call-site helpers: pass the caller's own function, file and line.
#define CRITSECT_ENTER(lock) (lock).Enter(__func__, __FILE__, __LINE__)
#define CRITSECT_LEAVE(lock) (lock).Leave(__func__, __FILE__, __LINE__)
#define CRITSECT_SCOPE_JOIN2(a, b) a##b
#define CRITSECT_SCOPE_JOIN(a, b) CRITSECT_SCOPE_JOIN2(a, b)
#define CRITSECT_SCOPE(lock) \
    CritSectScope CRITSECT_SCOPE_JOIN(critSectScope_, __LINE__)((lock), __func__, __FILE__, __LINE__)
// A named CritSectTryScope: CRITSECT_TRY_SCOPE(guard, lock, wait); then guard.owns().
#define CRITSECT_TRY_SCOPE(name, lock, wait) CritSectTryScope name((lock), (wait), __func__, __FILE__, __LINE__)
