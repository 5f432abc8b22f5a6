#include "MixDownEncoder.h"

int ucLoadEncoder() { return 0; }

int ucInitStream(UC_CONFIG*, unsigned long*, unsigned long*, unsigned long*) { return 0; }

int ucEncodeChunk(unsigned long, unsigned long, short*, unsigned char*, unsigned long*) { return 0; }

int ucEncodeChunkFloatS16NI(unsigned long, unsigned long, float*, float*, unsigned char*, unsigned long*) {
    return 0;
}

int ucDeinitStream(unsigned long, unsigned char*, unsigned long*) { return 0; }

int ucCloseStream(unsigned long) { return 0; }

int ucWriteInfoTag(unsigned long, const char*) { return 0; }

int ucWriteVBRHeader(const char*) { return 0; }
