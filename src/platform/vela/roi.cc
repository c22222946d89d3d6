/*
 * roi.cc - regions of interest: rectangle lists that limit where an
 * operation writes.  An image keeps its region as disjoint rectangles
 * clipped to its size, so an in-place operation never touches a pixel twice.
 */
#include <algorithm>

#include "image.h"

namespace {

using vela::PodVec;
using vela::Rect;
using vela::report;

// Returns true when the bands a and b (runs of x intervals) have the same
// intervals.
bool same_intervals(const Rect *a, const Rect *b, size_t n)
{
    for (size_t k = 0; k < n; ++k)
        if (a[k].x0 != b[k].x0 || a[k].x1 != b[k].x1)
            return false;
    return true;
}

// Fills *out with disjoint rectangles covering the union of in clipped to
// width x height: horizontal bands between the rectangles' edges, each a
// run of merged x intervals, with equal neighbouring bands joined.  Fails
// only when memory ran out.
bool normalise(const PodVec<Rect> &in, int width, int height, PodVec<Rect> *out)
{
    const Rect bounds{0, 0, width, height};
    PodVec<Rect> clipped;
    PodVec<int> edges;
    for (const Rect &r : in) {
        Rect c = vela::intersect(r, bounds);
        if (c.empty())
            continue;
        if (!clipped.push(c) || !edges.push(c.y0) || !edges.push(c.y1))
            return false;
    }
    out->clear();
    std::sort(edges.begin(), edges.end());
    int *edges_end = std::unique(edges.begin(), edges.end());
    const size_t nedges = static_cast<size_t>(edges_end - edges.begin());

    PodVec<Rect> band;
    size_t prev_first = 0, prev_count = 0; // previous band's rectangles in out
    int prev_y1 = -1;
    for (size_t k = 0; k + 1 < nedges; ++k) {
        const int ya = edges[k], yb = edges[k + 1];
        band.clear();
        for (const Rect &r : clipped)
            if (r.y0 <= ya && r.y1 >= yb && !band.push(Rect{r.x0, ya, r.x1, yb}))
                return false;
        std::sort(band.begin(), band.end(),
                  [](const Rect &a, const Rect &b) { return a.x0 < b.x0; });
        size_t merged = 0;
        for (const Rect &r : band) {
            if (merged && r.x0 <= band[merged - 1].x1) {
                if (r.x1 > band[merged - 1].x1)
                    band[merged - 1].x1 = r.x1;
            } else {
                band[merged++] = r;
            }
        }
        if (merged == 0) {
            prev_count = 0;
            continue;
        }
        if (prev_y1 == ya && prev_count == merged &&
            same_intervals(out->data() + prev_first, band.data(), merged)) {
            for (size_t m = 0; m < merged; ++m)
                (*out)[prev_first + m].y1 = yb;
        } else {
            prev_first = out->size();
            prev_count = merged;
            for (size_t m = 0; m < merged; ++m)
                if (!out->push(band[m]))
                    return false;
        }
        prev_y1 = yb;
    }
    return true;
}

} // namespace

namespace vela {

bool writable_rects(const VelaImage *dst, PodVec<Rect> *out)
{
    if (dst->has_roi)
        return out->assign(dst->roi);
    out->clear();
    return out->push(Rect{0, 0, dst->width, dst->height});
}

} // namespace vela

extern "C" {

VelaRoi *vela_roi_create(VelaState *state)
{
    if (!state) {
        report(nullptr, VELA_ERROR_USER, "vela_roi_create: no state");
        return nullptr;
    }
    auto *roi = new (std::nothrow) VelaRoi;
    if (!roi) {
        report(state, VELA_ERROR_RESOURCE, "vela_roi_create: out of memory");
        return nullptr;
    }
    roi->state = state;
    return roi;
}

int vela_roi_add_rect(VelaRoi *roi, int x, int y, int width, int height)
{
    if (!roi) {
        report(nullptr, VELA_ERROR_USER, "vela_roi_add_rect: no region");
        return 0;
    }
    if (width < 0 || height < 0) {
        report(roi->state, VELA_ERROR_USER, "vela_roi_add_rect: negative size %d x %d", width,
               height);
        return 0;
    }
    // No image is larger than kMaxSide, so clipping to [0, kMaxSide] here
    // loses nothing and keeps the corners inside int.
    auto clip = [](int64_t v) {
        return static_cast<int>(std::clamp<int64_t>(v, 0, vela::kMaxSide));
    };
    Rect r{clip(x), clip(y), clip(static_cast<int64_t>(x) + width),
           clip(static_cast<int64_t>(y) + height)};
    if (r.empty())
        return 1;
    if (!roi->rects.push(r)) {
        report(roi->state, VELA_ERROR_RESOURCE, "vela_roi_add_rect: out of memory");
        return 0;
    }
    return 1;
}

int vela_set_roi(VelaImage *img, VelaRoi *roi)
{
    if (!img) {
        report(roi ? roi->state : nullptr, VELA_ERROR_USER, "vela_set_roi: no image");
        return 0;
    }
    if (!roi) {
        img->has_roi = false;
        img->roi.clear();
        return 1;
    }
    PodVec<Rect> rects;
    if (!normalise(roi->rects, img->width, img->height, &rects) || !img->roi.assign(rects)) {
        report(img->state, VELA_ERROR_RESOURCE, "vela_set_roi: out of memory");
        return 0;
    }
    img->has_roi = true;
    return 1;
}

void vela_roi_destroy(VelaRoi *roi)
{
    delete roi;
}

} // extern "C"
