// Measurements of what a card received: level and the frequency of a steady tone.
#pragma once

#include <vector>

namespace pw::test {

// Root mean square of the samples; 0 for none.
double rms(const std::vector<float>& samples);
// The frequency of a steady tone from its rising zero crossings (0 for fewer than two).
double toneHz(const std::vector<float>& samples, double rate);

}  // namespace pw::test
