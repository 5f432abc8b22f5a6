#include "EngineInfo.h"

const char* engineVersion() { return sizeof(void*) == 8 ? "2.7.0.67-64" : "2.7.0.67-32"; }

void formatUuid(const unsigned char bytes[16], char text[kUuidTextSize]) {
    static const char kHex[] = "0123456789abcdef";
    int at = 0;
    for (int i = 0; i < 16; ++i) {
        text[at++] = kHex[bytes[i] >> 4];
        text[at++] = kHex[bytes[i] & 0x0F];
        if (i == 3 || i == 5 || i == 7 || i == 9) text[at++] = '-';
    }
    text[at] = '\0';
}

const char* supportedAudioFileList(bool haveAACPlugin) {
    return haveAACPlugin ? "mp3|mp2|mp1|ogg|wav|flac|aiff|aif|m4a|aac" : "mp3|mp2|mp1|ogg|wav|flac|aiff|aif";
}
