// window.cc - window images: library images bound to an X window, so that
// copying into one (vela_copy) or filling it (vela_set_value) paints the
// window.  The pixels live in library memory in the display's terms (3
// bands for TrueColor and DirectColor visuals, pixel values for the others,
// bits for 1-bit windows) and are converted into an XImage, shared with the
// server through MIT-SHM when the display is local, for each painted area.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image.h"
#include "window.h"

namespace {

struct WindowBinding {
    VelaImage *image;
    Display *dpy;
    Window win;
    GC gc;
    XImage *ximage;
    XShmSegmentInfo shm;
    bool use_shm;
    int klass;                  // visual class
    // TrueColor / DirectColor: where each 8-bit channel goes in a pixel.
    unsigned long red_mask, green_mask, blue_mask;
    int red_shift, green_shift, blue_shift;
    int red_bits, green_bits, blue_bits;
};

std::vector<WindowBinding *> bindings;

WindowBinding *find(const VelaImage *img)
{
    for (WindowBinding *b : bindings)
        if (b->image == img)
            return b;
    return nullptr;
}

void mask_shift(unsigned long mask, int *shift, int *bits)
{
    *shift = 0;
    *bits = 0;
    if (mask == 0)
        return;
    while (!((mask >> *shift) & 1))
        (*shift)++;
    while ((mask >> (*shift + *bits)) & 1)
        (*bits)++;
}

// True when the display is on this machine, so shared memory can work.
bool display_is_local(Display *dpy)
{
    const char *name = DisplayString(dpy);
    return name != nullptr && (name[0] == ':' || std::strncmp(name, "unix:", 5) == 0 ||
                               std::strncmp(name, "localhost:", 10) == 0);
}

// A failure while attaching the shared segment only means plain painting.
bool shm_failed = false;
int shm_error_handler(Display *, XErrorEvent *)
{
    shm_failed = true;
    return 0;
}

XImage *make_ximage(WindowBinding *b, Visual *visual, int depth, int width, int height)
{
    int format = depth == 1 ? XYBitmap : ZPixmap;
    if (b->use_shm) {
        XImage *img = XShmCreateImage(b->dpy, visual, static_cast<unsigned>(depth), format, nullptr,
                                      &b->shm, static_cast<unsigned>(width),
                                      static_cast<unsigned>(height));
        if (img != nullptr) {
            size_t size = static_cast<size_t>(img->bytes_per_line) * static_cast<size_t>(img->height);
            b->shm.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
            if (b->shm.shmid >= 0) {
                b->shm.shmaddr = img->data = static_cast<char *>(shmat(b->shm.shmid, nullptr, 0));
                b->shm.readOnly = False;
                if (b->shm.shmaddr != reinterpret_cast<char *>(-1)) {
                    XSync(b->dpy, False);
                    shm_failed = false;
                    int (*old)(Display *, XErrorEvent *) = XSetErrorHandler(shm_error_handler);
                    Status ok = XShmAttach(b->dpy, &b->shm);
                    XSync(b->dpy, False);
                    XSetErrorHandler(old);
                    // The segment goes away with its last user.
                    shmctl(b->shm.shmid, IPC_RMID, nullptr);
                    if (ok && !shm_failed)
                        return img;
                    shmdt(b->shm.shmaddr);
                } else {
                    shmctl(b->shm.shmid, IPC_RMID, nullptr);
                }
            }
            img->data = nullptr;
            XDestroyImage(img);
        }
        b->use_shm = false;
    }
    XImage *img = XCreateImage(b->dpy, visual, static_cast<unsigned>(depth), format, 0, nullptr,
                               static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (img == nullptr)
        return nullptr;
    img->data = static_cast<char *>(
        std::calloc(static_cast<size_t>(img->bytes_per_line), static_cast<size_t>(height)));
    if (img->data == nullptr) {
        XDestroyImage(img);
        return nullptr;
    }
    return img;
}

#if defined(__x86_64__)
// Four blue-green-red pixels to four 32-bit pixels per shuffle.
__attribute__((target("ssse3"))) int bgr_to_xrgb_ssse3(const unsigned char *p, unsigned char *o, int n)
{
    const __m128i mask = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    int i = 0;
    // Each load reads 16 bytes of which 12 are used: stay 16 bytes inside.
    for (; i + 6 <= n; i += 4, p += 12, o += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_shuffle_epi8(v, mask));
    }
    return i;
}
#endif

// Converts the area r of the window from src, whose pixel (x + ox, y + oy)
// lands at the window's (x, y), into the XImage.
void convert(WindowBinding *b, const VelaImage *img, int ox, int oy, const vela::Rect &r)
{
    XImage *x = b->ximage;
    int w = r.x1 - r.x0;
    auto src_row = [&](int y) { return img->data + (y + oy) * img->row_stride; };
    if (img->datatype == VELA_BIT) {
        for (int y = r.y0; y < r.y1; y++) {
            const unsigned char *row = src_row(y);
            for (int i = r.x0; i < r.x1; i++)
                XPutPixel(x, i, y, static_cast<unsigned long>(vela::get_bit(row, img->bit_offset, i + ox)));
        }
        return;
    }
    if (img->nbands == 1) {
        if (x->bits_per_pixel == 8 && img->pixel_stride == 1) {
            for (int y = r.y0; y < r.y1; y++)
                std::memcpy(x->data + y * x->bytes_per_line + r.x0, src_row(y) + r.x0 + ox,
                            static_cast<size_t>(w));
        } else {
            for (int y = r.y0; y < r.y1; y++) {
                const unsigned char *p = src_row(y);
                for (int i = r.x0; i < r.x1; i++)
                    XPutPixel(x, i, y, p[(i + ox) * img->pixel_stride]);
            }
        }
        return;
    }
    // Three bands, blue, green, red, into the visual's masks.
    bool plain32 = x->bits_per_pixel == 32 && x->byte_order == LSBFirst && b->red_mask == 0xff0000 &&
                   b->green_mask == 0xff00 && b->blue_mask == 0xff && img->pixel_stride == 3;
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
#else
    static const bool ssse3 = false;
#endif
    for (int y = r.y0; y < r.y1; y++) {
        const unsigned char *p = src_row(y) + (r.x0 + ox) * img->pixel_stride;
        if (plain32) {
            unsigned char *o = reinterpret_cast<unsigned char *>(x->data) + y * x->bytes_per_line + r.x0 * 4;
            int i = 0;
#if defined(__x86_64__)
            if (ssse3)
                i = bgr_to_xrgb_ssse3(p, o, w);
#endif
            for (p += 3 * i, o += 4 * i; i < w; i++, p += 3, o += 4) {
                o[0] = p[0];
                o[1] = p[1];
                o[2] = p[2];
                o[3] = 0;
            }
            continue;
        }
        for (int i = r.x0; i < r.x1; i++, p += img->pixel_stride) {
            unsigned long pixel = (static_cast<unsigned long>(p[2] >> (8 - b->red_bits)) << b->red_shift) |
                                  (static_cast<unsigned long>(p[1] >> (8 - b->green_bits)) << b->green_shift) |
                                  (static_cast<unsigned long>(p[0] >> (8 - b->blue_bits)) << b->blue_shift);
            XPutPixel(x, i, y, pixel);
        }
    }
}

// Puts the converted areas on the window.
void put(WindowBinding *b, const vela::Rect *rects, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        const vela::Rect &r = rects[i];
        if (r.empty())
            continue;
        unsigned w = static_cast<unsigned>(r.x1 - r.x0), h = static_cast<unsigned>(r.y1 - r.y0);
        if (b->use_shm)
            XShmPutImage(b->dpy, b->win, b->gc, b->ximage, r.x0, r.y0, r.x0, r.y0, w, h, False);
        else
            XPutImage(b->dpy, b->win, b->gc, b->ximage, r.x0, r.y0, r.x0, r.y0, w, h);
    }
    // The server must be done with the shared pixels before they change.
    if (b->use_shm)
        XSync(b->dpy, False);
    else
        XFlush(b->dpy);
}

} // namespace

namespace vela {

bool is_window_image(const VelaImage *img)
{
    return find(img) != nullptr;
}

void window_paint(VelaImage *img, const Rect *rects, size_t n)
{
    WindowBinding *b = find(img);
    if (b == nullptr)
        return;
    Rect whole = {0, 0, img->width, img->height};
    PodVec<Rect> clipped;
    for (size_t i = 0; i < n; i++) {
        Rect r = intersect(rects[i], whole);
        if (!r.empty()) {
            convert(b, img, 0, 0, r);
            clipped.push(r);
        }
    }
    put(b, clipped.data(), clipped.size());
}

bool window_paint_from(VelaImage *img, const VelaImage *src, int64_t ox, int64_t oy,
                       const Rect *rects, size_t n)
{
    WindowBinding *b = find(img);
    if (b == nullptr)
        return false;
    // Straight from the source into the server's image: the window's own
    // pixels are not kept, nothing reads them.
    for (size_t i = 0; i < n; i++)
        if (!rects[i].empty())
            convert(b, src, static_cast<int>(ox), static_cast<int>(oy), rects[i]);
    put(b, rects, n);
    return true;
}

void window_release(VelaImage *img)
{
    for (size_t i = 0; i < bindings.size(); i++) {
        WindowBinding *b = bindings[i];
        if (b->image != img)
            continue;
        if (b->use_shm) {
            XShmDetach(b->dpy, &b->shm);
            XSync(b->dpy, False);
            shmdt(b->shm.shmaddr);
            b->ximage->data = nullptr;
        }
        XDestroyImage(b->ximage);
        XFreeGC(b->dpy, b->gc);
        delete b;
        bindings.erase(bindings.begin() + static_cast<long>(i));
        return;
    }
}

} // namespace vela

extern "C" VelaImage *vela_create_from_window(VelaState *state, struct _XDisplay *dpy,
                                              unsigned long window)
{
    XWindowAttributes attr;
    if (dpy == nullptr || window == 0 || !XGetWindowAttributes(dpy, window, &attr)) {
        vela::report(state, VELA_ERROR_USER, "vela_create_from_window: no such window");
        return nullptr;
    }
    int klass = attr.visual->c_class;
    bool true_colour = (klass == TrueColor || klass == DirectColor) && attr.depth >= 12;
    int bands = true_colour ? 3 : 1;
    int type = attr.depth == 1 ? VELA_BIT : VELA_BYTE;
    VelaImage *img = vela_create(state, attr.width > 0 ? attr.width : 1,
                                 attr.height > 0 ? attr.height : 1, bands, type);
    if (img == nullptr)
        return nullptr;
    auto *b = new (std::nothrow) WindowBinding{};
    if (b == nullptr) {
        vela_destroy(img);
        vela::report(state, VELA_ERROR_RESOURCE, "vela_create_from_window: out of memory");
        return nullptr;
    }
    b->image = img;
    b->dpy = dpy;
    b->win = window;
    b->klass = klass;
    b->red_mask = attr.visual->red_mask;
    b->green_mask = attr.visual->green_mask;
    b->blue_mask = attr.visual->blue_mask;
    mask_shift(b->red_mask, &b->red_shift, &b->red_bits);
    mask_shift(b->green_mask, &b->green_shift, &b->green_bits);
    mask_shift(b->blue_mask, &b->blue_shift, &b->blue_bits);
    for (int *bits : {&b->red_bits, &b->green_bits, &b->blue_bits})
        if (*bits > 8)
            *bits = 8;
    int major, minor;
    Bool pixmaps;
    b->use_shm = display_is_local(dpy) && XShmQueryVersion(dpy, &major, &minor, &pixmaps) &&
                 std::getenv("VELA_NO_SHM") == nullptr;
    b->ximage = make_ximage(b, attr.visual, attr.depth, img->width, img->height);
    b->gc = XCreateGC(dpy, window, 0, nullptr);
    if (b->ximage == nullptr || b->gc == nullptr) {
        if (b->ximage != nullptr)
            XDestroyImage(b->ximage);
        if (b->gc != nullptr)
            XFreeGC(dpy, b->gc);
        delete b;
        vela_destroy(img);
        vela::report(state, VELA_ERROR_RESOURCE, "vela_create_from_window: no image for the window");
        return nullptr;
    }
    if (attr.depth == 1) {
        // A 1-bit window shows 1 as black, like the library's bit images.
        XSetForeground(dpy, b->gc, BlackPixel(dpy, XScreenNumberOfScreen(attr.screen)));
        XSetBackground(dpy, b->gc, WhitePixel(dpy, XScreenNumberOfScreen(attr.screen)));
    }
    bindings.push_back(b);
    return img;
}
