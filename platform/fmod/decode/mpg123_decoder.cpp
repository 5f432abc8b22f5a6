#include "mpg123_decoder.hpp"

#include <mpg123.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "mpeg_info_frame.hpp"

namespace pw::decode {

namespace {

// mpg123_init is a no-op on current versions but required on older ones; once per process.
bool libraryReady() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = mpg123_init() == MPG123_OK; });
    return ok;
}

struct HandleCloser {
    mpg123_handle* h;
    ~HandleCloser() {
        if (h) {
            mpg123_close(h);
            mpg123_delete(h);
        }
    }
};

// A handle set up for decoding `path`: gapless, 16-bit signed, at any rate and layout, or with
// `rate` and `channels` given, pinned to that shape: a stream that changes its rate or channel
// count part-way (joined files) is then converted by the library to the shape of its start, so
// one sound keeps one frame size and one length unit.
mpg123_handle* openHandle(const std::string& path, long rate = 0, int channels = 0) {
    int err = MPG123_OK;
    HandleCloser guard{mpg123_new(nullptr, &err)};
    mpg123_handle* h = guard.h;
    if (!h)
        return nullptr;
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    // Decode more frames ahead of a seek target than the default so that the layer III bit
    // reservoir has settled: the samples after a seek then equal a linear read.
    mpg123_param(h, MPG123_PREFRAMES, 8, 0.0);
    mpg123_format_none(h);
    const long* rates = nullptr;
    size_t numRates = 0;
    mpg123_rates(&rates, &numRates);
    if (rate > 0) {
        mpg123_format(h, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16);
    } else {
        for (size_t i = 0; i < numRates; ++i)
            mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    if (mpg123_open(h, path.c_str()) != MPG123_OK)
        return nullptr;
    guard.h = nullptr;
    return h;
}

// Frames a handle decodes from where it is to the end.
uint64_t decodedFrames(mpg123_handle* h, int channels) {
    std::vector<unsigned char> discard(65536);
    const size_t frameBytes = 2 * static_cast<size_t>(channels);
    uint64_t bytes = 0;
    for (;;) {
        size_t done = 0;
        const int rc = mpg123_read(h, discard.data(), discard.size(), &done);
        bytes += done;
        if ((rc != MPG123_OK && rc != MPG123_NEW_FORMAT) || (rc == MPG123_OK && done == 0))
            return bytes / frameBytes;
    }
}

// Samples of delay in the layer III synthesis, which gapless decoding drops along with the
// encoder's delay.
constexpr off_t kDecoderDelay = 529;

// Frames a read from the start of a fresh handle gives: a header scan, then a decode of the last
// seconds only. Without a usable scan the whole stream is decoded.
uint64_t framesToEnd(mpg123_handle* h, int channels, long rate) {
    if (mpg123_scan(h) == MPG123_OK) {
        const off_t scanned = mpg123_length(h);
        const off_t from = std::max<off_t>(0, scanned - static_cast<off_t>(4 * rate));
        if (scanned > 0 && mpg123_seek(h, from, SEEK_SET) >= 0) {
            // A scan that finds fewer frames than the file declares gives up its gapless end,
            // and positions then count the frames a read from the start drops as well: the
            // encoder's delay and the layer III decoder's own.
            long delay = -1;
            double unused = 0;
            const off_t dropped = mpg123_getstate(h, MPG123_ENC_DELAY, &delay, &unused) == MPG123_OK && delay >= 0
                                      ? static_cast<off_t>(delay) + kDecoderDelay
                                      : 0;
            const off_t landed = mpg123_tell(h);
            if (landed >= dropped)
                return static_cast<uint64_t>(landed - dropped) + decodedFrames(h, channels);
        }
        if (mpg123_seek(h, 0, SEEK_SET) != 0)
            return 0;
    }
    return decodedFrames(h, channels);
}

}  // namespace

std::unique_ptr<Decoder> Mpg123Decoder::open(const std::string& path, bool accurate) {
    if (!libraryReady())
        return nullptr;
    long rate = 0;
    int channels = 0;
    {
        HandleCloser probe{openHandle(path)};
        int encoding = 0;
        if (!probe.h || mpg123_getformat(probe.h, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
            channels <= 0 || channels > 2 || encoding != MPG123_ENC_SIGNED_16)
            return nullptr;
    }
    HandleCloser guard{openHandle(path, rate, channels)};
    mpg123_handle* h = guard.h;
    long pinnedRate = 0;
    int pinnedChannels = 0;
    int pinnedEncoding = 0;
    if (!h || mpg123_getformat(h, &pinnedRate, &pinnedChannels, &pinnedEncoding) != MPG123_OK ||
        pinnedRate != rate || pinnedChannels != channels)
        return nullptr;
    // Only a scan makes the length exact: the library's own "accurate" flag is set for a CBR
    // file whose length it extrapolated from the file size.
    bool exact = false;
    off_t length = -1;
    const bool cutShort = mpegFileCutShort(path);
    if (cutShort) {
        // The frame count in the first frame is that of the whole file. A scan finds fewer frames,
        // gives up the gapless end the file declares and then counts the encoder delay as well,
        // which a read still drops: the length is what a read gives.
        // The scan walks the frame headers without decoding; only the last seconds before the
        // length it finds are decoded, from a sample-exact seek, to learn where a read ends.
        HandleCloser counter{openHandle(path, rate, channels)};
        if (!counter.h)
            return nullptr;
        length = static_cast<off_t>(framesToEnd(counter.h, channels, rate));
        exact = true;
    } else if (accurate) {
        // The scan runs on a handle of its own: rewinding after a scan leaves the synthesis
        // filter with the file's last frames in it, and the first samples read would differ by a
        // rounding step from a fresh decode.
        HandleCloser scanner{openHandle(path, rate, channels)};
        if (!scanner.h || mpg123_scan(scanner.h) != MPG123_OK)
            return nullptr;
        length = mpg123_length(scanner.h);
        exact = true;
    } else {
        length = mpg123_length(h);
    }
    if (length < 0)
        return nullptr;

    StreamInfo info;
    info.channels = channels;
    info.rate = static_cast<int>(rate);
    info.bits = 16;
    info.format = FMOD_SOUND_FORMAT_PCM16;
    info.type = FMOD_SOUND_TYPE_MPEG;
    info.lengthFrames = static_cast<uint64_t>(length);
    info.lengthExact = exact;
    info.cutShort = cutShort;
    auto* handle = guard.h;
    guard.h = nullptr;
    return std::unique_ptr<Decoder>(new Mpg123Decoder(handle, info, path));
}

Mpg123Decoder::~Mpg123Decoder() {
    mpg123_close(handle_);
    mpg123_delete(handle_);
}

long Mpg123Decoder::read(void* dst, unsigned long frames) {
    if (frames == 0 || ended_)
        return 0;
    const size_t frameBytes = 2 * static_cast<size_t>(info_.channels);
    auto* out = static_cast<unsigned char*>(dst);
    size_t want = frames * frameBytes;
    size_t total = 0;
    while (total < want) {
        size_t done = 0;
        const int rc = mpg123_read(handle_, out + total, want - total, &done);
        total += done;
        if (rc == MPG123_DONE) {
            ended_ = true;
            break;
        }
        if (rc == MPG123_NEW_FORMAT)
            continue;  // the format is pinned to 16-bit; the call only reports the first header
        if (rc != MPG123_OK) {
            if (total == 0)
                return -1;
            break;
        }
        if (done == 0)
            break;
    }
    return static_cast<long>(total / frameBytes);
}

// mpg123 lands on the exact sample, but the output then differs by a rounding step here and there
// from a linear read: its synthesis filter works through a ring buffer whose phase follows the
// number of frames decoded, and a seek restarts that ring. So the decoder is restarted at a frame
// whose index keeps the phase of a linear read (a multiple of 16), well before the target, and
// decodes forward from there. For MPEG-1 stereo that reproduces a linear read bit for bit; mono
// and MPEG-2/2.5 streams keep other state across a seek, and isolated samples there can still
// differ by one step (never more; the position is always exact).
constexpr off_t kPhaseFrames = 16;
constexpr uint64_t kSettleFrames = 4 * 1152;

bool Mpg123Decoder::seek(uint64_t frame) {
    if (info_.lengthExact && frame > info_.lengthFrames)
        return false;
    const uint64_t early = frame > kSettleFrames ? frame - kSettleFrames : 0;
    off_t mpegFrame = mpg123_timeframe(handle_, static_cast<double>(early) / info_.rate);
    if (mpegFrame < 0)
        mpegFrame = 0;
    mpegFrame -= mpegFrame % kPhaseFrames;
    if (mpegFrame == 0) {
        // Seeking to the first frame does not restart the ring at all; reopening does, exactly
        // as at open.
        mpg123_close(handle_);
        if (mpg123_open(handle_, path_.c_str()) != MPG123_OK)
            return false;
    } else if (mpg123_seek_frame(handle_, mpegFrame, SEEK_SET) < 0) {
        return false;
    }
    off_t at = mpg123_tell(handle_);
    if (at < 0 || static_cast<uint64_t>(at) > frame)
        return false;
    ended_ = false;
    uint64_t position = static_cast<uint64_t>(at);
    std::vector<unsigned char> discard(8192);
    const size_t frameBytes = 2 * static_cast<size_t>(info_.channels);
    while (position < frame) {
        const size_t want = std::min<uint64_t>(discard.size() / frameBytes, frame - position) * frameBytes;
        size_t done = 0;
        const int rc = mpg123_read(handle_, discard.data(), want, &done);
        position += done / frameBytes;
        if (rc == MPG123_NEW_FORMAT)
            continue;
        if (rc != MPG123_OK || done == 0) {
            ended_ = rc == MPG123_DONE;
            return position == frame;
        }
    }
    return true;
}

}  // namespace pw::decode
