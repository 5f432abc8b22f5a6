/* The C interface of a codec plug-in: a shared object loaded with System::loadPlugin that exports
 * `PWCodecPluginDescription`. Plain C so that a plug-in links nothing of ours. */
#ifndef PW_CODEC_PLUGIN_H
#define PW_CODEC_PLUGIN_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PWCodecStream PWCodecStream; /* the plug-in's own per-file state */

typedef struct PWCodecInfo {
    int channels;
    int rate;
    unsigned long long lengthFrames; /* exact: what the file's data holds */
    int cutShort;                    /* non-zero: the data ends before the length the file declares */
} PWCodecInfo;

typedef struct PWCodecDescription {
    const char* name;        /* e.g. "AAC" */
    unsigned int version;    /* e.g. 0x10003 */
    const char* extensions;  /* space-separated, lower case, e.g. "m4a aac" */
    /* Opens a UTF-8 path; 0 on success, non-zero when the file is not for this codec. */
    int (*open)(const char* path, PWCodecStream** stream, PWCodecInfo* info);
    /* Reads up to `frames` frames of interleaved 16-bit PCM; returns frames read, 0 at the end,
     * negative on error. */
    long (*read)(PWCodecStream* stream, short* dst, unsigned long frames);
    /* Sample-exact seek; 0 on success. */
    int (*seek)(PWCodecStream* stream, unsigned long long frame);
    void (*close)(PWCodecStream* stream);
} PWCodecDescription;

/* Every codec plug-in exports this function. */
typedef const PWCodecDescription* (*PWCodecPluginDescriptionFn)(void);
#define PW_CODEC_PLUGIN_ENTRY "PWCodecPluginDescription"

#ifdef __cplusplus
}
#endif

#endif
