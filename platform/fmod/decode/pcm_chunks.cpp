#include "pcm_chunks.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace pw::decode {

namespace {

uint32_t chunkSize(const unsigned char* p, bool bigEndian) {
    return bigEndian ? static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                           static_cast<uint32_t>(p[2]) << 8 | p[3]
                     : static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
                           static_cast<uint32_t>(p[1]) << 8 | p[0];
}

// Chunks before the sample data are few and small (format, facts, comments, markers); a file
// that needs more hops than this to reach its data is not one this check judges.
constexpr int kMaxChunks = 64;

}  // namespace

bool pcmDataChunkCut(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    unsigned char head[12];
    bool cut = false;
    if (::fstat(fd, &st) == 0 && ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head)) {
        const uint64_t fileBytes = static_cast<uint64_t>(st.st_size);
        const bool wav = std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
        const bool aiff = std::memcmp(head, "FORM", 4) == 0 &&
                          (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0);
        const char* dataId = wav ? "data" : "SSND";
        uint64_t at = 12;
        for (int i = 0; (wav || aiff) && i < kMaxChunks; ++i) {
            unsigned char chunk[8];
            if (::pread(fd, chunk, sizeof chunk, static_cast<off_t>(at)) != static_cast<ssize_t>(sizeof chunk))
                break;
            const uint32_t bytes = chunkSize(chunk + 4, aiff);
            if (std::memcmp(chunk, dataId, 4) == 0) {
                cut = bytes != 0 && bytes != 0xFFFFFFFFu && at + 8 + bytes > fileBytes;
                break;
            }
            at += 8 + bytes + (bytes & 1);  // chunks are padded to an even size
        }
    }
    ::close(fd);
    return cut;
}

}  // namespace pw::decode
