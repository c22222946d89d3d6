// open.cc - the open flow: typing files and loading them.
#include "formats/open.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <Xm/Scale.h>
#include <Xm/Xm.h>

#include "app/alert.h"
#include "app/child.h"
#include "app/corvat.h"
#include "app/misc.h"
#include "app/msg.h"
#include "app/reader.h"
#include "app/menus.h"
#include "app/ui_corvat.h"
#include "dialogs/imageinfo.h"
#include "formats/save.h"
#include "image/canvas.h"
#include "image/display.h"
#include "image/image.h"
#include "image/state.h"
#include "platform/dt/dt.h"

namespace {

// How much decompressed data typing looks at: enough for the signatures
// that sit past the first bytes (Photo CD at 2048, PICT at 522).
constexpr size_t TYPE_BYTES = 4096;

// Returns the name typing sees for the decompressed content: the path
// without its compression suffix.
std::string uncompressed_name(const char *path)
{
    std::string name = path;
    for (const char *suffix : {".Z", ".z", ".gz"}) {
        size_t n = std::strlen(suffix);
        if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) {
            name.resize(name.size() - n);
            break;
        }
    }
    return name;
}

std::string take_type(char *type)
{
    std::string s = type != nullptr ? type : "DATA";
    DtDtsFreeDataType(type);
    return s;
}

// True when path can be read by the effective user: owner or group read
// bit, or access(2).
bool readable(const char *path, const struct stat &st)
{
    if (static_cast<int>(st.st_uid) == prog->uid && (st.st_mode & S_IRUSR))
        return true;
    if (static_cast<int>(st.st_gid) == prog->gid && (st.st_mode & S_IRGRP))
        return true;
    return access(path, R_OK) == 0;
}

} // namespace

std::string type_file(const char *path, int *compressed, const char *data, int length)
{
    std::string type = data != nullptr ? take_type(DtDtsBufferToDataType(data, length, path))
                                       : take_type(DtDtsFileToDataType(path));
    if (type != "COMPRESSED")
        return type;
    *compressed = 1;
    const char *source = path;
    if (data != nullptr) {
        if (write_tmpfile(&prog->compress_tmp, data, basename(path), length) != 0)
            return "DATA";
        source = prog->compress_tmp;
    }
    ChildReader child;
    if (!spawn_reader({zcat_path(), "-c", "--", source}, &child))
        return "DATA";
    std::vector<char> bytes(TYPE_BYTES);
    size_t n = std::fread(bytes.data(), 1, bytes.size(), child.out);
    close_reader(&child);
    return take_type(DtDtsBufferToDataType(bytes.data(), static_cast<int>(n),
                                           uncompressed_name(path).c_str()));
}

int BatchCheckLoadFile(AppResources *r)
{
    const char *name = prog->input_from_stdin ? prog->stdin_copy : r->in_file;
    struct stat st;
    if (stat(name, &st) != 0) {
        std::fprintf(stderr, catmsg(1, 117, "%s does not exist."), name);
        std::fputs("\n", stderr);
        return 0;
    }
    if (prog->input_from_stdin)
        return static_cast<int>(st.st_size);
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, catmsg(1, 469, "%s is a directory.\n"), name);
        return 0;
    }
    const char *refusal = nullptr;
    if (!S_ISREG(st.st_mode))
        refusal = catmsg(1, 111, "%s is not a regular file.");
    else if (!readable(name, st))
        refusal = catmsg(1, 113, "You do not have read permission for %s.");
    else if (st.st_size == 0)
        refusal = catmsg(1, 115, "%s is an empty file.");
    if (refusal != nullptr) {
        std::fprintf(stderr, refusal, name);
        std::fputs("\n", stderr);
        return 0;
    }
    // The size is an int in the image record; larger files keep its low
    // bits only for display, the loaders read the file itself.
    return st.st_size > 0x7fffffff ? 0x7fffffff : static_cast<int>(st.st_size);
}

int BatchLoadFile(AppResources *r, int size)
{
    const char *name = prog->input_from_stdin ? prog->stdin_copy : r->in_file;
    int index = r->in_format;
    bool retried = false;
    for (;;) {
        int compressed = 0;
        FormatEntry *row = nullptr;
        if (index == FMT_AUTO) {
            row = str_to_ftype(type_file(name, &compressed).c_str());
            if (row == nullptr) {
                std::fputs(catmsg(1, 126, "File not opened:  Unsupported format."), stderr);
                std::fputs("\n", stderr);
                return 0;
            }
        } else {
            row = &all_types[index];
        }
        if (is_postscript(row)) {
            std::fputs(catmsg(1, 12, "Cannot convert Postcript or EPSF files.\n"), stderr);
            return 0;
        }
        current_display = image_display;
        ImageRec *image = init_image(name, name, 0, row, nullptr);
        image->file_size = size;
        if (compressed)
            image->compression = COMP_UNIX;
        if (row->load != nullptr && row->load(image) == 0) {
            current_image = image;
            return 1;
        }
        destroy_image(image);
        if (index != FMT_AUTO && !retried) {
            std::fprintf(stderr, catmsg(1, 129, "Error opening file as a %s."),
                         r->in_type != nullptr ? r->in_type : row->display_name);
            std::fputs("\n", stderr);
            index = FMT_AUTO;
            retried = true;
            continue;
        }
        std::fprintf(stderr, catmsg(1, 131, "Error opening %s."), r->in_file);
        std::fputs("\n", stderr);
        return 0;
    }
}

// --- the interactive open flow --------------------------------------------------

namespace {

// Shows an error alert with one "Continue" button; the message's "%s"
// takes arg.
void refuse(const char *message, const char *arg, const char *button, const char *title,
            const char *help)
{
    char text[2048];
    std::snprintf(text, sizeof text, message, arg != nullptr ? arg : "", arg != nullptr ? arg : "");
    AlertPrompt(alert_parent(), ALERT_TYPE, XmDIALOG_ERROR, ALERT_TITLE, title, ALERT_STYLE,
                XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE, text, ALERT_BUTTON, 0, button,
                ALERT_HELP, help, 0);
}

} // namespace

int check_open_file(const char *path)
{
    if (path == nullptr || *path == '\0' || AllBlanks(basename(path))) {
        refuse(catmsg(1, 107, "Please enter a file name."), nullptr, catmsg(1, 108, "Continue"),
               catmsg(1, 398, "Lumora - Open"), "LumorOpenDialog");
        return -2;
    }
    struct stat st;
    if (stat(path, &st) != 0) {
        refuse(catmsg(1, 117, "%s does not exist."), path, catmsg(1, 118, "Continue"),
               catmsg(1, 403, "Lumora - Open"), "LumorOpenDialog");
        return -1;
    }
    if (S_ISDIR(st.st_mode)) {
        refuse(catmsg(1, 109, "%s is a folder.\nUse File->Open to choose a single file."), path,
               catmsg(1, 110, "Continue"), catmsg(1, 399, "Lumora - Open"), "LumorOpenDialog");
        std::free(prog->directory);
        prog->directory = xstrdup(path);
        return -2;
    }
    if (!S_ISREG(st.st_mode)) {
        refuse(catmsg(1, 111, "%s is not a regular file."), path, catmsg(1, 112, "Continue"),
               catmsg(1, 400, "Lumora - Open"), "LumorOpenDialog");
        return -2;
    }
    if (!readable(path, st)) {
        refuse(catmsg(1, 113, "You do not have read permission for %s."), path,
               catmsg(1, 114, "Continue"), catmsg(1, 401, "Lumora - Open"), "LumorOpenDialog");
        return -2;
    }
    if (st.st_size == 0) {
        refuse(catmsg(1, 115, "%s is an empty file."), path, catmsg(1, 116, "Continue"),
               catmsg(1, 402, "Lumora - Open"), "LumorOpenDialog");
        return -2;
    }
    return static_cast<int>(st.st_size & 0x7fffffff);
}

int open_newfile(const char *name, const char *path, int index, char *buffer, int length)
{
    setbusy();
    if (base != nullptr)
        SetFooter(base->left_footer, "");

    // 2. The checks.
    int size = length;
    if (buffer == nullptr) {
        size = check_open_file(path);
        if (size < 0) {
            setactive();
            return -1;
        }
    }

    // 3. The format: chosen, or typed by content.
    bool retried = false;
    FormatEntry *failed_row = nullptr;
    for (;;) {
        int compressed = 0;
        FormatEntry *row = nullptr;
        if (index != -1) {
            row = &all_types[index];
            size_t n = std::strlen(path);
            if (n > 2 && std::strcmp(path + n - 2, ".Z") == 0)
                compressed = 1;
        } else {
            prog->dt_db_loaded = 1;
            std::string type = type_file(path, &compressed, buffer, length);
            if (type == catmsg(1, 123, "DATA")) {
                refuse(catmsg(1, 124, "File format not supported.\nUse the Open As option to choose a file format."),
                       nullptr, catmsg(1, 125, "Continue"), catmsg(1, 398, "Lumora - Open"),
                       "LumorOpenAsDialog");
                setactive();
                return -1;
            }
            row = str_to_ftype(type.c_str());
            if (row == nullptr) {
                refuse(catmsg(1, 126, "File not opened:  Unsupported format."), nullptr,
                       catmsg(1, 127, "Continue"), catmsg(1, 398, "Lumora - Open"),
                       "LumorOpenDialog");
                setactive();
                return -1;
            }
        }

        // 4. A raster picture needs the image canvas.
        if (!is_postscript(row) && !prog->image_canvas_created) {
            BaseImageCanvasObjectsCreate(base);
            if (!prog->image_canvas_created) {
                setactive();
                return -1;
            }
        }
        // 5. PostScript documents are not shown on the PostScript canvas yet.
        if (current_image != nullptr && current_display == ps_display)
            close_ps(1, 0);

        // 6-7. A new record and view state, and the format's loader.
        ImageRec *image = init_image(name, path, size, row, buffer);
        if (compressed)
            image->compression = COMP_UNIX;
        ViewState *state = init_state(row->type);
        int rc = row->load != nullptr ? row->load(image) : -1;

        if (rc == -1 && index != -1 && !retried) {
            // 8. The chosen format failed: the content may say otherwise.
            int c2 = 0;
            FormatEntry *detected = str_to_ftype(type_file(path, &c2, buffer, length).c_str());
            if (detected != nullptr && detected != row) {
                destroy_image(image);
                std::free(state);
                failed_row = row;
                retried = true;
                index = detected->type;
                continue;
            }
            refuse(catmsg(1, 129, "Error opening file as a %s."), row->display_name,
                   catmsg(1, 130, "Continue"), catmsg(1, 405, "Lumora - Open As"),
                   "LumorOpenAsDialog");
        } else if (rc == -1) {
            // 9.
            refuse(catmsg(1, 131, "Error opening %s."), path, catmsg(1, 132, "Continue"),
                   catmsg(1, 406, "Lumora - Open"), "LumorOpenDialog");
        }
        if (rc != 0) {
            // 10. The previous document stays.
            destroy_image(image);
            std::free(state);
            if (current_image == nullptr && ps_display != nullptr && ps_display->canvas != nullptr)
                current_display = ps_display;
            if (current_display == image_display && base != nullptr && base->canvas != nullptr &&
                XtIsRealized(base->canvas))
                XRaiseWindow(XtDisplay(base->canvas), XtWindow(base->canvas));
            setactive();
            return -2;
        }

        // 11. A retry that worked says what happened.
        if (retried && failed_row != nullptr) {
            char text[1024];
            std::snprintf(text, sizeof text,
                          catmsg(1, 133, "Error opening file as a %s.\nOpening file as a %s."),
                          failed_row->display_name, row->display_name);
            refuse("%s", text, catmsg(1, 134, "Continue"), catmsg(1, 407, "Lumora - Open As"),
                   "LumorOpenAsDialog");
        }

        // 12. The new record becomes current.
        ImageRec *previous = current_image;
        DisplayRec *previous_display = current_display;
        set_tool_options(previous, image);
        current_image = image;
        bool first_image = previous == nullptr;
        set_current_display();

        // 13. The conversion for the canvas, then the first view.
        if (assign_display_func(image, image_display->depth) != 0) {
            refuse(catmsg(1, 131, "Error opening %s."), path, catmsg(1, 132, "Continue"),
                   catmsg(1, 406, "Lumora - Open"), "LumorOpenDialog");
            current_image = previous;
            current_display = previous_display;
            destroy_image(image);
            std::free(state);
            if (previous != nullptr)
                set_tool_options(nullptr, previous);
            setactive();
            return -1;
        }
        if (!first_image)
            destroy_image(previous);
        std::free(current_state);
        current_state = state;
        if (image->revert_func != nullptr)
            image->revert_func(image->orig_image);
        if (base != nullptr && base->canvas != nullptr)
            XtVaSetValues(base->scrolled_window, XmNworkWindow, base->canvas, nullptr);

        // 14-16. Canvas, frame and the first paint.
        check_canvas(image->width, image->height, current_display);
        fit_frame_to_image(image);
        resize_canvas();
        CanvasRepaintCallback(nullptr, nullptr, nullptr);
        check_popups(first_image ? 1 : 0);
        setactive();
        return 0;
    }
}

int OpenAtStart(const char *path, int index)
{
    return open_newfile(path, path, index, nullptr, 0);
}

void check_popups(int)
{
    ImageRec *image = current_image;
    if (image == nullptr)
        return;
    update_imageinfo_if_showing(image);
    if (!is_postscript(image->type) && base != nullptr) {
        XtVaSetValues(base->page_scale, XmNvalue, 1, nullptr);
        XtSetSensitive(base->page_scale, False);
        char one[8];
        std::snprintf(one, sizeof one, "%-d", 1);
        SetFooter(base->page_number, one);
        XtSetSensitive(base->page_number, False);
    }
    saveas_document_changed(is_postscript(image->type));
    set_zoom_and_rotate();
    // The canvas's colormap first, then the shell's.
    if (app_shell != nullptr && current_display != nullptr && current_display->canvas != nullptr &&
        XtIsRealized(current_display->canvas)) {
        Window list[2] = {XtWindow(current_display->canvas), XtWindow(app_shell)};
        XSetWMColormapWindows(XtDisplay(app_shell), XtWindow(app_shell), list, 2);
    }
    if (prog->stdin_copy != nullptr) {
        unlink(prog->stdin_copy);
        std::free(prog->stdin_copy);
        prog->stdin_copy = nullptr;
    }
}
