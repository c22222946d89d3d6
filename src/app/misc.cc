// misc.cc - path, text and memory helpers.
#include "app/misc.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/msg.h"
#include "image/dither.h"
#include "image/display.h"
#include "image/image.h"
#include "image/vela_iface.h"

char *strip_filename(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr)
        return xstrdup(".");
    size_t n = static_cast<size_t>(slash - path);
    char *dir = static_cast<char *>(std::malloc(n + 1));
    if (dir == nullptr)
        OutOfMemory();
    std::memcpy(dir, path, n);
    dir[n] = '\0';
    return dir;
}

bool AllBlanks(const char *text)
{
    if (text == nullptr)
        return false;
    for (; *text != '\0'; ++text)
        if (*text != ' ')
            return false;
    return true;
}

int check_float_value(const char *text, float *value)
{
    if (text == nullptr || *text == '\0')
        return -1;
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        return -1;
    *value = static_cast<float>(v);
    return 0;
}

void OutOfMemory()
{
    std::fputs(catmsg(1, 106, "Out of memory - exiting\n"), stderr);
    std::exit(1);
}

char *xstrdup(const char *s)
{
    char *copy = strdup(s);
    if (copy == nullptr)
        OutOfMemory();
    return copy;
}

// Replaces *dst by a malloc'ed copy of n bytes of src (nullptr for none).
static void replace_plane(unsigned char **dst, const unsigned char *src, int n)
{
    std::free(*dst);
    *dst = nullptr;
    if (src == nullptr || n <= 0)
        return;
    *dst = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(n)));
    if (*dst == nullptr)
        OutOfMemory();
    std::memcpy(*dst, src, static_cast<size_t>(n));
}

void save_colormap(ImageRec *image)
{
    replace_plane(&image->saved_red, image->red, image->ncolors);
    replace_plane(&image->saved_green, image->green, image->ncolors);
    replace_plane(&image->saved_blue, image->blue, image->ncolors);
    image->saved_ncolors = image->ncolors;
}

void restore_colormap(ImageRec *image)
{
    // Nothing was ever saved: keep the current colormap rather than lose it.
    if (image->saved_red == nullptr && image->saved_ncolors == 0)
        return;
    replace_plane(&image->red, image->saved_red, image->saved_ncolors);
    replace_plane(&image->green, image->saved_green, image->saved_ncolors);
    replace_plane(&image->blue, image->saved_blue, image->saved_ncolors);
    image->ncolors = image->saved_ncolors;
}

int color_to_gray(ImageRec *image)
{
    VelaImage *colour = image->orig_image;
    if (colour == nullptr)
        return 0;
    VelaState *state = vela_get_state(colour);
    if (image->colour_image != nullptr)
        vela_destroy(image->colour_image);
    image->colour_image = colour;
    int w = vela_get_width(colour), h = vela_get_height(colour);
    VelaImage *grey = vela_create(state, w, h, 1, VELA_BYTE);
    VelaColorSpace *rgb = vela_colorspace_get_by_name(state, "rgblinear");
    VelaColorSpace *y = vela_colorspace_get_by_name(state, "ylinear");
    bool ok = grey != nullptr && rgb != nullptr && y != nullptr;
    int bands = vela_get_nbands(colour);
    if (ok && bands == 3) {
        // The library's RGB spaces keep blue in band 0; a picture stored red
        // first is swapped so that its luminance weights fall right.
        VelaImage *src = colour;
        if (image->rgb_order) {
            src = vela_create_copy(colour, 0, 0, w, h, 0, 3);
            int ps = 0, rs = 0;
            unsigned char *data = src != nullptr ? retrieve_data(src, &ps, &rs) : nullptr;
            if (data != nullptr) {
                ImageRec view = *image;
                view.width = w;
                view.height = h;
                swap_red_blue(&view, data, ps, rs);
                reimport_image(src, 1);
            }
        }
        ok = src != nullptr && vela_set_colorspace(src, rgb) && vela_set_colorspace(grey, y) &&
             vela_color_convert(src, grey);
        if (src != colour && src != nullptr)
            vela_destroy(src);
    } else if (ok && bands == 1) {
        // Turn the colormap into greys and map the pixels through them.
        int n = image->ncolors;
        VelaImage *cmap = n > 0 ? vela_create(state, n, 1, 3, VELA_BYTE) : nullptr;
        VelaImage *grey_row = n > 0 ? vela_create(state, n, 1, 1, VELA_BYTE) : nullptr;
        ok = cmap != nullptr && grey_row != nullptr && image->red != nullptr &&
             image->green != nullptr && image->blue != nullptr;
        int ps = 0, rs = 0;
        unsigned char *data = ok ? retrieve_data(cmap, &ps, &rs) : nullptr;
        if (data != nullptr) {
            for (int i = 0; i < n; i++) {
                data[i * ps] = image->blue[i];
                data[i * ps + 1] = image->green[i];
                data[i * ps + 2] = image->red[i];
            }
            reimport_image(cmap, 1);
        }
        ok = data != nullptr && vela_set_colorspace(cmap, rgb) &&
             vela_set_colorspace(grey_row, y) && vela_color_convert(cmap, grey_row);
        unsigned char *greys = ok ? retrieve_data(grey_row, &ps, &rs) : nullptr;
        VelaLookup *lut = nullptr;
        if (greys != nullptr) {
            std::vector<unsigned char> values(static_cast<size_t>(n));
            for (int i = 0; i < n; i++)
                values[i] = greys[i * ps];
            reimport_image(grey_row, 0);
            lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 1, n, image->offset,
                                     values.data());
        }
        ok = lut != nullptr && vela_lookup(colour, grey, lut);
        if (lut != nullptr)
            vela_lookup_destroy(lut);
        if (cmap != nullptr)
            vela_destroy(cmap);
        if (grey_row != nullptr)
            vela_destroy(grey_row);
    } else {
        ok = false;
    }
    if (!ok) {
        if (grey != nullptr)
            vela_destroy(grey);
        image->orig_image = colour;
        image->colour_image = nullptr;
        return 0;
    }
    image->orig_image = grey;
    image->gray_converted = 1;
    return 1;
}
