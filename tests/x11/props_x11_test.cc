// The saved settings against a real server: the visual inventory matches
// what the server lists, every setting leads to a visual the server has, and
// the server's resource string takes part in the merged database.
#include "x11_support.h"

#include <X11/Xatom.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "dialogs/props.h"
#include "dialogs/tessera.h"

namespace {

// The server's visuals as (class, depth) pairs, from XGetVisualInfo.
std::set<std::pair<int, int>> server_visuals(Display *dpy)
{
    XVisualInfo tmpl = {};
    tmpl.screen = DefaultScreen(dpy);
    int n = 0;
    XVisualInfo *list = XGetVisualInfo(dpy, VisualScreenMask, &tmpl, &n);
    std::set<std::pair<int, int>> out;
    for (int i = 0; i < n; i++)
        out.insert({list[i].c_class, list[i].depth});
    if (list != nullptr)
        XFree(list);
    return out;
}

// A private HOME and settings file on the test's display.
class PropsX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/orvpropsx.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        for (const char *v : {"HOME", "TESSERADEFAULTS", "KELDAHOME", "XENVIRONMENT"}) {
            const char *old = std::getenv(v);
            saved_.emplace_back(v, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
            unsetenv(v);
        }
        setenv("HOME", dir_.c_str(), 1);
        settings = dir_ + "/settings";
        setenv("TESSERADEFAULTS", settings.c_str(), 1);
        set_visual_match(nullptr);
        dpy = XtDisplay(app_shell);
    }
    void TearDown() override
    {
        for (auto &[name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    void write_file(const std::string &path, const std::string &text) const
    {
        std::ofstream(path) << text;
    }

    std::string dir_, settings;
    Display *dpy = nullptr;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace

TEST_F(PropsX11, InventoryIsWhatTheServerLists)
{
    std::set<std::pair<int, int>> have = server_visuals(dpy);
    ASSERT_FALSE(have.empty());
    set_props_defaults();
    const VisualInventory &inv = visual_inventory();
    bool any_gray = false, any_color = false;
    for (int depth : {1, 4, 8, 16, 24}) {
        std::set<int> classes;
        for (auto [c, d] : have)
            if (d == depth)
                classes.insert(c);
        EXPECT_EQ(inventory_has_depth(inv, depth), classes.empty() ? 0 : 1) << depth;
        int gray = -1, color = -1;
        for (int c : classes)
            (c <= GrayScale ? gray : color) = c; // classes ascend: the highest
        int preferred = depth == 24 ? TrueColor : PseudoColor;
        if (depth != 1 && classes.count(preferred))
            color = preferred;
        EXPECT_EQ(inventory_gray_class(inv, depth), gray) << depth;
        EXPECT_EQ(inventory_color_class(inv, depth), color) << depth;
        any_gray |= gray >= 0;
        any_color |= color >= 0;
    }
    EXPECT_EQ(inv.gray_vis, any_gray ? 1 : 0);
    EXPECT_EQ(inv.color_vis, any_color ? 1 : 0);
}

TEST_F(PropsX11, DefaultsOnThisServer)
{
    read_props(1);
    int default_depth = DefaultDepth(dpy, DefaultScreen(dpy));
    const VisualInventory &inv = visual_inventory();
    if (default_depth == 24) {
        EXPECT_EQ(inv.color_vis24, TrueColor);
        EXPECT_STREQ(current_props->colors, "Millions");
        EXPECT_EQ(canvas_visual_class(24), TrueColor);
    } else {
        ASSERT_EQ(default_depth, 8);
        EXPECT_EQ(inv.color_vis8, PseudoColor);
        EXPECT_EQ(inv.gray_vis8, GrayScale);
        EXPECT_EQ(inv.depth24, 0);
        EXPECT_STREQ(current_props->colors, "256");
        EXPECT_EQ(canvas_visual_class(8), PseudoColor);
    }
    EXPECT_STREQ(current_props->view_image_in, "Color");
    EXPECT_EQ(prog->ps_setting1, 1) << "PostScript is monochrome by default";
    EXPECT_EQ(prog->ps_setting2, 1) << "on a colour screen";
}

TEST_F(PropsX11, EverySettingLeadsToAVisualTheServerHas)
{
    int screen = DefaultScreen(dpy);
    int default_depth = DefaultDepth(dpy, screen);
    for (const char *colors : {"BW", "16", "256", "Thousands", "Millions", "junk"}) {
        for (const char *view : {"Color", "GrayScale"}) {
            write_file(settings, std::string("tessera.corvat.Colors: ") + colors +
                                     "\ntessera.corvat.ViewImageIn: " + view + "\n");
            read_props(0);
            int depth = canvas_depth_value();
            int klass = canvas_visual_class(depth);
            XVisualInfo vi;
            EXPECT_NE(XMatchVisualInfo(dpy, screen, depth, klass, &vi), 0)
                << colors << " " << view << " gave depth " << depth << " class " << klass;
            // Each server offers a single one of the depths.
            EXPECT_STREQ(current_props->colors, default_depth == 8 ? "256" : "Millions") << colors;
            if (default_depth == 24)
                EXPECT_STREQ(current_props->view_image_in, "Color") << "no grey visuals at 24 bits";
            else
                EXPECT_STREQ(current_props->view_image_in, view) << "both kinds at 8 bits";
        }
    }
}

// The server string is read when the connection opens, so a second
// connection is made after the root window's RESOURCE_MANAGER is set.
TEST_F(PropsX11, ServerResourcesReplaceXdefaults)
{
    write_file(dir_ + "/.Xdefaults", "tessera.corvat.UseDSC: True\ntessera.corvat.Colors: BW\n");
    write_file(settings, "tessera.corvat.TTTimeoutSecs: 40\n");
    Window root = DefaultRootWindow(dpy);
    const char text[] = "tessera.corvat.Colors: 256\ntessera.corvat.TTTimeoutSecs: 5\n";
    XChangeProperty(dpy, root, XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(text), static_cast<int>(sizeof text - 1));
    XSync(dpy, False);
    Display *second = XOpenDisplay(DisplayString(dpy));
    XDeleteProperty(dpy, root, XA_RESOURCE_MANAGER);
    XSync(dpy, False);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(XResourceManagerString(second), nullptr);

    XrmDatabase db = ts_load_resources(second);
    ASSERT_NE(db, nullptr);
    EXPECT_STREQ(ts_get_resource(db, "corvat", "Colors"), "256");
    EXPECT_EQ(ts_get_resource(db, "corvat", "UseDSC"), nullptr) << "~/.Xdefaults is replaced";
    EXPECT_STREQ(ts_get_resource(db, "corvat", "TTTimeoutSecs"), "40") << "the settings file wins";
    XrmDestroyDatabase(db);
    XCloseDisplay(second);

    // The first connection has no server string: ~/.Xdefaults counts.
    ASSERT_EQ(XResourceManagerString(dpy), nullptr);
    read_props(0);
    EXPECT_EQ(current_props->use_dsc, 1);
    EXPECT_EQ(current_props->tt_timeout_secs, 40);
}
