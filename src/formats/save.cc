// save.cc - the save flow.
#include "formats/save.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "app/corvat.h"
#include "app/menus.h"
#include "app/msg.h"
#include "app/ui_corvat.h"
#include "image/display.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

// Returns the image converted for a file of the given depth: the display
// function chosen with the output-conversion flag, applied to source.  The
// new record gets the image's description and its colormap.
bool convert_for_file(ImageRec *current, ImageRec *target, int depth, VelaImage *source)
{
    current->output_conversion = 1;
    int rc = assign_display_func(current, depth);
    current->output_conversion = 0;
    if (rc != 0 || current->display_func == nullptr)
        return false;
    target->orig_image = current->display_func(source);
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
    int ps = 0, rs = 0;
    if (retrieve_data(target->orig_image, &ps, &rs) == nullptr)
        return false;
    target->bytes_per_line = rs;
    reimport_image(target->orig_image, 0);
    if (current->offset_added) {
        // The file holds the pixels' own values, not the screen's.
        float scale[3] = {1, 1, 1};
        float offset[3] = {static_cast<float>(-current->offset), static_cast<float>(-current->offset),
                           static_cast<float>(-current->offset)};
        vela_rescale(target->orig_image, target->orig_image, scale, offset);
        current->offset_added = 0;
    }
    return true;
}

} // namespace

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
    int source_depth = current->depth > 24 ? 24 : current->depth;
    int depth = source_depth;
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
    bool ok = convert_for_file(current, target, depth, current->orig_image) &&
              row->save != nullptr && row->save(target) == 0;
    destroy_image(target);
    destroy_image(current);
    current_image = nullptr;
    return ok ? 1 : 0;
}

// The Save As dialog does not exist yet, so there is nothing to retitle.
void retitle_save_as_for_selection(int) {}

void SaveCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("Saving");
}

void SaveAsCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("Saving");
}

void saveas_document_changed(int) {}
