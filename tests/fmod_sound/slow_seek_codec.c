/* A codec plug-in for the stream tests whose seeks are slow, as a seek in a long compressed file
 * on a slow disk is. It takes files named *.slowseek (their content is ignored) and plays a minute
 * of silence; every seek but one to the start sleeps 2.5 s, longer than a stream's ring lasts. */
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "codec_plugin.h"

struct PWCodecStream {
    unsigned long long position;
};

static const unsigned long long kLength = 44100ULL * 60;

static int slowOpen(const char* path, PWCodecStream** stream, PWCodecInfo* info) {
    const size_t n = strlen(path);
    if (n < 9 || strcmp(path + n - 9, ".slowseek") != 0) return 1;
    *stream = calloc(1, sizeof **stream);
    if (!*stream) return -1;
    info->channels = 2;
    info->rate = 44100;
    info->lengthFrames = kLength;
    return 0;
}

static long slowRead(PWCodecStream* s, short* dst, unsigned long frames) {
    const unsigned long long left = kLength - s->position;
    const unsigned long take = frames < left ? frames : (unsigned long)left;
    memset(dst, 0, take * 2 * sizeof(short));
    s->position += take;
    return (long)take;
}

static int slowSeek(PWCodecStream* s, unsigned long long frame) {
    if (frame != 0) {
        const struct timespec pause = {2, 500000000};
        nanosleep(&pause, NULL);
    }
    s->position = frame;
    return 0;
}

static void slowClose(PWCodecStream* s) { free(s); }

static const PWCodecDescription kDescription = {"SlowSeek", 0x10001, "slowseek", slowOpen, slowRead, slowSeek,
                                                slowClose};

__attribute__((visibility("default"))) const PWCodecDescription* PWCodecPluginDescription(void) {
    return &kDescription;
}
