// jfif.cc - JPEG (JFIF) load and save through the imaging library's "Jpeg"
// sequence.  A load lets the library decode into an "rgb709" image, so the
// colours are converted once, while decoding.  A save converts to "ycc601",
// which is video range, and widens that to the full range JPEG holds.
#include "formats/jfif.h"

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/reader.h"
#include "formats/limits.h"
#include "formats/savefile.h"
#include "image/display.h"
#include "image/dither.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

// The whole JPEG file while the library decodes it; freed by
// jfif_done_with_data.
unsigned char *cis_data = nullptr;

// The two colour spaces, looked up once per library state.
struct Spaces {
    VelaState *state = nullptr;
    VelaColorSpace *ycc601 = nullptr;
    VelaColorSpace *rgb709 = nullptr;
};
Spaces spaces;

// Returns true with both colour spaces of state at hand.
bool get_spaces(VelaState *state)
{
    if (spaces.state != state || spaces.ycc601 == nullptr || spaces.rgb709 == nullptr) {
        spaces.state = state;
        spaces.ycc601 = vela_colorspace_get_by_name(state, "ycc601");
        spaces.rgb709 = vela_colorspace_get_by_name(state, "rgb709");
    }
    return spaces.ycc601 != nullptr && spaces.rgb709 != nullptr;
}

// Destroys the record's sequence, which hands back any buffer it holds.
// Nothing reads a sequence after its load or save, so none is kept.
void drop_sequence(ImageRec *image)
{
    if (image->cis != nullptr)
        vela_cis_destroy(image->cis);
    image->cis = nullptr;
}

// Returns the whole current input in a new malloc'd buffer of *length
// bytes (the caller owns it), or nullptr when it cannot be read whole or
// memory cannot hold it.
unsigned char *read_input(const ImageRec *image, size_t *length)
{
    int64_t expected = -1;
    struct stat st;
    if (image->data != nullptr)
        expected = image->file_size;
    else if (stat(image->realfile, &st) == 0 && S_ISREG(st.st_mode))
        expected = st.st_size;
    if (expected >= 0) {
        // The library takes at most INT_MAX bytes in one buffer.
        if (expected == 0 || expected > INT_MAX || !memory_can_hold(expected))
            return nullptr;
        auto *buf = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(expected)));
        if (buf == nullptr)
            return nullptr;
        if (im_fread(buf, 1, static_cast<size_t>(expected)) != static_cast<size_t>(expected)) {
            std::free(buf);
            return nullptr;
        }
        *length = static_cast<size_t>(expected);
        return buf;
    }
    // Not a plain file: read until the input ends.
    size_t cap = 1 << 16, n = 0;
    auto *buf = static_cast<unsigned char *>(std::malloc(cap));
    while (buf != nullptr) {
        n += im_fread(buf + n, 1, cap - n);
        if (n < cap)
            break;
        void *bigger = cap <= INT_MAX / 2 && memory_can_hold(static_cast<int64_t>(cap) * 2)
                           ? std::realloc(buf, cap * 2)
                           : nullptr;
        if (bigger == nullptr) {
            std::free(buf);
            return nullptr;
        }
        buf = static_cast<unsigned char *>(bigger);
        cap *= 2;
    }
    if (buf != nullptr && n == 0) {
        std::free(buf);
        return nullptr;
    }
    *length = n;
    return buf;
}

// Gives the record a 256-entry grey ramp colormap; false when memory ran out.
bool set_grey_ramp(ImageRec *image)
{
    std::free(image->red);
    std::free(image->green);
    std::free(image->blue);
    image->red = static_cast<unsigned char *>(std::malloc(256));
    image->green = static_cast<unsigned char *>(std::malloc(256));
    image->blue = static_cast<unsigned char *>(std::malloc(256));
    if (image->red == nullptr || image->green == nullptr || image->blue == nullptr)
        return false;
    for (int i = 0; i < 256; i++)
        image->red[i] = image->green[i] = image->blue[i] = static_cast<unsigned char>(i);
    image->ncolors = 256;
    return true;
}

// Decodes the queued file into the record.
bool decode(ImageRec *image, VelaState *state)
{
    VelaImageType *type = vela_cis_get_output_type(image->cis);
    if (type == nullptr)
        return false;
    int width = 0, height = 0, bands = 0, datatype = 0;
    vela_imagetype_get_info(type, &width, &height, &bands, &datatype);
    if (datatype != VELA_BYTE || (bands != 1 && bands != 3) || width <= 0 || height <= 0)
        return false;
    if (!memory_can_hold(static_cast<int64_t>(width) * height * bands))
        return false;
    image->width = width;
    image->height = height;
    image->depth = retrieve_depth(bands, datatype);
    int pixel_stride = 0, row_stride = 0;
    if (create_data(image, &pixel_stride, &row_stride) == nullptr)
        return false;
    reimport_image(image->orig_image, 0);
    image->bytes_per_line = row_stride;
    if (bands == 1)
        return vela_decompress(image->cis, image->orig_image) && set_grey_ramp(image);
    if (!get_spaces(state) || !vela_set_colorspace(image->orig_image, spaces.rgb709) ||
        !vela_decompress(image->cis, image->orig_image))
        return false;
    image->rgb_order = 0;
    return true;
}

// Writes the sequence's chunks: SOI, our APP0, then the stream unchanged.
bool write_chunks(FILE *fp, VelaCis *cis)
{
    bool started = false;
    while (vela_cis_has_data(cis) > 0) {
        int n = 0, frames = 0;
        auto *p = static_cast<const unsigned char *>(vela_cis_get_bits_ptr(cis, &n, &frames));
        if (p == nullptr || n <= 0)
            return false;
        size_t len = static_cast<size_t>(n);
        if (!started) {
            // The APP0 segment needs a stream that has begun.
            if (len <= 3)
                return false;
            int soi = write_soi_marker(fp, p, len);
            if (soi < 0 || write_jfif_header(fp) != 0)
                return false;
            p += soi;
            len -= static_cast<size_t>(soi);
            started = true;
        }
        if (len > 0 && std::fwrite(p, 1, len, fp) != len)
            return false;
    }
    return started;
}

// Compresses src as full-range Y, Cb, Cr (or grey) into the record's
// sequence and writes it to fp.
bool encode(ImageRec *image, VelaImage *src, FILE *fp)
{
    VelaState *state = vela_get_state(src);
    int width = 0, height = 0, bands = 0, datatype = 0;
    vela_get_info(src, &width, &height, &bands, &datatype);
    drop_sequence(image);
    image->cis = vela_cis_create(state, "Jpeg");
    if (image->cis == nullptr || !get_spaces(state))
        return false;
    VelaImage *work = vela_create(state, width, height, bands, datatype);
    if (work == nullptr)
        return false;
    bool ok = vela_set_colorspace(src, spaces.rgb709) && vela_set_colorspace(work, spaces.ycc601) &&
              vela_color_convert(src, work);
    if (ok && bands == 3)
        ok = vela_rescale(work, work, JFIF_SAVE_SCALE, JFIF_SAVE_OFFSET);
    ok = ok && vela_compress(work, image->cis) && write_chunks(fp, image->cis);
    vela_destroy(work);
    return ok;
}

} // namespace

void jfif_done_with_data(void *data)
{
    if (data == cis_data)
        cis_data = nullptr;
    std::free(data);
}

int write_soi_marker(FILE *file, const unsigned char *data, size_t length)
{
    if (length <= 2 || data[0] != 0xff || data[1] != 0xd8)
        return 0;
    return std::fwrite(data, 1, 2, file) == 2 ? 2 : -1;
}

int write_jfif_header(FILE *file)
{
    return std::fwrite(JFIF_APP0, 1, sizeof JFIF_APP0, file) == sizeof JFIF_APP0 ? 0 : -1;
}

int jfif_load(ImageRec *image)
{
    image->compression = COMP_NONE;
    VelaState *state = image_display != nullptr ? image_display->state : nullptr;
    if (state == nullptr ||
        openfile(image->file, image->realfile, 0, image->data, image->file_size) != 0)
        return -1;
    drop_sequence(image);
    image->cis = vela_cis_create(state, "Jpeg");
    std::free(cis_data);
    size_t length = 0;
    cis_data = read_input(image, &length);
    closefile();
    bool ok = image->cis != nullptr && cis_data != nullptr;
    if (ok && !vela_cis_put_bits_ptr(image->cis, static_cast<int>(length), 1, cis_data,
                                     jfif_done_with_data)) {
        std::free(cis_data);
        cis_data = nullptr;
        ok = false;
    }
    ok = ok && decode(image, state);
    drop_sequence(image);
    return ok ? 0 : -1;
}

int jfif_save(ImageRec *image)
{
    VelaImage *src = image->orig_image;
    if (src == nullptr || vela_get_datatype(src) != VELA_BYTE)
        return -1;
    SafeFile out(image->file);
    if (!out.ok())
        return -1;
    if (image->rgb_order && image->depth > 8 && vela_get_nbands(src) == 3) {
        int pixel_stride = 0, row_stride = 0;
        unsigned char *data = retrieve_data(src, &pixel_stride, &row_stride);
        if (data == nullptr)
            return -1;
        image->width = vela_get_width(src);
        image->height = vela_get_height(src);
        swap_red_blue(image, data, pixel_stride, row_stride);
        reimport_image(src, 1);
    }
    bool ok = encode(image, src, out.fp());
    drop_sequence(image);
    if (!ok || !out.commit())
        return -1;
    return 0;
}
