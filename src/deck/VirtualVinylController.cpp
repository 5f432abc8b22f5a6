#include "VirtualVinylController.h"
#include "StatusCodes.h"

#include <cmath>
#include <cstdlib>

namespace {
int systemClock(struct timeval* tv) { return gettimeofday(tv, nullptr); }
}  // namespace

std::atomic<CVirtualVinylController::ClockFn> CVirtualVinylController::s_clock{&systemClock};

void CVirtualVinylController::setClockForTesting(ClockFn clock) {
    s_clock.store(clock ? clock : &systemClock, std::memory_order_release);
}

CVirtualVinylController::CVirtualVinylController()
    : m_dCurrentSpeed(1.0),
      m_dBaseSpeed(1.0),
      m_lTargetPosition(-1),
      m_vtLock("VTRunner"),
      m_lTimeBase(0),
      m_iLastStamp(-1),
      m_bEnabled(false) {
    m_speedHistory.reserve(kHistoryLength);
    struct timeval tv {};
    s_clock.load(std::memory_order_acquire)(&tv);
    m_lTimeBase = static_cast<long>(tv.tv_sec);
}

CVirtualVinylController::~CVirtualVinylController() { m_bEnabled.store(false, std::memory_order_release); }

float CVirtualVinylController::nowMs() const {
    struct timeval tv {};
    s_clock.load(std::memory_order_acquire)(&tv);
    const long seconds = static_cast<long>(tv.tv_sec) - m_lTimeBase;
    return static_cast<float>(seconds * 1000) + static_cast<float>(tv.tv_usec) * 0.001f;
}

int CVirtualVinylController::enableVirtualVinyl(bool enable) {
    m_bEnabled.store(enable, std::memory_order_release);
    return 1;
}

int CVirtualVinylController::setVirtualVTMode(double mode) {
    CRITSECT_SCOPE(m_vtLock);
    m_dBaseSpeed.store(mode, std::memory_order_release);
    m_dCurrentSpeed.store(mode, std::memory_order_release);
    m_lTargetPosition.store(-1, std::memory_order_release);
    SetFrequencyHighResPitch(mode);
    return 1;
}

int CVirtualVinylController::setVirtualVelocity(long position, double duration) {
    if (!(duration > 0.0)) return TK_ERR_BAD_ARGUMENT;  // also refuses NaN
    if (duration < 0.01) return 1;
    {
        CRITSECT_SCOPE(m_vtLock);
        m_lTargetPosition.store(position, std::memory_order_release);
    }
    // The channel is asked once more here; the step below reads the position itself.
    (void)GetPositionVinylScratch();
    calculateVinylScratch(false);
    return 1;
}

int CVirtualVinylController::setVirtualVTInertia(double) { return 1; }

void CVirtualVinylController::calculateVinylScratch(bool fromCallback) {
    if (!m_bEnabled.load(std::memory_order_acquire) || m_lTargetPosition.load(std::memory_order_acquire) < 0)
        return;
    // The audio callback never waits for "VTRunner": a setter that holds it is making a step (or
    // applying a mode) itself, so the callback's step is skipped rather than repeated late.
    CRITSECT_TRY_SCOPE(vtLock, m_vtLock, !fromCallback);
    if (!vtLock.owns()) return;

    // Elapsed time, never under 10 ms: the first step and close steps count as one 10 ms block.
    const float now = nowMs();
    int32_t elapsed = 10;
    if (m_iLastStamp > 0 && now - static_cast<float>(m_iLastStamp) > 10.0f)
        elapsed = static_cast<int32_t>(now - static_cast<float>(m_iLastStamp));
    m_iLastStamp = static_cast<int32_t>(now);

    const int64_t played = GetPositionVinylScratch();
    const int64_t target = m_lTargetPosition.load(std::memory_order_acquire);
    double raw;
    if (target < 0 || played == target) {
        raw = m_dBaseSpeed.load(std::memory_order_acquire);
        m_lTargetPosition.store(-1, std::memory_order_release);  // last step until a new target
    } else {
        raw = static_cast<double>(std::llabs(target - played)) / 6.0 / elapsed;
        if (played > target) raw = -raw;
    }

    double speed = m_dCurrentSpeed.load(std::memory_order_acquire);
    if ((raw > 0.0 && speed < 0.0) || (raw < 0.0 && speed > 0.0)) speed = 0.0;  // direction change
    if (raw == speed) {
        m_dCurrentSpeed.store(speed, std::memory_order_release);
        return;
    }
    if (raw == 0.0) {
        m_dCurrentSpeed.store(0.0, std::memory_order_release);
        SetFrequencyHighResPitch(0.0);
        return;
    }
    speed = (raw + speed) * 0.5;
    if (speed > kMaxSpeed) speed = kMaxSpeed;
    if (speed < -kMaxSpeed) speed = -kMaxSpeed;

    if (m_speedHistory.size() >= kHistoryLength) m_speedHistory.erase(m_speedHistory.begin());
    m_speedHistory.push_back(static_cast<float>(speed));
    double sum = 0.0;
    for (float v : m_speedHistory) sum += v;
    speed = sum / static_cast<double>(m_speedHistory.size());

    m_dCurrentSpeed.store(speed, std::memory_order_release);
    SetFrequencyHighResPitch(speed);
}
