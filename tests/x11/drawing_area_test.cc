// XmDrawingAreaVis: a canvas with its own visual is listed in its shell's
// WM_COLORMAP_WINDOWS, leaves the list when destroyed, and keeps its visual.
#include "x11_support.h"

#include <X11/Shell.h>
#include <X11/Xatom.h>

#include <algorithm>
#include <vector>

#include "app/DrawingAVis.h"

namespace {

// Returns a visual of the screen that is not the default one, or nullptr.
Visual *other_visual(int *depth)
{
    Display *d = XtDisplay(app_shell);
    XVisualInfo tmpl;
    tmpl.screen = DefaultScreen(d);
    int n = 0;
    XVisualInfo *list = XGetVisualInfo(d, VisualScreenMask, &tmpl, &n);
    Visual *found = nullptr;
    for (int i = 0; i < n && found == nullptr; i++)
        if (list[i].visual != DefaultVisual(d, tmpl.screen) && list[i].depth == DefaultDepth(d, tmpl.screen)) {
            found = list[i].visual;
            *depth = list[i].depth;
        }
    XFree(list);
    return found;
}

std::vector<Window> wm_colormap_windows(Widget shell)
{
    Window *wins = nullptr;
    int n = 0;
    std::vector<Window> out;
    if (XGetWMColormapWindows(XtDisplay(shell), XtWindow(shell), &wins, &n)) {
        out.assign(wins, wins + n);
        XFree(wins);
    }
    return out;
}

int warnings = 0;
void CountWarning(String)
{
    warnings++;
}

} // namespace

TEST(DrawingAreaVis, OwnVisualJoinsTheColormapWindows)
{
    int depth = 0;
    Visual *visual = other_visual(&depth);
    if (visual == nullptr)
        GTEST_SKIP() << "the server offers a single visual";
    Widget shell = XtVaAppCreateShell("vistest", "Vistest", topLevelShellWidgetClass,
                                      XtDisplay(app_shell), XmNwidth, 100, XmNheight, 80, nullptr);
    Arg args[3];
    XtSetArg(args[0], XmNvisual, visual);
    XtSetArg(args[1], XmNwidth, 50);
    XtSetArg(args[2], XmNheight, 40);
    Widget canvas = XmCreateDrawingAreaVis(shell, "Canvas", args, 3);
    XtManageChild(canvas);
    XtRealizeWidget(shell);
    flush_events();

    XWindowAttributes attr;
    ASSERT_TRUE(XGetWindowAttributes(XtDisplay(canvas), XtWindow(canvas), &attr));
    EXPECT_EQ(attr.visual, visual);
    EXPECT_EQ(attr.depth, depth);
    std::vector<Window> list = wm_colormap_windows(shell);
    EXPECT_NE(std::find(list.begin(), list.end(), XtWindow(canvas)), list.end());

    // The visual cannot be changed afterwards.
    XtAppSetWarningHandler(app_context, CountWarning);
    warnings = 0;
    XtVaSetValues(canvas, XmNvisual, DefaultVisual(XtDisplay(canvas), DefaultScreen(XtDisplay(canvas))), nullptr);
    Visual *now = nullptr;
    XtVaGetValues(canvas, XmNvisual, &now, nullptr);
    EXPECT_EQ(now, visual);
    EXPECT_EQ(warnings, 1);
    XtAppSetWarningHandler(app_context, nullptr);

    Window win = XtWindow(canvas);
    XtDestroyWidget(canvas);
    flush_events();
    list = wm_colormap_windows(shell);
    EXPECT_EQ(std::find(list.begin(), list.end(), win), list.end());
    XtDestroyWidget(shell);
    flush_events();
}

TEST(DrawingAreaVis, WithoutAVisualItIsAPlainDrawingArea)
{
    Widget shell = XtVaAppCreateShell("vistest2", "Vistest", topLevelShellWidgetClass,
                                      XtDisplay(app_shell), XmNwidth, 60, XmNheight, 60, nullptr);
    Widget canvas = XmCreateDrawingAreaVis(shell, "Canvas", nullptr, 0);
    XtManageChild(canvas);
    XtRealizeWidget(shell);
    flush_events();
    EXPECT_TRUE(XmIsDrawingArea(canvas));
    XWindowAttributes attr;
    ASSERT_TRUE(XGetWindowAttributes(XtDisplay(canvas), XtWindow(canvas), &attr));
    EXPECT_EQ(attr.visual, DefaultVisual(XtDisplay(canvas), DefaultScreen(XtDisplay(canvas))));
    EXPECT_TRUE(wm_colormap_windows(shell).empty());
    XtDestroyWidget(shell);
    flush_events();
}
