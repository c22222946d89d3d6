// Benchmark: scrolling a large picture by one page, and the view
// transforms, in the viewer's own main window.
//
// A scroll by one page (the canvas repainted at the new position) is
// compared with a plain XShmPutImage of the canvas area; Zoom 200 %,
// Rotate 90 and a flip (request to repainted canvas) with a memcpy of the
// new view image's bytes; a 33-degree rotation likewise (targets 2x, 6x and
// 12x).  Runs on DISPLAY (scripts/bench starts a private 1920 x 1080 Xvfb).
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <Xm/ScrollBar.h>
#include <Xm/SSpinB.h>
#include <Xm/TextF.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/corvat.h"
#include "app/menus.h"
#include "app/ui_corvat.h"
#include "dialogs/palette.h"
#include "dialogs/props.h"
#include "formats/open.h"
#include "image/canvas.h"
#include "image/display.h"
#include "image/image.h"
#include "image/state.h"
#include "image/vela_iface.h"

namespace {

double best_of(int runs, const std::function<void()> &f)
{
    double best = 1e30;
    for (int i = 0; i < runs; i++) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        XSync(XtDisplay(app_shell), False);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

void flush()
{
    for (int i = 0; i < 5; i++) {
        XSync(XtDisplay(app_shell), False);
        while (XtAppPending(app_context))
            XtAppProcessEvent(app_context, XtIMAll);
    }
}

// Writes a 6000 x 4000 24-bit raster picture with gradients and noise.
void make_picture(const std::string &path, int w, int h)
{
    std::ofstream out(path, std::ios::binary);
    auto put = [&out](uint32_t v) {
        unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                              static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
        out.write(reinterpret_cast<char *>(b), 4);
    };
    for (uint32_t v : {0x59a66a95u, static_cast<uint32_t>(w), static_cast<uint32_t>(h), 24u,
                       static_cast<uint32_t>(w * h * 3), 1u, 0u, 0u})
        put(v);
    std::vector<unsigned char> row(static_cast<size_t>(w) * 3);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            row[3 * x] = static_cast<unsigned char>(x / 24);
            row[3 * x + 1] = static_cast<unsigned char>(y / 16);
            row[3 * x + 2] = static_cast<unsigned char>((x ^ y) & 0xff);
        }
        out.write(reinterpret_cast<char *>(row.data()), static_cast<std::streamsize>(row.size()));
    }
}

void press(Widget w)
{
    XtCallCallbacks(w, XmNactivateCallback, nullptr);
}

void type_into(Widget spin, const char *text)
{
    Widget field = nullptr;
    XtVaGetValues(spin, XmNtextField, &field, nullptr);
    XmTextFieldSetString(field, const_cast<char *>(text));
}

} // namespace

int main()
{
    char name[] = "orvimage";
    char *args[] = {name, nullptr};
    int n = 1;
    setenv("HOME", "/tmp", 1);
    if (!corvat_init_toolkit(&n, args)) {
        std::fprintf(stderr, "bench_canvas_scroll: needs a display\n");
        return 1;
    }
    base = static_cast<BaseRec *>(std::calloc(1, sizeof(BaseRec)));
    BaseObjectsInitialize(base, app_shell);
    read_props(1);
    XtRealizeWidget(app_shell);
    XMapWindow(XtDisplay(app_shell), XtWindow(app_shell));
    flush();
    std::string path = "/tmp/orvbench-scroll.ras";
    make_picture(path, 6000, 4000);
    if (open_newfile(path.c_str(), path.c_str(), -1, nullptr, 0) != 0) {
        std::fprintf(stderr, "bench_canvas_scroll: the picture does not open\n");
        return 1;
    }
    flush();
    Display *d = XtDisplay(app_shell);
    Dimension cw = 0, ch = 0;
    XtVaGetValues(base->canvas, XmNwidth, &cw, XmNheight, &ch, nullptr);

    // One page down, and back, through the scroll bar's callback.
    int page = ch > 10 ? ch - 10 : ch;
    int value = 0;
    double scroll = best_of(9, [&] {
        value = value == 0 ? page : 0;
        XmScrollBarCallbackStruct cb = {};
        cb.reason = XmCR_VALUE_CHANGED;
        cb.value = value;
        ScrollBarCallback(base->vscrollbar, reinterpret_cast<XtPointer>(1), &cb);
    });

    // A bare shared-memory put of the same area.
    XShmSegmentInfo shm = {};
    XWindowAttributes a;
    XGetWindowAttributes(d, XtWindow(base->canvas), &a);
    XImage *img = XShmCreateImage(d, a.visual, static_cast<unsigned>(a.depth), ZPixmap, nullptr, &shm, cw, ch);
    shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(img->bytes_per_line) * img->height, IPC_CREAT | 0600);
    shm.shmaddr = img->data = static_cast<char *>(shmat(shm.shmid, nullptr, 0));
    XShmAttach(d, &shm);
    shmctl(shm.shmid, IPC_RMID, nullptr);
    GC gc = XCreateGC(d, XtWindow(base->canvas), 0, nullptr);
    double put = best_of(9, [&] { XShmPutImage(d, XtWindow(base->canvas), gc, img, 0, 0, 0, 0, cw, ch, False); });

    std::printf("canvas %d x %d\n", cw, ch);
    std::printf("  XShmPutImage of the canvas   %8.4f s\n", put);
    std::printf("  scroll by one page           %8.4f s   %.2fx (target 2x)\n", scroll, scroll / put);

    // The view transforms, as the palette asks for them.
    PaletteCallback(nullptr, nullptr, nullptr);
    flush();
    struct Step {
        const char *name;
        std::function<void()> run;
        double target;
    } steps[] = {
        {"zoom 200 %", [] { type_into(palette->zoom_spin, "200"); press(palette->zoom_button); }, 6},
        {"rotate 90", [] { type_into(palette->rotate_spin, "90"); press(palette->rotate_r_button); }, 6},
        {"flip", [] { press(palette->hflip_button); }, 6},
        {"rotate 33", [] { type_into(palette->rotate_spin, "33"); press(palette->rotate_r_button); }, 12},
    };
    for (const Step &s : steps) {
        double best = 1e30;
        size_t bytes = 0;
        for (int i = 0; i < 3; i++) {
            RevertCallback(nullptr, nullptr, nullptr);
            flush();
            best = std::min(best, best_of(1, s.run));
            bytes = static_cast<size_t>(current_image->width) * current_image->height * 3;
        }
        double copy = bench::memcpy_time(bytes);
        std::printf("  %-12s  %8.4f s   memcpy of the view %8.4f s   %.2fx (target %.0fx)\n", s.name,
                    best, copy, best / copy, s.target);
    }
    std::remove(path.c_str());
    return 0;
}
