// misc.cc - path, text and memory helpers.
#include "app/misc.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/msg.h"
#include "image/image.h"

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
