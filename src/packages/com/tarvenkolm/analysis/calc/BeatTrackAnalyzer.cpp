#include "BeatTrackAnalyzer.h"

#include <atomic>
#include <new>
#include <vector>

#include "AudioProcessor.h"
#include "BeatTracker.h"
#include "TaskSamples.h"

namespace com_tarvenkolm_analysis_calc {

BeatTrackAnalyzer::BeatTrackAnalyzer() : processor(nullptr), converted_(nullptr), convertedSamples_(0) {
    kind = WAVEANALYZER_BEATTRACK;
}

BeatTrackAnalyzer::~BeatTrackAnalyzer() {
    delete processor;
    delete[] converted_;
}

long BeatTrackAnalyzer::init(unsigned* chunkBytes) {
    const unsigned precision = options && options->bpmPrecision < 2u ? options->bpmPrecision : 2u;
    delete processor;
    processor = new (std::nothrow) AudioProcessor(precision);
    if (!processor) return -28;
    unsigned hopBytes16 = 0;
    if (processor->setConfig(channels, sampleRate, lengthFrames, &hopBytes16) != 1 || hopBytes16 == 0) return -28;
    // One chunk is one hop of the source's own frames, so the analyzer's chunk index is the hop
    // number. 8-bit chunks are half the bytes of the 16-bit hop the processor reads.
    if (bytesPerSample == 1) {
        convertedSamples_ = hopBytes16 / 2u;
        delete[] converted_;
        converted_ = new (std::nothrow) short[convertedSamples_];
        if (!converted_) return -28;
        if (chunkBytes) *chunkBytes = convertedSamples_;
    } else if (chunkBytes) {
        *chunkBytes = hopBytes16;
    }
    return 1;
}

long BeatTrackAnalyzer::processData(void* data, unsigned bytes, unsigned chunkIndex) {
    if (!data || bytes == 0 || !processor) return -28;
    done = false;
    if (bytesPerSample == 1 && converted_) {
        const unsigned char* pcm = static_cast<const unsigned char*>(data);
        const unsigned n = bytes < convertedSamples_ ? bytes : convertedSamples_;
        for (unsigned i = 0; i < n; ++i) converted_[i] = static_cast<short>(taskSample(pcm, i, 1));
        processor->processFrame(reinterpret_cast<const char*>(converted_), n * 2u, chunkIndex);
    } else {
        processor->processFrame(static_cast<const char*>(data), bytes, chunkIndex);
    }
    return 1;
}

long BeatTrackAnalyzer::postProcess() {
    if (!result) return -28;
    if (processor) {
        BeatTracker tracker;
        if (options && (options->minBPM > 0.0f || options->maxBPM > 0.0f))
            tracker.setMinMaxBPM(options->minBPM, options->maxBPM);
        float bpm = 0.0f;
        std::vector<Event*> beats;
        // The result owns its events: a list left from an earlier run is freed, not leaked.
        for (Event* e : result->beatEvents) delete e;
        result->beatEvents.clear();
        const std::atomic<bool> running{true};
        if (tracker.beatTrack(processor, bpm, beats, &running, false) == 1) {
            result->beatTrackerCalculated = true;
            result->bpm = bpm;
            for (Event* e : beats) {
                if (!e) break;
                Event* copy = new (std::nothrow) Event(e);
                if (copy) result->beatEvents.push_back(copy);
            }
        }
        // The synthetic beats belong to the list; the others are onsets the processor frees.
        deleteSyntheticEvents(beats);
        delete processor;
        processor = nullptr;
    }
    return 1;
}

long BeatTrackAnalyzer::getMeanPause() { return 0; }

}  // namespace com_tarvenkolm_analysis_calc
