// A FLAC file cut short, as libsndfile is to see it: the file's own bytes, except that the stream
// information gives the number of frames the data holds and seek points past them are
// placeholders. libFLAC seeks by those values: with the whole file's it looks for frames beyond
// the end of the data and every seek fails.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <sndfile.h>

namespace pw::decode {

class FlacCutView {
public:
    // Null when the file does not start with FLAC metadata that can be read.
    static std::unique_ptr<FlacCutView> make(const std::string& path, uint64_t frames);
    ~FlacCutView();
    FlacCutView(const FlacCutView&) = delete;
    FlacCutView& operator=(const FlacCutView&) = delete;

    // libsndfile's callbacks over the view, with this view as their user data. One handle at a
    // time reads through a view: it keeps one read position.
    static SF_VIRTUAL_IO callbacks();

    sf_count_t length() const { return static_cast<sf_count_t>(size_); }
    sf_count_t seek(sf_count_t offset, int whence);
    sf_count_t read(void* dst, sf_count_t count);
    sf_count_t tell() const { return static_cast<sf_count_t>(position_); }

private:
    FlacCutView(int fd, uint64_t size) : fd_(fd), size_(size) {}

    int fd_;
    uint64_t size_;
    uint64_t position_ = 0;
    std::map<uint64_t, unsigned char> patches_;  // file offset -> the byte read there instead
};

}  // namespace pw::decode
