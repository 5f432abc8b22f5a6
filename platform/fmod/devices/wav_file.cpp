#include "wav_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace pw::dev {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr long kRiffSizeOffset = 4;
constexpr long kFactOffset = 46;      // the fact chunk's sample-frame count
constexpr long kDataSizeOffset = 54;  // the data chunk's byte count
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFULL - 64;

void put16(std::vector<unsigned char>* b, uint16_t v) {
    b->push_back(static_cast<unsigned char>(v & 0xff));
    b->push_back(static_cast<unsigned char>(v >> 8));
}
void put32(std::vector<unsigned char>* b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b->push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xff));
}
void putTag(std::vector<unsigned char>* b, const char* tag) { b->insert(b->end(), tag, tag + 4); }

uint16_t get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool patch32(std::FILE* f, long offset, uint32_t v) {
    unsigned char b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xff);
    return std::fseek(f, offset, SEEK_SET) == 0 && std::fwrite(b, 1, 4, f) == 4;
}

}  // namespace

WavWriter::~WavWriter() { close(); }

bool WavWriter::open(const std::string& path, int channels, int rate, std::string* error) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    channels_ = channels;
    samples_ = 0;
    failed_ = false;
    std::vector<unsigned char> h;
    putTag(&h, "RIFF");
    put32(&h, 0);
    putTag(&h, "WAVE");
    putTag(&h, "fmt ");
    put32(&h, 18);
    put16(&h, kFormatFloat);
    put16(&h, static_cast<uint16_t>(channels));
    put32(&h, static_cast<uint32_t>(rate));
    put32(&h, static_cast<uint32_t>(rate) * 4u * static_cast<uint32_t>(channels));
    put16(&h, static_cast<uint16_t>(4 * channels));
    put16(&h, 32);
    put16(&h, 0);  // cbSize
    putTag(&h, "fact");
    put32(&h, 4);
    put32(&h, 0);
    putTag(&h, "data");
    put32(&h, 0);
    if (std::fwrite(h.data(), 1, h.size(), file_) != h.size()) failed_ = true;
    return true;
}

bool WavWriter::write(const float* samples, size_t count) {
    if (!file_ || failed_) return false;
    // Stay within what a RIFF header can describe; the rest is dropped (and reported by close()).
    if ((samples_ + count) * 4 > kMaxDataBytes) {
        failed_ = true;
        return false;
    }
    static_assert(sizeof(float) == 4, "float must be IEEE single precision");
    if (std::fwrite(samples, sizeof(float), count, file_) != count) {
        failed_ = true;
        return false;
    }
    samples_ += count;
    return true;
}

bool WavWriter::close() {
    if (!file_) return !failed_;
    const uint32_t dataBytes = static_cast<uint32_t>(samples_ * 4);
    const uint32_t frames = channels_ > 0 ? static_cast<uint32_t>(samples_ / static_cast<uint64_t>(channels_)) : 0;
    bool ok = !failed_;
    ok = patch32(file_, kRiffSizeOffset, static_cast<uint32_t>(kDataSizeOffset + 4 - 8) + dataBytes) && ok;
    ok = patch32(file_, kFactOffset, frames) && ok;
    ok = patch32(file_, kDataSizeOffset, dataBytes) && ok;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    failed_ = !ok;
    return ok;
}

bool readWav(const std::string& path, WavData* out, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot be opened");
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return fail("not a RIFF WAVE file");
    uint16_t format = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    bool haveFmt = false;
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + pos;
        const size_t size = get32(chunk + 4);
        const size_t body = pos + 8;
        const size_t avail = bytes.size() - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > avail) return fail("bad fmt chunk");
            format = get16(chunk + 8);
            channels = get16(chunk + 10);
            rate = get32(chunk + 12);
            bits = get16(chunk + 22);
            if (format == kFormatExtensible && size >= 40) format = get16(chunk + 32);
            haveFmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFmt) return fail("data chunk before fmt chunk");
            if (channels == 0 || channels > 64 || rate == 0) return fail("bad channel count or rate");
            const size_t width = bits / 8u;
            const bool isFloat = format == kFormatFloat && (bits == 32 || bits == 64);
            const bool isPcm = format == kFormatPcm && bits >= 8 && bits <= 32 && bits % 8 == 0;
            if (!isFloat && !isPcm) return fail("unsupported sample format");
            // A truncated data chunk (a writer that died) still gives the samples it holds.
            const size_t dataBytes = std::min(size, avail);
            const size_t count = dataBytes / width / channels * channels;
            out->channels = channels;
            out->rate = static_cast<int>(rate);
            out->samples.resize(count);
            const unsigned char* p = bytes.data() + body;
            for (size_t i = 0; i < count; ++i, p += width) {
                float v = 0.0f;
                if (isFloat && bits == 32) {
                    uint32_t u = get32(p);
                    std::memcpy(&v, &u, 4);
                } else if (isFloat) {
                    uint64_t u = get32(p) | (static_cast<uint64_t>(get32(p + 4)) << 32);
                    double d;
                    std::memcpy(&d, &u, 8);
                    v = static_cast<float>(d);
                } else if (bits == 8) {
                    v = (static_cast<int>(p[0]) - 128) / 128.0f;
                } else {
                    // Little-endian signed integer of `width` bytes, placed in the top of an int32.
                    uint32_t u = 0;
                    for (size_t b = 0; b < width; ++b) u |= static_cast<uint32_t>(p[b]) << (8 * (4 - width + b));
                    v = static_cast<float>(static_cast<int32_t>(u) / 2147483648.0);
                }
                out->samples[i] = v;
            }
            return true;
        }
        pos = body + size + (size & 1);
    }
    return fail("no data chunk");
}

}  // namespace pw::dev
