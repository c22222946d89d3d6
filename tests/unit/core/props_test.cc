// The saved settings on screens of made-up visuals: the inventory, the
// defaults, reading the settings file and fitting it to the screen, the
// conversions, and the canvas depth and class that follow.
#include "test_support.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <optional>
#include <set>
#include <sys/stat.h>
#include <utility>

#include "dialogs/props.h"
#include "dialogs/tessera.h"

namespace {

using FakeScreen = std::set<std::pair<int, int>>; // (class, depth)

const FakeScreen kPseudo8 = {{PseudoColor, 8}};
const FakeScreen kTrue24Pseudo8 = {{TrueColor, 24}, {DirectColor, 24}, {PseudoColor, 8}};
// What an 8-bit Xvfb offers: every class at depth 8.
const FakeScreen kAll8 = {{StaticGray, 8}, {GrayScale, 8}, {StaticColor, 8},
                      {PseudoColor, 8}, {TrueColor, 8}, {DirectColor, 8}};
const FakeScreen kGray1 = {{StaticGray, 1}};

VisualMatch matcher(const FakeScreen &screen)
{
    return [screen](int klass, int depth) { return screen.count({klass, depth}) != 0; };
}

VisualInventory inventory_of(const FakeScreen &screen)
{
    VisualInventory inv;
    fill_visual_inventory(&inv, matcher(screen));
    return inv;
}

// Each test gets its own HOME and settings file and a made-up screen.
class Props : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *v : {"HOME", "TESSERADEFAULTS", "KELDAHOME", "XENVIRONMENT"}) {
            const char *old = std::getenv(v);
            saved_.emplace_back(v, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
            unsetenv(v);
        }
        home = dir.file("home");
        ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
        setenv("HOME", home.c_str(), 1);
        settings = dir.file("settings");
        setenv("TESSERADEFAULTS", settings.c_str(), 1);
        if (prog == nullptr)
            prog = pre_init_prog();
        use_screen(kPseudo8);
    }
    void TearDown() override
    {
        for (auto &[name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        set_visual_match(nullptr);
    }
    static void use_screen(const FakeScreen &screen) { set_visual_match(matcher(screen)); }
    void write_settings(const std::string &text) const
    {
        write_bytes(settings, std::vector<unsigned char>(text.begin(), text.end()));
    }
    // Reads a settings file of one line "tessera.corvat.<name>: <value>".
    void read_one(const std::string &name, const std::string &value) const
    {
        write_settings("tessera.corvat." + name + ": " + value + "\n");
        read_props(0);
    }

    TempDir dir;
    std::string home, settings;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace

TEST(PropsInventory, BestClassPerDepth)
{
    VisualInventory inv = inventory_of(kAll8);
    EXPECT_EQ(inv.depth8, 1);
    EXPECT_EQ(inv.gray_vis8, GrayScale);
    EXPECT_EQ(inv.color_vis8, PseudoColor) << "PseudoColor is kept over TrueColor and DirectColor";
    EXPECT_EQ(inv.gray_vis, 1);
    EXPECT_EQ(inv.color_vis, 1);
    for (int d : {1, 4, 16, 24}) {
        EXPECT_EQ(inventory_has_depth(inv, d), 0) << d;
        EXPECT_EQ(inventory_gray_class(inv, d), -1) << d;
        EXPECT_EQ(inventory_color_class(inv, d), -1) << d;
    }

    inv = inventory_of(kTrue24Pseudo8);
    EXPECT_EQ(inv.color_vis24, TrueColor) << "TrueColor is kept over DirectColor at 24 bits";
    EXPECT_EQ(inv.gray_vis24, -1);
    EXPECT_EQ(inv.gray_vis, 0);

    // Without the preferred class the highest colour class wins.
    inv = inventory_of({{StaticColor, 24}, {DirectColor, 24}, {TrueColor, 16}, {DirectColor, 16},
                        {StaticColor, 4}, {TrueColor, 4}});
    EXPECT_EQ(inv.color_vis24, DirectColor);
    EXPECT_EQ(inv.color_vis16, DirectColor);
    EXPECT_EQ(inv.color_vis4, TrueColor);

    inv = inventory_of(kGray1);
    EXPECT_EQ(inv.depth1, 1);
    EXPECT_EQ(inv.gray_vis1, StaticGray);
    EXPECT_EQ(inv.color_vis, 0);
    EXPECT_EQ(inventory_has_depth(inv, 2), 0) << "only the five depths are asked about";

    inv = inventory_of({});
    EXPECT_EQ(inv.gray_vis + inv.color_vis + inv.depth1 + inv.depth8 + inv.depth24, 0);
}

TEST_F(Props, DefaultsFollowTheScreen)
{
    struct Case {
        FakeScreen screen;
        const char *colors;
        const char *view;
    } cases[] = {
        {kPseudo8, "256", "Color"},
        {kTrue24Pseudo8, "Millions", "Color"},
        {{{TrueColor, 16}, {PseudoColor, 8}}, "Thousands", "Color"},
        {{{StaticColor, 4}}, "16", "Color"},
        {kGray1, "BW", "GrayScale"},
        // "Millions" needs a 24-bit colour visual, not only a 24-bit one.
        {{{GrayScale, 24}, {PseudoColor, 8}}, "256", "Color"},
        {{}, "256", "Color"},
    };
    for (const Case &c : cases) {
        use_screen(c.screen);
        set_props_defaults();
        EXPECT_STREQ(current_props->colors, c.colors);
        EXPECT_STREQ(resources[PROP_COLORS].value, c.colors);
        EXPECT_STREQ(current_props->view_image_in, c.view);
    }
    use_screen(kPseudo8);
    set_dirty_flag(1);
    set_props_defaults();
    EXPECT_EQ(current_props->display_palette, 1);
    EXPECT_EQ(current_props->use_dsc, 0);
    EXPECT_STREQ(current_props->view_postscript_in, "Monochrome");
    EXPECT_EQ(current_props->tt_timeout_secs, 300);
    EXPECT_EQ(current_props->dirty, 0);
    for (int i = 0; i < NPROPS; i++) {
        EXPECT_STREQ(resources[i].name, resource_names[i]);
        EXPECT_NE(resources[i].name, resource_names[i]) << "the table holds copies";
    }
    EXPECT_STREQ(resources[PROP_TT_TIMEOUT_SECS].value, "300");
}

TEST_F(Props, MissingDepthOnThisScreenFallsBack)
{
    use_screen(kPseudo8);
    read_one("Colors", "Millions");
    EXPECT_STREQ(current_props->colors, "256");
    EXPECT_STREQ(resources[PROP_COLORS].value, "Millions") << "the stored text is what the file says";
    EXPECT_EQ(canvas_depth_value(), 8);
    EXPECT_EQ(canvas_visual_class(8), PseudoColor);
}

TEST_F(Props, GrayScaleWithoutGreyVisualsIsColor)
{
    use_screen(kTrue24Pseudo8);
    read_one("ViewImageIn", "GrayScale");
    EXPECT_STREQ(current_props->view_image_in, "Color");
    EXPECT_EQ(canvas_visual_class(24), TrueColor);
}

TEST_F(Props, BooleanTexts)
{
    write_settings("tessera.corvat.DisplayPalette: yes\ntessera.corvat.UseDSC: FALSE\n");
    read_props(0);
    EXPECT_EQ(current_props->display_palette, 1);
    EXPECT_EQ(current_props->use_dsc, 0);
    write_settings("tessera.corvat.DisplayPalette: false\ntessera.corvat.UseDSC: true\n");
    read_props(0);
    EXPECT_EQ(current_props->display_palette, 0);
    EXPECT_EQ(current_props->use_dsc, 1);

    for (const char *t : {"True", "TRUE", "true", "yes", "0", "", "fAlse", "False "})
        EXPECT_EQ(boolean_to_int(t), 1) << '"' << t << '"';
    for (const char *f : {"False", "FALSE", "false"})
        EXPECT_EQ(boolean_to_int(f), 0) << f;
    EXPECT_STREQ(int_to_boolean(1), "True");
    EXPECT_STREQ(int_to_boolean(7), "True");
    EXPECT_STREQ(int_to_boolean(0), "False");
}

TEST_F(Props, TimeOutIsNeverNegativeNorOverflows)
{
    read_one("TTTimeoutSecs", "-5");
    EXPECT_EQ(current_props->tt_timeout_secs, 0);
    read_one("TTTimeoutSecs", "12abc");
    EXPECT_EQ(current_props->tt_timeout_secs, 12);
    read_one("TTTimeoutSecs", "soon");
    EXPECT_EQ(current_props->tt_timeout_secs, 0);
    // The wait is the value times 1000 ms in an int.
    read_one("TTTimeoutSecs", "99999999999999999999");
    EXPECT_EQ(current_props->tt_timeout_secs, INT_MAX / 1000);
    read_one("TTTimeoutSecs", "-99999999999999999999");
    EXPECT_EQ(current_props->tt_timeout_secs, 0);
}

TEST_F(Props, ViewAndDepthAreMadeToAgree)
{
    const FakeScreen screen = {{TrueColor, 24}, {GrayScale, 8}, {PseudoColor, 8}};
    use_screen(screen);
    write_settings("tessera.corvat.ViewImageIn: GrayScale\ntessera.corvat.Colors: Millions\n");
    read_props(0);
    EXPECT_STREQ(current_props->colors, "Millions");
    EXPECT_STREQ(current_props->view_image_in, "Color") << "no grey visual at 24 bits";

    write_settings("tessera.corvat.ViewImageIn: GrayScale\ntessera.corvat.Colors: 256\n");
    read_props(0);
    EXPECT_STREQ(current_props->view_image_in, "GrayScale");
    EXPECT_EQ(canvas_depth_value(), 8);
    EXPECT_EQ(canvas_visual_class(8), GrayScale);

    use_screen({{TrueColor, 24}, {StaticGray, 1}});
    write_settings("tessera.corvat.ViewImageIn: Color\ntessera.corvat.Colors: BW\n");
    read_props(0);
    EXPECT_STREQ(current_props->view_image_in, "GrayScale") << "no colour visual at 1 bit";
    EXPECT_EQ(canvas_depth_value(), 1);
    EXPECT_EQ(canvas_visual_class(1), StaticGray);
}

TEST_F(Props, PostScriptColourFlagsAtStartOnly)
{
    use_screen(kTrue24Pseudo8);
    prog->ps_setting1 = prog->ps_setting2 = 7;
    read_one("ViewPostScriptIn", "Color");
    EXPECT_EQ(prog->ps_setting1, 7) << "Reset leaves the program's flags alone";
    read_props(1);
    EXPECT_STREQ(current_props->view_postscript_in, "Color");
    EXPECT_EQ(prog->ps_setting1, 0);
    EXPECT_EQ(prog->ps_setting2, 0);

    read_one("ViewPostScriptIn", "Monochrome");
    read_props(1);
    EXPECT_EQ(prog->ps_setting1, 1);
    EXPECT_EQ(prog->ps_setting2, 1) << "monochrome on a colour screen";

    use_screen(kGray1);
    read_one("ViewPostScriptIn", "Color");
    read_props(1);
    EXPECT_STREQ(current_props->view_postscript_in, "Monochrome");
    EXPECT_EQ(prog->ps_setting1, 1);
    EXPECT_EQ(prog->ps_setting2, 0);
}

TEST_F(Props, OtherSourcesCountOnlyWithASettingsFile)
{
    std::string text = "tessera.corvat.UseDSC: True\ntessera.corvat.TTTimeoutSecs: 20\n";
    write_bytes(home + "/.Xdefaults", std::vector<unsigned char>(text.begin(), text.end()));
    read_props(0);
    EXPECT_EQ(current_props->use_dsc, 0) << "without the settings file the defaults hold";
    EXPECT_EQ(props_save_db, nullptr);

    write_settings("tessera.corvat.TTTimeoutSecs: 30\n");
    read_props(0);
    EXPECT_EQ(current_props->use_dsc, 1) << "from ~/.Xdefaults";
    EXPECT_EQ(current_props->tt_timeout_secs, 30) << "the settings file comes last";
    ASSERT_NE(props_save_db, nullptr);
    EXPECT_STREQ(ts_get_resource(props_save_db, "corvat", "TTTimeoutSecs"), "30");
    EXPECT_EQ(ts_get_resource(props_save_db, "corvat", "UseDSC"), nullptr)
        << "the save database is the settings file alone";
}

TEST_F(Props, HomeFileWithoutTesseraDefaults)
{
    unsetenv("TESSERADEFAULTS");
    write_settings("tessera.corvat.Colors: BW\n");
    std::string text = "tessera.corvat.DisplayPalette: False\n";
    write_bytes(home + "/.tesseradefaults", std::vector<unsigned char>(text.begin(), text.end()));
    read_props(0);
    EXPECT_EQ(current_props->display_palette, 0);
    EXPECT_STREQ(current_props->colors, "256");
}

TEST_F(Props, ResetRereadsAndClearsTheDirtyByte)
{
    write_settings("tessera.corvat.Colors: 256\n");
    read_props(0);
    set_dirty_flag(1);
    EXPECT_EQ(current_props->dirty, 1);
    write_settings("tessera.corvat.DisplayPalette: False\n");
    free_resources();
    read_props(0);
    EXPECT_EQ(current_props->dirty, 0);
    EXPECT_EQ(current_props->display_palette, 0);
    EXPECT_STREQ(resources[PROP_DISPLAY_PALETTE].value, "False");
    EXPECT_STREQ(resources[PROP_COLORS].value, "256");
}

TEST_F(Props, ColorTextConversion)
{
    use_screen({{TrueColor, 16}, {StaticGray, 1}});
    set_props_defaults();
    EXPECT_STREQ(color_to_str("Thousands"), "Thousands");
    EXPECT_STREQ(color_to_str("BW"), "BW");
    EXPECT_STREQ(color_to_str("Millions"), "Thousands");
    EXPECT_STREQ(color_to_str("256"), "Thousands");
    EXPECT_STREQ(color_to_str("millions"), "Thousands") << "names are exact";
    EXPECT_STREQ(color_to_str(""), "Thousands");

    use_screen({{StaticGray, 1}});
    set_props_defaults();
    EXPECT_STREQ(color_to_str("Millions"), "BW");
    use_screen({});
    set_props_defaults();
    EXPECT_STREQ(color_to_str("BW"), "256");
    EXPECT_STREQ(color_to_str("junk"), "256");
}

TEST_F(Props, ViewTextConversion)
{
    use_screen(kAll8);
    set_props_defaults();
    EXPECT_STREQ(view_to_str("Color"), "Color");
    EXPECT_STREQ(view_to_str("GrayScale"), "GrayScale");
    EXPECT_STREQ(view_to_str("grey"), "Color");
    EXPECT_STREQ(psview_to_str("Color"), "Color");
    EXPECT_STREQ(psview_to_str("color"), "Monochrome");

    use_screen({{GrayScale, 8}});
    set_props_defaults();
    EXPECT_STREQ(view_to_str("Color"), "GrayScale");
    EXPECT_STREQ(view_to_str("junk"), "GrayScale");
    EXPECT_STREQ(psview_to_str("Color"), "Monochrome");

    use_screen({});
    set_props_defaults();
    EXPECT_STREQ(view_to_str("GrayScale"), "Color");
}

TEST_F(Props, CanvasDepthAndClass)
{
    use_screen({{TrueColor, 24}, {StaticGray, 24}, {GrayScale, 8}, {PseudoColor, 8}, {StaticGray, 1}});
    set_props_defaults();
    struct {
        const char *colors;
        int depth;
    } depths[] = {{"BW", 1}, {"16", 4}, {"256", 8}, {"Thousands", 16}, {"Millions", 24}, {"other", 8}};
    for (const auto &d : depths) {
        current_props->colors = d.colors;
        EXPECT_EQ(canvas_depth_value(), d.depth) << d.colors;
    }
    current_props->view_image_in = "Color";
    EXPECT_EQ(canvas_visual_class(24), TrueColor);
    EXPECT_EQ(canvas_visual_class(8), PseudoColor);
    EXPECT_EQ(canvas_visual_class(1), StaticGray) << "no colour class at 1 bit: the grey one";
    EXPECT_EQ(canvas_visual_class(16), PseudoColor) << "nothing at 16 bits";
    EXPECT_EQ(canvas_visual_class(15), PseudoColor);
    current_props->view_image_in = "GrayScale";
    EXPECT_EQ(canvas_visual_class(24), StaticGray);
    EXPECT_EQ(canvas_visual_class(8), GrayScale);
}
