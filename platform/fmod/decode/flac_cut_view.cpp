#include "flac_cut_view.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace pw::decode {

namespace {

constexpr int kStreamInfo = 0;
constexpr int kSeekTable = 3;
constexpr size_t kSeekPointBytes = 18;

bool readAt(int fd, uint64_t offset, unsigned char* dst, size_t bytes) {
    return ::pread(fd, dst, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes);
}

uint64_t bigEndian(const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

sf_count_t viewLength(void* view) { return static_cast<FlacCutView*>(view)->length(); }
sf_count_t viewSeek(sf_count_t offset, int whence, void* view) {
    return static_cast<FlacCutView*>(view)->seek(offset, whence);
}
sf_count_t viewRead(void* dst, sf_count_t count, void* view) { return static_cast<FlacCutView*>(view)->read(dst, count); }
sf_count_t viewWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t viewTell(void* view) { return static_cast<FlacCutView*>(view)->tell(); }

}  // namespace

std::unique_ptr<FlacCutView> FlacCutView::make(const std::string& path, uint64_t frames) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    unsigned char magic[4];
    if (::fstat(fd, &st) != 0 || !readAt(fd, 0, magic, 4) || std::memcmp(magic, "fLaC", 4) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<FlacCutView> view(new FlacCutView(fd, static_cast<uint64_t>(st.st_size)));
    bool sawStreamInfo = false;
    uint64_t at = 4;
    for (bool last = false; !last;) {
        unsigned char head[4];
        if (!readAt(fd, at, head, 4))
            return nullptr;
        last = (head[0] & 0x80) != 0;
        const int type = head[0] & 0x7F;
        const uint64_t body = at + 4;
        const uint64_t bytes = bigEndian(head + 1, 3);
        if (type == kStreamInfo && bytes >= 18) {
            // The total sample count: the low four bits of byte 13 and bytes 14 to 17.
            unsigned char total[5];
            if (!readAt(fd, body + 13, total, 5))
                return nullptr;
            total[0] = static_cast<unsigned char>((total[0] & 0xF0) | ((frames >> 32) & 0x0F));
            for (int i = 1; i < 5; ++i)
                total[i] = static_cast<unsigned char>(frames >> (8 * (4 - i)));
            for (int i = 0; i < 5; ++i)
                view->patches_[body + 13 + static_cast<uint64_t>(i)] = total[i];
            sawStreamInfo = true;
        } else if (type == kSeekTable) {
            // Points in the part that is missing become placeholders (sample number all ones).
            for (uint64_t point = body; point + kSeekPointBytes <= body + bytes; point += kSeekPointBytes) {
                unsigned char sample[8];
                if (!readAt(fd, point, sample, 8))
                    return nullptr;
                if (bigEndian(sample, 8) < frames)
                    continue;
                for (uint64_t i = 0; i < 8; ++i)
                    view->patches_[point + i] = 0xFF;
            }
        }
        at = body + bytes;
    }
    return sawStreamInfo ? std::move(view) : nullptr;
}

FlacCutView::~FlacCutView() { ::close(fd_); }

SF_VIRTUAL_IO FlacCutView::callbacks() { return SF_VIRTUAL_IO{viewLength, viewSeek, viewRead, viewWrite, viewTell}; }

sf_count_t FlacCutView::seek(sf_count_t offset, int whence) {
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<int64_t>(position_);
    else if (whence == SEEK_END)
        base = static_cast<int64_t>(size_);
    const int64_t target = base + offset;
    if (target < 0)
        return -1;
    position_ = static_cast<uint64_t>(target);
    return target;
}

sf_count_t FlacCutView::read(void* dst, sf_count_t count) {
    if (count <= 0)
        return 0;
    const ssize_t got = ::pread(fd_, dst, static_cast<size_t>(count), static_cast<off_t>(position_));
    if (got <= 0)
        return 0;
    const uint64_t end = position_ + static_cast<uint64_t>(got);
    auto* out = static_cast<unsigned char*>(dst);
    for (auto p = patches_.lower_bound(position_); p != patches_.end() && p->first < end; ++p)
        out[p->first - position_] = p->second;
    position_ = end;
    return got;
}

}  // namespace pw::decode
