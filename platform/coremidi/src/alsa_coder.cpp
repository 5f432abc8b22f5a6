#include "alsa_coder.hpp"

namespace pw::midi {

long decodeEvent(snd_midi_event_t* decoder, const snd_seq_event_t* ev, std::uint8_t (&scratch)[kDecodedBytes],
                 const std::uint8_t** bytes) {
    if (ev->type == SND_SEQ_EVENT_SYSEX) {
        *bytes = static_cast<const std::uint8_t*>(ev->data.ext.ptr);
        return static_cast<long>(ev->data.ext.len);
    }
    *bytes = scratch;
    const long length = snd_midi_event_decode(decoder, scratch, kDecodedBytes, ev);
    return length > 0 ? length : 0;
}

snd_midi_event_t* newDecoder() {
    snd_midi_event_t* decoder = nullptr;
    if (snd_midi_event_new(kEncodeChunkBytes, &decoder) < 0) return nullptr;
    snd_midi_event_no_status(decoder, 1);
    return decoder;
}

}  // namespace pw::midi
