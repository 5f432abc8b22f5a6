// CVirtualVinylController: turns the target positions of the application's virtual turntable into
// a smoothed, signed playback speed for a deck (negative plays in reverse). Abstract base of the
// time-stretched channel, which supplies the two operations the controller calls back.
//
// Thread safety
// - calculateVinylScratch(true) runs on the mixer thread once per audio block; the setters run on
//   Java threads. "VTRunner" is held around a whole speed step (both channel callbacks included),
//   around the stores of setVirtualVelocity and around setVirtualVTMode with its callback, so the
//   channel's locks always come after "VTRunner".
// - The enabled flag and the target are atomics: the mixer thread tests them before the lock.
//
// Callback safety
// - A speed step keeps at most four history values in storage reserved at construction, so it
//   never allocates. From the audio callback it only tries "VTRunner" and skips the step when a
//   setter holds it; on the mixer thread the lock never logs (CritSect).
#pragma once

#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "CritSect.h"

class CVirtualVinylController {
public:
    CVirtualVinylController();
    ~CVirtualVinylController();

    CVirtualVinylController(const CVirtualVinylController&) = delete;
    CVirtualVinylController& operator=(const CVirtualVinylController&) = delete;

    // Applies a speed factor to the channel (negative: reverse).
    virtual int SetFrequencyHighResPitch(double speed) = 0;
    // The channel's interpolated play position in milliseconds.
    virtual unsigned int GetPositionVinylScratch() = 0;

    int enableVirtualVinyl(bool enable);
    // Platter mode: base and current speed = mode, target cleared, mode applied at once. 1.
    int setVirtualVTMode(double mode);
    // New target position (ms), then one speed step. 1; -4 for a duration of 0 or less; a
    // duration below 0.01 is accepted and ignored.
    int setVirtualVelocity(long position, double duration);
    // Accepted; nothing that affects the speed depends on it. 1.
    int setVirtualVTInertia(double inertia);
    // One speed step. The flag is true from the audio callback: the step is then skipped when
    // "VTRunner" is held elsewhere instead of waiting for it; the step itself is the same.
    void calculateVinylScratch(bool fromCallback);

    double getBaseSpeed() const { return m_dBaseSpeed.load(std::memory_order_acquire); }
    double getCurrentSpeed() const { return m_dCurrentSpeed.load(std::memory_order_acquire); }

    // The wall clock, gettimeofday by default. A test sets its own before constructing a
    // controller; production code never sets it.
    typedef int (*ClockFn)(struct timeval* tv);
    static void setClockForTesting(ClockFn clock);

    static constexpr double kMaxSpeed = 25.0;
    static constexpr size_t kHistoryLength = 4;

private:
    // Milliseconds since the time base, in single precision.
    float nowMs() const;

    std::vector<float> m_speedHistory;       // under m_vtLock
    std::atomic<double> m_dCurrentSpeed;     // written under m_vtLock
    std::atomic<double> m_dBaseSpeed;        // written under m_vtLock
    std::atomic<int64_t> m_lTargetPosition;  // -1: no target
    CritSect m_vtLock;
    long m_lTimeBase;                        // seconds of the clock at construction
    int32_t m_iLastStamp;                    // ms since the time base; -1 before the first step
    std::atomic<bool> m_bEnabled;

    static std::atomic<ClockFn> s_clock;
};
