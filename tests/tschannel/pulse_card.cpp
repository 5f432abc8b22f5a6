#include "pulse_card.h"

namespace tsc_test {

std::string PulseCard::skipReason() {
    if (!pw::test::PulseServer::binaryAvailable()) return "pulseaudio not installed";
#if defined(__SANITIZE_ADDRESS__)
    return "timing to the millisecond: not under the address sanitizer";
#else
    return "";
#endif
}

PulseCard::PulseCard(int rate, unsigned int blockFrames) : m_server({{"card1", "Card1", 2, rate}}) {
    if (!m_server.ready()) {
        m_error = "sound server: " + m_server.error();
        return;
    }
    if (FMOD_System_Create(&m_system) != FMOD_OK) {
        m_error = "no system";
        return;
    }
    m_wrapper = std::make_unique<FMODSystem>(m_system);
    if (m_system->setDriver(0) != FMOD_OK ||
        m_system->setSoftwareFormat(rate, FMOD_SOUND_FORMAT_PCMFLOAT, 0, 6, FMOD_DSP_RESAMPLER_LINEAR) != FMOD_OK ||
        m_system->setDSPBufferSize(blockFrames, 4) != FMOD_OK || m_system->init(16, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) {
        m_error = "the system did not start on the sink";
        return;
    }
    m_capture = std::make_unique<pw::test::SourceCapture>("card1.monitor", 2, rate);
    if (!m_capture->ok()) m_error = "recording: " + m_capture->error();
}

}  // namespace tsc_test
