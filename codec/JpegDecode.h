/* libjpeg-turbo behind calls that return: its errors end in a jump, which
 * stays inside JpegDecode.c, a C file with no C++ frame to jump across. */
#ifndef TOBREL_JPEG_DECODE_H
#define TOBREL_JPEG_DECODE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum
{
    JPEG_DECODE_OK,
    JPEG_DECODE_DAMAGED,   /* an error, cut short, or data the decoder warned of */
    JPEG_DECODE_NO_MEMORY, /* more than the memory allowed, or none left */
    JPEG_DECODE_TOO_LARGE, /* a side over what the decoder takes */
    JPEG_DECODE_CMYK,      /* four colour components */
};

/* The next piece of the file into *data; 0 at its end. It must return, and
 * must not throw. */
typedef size_t (*JpegRead)(void* context, const unsigned char** data);

typedef struct JpegDecode JpegDecode;

/* Null when there is no memory for it. */
JpegDecode* JpegDecodeNew(JpegRead read, void* context);
void JpegDecodeDelete(JpegDecode* jpeg);
/* Reads the header: the size, and the bytes a multi-scan (progressive) file
 * keeps of its coefficients while it is decoded. */
int JpegDecodeHeader(JpegDecode* jpeg, uint32_t* width, uint32_t* height, uint64_t* memory);
/* Begins decoding into 3 channels (blue, green, red) or 4 (alpha 255),
 * allowing the decoder `memoryLimit` bytes for its coefficients. */
int JpegDecodeStart(JpegDecode* jpeg, int channels, uint64_t memoryLimit);
/* The next `count` rows, `stride` bytes apart, into `out`. */
int JpegDecodeRows(JpegDecode* jpeg, unsigned char* out, uint32_t count, size_t stride);
/* After the last row: the file read to its end marker. */
int JpegDecodeFinish(JpegDecode* jpeg);

#ifdef __cplusplus
}
#endif

#endif
