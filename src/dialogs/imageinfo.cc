// imageinfo.cc - the Image Information dialog: size in inches, centimetres
// and pixels, colours, file size and format of the current document.
#include "dialogs/imageinfo.h"

#include <Xm/DialogS.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/Separator.h>
#include <Xm/TextF.h>

#include <cstdio>
#include <string>

#include "app/alert.h"
#include "app/corvat.h"
#include "app/menus.h"
#include "app/msg.h"
#include "app/ui_corvat.h"
#include "dialogs/help.h"
#include "image/image.h"

namespace {

struct InfoRec {
    Widget shell = nullptr;
    Widget form = nullptr;      // "ImageInfoDialog"
    Widget height = nullptr, width = nullptr, colors = nullptr, size = nullptr, format = nullptr;
    int showing = 0;
};
InfoRec info;

void InfoCloseCallback(Widget, XtPointer, XtPointer)
{
    XtPopdown(info.shell);
}

// Adds a row "label  [field]" under above; returns the field.
Widget info_row(Widget form, Widget above, const char *name, const char *label)
{
    XmString s = XmStringCreateLocalized(const_cast<char *>(label));
    Widget l = XtVaCreateManagedWidget((std::string(name) + "Label").c_str(), xmLabelWidgetClass,
                                       form, XmNlabelString, s, XmNalignment, XmALIGNMENT_END,
                                       XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                                       XmATTACH_POSITION, XmNrightPosition, 30, nullptr);
    XmStringFree(s);
    Widget f = XtVaCreateManagedWidget(name, xmTextFieldWidgetClass, form, XmNeditable, False,
                                       XmNcursorPositionVisible, False, XmNcolumns, 30,
                                       XmNleftAttachment, XmATTACH_POSITION, XmNleftPosition, 31,
                                       XmNrightAttachment, XmATTACH_FORM, nullptr);
    if (above == nullptr) {
        XtVaSetValues(f, XmNtopAttachment, XmATTACH_FORM, nullptr);
    } else {
        XtVaSetValues(f, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, above, nullptr);
    }
    XtVaSetValues(l, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, f,
                  XmNbottomAttachment, XmATTACH_OPPOSITE_WIDGET, XmNbottomWidget, f, nullptr);
    return f;
}

void InfoObjectsInitialize(Widget parent)
{
    info.shell = XtVaCreatePopupShell("ImageInfoShell", xmDialogShellWidgetClass, parent, XmNtitle,
                                      catmsg(1, 514, "Lumora - Image Information"),
                                      XmNallowShellResize, True, XmNdeleteResponse, XmUNMAP, nullptr);
    info.form = XtVaCreateWidget("ImageInfoDialog", xmFormWidgetClass, info.shell, XmNfractionBase,
                                 100, XmNhorizontalSpacing, 6, XmNverticalSpacing, 6, nullptr);
    info.height = info_row(info.form, nullptr, "Height", catmsg(1, 515, "Height:"));
    info.width = info_row(info.form, info.height, "Width", catmsg(1, 516, "Width:"));
    info.colors = info_row(info.form, info.width, "Colors", catmsg(1, 517, "Colors:"));
    info.size = info_row(info.form, info.colors, "FileSize", catmsg(1, 518, "File Size:"));
    info.format = info_row(info.form, info.size, "FileFormat", catmsg(1, 519, "File Format:"));
    Widget sep = XtVaCreateManagedWidget("Separator", xmSeparatorWidgetClass, info.form,
                                         XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget,
                                         info.format, XmNleftAttachment, XmATTACH_FORM,
                                         XmNrightAttachment, XmATTACH_FORM, nullptr);
    XmString s = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 2, "Close")));
    Widget close = XtVaCreateManagedWidget(
        "ImageInfoCloseButton", xmPushButtonWidgetClass, info.form, XmNlabelString, s,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, sep, XmNbottomAttachment, XmATTACH_FORM,
        XmNleftAttachment, XmATTACH_POSITION, XmNleftPosition, 10, XmNrightAttachment,
        XmATTACH_POSITION, XmNrightPosition, 45, nullptr);
    XmStringFree(s);
    s = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 231, "Help")));
    Widget help = XtVaCreateManagedWidget(
        "ImageInfoHelpButton", xmPushButtonWidgetClass, info.form, XmNlabelString, s,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, sep, XmNbottomAttachment, XmATTACH_FORM,
        XmNleftAttachment, XmATTACH_POSITION, XmNleftPosition, 55, XmNrightAttachment,
        XmATTACH_POSITION, XmNrightPosition, 90, nullptr);
    XmStringFree(s);
    XtAddCallback(close, XmNactivateCallback, InfoCloseCallback, nullptr);
    XtAddCallback(help, XmNactivateCallback, HelpItemCallback,
                  const_cast<char *>("LumorImageInfoDialog"));
    XtAddCallback(info.form, XmNhelpCallback, HelpItemCallback,
                  const_cast<char *>("LumorImageInfoDialog"));
    XtAddEventHandler(info.shell, StructureNotifyMask, False, PopupEventHandler, &info.showing);
}

void set_field(Widget field, const std::string &text)
{
    XmTextFieldSetString(field, const_cast<char *>(text.c_str()));
}

} // namespace

ImageInfoTexts image_info_texts(const ImageRec *image, const DisplayRec *display)
{
    ImageInfoTexts t;
    char buf[128];
    float vres = display != nullptr && display->vres > 0 ? display->vres : 72.0f;
    float hres = display != nullptr && display->hres > 0 ? display->hres : 72.0f;
    double h_in = image->height / vres, w_in = image->width / hres;
    std::snprintf(buf, sizeof buf, catmsg(1, 88, "%.1f in / %.1f cm / %d pix"), h_in, h_in * 2.54,
                  image->height);
    t.height = buf;
    std::snprintf(buf, sizeof buf, catmsg(1, 89, "%.1f in / %.1f cm / %d pix"), w_in, w_in * 2.54,
                  image->width);
    t.width = buf;
    if (image->ncolors > 0) {
        std::snprintf(buf, sizeof buf, catmsg(1, 90, "%d colors"), image->ncolors);
        t.colors = buf;
    } else if (image->depth >= 24) {
        t.colors = catmsg(1, 91, "Millions of colors");
    } else {
        t.colors = catmsg(1, 92, "N/A");
    }
    long n = image->file_size;
    if (n >= 1000000)
        std::snprintf(buf, sizeof buf, catmsg(1, 93, "%.1f MBytes"), n / 1e6);
    else if (n < 1000)
        std::snprintf(buf, sizeof buf, catmsg(1, 95, "%d Bytes"), static_cast<int>(n));
    else
        std::snprintf(buf, sizeof buf, catmsg(1, 94, "%.1f KBytes"), n / 1e3);
    t.size = buf;
    t.format = image->type != nullptr ? image->type->display_name : "";
    return t;
}

void update_imageinfo(ImageRec *image)
{
    if (info.form == nullptr || image == nullptr)
        return;
    ImageInfoTexts t = image_info_texts(image, current_display);
    set_field(info.height, t.height);
    set_field(info.width, t.width);
    set_field(info.colors, t.colors);
    set_field(info.size, t.size);
    set_field(info.format, t.format);
}

void update_imageinfo_if_showing(ImageRec *image)
{
    if (info.showing)
        update_imageinfo(image);
}

void ImageInfoCallback(Widget, XtPointer, XtPointer)
{
    bool first = info.shell == nullptr;
    if (first)
        InfoObjectsInitialize(app_shell);
    update_imageinfo(current_image);
    ShowDialog(info.form, info.showing);
    if (first) {
        Dimension w = 0, h = 0;
        XtVaGetValues(info.shell, XmNwidth, &w, XmNheight, &h, nullptr);
        XtVaSetValues(info.shell, XmNminWidth, w, XmNminHeight, h, nullptr);
    }
}
