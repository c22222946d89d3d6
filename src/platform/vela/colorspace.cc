/*
 * colorspace.cc - colour spaces, the colour space each image is tagged
 * with, and converting an image from its space into another's.
 *
 * Every space is read as red, green and blue on a 0..255 scale, either
 * linear or with the Rec. 709 transfer (display values):
 *   rgblinear  bands blue, green, red; linear
 *   ylinear    one band Y = 0.299 R + 0.587 G + 0.114 B; linear
 *   rgb709     bands blue, green, red; Rec. 709 transfer
 *   ycc601     Rec. 601 Y, Cb, Cr of the 709-encoded values at video range:
 *              Y 16..235, Cb and Cr 16..240 about 128
 *   photoycc   Kodak PhotoYCC of the 709-encoded values.  Kodak's decoding
 *              R = 1.3584 Y + 1.8215 (C2 - 137) and so on reaches 1.4 times
 *              reference white; the whole of that range is mapped linearly
 *              onto 0..255 (divided by 1.3584, as ImageMagick reads a pack)
 *              so highlights keep their detail instead of clipping:
 *              R = Y + 1.3409 (C2 - 137), B = Y + 1.6327 (C1 - 156);
 *              encoding is its inverse, Y = L (the luma, 0..255)
 * A 1-band image tagged with a 3-band space holds grey values of that
 * space (its luma); an untagged image reads as rgblinear (3 bands) or
 * ylinear (1 band).  Converting between spaces of one transfer is one
 * affine map per pixel; otherwise the colour passes through linear RGB.
 * Results are rounded (halves up) and clamped to 0..255.
 */
#include <pthread.h>

#include <cmath>
#include <cstring>

#include "colour.h"

namespace {

using vela::PodVec;
using vela::report;
using vela::SpaceKind;

const VelaColorSpace g_spaces[] = {
    {"rgblinear", SpaceKind::rgb_linear, 3}, {"ylinear", SpaceKind::y_linear, 1},
    {"rgb709", SpaceKind::rgb_709, 3},       {"ycc601", SpaceKind::ycc_601, 3},
    {"photoycc", SpaceKind::photo_ycc, 3},
};

// Luma weights of red, green and blue.
constexpr double kR = 0.299, kG = 0.587, kB = 0.114;
// Kodak's luma scale: the PhotoYCC range over reference white.
constexpr double kPhotoYccExtent = 1.3584;

// The colour space of each tagged image; guarded by g_mutex.
struct Tag {
    VelaImage *img;
    const VelaColorSpace *space;
};
PodVec<Tag> g_tags;
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

// Returns the space img is tagged with, or its default.
const VelaColorSpace *space_of(VelaImage *img)
{
    const VelaColorSpace *space = nullptr;
    pthread_mutex_lock(&g_mutex);
    for (const Tag &t : g_tags)
        if (t.img == img)
            space = t.space;
    pthread_mutex_unlock(&g_mutex);
    if (!space)
        space = &g_spaces[img->nbands == 3 ? 0 : 1];
    return space;
}

bool is_linear(SpaceKind k)
{
    return k == SpaceKind::rgb_linear || k == SpaceKind::y_linear;
}

// An affine map between band values and (R, G, B) on the 0..255 scale:
// out[k] = sum of m[k][j] * in[j] + c[k].
struct Affine {
    double m[3][3];
    double c[3];
};

// Returns the map from the bands of an nbands image in space k to RGB.
Affine to_rgb(SpaceKind k, int nbands)
{
    Affine a{};
    if (nbands == 1) { // grey: R = G = B
        for (int r = 0; r < 3; ++r)
            a.m[r][0] = 1;
        return a;
    }
    switch (k) {
    case SpaceKind::rgb_linear:
    case SpaceKind::rgb_709:
    case SpaceKind::y_linear:
        a.m[0][2] = a.m[1][1] = a.m[2][0] = 1; // bands are B, G, R
        break;
    case SpaceKind::ycc_601: {
        // Y' = (Y - 16) 255/219, Pb = (Cb - 128) 255/224, Pr likewise.
        const double ys = 255.0 / 219, cs = 255.0 / 224;
        const double rows[3][3] = {{ys, 0, 1.402 * cs},
                                   {ys, -0.344136 * cs, -0.714136 * cs},
                                   {ys, 1.772 * cs, 0}};
        for (int r = 0; r < 3; ++r) {
            for (int j = 0; j < 3; ++j)
                a.m[r][j] = rows[r][j];
            a.c[r] = -(rows[r][0] * 16 + rows[r][1] * 128 + rows[r][2] * 128);
        }
        break;
    }
    case SpaceKind::photo_ycc: {
        const double l = 1.0, c1 = 2.2179 / kPhotoYccExtent, c2 = 1.8215 / kPhotoYccExtent;
        const double rows[3][3] = {{l, 0, c2}, {l, -0.194 * c1, -0.509 * c2}, {l, c1, 0}};
        for (int r = 0; r < 3; ++r) {
            for (int j = 0; j < 3; ++j)
                a.m[r][j] = rows[r][j];
            a.c[r] = -(rows[r][1] * 156 + rows[r][2] * 137);
        }
        break;
    }
    }
    return a;
}

// Returns the map from RGB to the bands of an nbands image in space k.
Affine from_rgb(SpaceKind k, int nbands)
{
    Affine a{};
    const double luma[3] = {kR, kG, kB};
    if (nbands == 1) {
        for (int j = 0; j < 3; ++j)
            a.m[0][j] = luma[j];
        return a;
    }
    switch (k) {
    case SpaceKind::rgb_linear:
    case SpaceKind::rgb_709:
    case SpaceKind::y_linear:
        a.m[0][2] = a.m[1][1] = a.m[2][0] = 1;
        break;
    case SpaceKind::ycc_601: {
        const double ys = 219.0 / 255, cs = 224.0 / 255;
        for (int j = 0; j < 3; ++j) {
            a.m[0][j] = ys * luma[j];
            a.m[1][j] = cs * ((j == 2) - luma[j]) / 1.772;
            a.m[2][j] = cs * ((j == 0) - luma[j]) / 1.402;
        }
        a.c[0] = 16;
        a.c[1] = a.c[2] = 128;
        break;
    }
    case SpaceKind::photo_ycc:
        for (int j = 0; j < 3; ++j) {
            a.m[0][j] = luma[j];
            a.m[1][j] = ((j == 2) - luma[j]) * kPhotoYccExtent / 2.2179;
            a.m[2][j] = ((j == 0) - luma[j]) * kPhotoYccExtent / 1.8215;
        }
        a.c[0] = 0;
        a.c[1] = 156;
        a.c[2] = 137;
        break;
    }
    return a;
}

// Returns b after a.
Affine compose(const Affine &b, const Affine &a)
{
    Affine r{};
    for (int i = 0; i < 3; ++i) {
        r.c[i] = b.c[i];
        for (int k = 0; k < 3; ++k) {
            r.c[i] += b.m[i][k] * a.c[k];
            for (int j = 0; j < 3; ++j)
                r.m[i][j] += b.m[i][k] * a.m[k][j];
        }
    }
    return r;
}

// Rec. 709 transfer, both ways, on 0..1.
double encode709(double l)
{
    return l < 0.018 ? 4.5 * l : 1.099 * std::pow(l, 0.45) - 0.099;
}
double decode709(double v)
{
    return v < 0.081 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1 / 0.45);
}

// The fixed-point form of an affine map: out[k] = (sum over j of
// t[k][j][in[j]]) >> 16, clamped; the constant, the rounding half and a
// bias of two units sit in t[k][0].  The bias exceeds the tables' own
// rounding error, so a result that is exactly a half rounds up as it
// should, and no result nearer than 5e-5 to a rounding edge is moved.
struct Fixed {
    int32_t t[3][3][256];
};

void build_fixed(const Affine &a, int nin, int nout, Fixed *f)
{
    for (int k = 0; k < nout; ++k)
        for (int j = 0; j < nin; ++j)
            for (int v = 0; v < 256; ++v) {
                double x = a.m[k][j] * v * 65536.0;
                if (j == 0)
                    x += a.c[k] * 65536.0 + 32768.0 + 2.0;
                f->t[k][j][v] = static_cast<int32_t>(std::llround(x));
            }
}

inline unsigned char clamp_shift(int32_t x)
{
    x >>= 16;
    return static_cast<unsigned char>(x < 0 ? 0 : x > 255 ? 255 : x);
}

// The general conversion: to RGB, through linear light, to dst's bands.
struct Through {
    Affine in, out;
    bool to_linear;       // src has the 709 transfer, dst is linear
    float curve[4097];    // the transfer applied, sampled on 0..255
};

void build_through(const Affine &in, const Affine &out, bool to_linear, Through *th)
{
    th->in = in;
    th->out = out;
    th->to_linear = to_linear;
    for (int i = 0; i <= 4096; ++i) {
        const double x = i / 4096.0;
        th->curve[i] = static_cast<float>(255.0 * (to_linear ? decode709(x) : encode709(x)));
    }
}

inline double apply_curve(const Through &th, double x)
{
    if (!(x > 0))
        return th.curve[0];
    if (x >= 255)
        return th.curve[4096];
    const double p = x * (4096.0 / 255.0);
    const int i = static_cast<int>(p);
    return th.curve[i] + (p - i) * (th.curve[i + 1] - th.curve[i]);
}

// Converts one run, through the fixed-point map or the general path.
void convert_run(const VelaImage *src, int64_t sx, int64_t sy, VelaImage *dst, int64_t dx,
                 int64_t dy, int64_t w, const Fixed *fixed, const Through *th)
{
    const ptrdiff_t sps = src->pixel_stride, dps = dst->pixel_stride;
    const unsigned char *s = src->data + sy * src->row_stride + sx * sps;
    unsigned char *d = dst->data + dy * dst->row_stride + dx * dps;
    const int nin = src->nbands, nout = dst->nbands;
    if (fixed && nin == 3 && nout == 3) {
        const auto &t = fixed->t;
        for (int64_t i = 0; i < w; ++i, s += sps, d += dps) {
            const int v0 = s[0], v1 = s[1], v2 = s[2];
            d[0] = clamp_shift(t[0][0][v0] + t[0][1][v1] + t[0][2][v2]);
            d[1] = clamp_shift(t[1][0][v0] + t[1][1][v1] + t[1][2][v2]);
            d[2] = clamp_shift(t[2][0][v0] + t[2][1][v1] + t[2][2][v2]);
        }
        return;
    }
    if (fixed) {
        const auto &t = fixed->t;
        for (int64_t i = 0; i < w; ++i, s += sps, d += dps)
            for (int k = 0; k < nout; ++k) {
                int32_t x = 0;
                for (int j = 0; j < nin; ++j)
                    x += t[k][j][s[j]];
                d[k] = clamp_shift(x);
            }
        return;
    }
    for (int64_t i = 0; i < w; ++i, s += sps, d += dps) {
        double rgb[3];
        for (int k = 0; k < 3; ++k) {
            double x = th->in.c[k];
            for (int j = 0; j < nin; ++j)
                x += th->in.m[k][j] * s[j];
            rgb[k] = apply_curve(*th, x);
        }
        for (int k = 0; k < nout; ++k) {
            double x = th->out.c[k];
            for (int j = 0; j < 3; ++j)
                x += th->out.m[k][j] * rgb[j];
            d[k] = static_cast<unsigned char>(vela::quantize(x, VELA_BYTE));
        }
    }
}

// Returns true when img can hold colours of space; reports otherwise.
bool fits(const VelaImage *img, const VelaColorSpace *space, const char *who)
{
    if (img->datatype != VELA_BYTE || (img->nbands != space->nbands && img->nbands != 1)) {
        report(img->state, VELA_ERROR_USER,
               "%s: an image of %d band(s) type %d cannot hold \"%s\" colours", who,
               img->nbands, img->datatype, space->name);
        return false;
    }
    return true;
}

} // namespace

namespace vela {

void colour_image_release(VelaImage *img)
{
    pthread_mutex_lock(&g_mutex);
    for (size_t i = 0; i < g_tags.size(); ++i) {
        if (g_tags[i].img == img) {
            g_tags[i] = g_tags[g_tags.size() - 1];
            g_tags.resize(g_tags.size() - 1);
            break;
        }
    }
    pthread_mutex_unlock(&g_mutex);
}

} // namespace vela

extern "C" {

VelaColorSpace *vela_colorspace_get_by_name(VelaState *state, const char *name)
{
    if (!state || !name) {
        report(state, VELA_ERROR_USER, "vela_colorspace_get_by_name: no %s",
               state ? "name" : "state");
        return nullptr;
    }
    for (const VelaColorSpace &s : g_spaces)
        if (std::strcmp(s.name, name) == 0)
            return const_cast<VelaColorSpace *>(&s);
    return nullptr;
}

int vela_set_colorspace(VelaImage *img, VelaColorSpace *space)
{
    const char *who = "vela_set_colorspace";
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "%s: no image", who);
        return 0;
    }
    if (space && !fits(img, space, who))
        return 0;
    vela::colour_image_release(img);
    if (!space)
        return 1;
    pthread_mutex_lock(&g_mutex);
    const bool ok = g_tags.push(Tag{img, space});
    pthread_mutex_unlock(&g_mutex);
    if (!ok) {
        report(img->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return 0;
    }
    return 1;
}

VelaColorSpace *vela_get_colorspace(VelaImage *img)
{
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "vela_get_colorspace: no image");
        return nullptr;
    }
    const VelaColorSpace *space = nullptr;
    pthread_mutex_lock(&g_mutex);
    for (const Tag &t : g_tags)
        if (t.img == img)
            space = t.space;
    pthread_mutex_unlock(&g_mutex);
    return const_cast<VelaColorSpace *>(space);
}

int vela_color_convert(VelaImage *src, VelaImage *dst)
{
    const char *who = "vela_color_convert";
    if (!src || !dst) {
        report(src ? src->state : dst ? dst->state : nullptr, VELA_ERROR_USER, "%s: no image",
               who);
        return 0;
    }
    const VelaColorSpace *from = space_of(src), *to = space_of(dst);
    if (!fits(src, from, who) || !fits(dst, to, who))
        return 0;
    if (src == dst)
        return 1; // one image has one space
    const Affine in = to_rgb(from->kind, src->nbands), out = from_rgb(to->kind, dst->nbands);
    const bool same_transfer = is_linear(from->kind) == is_linear(to->kind);
    auto *fixed = same_transfer ? new (std::nothrow) Fixed : nullptr;
    auto *through = same_transfer ? nullptr : new (std::nothrow) Through;
    if (!fixed && !through) {
        report(dst->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return 0;
    }
    if (fixed)
        build_fixed(compose(out, in), src->nbands, dst->nbands, fixed);
    else
        build_through(in, out, is_linear(to->kind), through);
    const int rc = vela::for_each_run(src, dst, who, false,
                                      [&](const VelaImage *s, int64_t sx, int64_t sy,
                                          VelaImage *d, int64_t dx, int64_t dy, int64_t w) {
                                          convert_run(s, sx, sy, d, dx, dy, w, fixed, through);
                                      });
    delete fixed;
    delete through;
    return rc;
}

} // extern "C"
