// What the deck plays, measured: the two-channel level meter and the dominant musical note.
//
// Thread safety
// - Java threads. Both measurements hold "CPlayer::load", so they never overlap a load or an
//   unload of the same deck; the level holds are touched only under it.
// - The spectra come from the audio layer's copy of the channel's recent output; asking for them
//   never waits for a mix.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "Monitor.h"
#include "Player.h"
#include "TKCore.h"

namespace {

// ---- Level meter ---------------------------------------------------------------------------------

constexpr unsigned int kLevelBins = 64;
// The mean takes bins 0..62: the top bin is left out, each bin weighted 1/64 all the same.
constexpr unsigned int kLevelBinsSummed = 63;

float binMean(const float* bins) {
    float sum = 0.0f;
    for (unsigned int i = 0; i < kLevelBinsSummed; ++i) sum += bins[i] * (1.0f / 64.0f);
    return sum;
}

// 64^0.45 x mean^0.55: a compressed curve that lifts quiet passages on the meter. Single precision
// with the powers taken in double; a zero mean is level 0.
float meterLevel(float mean) {
    if (mean == 0.0f) return 0.0f;
    const float level = static_cast<float>(std::pow(64.0, 0.45)) / static_cast<float>(std::pow(mean, 0.45)) * mean;
    return std::isnan(level) ? 0.0f : level;
}

// A rise shows at once; a fall eases off by 30 % of the distance per call.
unsigned int followHold(unsigned int hold, float level) {
    const double scaled = std::min(static_cast<double>(std::fabs(level)) * 10000.0, 4.0e9);
    const unsigned int now = static_cast<unsigned int>(scaled);
    if (now > hold) return now;
    return static_cast<unsigned int>(0.7 * hold + 0.3 * now);
}

unsigned int weighted(unsigned int hold, double weight) {
    return static_cast<unsigned int>(hold * std::clamp(weight, 0.0, 1.0));
}

// ---- Tone detection -------------------------------------------------------------------------------

constexpr int kNoteCount = 120;       // C0..B9
constexpr int kA4 = 57;               // 440 Hz
constexpr int kToneBins = 8192;
constexpr float kToneFloor = 0.01f;   // a bin must exceed this to count as a tone
constexpr double kNominalBinWidth = 48000.0 / (2.0 * kToneBins);  // 2.9296875 Hz

// The equal-tempered scale with A4 = 440 Hz, each frequency rounded to two decimals, and its
// names: letter, '#' or a blank, octave digit.
struct NoteTable {
    float frequency[kNoteCount];
    char name[kNoteCount][4];

    NoteTable() {
        static const char* const kLetters[12] = {"C ", "C#", "D ", "D#", "E ", "F ",
                                                 "F#", "G ", "G#", "A ", "A#", "B "};
        for (int i = 0; i < kNoteCount; ++i) {
            const double hz = 440.0 * std::pow(2.0, (i - kA4) / 12.0);
            frequency[i] = static_cast<float>(std::round(hz * 100.0) / 100.0);
            name[i][0] = kLetters[i % 12][0];
            name[i][1] = kLetters[i % 12][1];
            name[i][2] = static_cast<char>('0' + i / 12);
            name[i][3] = '\0';
        }
    }
};

const NoteTable& notes() {
    static const NoteTable table;  // built once, thread-safe
    return table;
}

// The first i whose note lies at or below f with the next one above it; the nearer of the two,
// the upper one on a tie. C0 when f lies below C0 or at or above B9.
int nearestNote(double f) {
    const NoteTable& t = notes();
    for (int i = 0; i + 1 < kNoteCount; ++i) {
        if (t.frequency[i] <= f && t.frequency[i + 1] > f)
            return (f - t.frequency[i] < t.frequency[i + 1] - f) ? i : i + 1;
    }
    return 0;
}

// Width of one of the 8192 bins: the main slot's mix rate over 16384. The channel's spectrum is
// taken at that rate, so a fixed 48 kHz width would misname every note on a 44.1 kHz card (a
// 440 Hz tone would read as A#4). Without a system the nominal width stands.
double toneBinWidth(int slot) {
    FMODSystem* system = (slot >= 0 && slot < kTKSlotCount) ? CTKCore::g_Systems[slot] : nullptr;
    if (!system) return kNominalBinWidth;
    int rate = 0;
    ERRCHECK("CPlayer::GetTone", __FILE__, __LINE__,
             system->getSoftwareFormat(&rate, nullptr, nullptr, nullptr, nullptr, nullptr));
    return rate > 0 ? rate / (2.0 * kToneBins) : kNominalBinWidth;
}

}  // namespace

int CPlayer::GetLevels(unsigned int* out) {
    DeckConfig* c = m_pConfig;
    if (!c || (!c->m_pMainOutput && !c->m_bRecording) || !out) return 0;
    CRITSECT_SCOPE(m_csLoad);
    if (!c->m_bPlaying) {
        out[0] = out[1] = 0;
        m_uiLevelHoldLeft = m_uiLevelHoldRight = 0;
        return 1;
    }
    // Stay at zero when the output has nothing to measure (no sound or no channel yet).
    float left[kLevelBins] = {};
    float right[kLevelBins] = {};
    int channels = 0;
    if (c->m_pMainOutput) c->m_pMainOutput->getLevels(left, right, kLevelBins, &channels);
    const float levelLeft = meterLevel(binMean(left));
    const float levelRight = channels == 1 ? levelLeft : meterLevel(binMean(right));

    const unsigned int holdLeft = followHold(m_uiLevelHoldLeft, levelLeft);
    const unsigned int holdRight = followHold(m_uiLevelHoldRight, levelRight);
    const double pan = c->m_dPan;
    m_uiLevelHoldLeft = weighted(holdLeft, 1.0 - pan);
    m_uiLevelHoldRight = weighted(holdRight, 1.0 + pan);
    out[0] = m_uiLevelHoldLeft;
    out[1] = m_uiLevelHoldRight;
    return 1;
}

int CPlayer::GetTone(char* text) {
    DeckConfig* c = m_pConfig;
    if (!c || !c->m_pMainOutput || !text) return 0;
    // Owned by the call, so decks measured at once never share one (32 KB: kept off the stack of
    // the calling Java thread).
    std::unique_ptr<float[]> spectrum(new (std::nothrow) float[kToneBins]());
    if (!spectrum) return 0;
    CRITSECT_SCOPE(m_csLoad);
    const int r = c->m_pMainOutput->getSpectrum(spectrum.get(), kToneBins, 0, FMOD_DSP_FFT_WINDOW_TRIANGLE);
    ERRCHECK("CPlayer::GetTone", __FILE__, __LINE__, static_cast<FMOD_RESULT>(r));

    // The strongest bin above the floor; the lowest one on equal values; bin 0 for silence.
    int bin = 0;
    float best = kToneFloor;
    for (int i = 0; i < kToneBins; ++i) {
        if (spectrum[i] > best) {
            best = spectrum[i];
            bin = i;
        }
    }
    const double width = toneBinWidth(c->m_iMainOutput);
    const double f = bin * width;
    const int note = nearestNote(f);
    const NoteTable& t = notes();
    std::printf("Detected rate : %7.1f -> %7.1f hz.  Detected musical note. %-3s (%7.1f hz)\r", f,
                (bin + 0.99) * width, t.name[note], static_cast<double>(t.frequency[note]));
    std::fflush(stdout);
    std::memcpy(text, t.name[note], sizeof t.name[note]);
    return 1;
}
