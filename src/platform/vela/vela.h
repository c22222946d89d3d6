/*
 * vela.h - the public C interface of libvela.so.1, the viewer's imaging
 * library.  The viewer never links against it: it loads the library with
 * dlopen and looks every function up by name, so this header is the whole
 * contract between the two.
 *
 * Images are width x height x bands (1 or 3) x type (VELA_BIT or VELA_BYTE).
 * Pixels are interleaved bytes, a 3-band image in blue, green, red order for
 * display; 1-bit rows are packed most significant bit first.  A child image
 * is a view into its parent's memory and must be destroyed before it.
 *
 * Functions that return int return 1 on success and 0 on failure unless they
 * say otherwise; failures are also reported to the installed error handler.
 */
#ifndef VELA_H
#define VELA_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VelaState VelaState;
typedef struct VelaImage VelaImage;
typedef struct VelaRoi VelaRoi;
typedef struct VelaError VelaError;

enum { VELA_BIT = 0, VELA_BYTE = 1 };

/* Error categories handed to the error handler. */
enum {
    VELA_ERROR_SYSTEM = 0,
    VELA_ERROR_RESOURCE = 1, /* out of memory or another resource */
    VELA_ERROR_ARITHMETIC = 2,
    VELA_ERROR_CIS_DATA = 3,
    VELA_ERROR_USER = 4,     /* bad arguments from the caller */
    VELA_ERROR_CONFIGURATION = 5,
    VELA_ERROR_OTHER = 6,
    VELA_ERROR_INTERNAL = 7
};

/* How an exported image's pixels lie in memory.  bit_offset is the bit of
 * the first byte where pixel 0 of a 1-bit row starts (0 = the MSB); it is
 * non-zero only for 1-bit child images that start inside a byte. */
typedef struct VelaMemoryStorage {
    unsigned char *data;  /* first byte of row 0 */
    int bytes_per_row;    /* stride between rows */
    int bytes_per_pixel;  /* stride between pixels; 0 for 1-bit images */
    int bit_offset;
} VelaMemoryStorage;

/* Returns 1 when the handler dealt with the error. */
typedef int (*VelaErrorFunc)(VelaError *err);

/* --- library state ------------------------------------------------------ */

/* Returns a new library state, or NULL; the caller owns it. */
VelaState *vela_open(void);
void vela_close(VelaState *state);

/* Replaces the state's error handler (NULL restores the default one, which
 * prints primary errors to standard error). */
int vela_install_error_handler(VelaState *state, VelaErrorFunc handler);
int vela_error_get_category(VelaError *err);
int vela_error_get_primary(VelaError *err);   /* 1 for the first error of a failing call */
const char *vela_error_get_string(VelaError *err); /* owned by the library */

/* --- images ---------------------------------------------------------------- */

/* Returns a new zero-filled image, or NULL; the caller destroys it. */
VelaImage *vela_create(VelaState *state, int width, int height, int nbands, int datatype);
/* Returns a new image holding a copy of the given area and bands of img. */
VelaImage *vela_create_copy(VelaImage *img, int x, int y, int width, int height,
                            int band0, int nbands);
/* Returns a new image that shares the given area and bands of img's memory. */
VelaImage *vela_create_child(VelaImage *img, int x, int y, int width, int height,
                             int band0, int nbands);
void vela_destroy(VelaImage *img);

void vela_get_info(VelaImage *img, int *width, int *height, int *nbands, int *datatype);
int vela_get_width(VelaImage *img);
int vela_get_height(VelaImage *img);
int vela_get_nbands(VelaImage *img);
int vela_get_datatype(VelaImage *img);
VelaState *vela_get_state(VelaImage *img);

/* Origin of the image in its own pixel coordinates; geometric operations
 * map source origin to destination origin.  Default (0, 0). */
int vela_set_origin(VelaImage *img, float x, float y);
void vela_get_origin(VelaImage *img, float *x, float *y);

/* Fills every pixel inside the image's region of interest with value[band]. */
int vela_set_value(VelaImage *img, const float *value);
/* Copies src into dst (same band count and type); the overlap of the two
 * sizes is copied, clipped by dst's region of interest.  src's origin lands
 * on dst's (the offset rounded as vela_affine rounds an identity), so with
 * src's origin at (-x, -y) its pixel (0, 0) lands on dst's (x, y). */
int vela_copy(VelaImage *src, VelaImage *dst);

/* --- raw access ------------------------------------------------------------ */

/* Makes the image's memory available to the caller until vela_import. */
int vela_export(VelaImage *img);
/* Fills *storage; the memory stays owned by the image. */
int vela_get_memory_storage(VelaImage *img, VelaMemoryStorage *storage);
/* Gives the image new pixel memory allocated with malloc; the image takes
 * ownership and frees its old memory.  Not allowed on child images or on
 * images that have children. */
int vela_set_memory_storage(VelaImage *img, const VelaMemoryStorage *storage);
/* Hands the memory back; changed says whether the caller wrote to it. */
int vela_import(VelaImage *img, int changed);
int vela_is_exported(VelaImage *img);

/* --- regions of interest ----------------------------------------------------- */

VelaRoi *vela_roi_create(VelaState *state);
int vela_roi_add_rect(VelaRoi *roi, int x, int y, int width, int height);
/* The image keeps its own copy; NULL removes the region (whole image). */
int vela_set_roi(VelaImage *img, VelaRoi *roi);
void vela_roi_destroy(VelaRoi *roi);

/* --- arithmetic ---------------------------------------------------------------- */

/* Converts between data types: bit -> byte gives 0 and 1, byte -> bit gives
 * 1 for every non-zero value. */
int vela_cast(VelaImage *src, VelaImage *dst);
/* dst = src op value[band], rounded and clamped to the type's range; src and
 * dst may be the same image.  As for vela_copy, the origins align the two
 * images and dst's region of interest limits the writes. */
int vela_add_const(VelaImage *src, const float *value, VelaImage *dst);
int vela_subtract_const(VelaImage *src, const float *value, VelaImage *dst);
int vela_multiply_const(VelaImage *src, const float *value, VelaImage *dst);
/* dst = src * scale[band] + offset[band], rounded and clamped. */
int vela_rescale(VelaImage *src, VelaImage *dst, const float *scale, const float *offset);

/* --- geometry ------------------------------------------------------------------ */

/* Maps src onto dst through the forward matrix m: a source point (x, y),
 * relative to src's origin, lands at (m[0]x + m[2]y + m[4], m[1]x + m[3]y +
 * m[5]) relative to dst's origin.  Each destination pixel inside dst's region
 * of interest whose centre maps back inside src takes the nearest source
 * pixel; the others are left as they were.  Only "nearest" is offered. */
int vela_affine(VelaImage *src, VelaImage *dst, const char *interpolation, const float *m);
/* vela_affine with (xscale, 0, 0, yscale, 0, 0). */
int vela_scale(VelaImage *src, VelaImage *dst, const char *interpolation,
               float xscale, float yscale);
/* vela_affine with a turn by angle radians, counter-clockwise on the screen. */
int vela_rotate(VelaImage *src, VelaImage *dst, const char *interpolation, float angle);

/* --- colour ---------------------------------------------------------------------
 *
 * A lookup maps index values of in_type (VELA_BIT or VELA_BYTE) to colours of
 * nbands bands of out_type.  Its entries cover the index values offset ..
 * offset + entries - 1; values are stored entry by entry, band by band.  A
 * colour cube is a lookup whose entries form a regular grid: index = offset +
 * sum over bands of level[b] * multiplier[b], level[b] in 0 .. dims[b] - 1
 * spread evenly over the value range; a negative multiplier counts that
 * band's levels downwards (the highest level gets the lowest index).
 */
typedef struct VelaLookup VelaLookup;
typedef struct VelaDitherMask VelaDitherMask;
typedef struct VelaKernel VelaKernel;
typedef struct VelaColorSpace VelaColorSpace;

/* Returns a new lookup (values NULL: all zero); the caller destroys it. */
VelaLookup *vela_lookup_create(VelaState *state, int in_type, int out_type, int nbands,
                               int entries, int offset, const unsigned char *values);
void vela_lookup_destroy(VelaLookup *lut);
/* Returns a standard lookup owned by the state: "cc496" is the 216-entry
 * colour cube with 4 blue, 9 green and 6 red levels (multipliers 1, 4, 36)
 * at offset 40.  NULL for an unknown name. */
VelaLookup *vela_lookup_get_by_name(VelaState *state, const char *name);
/* dst = the lookup's colour of each src index: src has 1 band of the
 * lookup's in_type, dst the lookup's bands and out_type. */
int vela_lookup(VelaImage *src, VelaImage *dst, VelaLookup *lut);
/* Copies count entries starting at index value first (offset-based). */
int vela_lookup_get_values(VelaLookup *lut, int first, int count, unsigned char *values);
int vela_lookup_set_values(VelaLookup *lut, int first, int count, const unsigned char *values);
int vela_lookup_get_offset(VelaLookup *lut);
int vela_lookup_set_offset(VelaLookup *lut, int offset);
int vela_lookup_get_num_entries(VelaLookup *lut);
int vela_lookup_get_nbands(VelaLookup *lut);
/* Returns a new 1-band lookup from a's index values to the index value of
 * b's entry nearest to each of a's colours (same band count). */
VelaLookup *vela_lookup_convert(VelaLookup *a, VelaLookup *b);
/* Returns a new colour cube; multipliers and dims have nbands elements. */
VelaLookup *vela_colorcube_create(VelaState *state, int in_type, int out_type, int nbands,
                                  int offset, const int *multipliers, const unsigned int *dims);

/* Returns a new lookup of at most ncolors 3-band colours (offset 0) chosen
 * to represent the 3-band byte image well. */
VelaLookup *vela_choose_colormap(VelaImage *img, int ncolors);
/* dst (1 band, byte) = index value of the lookup entry nearest to each
 * src colour (3 bands, byte). */
int vela_nearest_color(VelaImage *src, VelaImage *dst, VelaLookup *lut);

/* Ordered dither masks: width x height thresholds in 0 .. 1 per band. */
VelaDitherMask *vela_dithermask_create(VelaState *state, int width, int height, int nbands,
                                       const float *values);
void vela_dithermask_destroy(VelaDitherMask *mask);
/* Returns a standard mask owned by the state: "dm443" is a 4 x 4 mask with
 * 3 bands. */
VelaDitherMask *vela_dithermask_get_by_name(VelaState *state, const char *name);
/* dst (1 band, the cube's in_type) = cube index of each src pixel (the
 * cube's bands, its out_type), dithered with the mask. */
int vela_ordered_dither(VelaImage *src, VelaImage *dst, VelaLookup *cube, VelaDitherMask *mask);

/* Error-diffusion kernels; "floyd-steinberg" is owned by the state. */
VelaKernel *vela_kernel_get_by_name(VelaState *state, const char *name);
/* As vela_ordered_dither, spreading each pixel's error with the kernel. */
int vela_error_diffusion(VelaImage *src, VelaImage *dst, VelaLookup *cube, VelaKernel *kernel);

/* Colour spaces "rgblinear", "ylinear", "rgb709", "ycc601", "photoycc",
 * owned by the state.  An image's colour space says how vela_color_convert
 * reads or writes it.  The RGB spaces keep the display's band order: band 0
 * blue, 1 green, 2 red; the YCC spaces hold Y, Cb (or C1), Cr (or C2) in
 * bands 0, 1, 2; "ylinear" has one band. */
VelaColorSpace *vela_colorspace_get_by_name(VelaState *state, const char *name);
int vela_set_colorspace(VelaImage *img, VelaColorSpace *space);
VelaColorSpace *vela_get_colorspace(VelaImage *img);
/* Converts src from its colour space into dst's. */
int vela_color_convert(VelaImage *src, VelaImage *dst);

/* --- window images ----------------------------------------------------------------
 *
 * An image bound to an X window, as large as the window and in its terms:
 * 3 bands (blue, green, red) for TrueColor and DirectColor visuals, pixel
 * values (1 band) for the others, bits for 1-bit windows.  vela_copy and
 * vela_set_value into it paint the areas they write; destroying it frees its
 * X resources.  The window must not change size while the image lives.
 */
struct _XDisplay;
VelaImage *vela_create_from_window(VelaState *state, struct _XDisplay *display,
                                   unsigned long window);

/* --- JPEG and Photo CD ------------------------------------------------------------
 *
 * A compressed image sequence is a queue of compressed frames.  The "Jpeg"
 * sequence holds JPEG interchange streams; its images are 1 band (grey) or
 * 3 bands holding Y, Cb, Cr at full range (0..255, chroma about 128, as
 * JFIF defines them) in bands 0, 1, 2.  The streams it writes carry no JFIF
 * or Adobe segment: the caller adds the one it wants.
 */
typedef struct VelaCis VelaCis;
typedef struct VelaImageType VelaImageType;
/* Called with the bits given to vela_cis_put_bits_ptr once the library no
 * longer reads them. */
typedef void (*VelaDataReleaseFunc)(void *bits);

/* Returns a new sequence for the named compressor ("Jpeg"), or NULL; the
 * caller destroys it. */
VelaCis *vela_cis_create(VelaState *state, const char *compressor);
/* Destroys the sequence; buffers still queued go to their release functions. */
void vela_cis_destroy(VelaCis *cis);
/* Queues nframes frames held in the nbytes bytes at bits without copying
 * them.  The library reads the bytes until those frames are decompressed or
 * taken back out, or the sequence is destroyed, then calls release(bits)
 * (when not NULL).  On failure nothing is queued and release is not called. */
int vela_cis_put_bits_ptr(VelaCis *cis, int nbytes, int nframes, void *bits,
                          VelaDataReleaseFunc release);
/* Takes the bytes of the next queued buffer out of the sequence: returns
 * them with their size and frame count, or NULL when none is queued.  The
 * bytes stay valid until the next call or the sequence's destruction. */
void *vela_cis_get_bits_ptr(VelaCis *cis, int *nbytes, int *nframes);
/* Returns the number of compressed bytes queued (at most INT_MAX), 0 when
 * none, -1 without a sequence. */
int vela_cis_has_data(VelaCis *cis);
/* Returns the type of image the next frame decompresses into, or NULL when
 * no frame is queued or its header is not valid; owned by the sequence and
 * valid until the frame is decompressed or taken. */
VelaImageType *vela_cis_get_output_type(VelaCis *cis);
void vela_imagetype_get_info(VelaImageType *type, int *width, int *height, int *nbands,
                             int *datatype);
/* Decompresses the next frame into dst, which has the size, bands and type
 * of vela_cis_get_output_type.  A 3-band dst tagged "rgb709" receives the
 * display's blue, green, red (JFIF's conversion, done while decoding);
 * otherwise it receives Y, Cb, Cr.  A frame that fails to decode leaves
 * the queue with the rest of its buffer. */
int vela_decompress(VelaCis *cis, VelaImage *dst);
/* Compresses src (1 band, or 3 bands of Y, Cb, Cr; bytes) into one frame
 * queued at the end of the sequence. */
int vela_compress(VelaImage *src, VelaCis *cis);

/* Input devices.  "ioQRVXPhotoCD" reads a Kodak Photo CD image pack; it
 * takes no creation arguments (NULL).  Its image has 3 bands of PhotoYCC
 * (Y, C1, C2 as the pack stores them, chroma interpolated to full size),
 * as large as the chosen resolution, and is ready once "FILEPATH" is set.
 * Attributes, each value given and read through a pointer:
 *   "FILEPATH"    const char *: the image pack to read
 *   "RESOLUTION"  int: 0 Base/16 (192 x 128, the default), 1 Base/4,
 *                 2 Base (768 x 512), 3 4Base (1536 x 1024)
 *   "ROTATION"    int, read only: the quarter turns counter-clockwise that
 *                 show the picture upright, 0..3, as the pack says
 * Setting an attribute decodes the picture anew; when that fails the image
 * keeps what it had. */
VelaImage *vela_create_from_device(VelaState *state, const char *device_name, void *args);
int vela_set_device_attribute(VelaImage *img, const char *name, const void *value);
int vela_get_device_attribute(VelaImage *img, const char *name, void *value);

#ifdef __cplusplus
}
#endif

#endif
