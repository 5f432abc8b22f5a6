#include "signal_measure.hpp"

#include <cmath>

namespace pw::test {

double rms(const std::vector<float>& samples) {
    double sum = 0.0;
    for (float s : samples) sum += double(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

double toneHz(const std::vector<float>& samples, double rate) {
    long first = -1, last = -1, crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
            if (first < 0) first = static_cast<long>(i);
            last = static_cast<long>(i);
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}

}  // namespace pw::test
