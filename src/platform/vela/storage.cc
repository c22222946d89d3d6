/*
 * storage.cc - raw access to pixel memory: exporting an image to the
 * caller, describing its memory, handing it new memory and importing it
 * back.  The memory always stays where the image has it, so export and
 * import only mark the time the caller works on it.
 */
#include "image.h"

namespace {

using vela::report;

} // namespace

extern "C" {

int vela_export(VelaImage *img)
{
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "vela_export: no image");
        return 0;
    }
    img->exported = true;
    return 1;
}

int vela_get_memory_storage(VelaImage *img, VelaMemoryStorage *storage)
{
    if (!img || !storage) {
        report(img ? img->state : nullptr, VELA_ERROR_USER, "vela_get_memory_storage: no %s",
               img ? "storage record" : "image");
        return 0;
    }
    storage->data = img->data;
    storage->bytes_per_row = static_cast<int>(img->row_stride);
    storage->bytes_per_pixel = static_cast<int>(img->pixel_stride);
    storage->bit_offset = img->bit_offset;
    return 1;
}

int vela_set_memory_storage(VelaImage *img, const VelaMemoryStorage *storage)
{
    if (!img || !storage || !storage->data) {
        report(img ? img->state : nullptr, VELA_ERROR_USER, "vela_set_memory_storage: no %s",
               !img ? "image" : "memory");
        return 0;
    }
    if (img->is_child || img->block->refs > 1) {
        report(img->state, VELA_ERROR_USER, "vela_set_memory_storage: the image %s",
               img->is_child ? "is a child image" : "has child images");
        return 0;
    }
    // The new layout must hold the image: rows at least as long as the
    // pixels need, pixels at least as wide as the bands.
    int64_t min_row;
    bool ok;
    if (img->datatype == VELA_BIT) {
        ok = storage->bytes_per_pixel == 0 && storage->bit_offset >= 0 && storage->bit_offset < 8;
        min_row = (storage->bit_offset + static_cast<int64_t>(img->width) + 7) / 8;
    } else {
        ok = storage->bytes_per_pixel >= img->nbands && storage->bit_offset == 0;
        min_row = static_cast<int64_t>(img->width - 1) * storage->bytes_per_pixel + img->nbands;
    }
    if (!ok || storage->bytes_per_row < min_row) {
        report(img->state, VELA_ERROR_USER,
               "vela_set_memory_storage: layout (%d bytes a row, %d a pixel, bit %d) does not "
               "fit a %d x %d x %d image",
               storage->bytes_per_row, storage->bytes_per_pixel, storage->bit_offset, img->width,
               img->height, img->nbands);
        return 0;
    }
    vela::Block *block = vela::block_new(storage->data, false);
    if (!block) {
        report(img->state, VELA_ERROR_RESOURCE, "vela_set_memory_storage: out of memory");
        return 0;
    }
    vela::block_unref(img->block);
    img->block = block;
    img->data = storage->data;
    img->row_stride = storage->bytes_per_row;
    img->pixel_stride = storage->bytes_per_pixel;
    img->bit_offset = storage->bit_offset;
    return 1;
}

int vela_import(VelaImage *img, int changed)
{
    (void)changed; // nothing is cached from the pixels, so nothing to refresh
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "vela_import: no image");
        return 0;
    }
    img->exported = false;
    return 1;
}

int vela_is_exported(VelaImage *img)
{
    return img && img->exported ? 1 : 0;
}

} // extern "C"
