#include <cstring>

#include "transport.hpp"

namespace pw::midi {

std::unique_ptr<Transport> openTransport(const std::string& clientName, OSStatus* status) {
    // The loopback back-end when its table is named (or one of its systems is still alive),
    // otherwise the ALSA sequencer.
    if (std::unique_ptr<Transport> loopback = openLoopbackTransport(status)) return loopback;
    return openAlsaTransport(clientName, status);
}

void appendPacket(std::vector<std::uint8_t>& list, MIDITimeStamp time, const std::uint8_t* data, std::size_t length) {
    if (list.empty()) list.resize(kMIDIPacketListHeaderBytes, 0);
    std::uint32_t count;
    std::memcpy(&count, list.data(), sizeof count);
    const std::size_t at = list.size();
    list.resize(at + kMIDIPacketHeaderBytes + length);
    const auto length16 = static_cast<std::uint16_t>(length);
    std::memcpy(list.data() + at, &time, sizeof time);
    std::memcpy(list.data() + at + sizeof time, &length16, sizeof length16);
    std::memcpy(list.data() + at + kMIDIPacketHeaderBytes, data, length);
    ++count;
    std::memcpy(list.data(), &count, sizeof count);
}

}  // namespace pw::midi
