// photocd.cc - Kodak Photo CD loading through the imaging library's
// "ioQRVXPhotoCD" device.
#include "formats/photocd.h"

#include "app/reader.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

// Radians of the counter-clockwise turn for each stored rotation.
constexpr float kTurns[4] = {0.0f, 1.5708f, 3.14159f, 4.712389f};

// Returns the device's picture turned upright (a new image; the device is
// destroyed), the device itself for rotation 0, or nullptr (device
// destroyed) on failure.
VelaImage *upright(VelaState *state, VelaImage *device, int rotation)
{
    if (rotation == 0)
        return device;
    int w = vela_get_width(device), h = vela_get_height(device);
    bool across = rotation != 2;
    int rw = across ? h : w, rh = across ? w : h;
    VelaImage *turned = vela_create(state, rw, rh, 3, VELA_BYTE);
    bool ok = turned != nullptr && vela_set_origin(device, w * 0.5f, h * 0.5f) &&
              vela_set_origin(turned, rw * 0.5f, rh * 0.5f) &&
              vela_rotate(device, turned, "nearest", kTurns[rotation]);
    vela_destroy(device);
    if (!ok && turned != nullptr) {
        vela_destroy(turned);
        turned = nullptr;
    }
    return turned;
}

} // namespace

int photocd_load(ImageRec *image)
{
    VelaState *state = image_display != nullptr ? image_display->state : nullptr;
    int resolution = image->type != nullptr ? image->type->type - FMT_PCD16 : 2;
    if (state == nullptr || resolution < 0 || resolution > 3)
        return -1;
    const char *path = file_to_open(image->file, image->realfile, image->compression == COMP_UNIX,
                                    image->data, image->file_size);
    if (path == nullptr)
        return -1;
    VelaImage *device = vela_create_from_device(state, "ioQRVXPhotoCD", nullptr);
    if (device == nullptr)
        return -1;
    int rotation = 0;
    if (!vela_set_device_attribute(device, "FILEPATH", path) ||
        !vela_set_device_attribute(device, "RESOLUTION", &resolution) ||
        !vela_get_device_attribute(device, "ROTATION", &rotation) || rotation < 0 ||
        rotation > 3) {
        vela_destroy(device);
        return -1;
    }
    VelaImage *src = upright(state, device, rotation);
    if (src == nullptr)
        return -1;
    int width = vela_get_width(src), height = vela_get_height(src);
    VelaImage *dst = vela_create(state, width, height, 3, VELA_BYTE);
    VelaColorSpace *photoycc = vela_colorspace_get_by_name(state, "photoycc");
    VelaColorSpace *rgb709 = vela_colorspace_get_by_name(state, "rgb709");
    bool ok = dst != nullptr && photoycc != nullptr && rgb709 != nullptr &&
              vela_set_origin(src, 0.0f, 0.0f) && vela_set_colorspace(src, photoycc) &&
              vela_set_colorspace(dst, rgb709) && vela_color_convert(src, dst);
    vela_destroy(src);
    if (!ok) {
        if (dst != nullptr)
            vela_destroy(dst);
        return -1;
    }
    if (image->orig_image != nullptr)
        vela_destroy(image->orig_image);
    image->orig_image = dst;
    image->depth = 24;
    image->bands = 3;
    image->datatype = VELA_BYTE;
    image->width = width;
    image->height = height;
    image->rgb_order = 0;
    VelaMemoryStorage s;
    if (vela_get_memory_storage(dst, &s))
        image->bytes_per_line = s.bytes_per_row;
    return 0;
}
