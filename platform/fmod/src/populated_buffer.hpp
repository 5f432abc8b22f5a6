// A buffer of floats whose pages the kernel maps all at once when it is made (MAP_POPULATE), for
// rings that are written through within a second of their creation anyway. Letting each page
// fault in on first touch costs a trap per 4 KB, which on a virtual machine cost more than
// decoding the audio that fills the page; one populating mmap is a fraction of that.
//
// Contents start as zeros. Throws std::bad_alloc when the memory cannot be had, like a vector.
// Not copyable; moving is not needed by its users.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>

namespace pw::sound {

class PopulatedBuffer {
public:
    explicit PopulatedBuffer(size_t floats) : bytes_(floats * sizeof(float)) {
        if (bytes_ == 0) return;
        void* p = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        data_ = static_cast<float*>(p);
    }
    ~PopulatedBuffer() {
        if (data_) ::munmap(data_, bytes_);
    }
    PopulatedBuffer(const PopulatedBuffer&) = delete;
    PopulatedBuffer& operator=(const PopulatedBuffer&) = delete;

    float* data() { return data_; }
    const float* data() const { return data_; }

private:
    size_t bytes_;
    float* data_ = nullptr;
};

}  // namespace pw::sound
