// The Options dialog: rows for what the screen offers, keeping view and
// depth consistent, OK saving the settings file, and a settings file that
// cannot be written.
#include "x11_support.h"

#include <Xm/ToggleB.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/menus.h"
#include "app/ui_corvat.h"
#include "dialogs/props.h"
#include "dialogs/props_dialog.h"

namespace {

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Turns a toggle over as a click would.
void click(Widget toggle)
{
    XmToggleButtonSetState(toggle, !XmToggleButtonGetState(toggle), True);
    flush_events();
}

void press(Widget button)
{
    XtCallCallbacks(button, XmNactivateCallback, nullptr);
    flush_events();
}

} // namespace

TEST(Options, RowsFollowTheServersVisuals)
{
    ASSERT_TRUE(ensure_main_window());
    std::string settings = test_folder() + "/options-real";
    setenv("TESSERADEFAULTS", settings.c_str(), 1);
    read_props(0);
    const VisualInventory inv = visual_inventory();
    // A screen with just one depth offers that depth alone.
    Display *d = XtDisplay(app_shell);
    bool only8 = DefaultDepth(d, DefaultScreen(d)) == 8;
    if (only8) {
        EXPECT_STREQ(current_props->colors, "256");
    }
    PropertiesObjectsInitialize(app_shell);
    EXPECT_EQ(properties->bw != nullptr, inventory_has_depth(inv, 1) != 0);
    EXPECT_EQ(properties->c16 != nullptr, inventory_has_depth(inv, 4) != 0);
    EXPECT_EQ(properties->c256 != nullptr, inventory_has_depth(inv, 8) != 0);
    EXPECT_EQ(properties->thousands != nullptr, inventory_has_depth(inv, 16) != 0);
    EXPECT_EQ(properties->millions != nullptr, inventory_has_depth(inv, 24) != 0);
    EXPECT_EQ(properties->gray_button != nullptr, inv.gray_vis != 0);
    EXPECT_EQ(properties->color_ps_toggle != nullptr, inv.color_vis != 0);
    if (only8) {
        EXPECT_EQ(properties->millions, nullptr);
        EXPECT_NE(properties->c256, nullptr);
    }

    // OK writes the four dialog settings to the settings file.
    PropsCallback(nullptr, nullptr, nullptr);
    flush_events();
    EXPECT_TRUE(properties->showing);
    click(properties->opendoc_button); // palette toggled off
    press(properties->ok_button);
    EXPECT_FALSE(properties->showing);
    std::string text = read_file(settings);
    EXPECT_NE(text.find("tessera.corvat.DisplayPalette:\tFalse"), std::string::npos) << text;
    EXPECT_NE(text.find("tessera.corvat.Colors:"), std::string::npos) << text;
    EXPECT_EQ(current_props->display_palette, 0);
    // Reset reads them back.
    click(properties->opendoc_button);
    EXPECT_TRUE(current_props->dirty);
    press(properties->reset_button);
    EXPECT_FALSE(XmToggleButtonGetState(properties->opendoc_button));
    EXPECT_FALSE(current_props->dirty);
}

TEST(Options, ASettingsFileThatCannotBeWrittenIsReported)
{
    ASSERT_TRUE(ensure_main_window());
    // A file inside a regular file cannot be made, not even by root.
    setenv("TESSERADEFAULTS", "/etc/hostname/settings", 1);
    PropsCallback(nullptr, nullptr, nullptr);
    flush_events();
    AlertSeen seen;
    answer_next_alert("Continue", &seen);
    press(properties->apply_button);
    EXPECT_EQ(seen.message, "Cannot save option changes.");
    EXPECT_EQ(seen.title, "Lumora - Options");
    EXPECT_TRUE(properties->showing) << "Apply keeps the dialog up";

    // Closing with unapplied changes asks first; Cancel keeps the dialog.
    click(properties->opendoc_button);
    answer_next_alert("Cancel", &seen);
    props_quit(properties->shell);
    EXPECT_EQ(seen.message, "You have made changes to the Options\nsettings that have not been "
                            "applied.\nDo you still want to dismiss this window?");
    flush_events();
    EXPECT_TRUE(properties->showing);
    answer_next_alert("Dismiss", &seen);
    props_quit(properties->shell);
    flush_events();
    EXPECT_FALSE(properties->showing);
    unsetenv("TESSERADEFAULTS");
}
