// VideoDecoderAbstract: the base a deck video decoder would derive from. It fixes the double
// buffering of decoded images (the producer fills the buffer that is not current, then switches),
// the drawing hand-shake, the resolution limits and the file-type test. The engine ships no
// concrete decoder and never creates one.
//
// Thread safety
// - addImageBuffer holds "VideoDecoderAbstract::LoadLock" and writes the descriptors under
//   "VideoDecoderAbstract::Image"; getCurrentImage reads them under "VideoDecoderAbstract::Image".
// - The buffer index and the drawing flag are atomics: the decoding thread switches and marks, the
//   drawing thread asks isDrawing and calls setDrawn.
#pragma once

#include <atomic>

#include "CritSect.h"

// One image buffer: 24-bit pixels, height x width as given to addImageBuffer.
struct VideoImage {
    unsigned char* buffer;
    int height;
    int width;
    int bitsPerPixel;
    unsigned int size;  // bytes
};

class VideoDecoderAbstract {
public:
    // Smallest buffer addImageBuffer accepts: 320 x 240 pixels of 3 bytes.
    static constexpr unsigned int kMinImageBytes = 320u * 240u * 3u;

    VideoDecoderAbstract();
    virtual ~VideoDecoderAbstract();

    VideoDecoderAbstract(const VideoDecoderAbstract&) = delete;
    VideoDecoderAbstract& operator=(const VideoDecoderAbstract&) = delete;

    // The decoder's own operations (what a concrete decoder opens, decodes and reports).
    virtual int openFile(const char* name, bool unicode) = 0;
    virtual int closeFile() = 0;
    virtual int play(bool play) = 0;
    virtual int setPosition(unsigned int ms) = 0;
    virtual int getPosition(unsigned int* ms) = 0;
    virtual int getLength(unsigned int* ms) = 0;
    virtual int setSpeed(double speed) = 0;
    virtual int decodeNextImage() = 0;
    virtual int getVideoResolution(unsigned short* width, unsigned short* height) = 0;
    virtual int isFileTypeSupported(const char* name, bool unicode) = 0;
    virtual int hasVideo() = 0;

    // Stores buffer 1 when size1 holds a 320 x 240 image, then buffer 2 when size2 does too.
    // -21 (nothing stored) when size1 is too small, else 1.
    int addImageBuffer(unsigned char* buffer1, unsigned int size1, unsigned char* buffer2, unsigned int size2);
    // Stores the limits unless both are small (width below 120 and height below 80): then 0.
    int setMaximalVideoResolution(int width, int height);
    // Scales width x height down into the limits, keeping the aspect; the width becomes a multiple
    // of 4. Returns 1.
    int calcNewVideoResolution(unsigned short* width, unsigned short* height);

    int switchCurrentImageBuffer();
    int getCurrentImageBuffer() const;
    VideoImage getCurrentImage();
    int redrawImage();
    bool isDrawing(int* index) const;
    void setDrawn();

    // 1 when the last five characters of the name (as 8-bit text) hold "." and one of the
    // extensions of the null-terminated list, compared upper-cased; 0 otherwise.
    int _isFileTypeSupported(const char* const* extensions, const char* fileName, bool unicode);

    int getMaximalWidth() const { return m_iMaxWidth; }
    int getMaximalHeight() const { return m_iMaxHeight; }

protected:
    CritSect m_loadLock;       // "VideoDecoderAbstract::LoadLock"
    VideoImage m_images[2];    // under m_imageLock
    int m_iMaxWidth;
    int m_iMaxHeight;
    std::atomic<int> m_iCurrentImage;
    std::atomic<bool> m_bDrawing;
    std::atomic<int> m_iDrawingImage;
    CritSect m_imageLock;      // "VideoDecoderAbstract::Image"
};
