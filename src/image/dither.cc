// dither.cc - private colormaps and reference colours of the canvases.
#include "image/dither.h"

#include <X11/Xutil.h>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/corvat.h"
#include "app/misc.h"
#include "app/msg.h"
#include "image/vela_iface.h"

XColor background_color = {0, 0, 0, 0, DoRed | DoGreen | DoBlue, 0};
XColor black_color = {0, 0, 0, 0, DoRed | DoGreen | DoBlue, 0};
XColor white_color = {0, 65535, 65535, 65535, DoRed | DoGreen | DoBlue, 0};

namespace {

bool same_colour(const XColor &a, const XColor &b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// The display records that set_canvas_colors writes, skipping absent ones.
template <typename F> void both_displays(F f)
{
    if (image_display != nullptr)
        f(image_display);
    if (ps_display != nullptr)
        f(ps_display);
}

// Creates a colormap for a visual of the depth and the raster canvas's
// class, allocates all cells and stores it in the record.  Returns false
// (after the verbose message) when that fails.
bool new_private_colormap(Display *display, ImageRec *image, int depth, int cells,
                          const char *visual_text, const char *alloc_text)
{
    XVisualInfo info;
    int klass = image_display != nullptr && image_display->visual != nullptr
                    ? image_display->visual->c_class
                    : PseudoColor;
    int screen = DefaultScreen(display);
    if (!XMatchVisualInfo(display, screen, depth, klass, &info)) {
        if (prog->verbose)
            std::fprintf(stderr, visual_text, prog->name, depth);
        return false;
    }
    Colormap cmap = XCreateColormap(display, RootWindow(display, screen), info.visual, AllocNone);
    if (image->cmap != 0 && !is_postscript(image->type))
        XFreeColormap(display, image->cmap);
    image->cmap = cmap;
    std::vector<unsigned long> pixels(static_cast<size_t>(cells));
    if (!XAllocColorCells(display, cmap, True, nullptr, 0, pixels.data(),
                          static_cast<unsigned>(cells))) {
        if (prog->verbose && alloc_text != nullptr)
            std::fprintf(stderr, alloc_text, prog->name);
        return false;
    }
    return true;
}

// Builds the record's colours as X entries at offset + i, each 8-bit
// component v scaled by mul and shifted by shift.
int image_entries(const ImageRec *image, XColor *entries, int cells, int mul, int shift)
{
    int n = 0;
    for (int i = 0; i < image->ncolors; i++) {
        int pixel = image->offset + i;
        if (pixel < 0 || pixel >= cells)
            continue;
        XColor &c = entries[n++];
        c.pixel = static_cast<unsigned long>(pixel);
        c.red = static_cast<unsigned short>((image->red[i] * mul) << shift);
        c.green = static_cast<unsigned short>((image->green[i] * mul) << shift);
        c.blue = static_cast<unsigned short>((image->blue[i] * mul) << shift);
        c.flags = DoRed | DoGreen | DoBlue;
    }
    return n;
}

// Frees the cells [from, to) of a private colormap.
void free_cells(Display *display, Colormap cmap, int from, int to)
{
    std::vector<unsigned long> pixels;
    for (int p = from; p < to; p++)
        pixels.push_back(static_cast<unsigned long>(p));
    if (!pixels.empty())
        XFreeColors(display, cmap, pixels.data(), static_cast<int>(pixels.size()), 0);
}

// Stores the entries and the default colours, installs the colormap on the
// window: steps 3 to 6 of every 8-bit placement.
void place_colours(Display *display, Window window, ImageRec *image, int depth, int mul, int shift)
{
    XColor entries[256];
    int count = image_entries(image, entries, 256, mul, shift);
    int offset = image->offset;
    set_canvas_colors(image, entries, depth, &offset, &count);
    free_cells(display, image->cmap, 40, offset);
    copy_default_cmap(display, image->cmap, DefaultDepth(display, DefaultScreen(display)) == 4 ? 16 : 40);
    XStoreColors(display, image->cmap, entries, count);
    if (window != 0)
        XSetWindowColormap(display, window, image->cmap);
    XFlush(display);
}

int current_depth()
{
    return current_display != nullptr ? current_display->depth : 0;
}

} // namespace

unsigned long closest_match(const XColor *colour, const XColor *entries, int n)
{
    if (n <= 0)
        return entries[0].pixel;
    uint64_t best = 0xffffffffULL;
    int winner = -1;
    for (int i = 0; i < n; i++) {
        int64_t dr = static_cast<int64_t>(colour->red) - entries[i].red;
        int64_t dg = static_cast<int64_t>(colour->green) - entries[i].green;
        int64_t db = static_cast<int64_t>(colour->blue) - entries[i].blue;
        uint64_t d = static_cast<uint64_t>(dr * dr) + static_cast<uint64_t>(dg * dg) +
                     static_cast<uint64_t>(db * db);
        if (d > 0xffffffffULL)
            continue; // the 32-bit sum would wrap
        if (d < best) {
            best = d;
            winner = i;
        }
    }
    return winner >= 0 ? entries[winner].pixel : entries[0].pixel;
}

unsigned long add_color(XColor *entries, int n, const XColor *colour, unsigned long pixel)
{
    for (int i = n; i > 0; i--)
        entries[i] = entries[i - 1];
    entries[0] = *colour;
    entries[0].pixel = pixel;
    entries[0].flags = DoRed | DoGreen | DoBlue;
    return pixel;
}

void set_canvas_values()
{
    if (image_display != nullptr) {
        for (int b = 0; b < 3; b++) {
            image_display->background[b] = 0;
            image_display->white[b] = 255;
        }
    }
    if (ps_display != nullptr) {
        for (int b = 0; b < 3; b++) {
            ps_display->background[b] = 230;
            ps_display->white[b] = 255;
        }
    }
}

void set_canvas_colors(ImageRec *, XColor *entries, int depth, int *offset, int *count)
{
    int capacity = depth == 4 ? 16 : 256;
    bool have_bg = false, have_black = false, have_white = false;
    for (int i = 0; i < *count; i++) {
        const XColor &e = entries[i];
        auto pixel = static_cast<float>(e.pixel);
        if (!have_bg && same_colour(e, background_color)) {
            have_bg = true;
            both_displays([&](DisplayRec *d) { d->background[0] = pixel; });
        } else if (!have_black && same_colour(e, black_color)) {
            have_black = true;
            both_displays([&](DisplayRec *d) { d->black_pixel = static_cast<int>(e.pixel); });
        } else if (!have_white && same_colour(e, white_color)) {
            have_white = true;
            both_displays([&](DisplayRec *d) {
                d->white[0] = pixel;
                d->white_pixel = pixel;
            });
        }
    }
    // Adds colour below the image's range while there is room, else takes
    // the nearest entry; returns the pixel.
    auto add_or_match = [&](const XColor &colour) {
        if (*count < capacity && *offset > 0) {
            unsigned long p = add_color(entries, *count, &colour, static_cast<unsigned long>(*offset - 1));
            (*count)++;
            (*offset)--;
            return p;
        }
        return closest_match(&colour, entries, *count);
    };
    if (!have_bg && *offset > 0 && *count > 0) {
        auto pixel = static_cast<float>(add_or_match(background_color));
        both_displays([&](DisplayRec *d) { d->background[0] = pixel; });
    }
    if (!have_black && *offset > 0 && *count > 0 && image_display != nullptr)
        image_display->black_pixel = static_cast<int>(add_or_match(black_color));
    if (!have_white && *count > 0) {
        auto pixel = static_cast<float>(add_or_match(white_color));
        both_displays([&](DisplayRec *d) {
            d->white[0] = pixel;
            d->white_pixel = pixel;
        });
    }
    if (current_depth() == 24)
        set_canvas_values();
}

void copy_default_cmap(Display *display, Colormap colormap, int n)
{
    std::vector<XColor> colours(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        colours[i].pixel = static_cast<unsigned long>(i);
        colours[i].flags = DoRed | DoGreen | DoBlue;
    }
    XQueryColors(display, DefaultColormap(display, DefaultScreen(display)), colours.data(), n);
    XStoreColors(display, colormap, colours.data(), n);
}

int set_cmap8(Display *display, Window window, ImageRec *image, int depth)
{
    if (display == nullptr)
        return 0;
    if (!new_private_colormap(display, image, depth, depth == 4 ? 16 : 256,
                              catmsg(1, 16, "%s: Could not get %d-bit visual in set_cmap8.\n"),
                              nullptr))
        return 0;
    place_colours(display, window, image, depth, 257, 0);
    return image->ncolors;
}

void set_cmap24to8(Display *display, Window window, VelaLookup *lookup, ImageRec *image,
                   int depth)
{
    bool on_screen = current_depth() == 8 && display != nullptr;
    if (on_screen &&
        !new_private_colormap(
            display, image, depth, 256,
            catmsg(1, 17, "%s: Could not get %d bit visual in set_cmap24to8.\n"),
            catmsg(1, 18, "%s: XAllocColorCells failed in set_cmap24to8.\n")))
        return;
    set_cmap_from_lut(image, lookup);
    if (on_screen)
        place_colours(display, window, image, depth, 1, 8);
}

void set_cmap8to216(Display *display, Window window, VelaLookup *lookup, ImageRec *image,
                    int depth)
{
    bool on_screen = current_depth() == 8 && display != nullptr;
    if (on_screen &&
        !new_private_colormap(
            display, image, depth, 256,
            catmsg(1, 19, "%s: Could not get %d bit visual in set_cmap24to8.\n"),
            catmsg(1, 20, "%s: XAllocColorCells failed in set_cmap24to8.\n")))
        return;
    set_cmap_from_lut(image, lookup);
    image->offset = 40;
    if (on_screen)
        place_colours(display, window, image, depth, 1, 8);
}

void set_cmap4(Display *display, Window window, VelaLookup *lookup, ImageRec *image)
{
    if (display == nullptr)
        return;
    if (!new_private_colormap(display, image, 4, 16,
                              catmsg(1, 21, "%s: Could not get 4-bit visual in set_cmap4.\n"),
                              catmsg(1, 22, "%s: XAllocColorCells failed in set_cmap4.\n")))
        return;
    set_cmap_from_lut(image, lookup);
    XColor entries[256];
    int count = image_entries(image, entries, 16, 1, 8);
    int offset = image->offset;
    set_canvas_colors(image, entries, 4, &offset, &count);
    free_cells(display, image->cmap, 0, offset);
    XStoreColors(display, image->cmap, entries, count);
    if (window != 0)
        XSetWindowColormap(display, window, image->cmap);
    XFlush(display);
}

void set_cmap_from_lut(ImageRec *image, VelaLookup *lookup)
{
    if (lookup == nullptr)
        return;
    int offset = vela_lookup_get_offset(lookup);
    int n = vela_lookup_get_num_entries(lookup);
    if (n > 256)
        n = 256;
    if (n < 0)
        n = 0;
    std::vector<unsigned char> values(static_cast<size_t>(n) * 3);
    if (n > 0 && !vela_lookup_get_values(lookup, offset, n, values.data()))
        return;
    auto replace = [n](unsigned char **plane) {
        std::free(*plane);
        *plane = static_cast<unsigned char *>(std::malloc(n > 0 ? static_cast<size_t>(n) : 1));
        if (*plane == nullptr)
            OutOfMemory();
    };
    replace(&image->red);
    replace(&image->green);
    replace(&image->blue);
    for (int i = 0; i < n; i++) {
        const unsigned char *e = &values[3 * static_cast<size_t>(i)];
        image->red[i] = image->rgb_order ? e[0] : e[2];
        image->green[i] = e[1];
        image->blue[i] = image->rgb_order ? e[2] : e[0];
    }
    image->offset = offset;
    image->ncolors = n;
}

namespace {

// Swaps bytes 0 and 2 of n 3-byte pixels.
void swap_row_plain(unsigned char *p, int n)
{
    for (int x = 0; x < n; x++, p += 3) {
        unsigned char t = p[0];
        p[0] = p[2];
        p[2] = t;
    }
}

#if defined(__x86_64__)
// Five pixels per 16-byte load: a byte shuffle swaps red and blue and keeps
// the 16th byte, which belongs to the next pixel and is rewritten as it was.
__attribute__((target("ssse3"))) void swap_row_ssse3(unsigned char *p, int n)
{
    const __m128i mask = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    int x = 0;
    // Stop while a whole 16 bytes remain inside the row's pixels.
    for (; x + 6 <= n; x += 5, p += 15) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm_shuffle_epi8(v, mask));
    }
    swap_row_plain(p, n - x);
}
#endif

} // namespace

void swap_red_blue(ImageRec *image, unsigned char *data, int pixel_stride, int row_stride)
{
    if (data != nullptr && pixel_stride >= 3) {
        int per_row = row_stride / pixel_stride;
        if (image->width < per_row)
            per_row = image->width;
#if defined(__x86_64__)
        static const bool ssse3 = __builtin_cpu_supports("ssse3");
#else
        static const bool ssse3 = false;
#endif
        for (int y = 0; y < image->height; y++) {
            unsigned char *p = data + static_cast<ptrdiff_t>(y) * row_stride;
            if (pixel_stride == 3 && ssse3) {
#if defined(__x86_64__)
                swap_row_ssse3(p, per_row);
#endif
                continue;
            }
            if (pixel_stride == 3) {
                swap_row_plain(p, per_row);
                continue;
            }
            for (int x = 0; x < per_row; x++, p += pixel_stride) {
                unsigned char t = p[0];
                p[0] = p[2];
                p[2] = t;
            }
        }
    }
    image->rgb_order = !image->rgb_order;
}
