// save.cc - the save flow: the Save and Save As dialogs, the checks and
// questions before writing, the conversion of the picture for the file,
// Unix compression of the result, making the saved file the current
// document, and the batch saver.
#include "formats/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <Xm/DialogS.h>
#include <Xm/FileSB.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/Protocols.h>
#include <Xm/PushBG.h>
#include <Xm/RowColumn.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/alert.h"
#include "app/child.h"
#include "app/corvat.h"
#include "app/fastio.h"
#include "app/menus.h"
#include "app/misc.h"
#include "app/msg.h"
#include "app/ui_corvat.h"
#include "dialogs/help.h"
#include "dialogs/palette.h"
#include "formats/fileui.h"
#include "formats/open.h"
#include "image/canvas.h"
#include "image/display.h"
#include "image/image.h"
#include "image/select.h"
#include "image/state.h"
#include "image/vela_iface.h"

Widget save_dialog = nullptr;
int save_showing = 0;
SaveAsRec *saveas = nullptr;

namespace {

const char *const SAVE_HELP = "LumorSaveDialog";
const char *const COMPRESS = "/usr/bin/compress";

// --- small helpers -------------------------------------------------------------

// Returns text with every "%s" replaced by arg (names may hold '%').
std::string fill(const char *text, const std::string &arg)
{
    std::string out;
    for (const char *p = text; *p != '\0'; p++) {
        if (p[0] == '%' && p[1] == 's') {
            out += arg;
            p++;
        } else {
            out += *p;
        }
    }
    return out;
}

// Shows an error or warning alert with one "Continue" button.
void tell(int type, const std::string &message, const char *button, const char *title)
{
    AlertPrompt(alert_parent(), ALERT_TYPE, type, ALERT_TITLE, title, ALERT_STYLE,
                XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE, message.c_str(), ALERT_BUTTON, 0,
                button, ALERT_HELP, SAVE_HELP, 0);
}

// Asks a question whose first button answers 0 and second 1; returns the
// answer (0 when the window is closed).
int ask(const std::string &message, const char *first, const char *second, const char *title)
{
    return AlertPrompt(alert_parent(), ALERT_TYPE, XmDIALOG_QUESTION, ALERT_TITLE, title,
                       ALERT_STYLE, XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE,
                       message.c_str(), ALERT_BUTTON, 0, first, ALERT_BUTTON, 1, second,
                       ALERT_HELP, SAVE_HELP, 0);
}

// True when something (a symbolic link included) has that name.
bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// True when the last component of path is longer than ".Z" and ends in it.
bool ends_in_z(const std::string &path)
{
    const char *name = basename(path.c_str());
    size_t n = std::strlen(name);
    return n > 2 && std::strcmp(name + n - 2, ".Z") == 0;
}

// Gives the record a new file name (and real path, the same string).
void set_record_path(ImageRec *image, const std::string &path)
{
    char *copy = xstrdup(path.c_str());
    if (image->realfile != image->file)
        std::free(image->realfile);
    if (!image->file_borrowed)
        std::free(image->file);
    image->file = copy;
    image->realfile = copy;
    image->file_borrowed = 0;
}

// Returns the text of a file selection box's callback value.  The buffer is
// larger than any path the system accepts, so a cut name cannot be created
// and is refused rather than written under a shorter name.
std::string selection_text(XtPointer call)
{
    auto *cb = static_cast<XmFileSelectionBoxCallbackStruct *>(call);
    char buf[PATH_MAX + 64];
    return cb != nullptr ? ConvertCompoundToChar(cb->value, buf, sizeof buf) : std::string();
}

// Returns the depth for a colours label: "B&W" 1, "256" 8, "Millions" 24,
// anything else 8.  (The Options dialog has a colors_to_depth of its own for
// its longer labels; this one stays inside the save flow.)
int colors_to_depth(const char *label)
{
    if (std::strcmp(label, catmsg(1, 296, "B&W")) == 0)
        return 1;
    if (std::strcmp(label, catmsg(1, 298, "Millions")) == 0)
        return 24;
    // "256" (1, 297) and anything else.
    return 8;
}

// --- conversion for a file -------------------------------------------------------

// What showing a picture did to it that converting it for a file undoes.
struct ScreenConversion {
    bool offset_in_pixels;      // its 8-bit pixels carry the colormap offset
    int offset;                 // that offset
};

ScreenConversion screen_conversion(const ImageRec *image)
{
    VelaImage *img = image->orig_image;
    bool eight = img != nullptr && vela_get_nbands(img) == 1 && vela_get_datatype(img) == VELA_BYTE;
    return {eight && !image->gray_converted && !image->colormap_reduced &&
                image->display_func == image_8to8 && image->offset != 0,
            image->offset};
}

// Shows the current picture as before after a conversion for a file that
// did not end in a new document: the conversion changed the record's
// display function, colormap and view for the file's depth.
void restore_screen_conversion(ImageRec *image, const ScreenConversion &before)
{
    if (image == nullptr || is_postscript(image->type) || image_display == nullptr)
        return;
    if (image->gray_converted && image->colour_image != nullptr) {
        if (image->orig_image != nullptr)
            vela_destroy(image->orig_image);
        image->orig_image = image->colour_image;
        image->colour_image = nullptr;
        image->gray_converted = 0;
    }
    // Placing the picture on the screen adds the offset again.
    if (before.offset_in_pixels && image->orig_image != nullptr) {
        auto v = static_cast<float>(before.offset);
        float value[3] = {v, v, v};
        vela_subtract_const(image->orig_image, value, image->orig_image);
    }
    image->offset_added = 0;
    if (assign_display_func(image, image_display->depth) == 0)
        display_new_image();
}

// Chooses the current image's conversion to a file of the given depth.
bool choose_file_conversion(ImageRec *current, int depth)
{
    current->output_conversion = 1;
    int rc = assign_display_func(current, depth);
    current->output_conversion = 0;
    return rc == 0 && current->display_func != nullptr;
}

// Applies the chosen conversion to source; the target record gets the
// converted image, its description and its colormap.  A source that is
// thrown away afterwards (batch mode) may be shared rather than copied.
bool convert_source(ImageRec *current, ImageRec *target, VelaImage *source,
                    bool source_is_spare = false)
{
    // With the flag set the display functions copy rather than share, so the
    // saver may change the pixels it is given.
    current->output_conversion = source_is_spare ? 0 : 1;
    target->orig_image = current->display_func(source);
    current->output_conversion = 0;
    if (target->orig_image == nullptr)
        return false;
    copy_image_data(target, current);
    int w = 0, h = 0, bands = 0, type = 0;
    vela_get_info(target->orig_image, &w, &h, &bands, &type);
    target->width = w;
    target->height = h;
    target->bands = bands;
    target->datatype = type;
    target->depth = retrieve_depth(bands, type);
    if (target->depth == 1) {
        // A 1-bit file shows 0 as white and 1 as black, whatever colormap the
        // picture had.
        std::free(target->red);
        std::free(target->green);
        std::free(target->blue);
        target->red = target->green = target->blue = nullptr;
        target->ncolors = 0;
    }
    int ps = 0, rs = 0;
    if (retrieve_data(target->orig_image, &ps, &rs) == nullptr)
        return false;
    target->bytes_per_line = rs;
    reimport_image(target->orig_image, 0);
    if (current->offset_added) {
        // The file holds the pixels' own values, not the screen's.
        auto off = static_cast<float>(-current->offset);
        float scale[3] = {1, 1, 1};
        float offset[3] = {off, off, off};
        vela_rescale(target->orig_image, target->orig_image, scale, offset);
        current->offset_added = 0;
    }
    return true;
}

// --- Unix compression ------------------------------------------------------------

enum class Compressed { done, larger, failed, not_replaced };

// Writes the whole file at path to fd; false on any failure.
bool copy_to(const std::string &path, int fd)
{
    MappedFile *m = fast_read(path.c_str());
    if (m == nullptr)
        return false;
    const char *p = m->address;
    size_t left = m->length;
    bool ok = true;
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    fast_close(m);
    return ok;
}

// Compresses the file just written into "<written>.Z" with compress(1).
// compress works on a copy under a temporary name beside it, and its result
// is renamed into place, so an existing ".Z" file is only ever replaced by a
// complete one.  On success the written file is removed, as compress does.
Compressed compress_file(const std::string &written)
{
    std::string final_name = written + ".Z";
    size_t slash = written.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "" : written.substr(0, slash);
    std::string temp = dir + "/.orvZ.XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0)
        return Compressed::failed;
    std::string packed = temp + ".Z";
    // The result keeps the permissions of the file it replaces, else those
    // the written file got.
    struct stat st;
    mode_t mode = stat(final_name.c_str(), &st) == 0 || stat(written.c_str(), &st) == 0
                      ? st.st_mode & 07777
                      : 0644;
    bool ok = copy_to(written, fd) && fchmod(fd, mode) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || exists(packed)) {
        unlink(temp.c_str());
        return Compressed::failed;
    }
    int status = run_program({COMPRESS, temp});
    if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        unlink(temp.c_str());
        unlink(packed.c_str());
        return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 2 ? Compressed::larger
                                                                            : Compressed::failed;
    }
    int pfd = open(packed.c_str(), O_RDONLY | O_CLOEXEC);
    bool synced = pfd >= 0 && fsync(pfd) == 0;
    if (pfd >= 0)
        close(pfd);
    if (!synced || rename(packed.c_str(), final_name.c_str()) != 0) {
        unlink(packed.c_str());
        return Compressed::not_replaced;
    }
    unlink(written.c_str());
    return Compressed::done;
}

// Step 8: compresses the written file; false when the save must stop.
bool compress_saved(ImageRec *target, const char *entered)
{
    std::string written = target->file;
    switch (compress_file(written)) {
    case Compressed::done:
        set_record_path(target, written + ".Z");
        return true;
    case Compressed::not_replaced:
        tell(XmDIALOG_WARNING, catmsg(1, 322, "Cannot save file."), catmsg(1, 323, "Continue"),
             catmsg(1, 427, "Lumora - Save"));
        return false;
    case Compressed::larger:
        tell(XmDIALOG_WARNING,
             fill(catmsg(1, 325, "%s not compressed.\nFile would be larger if compressed."), entered),
             catmsg(1, 326, "Continue"), catmsg(1, 428, "Lumora - Save"));
        break;
    case Compressed::failed:
        tell(XmDIALOG_WARNING, catmsg(1, 430, "File compression failed"),
             catmsg(1, 327, "Continue"), catmsg(1, 429, "Lumora - Save"));
        break;
    }
    // The uncompressed file stays, and the record says so.
    target->compression = COMP_NONE;
    return true;
}

// --- the steps of save_newfile ------------------------------------------------------

// Step 2: returns the record for the file to write, or nullptr when there is
// no format to write or the user stopped.
ImageRec *new_target(const char *path, int kind, ImageRec *current)
{
    FormatEntry *row = nullptr;
    int depth = 0, compression = COMP_NONE, bands = 0;
    if (kind == SAVE_PLAIN) {
        row = current->type;
        if (!is_postscript(row) && !save_format_supported(row)) {
            tell(XmDIALOG_WARNING, catmsg(1, 320, "Cannot save file."), catmsg(1, 321, "Continue"),
                 catmsg(1, 426, "Lumora - Save"));
            return nullptr;
        }
        if (row->type == FMT_JFIF && !confirm_data_loss())
            return nullptr;
        compression = current->compression;
        depth = current->depth;
        bands = current->bands;
    } else {
        if (saveas == nullptr)
            return nullptr;
        row = GetFileFormat(saveas->list, GetListSelection(saveas->list));
        if (!save_format_supported(row))
            return nullptr;
        if (row->type == FMT_JFIF && !confirm_data_loss())
            return nullptr;
        char label[256];
        depth = colors_to_depth(option_menu_label(saveas->colors_menu, label, sizeof label));
        compression =
            string_to_compression(option_menu_label(saveas->compression_menu, label, sizeof label));
    }
    ImageRec *image = init_image(path, path, 0, row, nullptr);
    image->depth = depth;
    image->compression = compression;
    if (bands != 0)
        image->bands = bands;
    image->hres = current->hres;
    image->vres = current->vres;
    image->res_unit = current->res_unit;
    return image;
}

enum class Written { ok, failed, stopped };

// Step 6: converts the view (or the selection) for the file and calls the
// format's saver.
Written write_image(ImageRec *target, ImageRec *current, int kind)
{
    // 1. Unix compression writes the name without ".Z" first.
    if (target->compression == COMP_UNIX && ends_in_z(target->file)) {
        std::string name = target->file;
        set_record_path(target, name.substr(0, name.size() - 2));
    }
    // 2. PostScript pages cannot be rasterised for a file yet.
    if (is_postscript(current->type))
        return Written::failed;
    int depth = target->depth;
    if (depth != 1 && depth != 8 && depth != 24)
        depth = retrieve_depth(current->bands, current->datatype);
    if (!choose_file_conversion(current, depth))
        return Written::failed;
    if (current->view_image == nullptr)
        image_geo_op(current);
    VelaImage *source = current->view_image;
    if (source == nullptr)
        return Written::failed;
    // 3. The selection, cut from the view (crop_region tells what is wrong).
    VelaImage *crop = nullptr;
    if (kind == SAVE_SELECTION) {
        crop = crop_region(current, source);
        if (crop == nullptr)
            return Written::stopped;
        source = crop;
    }
    // 4-5.
    bool converted = convert_source(current, target, source);
    if (crop != nullptr)
        vela_destroy(crop);
    if (!converted)
        return Written::failed;
    // 6-7. The saver writes a temporary file and renames it over the
    // target, so an existing file is never removed first.
    return target->type->save(target) == 0 ? Written::ok : Written::failed;
}

// Steps 9-11: the saved file becomes the current document.
int show_saved(ImageRec *image, int kind, const ScreenConversion &before)
{
    struct stat st;
    image->file_size = stat(image->file, &st) == 0 ? static_cast<int>(st.st_size & 0x7fffffff) : 0;
    ImageRec *previous = current_image;
    if (is_postscript(image->type)) {
        // PostScript documents are not shown yet: the file is written and
        // the current document stays.
        destroy_image(image);
        restore_screen_conversion(previous, before);
        return 0;
    }
    DisplayRec *previous_display = current_display;
    ViewState *state = init_state(FMT_NONE);
    if (previous != nullptr && is_postscript(previous->type))
        close_ps(1, 1);
    set_tool_options(previous, image);
    current_image = image;
    set_current_display();
    if (image_display == nullptr || assign_display_func(image, image_display->depth) != 0) {
        tell(XmDIALOG_ERROR, fill(catmsg(1, 131, "Error opening %s."), image->file),
             catmsg(1, 132, "Continue"), catmsg(1, 406, "Lumora - Open"));
        current_image = previous;
        current_display = previous_display;
        destroy_image(image);
        std::free(state);
        if (previous != nullptr) {
            set_tool_options(nullptr, previous);
            restore_screen_conversion(previous, before);
        }
        return 0;
    }
    destroy_image(previous);
    std::free(current_state);
    current_state = state;
    if (base != nullptr && base->canvas != nullptr)
        XtVaSetValues(base->scrolled_window, XmNworkWindow, base->canvas, nullptr);
    check_canvas(image->width, image->height, current_display);
    resize_canvas();
    display_new_image();
    reread_file_choosers(kind);
    check_popups(0);
    if (palette != nullptr) {
        reset_select();
        reset_pan();
    }
    return 0;
}

int save_steps(const char *path, int kind)
{
    ImageRec *current = current_image;
    if (current == nullptr)
        return -1;
    // Without a selection there is nothing to save.
    if (kind == SAVE_SELECTION && (current_state == nullptr || !current_state->selection_shown))
        return -1;
    // 1.
    int rc = check_save_file(path);
    if (rc != 0)
        return rc;
    // 2-3.
    ImageRec *target = new_target(path, kind, current);
    if (target == nullptr)
        return -1;
    if (!confirm_overwrite_file(path, target->compression)) {
        destroy_image(target);
        return -1;
    }
    ScreenConversion before = screen_conversion(current);
    if (kind == SAVE_PLAIN && is_postscript(current->type)) {
        // 5. A PostScript document is copied unchanged.
        rc = save_entire_ps_file(target, current);
    } else {
        // 6.
        Written w = write_image(target, current, kind);
        if (w == Written::stopped) {
            destroy_image(target);
            restore_screen_conversion(current, before);
            return -1;
        }
        rc = w == Written::ok ? 0 : -1;
    }
    // 7.
    if (rc != 0) {
        tell(XmDIALOG_WARNING, catmsg(1, 320, "Cannot save file."), catmsg(1, 321, "Continue"),
             catmsg(1, 426, "Lumora - Save"));
        destroy_image(target);
        restore_screen_conversion(current, before);
        return -1;
    }
    // 8.
    bool copied = kind == SAVE_PLAIN && is_postscript(current->type);
    if (!copied && target->compression == COMP_UNIX && !compress_saved(target, path)) {
        destroy_image(target);
        restore_screen_conversion(current, before);
        return -1;
    }
    return show_saved(target, kind, before);
}

// --- the dialogs ----------------------------------------------------------------------

// Returns a push-button item of an option menu's pull-down.
Widget menu_item(Widget pulldown, const char *name, const char *label)
{
    XmString s = XmStringCreateLocalized(const_cast<char *>(label));
    Widget item = XtVaCreateManagedWidget(name, xmPushButtonGadgetClass, pulldown, XmNlabelString, s,
                                          nullptr);
    XmStringFree(s);
    return item;
}

// Returns an (unmanaged) option menu for the pull-down.
Widget option_menu(Widget form, const char *name, Widget pulldown, const char *label)
{
    XmString s = XmStringCreateLocalized(const_cast<char *>(label));
    Arg args[2];
    XtSetArg(args[0], XmNsubMenuId, pulldown);
    XtSetArg(args[1], XmNlabelString, s);
    Widget menu = XmCreateOptionMenu(form, const_cast<char *>(name), args, 2);
    XmStringFree(s);
    return menu;
}

// Makes item the option menu's choice, showing text.
void show_choice(Widget menu, Widget item, const char *text)
{
    XtVaSetValues(menu, XmNmenuHistory, item, nullptr);
    Widget button = XmOptionButtonGadget(menu);
    if (button != nullptr) {
        XmString s = XmStringCreateLocalized(const_cast<char *>(text));
        XtVaSetValues(button, XmNlabelString, s, nullptr);
        XmStringFree(s);
    }
}

// The window manager's close acts as Cancel, so that a caller waiting for
// the outcome learns of it.
void SaveAsClosedCallback(Widget, XtPointer, XtPointer)
{
    if (saveas != nullptr)
        saveas->outcome = 1;
}

void create_saveas()
{
    saveas = new SaveAsRec{};
    saveas->outcome = -1;
    saveas->dialog = file_box("SaveAsShell", "SaveAsDialog", catmsg(1, 40, "Lumora - Save As"),
                              SaveAsOKCallback, SaveAsCancelCallback, saveas->help, &saveas->showing);
    saveas->shell = XtParent(saveas->dialog);
    Atom close = XmInternAtom(XtDisplay(saveas->shell), const_cast<char *>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(saveas->shell, close, SaveAsClosedCallback, nullptr);

    Widget form = XtVaCreateManagedWidget("SaveAsForm", xmFormWidgetClass, saveas->dialog, nullptr);
    XmString text = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 41, "File Format:")));
    saveas->label = XtVaCreateManagedWidget("FileFormatLabel", xmLabelWidgetClass, form,
                                            XmNlabelString, text, XmNtopAttachment, XmATTACH_FORM,
                                            XmNleftAttachment, XmATTACH_FORM, nullptr);
    XmStringFree(text);
    Arg args[1];
    XtSetArg(args[0], XmNvisibleItemCount, 4);
    saveas->list = XmCreateScrolledList(form, const_cast<char *>("PrinterList"), args, 1);
    Widget scrolled = XtParent(saveas->list);
    XtVaSetValues(scrolled, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, saveas->label,
                  XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, nullptr);
    XtVaSetValues(saveas->list, XmNselectionPolicy, XmBROWSE_SELECT, nullptr);
    XtAddCallback(saveas->list, XmNbrowseSelectionCallback, SaveFormatListCallback, nullptr);
    XtAddCallback(saveas->list, XmNdefaultActionCallback, SaveFormatListCallback, nullptr);
    XtManageChild(saveas->list);

    Widget pulldown = XmCreatePulldownMenu(form, const_cast<char *>("CompressionPulldown"), nullptr, 0);
    saveas->none_item = menu_item(pulldown, "NoneMenuItem", catmsg(1, 43, "None"));
    saveas->unix_item = menu_item(pulldown, "UnixMenuItem", catmsg(1, 44, "Unix"));
    saveas->encoded_item = menu_item(pulldown, "EncodedMenuItem", catmsg(1, 45, "Encoded"));
    saveas->lzw_item = menu_item(pulldown, "LZWMenuItem", catmsg(1, 46, "LZW"));
    saveas->compression_menu =
        option_menu(form, "CompressionOptionMenu", pulldown, catmsg(1, 42, "Compression:"));
    XtVaSetValues(saveas->compression_menu, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget,
                  scrolled, XmNleftAttachment, XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM,
                  nullptr);
    XtManageChild(saveas->compression_menu);

    pulldown = XmCreatePulldownMenu(form, const_cast<char *>("ColorsPulldown"), nullptr, 0);
    saveas->bw_item = menu_item(pulldown, "B&WMenuItem", catmsg(1, 49, "B&W"));
    saveas->colors256_item = menu_item(pulldown, "Colors256MenuItem", catmsg(1, 50, "256"));
    saveas->millions_item = menu_item(pulldown, "ColorsMillionsMenuItem", catmsg(1, 51, "Millions"));
    saveas->colors_menu = option_menu(form, "ColorsOptionMenu", pulldown, catmsg(1, 48, "Colors:"));
    XtVaSetValues(saveas->colors_menu, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, scrolled,
                  XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, saveas->compression_menu,
                  XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM, XmNbottomAttachment,
                  XmATTACH_FORM, nullptr);
    XtManageChild(saveas->colors_menu);

    set_format_list(saveas->list, true);
}

// Sets the Save As dialog's title and help location for a kind.
void set_saveas_kind(int kind, const char *title)
{
    const char *help = kind == SAVE_PAGE        ? "LumorSavePageAsDialog"
                       : kind == SAVE_SELECTION ? "LumorSaveSelectionAsDialog"
                                                : "LumorSaveAsDialog";
    std::snprintf(saveas->help, sizeof saveas->help, "%s", help);
    XtVaSetValues(saveas->shell, XmNtitle, title, nullptr);
}

// Returns the Save As dialog's current title.
std::string saveas_title()
{
    char *title = nullptr;
    XtVaGetValues(saveas->shell, XmNtitle, &title, nullptr);
    return title != nullptr ? title : "";
}

void sensitive(Widget w, bool on)
{
    XtSetSensitive(w, on ? True : False);
}

} // namespace

// --- public interface ------------------------------------------------------------------

int save_newfile(const char *path, int kind)
{
    setbusy();
    int rc = save_steps(path, kind);
    setactive();
    return rc;
}

int check_save_file(const char *path)
{
    if (path == nullptr || *path == '\0' || AllBlanks(basename(path))) {
        tell(XmDIALOG_ERROR, catmsg(1, 290, "Please enter a file name."), catmsg(1, 291, "Continue"),
             catmsg(1, 417, "Lumora - Save"));
        return -2;
    }
    struct stat st;
    if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
        tell(XmDIALOG_ERROR, fill(catmsg(1, 292, "%s is a folder.\nPlease enter a file name."), path),
             catmsg(1, 293, "Continue"), catmsg(1, 418, "Lumora - Save"));
        return -2;
    }
    if (exists(path))
        return 0;
    // Can a file be made there?  The probe is created exclusively, so it
    // never touches another file, and is removed again.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        tell(XmDIALOG_WARNING, fill(catmsg(1, 294, "Cannot save to %s."), path),
             catmsg(1, 295, "Continue"), catmsg(1, 419, "Lumora - Save"));
        return -1;
    }
    close(fd);
    unlink(path);
    return 0;
}

int confirm_data_loss()
{
    int answer = ask(catmsg(1, 304, "Saving to the JFIF (JPEG) file format\nmay result in a loss of data.\nDo you want to continue?"),
                     catmsg(1, 305, "Yes"), catmsg(1, 306, "No"), catmsg(1, 420, "Lumora - Save"));
    return answer == 1 ? 0 : 1;
}

int confirm_overwrite_file(const char *path, int compression)
{
    std::string p = path;
    if (exists(p) &&
        ask(fill(catmsg(1, 307, "The file \"%s\" already exists.\nDo you want to overwrite the existing file \"%s\"?"),
                 basename(path)),
            catmsg(1, 308, "Cancel"), catmsg(1, 309, "Overwrite Existing File"),
            catmsg(1, 421, "Lumora - Save")) == 0)
        return 0;
    if (compression != COMP_UNIX)
        return 1;
    if (ends_in_z(p)) {
        // The file written first, and then compressed.
        std::string plain = p.substr(0, p.size() - 2);
        if (!exists(plain))
            return 1;
        return ask(fill(catmsg(1, 310, "The file \"%s\" already exists.\nSaving a file using UNIX compression will overwrite this file.\nDo you want to overwrite the existing file \"%s\"?"),
                        basename(plain.c_str())),
                   catmsg(1, 311, "Cancel"), catmsg(1, 312, "Overwrite Exising File"),
                   catmsg(1, 422, "Lumora - Save"));
    }
    // The compressed result.
    std::string packed = p + ".Z";
    if (!exists(packed))
        return 1;
    return ask(fill(catmsg(1, 313, "The file \"%s\" already exists.\nSaving a file using UNIX compression will overwrite this file.\nDo you want to overwrite the existing file \"%s\"?"),
                    basename(packed.c_str())),
               catmsg(1, 314, "Cancel"), catmsg(1, 315, "Overwrite Existing File"),
               catmsg(1, 423, "Lumora - Save"));
}

int save_entire_ps_file(ImageRec *new_image, ImageRec *current)
{
    const char *target = new_image->file;
    if (current->data == nullptr) {
        struct stat a, b;
        if (std::strcmp(target, current->realfile) == 0 ||
            (stat(target, &a) == 0 && stat(current->realfile, &b) == 0 && a.st_dev == b.st_dev &&
             a.st_ino == b.st_ino))
            return 0;
    }
    // The copy replaces the target only once complete, so an existing
    // target needs only to be one we may write.
    if (exists(target) && access(target, W_OK) != 0) {
        tell(XmDIALOG_WARNING, catmsg(1, 316, "Cannot save file.\nCheck permissions."),
             catmsg(1, 317, "Continue"), catmsg(1, 424, "Lumora - Save"));
        return -2;
    }
    if (current->data != nullptr)
        return fast_write(target, current->data, static_cast<size_t>(current->file_size), 0) == 0 ? 0 : -1;
    MappedFile *m = fast_read(current->realfile);
    if (m == nullptr)
        return -1;
    int rc = fast_write(target, m->address, m->length, 0);
    fast_close(m);
    return rc == 0 ? 0 : -1;
}

int save_format_supported(const FormatEntry *row)
{
    return row != nullptr && row->save != nullptr ? 1 : 0;
}

void set_colors_value(int code)
{
    if (saveas == nullptr)
        return;
    Widget items[] = {saveas->bw_item, saveas->colors256_item, saveas->millions_item};
    for (Widget w : items)
        sensitive(w, false);
    switch (code) {
    case FMT_RASTER:
    case FMT_TIFF:
    case FMT_PS:
    case FMT_EPSF:
        for (Widget w : items)
            sensitive(w, true);
        show_choice(saveas->colors_menu, saveas->colors256_item, catmsg(1, 329, "256"));
        break;
    case FMT_JFIF:
        sensitive(saveas->millions_item, true);
        show_choice(saveas->colors_menu, saveas->millions_item, catmsg(1, 330, "Millions"));
        break;
    default:
        sensitive(saveas->colors256_item, true);
        show_choice(saveas->colors_menu, saveas->colors256_item, catmsg(1, 331, "256"));
        break;
    }
}

void set_compression_value(int code)
{
    if (saveas == nullptr)
        return;
    for (Widget w : {saveas->none_item, saveas->unix_item, saveas->encoded_item, saveas->lzw_item})
        sensitive(w, false);
    sensitive(saveas->none_item, true);
    switch (code) {
    case FMT_RASTER:
        sensitive(saveas->unix_item, true);
        sensitive(saveas->encoded_item, true);
        show_choice(saveas->compression_menu, saveas->none_item, catmsg(1, 333, "None"));
        break;
    case FMT_TIFF:
        sensitive(saveas->unix_item, true);
        sensitive(saveas->lzw_item, true);
        show_choice(saveas->compression_menu, saveas->lzw_item, catmsg(1, 332, "LZW"));
        break;
    case FMT_GIF:
    case FMT_JFIF:
        show_choice(saveas->compression_menu, saveas->none_item, catmsg(1, 335, "None"));
        break;
    default:
        sensitive(saveas->unix_item, true);
        show_choice(saveas->compression_menu, saveas->none_item, catmsg(1, 336, "None"));
        break;
    }
}

int string_to_compression(const char *label)
{
    if (std::strcmp(label, catmsg(1, 300, "Unix")) == 0)
        return COMP_UNIX;
    if (std::strcmp(label, catmsg(1, 301, "Encoded")) == 0)
        return COMP_ENCODED;
    if (std::strcmp(label, catmsg(1, 302, "LZW")) == 0)
        return COMP_LZW;
    // "None" (1, 299) and anything else.
    return COMP_NONE;
}

char *option_menu_label(Widget menu, char *buffer, std::size_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    Widget button = menu != nullptr ? XmOptionButtonGadget(menu) : nullptr;
    if (button == nullptr)
        return buffer;
    XmString s = nullptr;
    XtVaGetValues(button, XmNlabelString, &s, nullptr);
    ConvertCompoundToChar(s, buffer, size);
    XmStringFree(s);
    return buffer;
}

void reread_file_choosers(int which)
{
    Widget box = which == SAVE_PLAIN ? save_dialog : saveas != nullptr ? saveas->dialog : nullptr;
    if (box == nullptr)
        return;
    XmString dir = nullptr;
    XtVaGetValues(box, XmNdirectory, &dir, nullptr);
    char buf[PATH_MAX + 64];
    ConvertCompoundToChar(dir, buf, sizeof buf);
    XmStringFree(dir);
    reread_open_choosers(buf);
}

// --- callbacks -----------------------------------------------------------------------------

void SaveCallback(Widget, XtPointer, XtPointer)
{
    setbusy();
    if (save_dialog == nullptr)
        save_dialog = file_box("SaveShell", "SaveDialog", catmsg(1, 39, "Lumora - Save"),
                               SaveOKCallback, SaveCancelCallback, SAVE_HELP, &save_showing);
    if (current_image != nullptr)
        SetCurrentDoc(save_dialog, basename(current_image->file));
    ShowDialog(save_dialog, save_showing);
    setactive();
}

void SaveAsCallback(Widget, XtPointer client, XtPointer)
{
    auto kind = static_cast<int>(reinterpret_cast<intptr_t>(client));
    setbusy();
    bool first = saveas == nullptr;
    if (first)
        create_saveas();
    if (kind == SAVE_PAGE)
        set_saveas_kind(SAVE_PAGE, catmsg(1, 396, "Lumora - Save Page As Image"));
    else if (kind == SAVE_SELECTION)
        set_saveas_kind(SAVE_SELECTION, catmsg(1, 397, "Lumora - Save Selection As"));
    else
        set_saveas_kind(SAVE_AS, catmsg(1, 395, "Lumora - Save As"));
    ShowDialog(saveas->dialog, saveas->showing);
    if (first) {
        XmListCallbackStruct cb = {};
        cb.reason = XmCR_BROWSE_SELECT;
        cb.item_position = GetListSelection(saveas->list) + 1;
        SaveFormatListCallback(saveas->list, nullptr, &cb);
    }
    setactive();
}

void SaveFormatListCallback(Widget, XtPointer, XtPointer call)
{
    auto *cb = static_cast<XmListCallbackStruct *>(call);
    if (saveas == nullptr || cb == nullptr ||
        (cb->reason != XmCR_BROWSE_SELECT && cb->reason != XmCR_DEFAULT_ACTION))
        return;
    FormatEntry *row = GetFileFormat(saveas->list, cb->item_position - 1);
    if (row == nullptr)
        return;
    set_colors_value(row->type);
    set_compression_value(row->type);
}

void SaveOKCallback(Widget, XtPointer, XtPointer call)
{
    std::string text = selection_text(call);
    if (save_newfile(text.c_str(), SAVE_PLAIN) >= 0 && save_dialog != nullptr)
        DismissDialog(save_dialog);
}

void SaveAsOKCallback(Widget, XtPointer, XtPointer call)
{
    if (saveas == nullptr)
        return;
    std::string text = selection_text(call);
    std::string title = saveas_title();
    int kind = title == catmsg(1, 288, "Lumora - Save Page As Image")  ? SAVE_PAGE
               : title == catmsg(1, 289, "Lumora - Save Selection As") ? SAVE_SELECTION
                                                                      : SAVE_AS;
    if (save_newfile(text.c_str(), kind) < 0) {
        saveas->outcome = 1;
        return;
    }
    DismissDialog(saveas->dialog);
    saveas->outcome = 0;
}

void SaveCancelCallback(Widget, XtPointer, XtPointer)
{
    if (save_dialog != nullptr)
        DismissDialog(save_dialog);
}

void SaveAsCancelCallback(Widget, XtPointer, XtPointer)
{
    if (saveas == nullptr)
        return;
    saveas->outcome = 1;
    DismissDialog(saveas->dialog);
}

void retitle_save_as_for_selection(int on)
{
    if (saveas == nullptr || !saveas->showing)
        return;
    std::string title = saveas_title();
    if (on) {
        if (title == catmsg(1, 7, "Lumora - Save As") ||
            title == catmsg(1, 8, "Lumora - Save Page As Image"))
            set_saveas_kind(SAVE_SELECTION, catmsg(1, 9, "Lumora - Save Selection As"));
    } else if (title == catmsg(1, 10, "Lumora - Save Selection As")) {
        if (current_image != nullptr && is_postscript(current_image->type))
            set_saveas_kind(SAVE_PAGE, catmsg(1, 11, "Lumora - Save Page As Image"));
        else
            set_saveas_kind(SAVE_AS, catmsg(1, 7, "Lumora - Save As"));
    }
}

void saveas_document_changed(int postscript)
{
    if (saveas != nullptr && saveas->showing) {
        std::string title = saveas_title();
        if (title == catmsg(1, 119, "Lumora - Save Selection As"))
            DismissDialog(saveas->dialog);
        else if (!postscript && title == catmsg(1, 120, "Lumora - Save Page As Image"))
            set_saveas_kind(SAVE_AS, catmsg(1, 404, "Lumora - Save As"));
        else if (postscript && title == catmsg(1, 121, "Lumora - Save As"))
            set_saveas_kind(SAVE_PAGE, catmsg(1, 122, "Lumora - Save Page As Image"));
    }
    if (save_dialog != nullptr && current_image != nullptr) {
        Widget text = XmFileSelectionBoxGetChild(save_dialog, XmDIALOG_TEXT);
        if (text != nullptr)
            XtVaSetValues(text, XmNvalue, basename(current_image->file), nullptr);
    }
}

// --- batch mode -------------------------------------------------------------------------------

int BatchCheckSaveFile(AppResources *r)
{
    const FormatEntry &row = all_types[r->out_format];
    if (row.type == FMT_AUTO) {
        std::fputs(catmsg(2, 7, "Unknown image type specified.\n"), stderr);
        return 0;
    }
    if (row.save == nullptr) {
        std::fputs(catmsg(1, 320, "Cannot save file."), stderr);
        std::fputs("\n", stderr);
        return 0;
    }
    // The standard-output copy is our own empty temporary file.
    if (prog->output_to_stdout)
        return 1;
    struct stat st;
    if (stat(r->out_file, &st) != 0)
        return 1;
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, catmsg(1, 469, "%s is a directory.\n"), r->out_file);
        return 0;
    }
    if (access(r->out_file, W_OK) != 0 || !r->overwrite) {
        std::fprintf(stderr, catmsg(2, 11, "Cannot overwrite file %s.\n"), r->out_file);
        return 0;
    }
    return 1;
}

int BatchSaveFile(AppResources *r)
{
    ImageRec *current = current_image;
    if (current_display != image_display || current == nullptr || current->orig_image == nullptr)
        return 0;
    FormatEntry *row = &all_types[r->out_format];
    ImageRec *target = init_image(r->out_file, r->out_file, 0, row, nullptr);
    int depth = current->depth > 24 ? 24 : current->depth;
    switch (row->type) {
    case FMT_RASTER: target->compression = COMP_ENCODED; break;
    case FMT_TIFF: target->compression = COMP_LZW; break;
    case FMT_GIF:
    case FMT_XPM: depth = 8; break;
    case FMT_JFIF: depth = 24; break;
    default: break;
    }
    target->hres = current->hres;
    target->vres = current->vres;
    target->res_unit = current->res_unit;
    bool ok = choose_file_conversion(current, depth) &&
              convert_source(current, target, current->orig_image, true) && row->save != nullptr &&
              row->save(target) == 0;
    destroy_image(target);
    destroy_image(current);
    current_image = nullptr;
    return ok ? 1 : 0;
}
