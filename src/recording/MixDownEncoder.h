// The encoder interface behind the recorder's format 2. No encoder ships with this system: every
// function does nothing and returns 0, so ucLoadEncoder reports none, format 2 is refused and the
// format list names WAV only. Kept so that the recorder's encoder path stays in one place.
//
// Thread safety: stateless; any thread.
#pragma once

// Stream configuration an encoder would take; no encoder reads it here.
struct UC_CONFIG;

int ucLoadEncoder();
int ucInitStream(UC_CONFIG* config, unsigned long* encoderValue, unsigned long* outputBufferSize,
                 unsigned long* stream);
int ucEncodeChunk(unsigned long stream, unsigned long sampleCount, short* input, unsigned char* output,
                  unsigned long* outputBytes);
int ucEncodeChunkFloatS16NI(unsigned long stream, unsigned long sampleCount, float* left, float* right,
                            unsigned char* output, unsigned long* outputBytes);
int ucDeinitStream(unsigned long stream, unsigned char* output, unsigned long* outputBytes);
int ucCloseStream(unsigned long stream);
int ucWriteInfoTag(unsigned long stream, const char* info);
int ucWriteVBRHeader(const char* path);
