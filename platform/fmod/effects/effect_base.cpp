#include "effect_base.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pw::fx {

EffectBase::EffectBase(const ParamInfo* table, int count, int sampleRate)
    : sampleRate_(sampleRate), table_(table), count_(std::min(count, kMaxParams)) {
    for (int i = 0; i < kMaxParams; ++i)
        values_[i].store(i < count_ ? table_[i].defaultValue : 0.0f, std::memory_order_relaxed);
}

ParamInfo EffectBase::parameterInfo(int index) const {
    if (index < 0 || index >= count_) return ParamInfo{0.0f, 0.0f, 0.0f, "", ""};
    return table_[index];
}

void EffectBase::setParameter(int index, float value) {
    if (index < 0 || index >= count_ || std::isnan(value)) return;
    const ParamInfo& info = table_[index];
    values_[index].store(std::clamp(value, info.min, info.max), std::memory_order_relaxed);
    changed_.store(true, std::memory_order_release);
}

float EffectBase::getParameter(int index) const {
    if (index < 0 || index >= count_) return 0.0f;
    return values_[index].load(std::memory_order_relaxed);
}

void copyFrames(const float* in, float* out, unsigned frames, int channels) {
    if (in != out) std::memmove(out, in, sizeof(float) * frames * static_cast<size_t>(channels));
}

}  // namespace pw::fx
