/* libjpeg reports an error by calling error_exit, which must not return:
 * here it jumps back to the call that began the work, through libjpeg's own
 * frames only. Warnings that say the data is cut short or corrupt count as
 * damage, since the decoder would fill in what it could not read. */

#include "JpegDecode.h"

#include <limits.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>

#include <jerror.h>
#include <jpeglib.h>

struct JpegDecode
{
    struct jpeg_decompress_struct info;
    struct jpeg_error_mgr error;
    struct jpeg_source_mgr source;
    jmp_buf escape;
    JpegRead read;
    void* context;
    int failure;  /* what the last error or warning was */
    int created;
};

static const JOCTET c_abEndOfImage[2] = {0xFF, JPEG_EOI};

static int FailureOf(int code)
{
    switch (code) {
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
    case JERR_TFILE_CREATE:
        return JPEG_DECODE_NO_MEMORY;
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        return JPEG_DECODE_TOO_LARGE;
    default:
        return JPEG_DECODE_DAMAGED;
    }
}

static void ErrorExit(j_common_ptr info)
{
    JpegDecode* jpeg = (JpegDecode*)info->client_data;
    jpeg->failure = FailureOf(info->err->msg_code);
    longjmp(jpeg->escape, 1);
}

static void EmitMessage(j_common_ptr info, int level)
{
    JpegDecode* jpeg = (JpegDecode*)info->client_data;
    if (level >= 0)
        return;  /* trace messages */
    switch (info->err->msg_code) {
    /* Metadata the pixels do not depend on. */
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC:
        return;
    default:
        if (jpeg->failure == JPEG_DECODE_OK)
            jpeg->failure = JPEG_DECODE_DAMAGED;
    }
}

static void OutputMessage(j_common_ptr info)
{
    (void)info;  /* nothing is printed */
}

static void InitSource(j_decompress_ptr info)
{
    (void)info;
}

static boolean FillInput(j_decompress_ptr info)
{
    JpegDecode* jpeg = (JpegDecode*)info->client_data;
    const unsigned char* data = NULL;
    size_t size = jpeg->read(jpeg->context, &data);
    if (size == 0) {
        /* The file ends early: an end marker lets the decoder stop, the
         * warning marks the picture as damaged. */
        WARNMS(info, JWRN_JPEG_EOF);
        data = c_abEndOfImage;
        size = sizeof c_abEndOfImage;
    }
    info->src->next_input_byte = data;
    info->src->bytes_in_buffer = size;
    return TRUE;
}

static void SkipInput(j_decompress_ptr info, long count)
{
    struct jpeg_source_mgr* source = info->src;
    if (count <= 0)
        return;
    while ((size_t)count > source->bytes_in_buffer) {
        count -= (long)source->bytes_in_buffer;
        FillInput(info);
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= (size_t)count;
}

static void TermSource(j_decompress_ptr info)
{
    (void)info;
}

static int Create(JpegDecode* jpeg)
{
    if (setjmp(jpeg->escape))
        return 0;
    jpeg_create_decompress(&jpeg->info);
    return 1;
}

JpegDecode* JpegDecodeNew(JpegRead read, void* context)
{
    JpegDecode* jpeg = (JpegDecode*)calloc(1, sizeof(JpegDecode));
    if (!jpeg)
        return NULL;
    jpeg->read = read;
    jpeg->context = context;
    jpeg->info.err = jpeg_std_error(&jpeg->error);
    jpeg->error.error_exit = ErrorExit;
    jpeg->error.emit_message = EmitMessage;
    jpeg->error.output_message = OutputMessage;
    jpeg->info.client_data = jpeg;
    if (!Create(jpeg)) {
        free(jpeg);
        return NULL;
    }
    jpeg->created = 1;
    jpeg->source.init_source = InitSource;
    jpeg->source.fill_input_buffer = FillInput;
    jpeg->source.skip_input_data = SkipInput;
    jpeg->source.resync_to_restart = jpeg_resync_to_restart;
    jpeg->source.term_source = TermSource;
    jpeg->info.src = &jpeg->source;
    return jpeg;
}

void JpegDecodeDelete(JpegDecode* jpeg)
{
    if (!jpeg)
        return;
    if (jpeg->created)
        jpeg_destroy_decompress(&jpeg->info);
    free(jpeg);
}

int JpegDecodeHeader(JpegDecode* jpeg, uint32_t* width, uint32_t* height, uint64_t* memory)
{
    jpeg_component_info* component;
    uint64_t blocks = 0;
    int i;
    if (setjmp(jpeg->escape))
        return jpeg->failure;
    jpeg_read_header(&jpeg->info, TRUE);
    if (jpeg->failure != JPEG_DECODE_OK)
        return jpeg->failure;
    if (jpeg->info.jpeg_color_space == JCS_CMYK || jpeg->info.jpeg_color_space == JCS_YCCK)
        return JPEG_DECODE_CMYK;
    *width = jpeg->info.image_width;
    *height = jpeg->info.image_height;
    /* A file of several scans keeps every block's coefficients until the
     * last scan is read. */
    if (jpeg_has_multiple_scans(&jpeg->info)) {
        for (i = 0, component = jpeg->info.comp_info; i < jpeg->info.num_components; ++i, ++component) {
            const uint64_t across = ((uint64_t)jpeg->info.image_width * (uint64_t)component->h_samp_factor +
                                     (uint64_t)jpeg->info.max_h_samp_factor * DCTSIZE - 1) /
                                    ((uint64_t)jpeg->info.max_h_samp_factor * DCTSIZE);
            const uint64_t down = ((uint64_t)jpeg->info.image_height * (uint64_t)component->v_samp_factor +
                                   (uint64_t)jpeg->info.max_v_samp_factor * DCTSIZE - 1) /
                                  ((uint64_t)jpeg->info.max_v_samp_factor * DCTSIZE);
            /* Rounded up to whole MCUs. */
            blocks += (across + (uint64_t)component->h_samp_factor) * (down + (uint64_t)component->v_samp_factor);
        }
    }
    *memory = blocks * DCTSIZE2 * sizeof(JCOEF);
    return JPEG_DECODE_OK;
}

int JpegDecodeStart(JpegDecode* jpeg, int channels, uint64_t memoryLimit)
{
    if (setjmp(jpeg->escape))
        return jpeg->failure;
    jpeg->info.out_color_space = channels == 4 ? JCS_EXT_BGRA : JCS_EXT_BGR;
    jpeg->info.mem->max_memory_to_use = (long)(memoryLimit < (uint64_t)(LONG_MAX) ? memoryLimit : (uint64_t)LONG_MAX);
    jpeg_start_decompress(&jpeg->info);
    return jpeg->failure;
}

int JpegDecodeRows(JpegDecode* jpeg, unsigned char* out, uint32_t count, size_t stride)
{
    JSAMPROW rows[16];
    volatile uint32_t done = 0;  /* changed between the jump's ends */
    uint32_t i;
    if (setjmp(jpeg->escape))
        return jpeg->failure;
    while (done < count && jpeg->failure == JPEG_DECODE_OK) {
        const uint32_t want = count - done < 16 ? count - done : 16;
        JDIMENSION got;
        for (i = 0; i < want; ++i)
            rows[i] = out + (size_t)(done + i) * stride;
        got = jpeg_read_scanlines(&jpeg->info, rows, want);
        if (got == 0)
            return JPEG_DECODE_DAMAGED;
        done += got;
    }
    return jpeg->failure;
}

int JpegDecodeFinish(JpegDecode* jpeg)
{
    if (setjmp(jpeg->escape))
        return jpeg->failure;
    if (jpeg->failure == JPEG_DECODE_OK)
        jpeg_finish_decompress(&jpeg->info);
    return jpeg->failure;
}
