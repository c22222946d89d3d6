// The main window's menus: every item with its label, mnemonic,
// accelerator text and first sensitivity; the tool bar and footers.
#include "x11_support.h"

#include <X11/keysym.h>

#include "app/alert.h"
#include "app/ui_corvat.h"
#include "image/image.h"

namespace {

struct MenuItemDesc {
    const char *menu;
    const char *name;
    const char *label;
    KeySym mnemonic;            // NoSymbol: none
    const char *accelerator;    // nullptr: none
    bool sensitive;
};

const MenuItemDesc items[] = {
    {"FileMenu", "OpenItem", "Open...", XK_O, "Ctrl+O", true},
    {"FileMenu", "OpenAsItem", "Open As...", XK_p, nullptr, true},
    {"FileMenu", "SaveItem", "Save...", XK_S, "Ctrl+S", false},
    {"FileMenu", "SaveAsItem", "Save As...", XK_A, "Ctrl+A", false},
    {"FileMenu", "SaveSelItem", "Save Selection As...", XK_v, nullptr, false},
    {"FileMenu", "SavePageItem", "Save Page As Image...", XK_I, nullptr, false},
    {"FileMenu", "SnapshotItem", "Snapshot...", NoSymbol, nullptr, true},
    {"FileMenu", "PrintOneItem", "Print Image", XK_r, nullptr, false},
    {"FileMenu", "PrintPrevItem", "Print Preview...", XK_n, nullptr, false},
    {"FileMenu", "PrintItem", "Print...", XK_P, "Ctrl+P", false},
    {"FileMenu", "OptionsItem", "Options...", XK_t, "Ctrl+I", true},
    {"FileMenu", "ExitItem", "Exit", XK_x, "Alt+F4", true},
    {"EditMenu", "UndoItem", "Undo", XK_U, nullptr, false},
    {"EditMenu", "PaletteItem", "Palette...", XK_P, nullptr, false},
    {"ViewMenu", "ImageInfoItem", "Image Info...", XK_I, nullptr, false},
    {"ViewMenu", "OverviewItem", "Page Overview...", XK_P, nullptr, false},
    {"ViewMenu", "ControlsItem", "Page Viewing Controls...", XK_V, nullptr, false},
    {"HelpMenu", "OverviewItem", "Overview...", XK_O, nullptr, true},
    {"HelpMenu", "TasksItem", "Tasks...", XK_T, nullptr, true},
    {"HelpMenu", "RefItem", "Reference...", XK_R, nullptr, true},
    {"HelpMenu", "OnItem", "On Item", XK_I, nullptr, true},
    {"HelpMenu", "UsingHelpItem", "Using Help...", XK_U, nullptr, true},
    {"HelpMenu", "AboutItem", "About Lumora...", XK_A, nullptr, true},
};

std::string label_of(Widget w, const char *resource = XmNlabelString)
{
    XmString s = nullptr;
    XtVaGetValues(w, resource, &s, nullptr);
    char buf[256];
    std::string text = s != nullptr ? ConvertCompoundToChar(s, buf, sizeof buf) : "";
    XmStringFree(s);
    return text;
}

} // namespace

TEST(MainWindow, MenusHoldEveryItem)
{
    ASSERT_TRUE(ensure_main_window());
    bool fresh = current_image == nullptr;
    for (const MenuItemDesc &item : items) {
        std::string path = std::string("*") + item.menu + "." + item.name;
        Widget w = XtNameToWidget(base->menu_bar, path.c_str());
        ASSERT_NE(w, nullptr) << path;
        EXPECT_EQ(label_of(w), item.label) << path;
        KeySym mnemonic = NoSymbol;
        XtVaGetValues(w, XmNmnemonic, &mnemonic, nullptr);
        if (mnemonic == XK_VoidSymbol)
            mnemonic = NoSymbol; // Motif's "none"
        EXPECT_EQ(mnemonic, item.mnemonic) << path;
        EXPECT_EQ(label_of(w, XmNacceleratorText), item.accelerator ? item.accelerator : "") << path;
        if (fresh) {
            EXPECT_EQ(XtIsSensitive(w) == True, item.sensitive) << path;
        }
    }
    // Print Document exists but shows only with a PostScript document.
    Widget doc = XtNameToWidget(base->menu_bar, "*FileMenu.PrintDocItem");
    ASSERT_NE(doc, nullptr);
    EXPECT_FALSE(XtIsManaged(doc));
    EXPECT_EQ(label_of(doc), "Print Document");
    for (const char *button : {"FileButton", "EditButton", "ViewButton", "HelpButton"})
        ASSERT_NE(XtNameToWidget(base->menu_bar, button), nullptr) << button;
    Widget help_button = nullptr;
    XtVaGetValues(base->menu_bar, XmNmenuHelpWidget, &help_button, nullptr);
    EXPECT_EQ(help_button, XtNameToWidget(base->menu_bar, "HelpButton"));
}

TEST(MainWindow, ToolBarAndFooters)
{
    ASSERT_TRUE(ensure_main_window());
    for (const char *name : {"*ToolBarForm.PageLabel", "*ToolBarForm.PageScale",
                             "*ToolBarForm.PageNumber", "*ToolBarForm.PgFwdButton",
                             "*ToolBarForm.PgBackButton", "*LeftFooter", "*RightFooter",
                             "*ScrolledW", "*VerticalScrollbar", "*HorizontalScrollbar"}) {
        Widget w = XtNameToWidget(base->main_window, name);
        ASSERT_NE(w, nullptr) << name;
    }
    Widget scale = XtNameToWidget(base->main_window, "*PageScale");
    int minimum = 0, maximum = 0, value = 0;
    XtVaGetValues(scale, XmNminimum, &minimum, XmNmaximum, &maximum, XmNvalue, &value, nullptr);
    EXPECT_EQ(minimum, 1);
    EXPECT_EQ(maximum, 100);
    EXPECT_EQ(value, 1);
    EXPECT_FALSE(XtIsSensitive(XtNameToWidget(base->main_window, "*PgFwdButton")));
    EXPECT_EQ(label_of(XtNameToWidget(base->main_window, "*PageLabel")), "Page");
    // The window never grows past the screen.
    int max_w = 0, max_h = 0; // the shell's limits are ints
    XtVaGetValues(app_shell, XmNmaxWidth, &max_w, XmNmaxHeight, &max_h, nullptr);
    EXPECT_EQ(max_w, WidthOfScreen(XtScreen(app_shell)) - 30);
    EXPECT_EQ(max_h, HeightOfScreen(XtScreen(app_shell)) - 30);
}
