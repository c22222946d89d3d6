// props_dialog.cc - the Options dialog: how pictures are viewed, at which
// depth, PostScript display and the palette at start, saved to the
// settings file by OK and Apply.  Rows appear only for what the screen
// offers.
#include "dialogs/props_dialog.h"

#include <Xm/DialogS.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/MessageB.h>
#include <Xm/Protocols.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Separator.h>
#include <Xm/ToggleB.h>

#include <cstring>

#include "app/alert.h"
#include "app/corvat.h"
#include "app/menus.h"
#include "app/msg.h"
#include "app/ui_corvat.h"
#include "dialogs/help.h"
#include "dialogs/props.h"
#include "dialogs/tessera.h"
#include "image/canvas.h"

PropertiesRec *properties = nullptr;

namespace {

// The depth toggles from the deepest down, with the value each stands for.
struct DepthToggle {
    Widget PropertiesRec::*member;
    const char *value;
    int depth;
};
const DepthToggle depth_toggles[] = {
    {&PropertiesRec::millions, "Millions", 24}, {&PropertiesRec::thousands, "Thousands", 16},
    {&PropertiesRec::c256, "256", 8},           {&PropertiesRec::c16, "16", 4},
    {&PropertiesRec::bw, "BW", 1},
};

void SetToggle(Widget toggle, bool state)
{
    if (toggle != nullptr)
        XmToggleButtonSetState(toggle, state ? True : False, False);
}

bool is_set(Widget toggle)
{
    return toggle != nullptr && XmToggleButtonGetState(toggle);
}

Widget label(Widget parent, const char *name, const char *text)
{
    XmString s = XmStringCreateLocalized(const_cast<char *>(text));
    Widget w = XtVaCreateManagedWidget(name, xmLabelWidgetClass, parent, XmNlabelString, s,
                                       XmNalignment, XmALIGNMENT_END, nullptr);
    XmStringFree(s);
    return w;
}

Widget toggle(Widget radio, const char *name, const char *text, XtCallbackProc cb)
{
    XmString s = XmStringCreateLocalized(const_cast<char *>(text));
    Widget w = XtVaCreateManagedWidget(name, xmToggleButtonWidgetClass, radio, XmNlabelString, s,
                                       nullptr);
    XmStringFree(s);
    XtAddCallback(w, XmNvalueChangedCallback, cb, nullptr);
    return w;
}

Widget radio(Widget form, const char *name)
{
    Arg args[2];
    XtSetArg(args[0], XmNorientation, XmHORIZONTAL);
    XtSetArg(args[1], XmNradioAlwaysOne, True);
    Widget w = XmCreateRadioBox(form, const_cast<char *>(name), args, 2);
    XtManageChild(w);
    return w;
}

// Lays out a labelled row below above (nullptr: at the top).
void place_row(Widget lab, Widget control, Widget above)
{
    if (above == nullptr)
        XtVaSetValues(control, XmNtopAttachment, XmATTACH_FORM, nullptr);
    else
        XtVaSetValues(control, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, above, nullptr);
    XtVaSetValues(control, XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, lab,
                  XmNrightAttachment, XmATTACH_FORM, nullptr);
    XtVaSetValues(lab, XmNleftAttachment, XmATTACH_FORM, XmNtopAttachment,
                  XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, control, XmNbottomAttachment,
                  XmATTACH_OPPOSITE_WIDGET, XmNbottomWidget, control, nullptr);
}

Widget separator(Widget form, Widget above)
{
    return XtVaCreateManagedWidget("Separator", xmSeparatorWidgetClass, form, XmNtopAttachment,
                                   XmATTACH_WIDGET, XmNtopWidget, above, XmNleftAttachment,
                                   XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, nullptr);
}

// Whether the view has a visual of its kind at the depth.
bool view_fits(const char *view, int depth)
{
    const VisualInventory &inv = visual_inventory();
    return std::strcmp(view, "GrayScale") == 0 ? inventory_gray_class(inv, depth) >= 0
                                                : inventory_color_class(inv, depth) >= 0;
}

void RemoveColorCallbacks();
void AddColorCallbacks();

// Selects the deepest depth toggle that has a visual for the view.
void select_deepest_for(const char *view)
{
    RemoveColorCallbacks();
    for (const DepthToggle &d : depth_toggles) {
        Widget t = properties->*d.member;
        if (t != nullptr && view_fits(view, d.depth)) {
            for (const DepthToggle &o : depth_toggles)
                SetToggle(properties->*o.member, &o == &d);
            break;
        }
    }
    AddColorCallbacks();
}

int selected_depth()
{
    return colors_to_depth(PropsColorValue());
}

void PropsViewChangedCallback(Widget w, XtPointer, XtPointer)
{
    if (!is_set(w))
        return;
    set_dirty_flag(1);
    const char *view = PropsViewValue();
    if (!view_fits(view, selected_depth()))
        select_deepest_for(view);
}

void PropsColorChangedCallback(Widget w, XtPointer, XtPointer)
{
    if (!is_set(w))
        return;
    set_dirty_flag(1);
    const char *view = PropsViewValue();
    if (view_fits(view, selected_depth()))
        return;
    bool grey = std::strcmp(view, "GrayScale") == 0;
    AlertPrompt(properties->dialog, ALERT_TYPE, XmDIALOG_WARNING, ALERT_TITLE,
                grey ? catmsg(1, 413, "Lumora - Options") : catmsg(1, 414, "Lumora - Options"),
                ALERT_STYLE, XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE,
                grey ? catmsg(1, 206, "Invalid Colors set for Gray Scale viewing.")
                     : catmsg(1, 208, "Invalid Colors set for Color viewing."),
                ALERT_BUTTON, 0,
                grey ? catmsg(1, 207, "Continue") : catmsg(1, 209, "Continue"), ALERT_HELP,
                "LumorOptionsDialog", 0);
    select_deepest_for(view);
}

void PropsPSChangedCallback(Widget, XtPointer, XtPointer)
{
    set_dirty_flag(1);
}

void PropsOpendocChangedCallback(Widget, XtPointer, XtPointer)
{
    set_dirty_flag(1);
}

void AddColorCallbacks()
{
    for (const DepthToggle &d : depth_toggles)
        if (Widget t = properties->*d.member)
            XtAddCallback(t, XmNvalueChangedCallback, PropsColorChangedCallback, nullptr);
}

void RemoveColorCallbacks()
{
    for (const DepthToggle &d : depth_toggles)
        if (Widget t = properties->*d.member)
            XtRemoveCallback(t, XmNvalueChangedCallback, PropsColorChangedCallback, nullptr);
}

void AddViewCallbacks()
{
    for (Widget t : {properties->gray_button, properties->color_button})
        if (t != nullptr)
            XtAddCallback(t, XmNvalueChangedCallback, PropsViewChangedCallback, nullptr);
}

void RemoveViewCallbacks()
{
    for (Widget t : {properties->gray_button, properties->color_button})
        if (t != nullptr)
            XtRemoveCallback(t, XmNvalueChangedCallback, PropsViewChangedCallback, nullptr);
}

// Takes the dialog's values into the settings and saves them; OK also
// closes the dialog.
void apply(bool close)
{
    setbusy();
    PropsRec *p = current_props;
    p->view_image_in = PropsViewValue();
    p->colors = color_to_str(PropsColorValue());
    p->display_palette = is_set(properties->opendoc_button) ? 1 : 0;
    p->view_postscript_in = PropsPSValue();
    const char *values[4] = {p->view_image_in, p->colors, int_to_boolean(p->display_palette),
                             p->view_postscript_in};
    const int indices[4] = {PROP_VIEW_IMAGE_IN, PROP_COLORS, PROP_DISPLAY_PALETTE,
                            PROP_VIEW_POSTSCRIPT_IN};
    for (int i = 0; i < 4; i++) {
        replace_resource_value(indices[i], values[i]);
        ts_put_resource(&props_save_db, "Corvat", resource_names[indices[i]], values[i]);
    }
    if (ts_save_resources(props_save_db) != 0)
        AlertPrompt(properties->dialog, ALERT_TYPE, XmDIALOG_ERROR, ALERT_TITLE,
                    catmsg(1, 415, "Lumora - Options"), ALERT_STYLE,
                    XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE,
                    catmsg(1, 449, "Cannot save option changes."), ALERT_BUTTON, 0,
                    catmsg(1, 218, "Continue"), ALERT_HELP, "LumorOptionsDialog", 0);
    set_dirty_flag(0);
    if (close)
        XtPopdown(properties->shell);
    setactive();
}

void PropsOKCallback(Widget, XtPointer client, XtPointer)
{
    apply(client == nullptr);
}

void PropsResetCallback(Widget, XtPointer, XtPointer)
{
    free_resources();
    read_props(0);
    PropsSetValues(properties->dialog);
}

void PropsCancelCallback(Widget, XtPointer, XtPointer)
{
    XtPopdown(properties->shell);
}

void PropsQuitHandler(Widget, XtPointer, XtPointer)
{
    if (current_props->dirty) {
        int answer = AlertPrompt(
            properties->dialog, ALERT_TYPE, XmDIALOG_QUESTION, ALERT_TITLE,
            catmsg(1, 416, "Lumora - Options"), ALERT_STYLE, XmDIALOG_FULL_APPLICATION_MODAL,
            ALERT_MESSAGE,
            catmsg(1, 450, "You have made changes to the Options\nsettings that have not been applied.\nDo you still want to dismiss this window?"),
            ALERT_BUTTON, 1, catmsg(1, 220, "Dismiss"), ALERT_BUTTON, 0, catmsg(1, 221, "Cancel"),
            ALERT_HELP, "LumorOptionsDialog", 0);
        if (answer != 1)
            return;
        set_dirty_flag(0);
    }
    XtPopdown(properties->shell);
}

} // namespace

const char *PropsViewValue()
{
    return is_set(properties->gray_button) ? "GrayScale" : "Color";
}

const char *PropsColorValue()
{
    for (int i = 4; i >= 0; i--)
        if (is_set(properties->*depth_toggles[i].member))
            return depth_toggles[i].value;
    return "256";
}

const char *PropsPSValue()
{
    if (is_set(properties->bw_ps_toggle))
        return "Monochrome";
    if (is_set(properties->color_ps_toggle))
        return "Color";
    return "Monochrome";
}

void PropsSetValues(Widget)
{
    if (properties == nullptr || current_props == nullptr)
        return;
    const PropsRec *p = current_props;
    RemoveViewCallbacks();
    RemoveColorCallbacks();
    bool grey = std::strcmp(p->view_image_in, "GrayScale") == 0;
    SetToggle(properties->gray_button, grey);
    SetToggle(properties->color_button, !grey);
    const char *want = p->colors;
    bool known = false;
    for (const DepthToggle &d : depth_toggles)
        known = known || std::strcmp(want, d.value) == 0;
    if (!known)
        want = "256";
    for (const DepthToggle &d : depth_toggles)
        SetToggle(properties->*d.member, std::strcmp(want, d.value) == 0);
    SetToggle(properties->opendoc_button, p->display_palette != 0);
    bool colour_ps = std::strcmp(p->view_postscript_in, "Color") == 0;
    SetToggle(properties->color_ps_toggle, colour_ps);
    SetToggle(properties->bw_ps_toggle, !colour_ps);
    AddViewCallbacks();
    AddColorCallbacks();
    set_dirty_flag(0);
}

void PropertiesObjectsInitialize(Widget parent)
{
    if (properties != nullptr)
        return;
    properties = new PropertiesRec{};
    PropertiesRec *r = properties;
    const VisualInventory &inv = visual_inventory();
    r->shell = XtVaCreatePopupShell("PropsShell", xmDialogShellWidgetClass, parent, XmNtitle,
                                    catmsg(1, 222, "Lumora - Options"), XmNallowShellResize, True,
                                    XmNdeleteResponse, XmDO_NOTHING, nullptr);
    Arg args[1];
    XtSetArg(args[0], XmNautoUnmanage, False);
    r->dialog = XmCreateMessageBox(r->shell, const_cast<char *>("PropsDialog"), args, 1);
    XtVaSetValues(r->dialog, XmNdialogType, XmDIALOG_TEMPLATE, nullptr);
    r->form = XtVaCreateManagedWidget("PropsForm", xmFormWidgetClass, r->dialog, XmNverticalSpacing,
                                      6, XmNhorizontalSpacing, 6, nullptr);

    Widget view_label = label(r->form, "ViewLabel", catmsg(1, 223, "View Image In:"));
    r->radio1 = radio(r->form, "PropsRadio1");
    if (inv.gray_vis)
        r->gray_button = toggle(r->radio1, "GrayScaleButton", catmsg(1, 210, "Gray Scale"),
                                PropsViewChangedCallback);
    if (inv.color_vis)
        r->color_button = toggle(r->radio1, "ColorButton", catmsg(1, 211, "Color"),
                                 PropsViewChangedCallback);
    place_row(view_label, r->radio1, nullptr);

    Widget colors_label = label(r->form, "ColorsLabel", catmsg(1, 224, "Colors:"));
    r->radio2 = radio(r->form, "PropsRadio2");
    if (inventory_has_depth(inv, 1))
        r->bw = toggle(r->radio2, "ButtonBW", catmsg(1, 212, "2 (B&W)"), PropsColorChangedCallback);
    if (inventory_has_depth(inv, 4))
        r->c16 = toggle(r->radio2, "Button16", catmsg(1, 213, "16"), PropsColorChangedCallback);
    if (inventory_has_depth(inv, 8))
        r->c256 = toggle(r->radio2, "Button256", catmsg(1, 214, "256"), PropsColorChangedCallback);
    if (inventory_has_depth(inv, 16))
        r->thousands = toggle(r->radio2, "Button65536", catmsg(1, 215, "65536"),
                              PropsColorChangedCallback);
    if (inventory_has_depth(inv, 24))
        r->millions = toggle(r->radio2, "ButtonMillions", catmsg(1, 216, "Millions"),
                             PropsColorChangedCallback);
    place_row(colors_label, r->radio2, r->radio1);
    Widget sep1 = separator(r->form, r->radio2);

    Widget ps_label = label(r->form, "PSLabel", catmsg(1, 439, "Display PostScript In:"));
    r->radio3 = radio(r->form, "PropsRadio3");
    r->bw_ps_toggle = toggle(r->radio3, "BWPSToggle", catmsg(1, 440, "Black & White"),
                             PropsPSChangedCallback);
    if (inv.color_vis)
        r->color_ps_toggle = toggle(r->radio3, "ColorPSToggle", catmsg(1, 211, "Color"),
                                    PropsPSChangedCallback);
    place_row(ps_label, r->radio3, sep1);
    Widget sep2 = separator(r->form, r->radio3);

    Widget palette_label = label(r->form, "PaletteLabel", catmsg(1, 225, "Display Palette:"));
    XmString s = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 226, "On Opening Document")));
    r->opendoc_button = XtVaCreateManagedWidget("OpenDocButton", xmToggleButtonWidgetClass, r->form,
                                                XmNlabelString, s, nullptr);
    XmStringFree(s);
    XtAddCallback(r->opendoc_button, XmNvalueChangedCallback, PropsOpendocChangedCallback, nullptr);
    place_row(palette_label, r->opendoc_button, sep2);
    XtVaSetValues(r->opendoc_button, XmNbottomAttachment, XmATTACH_FORM, XmNrightAttachment,
                  XmATTACH_NONE, nullptr);

    // The labels share the width of the widest.
    Dimension widest = 0;
    for (Widget l : {view_label, colors_label, ps_label, palette_label}) {
        Dimension w = 0;
        XtVaGetValues(l, XmNwidth, &w, nullptr);
        widest = w > widest ? w : widest;
    }
    for (Widget l : {view_label, colors_label, ps_label, palette_label})
        XtVaSetValues(l, XmNwidth, widest, XmNrecomputeSize, False, nullptr);

    struct Button {
        Widget *slot;
        const char *name;
        const char *text;
        XtCallbackProc cb;
        XtPointer client;
    } buttons[] = {
        {&r->ok_button, "PropsOKButton", catmsg(1, 227, "OK"), PropsOKCallback, nullptr},
        {&r->apply_button, "PropsApplyButton", catmsg(1, 228, "Apply"), PropsOKCallback,
         reinterpret_cast<XtPointer>(1)},
        {&r->reset_button, "PropsResetButton", catmsg(1, 229, "Reset"), PropsResetCallback, nullptr},
        {&r->cancel_button, "PropsCancelButton", catmsg(1, 230, "Cancel"), PropsCancelCallback,
         nullptr},
        {&r->help_button, "PropsHelpButton", catmsg(1, 231, "Help"), HelpItemCallback,
         const_cast<char *>("LumorOptionsDialog")},
    };
    for (const Button &b : buttons) {
        XmString t = XmStringCreateLocalized(const_cast<char *>(b.text));
        *b.slot = XtVaCreateManagedWidget(b.name, xmPushButtonWidgetClass, r->dialog,
                                          XmNlabelString, t, nullptr);
        XmStringFree(t);
        XtAddCallback(*b.slot, XmNactivateCallback, b.cb, b.client);
    }
    for (int child : {XmDIALOG_OK_BUTTON, XmDIALOG_CANCEL_BUTTON, XmDIALOG_HELP_BUTTON})
        if (Widget c = XmMessageBoxGetChild(r->dialog, static_cast<unsigned char>(child)))
            XtUnmanageChild(c);
    XtVaSetValues(r->dialog, XmNdefaultButton, r->cancel_button, nullptr);
    XtAddCallback(r->dialog, XmNhelpCallback, HelpItemCallback,
                  const_cast<char *>("LumorOptionsDialog"));
    Atom wm_delete = XmInternAtom(XtDisplay(r->shell), const_cast<char *>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(r->shell, wm_delete, PropsQuitHandler, nullptr);
    XtAddEventHandler(r->shell, StructureNotifyMask, False, PopupEventHandler, &r->showing);
    AddViewCallbacks();
    AddColorCallbacks();
}

void PropsCallback(Widget, XtPointer, XtPointer)
{
    setbusy();
    bool first = properties == nullptr;
    if (first)
        PropertiesObjectsInitialize(app_shell);
    PropsSetValues(properties->dialog);
    ShowDialog(properties->dialog, properties->showing);
    if (first) {
        Dimension w = 0, h = 0;
        XtVaGetValues(properties->shell, XmNwidth, &w, XmNheight, &h, nullptr);
        XtVaSetValues(properties->shell, XmNminWidth, w, XmNminHeight, h, nullptr);
    }
    XmProcessTraversal(properties->radio1, XmTRAVERSE_CURRENT);
    setactive();
}

void props_quit(Widget w)
{
    PropsQuitHandler(w, nullptr, nullptr);
}
