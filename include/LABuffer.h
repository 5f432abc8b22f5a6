// CLABuffer<T>: the look-ahead ring. A fixed ring of elements around a read position (the needle)
// that keeps a stretch of a stream both ahead of the needle (forward play) and behind it (reverse
// play, short jumps back). One thread fills, one thread reads.
//
// Positions
// - top: one past the newest element ahead of the needle; forward fills write here.
// - bottom: the oldest held element; backward fills write just below it.
// - needle: the read position. The absolute position is the needle's place in the stream.
// - Every position lies in 0..size; size and 0 name the same slot, but a bottom at size after a
//   reset is what makes an empty ring report a gap of size (and not 0). Do not "normalise" size to
//   0 in SetValue: the distance arithmetic depends on it.
// - At least kGap (8) elements always stay empty between top and bottom.
//
// Thread safety
// - One filling thread and one reading thread per ring. The filler moves top (forward use) or
//   bottom (backward use); the reader moves the needle and, by trimming past the half window,
//   the far side. Positions are atomics: a store is made with release order only after the
//   elements it covers have been copied, and the other side loads it with acquire order, so an
//   element is never read before it is written nor overwritten while it is still held.
// - The mutex guards size queries, ResetBuffer and the reader's move of the needle together with
//   the absolute position (GetWindow reads both at once); copies run outside it. ResetBuffer and
//   ResizeBuffer must not overlap a read or a fill: owners arrange that (see BufferingSound's
//   pending seek and ITKOutputBuffer's read guard).
//
// Callback safety
// - Fills and reads allocate nothing, copy at most two blocks and hold the mutex only for a few
//   comparisons, so a read may run on the mixer thread. Diagnostics go to standard output and only
//   on broken invariants.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

// Position record of the ring: one signed value kept within 0..size, the size given on each use.
class CLAValue {
public:
    CLAValue() : m_value(0) {}

    // Brings v back into range by whole sizes: negative values into 0..size-1, values above size
    // into 1..size; values in 0..size are kept as they are.
    void SetValue(int64_t v, int64_t size) {
        if (size > 0) {
            while (v < 0) v += size;
            while (v > size) v -= size;
        }
        if (v < 0 || v > size) std::printf("CLAValue::SetValue: Error!\n");
        m_value.store(v, std::memory_order_release);
    }

    int64_t GetValue(int64_t size) const {
        const int64_t v = m_value.load(std::memory_order_acquire);
        if (v > size) std::printf("CLAValue::GetValue Error!\n");
        return v;
    }

private:
    std::atomic<int64_t> m_value;
};

template <typename T>
class CLABuffer {
public:
    static constexpr int64_t kDefaultSize = 1048585;  // 2^20 + 9
    static constexpr int64_t kGap = 8;

    CLABuffer() : m_pStorage(nullptr), m_absolutePosition(0), m_size(kDefaultSize), m_groupWidth(1), m_frameBytes(0) {
        pthread_mutex_init(&m_mutex, nullptr);
        m_pStorage = new (std::nothrow) T[static_cast<size_t>(m_size)];
        if (!m_pStorage) std::printf("CLAValue:: Memory Allocation error! Unsufficient memory!\n");
        ResetBuffer(0);
    }

    ~CLABuffer() {
        delete[] m_pStorage;
        pthread_mutex_destroy(&m_mutex);
    }

    CLABuffer(const CLABuffer&) = delete;
    CLABuffer& operator=(const CLABuffer&) = delete;

    // Empties the ring at a stream position. 1, or -3 without storage (the positions are reset
    // all the same).
    int ResetBuffer(uint64_t position) {
        pthread_mutex_lock(&m_mutex);
        m_absolutePosition.store(position, std::memory_order_release);
        m_top.SetValue(0, m_size);
        m_bottom.SetValue(m_size, m_size);
        m_needle.SetValue(0, m_size);
        const bool haveStorage = m_pStorage != nullptr;
        pthread_mutex_unlock(&m_mutex);
        return haveStorage ? 1 : -3;
    }

    // Room for fills: the gap less kGap. Takes the mutex.
    unsigned int GetFreeBufferSize() {
        pthread_mutex_lock(&m_mutex);
        const int64_t free = distance(m_top.GetValue(m_size), m_bottom.GetValue(m_size)) - kGap;
        pthread_mutex_unlock(&m_mutex);
        return free > 0 ? static_cast<unsigned int>(free) : 0u;
    }

    // Elements ahead of the needle. The caller holds the mutex (LockMutex).
    unsigned int _GetUsedBufferSizeForward() {
        return static_cast<unsigned int>(distance(m_needle.GetValue(m_size), m_top.GetValue(m_size)));
    }
    // Elements behind the needle. The caller holds the mutex (LockMutex).
    unsigned int _GetUsedBufferSizeBackward() {
        return static_cast<unsigned int>(distance(m_bottom.GetValue(m_size), m_needle.GetValue(m_size)));
    }

    // Appends n elements at top. 1; -1 when they do not fit (nothing stored); -3 without storage.
    int FillBufferForward(const T* data, uint64_t n) {
        if (!m_pStorage) return -3;
        if (n > static_cast<uint64_t>(m_size) || n > GetFreeBufferSize()) return -1;
        const int64_t top = m_top.GetValue(m_size);
        const int64_t count = static_cast<int64_t>(n);
        if (top + count < m_size) {
            copyIn(top, data, count);
            ToTop(static_cast<int>(count));
        } else {
            // Wraps: the tail of storage first, then the front. The top is published once, after
            // both copies, so the reader never sees a top over elements not yet written.
            const int64_t k = m_size - top;
            copyIn(top, data, k);
            copyIn(0, data + k, count - k);
            // Set directly: a fill ending exactly at the end of storage leaves top at 0, not size.
            m_top.SetValue(count - k, m_size);
            ToTop(0);
        }
        return 1;
    }

    // Prepends n elements below bottom, in their own order (data[0] becomes the oldest element).
    // 1; -1 when they do not fit; -3 without storage.
    int FillBufferBackward(const T* data, uint64_t n) {
        if (!m_pStorage) return -3;
        if (n > static_cast<uint64_t>(m_size) || n > GetFreeBufferSize()) return -1;
        const int64_t b = m_bottom.GetValue(m_size);
        const int64_t count = static_cast<int64_t>(n);
        // The elements are copied before bottom moves over them: a reader reading backward must
        // never find bottom below elements that are still being written.
        if (b - count <= 0) {
            const int64_t wrapped = count - b;  // elements that go to the end of storage
            copyIn(0, data + wrapped, b);
            copyIn(m_size - wrapped, data, wrapped);
        } else {
            copyIn(b - count, data, count);
        }
        // One store: b - count lands on 0 (no wrap left over) or size - wrapped.
        ToBottom(static_cast<int>(-count));
        return 1;
    }

    // Copies (or, without out or copy, skips) n elements at the needle and moves it forward.
    // 1; -1 when fewer than n are ahead (out zeroed when given and copy set, nothing moved);
    // -3 without storage and copy set.
    int ReadBufferForward(T* out, uint64_t n, bool copy) {
        if (!m_pStorage && copy) return -3;
        const bool doCopy = copy && out && m_pStorage;
        pthread_mutex_lock(&m_mutex);
        const uint64_t ahead = _GetUsedBufferSizeForward();
        pthread_mutex_unlock(&m_mutex);
        if (n > static_cast<uint64_t>(m_size) || n > ahead) {
            if (out && copy) std::memset(static_cast<void*>(out), 0, static_cast<size_t>(n) * sizeof(T));
            return -1;
        }
        pthread_mutex_lock(&m_mutex);
        const uint64_t again = _GetUsedBufferSizeForward();
        pthread_mutex_unlock(&m_mutex);
        if (n > again) std::printf("ERROR: weird error in CLAValue::ReadBufferForward!\n");

        const int64_t needle = m_needle.GetValue(m_size);
        const int64_t count = static_cast<int64_t>(n);
        const bool wraps = needle + count >= m_size;
        const int64_t k = wraps ? m_size - needle : count;
        if (doCopy) {
            copyOut(out, needle, k);
            copyOut(out + k, 0, count - k);
        }
        // The needle and the absolute position move together under the mutex, so the filler's
        // GetWindow never pairs a moved needle with an old position (its fill would land at the
        // wrong stream position).
        pthread_mutex_lock(&m_mutex);
        if (wraps) {
            // One store of the final needle: the filler must never see a passing 0.
            m_needle.SetValue(count - k, m_size);
            ToNeedle(0, true);
        } else {
            ToNeedle(static_cast<int>(count), true);
        }
        m_absolutePosition.fetch_add(n, std::memory_order_acq_rel);
        pthread_mutex_unlock(&m_mutex);
        return 1;
    }

    // Moves the needle back by n and copies the n elements it passed over in reverse order: by
    // groups of group width elements (the order inside each group kept), or frame by frame when
    // a frame size in bytes is set. Groups and frames are counted from the old needle down, so a
    // partial one (only when n is not whole groups or frames) ends the output.
    // 1; -1 when fewer than n are behind (out zeroed as above); -3 without storage and copy set.
    int ReadBufferBackward(T* out, uint64_t n, bool copy) {
        if (!m_pStorage && copy) return -3;
        const bool doCopy = copy && out && m_pStorage;
        pthread_mutex_lock(&m_mutex);
        const uint64_t behind = _GetUsedBufferSizeBackward();
        pthread_mutex_unlock(&m_mutex);
        if (n > static_cast<uint64_t>(m_size) || n > behind) {
            if (out && copy) std::memset(static_cast<void*>(out), 0, static_cast<size_t>(n) * sizeof(T));
            return -1;
        }
        const int64_t count = static_cast<int64_t>(n);
        pthread_mutex_lock(&m_mutex);
        ToNeedle(static_cast<int>(-count), false);
        m_absolutePosition.fetch_sub(n, std::memory_order_acq_rel);
        pthread_mutex_unlock(&m_mutex);
        // The elements between the new and the old needle stay held: the filler cannot touch them.
        if (doCopy) {
            const int64_t unit = m_frameBytes > 0 ? m_frameBytes : static_cast<int64_t>(m_groupWidth * sizeof(T));
            const int64_t start = m_needle.GetValue(m_size) * static_cast<int64_t>(sizeof(T));  // in bytes
            // Bytes, not elements: the owner's buffer need not be aligned for T, and a frame need
            // not be a whole number of elements.
            unsigned char* dst = reinterpret_cast<unsigned char*>(out);
            for (int64_t end = count * static_cast<int64_t>(sizeof(T)); end > 0;) {
                const int64_t first = end > unit ? end - unit : 0;
                copyBytesOut(dst, start + first, end - first);
                dst += end - first;
                end = first;
            }
        }
        return 1;
    }

    // Moves top by n; restores the gap by giving up the oldest elements if needed.
    int ToTop(int n) {
        m_top.SetValue(m_top.GetValue(m_size) + n, m_size);
        if (distance(m_top.GetValue(m_size), m_bottom.GetValue(m_size)) < kGap)
            m_bottom.SetValue(m_top.GetValue(m_size) + kGap, m_size);
        return 1;
    }

    // Moves bottom by n (negative to grow backward); restores the gap by giving up the newest
    // elements if needed.
    int ToBottom(int n) {
        m_bottom.SetValue(m_bottom.GetValue(m_size) + n, m_size);
        if (distance(m_top.GetValue(m_size), m_bottom.GetValue(m_size)) < kGap)
            m_top.SetValue(m_bottom.GetValue(m_size) - kGap, m_size);
        return 1;
    }

    // Moves the needle by n and trims the far side to the half window.
    int ToNeedle(int n, bool forward) {
        m_needle.SetValue(m_needle.GetValue(m_size) + n, m_size);
        const int64_t half = (m_size - kGap) / 2;
        const int64_t needle = m_needle.GetValue(m_size);
        if (forward) {
            if (distance(m_bottom.GetValue(m_size), needle) > half) m_bottom.SetValue(needle - half, m_size);
        } else {
            if (distance(needle, m_top.GetValue(m_size)) > half) m_top.SetValue(needle + half, m_size);
        }
        const int64_t top = m_top.GetValue(m_size);
        const int64_t bottom = m_bottom.GetValue(m_size);
        if (top < needle && needle < bottom) std::printf("INTERNAL CLABuffer Error!\n");
        return 1;
    }

    // New storage of n elements, then a reset at the current absolute position. Runs without the
    // mutex: call it before another thread uses the ring, or under the owner's own lock.
    void ResizeBuffer(int64_t n) {
        m_size = n > 0 ? n : 0;
        delete[] m_pStorage;
        m_pStorage = m_size > 0 ? new (std::nothrow) T[static_cast<size_t>(m_size)] : nullptr;
        if (!m_pStorage) {
            std::printf("CLAValue:: Memory Allocation error! Unsufficient memory!\n");
            return;
        }
        ResetBuffer(m_absolutePosition.load(std::memory_order_acquire));
    }

    // Releases the storage; the ring then reports -3 until the next successful ResizeBuffer.
    void ReleaseStorage() {
        delete[] m_pStorage;
        m_pStorage = nullptr;
    }

    // One consistent view for the filler: the absolute position with ahead and behind, taken
    // together under the mutex.
    void GetWindow(uint64_t* absolute, unsigned int* ahead, unsigned int* behind) {
        pthread_mutex_lock(&m_mutex);
        if (absolute) *absolute = m_absolutePosition.load(std::memory_order_acquire);
        if (ahead) *ahead = _GetUsedBufferSizeForward();
        if (behind) *behind = _GetUsedBufferSizeBackward();
        pthread_mutex_unlock(&m_mutex);
    }

    // The ring's mutex, for owners that ask the underscore queries.
    void LockMutex() { pthread_mutex_lock(&m_mutex); }
    void UnlockMutex() { pthread_mutex_unlock(&m_mutex); }

    uint64_t GetAbsolutePosition() const { return m_absolutePosition.load(std::memory_order_acquire); }
    int64_t GetSize() const { return m_size; }
    int64_t GetTop() const { return m_top.GetValue(m_size); }
    int64_t GetBottom() const { return m_bottom.GetValue(m_size); }
    int64_t GetNeedle() const { return m_needle.GetValue(m_size); }
    bool HasStorage() const { return m_pStorage != nullptr; }
    int GetGroupWidth() const { return m_groupWidth; }
    // Set by the owner before the reader runs.
    void SetGroupWidth(int width) { m_groupWidth = width > 0 ? width : 1; }
    // Backward reads reverse frames of this many bytes, which need not be whole elements (a ring
    // of words carrying PCM bytes). 0 goes back to groups of elements. Set before the reader runs.
    void SetFrameBytes(unsigned int bytes) { m_frameBytes = bytes; }
    unsigned int GetFrameBytes() const { return m_frameBytes; }

private:
    // Distance from a forward to b.
    int64_t distance(int64_t a, int64_t b) const { return b >= a ? b - a : m_size - a + b; }
    // Copies len bytes of storage from byte offset at (up to one ring beyond its end), wrapping
    // at the end of storage.
    void copyBytesOut(unsigned char* dst, int64_t at, int64_t len) const {
        const int64_t ringBytes = m_size * static_cast<int64_t>(sizeof(T));
        while (at >= ringBytes) at -= ringBytes;
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m_pStorage);
        const int64_t k = len < ringBytes - at ? len : ringBytes - at;
        std::memcpy(dst, bytes + at, static_cast<size_t>(k));
        if (len > k) std::memcpy(dst + k, bytes, static_cast<size_t>(len - k));
    }

    void copyIn(int64_t at, const T* data, int64_t count) {
        if (count > 0) std::memcpy(static_cast<void*>(m_pStorage + at), static_cast<const void*>(data),
                                   static_cast<size_t>(count) * sizeof(T));
    }
    void copyOut(T* out, int64_t at, int64_t count) const {
        if (count > 0) std::memcpy(static_cast<void*>(out), static_cast<const void*>(m_pStorage + at),
                                   static_cast<size_t>(count) * sizeof(T));
    }

    T* m_pStorage;
    CLAValue m_top;
    CLAValue m_bottom;
    CLAValue m_needle;
    pthread_mutex_t m_mutex;
    std::atomic<uint64_t> m_absolutePosition;
    int64_t m_size;
    int m_groupWidth;
    unsigned int m_frameBytes;  // 0: backward reads reverse groups of elements
};
