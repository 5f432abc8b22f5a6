// A card for the channel's sound-server tests: a private PulseAudio daemon with one float null
// sink ("card1") at a given rate, a system initialised on it with blocks of a given size, and a
// recording of the sink's monitor started before anything plays.
//
// Declare what the mixer calls into (a probe unit's state) before the card, and release channels
// before it: the card's system is closed and released last.
#pragma once

#include <memory>
#include <string>

#include "FMODSystem.h"
#include "pulse_server.hpp"
#include "scoped_env.hpp"
#include "source_capture.hpp"

namespace tsc_test {

class PulseCard {
public:
    // Why a test timed to the millisecond on the sound server cannot run in this build, or empty:
    // no pulseaudio binary, or the address sanitizer, whose slowdown of the mixer and of the
    // test's own thread blurs offsets of a millisecond or two (the channel's memory is checked by
    // the render-level tests).
    static std::string skipReason();

    PulseCard(int rate, unsigned int blockFrames);
    // Empty once the server, the system and the recording all run; else what failed.
    const std::string& error() const { return m_error; }
    FMODSystem& system() { return *m_wrapper; }
    FMOD::System* raw() { return m_system; }
    pw::test::SourceCapture& capture() { return *m_capture; }

private:
    pw::test::ScopedEnv m_noTable{"PELLWARDEN_DEVICE_TABLE", std::nullopt};
    pw::test::PulseServer m_server;
    FMOD::System* m_system = nullptr;
    std::unique_ptr<FMODSystem> m_wrapper;  // closes and releases the system
    std::unique_ptr<pw::test::SourceCapture> m_capture;
    std::string m_error;
};

}  // namespace tsc_test
