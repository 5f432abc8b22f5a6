#include "MixDownSamples.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kSelectAll = -1;
constexpr int kSelectNone = -2;

// First channel of the pair a role records, or one of the two markers above.
int rolePairStart(int role) {
    switch (role) {
        case 0:
        case 1:
        case 1000:
            return 0;
        case 3:
        case 1001:
            return 2;
        case 2:
            return 4;
        case 4:
            return 6;
        case 5:
            return kSelectAll;
        default:
            break;
    }
    if (role >= 10 && role <= 17) return 2 * (role - 10);
    return kSelectNone;
}

}  // namespace

MixDownRoleRange mixDownRoleRange(int role, int inChannels) {
    if (inChannels <= 0) return {0, 0};
    const int start = rolePairStart(role);
    if (start == kSelectAll) return {0, inChannels};
    if (start == kSelectNone || start >= inChannels) return {0, 0};
    return {start, std::min(start + 2, inChannels)};
}

void mixDownFoldFrames(const float* in, unsigned frames, int inChannels, int role, float* outLR) {
    const MixDownRoleRange range = mixDownRoleRange(role, inChannels);
    const int count = range.end - range.first;
    if (in == nullptr || count <= 0) {
        std::fill(outLR, outLR + 2 * static_cast<size_t>(frames), 0.0f);
        return;
    }
    const bool mono = inChannels == 1;
    const float* frame = in;
    for (unsigned f = 0; f < frames; ++f, frame += inChannels) {
        float left = 0.0f;
        float right = 0.0f;
        for (int c = range.first; c < range.end; ++c) {
            if ((c & 1) == 0) {
                left += frame[c];
            } else {
                right += frame[c];
            }
        }
        if (count > 1) {
            left /= static_cast<float>(count);
            right /= static_cast<float>(count);
        }
        if (mono) right = left;
        outLR[2 * f] = left;
        outLR[2 * f + 1] = right;
    }
}

int16_t mixDownToPcm16(double scaled) {
    if (std::isnan(scaled)) return 0;
    if (scaled >= 32767.0) return 32767;
    if (scaled <= -32768.0) return -32768;
    return static_cast<int16_t>(scaled);  // truncation toward zero
}

void mixDownConvertOne(const float* lr, unsigned frames, float gain, int16_t* pcm, float levels[2]) {
    float sums[2] = {0.0f, 0.0f};
    const size_t samples = 2 * static_cast<size_t>(frames);
    for (size_t i = 0; i < samples; ++i) {
        const float v = lr[i] * gain;
        sums[i & 1] += std::fabs(v);
        pcm[i] = mixDownToPcm16(static_cast<double>(v) * 32768.0);
    }
    if (frames == 0) return;
    levels[0] = sums[0] / static_cast<float>(frames);
    levels[1] = sums[1] / static_cast<float>(frames);
}

void mixDownConvertTwo(const float* a, const float* b, unsigned frames, float gain1, float gain2,
                       int16_t* pcm, float levels[2]) {
    const size_t samples = 2 * static_cast<size_t>(frames);
    for (size_t i = 0; i < samples; ++i) {
        const float v = (a[i] * gain1 + b[i] * gain2) * 0.5f;
        levels[i & 1] += v;
        pcm[i] = mixDownToPcm16(static_cast<double>(v) * 65536.0 * 0.5);
    }
    if (frames == 0) return;
    levels[0] /= static_cast<float>(frames);
    levels[1] /= static_cast<float>(frames);
}
