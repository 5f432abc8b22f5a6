// Bytes to sequencer events and back through ALSA's coder: what the sequencer back-end sends and
// receives, checked without a sequencer.
#include <gtest/gtest.h>

#include <vector>

#include "alsa_coder.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Encodes each chunk in turn (one encoder, as a destination's sends share one) and decodes every
// event the encoder completes; returns the decoded bytes and the size of each event.
Bytes roundTrip(const std::vector<Bytes>& chunks, std::vector<long>* eventSizes) {
    snd_midi_event_t* encoder = nullptr;
    EXPECT_GE(snd_midi_event_new(pw::midi::kEncodeChunkBytes, &encoder), 0);
    snd_midi_event_t* decoder = pw::midi::newDecoder();
    Bytes decoded;
    for (const Bytes& chunk : chunks) {
        const OSStatus status = pw::midi::encodeBytes(encoder, chunk.data(), static_cast<long>(chunk.size()),
                                                      [&](snd_seq_event_t* ev) {
            std::uint8_t scratch[pw::midi::kDecodedBytes];
            const std::uint8_t* bytes = nullptr;
            const long length = pw::midi::decodeEvent(decoder, ev, scratch, &bytes);
            eventSizes->push_back(length);
            decoded.insert(decoded.end(), bytes, bytes + length);
            return kMIDIOk;
        });
        EXPECT_EQ(kMIDIOk, status);
    }
    snd_midi_event_free(encoder);
    snd_midi_event_free(decoder);
    return decoded;
}

Bytes sysex(std::size_t length) {
    Bytes b(length);
    for (std::size_t i = 0; i < length; ++i) b[i] = static_cast<std::uint8_t>(i & 0x7F);
    b.front() = 0xF0;
    b.back() = 0xF7;
    return b;
}

TEST(AlsaCoder, MessagesComeBackWholeWithTheirStatus) {
    struct Case {
        const char* what;
        std::vector<Bytes> sent;
        Bytes received;
        std::vector<long> events;
    };
    const Bytes longSysex = sysex(1000);
    const std::vector<Case> cases = {
        {"running status becomes two whole note-ons", {{0x90, 0x3C, 0x64, 0x3E, 0x64}},
         {0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64}, {3, 3}},
        {"a message split across two sends", {{0x90, 0x3C}, {0x64, 0x3E, 0x64}},
         {0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64}, {3, 3}},
        {"a clock byte inside a note goes first", {{0x90, 0x3C, 0xF8, 0x64}}, {0xF8, 0x90, 0x3C, 0x64}, {1, 3}},
        {"controller, program change, pitch bend", {{0xB1, 0x07, 0x64, 0xC2, 0x05, 0xE0, 0x00, 0x40}},
         {0xB1, 0x07, 0x64, 0xC2, 0x05, 0xE0, 0x00, 0x40}, {3, 2, 3}},
        {"System Exclusive in 256-byte events, whole and in order", {longSysex}, longSysex, {256, 256, 256, 232}},
        {"System Exclusive across two sends", {Bytes(longSysex.begin(), longSysex.begin() + 300),
                                                Bytes(longSysex.begin() + 300, longSysex.end())},
         longSysex, {256, 256, 256, 232}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<long> events;
        EXPECT_EQ(c.received, roundTrip(c.sent, &events));
        EXPECT_EQ(c.events, events);
    }
}

TEST(AlsaCoder, EventsThatAreNotMidiGiveNoBytes) {
    snd_midi_event_t* decoder = pw::midi::newDecoder();
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    ev.type = SND_SEQ_EVENT_PORT_SUBSCRIBED;
    std::uint8_t scratch[pw::midi::kDecodedBytes];
    const std::uint8_t* bytes = nullptr;
    EXPECT_EQ(0, pw::midi::decodeEvent(decoder, &ev, scratch, &bytes));
    snd_midi_event_free(decoder);
}

}  // namespace
