// CMixDown's control side: construction, the file (open, header, appends, close), start, pause,
// gains, levels and the texts. The capture units live in MixDownCapture.cpp, the writer thread in
// MixDownWriter.cpp.
#include "MixDown.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "MixDownEncoder.h"
#include "MixDownSampleQueue.h"
#include "MixDownWavHeader.h"
#include "StatusCodes.h"

namespace {

constexpr const char* kFormatList = "wav";
constexpr const char* kBitrateList = "32, 64, 128, 160, 192, 320";
// One line without line breaks; the TABs and blanks are part of the text Java parses.
constexpr const char* kDescriptionHead = "<MixdownFormats>\t  <formats>";
constexpr const char* kDescriptionWav =
    "\t\t<MixdownFormat>\t\t  <id default=\"true\">1</id>\t\t  <name>wav</name>\t\t  <bitrates/>"
    "\t\t  <defaultBitrate>-1</defaultBitrate>\t\t</MixdownFormat>";
constexpr const char* kDescriptionTail = "  </formats></MixdownFormats>";

// Every WAV the recorder writes holds 16-bit samples: writeToFileEx appends shorts only.
constexpr int kWavBits = 16;
constexpr int kWavSampleBytes = 2;
// What a WAV header can carry: 16-bit channel count, 32-bit rate.
constexpr int kMaxWavChannels = 0xFFFF;
constexpr float kMaxWavRate = 4.0e9f;
// How long close waits for a capture callback still queueing a block (normally microseconds).
constexpr std::chrono::milliseconds kCaptureDrainWait{500};

float clampGain(float gain) {
    if (gain < 0.0f) return 0.0f;
    if (gain > kMixDownMaxGain) return kMixDownMaxGain;
    return gain;  // a NaN passes both tests unchanged
}

unsigned int truncToUnsigned(double value) {
    if (!(value > 0.0)) return 0;  // also NaN
    if (value >= static_cast<double>(std::numeric_limits<unsigned int>::max())) {
        return std::numeric_limits<unsigned int>::max();
    }
    return static_cast<unsigned int>(value);
}

}  // namespace

CMixDown::CMixDown() {
    std::snprintf(m_szFormats, sizeof m_szFormats, "%s", kFormatList);
    std::snprintf(m_szBitrates, sizeof m_szBitrates, "%s", kBitrateList);
    m_file.encoderLoaded = ucLoadEncoder();
    // No encoder ever loads, so the description lists WAV only.
    std::snprintf(m_szDescription, sizeof m_szDescription, "%s%s%s", kDescriptionHead, kDescriptionWav,
                  kDescriptionTail);
    m_fLevels[0].store(0.0f, std::memory_order_relaxed);
    m_fLevels[1].store(0.0f, std::memory_order_relaxed);
}

CMixDown::~CMixDown() {
    close();
    // The units call back into this object: release them (which waits for a callback in
    // progress) before the queues and contexts they use go away.
    releaseUnits();
    m_queue1.reset();
    m_queue2.reset();
    m_file.memoryBlocks.clear();
}

int CMixDown::openFile(const char* path, unsigned int format, unsigned int /*bitrate*/, bool custom,
                       int channels, int bits, float sampleRate, int /*extra*/, const char* /*text1*/,
                       const char* /*text2*/) {
    // A recording still open is finished properly rather than its handle leaked.
    if (m_bWriterExists || m_file.file != nullptr) close();

    int fileChannels = channels;
    int fileBits = bits;
    float fileRate = sampleRate;
    if (!custom) {
        if (m_pSystem1 == nullptr) return TK_ERR_NO_SYSTEM;
        int rate = 0;
        int mixerBits = 0;
        const FMOD_RESULT result =
            m_pSystem1->getSoftwareFormat(&rate, nullptr, nullptr, nullptr, nullptr, &mixerBits);
        if (result != FMOD_OK) {
            ERRCHECK_HERE(result);
            return TK_ERR_NO_SYSTEM;
        }
        fileChannels = MixDownSampleQueue::kChannels;
        fileBits = mixerBits;
        fileRate = static_cast<float>(rate);
    }

    const int requested = static_cast<int>(format);
    if (requested == kMixDownFormatWav) {
        if (fileChannels < 1 || fileChannels > kMaxWavChannels || !(fileRate >= 1.0f) || !(fileRate < kMaxWavRate)) {
            debugMsg("MixDown: no WAV file for %d channels at %f Hz\n", fileChannels, fileRate);
            return TK_ERR_UNSUPPORTED;
        }
        if (path == nullptr) return kMixDownErrCreateFile;
        FILE* file = std::fopen(path, "wb");
        if (file == nullptr) return kMixDownErrCreateFile;  // format field left as it was
        m_file.memoryBlocks.clear();
        m_file.file = file;
        m_file.dataBytes = 0;
        m_file.writeFailed = false;
        m_file.channels = fileChannels;
        // The header must describe what is appended, and that is always 16-bit samples.
        m_file.bits = kWavBits;
        m_file.sampleRate = fileRate;
        m_file.dataLimit = mixDownMaxDataBytes(fileChannels * kWavSampleBytes);
        const int header = WriteWavHeader(&m_file);
        if (header != 1) {
            std::fclose(file);
            m_file.file = nullptr;
            return header;
        }
        m_file.format = kMixDownFormatWav;
        // Published last: the capture callback queues only into a complete stereo file record.
        m_file.capturing.store(fileChannels == MixDownSampleQueue::kChannels, std::memory_order_release);
        return header;
    }

    m_file.memoryBlocks.clear();
    m_file.dataBytes = 0;
    m_file.channels = fileChannels;
    m_file.bits = fileBits;
    m_file.sampleRate = fileRate;
    m_file.format = requested;  // any other value makes later writes do nothing
    return requested == kMixDownFormatMemory ? 1 : TK_ERR_UNSUPPORTED;
}

int CMixDown::WriteWavHeader(MIXDOWN_FILE* file) {
    if (file == nullptr || file->file == nullptr) return kMixDownErrNoSource;
    uint8_t header[kMixDownWavHeaderBytes];
    mixDownBuildWavHeader(header, file->dataBytes, file->channels, file->sampleRate, file->bits);
    // Three writes: RIFF chunk head, fmt chunk, data chunk head.
    bool ok = ::fseeko(file->file, 0, SEEK_SET) == 0;
    ok = ok && std::fwrite(header, 1, 12, file->file) == 12;
    ok = ok && std::fwrite(header + 12, 1, 24, file->file) == 24;
    ok = ok && std::fwrite(header + 36, 1, 8, file->file) == 8;
    // Appends continue at the end, whichever header (first or final) was just written.
    ok = ::fseeko(file->file, 0, SEEK_END) == 0 && ok;
    if (!ok) {
        debugMsg("MixDown: the WAV header could not be written\n");
        return kMixDownErrCreateFile;
    }
    return 1;
}

int CMixDown::writeToFileEx(const short* frames, unsigned int frameCount) {
    if (frames == nullptr || frameCount == 0 || m_file.channels <= 0) return 1;
    const uint64_t samples = static_cast<uint64_t>(frameCount) * static_cast<uint64_t>(m_file.channels);
    if (m_file.format == kMixDownFormatWav) {
        if (m_file.file == nullptr || m_file.writeFailed) return 1;
        const uint64_t frameBytes = static_cast<uint64_t>(m_file.channels) * kWavSampleBytes;
        // The file stops growing at whole frames before its 32-bit sizes would wrap.
        uint64_t room = m_file.dataLimit > m_file.dataBytes ? m_file.dataLimit - m_file.dataBytes : 0;
        room -= room % frameBytes;
        uint64_t bytes = samples * kWavSampleBytes;
        if (bytes > room) {
            if (room > 0) debugMsg("MixDown: WAV size limit reached, the recording stops growing\n");
            bytes = room;
        }
        if (bytes == 0) return 1;
        const size_t written = std::fwrite(frames, 1, static_cast<size_t>(bytes), m_file.file);
        // What fwrite took may still sit in its buffer: close counts what reached the disk.
        m_file.dataBytes += static_cast<uint32_t>(written);
        if (written != bytes || std::ferror(m_file.file)) {
            // Nothing more is appended: later data after a gap would splice the recording. The
            // file keeps the unbroken part, and close makes its header say so.
            m_file.writeFailed = true;
            debugMsg("MixDown: writing the WAV file failed (%s), the recording stops here\n", std::strerror(errno));
        }
        return 1;
    }
    if (m_file.format == kMixDownFormatMemory) {
        try {
            if (m_file.memoryBlocks.empty()) m_file.memoryBlocks.emplace_back();
            std::vector<float>& block = m_file.memoryBlocks.front();
            block.resize(static_cast<size_t>(samples));
            for (size_t i = 0; i < block.size(); ++i) {
                block[i] = static_cast<float>(frames[i]) * (1.0f / 65536.0f) * 0.5f;
            }
        } catch (const std::bad_alloc&) {
            debugMsg("Memory allocation error!");
        }
        return 1;
    }
    // Format 2 would need a loaded encoder, which never happens; other formats write nothing.
    return 1;
}

int writeToFile(MIXDOWN_FILE* file, const short* frames, unsigned int frameCount) {
    if (file == nullptr || file->owner == nullptr) return kMixDownErrNoSource;
    return file->owner->writeToFileEx(frames, frameCount);
}

int CMixDown::start() {
    if (!m_bWriterExists) {
        // A new recording starts with empty queues; no consumer runs while there is no writer.
        if (m_queue1) m_queue1->clear();
        if (m_queue2) m_queue2->clear();
        // Set before the thread exists, so its first test already sees it.
        m_bRunning.store(true, std::memory_order_release);
        if (pthread_create(&m_writer, nullptr, &CMixDown::writeDownThread, this) != 0) {
            m_bRunning.store(false, std::memory_order_release);
            debugMsg("MixDown: the writer thread could not be started\n");
            return TK_ERR_FAILED;
        }
        m_bWriterExists = true;
    }
    setUnitsBypass(false);
    return 1;
}

int CMixDown::pause() {
    setUnitsBypass(true);
    zeroLevels();
    return 1;
}

int CMixDown::close() {
    // Capture stops first, so that the writer, before it ends, can write everything captured.
    stopCapture();
    setUnitsBypass(true);
    zeroLevels();
    stopWriter();

    int result = 1;
    if (m_file.file != nullptr) {
        // Always finished, data or not: the final sizes are what makes the file readable.
        if (m_file.format == kMixDownFormatWav) result = finishWavFile();
        if (std::fclose(m_file.file) != 0) {
            debugMsg("MixDown: closing the WAV file failed\n");
            result = kMixDownErrCreateFile;
        }
        m_file.file = nullptr;
        m_file.dataBytes = 0;
        m_file.writeFailed = false;
    }
    // Each recording reports its own drops, once.
    const uint64_t dropped =
        (m_queue1 ? m_queue1->takeDroppedBlocks() : 0) + (m_queue2 ? m_queue2->takeDroppedBlocks() : 0);
    if (dropped > 0) {
        debugMsg("MixDown: %llu captured blocks dropped, the writer fell behind\n",
                 static_cast<unsigned long long>(dropped));
    }
    zeroLevels();
    return result;
}

void CMixDown::stopCapture() {
    // Sequentially consistent on both sides (DSPCallback raises the count, then tests the flag):
    // either a callback sees the flag cleared and queues nothing, or this sees it in flight and
    // waits the few microseconds its queueing takes. A callback that has not finished after
    // kCaptureDrainWait is stalled (its thread preempted or stopped): close does not wait
    // on it for ever, it says so and goes on; such a block is at worst missing from the file.
    m_file.capturing.store(false, std::memory_order_seq_cst);
    const auto giveUp = std::chrono::steady_clock::now() + kCaptureDrainWait;
    while (m_file.capturesInFlight.load(std::memory_order_seq_cst) != 0) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            debugMsg("MixDown: a capture callback is still in flight after %lld ms, close goes on without it\n",
                     static_cast<long long>(kCaptureDrainWait.count()));
            return;
        }
        usleep(50);
    }
}

int CMixDown::finishWavFile() {
    FILE* file = m_file.file;
    bool complete = !m_file.writeFailed;
    // Data still in the stream's buffer goes now; on a full disk some of it does not.
    if (std::fflush(file) != 0) complete = false;
    // A stream that failed once refuses every seek until its error is cleared; the file itself
    // is fine, and its header can still be rewritten.
    std::clearerr(file);

    // The data the file really holds: whole frames after the header, within the size cap. A size
    // that cannot be read (an error, or one too large for this build's off_t) says nothing about
    // the data: the count written stands and the file is neither cut nor called whole.
    const uint64_t frameBytes = static_cast<uint64_t>(m_file.channels) * kWavSampleBytes;
    uint64_t held = m_file.dataBytes;
    struct stat st;
    const bool sized = fstat(fileno(file), &st) == 0;
    if (!sized) {
        debugMsg("MixDown: the WAV file's size cannot be read (%s), its data count is kept\n", std::strerror(errno));
        complete = false;
    } else {
        held = st.st_size > static_cast<off_t>(kMixDownWavHeaderBytes)
                   ? static_cast<uint64_t>(st.st_size) - kMixDownWavHeaderBytes
                   : 0;
    }
    held -= held % frameBytes;
    if (held > m_file.dataLimit) held = m_file.dataLimit - m_file.dataLimit % frameBytes;
    if (held != m_file.dataBytes) {
        debugMsg("MixDown: %u data bytes written, %llu reached the file\n", m_file.dataBytes,
                 static_cast<unsigned long long>(held));
        complete = false;
    }
    m_file.dataBytes = static_cast<uint32_t>(held);
    // A partial frame at the end would make the file longer than its header says.
    if (sized && ftruncate(fileno(file), static_cast<off_t>(kMixDownWavHeaderBytes + held)) != 0) complete = false;

    const int header = WriteWavHeader(&m_file);
    const bool written = header == 1 && std::fflush(file) == 0;
    if (!written) debugMsg("MixDown: the final WAV header did not reach the file\n");
    if (!complete) debugMsg("MixDown: the WAV file holds only %llu data bytes\n", static_cast<unsigned long long>(held));
    return written && complete ? 1 : kMixDownErrCreateFile;
}

void CMixDown::stopWriter() {
    if (!m_bWriterExists) return;
    m_bRunning.store(false, std::memory_order_release);
    pthread_join(m_writer, nullptr);
    m_bWriterExists = false;
}

int CMixDown::setGain(float gain1, float gain2) {
    m_fGain1.store(clampGain(gain1), std::memory_order_relaxed);
    m_fGain2.store(clampGain(gain2), std::memory_order_relaxed);
    return 1;
}

int CMixDown::getLevels(unsigned int* levels) const {
    if (levels == nullptr) return kMixDownErrNoSource;
    const float gain1 = m_fGain1.load(std::memory_order_relaxed);
    const float gain2 = m_fGain2.load(std::memory_order_relaxed);
    for (int side = 0; side < 2; ++side) {
        const float level = m_fLevels[side].load(std::memory_order_relaxed);
        const float root = std::pow(gain1 * level * gain2 * 0.5f, 0.25f);
        levels[side] = truncToUnsigned(10000.0 * std::fabs(static_cast<double>(root)));
    }
    return 1;
}

void CMixDown::zeroLevels() {
    m_fLevels[0].store(0.0f, std::memory_order_relaxed);
    m_fLevels[1].store(0.0f, std::memory_order_relaxed);
}

void CMixDown::setDataLimitForTesting(uint32_t bytes) {
    const uint32_t cap = mixDownMaxDataBytes(m_file.channels * kWavSampleBytes);
    m_file.dataLimit = bytes < cap ? bytes : cap;
}
