// image.cc - the image record, the file-format table and the colour hash.
#include "image/image.h"

#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <cstring>

#include "app/corvat.h"
#include "app/msg.h"
#include "app/misc.h"
#include "formats/gif.h"
#include "formats/jfif.h"
#include "formats/photocd.h"
#include "formats/ppm.h"
#include "formats/tiff.h"
#include "formats/xv.h"
#include "formats/rast.h"
#include "image/state.h"
#include "image/vela_iface.h"

ImageRec *current_image = nullptr;
DisplayRec *image_display = nullptr;
DisplayRec *ps_display = nullptr;
DisplayRec *current_display = nullptr;

// Converter programs are netpbm's, in /usr/bin.  Debian's netpbm lacks
// picttoppm (the PICT row then fails to open like any unreadable file) and
// names the FITS reader fitstopnm.
#define NETPBM(prog) "/usr/bin/" prog

const int ntypes = 45;

FormatEntry all_types[] = {
    {0, "Kestrel-raster", "Kestrel Raster", "Kestrel_Raster", rast_load, rast_save, nullptr},
    {1, "TIFF", "TIFF", "TIFF", tiff_load, tiff_save, nullptr},
    {2, "GIF", "GIF", "GIF", gif_load, gif_save, nullptr},
    {3, "POSTSCRIPT", "PostScript", "PostScript", nullptr, nullptr, nullptr},
    {4, "epsf-file", "EPSF", "EPS", nullptr, nullptr, nullptr},
    {5, "pict-file", "PICT", nullptr, ppm_load, nullptr, NETPBM("picttoppm")},
    {6, "PM", "XPM", "XPM", xpm_load, xpm_save, nullptr},
    {7, "ilbm-file", "IFF ILBM", nullptr, ppm_load, nullptr, NETPBM("ilbmtoppm")},
    {8, "pi1-file", "Atari Degas 1", nullptr, ppm_load, nullptr, NETPBM("pi1toppm")},
    {9, "pcx-file", "PC Paintbrush", nullptr, ppm_load, nullptr, NETPBM("pcxtoppm")},
    {10, "ppm-file", "PPM", nullptr, ppm_load, nullptr, nullptr},
    {11, "pgm-file", "PGM", nullptr, ppm_load, nullptr, nullptr},
    {12, "pbm-file", "PBM", nullptr, ppm_load, nullptr, nullptr},
    {13, "JPEG", "JFIF (JPEG)", "JPEG", jfif_load, jfif_save, nullptr},
    {14, "photocd-file/16", "Kodak Photo CD (Base/16)", nullptr, photocd_load, nullptr, nullptr},
    {15, "photocd-file/4", "Kodak Photo CD (Base/4)", nullptr, photocd_load, nullptr, nullptr},
    {16, "photocd-file", "Kodak Photo CD (Base)", "PhotoCD", photocd_load, nullptr, nullptr},
    {17, "4photocd-file", "Kodak Photo CD (4Base)", nullptr, photocd_load, nullptr, nullptr},
    {18, "tga-file", "TrueVision Targa", nullptr, ppm_load, nullptr, NETPBM("tgatoppm")},
    {19, "pj-file", "HP PaintJet", nullptr, ppm_load, nullptr, NETPBM("pjtoppm")},
    {20, "xim-file", "Xim", nullptr, ppm_load, nullptr, NETPBM("ximtoppm")},
    {21, "mtv-file", "MTV/PRT Ray-Tracer", nullptr, ppm_load, nullptr, NETPBM("mtvtoppm")},
    {22, "qrt-file", "QRT Ray-Tracer", nullptr, ppm_load, nullptr, NETPBM("qrttoppm")},
    {23, "imgw-file", "Img-Whatnot", nullptr, ppm_load, nullptr, NETPBM("imgtoppm")},
    {24, "sld-file", "AutoCAD Slide", nullptr, ppm_load, nullptr, NETPBM("sldtoppm")},
    {25, "spc-file", "Atari Compressed Spectrum", nullptr, ppm_load, nullptr, NETPBM("spctoppm")},
    {26, "spu-file", "Atari Uncompressed Spectrum", nullptr, ppm_load, nullptr, NETPBM("sputoppm")},
    {27, "gould-file", "Gould Scanner", nullptr, ppm_load, nullptr, NETPBM("gouldtoppm")},
    {28, "fs-file", "Usenix FaceSaver", nullptr, ppm_load, nullptr, NETPBM("fstopgm")},
    {29, "fits-file", "FITS", nullptr, ppm_load, nullptr, NETPBM("fitstopnm")},
    {30, "lispm-file", "Lisp Machine Bit-Array", nullptr, ppm_load, nullptr, NETPBM("lispmtopgm")},
    {31, "hips-file", "HIPS", nullptr, ppm_load, nullptr, NETPBM("hipstopgm")},
    {32, "mac-file", "MacPaint", nullptr, ppm_load, nullptr, NETPBM("macptopbm")},
    {33, "atk-file", "Andrew Toolkit", nullptr, ppm_load, nullptr, NETPBM("atktopbm")},
    {34, "brush-file", "Xerox Doodle Brush", nullptr, ppm_load, nullptr, NETPBM("brushtopbm")},
    {35, "cmu-file", "CMU Window Manager", nullptr, ppm_load, nullptr, NETPBM("cmuwmtopbm")},
    {36, "mgr-file", "MGR", nullptr, ppm_load, nullptr, NETPBM("mgrtopbm")},
    {37, "g3-file", "Group 3 FAX", nullptr, ppm_load, nullptr, NETPBM("g3topbm")},
    {38, "img-file", "GEM", nullptr, ppm_load, nullptr, NETPBM("gemtopbm")},
    {39, "kestrel-icon-image", "Kestrel Icon", nullptr, ppm_load, nullptr, NETPBM("icontopbm")},
    {40, "pi3-file", "Atari Degas 3", nullptr, ppm_load, nullptr, NETPBM("pi3topbm")},
    {41, "BM", "X Bitmap", "XBM", xbm_load, nullptr, nullptr},
    {42, "ybm-file", "Benet Yee Face File", nullptr, ppm_load, nullptr, NETPBM("ybmtopbm")},
    {43, "XWD", "X11 Window Dump", nullptr, ppm_load, nullptr, NETPBM("xwdtopnm")},
    {44, "Automatic", "Automatic", nullptr, nullptr, nullptr, nullptr},
};

FormatEntry file_no_type = {45, "", "", nullptr, nullptr, nullptr, nullptr};

static_assert(sizeof all_types / sizeof all_types[0] == 45, "the format table has 45 rows");

ImageRec *init_image(const char *name, const char *path, int data_length, FormatEntry *format,
                     char *data)
{
    ImageRec *image = static_cast<ImageRec *>(std::calloc(1, sizeof(ImageRec)));
    if (image == nullptr)
        OutOfMemory();
    image->type = format;
    if (name != nullptr) {
        image->file = strdup(name);
        if (image->file == nullptr) {
            if (prog != nullptr && prog->verbose)
                std::fputs(catmsg(1, 71, "cannot malloc memory\n"), stderr);
            image->file = const_cast<char *>(name);
            image->file_borrowed = 1;
        }
    } else {
        const char *untitled = catmsg(1, 352, "Untitled");
        image->file = strdup(untitled);
        if (image->file == nullptr) {
            if (prog != nullptr && prog->verbose)
                std::fputs(catmsg(1, 72, "cannot malloc memory\n"), stderr);
            image->file = const_cast<char *>(untitled);
            image->file_borrowed = 1;
        }
    }
    if (path != nullptr && name != nullptr && std::strcmp(path, name) != 0) {
        image->realfile = strdup(path);
        if (image->realfile == nullptr)
            OutOfMemory();
    } else {
        image->realfile = image->file;
    }
    image->file_size = data_length;
    image->data = data;
    image->datatype = VELA_BYTE;
    image->rgb_order = 1;
    image->orientation = 2;
    image->hres = 72.0f;
    image->vres = 72.0f;
    image->res_unit = 2;
    set_transform_funcs(image);
    return image;
}

FormatEntry *str_to_ftype(const char *name)
{
    if (name == nullptr)
        return nullptr;
    for (int i = 0; i < ntypes; i++)
        if (std::strcmp(all_types[i].dt_name, name) == 0)
            return &all_types[i];
    return nullptr;
}

void destroy_image(ImageRec *image)
{
    if (image == nullptr)
        return;
    std::free(image->red);
    std::free(image->green);
    std::free(image->blue);
    std::free(image->saved_red);
    std::free(image->saved_green);
    std::free(image->saved_blue);
    // The colour picture a grey conversion keeps for its undoing goes too.
    VelaImage *images[] = {image->orig_image, image->view_image, image->spare_image,
                           image->display_image, image->colour_image};
    for (size_t i = 0; i < std::size(images); i++) {
        bool seen = false;
        for (size_t j = 0; j < i; j++)
            seen = seen || images[j] == images[i];
        if (images[i] != nullptr && !seen)
            vela_destroy(images[i]);
    }
    if (image->data_owned)
        std::free(image->data);
    if (image->cmap != 0 && !is_postscript(image->type) && image_display != nullptr &&
        image_display->xdisplay != nullptr)
        XFreeColormap(image_display->xdisplay, image->cmap);
    if (image->realfile != image->file)
        std::free(image->realfile);
    if (!image->file_borrowed)
        std::free(image->file);
    std::free(image);
}

// Returns a malloc'ed copy of n bytes of src (nullptr when src is), or exits.
static unsigned char *copy_bytes(const unsigned char *src, int n)
{
    if (src == nullptr || n <= 0)
        return nullptr;
    unsigned char *dst = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(n)));
    if (dst == nullptr)
        OutOfMemory();
    std::memcpy(dst, src, static_cast<size_t>(n));
    return dst;
}

void copy_image_data(ImageRec *new_image, ImageRec *old_image)
{
    int display_depth = current_display != nullptr ? current_display->depth : 24;
    if ((old_image->depth == 8 && display_depth == 4) || display_depth == 1 ||
        old_image->colormap_reduced)
        restore_colormap(old_image);
    new_image->ncolors = old_image->ncolors;
    std::free(new_image->red);
    std::free(new_image->green);
    std::free(new_image->blue);
    new_image->red = copy_bytes(old_image->red, old_image->ncolors);
    new_image->green = copy_bytes(old_image->green, old_image->ncolors);
    new_image->blue = copy_bytes(old_image->blue, old_image->ncolors);
    if (!is_postscript(new_image->type))
        new_image->offset = old_image->offset;
    if (current_display == ps_display && ps_display != nullptr) {
        int zoom = prog != nullptr ? prog->def_ps_zoom : 100;
        new_image->width = static_cast<int>(ps_display->page_width * ps_display->hres * zoom / 100);
        new_image->height = static_cast<int>(ps_display->page_height * ps_display->vres * zoom / 100);
    } else if (old_image->orig_image != nullptr) {
        new_image->width = vela_get_width(old_image->orig_image);
        new_image->height = vela_get_height(old_image->orig_image);
    }
    new_image->bands = old_image->bands;
    new_image->rgb_order = old_image->rgb_order;
    new_image->colors_compacted = old_image->colors_compacted;
    new_image->bytes_per_line = old_image->bytes_per_line;
}

HashTable *make_hash(int n)
{
    if (n <= 0)
        return nullptr;
    HashTable *t = static_cast<HashTable *>(std::calloc(1, sizeof(HashTable)));
    if (t == nullptr)
        return nullptr;
    t->buckets = static_cast<HashNode **>(std::calloc(static_cast<size_t>(n), sizeof(HashNode *)));
    if (t->buckets == nullptr) {
        std::free(t);
        return nullptr;
    }
    t->nbuckets = n;
    return t;
}

int *get_hash(HashTable *table, int key)
{
    // The remainder of signed division, made non-negative.
    int bucket = key % table->nbuckets;
    if (bucket < 0)
        bucket = -bucket;
    for (HashNode *node = table->buckets[bucket]; node != nullptr; node = node->chain)
        if (node->key == key)
            return &node->value;
    HashNode *node = static_cast<HashNode *>(std::malloc(sizeof(HashNode)));
    if (node == nullptr)
        return nullptr;
    node->key = key;
    node->value = 0;
    node->chain = table->buckets[bucket];
    table->buckets[bucket] = node;
    node->next_all = table->all;
    table->all = node;
    return &node->value;
}

void destroy_hash(HashTable *table, void (*fn)(int value, void *arg, int key), void *arg)
{
    if (table == nullptr)
        return;
    HashNode *node = table->all;
    while (node != nullptr) {
        HashNode *next = node->next_all;
        if (fn != nullptr)
            fn(node->value, arg, node->key);
        std::free(node);
        node = next;
    }
    std::free(table->buckets);
    std::free(table);
}
