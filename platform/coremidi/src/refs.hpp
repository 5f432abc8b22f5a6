// References: what each 32-bit number names. Layout: kind in bits 24-27, then two 12-bit fields
// (for devices and their parts: the back-end's device number and entity number; for clients and
// ports: a running serial). The kind is never 0, so no reference is 0, and bit 31 stays clear,
// so a reference is the same number as a Java long whether or not it was sign-extended.
#pragma once

#include <cstdint>

#include "coremidi.hpp"

namespace pw::midi {

enum class RefKind : std::uint32_t { Device = 1, Entity = 2, Source = 3, Destination = 4, Client = 5, Port = 6 };

constexpr std::uint32_t kRefFieldMax = 0xFFF;
constexpr std::uint32_t kRefSerialMask = 0xFFFFFF;

constexpr MIDIObjectRef makeRef(RefKind kind, std::uint32_t major, std::uint32_t minor) {
    return (static_cast<std::uint32_t>(kind) << 24) | ((major & kRefFieldMax) << 12) | (minor & kRefFieldMax);
}
constexpr MIDIObjectRef makeSerialRef(RefKind kind, std::uint32_t serial) {
    return (static_cast<std::uint32_t>(kind) << 24) | (serial & kRefSerialMask);
}
constexpr RefKind refKind(MIDIObjectRef ref) { return static_cast<RefKind>(ref >> 24); }
constexpr std::uint32_t refMajor(MIDIObjectRef ref) { return (ref >> 12) & kRefFieldMax; }
constexpr std::uint32_t refMinor(MIDIObjectRef ref) { return ref & kRefFieldMax; }

}  // namespace pw::midi
