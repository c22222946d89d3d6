// settings.cc - libFuzzer target for the saved settings: the bytes after the
// first are settings-file text, read through the resource database and the
// conversions on a screen the first byte chooses; what was read must fit that
// screen and must come back unchanged after saving and loading the file.
#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <unistd.h>

#include "dialogs/props.h"
#include "dialogs/tessera.h"

namespace {

// The visuals a screen may have; bit i of the first byte offers entry i.
const struct {
    int klass, depth;
} kVisuals[] = {
    {StaticGray, 1}, {StaticColor, 4}, {GrayScale, 8}, {PseudoColor, 8},
    {TrueColor, 16}, {DirectColor, 16}, {TrueColor, 24}, {GrayScale, 24},
};

unsigned screen_bits;

bool fake_visual(int klass, int depth)
{
    for (unsigned i = 0; i < sizeof kVisuals / sizeof kVisuals[0]; i++)
        if ((screen_bits >> i & 1) != 0 && kVisuals[i].klass == klass && kVisuals[i].depth == depth)
            return true;
    return false;
}

// Points HOME and the settings file into a private folder, on tmpfs when
// there is one so that saving is cheap.
void setup_once()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    char tmpl[] = "/dev/shm/orvfuzz.XXXXXX";
    char tmpl2[] = "/tmp/orvfuzz.XXXXXX";
    const char *dir = mkdtemp(tmpl);
    if (dir == nullptr)
        dir = mkdtemp(tmpl2);
    if (dir == nullptr)
        std::abort();
    setenv("HOME", dir, 1);
    setenv("TESSERADEFAULTS", (std::string(dir) + "/settings").c_str(), 1);
    unsetenv("KELDAHOME");
    unsetenv("XENVIRONMENT");
    XrmInitialize();
    set_visual_match(fake_visual);
}

bool is_one_of(const char *s, std::initializer_list<const char *> names)
{
    for (const char *n : names)
        if (s != nullptr && std::strcmp(s, n) == 0)
            return true;
    return false;
}

// Stops the run unless the current settings fit the screen.
void check_settings()
{
    const VisualInventory &inv = visual_inventory();
    const PropsRec *p = current_props;
    if (!is_one_of(p->colors, {"BW", "16", "256", "Thousands", "Millions"}) ||
        !is_one_of(p->view_image_in, {"Color", "GrayScale"}) ||
        !is_one_of(p->view_postscript_in, {"Color", "Monochrome"}))
        std::abort();
    int depth = colors_to_depth(p->colors);
    bool any_depth = inv.depth1 || inv.depth4 || inv.depth8 || inv.depth16 || inv.depth24;
    if (any_depth && !inventory_has_depth(inv, depth))
        std::abort();
    if (std::strcmp(p->view_postscript_in, "Color") == 0 && !inv.color_vis)
        std::abort();
    if (p->display_palette < 0 || p->display_palette > 1 || p->use_dsc < 0 || p->use_dsc > 1 ||
        p->tt_timeout_secs < 0 || p->tt_timeout_secs > INT_MAX / 1000)
        std::abort();
    int klass = canvas_visual_class(depth);
    if (klass < StaticGray || klass > DirectColor)
        std::abort();
}

// Saves the six stored values and stops the run unless they load back equal.
void check_round_trip()
{
    XrmDatabase out = nullptr;
    for (int i = 0; i < NPROPS; i++)
        ts_put_resource(&out, "Corvat", resources[i].name, resources[i].value);
    if (ts_save_resources(out) != 0)
        std::abort();
    XrmDestroyDatabase(out);
    XrmDatabase back = ts_load_tessera_defs();
    for (int i = 0; i < NPROPS; i++) {
        const char *v = ts_get_resource(back, "corvat", resources[i].name);
        if (v == nullptr || std::strcmp(v, resources[i].value) != 0)
            std::abort();
    }
    if (back != nullptr)
        XrmDestroyDatabase(back);
}

} // namespace

// libX11's quark lookup memcmp()s the wanted name's full length against a
// stored name that may be shorter; the comparison ends at the stored name's
// NUL, but AddressSanitizer's strict check reports the whole range inside
// libX11 once enough quarks exist.  Without it memcmp is still checked up to
// the first differing byte.
extern "C" const char *__asan_default_options()
{
    return "strict_memcmp=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    setup_once();
    if (size == 0)
        return 0;
    screen_bits = data[0];
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

    set_props_defaults();
    XrmDatabase db = XrmGetStringDatabase(text.c_str());
    apply_settings_database(db);
    if (db != nullptr)
        XrmDestroyDatabase(db);
    check_settings();
    check_round_trip();

    // The first line as a path: without a tilde or a dollar it stays as it is.
    std::string line = text.substr(0, std::min<size_t>(text.find('\n'), 256));
    std::string expanded = ts_expand_path(line);
    if (line.find_first_of("~$") == std::string::npos && expanded != line)
        std::abort();

    // The text's first bytes as two button events.
    if (size >= 13) {
        XEvent a = {}, b = {};
        a.type = (data[1] & 1) ? ButtonPress : ButtonRelease;
        b.type = (data[1] & 2) ? ButtonPress : ButtonRelease;
        std::memcpy(&a.xbutton.time, data + 2, 4);
        std::memcpy(&b.xbutton.time, data + 6, 4);
        a.xbutton.x = data[10];
        b.xbutton.x = data[11];
        a.xbutton.y = b.xbutton.y = data[12];
        int r = ts_is_double_click(&a, &b);
        if (r != 0 && r != 1)
            std::abort();
    }
    return 0;
}
