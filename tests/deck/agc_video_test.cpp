// The deck's gain-control state and the video decoder base: resolution limits and scaling, image
// buffer registration, the double-buffer hand-shake and the file-type test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "AGC.h"
#include "VideoDecoderAbstract.h"

namespace {

// The base is abstract; the test decoder decodes nothing.
class NullDecoder : public VideoDecoderAbstract {
public:
    int openFile(const char*, bool) override { return 0; }
    int closeFile() override { return 0; }
    int play(bool) override { return 0; }
    int setPosition(unsigned int) override { return 0; }
    int getPosition(unsigned int*) override { return 0; }
    int getLength(unsigned int*) override { return 0; }
    int setSpeed(double) override { return 0; }
    int decodeNextImage() override { return 0; }
    int getVideoResolution(unsigned short*, unsigned short*) override { return 0; }
    int isFileTypeSupported(const char*, bool) override { return 0; }
    int hasVideo() override { return 0; }
    VideoImage image(int i) { return m_images[i]; }
};

TEST(AutoGainControl, StartsNeutralAndEveryEnableRestartsFromUnity) {
    CAutoGainControl agc;
    EXPECT_EQ(agc.m_fGain, 1.0f);
    EXPECT_FALSE(agc.m_bEnabled);
    EXPECT_EQ(agc.m_uiSampleCount, 0u);

    struct Step { bool on; };
    for (const Step step : {Step{true}, Step{false}, Step{true}, Step{true}}) {
        // Dirty state as a running control would leave it.
        agc.m_uiSampleCount = 4410;
        agc.m_fEnergy = 12.5f;
        agc.m_fGain = 0.3f;
        agc.m_fGainStep = 0.01f;
        agc.m_uiRampBlocks = 7;
        EXPECT_EQ(agc.enableAGC(step.on), 1);
        EXPECT_EQ(agc.m_bEnabled, step.on);
        EXPECT_EQ(agc.m_fGain, 1.0f);
        EXPECT_EQ(agc.m_uiSampleCount, 0u);
        EXPECT_EQ(agc.m_fEnergy, 0.0f);
        EXPECT_EQ(agc.m_fGainStep, 0.0f);
        EXPECT_EQ(agc.m_uiRampBlocks, 0u);
    }
}

struct LimitCase {
    int width, height;
    int result;
    int expectWidth, expectHeight;  // limits afterwards (from 640 x 512)
};

TEST(VideoDecoderBase, MaximalResolutionIsRefusedOnlyWhenBothValuesAreSmall) {
    const LimitCase cases[] = {
        {100, 100, 1, 100, 100},  // only the width small
        {100, 60, 0, 640, 512},   // both small: refused, old limits kept
        {119, 79, 0, 640, 512},
        {120, 79, 1, 120, 79},    // the width bound is not below 120
        {119, 80, 1, 119, 80},
        {1920, 1080, 1, 1920, 1080},
    };
    for (const LimitCase& c : cases) {
        NullDecoder decoder;
        EXPECT_EQ(decoder.setMaximalVideoResolution(c.width, c.height), c.result) << c.width << "x" << c.height;
        EXPECT_EQ(decoder.getMaximalWidth(), c.expectWidth);
        EXPECT_EQ(decoder.getMaximalHeight(), c.expectHeight);
    }
}

struct ScaleCase {
    unsigned short width, height;
    unsigned short expectWidth, expectHeight;
};

TEST(VideoDecoderBase, NewResolutionFitsTheLimitsKeepsAspectAndWidthIsAMultipleOfFour) {
    const ScaleCase cases[] = {
        {1280, 720, 640, 360},
        {700, 300, 640, 274},   // 300 / 1.09375 = 274.3
        {640, 512, 640, 512},   // exactly the limits
        {320, 240, 320, 240},   // inside: unchanged
        {322, 240, 324, 240},   // width rounded up to a multiple of 4
        {640, 1024, 320, 512},  // the height decides
        {1000, 1000, 512, 512}, // 1000 / (1000/512) = 512
    };
    for (const ScaleCase& c : cases) {
        NullDecoder decoder;
        unsigned short w = c.width, h = c.height;
        EXPECT_EQ(decoder.calcNewVideoResolution(&w, &h), 1);
        EXPECT_EQ(w, c.expectWidth) << c.width << "x" << c.height;
        EXPECT_EQ(h, c.expectHeight) << c.width << "x" << c.height;
        EXPECT_EQ(w % 4, 0);
    }
}

TEST(VideoDecoderBase, ImageBuffersNeedRoomForA320By240Image) {
    struct Case {
        unsigned int size1, size2;
        int result;
        bool first, second;
    };
    const Case cases[] = {
        {230399, 230400, -21, false, false},
        {230400, 100, 1, true, false},
        {230400, 230400, 1, true, true},
        {1000000, 230399, 1, true, false},
    };
    for (const Case& c : cases) {
        NullDecoder decoder;
        std::vector<unsigned char> a(16), b(16);
        EXPECT_EQ(decoder.addImageBuffer(a.data(), c.size1, b.data(), c.size2), c.result);
        const VideoImage i0 = decoder.image(0), i1 = decoder.image(1);
        EXPECT_EQ(i0.buffer == a.data(), c.first);
        EXPECT_EQ(i0.size, c.first ? c.size1 : 0u);
        EXPECT_EQ(i1.buffer == b.data(), c.second);
        EXPECT_EQ(i1.size, c.second ? c.size2 : 0u);
        if (c.first) {
            EXPECT_EQ(i0.width, 320);
            EXPECT_EQ(i0.height, 240);
            EXPECT_EQ(i0.bitsPerPixel, 24);
        }
    }
}

TEST(VideoDecoderBase, DoubleBufferHandShake) {
    NullDecoder decoder;
    std::vector<unsigned char> a(16), b(16);
    ASSERT_EQ(decoder.addImageBuffer(a.data(), 230400, b.data(), 230400), 1);
    EXPECT_EQ(decoder.getCurrentImageBuffer(), 0);
    EXPECT_EQ(decoder.getCurrentImage().buffer, a.data());
    EXPECT_EQ(decoder.switchCurrentImageBuffer(), 1);
    EXPECT_EQ(decoder.getCurrentImage().buffer, b.data());

    int index = -1;
    EXPECT_FALSE(decoder.isDrawing(&index));
    EXPECT_EQ(decoder.redrawImage(), 1);
    EXPECT_EQ(decoder.switchCurrentImageBuffer(), 0);  // the producer moves on
    EXPECT_TRUE(decoder.isDrawing(&index));
    EXPECT_EQ(index, 1);  // the image marked for drawing, not the current one
    EXPECT_TRUE(decoder.isDrawing(nullptr));
    decoder.setDrawn();
    EXPECT_FALSE(decoder.isDrawing(nullptr));
}

TEST(VideoDecoderBase, FileTypeMatchesTheEndingCaseInsensitively) {
    const char* const movies[] = {"mov", "mp4", "m4v", nullptr};
    const char* const empty[] = {nullptr};
    struct Case {
        const char* const* list;
        std::string name;
        int expect;
    };
    const Case cases[] = {
        {movies, "/music/clip.MOV", 1},
        {movies, "/music/clip.mp4", 1},
        {movies, "c.m4v", 1},
        {movies, "/music/clip.mp3", 0},
        {movies, "/music/mov.wav", 0},  // only the last five characters count
        {movies, "mov", 0},             // no dot
        {empty, "/music/clip.mov", 0},
        {nullptr, "/music/clip.mov", 0},
    };
    for (const Case& c : cases) {
        NullDecoder decoder;
        EXPECT_EQ(decoder._isFileTypeSupported(c.list, c.name.c_str(), false), c.expect) << c.name;
    }
}

TEST(VideoDecoderBase, WideNamesAreConvertedBeforeTheTest) {
    const char* const movies[] = {"mov", nullptr};
    const std::u16string wide = u"/m\u00fcsik/clip.mov";
    std::vector<char> bytes((wide.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), wide.data(), wide.size() * 2);
    NullDecoder decoder;
    EXPECT_EQ(decoder._isFileTypeSupported(movies, bytes.data(), true), 1);
    EXPECT_EQ(decoder._isFileTypeSupported(movies, bytes.data(), false), 0);  // read as 8-bit: "/"
}

}  // namespace
