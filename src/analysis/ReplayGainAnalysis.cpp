#include "ReplayGainAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ReplayGainFilters.h"

namespace {

constexpr double kPinkReference = 64.82;  // dB: the loudness of the calibration pink noise
constexpr double kPercentile = 0.95;      // the title level is the one 5 % of the blocks exceed

// y[i] = b0 x[i] + sum over k = 1..order of (b_k x[i-k] - a_k y[i-k]), for both channels in one
// loop: each channel's sum keeps the reference's order term by term (so results are bit for bit
// the reference's), while the two independent chains overlap in the processor. in[-order..-1] and
// out[-order..-1] must hold the history: the caller's buffers keep `order` values in front.
template <int order>
void filterPair(const double* inL, const double* inR, double* outL, double* outR, long n, const double* a,
                const double* b) {
    for (long i = 0; i < n; ++i) {
        double yl = inL[i] * b[0];
        double yr = inR[i] * b[0];
        for (int k = 1; k <= order; ++k) {
            yl += inL[i - k] * b[k] - outL[i - k] * a[k];
            yr += inR[i - k] * b[k] - outR[i - k] * a[k];
        }
        outL[i] = yl;
        outR[i] = yr;
    }
}

}  // namespace

ReplayGainAnalysis::ReplayGainAnalysis()
    : linpre(linprebuf + kOrder),
      rinpre(rinprebuf + kOrder),
      lstep(lstepbuf + kOrder),
      rstep(rstepbuf + kOrder),
      lout(loutbuf + kOrder),
      rout(routbuf + kOrder),
      lsum(0.0),
      rsum(0.0),
      totsamp(0),
      sampleWindow(0),
      freqindex(-1) {
    std::memset(linprebuf, 0, sizeof linprebuf);
    std::memset(rinprebuf, 0, sizeof rinprebuf);
    std::memset(lstepbuf, 0, sizeof lstepbuf);
    std::memset(rstepbuf, 0, sizeof rstepbuf);
    std::memset(loutbuf, 0, sizeof loutbuf);
    std::memset(routbuf, 0, sizeof routbuf);
    std::memset(A, 0, sizeof A);
    std::memset(B, 0, sizeof B);
}

void ReplayGainAnalysis::clearHistories() {
    for (int i = 0; i < kOrder; ++i)
        linprebuf[i] = rinprebuf[i] = lstepbuf[i] = rstepbuf[i] = loutbuf[i] = routbuf[i] = 0.0;
}

int ReplayGainAnalysis::ResetSampleFrequency(long sampleRate) {
    clearHistories();
    int row = -1;
    for (int i = 0; i < kReplayGainRates; ++i)
        if (kReplayGainFilters[i].rate == sampleRate) row = i;
    if (row < 0) {
        freqindex = -1;
        return 0;
    }
    freqindex = row;
    sampleWindow = static_cast<long>(std::ceil(static_cast<double>(sampleRate) * 0.05));
    lsum = rsum = 0.0;
    totsamp = 0;
    std::memset(A, 0, sizeof A);
    return 1;
}

int ReplayGainAnalysis::InitGainAnalysis(long sampleRate) {
    if (ResetSampleFrequency(sampleRate) != 1) return 0;
    std::memset(B, 0, sizeof B);
    return 1;
}

int ReplayGainAnalysis::AnalyzeSamples(const double* left, const double* right, size_t n, int channels) {
    if (n == 0) return 1;
    if (channels == 1) right = left;
    else if (channels != 2) return 0;
    if (freqindex < 0 || !left || !right) return 0;
    const ReplayGainFilterRow& f = kReplayGainFilters[freqindex];

    // The first samples of this call go behind the previous call's last ones, so the filters
    // can reach back across the call boundary.
    const size_t head = std::min<size_t>(n, kOrder);
    std::memcpy(linprebuf + kOrder, left, head * sizeof(double));
    std::memcpy(rinprebuf + kOrder, right, head * sizeof(double));

    size_t pos = 0;
    while (pos < n) {
        long piece = static_cast<long>(std::min<size_t>(n - pos, static_cast<size_t>(sampleWindow - totsamp)));
        const double* inL;
        const double* inR;
        if (pos < static_cast<size_t>(kOrder)) {
            // Read from the history buffer until position 10, where the call's own samples
            // have enough of a past.
            inL = linpre + pos;
            inR = rinpre + pos;
            piece = std::min(piece, static_cast<long>(kOrder - pos));
        } else {
            inL = left + pos;
            inR = right + pos;
        }
        filterPair<10>(inL, inR, lstep + totsamp, rstep + totsamp, piece, f.AYule, f.BYule);
        filterPair<2>(lstep + totsamp, rstep + totsamp, lout + totsamp, rout + totsamp, piece, f.AButter, f.BButter);
        const double* l = lout + totsamp;
        const double* r = rout + totsamp;
        for (long i = 0; i < piece; ++i) {
            lsum += l[i] * l[i];
            rsum += r[i] * r[i];
        }
        pos += static_cast<size_t>(piece);
        totsamp += piece;
        if (totsamp == sampleWindow) finishBlock();
        if (totsamp > sampleWindow) return 0;  // cannot happen: a piece never passes the block end
    }

    // Keep the last 10 samples as the next call's history.
    if (n < static_cast<size_t>(kOrder)) {
        std::memmove(linprebuf, linprebuf + n, kOrder * sizeof(double));
        std::memmove(rinprebuf, rinprebuf + n, kOrder * sizeof(double));
    } else {
        std::memcpy(linprebuf, left + n - kOrder, kOrder * sizeof(double));
        std::memcpy(rinprebuf, right + n - kOrder, kOrder * sizeof(double));
    }
    return 1;
}

void ReplayGainAnalysis::finishBlock() {
    const double meanSquare = (lsum + rsum) / static_cast<double>(totsamp) * 0.5 + 1e-37;
    long bin = static_cast<long>(1000.0 * std::log10(meanSquare));
    bin = std::max(0L, std::min(static_cast<long>(kBins - 1), bin));
    ++A[bin];
    lsum = rsum = 0.0;
    // The block's last 10 filter outputs become the history of the next block.
    std::memmove(lstepbuf, lstepbuf + totsamp, kOrder * sizeof(double));
    std::memmove(rstepbuf, rstepbuf + totsamp, kOrder * sizeof(double));
    std::memmove(loutbuf, loutbuf + totsamp, kOrder * sizeof(double));
    std::memmove(routbuf, routbuf + totsamp, kOrder * sizeof(double));
    totsamp = 0;
}

double ReplayGainAnalysis::gainFromHistogram(const uint32_t* histogram) {
    uint64_t total = 0;
    for (int i = 0; i < kBins; ++i) total += histogram[i];
    if (total == 0) return kNotEnoughSamples;
    int64_t upper = static_cast<int64_t>(std::ceil(static_cast<double>(total) * (1.0 - kPercentile)));
    int i = kBins;
    while (i-- > 0) {
        upper -= histogram[i];
        if (upper <= 0) break;
    }
    if (i < 0) i = 0;
    return kPinkReference - static_cast<double>(i) / 100.0;
}

double ReplayGainAnalysis::GetTitleGain() {
    const double gain = gainFromHistogram(A);
    for (int i = 0; i < kBins; ++i) {
        B[i] += A[i];
        A[i] = 0;
    }
    clearHistories();
    totsamp = 0;
    lsum = rsum = 0.0;
    return gain;
}

double ReplayGainAnalysis::GetAlbumGain() { return gainFromHistogram(B); }
