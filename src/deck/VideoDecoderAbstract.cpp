#include "VideoDecoderAbstract.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "DebugLog.h"
#include "tk_string.h"

VideoDecoderAbstract::VideoDecoderAbstract()
    : m_loadLock("VideoDecoderAbstract::LoadLock"),
      m_images{},
      m_iMaxWidth(640),
      m_iMaxHeight(512),
      m_iCurrentImage(0),
      m_bDrawing(false),
      m_iDrawingImage(0),
      m_imageLock() {
    m_imageLock.setName("VideoDecoderAbstract::Image");
}

VideoDecoderAbstract::~VideoDecoderAbstract() = default;

int VideoDecoderAbstract::addImageBuffer(unsigned char* buffer1, unsigned int size1, unsigned char* buffer2,
                                         unsigned int size2) {
    CRITSECT_SCOPE(m_loadLock);
    if (size1 < kMinImageBytes) return -21;
    {
        CRITSECT_SCOPE(m_imageLock);
        m_images[0] = VideoImage{buffer1, 240, 320, 24, size1};
    }
    if (size2 >= kMinImageBytes) {
        CRITSECT_SCOPE(m_imageLock);
        m_images[1] = VideoImage{buffer2, 240, 320, 24, size2};
    }
    return 1;
}

int VideoDecoderAbstract::setMaximalVideoResolution(int width, int height) {
    if (width < 120 && height < 80) return 0;
    m_iMaxWidth = width;
    m_iMaxHeight = height;
    return 1;
}

int VideoDecoderAbstract::calcNewVideoResolution(unsigned short* width, unsigned short* height) {
    if (!width || !height) return 1;
    // A limit of 0 or less would divide by zero; such a limit scales nothing.
    const double maxW = m_iMaxWidth > 0 ? m_iMaxWidth : *width;
    const double maxH = m_iMaxHeight > 0 ? m_iMaxHeight : *height;
    const double scaleW = (*width > maxW && maxW > 0) ? *width / maxW : 1.0;
    const double scaleH = (*height > maxH && maxH > 0) ? *height / maxH : 1.0;
    const double scale = scaleW > scaleH ? scaleW : scaleH;
    unsigned int w = static_cast<unsigned int>(std::lround(*width / scale));
    w = (w + 3u) & ~3u;
    const unsigned int h = static_cast<unsigned int>(std::lround(*height / scale));
    *width = static_cast<unsigned short>(w);
    *height = static_cast<unsigned short>(h);
    return 1;
}

int VideoDecoderAbstract::switchCurrentImageBuffer() {
    const int next = m_iCurrentImage.load(std::memory_order_acquire) == 1 ? 0 : 1;
    m_iCurrentImage.store(next, std::memory_order_release);
    return next;
}

int VideoDecoderAbstract::getCurrentImageBuffer() const { return m_iCurrentImage.load(std::memory_order_acquire); }

VideoImage VideoDecoderAbstract::getCurrentImage() {
    CRITSECT_SCOPE(m_imageLock);
    return m_images[getCurrentImageBuffer() == 1 ? 1 : 0];
}

int VideoDecoderAbstract::redrawImage() {
    const int current = getCurrentImageBuffer();
    m_iDrawingImage.store(current, std::memory_order_release);
    m_bDrawing.store(true, std::memory_order_release);
    return current;
}

bool VideoDecoderAbstract::isDrawing(int* index) const {
    const bool drawing = m_bDrawing.load(std::memory_order_acquire);
    if (index) *index = m_iDrawingImage.load(std::memory_order_acquire);
    return drawing;
}

void VideoDecoderAbstract::setDrawn() { m_bDrawing.store(false, std::memory_order_release); }

int VideoDecoderAbstract::_isFileTypeSupported(const char* const* extensions, const char* fileName, bool unicode) {
    if (!extensions || !fileName) return 0;
    char ansiName[2048];
    tk_convUnicodeToChar(ansiName, sizeof ansiName, fileName, unicode);
    ansiName[sizeof ansiName - 1] = '\0';
    const size_t length = std::strlen(ansiName);
    const char* ending = length > 5 ? ansiName + length - 5 : ansiName;
    char upperEnding[8];
    tk_strupr(upperEnding, sizeof upperEnding, ending, sizeof upperEnding, false);
    for (const char* const* ext = extensions; *ext; ++ext) {
        char comp[64];
        std::snprintf(comp, sizeof comp, ".%s", *ext);
        tk_strupr(comp, sizeof comp, comp, sizeof comp, false);
        debugMsg("fileNameEndsWith:%s comp:%s ansiFileName:%s filename:%s\n", upperEnding, comp, ansiName,
                 unicode ? ansiName : fileName);
        if (tk_strstr(upperEnding, comp, sizeof upperEnding, false)) return 1;
    }
    return 0;
}
