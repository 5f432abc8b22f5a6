#include "CritSect.h"

#include <cstring>

#include "DebugLog.h"
#include "MixerThread.h"

std::atomic<unsigned int> CritSect::m_uiCritSectDepth{0};

CritSect::CritSect(const char* name) : m_name{}, m_bLogging(false) {
    setName(name);
    pthread_mutex_init(&m_mutex, nullptr);
}

CritSect::~CritSect() { pthread_mutex_destroy(&m_mutex); }

void CritSect::setName(const char* name) {
    if (name == nullptr) {
        m_name[0] = '\0';
        m_bLogging = false;
        return;
    }
    // Cut to 255 characters; the last byte is always the terminator.
    std::strncpy(m_name, name, kMaxNameLength);
    m_name[kMaxNameLength] = '\0';
    m_bLogging = true;
}

const char* CritSect::getName() { return m_name; }

void CritSect::Enter(const char* function, const char* file, int line) {
    if (pw::rt::onMixerThread()) {
        if (pthread_mutex_trylock(&m_mutex) != 0) {
            pw::rt::countMixerLockWait();
            pthread_mutex_lock(&m_mutex);
        }
        return;  // no log line from the mixer thread (and so no depth change: Leave matches)
    }
    pthread_mutex_lock(&m_mutex);
    logEnter(function, file, line);
}

bool CritSect::TryEnter(const char* function, const char* file, int line) {
    if (pthread_mutex_trylock(&m_mutex) != 0) return false;
    if (!pw::rt::onMixerThread()) logEnter(function, file, line);
    return true;
}

void CritSect::logEnter(const char* function, const char* file, int line) {
    if (!m_bLogging) return;
    // The line shows the depth before this Enter, so a balanced pair shows the same number twice.
    const unsigned int depth = m_uiCritSectDepth.fetch_add(1, std::memory_order_relaxed);
    debugMsg("CritSect(%d): Enter: %s at %s in %s at line:%d\n", static_cast<int>(depth), m_name,
             function, file, line);
}

void CritSect::Leave(const char* function, const char* file, int line) {
    if (!m_bLogging || pw::rt::onMixerThread()) {
        pthread_mutex_unlock(&m_mutex);
        return;
    }
    // The Leave line is written after the release, when another thread may already own (or
    // destroy) this lock: take what the line needs while still holding it.
    char name[kMaxNameLength + 1];
    std::memcpy(name, m_name, sizeof name);
    pthread_mutex_unlock(&m_mutex);
    const unsigned int depth = m_uiCritSectDepth.fetch_sub(1, std::memory_order_relaxed) - 1;
    debugMsg("CritSect(%d): Leave: %s at %s in %s at line:%d\n", static_cast<int>(depth), name,
             function, file, line);
}
