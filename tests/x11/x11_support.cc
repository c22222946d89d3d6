// x11_support.cc - alert answering and screen reading for the X tests.
#include "x11_support.h"

#include <X11/IntrinsicP.h>
#include <X11/CoreP.h>
#include <Xm/MessageB.h>

#include <vector>

#include "app/alert.h"

namespace {

struct Pending {
    std::string button;
    AlertSeen *seen;
};

std::vector<Widget> all_dialogs;

// Collects every "DialogPopup" under w.
void collect(Widget w)
{
    if (XtIsComposite(w)) {
        WidgetList children = nullptr;
        Cardinal n = 0;
        XtVaGetValues(w, XmNchildren, &children, XmNnumChildren, &n, nullptr);
        for (Cardinal i = 0; i < n; i++)
            collect(children[i]);
    }
    if (XtIsWidget(w)) {
        for (Cardinal i = 0; i < w->core.num_popups; i++)
            collect(w->core.popup_list[i]);
    }
    if (std::string(XtName(w)) == "DialogPopup" && XtIsManaged(w))
        all_dialogs.push_back(w);
}

std::string compound_text(XmString s)
{
    char buf[1024];
    return ConvertCompoundToChar(s, buf, sizeof buf);
}

void AnswerTimer(XtPointer client, XtIntervalId *)
{
    Pending *p = static_cast<Pending *>(client);
    Widget dialog = newest_alert();
    if (dialog == nullptr) {
        XtAppAddTimeOut(app_context, 20, AnswerTimer, p);
        return;
    }
    Widget shell = XtParent(dialog);
    char *title = nullptr;
    XtVaGetValues(shell, XmNtitle, &title, nullptr);
    XmString message = nullptr;
    XtVaGetValues(dialog, XmNmessageString, &message, nullptr);
    p->seen->title = title != nullptr ? title : "";
    p->seen->message = compound_text(message);
    p->seen->seen = true;
    XmStringFree(message);
    // The message box keeps its own hidden buttons (one of them "Cancel"):
    // only a managed button of the wanted name is the alert's.
    Widget button = nullptr;
    WidgetList children = nullptr;
    Cardinal n = 0;
    XtVaGetValues(dialog, XmNchildren, &children, XmNnumChildren, &n, nullptr);
    for (Cardinal i = 0; i < n && button == nullptr; i++)
        if (XtIsManaged(children[i]) && p->button == XtName(children[i]))
            button = children[i];
    if (button != nullptr)
        XtCallCallbacks(button, XmNactivateCallback, nullptr);
    delete p;
}

} // namespace

Widget newest_alert()
{
    all_dialogs.clear();
    collect(app_shell);
    return all_dialogs.empty() ? nullptr : all_dialogs.back();
}

void answer_next_alert(const std::string &button, AlertSeen *seen)
{
    XtAppAddTimeOut(app_context, 20, AnswerTimer, new Pending{button, seen});
}

void window_rgb(Window w, int x, int y, unsigned char rgb[3])
{
    Display *d = XtDisplay(app_shell);
    XWindowAttributes attr;
    XGetWindowAttributes(d, w, &attr);
    XImage *img = XGetImage(d, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (img == nullptr) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return;
    }
    XColor c;
    c.pixel = XGetPixel(img, 0, 0);
    XDestroyImage(img);
    XQueryColor(d, attr.colormap, &c);
    rgb[0] = static_cast<unsigned char>(c.red >> 8);
    rgb[1] = static_cast<unsigned char>(c.green >> 8);
    rgb[2] = static_cast<unsigned char>(c.blue >> 8);
}

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "app/ui_corvat.h"
#include "dialogs/props.h"
#include "image/canvas.h"
#include "image/image.h"

bool ensure_main_window()
{
    if (base != nullptr)
        return true;
    base = static_cast<BaseRec *>(std::calloc(1, sizeof(BaseRec)));
    BaseObjectsInitialize(base, app_shell);
    read_props(1);
    set_labels("(None)");
    XtVaSetValues(app_shell, XmNmappedWhenManaged, False, nullptr);
    XtRealizeWidget(app_shell);
    current_display = image_display;
    XMapWindow(XtDisplay(app_shell), XtWindow(app_shell));
    return run_until([] {
        XWindowAttributes a;
        return XGetWindowAttributes(XtDisplay(app_shell), XtWindow(app_shell), &a) &&
               a.map_state == IsViewable;
    });
}

namespace {

void put32(std::ofstream &out, uint32_t v)
{
    unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                          static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    out.write(reinterpret_cast<char *>(b), 4);
}

void header(std::ofstream &out, int w, int h, int depth, uint32_t length, int type, int maptype,
            int maplength)
{
    for (uint32_t v : {0x59a66a95u, static_cast<uint32_t>(w), static_cast<uint32_t>(h),
                       static_cast<uint32_t>(depth), length, static_cast<uint32_t>(type),
                       static_cast<uint32_t>(maptype), static_cast<uint32_t>(maplength)})
        put32(out, v);
}

} // namespace

std::string write_raster_24(const std::string &path, int width, int height,
                            const std::vector<unsigned char> &rgb)
{
    std::ofstream out(path, std::ios::binary);
    int line = width * 3 + (width * 3) % 2;
    header(out, width, height, 24, static_cast<uint32_t>(line * height), 3, 0, 0);
    std::vector<char> row(static_cast<size_t>(line), 0);
    for (int y = 0; y < height; y++) {
        std::memcpy(row.data(), &rgb[static_cast<size_t>(y) * width * 3], static_cast<size_t>(width) * 3);
        out.write(row.data(), line);
    }
    return path;
}

std::string write_raster_8(const std::string &path, int width, int height,
                           const std::vector<unsigned char> &indices,
                           const std::vector<unsigned char> &map_rgb)
{
    std::ofstream out(path, std::ios::binary);
    int line = width + width % 2;
    int n = static_cast<int>(map_rgb.size() / 3);
    header(out, width, height, 8, static_cast<uint32_t>(line * height), 1, 1, n * 3);
    for (int plane = 0; plane < 3; plane++)
        for (int i = 0; i < n; i++)
            out.put(static_cast<char>(map_rgb[3 * i + plane]));
    std::vector<char> row(static_cast<size_t>(line), 0);
    for (int y = 0; y < height; y++) {
        std::memcpy(row.data(), &indices[static_cast<size_t>(y) * width], static_cast<size_t>(width));
        out.write(row.data(), line);
    }
    return path;
}

std::string write_raster_1(const std::string &path, int width, int height,
                           const std::vector<unsigned char> &bits01)
{
    std::ofstream out(path, std::ios::binary);
    int line = ((width + 15) / 16) * 2;
    header(out, width, height, 1, static_cast<uint32_t>(line * height), 1, 0, 0);
    for (int y = 0; y < height; y++) {
        std::vector<char> row(static_cast<size_t>(line), 0);
        for (int x = 0; x < width; x++)
            if (bits01[static_cast<size_t>(y) * width + x])
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        out.write(row.data(), line);
    }
    return path;
}

std::string test_folder()
{
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/orvx11.XXXXXX";
        dir = mkdtemp(tmpl);
    }
    return dir;
}
