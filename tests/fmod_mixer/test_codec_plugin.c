/* A minimal codec plug-in for the loader tests: it exports the entry point and opens nothing. */
#include "codec_plugin.h"

static int testOpen(const char* path, PWCodecStream** stream, PWCodecInfo* info) {
    (void)path;
    (void)stream;
    (void)info;
    return 1; /* not for this codec */
}

static long testRead(PWCodecStream* stream, short* dst, unsigned long frames) {
    (void)stream;
    (void)dst;
    (void)frames;
    return 0;
}

static int testSeek(PWCodecStream* stream, unsigned long long frame) {
    (void)stream;
    (void)frame;
    return 0;
}

static void testClose(PWCodecStream* stream) { (void)stream; }

static const PWCodecDescription kDescription = {"TestCodec", 0x10007, "tst", testOpen, testRead, testSeek, testClose};

__attribute__((visibility("default"))) const PWCodecDescription* PWCodecPluginDescription(void) {
    return &kDescription;
}
