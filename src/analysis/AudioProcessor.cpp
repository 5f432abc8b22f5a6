#include "AudioProcessor.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "Util.h"
#include "fmod_sample_format.hpp"
#include "com/tarvenkolm/analysis/fft/FFT.h"
#include "StatusCodes.h"

using com_tarvenkolm_analysis_fft::FFT;

int AudioProcessor::energyOversampleFactor = 2;

namespace {
// Base grid at precision 2: 10 ms hops, 46.44 ms frames (2048 samples at 44.1 and 48 kHz).
const double kBaseHopTime = 0.01;
const double kBaseFftTime = 0.04644;
// Frames beyond 2^20 samples are refused: no real rate needs them and they would cost a great
// deal of memory per processor.
const int kMaxFftExponent = 20;

double precisionFactor(unsigned precision) {
    switch (precision) {
        case 0: return 4.0;
        case 1: return 2.0;
        case 3: return 0.5;
        case 4: return 0.25;
        case 5: return 0.125;
        default: return 1.0;
    }
}

inline bool stillRunning(const std::atomic<bool>* running) {
    return running == nullptr || running->load(std::memory_order_acquire);
}

inline int16_t readSample(const unsigned char* p) { return pw::sound::sampleToPcm16(p, FMOD_SOUND_FORMAT_PCM16); }

double* newZeroed(unsigned count) { return new (std::nothrow) double[count ? count : 1](); }
}  // namespace

AudioProcessor::AudioProcessor(unsigned precision)
    : channels(0),
      sampleRate(0.0f),
      hopTime(kBaseHopTime * precisionFactor(precision)),
      fftTime(kBaseFftTime * precisionFactor(precision)),
      hopSize(0),
      fftSize(0),
      lastFrame(0),
      ring(nullptr),
      ringCapacity(0),
      ringPos(0),
      window(nullptr),
      spectrum(nullptr),
      spectrumCapacity(0),
      spectrumIm(nullptr),
      spectrumImCapacity(0),
      flux(nullptr),
      fluxLength(0),
      prevSpectrum(nullptr),
      prevSpectrumCapacity(0),
      energy(nullptr),
      totalFrames(0),
      windowSize(0),
      nominalHopTime(hopTime) {}

AudioProcessor::~AudioProcessor() {
    clearOnsets();
    releaseCurves();
    releaseFrameBuffers();
}

void AudioProcessor::clearOnsets() {
    for (Event* e : onsets) delete e;
    onsets.clear();
}

void AudioProcessor::releaseCurves() {
    delete[] flux;
    delete[] energy;
    flux = nullptr;
    energy = nullptr;
    fluxLength = 0;
    totalFrames = 0;
}

void AudioProcessor::releaseFrameBuffers() {
    delete[] ring;
    delete[] spectrum;
    delete[] spectrumIm;
    delete[] prevSpectrum;
    delete[] window;
    ring = spectrum = spectrumIm = prevSpectrum = window = nullptr;
    ringCapacity = spectrumCapacity = spectrumImCapacity = prevSpectrumCapacity = 0;
    windowSize = 0;
}

int AudioProcessor::setConfig(int ch, float rate, unsigned lengthFrames, unsigned* chunkBytes) {
    channels = ch;
    sampleRate = rate;
    return init(lengthFrames, chunkBytes);
}

int AudioProcessor::init(unsigned lengthFrames, unsigned* chunkBytes) {
    // Whatever happens below, frames of an earlier configuration are not taken any more.
    releaseCurves();
    lastFrame = 0;
    ringPos = 0;
    clearOnsets();
    if (chunkBytes) *chunkBytes = 0;

    const double framesPerFft = static_cast<double>(sampleRate) * fftTime;
    const int exponent = framesPerFft >= 1.0 ? static_cast<int>(std::lround(std::log2(framesPerFft))) : 0;
    const double hopFrames = static_cast<double>(sampleRate) * nominalHopTime + 0.5;
    if (channels <= 0 || !(sampleRate > 0.0f) || !std::isfinite(sampleRate) || exponent < 1 ||
        exponent > kMaxFftExponent || hopFrames < 1.0) {
        std::printf("AudioProcessor: cannot analyse %d channels at %f Hz\n", channels,
                    static_cast<double>(sampleRate));
        hopSize = fftSize = 0;
        return TK_ERR_BAD_ARGUMENT;
    }

    hopSize = static_cast<unsigned>(hopFrames);
    fftSize = 1u << exponent;
    if (fftSize < hopSize) hopSize = fftSize;
    // The hop time is the hop actually taken, not the nominal grid: at 11025 and 22050 Hz the
    // rounded hop differs from rate * 0.01 and onset times would drift against the audio.
    hopTime = static_cast<double>(hopSize) / static_cast<double>(sampleRate);
    if (chunkBytes) *chunkBytes = hopSize * static_cast<unsigned>(channels) * 2u;

    if (ringCapacity < fftSize) {
        delete[] ring;
        ring = newZeroed(fftSize);
        ringCapacity = ring ? fftSize : 0;
        if (spectrumCapacity < fftSize) {
            delete[] spectrum;
            spectrum = newZeroed(fftSize);
            spectrumCapacity = spectrum ? fftSize : 0;
        }
        if (spectrumImCapacity < fftSize) {
            delete[] spectrumIm;
            spectrumIm = newZeroed(fftSize);
            spectrumImCapacity = spectrumIm ? fftSize : 0;
        }
        if (prevSpectrumCapacity < fftSize) {
            delete[] prevSpectrum;
            prevSpectrum = newZeroed(fftSize);
            prevSpectrumCapacity = prevSpectrum ? fftSize : 0;
        }
    }
    // The window follows the frame size even when the buffers are large enough already: a
    // processor configured again for a smaller frame must not read the front of a larger window.
    if (windowSize != fftSize) {
        delete[] window;
        window = FFT::makeWindow(FFT::HAMMING, static_cast<int>(fftSize), static_cast<int>(fftSize));
        windowSize = window ? fftSize : 0;
        if (window) {
            const double scale = std::sqrt(static_cast<double>(fftSize));
            for (unsigned i = 0; i < fftSize; ++i) window[i] *= scale;
        }
    }

    const unsigned frames =
        lengthFrames > 0 ? lengthFrames / hopSize : static_cast<unsigned>(3600.0 / hopTime);
    energy = newZeroed(static_cast<unsigned>(energyOversampleFactor) * frames);
    flux = newZeroed(frames);
    if (!ring || !spectrum || !spectrumIm || !prevSpectrum || !window || !energy || !flux) {
        std::printf("Memory allocation error!\n");
        releaseCurves();
        releaseFrameBuffers();
        return TK_ERR_FAILED;
    }
    totalFrames = frames;
    fluxLength = frames;
    return 1;
}

void AudioProcessor::putFrame(const char* pcm, unsigned bytes) {
    const unsigned frameBytes = static_cast<unsigned>(channels) * 2u;
    const unsigned frames = bytes / frameBytes;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pcm);
    for (unsigned f = 0; f < frames; ++f, p += frameBytes) {
        double x;
        if (channels <= 2) {
            // Stereo takes the left channel only; the right one is ignored on purpose.
            x = readSample(p) / 32768.0;
        } else {
            long sum = 0;
            for (int c = 0; c < channels; ++c) sum += readSample(p + 2 * c);
            x = static_cast<double>(sum) / (channels * 32768.0);
        }
        ring[ringPos] = x;
        if (++ringPos >= fftSize) ringPos = 0;
    }
}

void AudioProcessor::processFrame(const char* pcm, unsigned bytes, unsigned frameIndex) {
    if (!pcm || frameIndex >= totalFrames) return;
    if (frameIndex != lastFrame + 1) {
        // A break in the sequence (and the very first frame): start the frame afresh, and let
        // the next flux value be the whole new spectrum.
        ringPos = 0;
        std::memset(prevSpectrum, 0, fftSize * sizeof(double));
    }
    lastFrame = frameIndex;
    putFrame(pcm, bytes);

    for (unsigned i = 0; i < fftSize; ++i) {
        unsigned r = ringPos + i;
        if (r >= fftSize) r -= fftSize;
        spectrum[i] = window[i] * ring[r];
    }
    std::memset(spectrumIm, 0, fftSize * sizeof(double));
    FFT::magnitudePhaseFFT(spectrum, fftSize, spectrumIm, fftSize);

    double rise = 0.0;
    for (unsigned k = 0; k <= fftSize / 2; ++k) {
        const double d = spectrum[k] - prevSpectrum[k];
        if (d > 0.0) rise += d;
    }
    flux[frameIndex] = rise;

    // Energy of the frame's newest fftSize - hopSize samples, in energyOversampleFactor runs.
    const unsigned factor = static_cast<unsigned>(energyOversampleFactor);
    const unsigned runLength = (fftSize - hopSize) / factor;
    unsigned pos = (ringPos + hopSize) % fftSize;
    for (unsigned j = 0; j < factor; ++j) {
        double sum = 0.0;
        for (unsigned s = 0; s < runLength; ++s) {
            sum += ring[pos] * ring[pos];
            if (++pos >= fftSize) pos = 0;
        }
        energy[factor * frameIndex + j] = 4.0 * sum;
    }

    std::swap(spectrum, prevSpectrum);
    std::swap(spectrumCapacity, prevSpectrumCapacity);
}

void AudioProcessor::processingFinish(const std::atomic<bool>* running) {
    if (!stillRunning(running)) return;
    // The last four frames take no part: their flux is not settled yet.
    const int m = static_cast<int>(fluxLength) - 4;
    if (!flux || m < 1) return;

    std::vector<double> normalised(flux, flux + m);
    Peaks::normalise(normalised.data(), m);
    const int width = static_cast<int>(0.06 / hopTime + 0.5);
    std::vector<int> peaks;
    Peaks::findPeaksInternal(normalised.data(), m, width, 0.35, 0.84, true, &peaks, running);
    if (peaks.empty()) return;

    const double minFlux = Peaks::min(flux, m);
    for (int p : peaks) {
        if (!stillRunning(running)) break;
        Event* e = new (std::nothrow) Event(p * hopTime, 0.0);
        if (!e) {
            std::printf("Memory allocation error!\n");
            continue;
        }
        e->salience = flux[p] - minFlux;
        onsets.push_back(e);
    }
}

void AudioProcessor::getEnergy(double** e, unsigned* frames, unsigned* factor) {
    if (e) *e = energy;
    if (frames) *frames = totalFrames;
    if (factor) *factor = static_cast<unsigned>(energyOversampleFactor);
}

int AudioProcessor::generateDouble2DArray(int rows, int cols, double*** out) {
    if (!out) return 0;
    if (*out) return 1;
    if (rows <= 0 || cols <= 0) return 0;
    double** matrix = new (std::nothrow) double*[rows]();
    if (!matrix) return 0;
    for (int r = 0; r < rows; ++r) {
        matrix[r] = new (std::nothrow) double[cols]();
        if (!matrix[r]) {
            destroyDouble2DArray(r, cols, matrix);
            return 0;
        }
    }
    *out = matrix;
    return 1;
}

int AudioProcessor::destroyDouble2DArray(int rows, int /*cols*/, double** matrix) {
    if (!matrix) return 1;
    for (int r = 0; r < rows; ++r) delete[] matrix[r];
    delete[] matrix;
    return 1;
}

void AudioProcessor::getFFTFrame(double***, unsigned*, unsigned*) {}
