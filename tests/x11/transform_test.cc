// View transforms from the palette, undo and revert, pan limits, the
// selection and cropping, read back from the view image and the canvas.
#include "x11_support.h"

#include <Xm/DrawingA.h>
#include <Xm/SSpinB.h>
#include <Xm/Scale.h>
#include <Xm/TextF.h>

#include <cstring>

#include "app/alert.h"
#include "app/events.h"
#include "app/menus.h"
#include "app/ui_corvat.h"
#include "dialogs/palette.h"
#include "formats/open.h"
#include "image/canvas.h"
#include "image/image.h"
#include "image/select.h"
#include "image/state.h"
#include "image/vela_iface.h"

namespace {

// A 40 x 20 picture: left half red, right half blue, top row green.
std::vector<unsigned char> quadrants(int w, int h)
{
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            unsigned char *p = &rgb[3 * (static_cast<size_t>(y) * w + x)];
            p[0] = x < w / 2 ? 255 : 0;
            p[1] = y == 0 ? 255 : 0;
            p[2] = x < w / 2 ? 0 : 255;
        }
    return rgb;
}

// Returns the view image's pixel (x, y) as blue, green, red bytes.
std::vector<unsigned char> view_pixel(int x, int y)
{
    VelaImage *v = current_image->view_image;
    VelaMemoryStorage s;
    vela_get_memory_storage(v, &s);
    const unsigned char *p = s.data + y * s.bytes_per_row + x * s.bytes_per_pixel;
    return {p[0], p[1], p[2]};
}

class Transform : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensure_main_window());
        std::string path = write_raster_24(test_folder() + "/quad.ras", 40, 20, quadrants(40, 20));
        ASSERT_EQ(open_newfile(path.c_str(), path.c_str(), -1, nullptr, 0), 0);
        if (palette == nullptr)
            PaletteCallback(nullptr, nullptr, nullptr);
        flush_events();
        ASSERT_NE(palette, nullptr);
    }
    void press(Widget button)
    {
        XmAnyCallbackStruct cb = {XmCR_ACTIVATE, nullptr};
        XtCallCallbacks(button, XmNactivateCallback, &cb);
        flush_events();
    }
    void type_into(Widget spin, const char *text)
    {
        Widget field = nullptr;
        XtVaGetValues(spin, XmNtextField, &field, nullptr);
        XmTextFieldSetString(field, const_cast<char *>(text));
    }
    std::string typed(Widget spin)
    {
        Widget field = nullptr;
        XtVaGetValues(spin, XmNtextField, &field, nullptr);
        char *t = XmTextFieldGetString(field);
        std::string s = t;
        XtFree(t);
        return s;
    }
    void zoom(const char *percent)
    {
        type_into(palette->zoom_spin, percent);
        press(palette->zoom_button);
    }
    void rotate(bool right, const char *degrees)
    {
        type_into(palette->rotate_spin, degrees);
        press(right ? palette->rotate_r_button : palette->rotate_l_button);
    }
};

} // namespace

TEST_F(Transform, ThePaletteOpensWithTheFirstDocument)
{
    EXPECT_TRUE(palette->showing);
    EXPECT_TRUE(XtIsSensitive(base->palette_item));
}

TEST_F(Transform, ZoomUndoAndRedo)
{
    zoom("200");
    EXPECT_EQ(current_image->width, 80);
    EXPECT_EQ(current_image->height, 40);
    EXPECT_TRUE(XtIsSensitive(base->undo_item));
    UndoCallback(nullptr, nullptr, nullptr);
    EXPECT_EQ(current_image->width, 40);
    UndoCallback(nullptr, nullptr, nullptr);
    EXPECT_EQ(current_image->width, 80) << "a second undo redoes";

    // 50 % then 200 % brings the picture back to its size.
    press(palette->revert_button);
    zoom("50");
    EXPECT_EQ(current_image->width, 20);
    zoom("200");
    EXPECT_EQ(current_image->width, 40);

    // A typed 1000 is taken as 400.
    press(palette->revert_button);
    zoom("1000");
    EXPECT_EQ(typed(palette->zoom_spin), "400");
    EXPECT_EQ(current_image->width, 160);
    press(palette->revert_button);
    EXPECT_EQ(current_image->width, 40);
    EXPECT_FALSE(XtIsSensitive(base->undo_item));
}

TEST_F(Transform, RotationTotalsAndFills)
{
    rotate(true, "90");
    EXPECT_EQ(current_state->rotation, 90);
    EXPECT_EQ(current_image->width, 20);
    EXPECT_EQ(current_image->height, 40);
    // A right turn puts the top row (green) on the right.
    EXPECT_EQ(view_pixel(19, 5)[1], 255);
    press(palette->revert_button);
    rotate(false, "90");
    EXPECT_EQ(current_state->rotation, 270);
    EXPECT_EQ(view_pixel(0, 5)[1], 255);

    // 45 degrees: the corners outside the picture are filled with black.
    press(palette->revert_button);
    rotate(true, "45");
    EXPECT_GT(current_image->width, 40);
    EXPECT_EQ(view_pixel(0, 0), (std::vector<unsigned char>{0, 0, 0}));
    // 90 degrees fills nothing: every pixel is the picture's.
    press(palette->revert_button);
    rotate(true, "90");
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 20; x++) {
            auto p = view_pixel(x, y);
            ASSERT_TRUE(p[0] == 255 || p[2] == 255) << x << "," << y;
        }
}

TEST_F(Transform, TwoFlipsEqualAHalfTurn)
{
    press(palette->hflip_button);
    press(palette->vflip_button);
    std::vector<std::vector<unsigned char>> flipped;
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 40; x++)
            flipped.push_back(view_pixel(x, y));
    press(palette->revert_button);
    rotate(true, "180");
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 40; x++)
            ASSERT_EQ(view_pixel(x, y), flipped[static_cast<size_t>(y) * 40 + x]) << x << "," << y;
}

TEST_F(Transform, SpinBoxesAndScalesStayInStep)
{
    XmScaleSetValue(palette->zoom_scale, 250);
    XmScaleCallbackStruct cb = {};
    cb.reason = XmCR_VALUE_CHANGED;
    cb.value = 250;
    XtCallCallbacks(palette->zoom_scale, XmNvalueChangedCallback, &cb);
    int position = 0;
    XtVaGetValues(palette->zoom_spin, XmNposition, &position, nullptr);
    EXPECT_EQ(position, 250);
    XtVaSetValues(palette->rotate_spin, XmNposition, 33, nullptr);
    XmSpinBoxCallbackStruct sb = {};
    sb.reason = XmCR_OK;
    XtCallCallbacks(palette->rotate_spin, XmNvalueChangedCallback, &sb);
    int value = 0;
    XmScaleGetValue(palette->rotate_scale, &value);
    EXPECT_EQ(value, 33);
}

TEST_F(Transform, PanningStopsAtTheLimits)
{
    std::string path = write_raster_24(test_folder() + "/wide.ras", 3000, 2000, quadrants(3000, 2000));
    ASSERT_EQ(open_newfile(path.c_str(), path.c_str(), -1, nullptr, 0), 0);
    flush_events();
    press(palette->pan_button);
    ASSERT_TRUE(current_state->pan_mode);
    XEvent e = {};
    e.type = ButtonPress;
    e.xbutton.x = 100;
    e.xbutton.y = 100;
    XmDrawingAreaCallbackStruct cb = {XmCR_INPUT, &e, XtWindow(base->canvas)};
    CanvasInputCallback(base->canvas, nullptr, &cb);
    XEvent m = {};
    m.type = MotionNotify;
    m.xmotion.display = XtDisplay(base->canvas);
    m.xmotion.x = -5000;
    m.xmotion.y = -5000;
    Boolean go = True;
    SelectEventHandler(base->canvas, nullptr, &m, &go);
    EXPECT_EQ(current_state->scroll_x, min_x);
    EXPECT_EQ(current_state->scroll_y, min_y);
    EXPECT_LT(min_x, 0);
    m.xmotion.x = 9000;
    m.xmotion.y = 9000;
    SelectEventHandler(base->canvas, nullptr, &m, &go);
    EXPECT_EQ(current_state->scroll_x, 0);
    EXPECT_EQ(current_state->scroll_y, 0);
    press(palette->pan_button);
    EXPECT_FALSE(current_state->pan_mode);
}

namespace {

// Drags a selection on the canvas from (x0, y0) to (x1, y1).
void drag(int x0, int y0, int x1, int y1)
{
    XEvent e = {};
    e.type = ButtonPress;
    e.xbutton.x = x0;
    e.xbutton.y = y0;
    XmDrawingAreaCallbackStruct cb = {XmCR_INPUT, &e, XtWindow(base->canvas)};
    CanvasInputCallback(base->canvas, nullptr, &cb);
    if (x1 != x0 || y1 != y0) {
        XEvent m = {};
        m.type = MotionNotify;
        m.xmotion.display = XtDisplay(base->canvas);
        m.xmotion.x = x1;
        m.xmotion.y = y1;
        Boolean go = True;
        SelectEventHandler(base->canvas, nullptr, &m, &go);
    }
    e.type = ButtonRelease;
    e.xbutton.x = x1;
    e.xbutton.y = y1;
    CanvasInputCallback(base->canvas, nullptr, &cb);
}

} // namespace

TEST_F(Transform, SelectionAndCrop)
{
    press(palette->select_button);
    ASSERT_TRUE(current_state->select_mode);

    // A click without a drag leaves a 2-pixel-wide, empty-high box.
    drag(10, 5, 10, 5);
    EXPECT_TRUE(current_state->selection_shown);
    EXPECT_EQ(current_state->sel_width, 2);
    EXPECT_EQ(current_state->sel_height, 0);
    EXPECT_TRUE(XtIsSensitive(base->save_sel_item));
    AlertSeen seen;
    answer_next_alert("Continue", &seen);
    EXPECT_EQ(crop_region(current_image, current_image->view_image), nullptr);
    EXPECT_EQ(seen.message, "Selected region too small.\nPlease select a larger area.");
    EXPECT_EQ(seen.title, "Lumora - Palette");

    // Over the right edge: cut to the picture's width.
    drag(30, 2, 60, 12);
    VelaImage *crop = crop_region(current_image, current_image->view_image);
    ASSERT_NE(crop, nullptr);
    EXPECT_EQ(vela_get_width(crop), 10);
    EXPECT_EQ(vela_get_height(crop), 10);
    vela_destroy(crop);

    // Over the left edge of a scrolled picture: cut at the edge.
    current_state->scroll_x = 5;
    drag(0, 0, 15, 8);
    crop = crop_region(current_image, current_image->view_image);
    ASSERT_NE(crop, nullptr);
    EXPECT_EQ(vela_get_width(crop), 10);
    vela_destroy(crop);
    current_state->scroll_x = 0;

    // Entirely outside the picture.
    drag(100, 100, 120, 120);
    answer_next_alert("Continue", &seen);
    EXPECT_EQ(crop_region(current_image, current_image->view_image), nullptr);
    EXPECT_EQ(seen.message, "Select a region within the image.");

    press(palette->select_button);
    EXPECT_FALSE(current_state->select_mode);
    EXPECT_FALSE(current_state->selection_shown);
    EXPECT_FALSE(XtIsSensitive(base->save_sel_item));
}
