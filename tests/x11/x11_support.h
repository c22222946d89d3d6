// x11_support.h - helpers for the in-process X tests: running the event
// loop, answering alerts, reading the screen back.
#pragma once

// gtest first: Xlib's None macro would break its templates.
#include <gtest/gtest.h>

#include <X11/Intrinsic.h>
#include <X11/Xutil.h>
#include <Xm/Xm.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>
#include <unistd.h>

#include "app/corvat.h"

// Processes events until pred() holds or the time runs out; returns pred().
inline bool run_until(const std::function<bool()> &pred, int timeout_ms = 5000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    XSync(XtDisplay(app_shell), False);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        while (XtAppPending(app_context) != 0)
            XtAppProcessEvent(app_context, XtIMAll);
        if (pred())
            return true;
        XSync(XtDisplay(app_shell), False);
        if (XtAppPending(app_context) == 0)
            usleep(2000);
    }
    return true;
}

// Processes everything that is pending now, and what that causes.
inline void flush_events()
{
    Display *d = XtDisplay(app_shell);
    for (int round = 0; round < 5; round++) {
        XSync(d, False);
        while (XtAppPending(app_context) != 0)
            XtAppProcessEvent(app_context, XtIMAll);
    }
}

// What an alert showed, as an answer callback sees it.
struct AlertSeen {
    std::string title;
    std::string message;
    bool seen = false;
};

// Returns the newest mapped "DialogPopup" message box, or nullptr.
Widget newest_alert();

// Arranges for the next alert to be answered by pressing the button with
// the given label (its widget name) as soon as it appears; what it showed
// is stored in *seen.
void answer_next_alert(const std::string &button, AlertSeen *seen);

// Reads the pixel at (x, y) of a window as 8-bit red, green, blue.
void window_rgb(Window w, int x, int y, unsigned char rgb[3]);

// Builds the main window once (as start-up does), maps it and waits until
// it is shown.  Returns false when that fails.
bool ensure_main_window();

// Writes a Kestrel raster file of an RGB picture (24-bit, red-green-blue
// order) or of an 8-bit picture with a colormap; returns its path.
std::string write_raster_24(const std::string &path, int width, int height,
                            const std::vector<unsigned char> &rgb);
std::string write_raster_8(const std::string &path, int width, int height,
                           const std::vector<unsigned char> &indices,
                           const std::vector<unsigned char> &map_rgb);
std::string write_raster_1(const std::string &path, int width, int height,
                           const std::vector<unsigned char> &bits01);

// A private folder for a test's files.
std::string test_folder();
