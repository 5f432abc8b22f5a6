// The deck beat tracker's worker side: starting and stopping a run, decoding the deck's file on
// the silent system into an AudioProcessor, and reporting beat lists to Java.
#include "BeatTracker.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "AudioProcessor.h"
#include "BeatReportCourier.h"
#include "DebugLog.h"
#include "TKCore.h"
#include "Util.h"

namespace {

constexpr unsigned kReadBlockBytes = sizeof(BeatTracker::readBuffer);
// Seconds of decoded audio between two interim lists, and the most interim lists of one run.
constexpr float kInterimSeconds = 30.0f;
constexpr int kMaxInterims = 30;

std::atomic<BeatTracker::ReportSink> g_reportSink{nullptr};
std::atomic<void*> g_reportContext{nullptr};

}  // namespace

void BeatTracker::setReportSinkForTesting(ReportSink sink, void* context) {
    g_reportContext.store(context, std::memory_order_release);
    g_reportSink.store(sink, std::memory_order_release);
}

void BeatTracker::selectReportedBeats(const std::vector<Event*>& beats, BeatReport* report) {
    bool firstSent = false;
    for (const Event* beat : beats) {
        if (!beat || !(beat->salience > 0.0)) continue;
        const bool first = !firstSent && !beat->synthetic;
        if (first) firstSent = true;
        report->times.push_back(beat->time);
        report->firstBeat.push_back(first);
    }
}

int BeatTracker::startTracking(int deckIndex, char* name, bool unicode, float newMinBPM, float newMaxBPM,
                               BeatResultListener* /*listener*/, int newPrecision) {
    stopTracking();
    deck = deckIndex;
    minBPM = newMinBPM;
    maxBPM = newMaxBPM;
    precision = newPrecision;
    debugMsg("BeatTracker::startTracking player:%d file:%s\n", deckIndex, name ? name : "(null)");
    if (!name || !name[0]) return -3;
    // The worker is stopped: fileName belongs to this thread until startThread.
    std::strncpy(fileName, name, sizeof fileName - 1);
    fileName[sizeof fileName - 1] = '\0';
    (void)unicode;  // the name is taken as 8-bit text either way
    fileNameIsWide = false;
    startThread(false);
    return 1;
}

int BeatTracker::readDataFromSound(FMOD::Sound* sound, void* dest, unsigned bytes, unsigned* read) {
    if (!sound) return 44;
    if (read) *read = 0;
    if (bytes == 0 || !dest) return 44;
    unsigned char* out = static_cast<unsigned char*>(dest);
    unsigned copied = 0;
    while (copied < bytes) {
        if (readPos >= readFill) {
            // The audio layer hands out whole frames, so a block may hold a little less than
            // asked for (8190 bytes of 24-bit stereo): only what it holds is passed on.
            unsigned got = 0;
            const FMOD_RESULT result = sound->readData(readBuffer, kReadBlockBytes, &got);
            readPos = 0;
            readFill = result == FMOD_OK ? got : 0;
            if (readFill == 0) {
                if (copied == 0) return result != FMOD_OK ? result : FMOD_ERR_FILE_EOF;
                // The end of the data: the chunk begun reads to its end as silence.
                std::memset(out + copied, 0, bytes - copied);
                if (read) *read += bytes - copied;
                return 0;
            }
        }
        unsigned n = readFill - readPos;
        if (n > bytes - copied) n = bytes - copied;
        std::memcpy(out + copied, readBuffer + readPos, n);
        copied += n;
        readPos += n;
        if (read) *read += n;
    }
    return 0;
}

int BeatTracker::objectRunner() {
    CRITSECT_SCOPE(runningLock);
    if (!CTKCore::isWaveDataAccessAllowed(fileName, fileNameIsWide)) return 0;

    const unsigned clamped = precision < 0 ? 0u : (precision > 2 ? 2u : static_cast<unsigned>(precision));
    AudioProcessor* processor = new (std::nothrow) AudioProcessor(clamped);
    if (!processor) return 0;
    readPos = 0;
    readFill = 0;
    debugMsg("Beattracking started: %s %d\n", fileName, fileNameIsWide ? 1 : 0);

    FMOD::Sound* sound = nullptr;
    if (CTKCore::_openFmodSound(fileName, &sound, fileNameIsWide, true, true) != 1 || !sound) {
        debugMsg("Beattracking not started cause the Sound was NULL! filename: %s\n", fileName);
        delete processor;
        return 0;
    }

    float rate = 44100.0f;
    int channels = 2;
    int bits = 8;
    FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_NONE;
    unsigned length = 0;
    {
        float queried = 0.0f;
        const FMOD_RESULT r = sound->getDefaults(&queried, nullptr, nullptr, nullptr);
        ERRCHECK_HERE(r);
        if (r == FMOD_OK && queried > 0.0f) rate = queried;
    }
    {
        int ch = 0, b = 0;
        FMOD_SOUND_FORMAT f = FMOD_SOUND_FORMAT_NONE;
        const FMOD_RESULT r = sound->getFormat(nullptr, &f, &ch, &b);
        ERRCHECK_HERE(r);
        if (r == FMOD_OK) {
            if (ch > 0) channels = ch;
            if (b > 0) bits = b;
            format = f;
        }
    }
    {
        unsigned frames = 0;
        const FMOD_RESULT r = sound->getLength(&frames, FMOD_TIMEUNIT_PCM);
        ERRCHECK_HERE(r);
        if (r == FMOD_OK) length = frames;
    }
    // The onset detector reads 16-bit samples only: other depths are converted chunk by chunk,
    // so the source's own sample size counts the bytes read.
    const unsigned bytesPerSample = (bits == 8 || bits == 16 || bits == 24 || bits == 32) ? bits / 8u : 1u;
    const int convertBits = bytesPerSample * 8;
    const bool isFloat = format == FMOD_SOUND_FORMAT_PCMFLOAT && bits == 32;
    ERRCHECK_HERE(sound->seekData(0));

    unsigned chunkBytes = 0;  // one hop of 16-bit interleaved audio
    char* chunk = nullptr;
    unsigned char* raw = nullptr;
    unsigned rawChunkBytes = 0;
    const bool configured =
        processor->setConfig(channels, rate, length, &chunkBytes) == 1 && chunkBytes > 0;
    if (configured) {
        rawChunkBytes = chunkBytes / 2u * bytesPerSample;
        chunk = static_cast<char*>(std::malloc(chunkBytes));
        raw = bytesPerSample == 2 ? reinterpret_cast<unsigned char*>(chunk)
                                  : static_cast<unsigned char*>(std::malloc(rawChunkBytes));
    }

    bool reportFinal = true;
    if (chunk && raw) {
        debugMsg("start runner! %d\n", deck);
        unsigned long long total = 0;  // source bytes fed
        int interims = 0;
        const unsigned long long frameBytes = static_cast<unsigned long long>(bytesPerSample) * channels;
        for (;;) {
            unsigned got = 0;
            if (readDataFromSound(sound, raw, rawChunkBytes, &got) != 0) break;
            if (length <= total / frameBytes) break;
            if (raw != reinterpret_cast<unsigned char*>(chunk))
                convertToPcm16(raw, rawChunkBytes, convertBits, isFloat, reinterpret_cast<short*>(chunk),
                               chunkBytes / 2u);
            processor->processFrame(chunk, chunkBytes, static_cast<unsigned>(total / rawChunkBytes));
            total += rawChunkBytes;

            const int due = static_cast<int>(static_cast<float>(total) / channels / bytesPerSample / rate /
                                             kInterimSeconds);
            if (interims < due) {
                // The factor 2 is there whatever the channel count: a mono file reaches about 50.
                const float percent =
                    static_cast<float>(total) / (2.0f * bytesPerSample) / static_cast<float>(length) * 100.0f;
                if (percent < 100.0f) updateBeatList(false, processor, percent);
                ++interims;
            }
            if (!isRunning().load(std::memory_order_acquire)) {
                debugMsg("runner killed! %d\n", deck);
                reportFinal = false;
                break;
            }
            if (interims >= 1) {
                usleep(1000);
                if (interims > kMaxInterims) break;
            }
        }
    }
    if (reportFinal) {
        if (raw != reinterpret_cast<unsigned char*>(chunk)) std::free(raw);
        std::free(chunk);
        raw = nullptr;
        chunk = nullptr;
        updateBeatList(true, processor, 100.0);
        debugMsg("runner finished! %d\n", deck);
    }
    if (raw != reinterpret_cast<unsigned char*>(chunk)) std::free(raw);
    std::free(chunk);
    CTKCore::_closeFmodSound(sound);
    delete processor;
    return 0;
}

void BeatTracker::updateBeatList(bool finished, AudioProcessor* processor, double percent) {
    if (!processor) return;
    float bpm = 0.0f;
    std::vector<Event*> beats;
    beatTrack(processor, bpm, beats, &isRunning(), true);
    callJava(finished, percent, &beats);
    for (Event* beat : beats)
        if (beat && beat->synthetic) delete beat;
    for (Event* onset : processor->onsets) delete onset;
    processor->onsets.clear();
}

void BeatTracker::callJava(bool finished, double percent, std::vector<Event*>* beats) {
    CRITSECT_SCOPE(javaCallLock);
    if (!isRunning().load(std::memory_order_acquire)) return;
    try {
        BeatReport report{deck, finished, percent, {}, {}};
        if (beats) selectReportedBeats(*beats, &report);
        const ReportSink sink = g_reportSink.load(std::memory_order_acquire);
        if (sink) {
            sink(g_reportContext.load(std::memory_order_acquire), report);
            return;
        }
        // Java gets it from the courier's thread: this worker never waits for Java, so whoever
        // stops it (holding the deck's locks) never waits for a handler calling into that deck.
        beat_courier::post(this, report);
    } catch (const std::bad_alloc&) {
        debugMsg("BeatTracker: no memory for the beat list of deck %d\n", deck);
    }
}
