// Soundcard enumeration: every output driver becomes one or more output slots (a stereo card one,
// a multichannel card one per speaker pair plus one for all speakers), each an FMODSystem wrapper
// over the card's own system with a role code and a display name. The same pass lists the
// recording devices. Runs once per start-up, inside the load lock and "Coreglobal".
//
// Memory running out anywhere here answers -13 and the caller undoes the whole start-up: a card,
// a slot name or a recorder silently missing would be worse than a start-up Java can try again.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "PlayerList.h"
#include "TKCore.h"

namespace {

const char kPluginPath[] = "./plugins";
const char kAACPlugin[] = "Trellisco.dylib";
constexpr unsigned int kAACPluginMinVersion = 0x10003;
constexpr int kDriverNameSize = 256;
constexpr int kSlotNameSize = 255;

// One slot of a card's layout: its role code and how its name is written.
struct SlotSpec {
    int role;
    const char* label;  // "" for the plain stereo slot; null for the raw channel-pair names
    int firstChannel;   // raw slots: the pair's first output channel (1-based)
};

// The slots a card yields, in order, for the speaker mode it was initialised in.
int layoutFor(FMOD_SPEAKERMODE mode, bool controller, SlotSpec* out) {
    int n = 0;
    switch (mode) {
        case FMOD_SPEAKERMODE_RAW:
            out[n++] = {10, nullptr, 1};
            out[n++] = {11, nullptr, 3};
            break;
        case FMOD_SPEAKERMODE_QUAD:
        case FMOD_SPEAKERMODE_SURROUND:
        case FMOD_SPEAKERMODE_5POINT1:
        case FMOD_SPEAKERMODE_7POINT1:
            if (controller) {
                out[n++] = {1000, "front", 0};
                out[n++] = {1001, "Monitor", 0};
            } else {
                out[n++] = {1, "front", 0};
                if (mode == FMOD_SPEAKERMODE_5POINT1 || mode == FMOD_SPEAKERMODE_7POINT1) out[n++] = {3, "center", 0};
                out[n++] = {2, "rear", 0};
            }
            if (mode == FMOD_SPEAKERMODE_7POINT1) out[n++] = {4, "side", 0};
            out[n++] = {5, "all", 0};
            break;
        default:
            out[n++] = {0, "", 0};
            break;
    }
    return n;
}

// Writes a slot or recorder name into its 255-byte entry, cut at 254 characters. A driver name
// can fill its whole 256-byte buffer, so cutting is expected here, not an error.
void writeName(char* entry, const char* format, ...) __attribute__((format(printf, 2, 3)));
void writeName(char* entry, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(entry, kSlotNameSize, format, args);
    va_end(args);
}

bool isMultichannelMode(FMOD_SPEAKERMODE mode) {
    return mode == FMOD_SPEAKERMODE_RAW || mode == FMOD_SPEAKERMODE_QUAD || mode == FMOD_SPEAKERMODE_SURROUND ||
           mode == FMOD_SPEAKERMODE_5POINT1 || mode == FMOD_SPEAKERMODE_7POINT1;
}

// Notes an allocation failure of the layer in `noMemory`; returns the result as it is.
FMOD_RESULT noted(FMOD_RESULT result, bool& noMemory) {
    if (result == FMOD_ERR_MEMORY) noMemory = true;
    return result;
}

// Loads the AAC codec plug-in into a system and unloads it again when it is too old. Returns true
// when a plug-in of a usable version stays loaded. Results are deliberately not reported.
bool loadAACPlugin(FMOD::System* system, bool& noMemory) {
    unsigned int handle = 0;
    if (noted(system->loadPlugin(kAACPlugin, &handle, 0), noMemory) != FMOD_OK) return false;
    unsigned int version = 0;
    system->getPluginInfo(handle, nullptr, nullptr, 0, &version);
    if (version < kAACPluginMinVersion) {
        system->unloadPlugin(handle);
        return false;
    }
    return true;
}

}  // namespace

unsigned int CTKCore::DSPBufferLengthForMS(unsigned int rate, unsigned int ms) {
    const float samples = (static_cast<float>(rate) / 1000.0f) * static_cast<float>(ms) + 0.5f;
    // Truncated toward zero; anything beyond the largest length is simply the largest length.
    if (samples > 262144.0f) return 262144;
    const unsigned int n = static_cast<unsigned int>(samples);
    if (n <= 1) return 128;
    unsigned int length = 1;
    while (length < n) length <<= 1;
    if (length < 128) length = 128;
    if (length > 262144) length = 262144;
    return length;
}

int CTKCore::EnumerateSoundcards(FMOD_OUTPUTTYPE type, char* typeName, unsigned int resampler, unsigned int rate) {
    int result = TK_OK;
    if (type == FMOD_OUTPUTTYPE_ASIO) return TK_OK;
    bool noMemory = false;
    auto memoryOut = [&noMemory](FMOD_RESULT r) { return noted(r, noMemory); };

    // The probe system only counts the drivers (and tells whether the AAC plug-in is usable).
    int drivers = 0;
    FMOD::System* probe = nullptr;
    FMOD_RESULT r = memoryOut(FMOD_System_Create(&probe));
    ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, r);
    if (probe) {
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, memoryOut(probe->setPluginPath(kPluginPath)));
        g_bHaveAACPlugin = loadAACPlugin(probe, noMemory);
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, probe->setOutput(type));
        debugMsg("System %d set to outputtype:%d!\n", g_soundcardcount, static_cast<int>(type));
        memoryOut(probe->getNumDrivers(&drivers));
        probe->release();
    }
    if (noMemory) return TK_ERR_NO_MEMORY;
    debugMsg("count of soundcards: %d\n", drivers);

    for (int k = 0; k < drivers; ++k) {
        FMOD::System* card = nullptr;
        r = memoryOut(FMOD_System_Create(&card));
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, r);
        if (noMemory) return TK_ERR_NO_MEMORY;
        if (!card) continue;
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, card->setOutput(type));
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, memoryOut(card->setPluginPath(kPluginPath)));
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, card->setSoftwareChannels(65));
        loadAACPlugin(card, noMemory);
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, memoryOut(card->setDriver(k)));

        FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_PCM16;
        int outputChannels = 0;
        int maxInputChannels = 0;
        FMOD_DSP_RESAMPLER method = FMOD_DSP_RESAMPLER_LINEAR;
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__,
                 card->getSoftwareFormat(nullptr, &format, &outputChannels, &maxInputChannels, &method, nullptr));
        method = resampler <= 2 ? static_cast<FMOD_DSP_RESAMPLER>(resampler) : FMOD_DSP_RESAMPLER_SPLINE;

        char name[kDriverNameSize] = {0};
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, memoryOut(card->getDriverInfo(k, name, kDriverNameSize, nullptr)));
        debugMsg("examining sound card: %s\n", name);
        if (strstr(name, "SigmaTel")) format = FMOD_SOUND_FORMAT_PCMFLOAT;

        FMOD_CAPS caps = 0;
        int minFrequency = 0;
        int maxFrequency = 0;
        FMOD_SPEAKERMODE unusedMode = FMOD_SPEAKERMODE_STEREO;
        memoryOut(card->getDriverCaps(k, &caps, &minFrequency, &maxFrequency, &unusedMode));
        int cardRate = static_cast<int>(rate);
        if (minFrequency > 0 && maxFrequency > 0) {
            if (cardRate < minFrequency) cardRate = minFrequency;
            if (cardRate > maxFrequency) cardRate = maxFrequency;
        }
        if (caps & FMOD_CAPS_HARDWARE_EMULATED) result = TK_ERR_EMULATED_DRIVER;
        debugMsg("numoutputchannel:%d\n", outputChannels);

        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__,
                 card->setStreamBufferSize(g_stream_buffer_size, FMOD_TIMEUNIT_PCMBYTES));
        if (g_usebuffersizesMS) g_dsp_buffer_size = DSPBufferLengthForMS(static_cast<unsigned int>(cardRate), g_dsp_buffer_sizeMS);
        ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, card->setDSPBufferSize(g_dsp_buffer_size, 4));

        FMOD_SPEAKERMODE mode = FMOD_SPEAKERMODE_STEREO;
        FMOD_CAPS panelCaps = 0;
        memoryOut(card->getDriverCaps(k, &panelCaps, nullptr, nullptr, &mode));
        memoryOut(card->getDriverInfo(k, name, kDriverNameSize, nullptr));
        if (noMemory) {
            card->release();
            return TK_ERR_NO_MEMORY;
        }

        bool controller = false;
        auto setFormatPlus = [&](int extra) {
            ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__,
                     card->setSoftwareFormat(cardRate, format, outputChannels + extra, maxInputChannels + extra, method));
        };
        const bool multichannelPanelStereo =
            (panelCaps & FMOD_CAPS_OUTPUT_MULTICHANNEL) && mode == FMOD_SPEAKERMODE_STEREO;
        if (strcmp(name, "Hercules DJ Console") == 0) {
            setFormatPlus(6);
            mode = FMOD_SPEAKERMODE_5POINT1;
        } else if (strcmp(name, "Hercules DJ Console Mk2") == 0) {
            setFormatPlus(4);
            mode = FMOD_SPEAKERMODE_QUAD;
        } else if (strcmp(name, "BCD3000") == 0) {
            setFormatPlus(4);
            mode = FMOD_SPEAKERMODE_5POINT1;
            controller = true;
        } else if (multichannelPanelStereo && strcmp(name, "M-Audio Xponent") == 0) {
            setFormatPlus(4);
            mode = FMOD_SPEAKERMODE_RAW;
        } else if (multichannelPanelStereo) {
            setFormatPlus(4);
            mode = FMOD_SPEAKERMODE_QUAD;
        }

        FMOD_ADVANCEDSETTINGS advanced;
        memset(&advanced, 0, sizeof advanced);
        advanced.cbsize = sizeof advanced;
        card->getAdvancedSettings(&advanced);
        advanced.maxMPEGcodecs = 65;
        advanced.maxADPCMcodecs = 65;
        advanced.maxCELTcodecs = 65;
        advanced.maxPCMcodecs = 65;
        card->setAdvancedSettings(&advanced);

        bool initialised = false;
        for (;;) {
            debugMsg("\nSpeakerMode: %d %d %d\n", g_soundcardcount, static_cast<int>(mode), static_cast<int>(panelCaps));
            if (isMultichannelMode(mode)) {
                ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, card->setSpeakerMode(mode));
                r = memoryOut(card->init(65, FMOD_INIT_NORMAL, nullptr));
                ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, r);
                if (r == FMOD_OK) {
                    initialised = true;
                    break;
                }
                debugMsg("INFO: Soundcard %d not usable! Please check your driver config\n", k);
                if (r != FMOD_ERR_OUTPUT_CREATEBUFFER) break;
                // The stereo retry: the card refused the multichannel layout.
                mode = FMOD_SPEAKERMODE_STEREO;
                controller = false;
                card->setSpeakerMode(FMOD_SPEAKERMODE_STEREO);
                continue;
            }
            debugMsg("Trying to initialize Stereo.\n");
            r = memoryOut(card->init(65, FMOD_INIT_NORMAL, nullptr));
            debugMsg("init done: %d\n", static_cast<int>(r));
            if (r == FMOD_OK) {
                initialised = true;
            } else {
                debugMsg("INFO: Soundcard %d not usable! Please check your driver config\n", k);
            }
            break;
        }
        if (!initialised) {
            card->release();
            if (noMemory) return TK_ERR_NO_MEMORY;
            continue;
        }

        SlotSpec layout[8];
        const int slots = layoutFor(mode, controller, layout);
        if (g_soundcardcount + slots > kTKSlotCount) {
            // The slot table is full: the card yields no slot rather than a partial one.
            debugMsg("INFO: Soundcard %d skipped: all %d output slots are in use\n", k, kTKSlotCount);
            card->close();
            card->release();
            continue;
        }
        for (int s = 0; s < slots; ++s) {
            const int slot = g_soundcardcount;
            FMODSystem* wrapped = new (std::nothrow) FMODSystem(card);
            if (!wrapped) {
                // The slots the card has are released with the rest of the start-up.
                debugMsg("INFO: Soundcard %d: no memory for output slot %d\n", k, slot);
                if (s == 0) {
                    card->close();
                    card->release();
                }
                return TK_ERR_NO_MEMORY;
            }
            g_Systems[slot] = wrapped;
            char slotDriver[kDriverNameSize] = {0};
            memoryOut(g_Systems[slot]->getDriverInfo(k, slotDriver, kDriverNameSize, nullptr));
            g_outputstate[slot] = layout[s].role;
            char* slotName = g_soundcards[slot];
            if (layout[s].label == nullptr) {
                writeName(slotName, "%d[%s] %d/%d-%s", slot, slotDriver, layout[s].firstChannel,
                         layout[s].firstChannel + 1, typeName);
            } else {
                if (layout[s].role == 0) debugMsg("sound card %s\n", slotDriver);
                writeName(slotName, "%d[%s]%s-%s", slot, slotDriver, layout[s].label, typeName);
            }
            debugMsg("INFO: System initialized: %s\n", slotName);
            ++g_soundcardcount;
        }
        if (noMemory) return TK_ERR_NO_MEMORY;
    }

    // Recording devices are listed through the first output slot.
    FMODSystem* recorderSystem = g_Systems[g_asioSoundcardIndex + 1];
    if (!recorderSystem) return result;
    int recorders = 0;
    ERRCHECK("EnumerateSoundcards", __FILE__, __LINE__, memoryOut(recorderSystem->getRecordNumDrivers(&recorders)));
    for (int rec = 0; rec < recorders; ++rec) {
        if (g_recordercount >= kTKSlotCount) {
            debugMsg("INFO: Recorder %d skipped: all %d recorder entries are in use\n", rec, kTKSlotCount);
            break;
        }
        char name[kDriverNameSize] = {0};
        if (memoryOut(recorderSystem->getRecordDriverInfo(rec, name, kDriverNameSize, nullptr)) == FMOD_OK) {
            char* entry = g_recorderdevices[g_recordercount];
            writeName(entry, "%d[%s] %d/%d-%s", g_recordercount, name, 2 * rec + 1, 2 * rec + 2, typeName);
            debugMsg("INFO: System initialized: %s\n", entry);
        }
        ++g_recordercount;
    }
    return noMemory ? TK_ERR_NO_MEMORY : result;
}

char** CTKCore::GetSoundcards(int* count) {
    CRITSECT_SCOPE(m_csCoreGlobal);
    if (!CPlayerList::initialized) {
        debugMsg("Init the library first!");
        return nullptr;
    }
    if (count) *count = g_soundcardcount;
    return g_soundcards;
}

char** CTKCore::GetRecorderDevices(int* count) {
    CRITSECT_SCOPE(m_csCoreGlobal);
    if (!CPlayerList::initialized) {
        debugMsg("Init the library first!");
        return nullptr;
    }
    if (count) *count = g_recordercount;
    return g_recorderdevices;
}

int CTKCore::setPreferredASIODriver(unsigned int driver) {
    g_uiPreferredASIODriver = driver;
    return TK_OK;
}

char** CTKCore::getAvailableASIODrivers(int* count) {
    if (count) *count = g_asiodevicecount;
    return g_asiodevices;
}

int CTKCore::ASIOControlPanel() { return -1; }
