// MIDI bytes to sequencer events and back, with ALSA's MIDI event coder.
//
// Thread safety: a coder keeps parser state; each belongs to one thread (or one lock) at a time.
#pragma once

#include <alsa/asoundlib.h>

#include <cstdint>

#include "coremidi.hpp"

namespace pw::midi {

// System Exclusive goes out in events of this many bytes at most.
constexpr long kEncodeChunkBytes = 256;
// Room for the longest message the decoder writes that is not System Exclusive.
constexpr long kDecodedBytes = 64;

// Feeds `length` bytes to the encoder and hands each complete event to `emit` (which returns a
// status). A message may begin in one call and end in a later one: the encoder keeps running
// status and an unfinished System Exclusive message between calls.
template <typename Emit>
OSStatus encodeBytes(snd_midi_event_t* encoder, const std::uint8_t* data, long length, Emit&& emit) {
    while (length > 0) {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        const long used = snd_midi_event_encode(encoder, data, length, &ev);
        if (used <= 0) return kMIDISendFailed;
        data += used;
        length -= used;
        if (ev.type == SND_SEQ_EVENT_NONE) continue;
        const OSStatus status = emit(&ev);
        if (status != kMIDIOk) return status;
    }
    return kMIDIOk;
}

// The MIDI bytes of an event: System Exclusive data where it lies, any other message decoded
// whole (with its status byte) into `scratch`. Returns their count, 0 for an event that is not
// MIDI (announcements, for example).
long decodeEvent(snd_midi_event_t* decoder, const snd_seq_event_t* ev, std::uint8_t (&scratch)[kDecodedBytes],
                 const std::uint8_t** bytes);

// A decoder that writes every message with its status byte; null when out of memory.
snd_midi_event_t* newDecoder();

}  // namespace pw::midi
