// Choosing the sampler's output slot: every loaded slot moves there, reloaded as a compressed
// sample that plays once; volumes and pitch factors carry over.
//
// Thread safety: on a Java thread, never overlapping another sampler call.
#include <climits>
#include <cstring>

#include "DebugLog.h"
#include "SamplerSlot.h"
#include "TKCore.h"

namespace {

// Until the first SetupSampler of the library's life, slots play at volume 0 and frequency 0.
bool isNewishStartUp = true;

constexpr float kVolumeScale = 10000.0f;

// The stored volume as the slider value it came from, truncated; held inside int's range (a
// value of INT_MAX / 10000 comes back a hair above INT_MAX in single precision).
int volumeSlider(float volume) {
    const float slider = volume * kVolumeScale;  // in single precision, as it was stored
    if (slider >= 2147483648.0f) return INT_MAX;
    if (slider < -2147483648.0f) return INT_MIN;
    return static_cast<int>(slider);
}

}  // namespace

int CTKCore::SetupSampler(int outputSlot) {
    if (outputSlot < 0 || outputSlot >= kTKSlotCount) return kSamplerBadOutputSlot;
    debugMsg("\n==========\nSetupSampler()\n==========\n");
    g_iSamplerSoundcard = outputSlot;
    if (isNewishStartUp) {
        for (int slot = 0; slot < kTKSlotCount; ++slot) {
            g_fSamplerVolumes[slot] = 1.0f;
            g_fSamplerFrequencyPitches[slot] = 1.0f;
        }
    } else {
        for (int slot = 0; slot < kTKSlotCount; ++slot) {
            // The volume goes through the slider's whole ten-thousandths again.
            SetSampleVolume(slot, volumeSlider(g_fSamplerVolumes[slot]));
            SetSampleFrequencyPitch(slot, g_fSamplerFrequencyPitches[slot]);
        }
    }
    for (int slot = 0; slot < kTKSlotCount; ++slot) {
        if (!g_samplerSounds[slot] && !g_samplerChannels[slot]) continue;
        char path[kTKSamplerPathBytes];
        std::memcpy(path, g_sSamplerFileNames[slot], sizeof path);
        UnloadSample(slot);
        LoadSample(slot, path, g_bSamplerFileNameUnicode[slot], false);
    }
    isNewishStartUp = false;
    return TK_OK;
}
