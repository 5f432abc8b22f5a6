// The object test hooks: live counts, the version override, a channel's chain and matrix; and the
// no-thread render entry of mixer_drive.hpp.
#include "cd.hpp"
#include "mixer_drive.hpp"
#include "system_impl.hpp"

namespace pw::mix {
std::atomic<unsigned>& versionOverride();
FMOD_RESULT renderBlocksImpl(SystemImpl* s, unsigned blocks, std::vector<float>* collected);

FMOD_RESULT renderBlocks(FMOD::System* system, unsigned blocks, std::vector<float>* out) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(system);
    std::lock_guard<std::mutex> lock(s->configLock);
    if (!s->initialised.load(std::memory_order_acquire)) return FMOD_ERR_UNINITIALIZED;
    if (s->thread.joinable()) return FMOD_ERR_UNSUPPORTED;
    return renderBlocksImpl(s, blocks, out);
}
}  // namespace pw::mix

namespace pw::testhooks {

int liveCount(Kind kind) { return liveCounter(kind).load(std::memory_order_relaxed); }

unsigned cdHardwareProbes() { return cd::hardwareProbes(); }

void overrideVersion(unsigned int version) { mix::versionOverride().store(version, std::memory_order_relaxed); }

std::vector<std::string> channelChain(FMOD::Channel* channel) {
    std::vector<std::string> names;
    if (!channel) return names;
    auto* c = mix::resolveChannel(channel);
    if (!c) return names;
    std::lock_guard<std::mutex> lock(c->system->graphLock);
    if (c->head) names.emplace_back(c->head->description.name);
    for (const mix::DSPImpl* unit : c->chain.units) names.emplace_back(unit->description.name);
    return names;
}

std::vector<std::vector<float>> channelSpeakerMatrix(FMOD::Channel* channel) {
    std::vector<std::vector<float>> matrix;
    if (!channel) return matrix;
    auto* c = mix::resolveChannel(channel);
    if (!c) return matrix;
    const int inputs = std::max(1, c->channels);
    const bool wideRaw = c->system->layout.channels > 8;
    const int speakers = wideRaw ? c->system->layout.channels : 8;
    for (int s = 0; s < speakers; ++s) {
        std::vector<float> row(inputs);
        for (int i = 0; i < inputs; ++i) row[i] = c->matrix[s][i].load(std::memory_order_relaxed);
        matrix.push_back(std::move(row));
    }
    return matrix;
}

}  // namespace pw::testhooks
