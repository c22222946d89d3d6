// image.h - the image record of an open document, the file-format table,
// the display record of each canvas, and a small integer hash table.
#pragma once

#include <X11/Intrinsic.h>
#include <cstdint>

#include "platform/vela/vela.h"

struct ImageRec;
struct VelaCis;

// One row of the file-format table.
struct FormatEntry {
    int type;                   // format code, equal to the row index
    const char *dt_name;        // data-typing name, the key of typing
    const char *display_name;   // shown in the Open As and Save As lists
    const char *short_name;     // or nullptr
    int (*load)(ImageRec *);    // 0 loaded, -1 not this format, other: reported
    int (*save)(ImageRec *);    // 0 written; nullptr when not writable
    const char *converter;      // program writing PNM on its output, or nullptr
};

enum {
    FMT_RASTER = 0, FMT_TIFF = 1, FMT_GIF = 2, FMT_PS = 3, FMT_EPSF = 4,
    FMT_XPM = 6, FMT_PPM = 10, FMT_PGM = 11, FMT_PBM = 12, FMT_JFIF = 13,
    FMT_PCD16 = 14, FMT_PCD4 = 15, FMT_PCD = 16, FMT_PCD4BASE = 17,
    FMT_XBM = 41, FMT_AUTO = 44, FMT_NONE = 45
};

extern const int ntypes;                // 45
extern FormatEntry all_types[];
extern FormatEntry file_no_type;        // snapshots: code 45, no names

// Compression of a file, as the image record and the save flow name it.
enum { COMP_NONE = 0, COMP_UNIX = 1, COMP_ENCODED = 2, COMP_LZW = 3 };

using DisplayFunc = VelaImage *(*)(VelaImage *);
using TransformFunc = void (*)(VelaImage *);

struct ImageRec {
    FormatEntry *type;
    char *file;                 // display name, owned; "Untitled" without one
    char *realfile;             // file actually read; == file when the same
    int file_size;              // bytes of the document's contents
    char *data;                 // in-memory contents, or nullptr
    int data_owned;             // 1: destroy_image frees data
    int width, height;          // pixels; the view image's after a change
    int bands;                  // 1 or 3
    int datatype;               // VELA_BIT or VELA_BYTE
    int depth;                  // bits per pixel of the file: 1, 8 or 24
    int bytes_per_line;
    int output_conversion;      // converting for a file, not the screen
    int colormap_reduced;       // colormap replaced by 216 colours
    int offset_added;           // output pixels carry the colormap offset
    int gray_converted;         // image is the grey of colour_image
    int rgb_order;              // 1: band 0 of 3-band data is red
    int compression;            // COMP_*
    unsigned char *red, *green, *blue;
    unsigned char *saved_red, *saved_green, *saved_blue;
    int colors_compacted;
    VelaCis *cis;               // JPEG compressed sequence
    VelaImage *orig_image;      // decoded pixels
    VelaImage *colour_image;    // set aside while orig_image holds grey
    VelaImage *view_image;      // after zoom, rotation and flips
    VelaImage *spare_image;
    VelaImage *display_image;   // view image converted for the canvas
    Colormap cmap;              // private X colormap, 0 when none
    int ncolors;
    int saved_ncolors;
    int offset;                 // X pixel value of colormap entry 0
    int pages;                  // PostScript page count
    TransformFunc rotate_func, zoom_func, hflip_func, vflip_func, turnover_func, revert_func;
    DisplayFunc display_func;
    int orientation;            // 2; PostScript landscape documents set 1
    float hres, vres;           // dots per resolution unit
    uint16_t res_unit;          // 2 = inch, as in TIFF
    int file_borrowed;          // file is the caller's string (no memory left)
};

// One per canvas: the raster canvas image_display and the PostScript canvas
// ps_display; current_display is the one in use.
struct DisplayRec {
    Widget canvas;
    Window win;
    GC gc;
    int depth;                  // bits of the canvas visual: 1, 4, 8 or 24
    uint16_t height, width;     // canvas size, pixels
    VelaState *state;           // imaging library (raster canvas only)
    VelaImage *window_image;    // paints the canvas window
    Display *xdisplay;
    Visual *visual;
    Colormap cmap;
    GC bg_gc;                   // grey stipple outside the image
    GC xor_gc;                  // selection rubber band
    float hres, vres;           // screen resolution, dots per inch
    float background[3];        // background value per band
    float white[3];             // white value per band
    float white_pixel;
    int black_pixel;
    float page_width, page_height; // PostScript paper, inches
};

extern ImageRec *current_image;
extern DisplayRec *image_display;
extern DisplayRec *ps_display;
extern DisplayRec *current_display;

// True for the PostScript formats (codes 3 and 4).
inline bool is_postscript(const FormatEntry *f) { return f != nullptr && (f->type == FMT_PS || f->type == FMT_EPSF); }

// Returns a new image record; destroy it with destroy_image.  name and path
// are copied (path shares name's copy when equal); data is referenced, not
// copied.
ImageRec *init_image(const char *name, const char *path, int data_length, FormatEntry *format,
                     char *data);
// Returns the first row whose data-typing name is name (exact), or nullptr.
FormatEntry *str_to_ftype(const char *name);
void destroy_image(ImageRec *image);
// Copies the colormap and image description of old_image into new_image.
void copy_image_data(ImageRec *new_image, ImageRec *old_image);

// Integer hash table counting distinct colours.
struct HashNode {
    HashNode *chain;            // next in the bucket
    HashNode *next_all;         // next in the list of every node
    int key;
    int value;
};
struct HashTable {
    int nbuckets;
    HashNode **buckets;
    HashNode *all;
};

// Returns a new table of n buckets, or nullptr when memory runs out.
HashTable *make_hash(int n);
// Returns the value slot of key (inserted with 0 when new), or nullptr when
// memory runs out.  The slot lives until destroy_hash.
int *get_hash(HashTable *table, int key);
// Frees every node, calling fn(value, arg, key) first when fn is given.
void destroy_hash(HashTable *table, void (*fn)(int value, void *arg, int key), void *arg);
