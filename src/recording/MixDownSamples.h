// Sample arithmetic of the recorder: folding a mixer block to a stereo pair by role code (capture
// side) and turning gained or mixed stereo floats into 16-bit PCM (writer side).
//
// Pure functions with constant work per sample, no allocation, no locks: the fold runs on the
// mixer thread inside the capture callback, the conversions on the writer thread.
#pragma once

#include <cstdint>

// The half-open range [first, end) of input channels that `role` selects out of `inChannels`.
// Pairs are always an even channel (left) followed by the odd one (right):
//   0, 1, 1000 -> 0/1   2 -> 4/5   3, 1001 -> 2/3   4 -> 6/7   5 -> all   10..17 -> 2(n-10)/+1
// Any other code selects nothing; a pair beyond the input is cut to what the input has.
struct MixDownRoleRange {
    int first;
    int end;
};
MixDownRoleRange mixDownRoleRange(int role, int inChannels);

// Folds `frames` interleaved frames of `inChannels` channels into `frames` (left, right) pairs in
// `outLR`. Selected even channels add to left, odd ones to right; with more than one selected
// channel both sides are divided by the count (so a stereo pair is recorded at half amplitude and
// role 5 divides by the channel count). A mono input gives right = left. No selected channel, or
// no input channel at all, gives silence.
void mixDownFoldFrames(const float* in, unsigned frames, int inChannels, int role, float* outLR);

// The integer part of `scaled` as a 16-bit sample. Values beyond the 16-bit range saturate to
// -32768 or 32767 instead of keeping their low 16 bits (which would turn a loud peak into a
// full-scale click of the other sign); a NaN becomes 0.
int16_t mixDownToPcm16(double scaled);

// One source: v = sample x gain (single precision); the sample is the integer part of
// v x 32768.0 (double precision), saturated. levels[0] and levels[1] become the mean |v| of the
// left and right side over the block. `lr` and `pcm` hold frames x 2 values.
void mixDownConvertOne(const float* lr, unsigned frames, float gain, int16_t* pcm, float levels[2]);

// Two sources: v = (a x gain1 + b x gain2) x 0.5 (single precision); the sample is the integer
// part of v x 65536.0 x 0.5 (double precision), saturated. Each side's v is added to the level
// already held in levels[side], and after the block the level is divided by `frames`: a signed,
// decaying mean, kept as the level meter has always shown it.
void mixDownConvertTwo(const float* a, const float* b, unsigned frames, float gain1, float gain2,
                       int16_t* pcm, float levels[2]);
