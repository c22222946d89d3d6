// display.cc - depth conversion: the display functions and the choice
// among them for each image and display depth.
#include "image/display.h"

#include <Xm/Xm.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/alert.h"
#include "app/corvat.h"
#include "app/misc.h"
#include "app/msg.h"
#include "image/canvas.h"
#include "image/dither.h"
#include "image/state.h"
#include "image/vela_iface.h"

namespace {

// Shared lookup objects, made on first need and kept for the whole run.
VelaDitherMask *dm443 = nullptr;
VelaLookup *cc496 = nullptr;        // owned by the library state
VelaLookup *cube16 = nullptr;       // 16-colour cube for 4-bit displays
VelaLookup *cube2 = nullptr;        // 2-level cube for 1-bit output
VelaKernel *fs_kernel = nullptr;
VelaLookup *lut_1to24 = nullptr;    // 1-bit: 0 white, 1 black
VelaLookup *lut_1to8 = nullptr;     // 1-bit on an 8-bit screen: the screen's white and black
// Per-image lookups; each new one replaces (and destroys) the previous.
VelaLookup *lut_8to24 = nullptr;
VelaLookup *lut_8to4 = nullptr;
VelaLookup *lut_nearest = nullptr;
VelaLookup *lut_216 = nullptr;

VelaState *lib_state()
{
    return image_display != nullptr ? image_display->state : nullptr;
}

void replace_lookup(VelaLookup **slot, VelaLookup *lut)
{
    if (*slot != nullptr)
        vela_lookup_destroy(*slot);
    *slot = lut;
}

void get_dm443()
{
    if (dm443 == nullptr)
        dm443 = vela_dithermask_get_by_name(lib_state(), "dm443");
}

void get_cc496()
{
    if (cc496 == nullptr)
        cc496 = vela_lookup_get_by_name(lib_state(), "cc496");
}

void get_cube16()
{
    if (cube16 == nullptr) {
        const int mult[3] = {1, 2, 8};
        const unsigned int dims[3] = {2, 4, 2};
        cube16 = vela_colorcube_create(lib_state(), VELA_BYTE, VELA_BYTE, 3, 0, mult, dims);
    }
}

void get_1bit_objects()
{
    if (fs_kernel == nullptr)
        fs_kernel = vela_kernel_get_by_name(lib_state(), "floyd-steinberg");
    if (cube2 == nullptr) {
        const int mult[1] = {-1};
        const unsigned int dims[1] = {2};
        cube2 = vela_colorcube_create(lib_state(), VELA_BIT, VELA_BYTE, 1, 0, mult, dims);
    }
}

// Returns a new lookup from colormap index to colour (blue, green, red),
// one entry per colormap entry, or nullptr.
VelaLookup *colormap_lookup(const ImageRec *image)
{
    int n = image->ncolors;
    if (n <= 0 || image->red == nullptr || image->green == nullptr || image->blue == nullptr)
        return nullptr;
    std::vector<unsigned char> values(static_cast<size_t>(n) * 3);
    for (int i = 0; i < n; i++) {
        values[3 * i] = image->blue[i];
        values[3 * i + 1] = image->green[i];
        values[3 * i + 2] = image->red[i];
    }
    return vela_lookup_create(lib_state(), VELA_BYTE, VELA_BYTE, 3, n, 0, values.data());
}

// Returns a new image of src's size with the given bands and type.
VelaImage *new_like(VelaImage *src, int bands, int type)
{
    return vela_create(vela_get_state(src), vela_get_width(src), vela_get_height(src), bands, type);
}

// Returns a copy of all of src.
VelaImage *whole_copy(VelaImage *src)
{
    return vela_create_copy(src, 0, 0, vela_get_width(src), vela_get_height(src), 0,
                            vela_get_nbands(src));
}

// Returns the view image itself for the screen (a child sharing its
// memory: the display image is only read, and a large picture is not held
// twice), or a copy for a file, whose saver may change it.
VelaImage *shared_or_copy(VelaImage *src)
{
    if (current_image != nullptr && current_image->output_conversion)
        return whole_copy(src);
    return vela_create_child(src, 0, 0, vela_get_width(src), vela_get_height(src), 0,
                             vela_get_nbands(src));
}

// Runs op(src, dst) into a new image of the given bands and type; returns
// it, or nullptr (destroying it) when op fails.
template <typename Op> VelaImage *into_new(VelaImage *src, int bands, int type, Op op)
{
    VelaImage *dst = new_like(src, bands, type);
    if (dst == nullptr)
        return nullptr;
    if (!op(dst)) {
        vela_destroy(dst);
        return nullptr;
    }
    return dst;
}

// Adds value to every pixel of an 8-bit image in place.
void add_to_pixels(VelaImage *img, float value)
{
    if (img == nullptr || value == 0.0f)
        return;
    float v[3] = {value, value, value};
    if (value > 0)
        vela_add_const(img, v, img);
    else {
        v[0] = v[1] = v[2] = -value;
        vela_subtract_const(img, v, img);
    }
}

[[noreturn]] void out_of_memory_alert()
{
    AlertPrompt(alert_parent(), ALERT_TYPE, XmDIALOG_WARNING, ALERT_TITLE,
                catmsg(1, 386, "Lumora"), ALERT_STYLE, XmDIALOG_FULL_APPLICATION_MODAL,
                ALERT_MESSAGE,
                catmsg(1, 1, "Unable to allocate sufficient memory.\nLumora cannot continue."),
                ALERT_BUTTON, 0, catmsg(1, 2, "Close"), 0);
    std::exit(1);
}

int display_depth()
{
    return current_display != nullptr ? current_display->depth : 0;
}

// Depth 8, 8-bit image on the screen: compact the colormap and place it, or
// reduce it to a chosen 216 colours at pixels 40-255.
void assign_8bit_on_8(ImageRec *image)
{
    save_colormap(image);
    compress_colors(image);
    if (image->ncolors <= 216) {
        add_to_pixels(image->orig_image, static_cast<float>(256 - image->ncolors));
        if (display_depth() == 8)
            set_cmap8(image_display->xdisplay, image_display->win, image, 8);
        image->display_func = image_8to8;
        return;
    }
    save_colormap(image);
    image->colormap_reduced = 1;
    int n = image->ncolors;
    // A one-row image of the colormap's colours, in the byte order
    // set_cmap_from_lut reads back.
    VelaImage *colours = vela_create(lib_state(), n, 1, 3, VELA_BYTE);
    std::vector<unsigned char> values(static_cast<size_t>(n) * 3);
    for (int i = 0; i < n; i++) {
        unsigned char r = image->red[i], g = image->green[i], b = image->blue[i];
        values[3 * i] = image->rgb_order ? r : b;
        values[3 * i + 1] = g;
        values[3 * i + 2] = image->rgb_order ? b : r;
    }
    VelaLookup *index_lut =
        vela_lookup_create(lib_state(), VELA_BYTE, VELA_BYTE, 3, n, 0, values.data());
    VelaMemoryStorage s;
    if (colours != nullptr && vela_export(colours) && vela_get_memory_storage(colours, &s)) {
        for (int i = 0; i < n; i++)
            std::memcpy(s.data + static_cast<ptrdiff_t>(i) * s.bytes_per_pixel, &values[3 * i], 3);
        vela_import(colours, 1);
    }
    VelaLookup *chosen = colours != nullptr ? vela_choose_colormap(colours, 216) : nullptr;
    replace_lookup(&lut_216, (index_lut != nullptr && chosen != nullptr)
                                 ? vela_lookup_convert(index_lut, chosen)
                                 : nullptr);
    if (index_lut != nullptr)
        vela_lookup_destroy(index_lut);
    if (colours != nullptr)
        vela_destroy(colours);
    image->ncolors = 216;
    image->offset = 40;
    if (chosen != nullptr) {
        set_cmap8to216(image_display->xdisplay, image_display->win, chosen, image, 8);
        vela_lookup_destroy(chosen);
    }
    if (lut_216 != nullptr) {
        int entries = vela_lookup_get_num_entries(lut_216);
        int first = vela_lookup_get_offset(lut_216);
        std::vector<unsigned char> v(static_cast<size_t>(entries));
        vela_lookup_get_values(lut_216, first, entries, v.data());
        for (unsigned char &x : v)
            x = static_cast<unsigned char>(x + 40);
        vela_lookup_set_values(lut_216, first, entries, v.data());
    }
    image->display_func = image_8to8;
}

// Undoes what showing an 8-bit image did to its pixels and colormap, so
// that a file gets the image's own values.
void undo_screen_placement(ImageRec *image)
{
    if (image->colormap_reduced) {
        restore_colormap(image);
        image->colormap_reduced = 0;
    } else if (image->offset != 0 && image->view_image != nullptr) {
        // The view may share the shown picture's memory: shift a copy.
        VelaImage *copy = whole_copy(image->view_image);
        if (copy != nullptr) {
            vela_destroy(image->view_image);
            image->view_image = copy;
        }
        add_to_pixels(image->view_image, static_cast<float>(-image->offset));
    }
}

} // namespace

// --- pixel memory ----------------------------------------------------------------

unsigned char *create_data(ImageRec *image, int *pixel_stride, int *row_stride)
{
    int bands = image->depth < 24 ? 1 : 3;
    int type = image->depth == 1 ? VELA_BIT : VELA_BYTE;
    VelaImage *img = vela_create(lib_state(), image->width, image->height, bands, type);
    if (img == nullptr) {
        if (prog->verbose)
            std::fprintf(stderr, catmsg(1, 75, "%s: vela_create() failed.\n"), prog->name);
        return nullptr;
    }
    VelaMemoryStorage s;
    if (!vela_export(img) || !vela_get_memory_storage(img, &s)) {
        if (prog->verbose)
            std::fprintf(stderr,
                         catmsg(1, 76, "%s.create_data: vela_get_memory_storage() failed.\n"),
                         prog->name);
        vela_destroy(img);
        return nullptr;
    }
    if (image->orig_image != nullptr)
        vela_destroy(image->orig_image);
    image->orig_image = img;
    image->bands = bands;
    image->datatype = type;
    *pixel_stride = s.bytes_per_pixel;
    *row_stride = s.bytes_per_row;
    return s.data;
}

unsigned char *retrieve_data(VelaImage *image, int *pixel_stride, int *row_stride)
{
    VelaMemoryStorage s;
    if (image == nullptr || !vela_export(image) || !vela_get_memory_storage(image, &s)) {
        if (prog->verbose)
            std::fprintf(stderr,
                         catmsg(1, 77, "%s.retrieve_data: vela_get_memory_storage() failed.\n"),
                         prog->name);
        return nullptr;
    }
    *pixel_stride = s.bytes_per_pixel;
    *row_stride = s.bytes_per_row;
    return s.data;
}

void reimport_image(VelaImage *image, int changed)
{
    vela_import(image, changed);
}

int retrieve_depth(int bands, int datatype)
{
    if (bands == 3)
        return 24;
    return datatype == VELA_BIT ? 1 : 8;
}

// --- the display functions ---------------------------------------------------------

VelaImage *image_1to1(VelaImage *src)
{
    return shared_or_copy(src);
}

VelaImage *image_1to8(VelaImage *src)
{
    VelaImage *bytes = into_new(src, 1, VELA_BYTE, [&](VelaImage *dst) { return vela_cast(src, dst); });
    bool on_screen = current_image == nullptr || !current_image->output_conversion;
    if (bytes == nullptr || lut_1to8 == nullptr || !on_screen)
        return bytes;
    VelaImage *shown = into_new(bytes, 1, VELA_BYTE,
                                [&](VelaImage *dst) { return vela_lookup(bytes, dst, lut_1to8); });
    vela_destroy(bytes);
    return shown;
}

VelaImage *image_1to24(VelaImage *src)
{
    VelaImage *bytes = image_1to8(src);
    if (bytes == nullptr)
        return nullptr;
    VelaImage *dst = into_new(src, 3, VELA_BYTE,
                              [&](VelaImage *d) { return vela_lookup(bytes, d, lut_1to24); });
    vela_destroy(bytes);
    return dst;
}

VelaImage *image_8to1(VelaImage *src)
{
    return into_new(src, 1, VELA_BIT, [&](VelaImage *dst) {
        return vela_error_diffusion(src, dst, cube2, fs_kernel);
    });
}

VelaImage *image_8to4(VelaImage *src)
{
    VelaImage *colour = into_new(src, 3, VELA_BYTE,
                                 [&](VelaImage *d) { return vela_lookup(src, d, lut_8to4); });
    if (colour == nullptr)
        return nullptr;
    VelaImage *dst = image_24to4(colour);
    vela_destroy(colour);
    return dst;
}

VelaImage *image_24to4(VelaImage *src)
{
    return into_new(src, 1, VELA_BYTE, [&](VelaImage *dst) {
        return vela_ordered_dither(src, dst, cube16, dm443);
    });
}

VelaImage *image_8to8(VelaImage *src)
{
    if (current_image != nullptr && current_image->colormap_reduced && lut_216 != nullptr)
        return into_new(src, 1, VELA_BYTE,
                        [&](VelaImage *dst) { return vela_lookup(src, dst, lut_216); });
    return shared_or_copy(src);
}

VelaImage *image_copy8to8(VelaImage *src)
{
    return shared_or_copy(src);
}

VelaImage *image_24to8(VelaImage *src)
{
    get_cc496();
    get_dm443();
    return into_new(src, 1, VELA_BYTE, [&](VelaImage *dst) {
        return vela_ordered_dither(src, dst, cc496, dm443);
    });
}

VelaImage *image_24to8_no_dither(VelaImage *src)
{
    return into_new(src, 1, VELA_BYTE,
                    [&](VelaImage *dst) { return vela_nearest_color(src, dst, lut_nearest); });
}

VelaImage *image_8to24(VelaImage *src)
{
    return into_new(src, 3, VELA_BYTE,
                    [&](VelaImage *dst) { return vela_lookup(src, dst, lut_8to24); });
}

VelaImage *image_24to24(VelaImage *src)
{
    return shared_or_copy(src);
}

// --- choosing a display function ------------------------------------------------------

int assign_display_func(ImageRec *image, int depth)
{
    if (image->output_conversion && image->gray_converted) {
        if (image->colour_image != nullptr) {
            if (image->orig_image != nullptr)
                vela_destroy(image->orig_image);
            image->orig_image = image->colour_image;
            image->colour_image = nullptr;
        }
        image->gray_converted = 0;
        image_geo_op(image);
    }
    if (image->orig_image == nullptr)
        return -1;
    int bands = vela_get_nbands(image->orig_image);
    int type = vela_get_datatype(image->orig_image);

    switch (depth) {
    case 1:
        if (type == VELA_BIT) {
            image->ncolors = 0;
            image->offset = 0;
            image->display_func = image_1to1;
        } else if (bands == 1 || bands == 3) {
            get_1bit_objects();
            if (color_to_gray(image) && image->output_conversion)
                image_geo_op(image);
            image->display_func = image_8to1;
        }
        break;
    case 4:
        if (type == VELA_BIT) {
            image->display_func = image_1to8;
        } else if (bands == 1) {
            get_dm443();
            get_cube16();
            replace_lookup(&lut_8to4, colormap_lookup(image));
            image->rgb_order = 0;
            if (display_depth() == 4)
                set_cmap4(image_display->xdisplay, image_display->win, cube16, image);
            image->display_func = image_8to4;
        } else if (bands == 3) {
            get_dm443();
            get_cube16();
            if (display_depth() == 4)
                set_cmap4(image_display->xdisplay, image_display->win, cube16, image);
            image->display_func = image_24to4;
        }
        break;
    case 8:
        if (type == VELA_BIT) {
            std::free(image->red);
            std::free(image->green);
            std::free(image->blue);
            image->red = static_cast<unsigned char *>(std::malloc(2));
            image->green = static_cast<unsigned char *>(std::malloc(2));
            image->blue = static_cast<unsigned char *>(std::malloc(2));
            if (image->red == nullptr || image->green == nullptr || image->blue == nullptr)
                OutOfMemory();
            image->red[0] = image->green[0] = image->blue[0] = 255;
            image->red[1] = image->green[1] = image->blue[1] = 0;
            image->ncolors = 2;
            image->offset = 0;
            image_display->white[0] = 0;
            image_display->black_pixel = 1;
            // Pixel 0 is white and 1 black only on some servers: on the
            // screen the bits are mapped to the canvas colormap's own white
            // and black.
            if (!image->output_conversion && image_display->xdisplay != nullptr &&
                image_display->cmap != 0 && display_depth() == 8) {
                XColor white = {0, 65535, 65535, 65535, DoRed | DoGreen | DoBlue, 0};
                XColor black = {0, 0, 0, 0, DoRed | DoGreen | DoBlue, 0};
                if (XAllocColor(image_display->xdisplay, image_display->cmap, &white) &&
                    XAllocColor(image_display->xdisplay, image_display->cmap, &black)) {
                    const unsigned char values[2] = {static_cast<unsigned char>(white.pixel),
                                                     static_cast<unsigned char>(black.pixel)};
                    replace_lookup(&lut_1to8, vela_lookup_create(lib_state(), VELA_BYTE, VELA_BYTE,
                                                                 1, 2, 0, values));
                    image_display->white[0] = static_cast<float>(white.pixel);
                    image_display->black_pixel = static_cast<int>(black.pixel);
                }
            }
            image->display_func = image_1to8;
        } else if (bands == 1 && !image->output_conversion) {
            assign_8bit_on_8(image);
        } else if (bands == 1) {
            undo_screen_placement(image);
            image->display_func = image_copy8to8;
        } else if (bands == 3) {
            HashTable *table = make_hash(223);
            int n = table != nullptr ? check_number_of_colours(table, image, 216) : -1;
            destroy_hash(table, nullptr, nullptr);
            if (n < 0)
                out_of_memory_alert();
            if (n == 0) {
                get_dm443();
                get_cc496();
                set_cmap24to8(image_display->xdisplay, image_display->win, cc496, image, 8);
                image->display_func = image_24to8;
            } else {
                replace_lookup(&lut_nearest, vela_choose_colormap(image->orig_image, n));
                vela_lookup_set_offset(lut_nearest, 40);
                set_cmap24to8(image_display->xdisplay, image_display->win, lut_nearest, image, 8);
                image->display_func = image_24to8_no_dither;
            }
            if (image->output_conversion)
                image->offset_added = 1;
        }
        break;
    case 24:
        if (!image->output_conversion)
            set_canvas_values();
        if (type == VELA_BIT) {
            if (lut_1to24 == nullptr) {
                const unsigned char values[6] = {255, 255, 255, 0, 0, 0};
                lut_1to24 = vela_lookup_create(lib_state(), VELA_BYTE, VELA_BYTE, 3, 2, 0, values);
            }
            image->display_func = image_1to24;
        } else if (bands == 1) {
            if (image->output_conversion) {
                undo_screen_placement(image);
                image->rgb_order = 0;
            }
            replace_lookup(&lut_8to24, colormap_lookup(image));
            image->display_func = image_8to24;
        } else if (bands == 3) {
            if (!image->output_conversion && image->rgb_order) {
                int ps = 0, rs = 0;
                unsigned char *data = retrieve_data(image->orig_image, &ps, &rs);
                if (data != nullptr) {
                    swap_red_blue(image, data, ps, rs);
                    reimport_image(image->orig_image, 1);
                }
            }
            image->display_func = image_24to24;
        }
        break;
    default:
        if (prog->verbose)
            std::fprintf(stderr, catmsg(1, 73, "%s: %d depth is not supported.\n"), prog->name,
                         image_display != nullptr ? image_display->depth : depth);
        return -1;
    }
    // A picture without a colormap of its own is shown in the canvas's,
    // whatever the previous picture installed.
    if (!image->output_conversion && image->cmap == 0 && image_display != nullptr &&
        image_display->xdisplay != nullptr && image_display->win != 0 && image_display->cmap != 0 &&
        depth != 24) {
        XSetWindowColormap(image_display->xdisplay, image_display->win, image_display->cmap);
    }
    return image->display_func != nullptr ? 0 : -1;
}

// --- colours ------------------------------------------------------------------------------

int check_number_of_colours(HashTable *table, ImageRec *image, int limit)
{
    VelaImage *img = image->orig_image;
    if (img == nullptr || vela_get_nbands(img) != 3 || vela_get_datatype(img) != VELA_BYTE ||
        limit <= 0)
        return 0;
    VelaMemoryStorage s;
    if (!vela_export(img) || !vela_get_memory_storage(img, &s)) {
        if (prog->verbose)
            std::fprintf(stderr,
                         catmsg(1, 269,
                                "%s.create_image_from_screen: vela_get_memory_storage_failed\n"),
                         prog->name);
        return 0;
    }
    int w = vela_get_width(img), h = vela_get_height(img);
    int counter = 1;
    for (int y = 0; y < h; y++) {
        const unsigned char *p = s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row;
        for (int x = 0; x < w; x++, p += s.bytes_per_pixel) {
            unsigned key = (static_cast<unsigned>(p[2]) << 24) | (static_cast<unsigned>(p[1]) << 16) |
                           (static_cast<unsigned>(p[0]) << 8);
            int *slot = get_hash(table, static_cast<int>(key));
            if (slot == nullptr) {
                vela_import(img, 0);
                return -1;
            }
            if (*slot == 0)
                *slot = counter++;
            if (counter >= limit) {
                vela_import(img, 0);
                return 0;
            }
        }
    }
    vela_import(img, 0);
    return counter;
}

void compress_colors(ImageRec *image)
{
    if (image->colors_compacted || image->red == nullptr || image->green == nullptr ||
        image->blue == nullptr || image->orig_image == nullptr)
        return;
    VelaImage *img = image->orig_image;
    VelaMemoryStorage s;
    if (!vela_export(img) || !vela_get_memory_storage(img, &s)) {
        if (prog->verbose)
            std::fprintf(stderr,
                         catmsg(1, 78, "%s.compress_colors: vela_get_memory_storage failed.\n"),
                         prog->name);
        return;
    }
    int mapping[256];
    for (int &m : mapping)
        m = -1;
    unsigned char r[256], g[256], b[256];
    int entries = 0;
    int w = vela_get_width(img), h = vela_get_height(img);
    auto saved = [&](int v, int plane) -> unsigned char {
        // A pixel beyond the colormap shows as black.
        if (v >= image->saved_ncolors)
            return 0;
        const unsigned char *p = plane == 0 ? image->saved_red : plane == 1 ? image->saved_green
                                                                            : image->saved_blue;
        return p != nullptr ? p[v] : 0;
    };
    for (int y = 0; y < h; y++) {
        unsigned char *p = s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row;
        for (int x = 0; x < w; x++, p += s.bytes_per_pixel) {
            int v = *p;
            if (mapping[v] < 0) {
                unsigned char cr = saved(v, 0), cg = saved(v, 1), cb = saved(v, 2);
                int found = -1;
                for (int i = 0; i < entries && found < 0; i++)
                    if (r[i] == cr && g[i] == cg && b[i] == cb)
                        found = i;
                if (found < 0) {
                    found = entries++;
                    r[found] = cr;
                    g[found] = cg;
                    b[found] = cb;
                }
                mapping[v] = found;
            }
            *p = static_cast<unsigned char>(mapping[v]);
        }
    }
    auto replace = [&](unsigned char **plane, const unsigned char *values) {
        std::free(*plane);
        *plane = static_cast<unsigned char *>(std::malloc(entries > 0 ? entries : 1));
        if (*plane == nullptr)
            OutOfMemory();
        std::memcpy(*plane, values, static_cast<size_t>(entries));
    };
    replace(&image->red, r);
    replace(&image->green, g);
    replace(&image->blue, b);
    image->ncolors = entries;
    image->offset = 256 - entries;
    image->colors_compacted = 1;
    vela_import(img, 1);
}

// --- view images ----------------------------------------------------------------------------

VelaImage *transform_image(VelaImage *src, const float *m, int *width, int *height)
{
    int w = vela_get_width(src), h = vela_get_height(src);
    int vw = static_cast<int>(std::max(std::fabs(std::trunc(w * m[0] - h * m[2])),
                                       std::fabs(std::trunc(w * m[0] + h * m[2]))));
    int vh = static_cast<int>(std::max(std::fabs(std::trunc(w * m[1] - h * m[3])),
                                       std::fabs(std::trunc(w * m[1] + h * m[3]))));
    // A picture zoomed below one pixel still shows as one.
    vw = std::max(vw, 1);
    vh = std::max(vh, 1);
    VelaImage *view =
        vela_create(vela_get_state(src), vw, vh, vela_get_nbands(src), vela_get_datatype(src));
    if (view == nullptr)
        return nullptr;
    float turn = m[1] * m[2];
    if (turn != 0.0f && turn != 1.0f && turn != -1.0f) {
        float fill[3] = {0, 0, 0};
        if (vela_get_nbands(src) == 1)
            fill[0] = 1.0f;
        vela_set_value(view, fill);
    }
    vela_set_origin(src, w * 0.5f, h * 0.5f);
    vela_set_origin(view, vw * 0.5f, vh * 0.5f);
    vela_affine(src, view, "nearest", m);
    vela_set_origin(src, 0, 0);
    vela_set_origin(view, 0, 0);
    *width = vw;
    *height = vh;
    return view;
}

void image_geo_op(ImageRec *image)
{
    if (image->orig_image == nullptr)
        return;
    float identity[6];
    identity_xform(identity);
    const float *m = current_state != nullptr ? current_state->matrix : identity;
    if (image->view_image != nullptr) {
        vela_destroy(image->view_image);
        image->view_image = nullptr;
    }
    int w = 0, h = 0;
    image->view_image = transform_image(image->orig_image, m, &w, &h);
    if (image->view_image == nullptr) {
        if (prog->verbose)
            std::fprintf(stderr, catmsg(1, 79, "%s: vela_create() failed.\n"), prog->name);
        return;
    }
    image->width = w;
    image->height = h;
}

void display_new_image()
{
    ImageRec *image = current_image;
    if (image == nullptr)
        return;
    if (current_display == ps_display) {
        check_canvas(image->width, image->height, current_display);
        ShowScrollbars();
        CanvasRepaintCallback(nullptr, nullptr, nullptr);
        return;
    }
    if (image->orig_image == nullptr)
        return;
    float identity[6];
    identity_xform(identity);
    const float *m = current_state != nullptr ? current_state->matrix : identity;
    VelaImage *view;
    int w = vela_get_width(image->orig_image), h = vela_get_height(image->orig_image);
    bool plain = m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1;
    if (image->view_image != nullptr) {
        vela_destroy(image->view_image);
        image->view_image = nullptr;
    }
    if (plain) {
        // The untransformed view shares the picture's memory.
        view = vela_create_child(image->orig_image, 0, 0, w, h, 0,
                                 vela_get_nbands(image->orig_image));
    } else {
        view = transform_image(image->orig_image, m, &w, &h);
    }
    if (view == nullptr) {
        if (prog->verbose)
            std::fprintf(stderr, catmsg(1, 74, "%s: vela_create() failed.\n"), prog->name);
        return;
    }
    image->view_image = view;
    image->width = vela_get_width(view);
    image->height = vela_get_height(view);
    ShowScrollbars();
    resize_canvas();
    check_canvas(image->width, image->height, current_display);
    if (image->display_image != nullptr)
        vela_destroy(image->display_image);
    image->display_image = image->display_func != nullptr ? image->display_func(view) : nullptr;
    CanvasRepaintCallback(nullptr, nullptr, nullptr);
}
