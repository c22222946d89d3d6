/*
 * arith.cc - pixel arithmetic: type casts, adding, subtracting and
 * multiplying by constants, and rescaling.  Every operation is one table
 * per band from source value to destination value (256 entries for bytes,
 * 2 for bits), built once with rounding and clamping, then applied over
 * the destination's writable area.
 */
#include <cmath>

#include "image.h"

namespace {

using vela::PodVec;
using vela::Rect;
using vela::report;

// One table per band: tables[b][v] is the result for source value v.
struct Tables {
    unsigned char t[3][256];
};

// Applies the tables to one row of w pixels.
void apply_row(const VelaImage *src, int64_t sx, int64_t sy, VelaImage *dst, int64_t dx, int64_t dy,
               int64_t w, const Tables &tab)
{
    const unsigned char *s = src->data + sy * src->row_stride;
    unsigned char *d = dst->data + dy * dst->row_stride;
    const bool sbit = src->datatype == VELA_BIT, dbit = dst->datatype == VELA_BIT;
    if (sbit || dbit) { // bit images have one band
        const unsigned char *t = tab.t[0];
        for (int64_t i = 0; i < w; ++i) {
            int v =
                sbit ? vela::get_bit(s, src->bit_offset, sx + i) : s[(sx + i) * src->pixel_stride];
            if (dbit)
                vela::put_bit(d, dst->bit_offset, dx + i, t[v]);
            else
                d[(dx + i) * dst->pixel_stride] = t[v];
        }
        return;
    }
    const ptrdiff_t sps = src->pixel_stride, dps = dst->pixel_stride;
    s += sx * sps;
    d += dx * dps;
    if (src->nbands == 1) {
        const unsigned char *t = tab.t[0];
        if (sps == 1 && dps == 1) {
            for (int64_t i = 0; i < w; ++i)
                d[i] = t[s[i]];
        } else {
            for (int64_t i = 0; i < w; ++i)
                d[i * dps] = t[s[i * sps]];
        }
        return;
    }
    for (int64_t i = 0; i < w; ++i) {
        const unsigned char *p = s + i * sps;
        unsigned char *q = d + i * dps;
        q[0] = tab.t[0][p[0]];
        q[1] = tab.t[1][p[1]];
        q[2] = tab.t[2][p[2]];
    }
}

// Writes dst = tables(src) over dst's writable area, src's origin on dst's;
// returns 1, or 0 after reporting.  The caller has checked bands and types.
int apply_tables(VelaImage *src, VelaImage *dst, const Tables &tab, const char *who)
{
    int64_t ox, oy;
    if (!vela::origin_offset(src, dst, who, &ox, &oy))
        return 0;
    PodVec<Rect> rects;
    if (!vela::writable_rects(dst, &rects)) {
        report(dst->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return 0;
    }
    // In place is safe pixel by pixel; any other sharing reads a copy.
    VelaImage *tmp = nullptr;
    if (!(src == dst && ox == 0 && oy == 0) && vela::may_overlap(src, dst)) {
        tmp = vela::clone_whole(src, who);
        if (!tmp)
            return 0;
        src = tmp;
    }
    for (const Rect &r : rects) {
        int64_t x0 = r.x0 > -ox ? r.x0 : -ox;
        int64_t y0 = r.y0 > -oy ? r.y0 : -oy;
        int64_t x1 = r.x1 < src->width - ox ? r.x1 : src->width - ox;
        int64_t y1 = r.y1 < src->height - oy ? r.y1 : src->height - oy;
        if (x0 >= x1)
            continue;
        for (int64_t y = y0; y < y1; ++y)
            apply_row(src, x0 + ox, y + oy, dst, x0, y, x1 - x0, tab);
    }
    vela_destroy(tmp);
    return 1;
}

enum class Op { add, subtract, multiply, rescale };

// Returns the checked arguments of a constant operation; reports otherwise.
bool check_pair(VelaImage *src, VelaImage *dst, bool same_type, const char *who)
{
    if (!src || !dst) {
        report(src ? src->state : dst ? dst->state : nullptr, VELA_ERROR_USER, "%s: no image", who);
        return false;
    }
    if (src->nbands != dst->nbands || (same_type && src->datatype != dst->datatype)) {
        report(dst->state, VELA_ERROR_USER, "%s: images differ in bands (%d, %d) or type (%d, %d)",
               who, src->nbands, dst->nbands, src->datatype, dst->datatype);
        return false;
    }
    return true;
}

// Builds the tables of dst = src op a[band] (rescale: src * a + b) and
// applies them; returns 1, or 0 after reporting.
int constant_op(VelaImage *src, VelaImage *dst, Op op, const float *a, const float *b,
                const char *who)
{
    if (!check_pair(src, dst, true, who))
        return 0;
    if (!a || (op == Op::rescale && !b)) {
        report(dst->state, VELA_ERROR_USER, "%s: no values", who);
        return 0;
    }
    Tables tab;
    const int values = src->datatype == VELA_BIT ? 2 : 256;
    for (int band = 0; band < src->nbands; ++band) {
        const double c = a[band];
        for (int v = 0; v < values; ++v) {
            double r = 0;
            switch (op) {
            case Op::add: r = v + c; break;
            case Op::subtract: r = v - c; break;
            case Op::multiply: r = v * c; break;
            case Op::rescale: r = v * c + static_cast<double>(b[band]); break;
            }
            tab.t[band][v] = static_cast<unsigned char>(vela::quantize(r, dst->datatype));
        }
    }
    return apply_tables(src, dst, tab, who);
}

} // namespace

extern "C" {

int vela_cast(VelaImage *src, VelaImage *dst)
{
    if (!check_pair(src, dst, false, "vela_cast"))
        return 0;
    Tables tab;
    const int values = src->datatype == VELA_BIT ? 2 : 256;
    for (int band = 0; band < src->nbands; ++band)
        for (int v = 0; v < values; ++v)
            tab.t[band][v] = static_cast<unsigned char>(dst->datatype == VELA_BIT ? v != 0 : v);
    return apply_tables(src, dst, tab, "vela_cast");
}

int vela_add_const(VelaImage *src, const float *value, VelaImage *dst)
{
    return constant_op(src, dst, Op::add, value, nullptr, "vela_add_const");
}

int vela_subtract_const(VelaImage *src, const float *value, VelaImage *dst)
{
    return constant_op(src, dst, Op::subtract, value, nullptr, "vela_subtract_const");
}

int vela_multiply_const(VelaImage *src, const float *value, VelaImage *dst)
{
    return constant_op(src, dst, Op::multiply, value, nullptr, "vela_multiply_const");
}

int vela_rescale(VelaImage *src, VelaImage *dst, const float *scale, const float *offset)
{
    return constant_op(src, dst, Op::rescale, scale, offset, "vela_rescale");
}

} // extern "C"
