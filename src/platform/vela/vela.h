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
 * sizes is copied, clipped by dst's region of interest. */
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
 * dst may be the same image. */
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

#ifdef __cplusplus
}
#endif

#endif
