/*
 * jpeg.cc - the "Jpeg" compressed image sequence on libjpeg-turbo: a queue
 * of JPEG streams, decompressed into 1-band grey, 3-band full-range Y, Cb,
 * Cr or (for "rgb709" destinations) blue-green-red images, and grey or
 * Y, Cb, Cr images compressed into new streams.
 *
 * libjpeg reports fatal errors through a callback that must not return; it
 * jumps back to the setjmp of the function that drives the codec, so those
 * functions keep everything they must free in variables that are set
 * before the jump point or declared volatile.
 */
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "colour.h"
#include "image.h"

namespace {

using vela::PodVec;
using vela::report;

constexpr int kQuality = 90;   // libjpeg quality of the frames we write
constexpr int kMaxScans = 100; // progressive scans a frame may have
// Images at least this large have their memory faulted in at once before
// decoding: one fault per page costs far more than the decoding of it.
constexpr size_t kPrefaultBytes = size_t{8} << 20;

// One buffer of the queue: bytes given by the caller or written by us.
struct Buffer {
    unsigned char *bytes;
    size_t nbytes;
    size_t pos;                  // start of the next frame
    int frames;                  // frames not yet decompressed
    VelaDataReleaseFunc release; // the caller's, for its own bytes
    bool owned;                  // malloc'd by the library
};

void release_buffer(const Buffer &b)
{
    if (b.owned)
        std::free(b.bytes);
    else if (b.release)
        b.release(b.bytes);
}

// libjpeg's error record with the way back to the driving function.
struct ErrorMgr {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void on_error(j_common_ptr c)
{
    auto *e = reinterpret_cast<ErrorMgr *>(c->err);
    (*c->err->format_message)(c, e->message);
    std::longjmp(e->jump, 1);
}

// Warnings (corrupt entropy data and the like) are not fatal: libjpeg
// decodes what it can, as other readers do.
void on_message(j_common_ptr c, int level)
{
    if (level < 0)
        ++c->err->num_warnings;
}

void init_errors(ErrorMgr *e)
{
    jpeg_std_error(&e->pub);
    e->pub.error_exit = on_error;
    e->pub.emit_message = on_message;
    e->message[0] = '\0';
}

// A memory source that fails when the data ends instead of inventing an
// end of image: a frame is decoded from its own bytes or not at all.
void src_init(j_decompress_ptr) {}
boolean src_fill(j_decompress_ptr d)
{
    ERREXIT(d, JERR_INPUT_EOF);
    return FALSE;
}
void src_skip(j_decompress_ptr d, long n)
{
    if (n <= 0)
        return;
    if (static_cast<unsigned long>(n) > d->src->bytes_in_buffer)
        ERREXIT(d, JERR_INPUT_EOF);
    d->src->next_input_byte += n;
    d->src->bytes_in_buffer -= static_cast<size_t>(n);
}
void src_term(j_decompress_ptr) {}

// Stops frames whose scans would make decoding take unbounded time.
void on_progress(j_common_ptr c)
{
    auto *d = reinterpret_cast<j_decompress_ptr>(c);
    if (d->input_scan_number > kMaxScans) {
        auto *e = reinterpret_cast<ErrorMgr *>(c->err);
        std::snprintf(e->message, sizeof e->message, "more than %d scans", kMaxScans);
        std::longjmp(e->jump, 1);
    }
}

// A destination that grows a malloc'd buffer.
struct Dest {
    jpeg_destination_mgr pub;
    unsigned char *buf; // owned until handed to the queue
    size_t cap;         // bytes allocated
};

void dest_init(j_compress_ptr c)
{
    auto *d = reinterpret_cast<Dest *>(c->dest);
    d->pub.next_output_byte = d->buf;
    d->pub.free_in_buffer = d->cap;
}
boolean dest_grow(j_compress_ptr c)
{
    auto *d = reinterpret_cast<Dest *>(c->dest);
    size_t cap = d->cap * 2;
    auto *p = cap > d->cap ? static_cast<unsigned char *>(std::realloc(d->buf, cap)) : nullptr;
    if (!p)
        ERREXIT1(c, JERR_OUT_OF_MEMORY, 1);
    d->buf = p;
    d->pub.next_output_byte = p + d->cap;
    d->pub.free_in_buffer = cap - d->cap;
    d->cap = cap;
    return TRUE;
}
void dest_term(j_compress_ptr) {}

// Faults in the pixel memory of a large image in one go, in huge pages
// where the system has them.  Only advice: failures change nothing.
void prefault(const VelaImage *img)
{
    const size_t bytes = static_cast<size_t>(img->height - 1) * img->row_stride +
                         static_cast<size_t>(img->width) * img->pixel_stride;
    const long page = sysconf(_SC_PAGESIZE);
    if (bytes < kPrefaultBytes || page <= 0)
        return;
    const uintptr_t mask = static_cast<uintptr_t>(page) - 1;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(img->data) + mask) & ~mask;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(img->data) + bytes) & ~mask;
    if (start >= end)
        return;
    void *p = reinterpret_cast<void *>(start);
    madvise(p, end - start, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
    madvise(p, end - start, MADV_POPULATE_WRITE);
#endif
}

// How a frame's colours reach full-range Y, Cb, Cr, or (bgr) blue, green,
// red.
enum class Colours { grey, ycc, rgb, cmyk, bgr };

inline unsigned char clamp_byte(int v)
{
    return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Writes one pixel of full-range Y, Cb, Cr from red, green, blue (JFIF's
// equations, 16-bit fixed point).
inline void rgb_to_ycc(int r, int g, int b, unsigned char *out)
{
    out[0] = clamp_byte((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
    out[1] = clamp_byte(((-11059 * r - 21709 * g + 32768 * b + 32768) >> 16) + 128);
    out[2] = clamp_byte(((32768 * r - 27439 * g - 5329 * b + 32768) >> 16) + 128);
}

// Converts one decoded row of w pixels into the destination's row; bgr
// says the destination takes blue, green, red.
void convert_row(Colours colours, bool bgr, const unsigned char *in, int w, unsigned char *out,
                 ptrdiff_t ps)
{
    for (int x = 0; x < w; ++x, out += ps) {
        switch (colours) {
        case Colours::grey: out[0] = in[x]; break;
        case Colours::ycc:
        case Colours::bgr: std::memcpy(out, in + 3 * x, 3); break;
        case Colours::rgb: rgb_to_ycc(in[3 * x], in[3 * x + 1], in[3 * x + 2], out); break;
        case Colours::cmyk: {
            // Adobe's streams store CMYK inverted: 255 is no ink.
            const unsigned char *p = in + 4 * x;
            const int k = p[3];
            const int r = (p[0] * k + 127) / 255, g = (p[1] * k + 127) / 255,
                      b = (p[2] * k + 127) / 255;
            if (bgr) {
                out[0] = static_cast<unsigned char>(b);
                out[1] = static_cast<unsigned char>(g);
                out[2] = static_cast<unsigned char>(r);
            } else {
                rgb_to_ycc(r, g, b, out);
            }
            break;
        }
        }
    }
}

} // namespace

struct VelaImageType {
    int width, height; // pixels
    int nbands;        // 1 or 3
    int datatype;      // VELA_BYTE
};

struct VelaCis {
    VelaState *state;
    PodVec<Buffer> queue; // buffers from head on are queued
    size_t head;
    VelaImageType type;   // of the front frame, when type_known
    bool type_known;
    Buffer taken;         // handed out by vela_cis_get_bits_ptr
    bool has_taken;
};

namespace {

// Removes the front buffer from the queue (releasing it when release).
void pop_front(VelaCis *cis, bool release)
{
    if (release)
        release_buffer(cis->queue[cis->head]);
    if (++cis->head == cis->queue.size()) {
        cis->queue.clear();
        cis->head = 0;
    }
    cis->type_known = false;
}

// Reads the header of the frame in the n bytes at p and, with dst, decodes
// it into dst (as blue, green, red when bgr).  Fills *type; *consumed gets
// the frame's length.  Returns 1, or 0 after reporting.
int run_decoder(VelaCis *cis, const unsigned char *p, size_t n, VelaImage *dst, bool bgr,
                VelaImageType *type, size_t *consumed)
{
    const char *who = dst ? "vela_decompress" : "vela_cis_get_output_type";
    jpeg_decompress_struct d;
    ErrorMgr err;
    jpeg_source_mgr src;
    jpeg_progress_mgr progress;
    unsigned char *volatile row = nullptr;
    init_errors(&err);
    d.err = &err.pub;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        std::free(row);
        report(cis->state, VELA_ERROR_CIS_DATA, "%s: %s", who, err.message);
        return 0;
    }
    jpeg_create_decompress(&d);
    src.init_source = src_init;
    src.fill_input_buffer = src_fill;
    src.skip_input_data = src_skip;
    src.resync_to_restart = jpeg_resync_to_restart;
    src.term_source = src_term;
    src.next_input_byte = p;
    src.bytes_in_buffer = n;
    d.src = &src;
    progress.progress_monitor = on_progress;
    d.progress = &progress;
    jpeg_read_header(&d, TRUE);

    Colours colours;
    J_COLOR_SPACE out;
    switch (d.jpeg_color_space) {
    case JCS_GRAYSCALE: colours = Colours::grey, out = JCS_GRAYSCALE; break;
    case JCS_YCbCr: colours = Colours::ycc, out = JCS_YCbCr; break;
    case JCS_RGB: colours = Colours::rgb, out = JCS_RGB; break;
    case JCS_CMYK:
    case JCS_YCCK: colours = Colours::cmyk, out = JCS_CMYK; break;
    default:
        std::snprintf(err.message, sizeof err.message, "%d colour components of unknown kind",
                      d.num_components);
        std::longjmp(err.jump, 1);
    }
    // Every block of a component costs at least two bits in a sequential
    // Huffman scan and one in a progressive or arithmetic-coded one, so a
    // frame whose bytes are fewer than its picture needs is refused before
    // anyone allocates the picture.
    uint64_t blocks = 0;
    for (int i = 0; i < d.num_components; ++i) {
        const jpeg_component_info &c = d.comp_info[i];
        const uint64_t b = static_cast<uint64_t>(c.width_in_blocks) * c.height_in_blocks;
        blocks = b > blocks ? b : blocks;
    }
    const uint64_t bits = blocks * (d.progressive_mode || d.arith_code ? 1 : 2);
    if (static_cast<uint64_t>(n) * 8 < bits || d.image_width > static_cast<unsigned>(vela::kMaxSide) ||
        d.image_height > static_cast<unsigned>(vela::kMaxSide)) {
        std::snprintf(err.message, sizeof err.message,
                      "a %u x %u picture cannot be held in %zu bytes", d.image_width,
                      d.image_height, n);
        std::longjmp(err.jump, 1);
    }
    type->width = static_cast<int>(d.image_width);
    type->height = static_cast<int>(d.image_height);
    type->nbands = colours == Colours::grey ? 1 : 3;
    type->datatype = VELA_BYTE;
    if (!dst) {
        jpeg_destroy_decompress(&d);
        return 1;
    }

    if (bgr && (colours == Colours::ycc || colours == Colours::rgb)) {
        colours = Colours::bgr;
        out = JCS_EXT_BGR;
    }
    d.out_color_space = out;
    d.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&d);
    if (static_cast<int>(d.output_width) != dst->width ||
        static_cast<int>(d.output_height) != dst->height) {
        std::snprintf(err.message, sizeof err.message, "the frame's size changed");
        std::longjmp(err.jump, 1);
    }
    const int w = dst->width;
    const bool direct = (colours == Colours::grey || colours == Colours::ycc ||
                         colours == Colours::bgr) &&
                        dst->pixel_stride == type->nbands;
    if (direct) {
        prefault(dst);
        while (d.output_scanline < d.output_height) {
            JSAMPROW rows[16];
            JDIMENSION k = d.output_height - d.output_scanline;
            k = k < 16 ? k : 16;
            for (JDIMENSION i = 0; i < k; ++i)
                rows[i] = dst->data + static_cast<ptrdiff_t>(d.output_scanline + i) * dst->row_stride;
            jpeg_read_scanlines(&d, rows, k);
        }
    } else {
        row = static_cast<unsigned char *>(
            std::malloc(static_cast<size_t>(w) * static_cast<size_t>(d.output_components)));
        if (!row)
            ERREXIT1(&d, JERR_OUT_OF_MEMORY, 2);
        while (d.output_scanline < d.output_height) {
            const JDIMENSION y = d.output_scanline;
            JSAMPROW rows[1] = {row};
            if (jpeg_read_scanlines(&d, rows, 1) != 1)
                continue;
            convert_row(colours, bgr, row, w, dst->data + static_cast<ptrdiff_t>(y) * dst->row_stride,
                        dst->pixel_stride);
        }
    }
    jpeg_finish_decompress(&d);
    *consumed = n - src.bytes_in_buffer;
    jpeg_destroy_decompress(&d);
    std::free(row);
    return 1;
}

// Compresses src into a new malloc'd stream.  Returns 1 with *out and
// *size set, or 0 after reporting.
int run_encoder(VelaImage *src, unsigned char **out, size_t *size)
{
    jpeg_compress_struct c;
    ErrorMgr err;
    Dest dest;
    unsigned char *volatile row = nullptr;
    const int nb = src->nbands, w = src->width;
    dest.cap = static_cast<size_t>(w) * src->height * nb / 8 + 4096;
    dest.buf = static_cast<unsigned char *>(std::malloc(dest.cap));
    if (!dest.buf) {
        report(src->state, VELA_ERROR_RESOURCE, "vela_compress: out of memory");
        return 0;
    }
    init_errors(&err);
    c.err = &err.pub;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        std::free(dest.buf);
        std::free(row);
        report(src->state, VELA_ERROR_CIS_DATA, "vela_compress: %s", err.message);
        return 0;
    }
    jpeg_create_compress(&c);
    dest.pub.init_destination = dest_init;
    dest.pub.empty_output_buffer = dest_grow;
    dest.pub.term_destination = dest_term;
    c.dest = &dest.pub;
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(src->height);
    c.input_components = nb;
    c.in_color_space = nb == 3 ? JCS_YCbCr : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kQuality, TRUE);
    c.write_JFIF_header = FALSE;
    c.write_Adobe_marker = FALSE;
    c.optimize_coding = TRUE;
    c.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&c, TRUE);
    const bool direct = src->pixel_stride == nb;
    if (!direct) {
        row = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(w) * nb));
        if (!row)
            ERREXIT1(&c, JERR_OUT_OF_MEMORY, 3);
    }
    while (c.next_scanline < c.image_height) {
        unsigned char *line = src->data + static_cast<ptrdiff_t>(c.next_scanline) * src->row_stride;
        if (!direct) {
            for (int x = 0; x < w; ++x)
                std::memcpy(row + x * nb, line + x * src->pixel_stride, static_cast<size_t>(nb));
            line = row;
        }
        JSAMPROW rows[1] = {line};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    *out = dest.buf;
    *size = dest.cap - dest.pub.free_in_buffer;
    jpeg_destroy_compress(&c);
    std::free(row);
    return 1;
}

} // namespace

extern "C" {

VelaCis *vela_cis_create(VelaState *state, const char *compressor)
{
    if (!state || !compressor) {
        report(state, VELA_ERROR_USER, "vela_cis_create: no %s", state ? "compressor" : "state");
        return nullptr;
    }
    if (std::strcmp(compressor, "Jpeg") != 0) {
        report(state, VELA_ERROR_USER, "vela_cis_create: no compressor \"%s\"", compressor);
        return nullptr;
    }
    auto *cis = new (std::nothrow) VelaCis;
    if (!cis) {
        report(state, VELA_ERROR_RESOURCE, "vela_cis_create: out of memory");
        return nullptr;
    }
    cis->state = state;
    cis->head = 0;
    cis->type = VelaImageType{0, 0, 0, VELA_BYTE};
    cis->type_known = false;
    cis->has_taken = false;
    return cis;
}

void vela_cis_destroy(VelaCis *cis)
{
    if (!cis)
        return;
    if (cis->has_taken)
        release_buffer(cis->taken);
    for (size_t i = cis->head; i < cis->queue.size(); ++i)
        release_buffer(cis->queue[i]);
    delete cis;
}

int vela_cis_put_bits_ptr(VelaCis *cis, int nbytes, int nframes, void *bits,
                          VelaDataReleaseFunc release)
{
    if (!cis || !bits || nbytes <= 0 || nframes <= 0) {
        report(cis ? cis->state : nullptr, VELA_ERROR_USER,
               "vela_cis_put_bits_ptr: no sequence, bytes or frames");
        return 0;
    }
    const Buffer b{static_cast<unsigned char *>(bits), static_cast<size_t>(nbytes), 0, nframes,
                   release, false};
    if (!cis->queue.push(b)) {
        report(cis->state, VELA_ERROR_RESOURCE, "vela_cis_put_bits_ptr: out of memory");
        return 0;
    }
    return 1;
}

void *vela_cis_get_bits_ptr(VelaCis *cis, int *nbytes, int *nframes)
{
    if (!cis) {
        report(nullptr, VELA_ERROR_USER, "vela_cis_get_bits_ptr: no sequence");
        return nullptr;
    }
    if (cis->has_taken) {
        release_buffer(cis->taken);
        cis->has_taken = false;
    }
    if (cis->head == cis->queue.size()) {
        if (nbytes)
            *nbytes = 0;
        if (nframes)
            *nframes = 0;
        return nullptr;
    }
    cis->taken = cis->queue[cis->head];
    cis->has_taken = true;
    pop_front(cis, false);
    // Buffers are at most INT_MAX bytes: put takes an int, and our own
    // frames are refused larger below.
    if (nbytes)
        *nbytes = static_cast<int>(cis->taken.nbytes - cis->taken.pos);
    if (nframes)
        *nframes = cis->taken.frames;
    return cis->taken.bytes + cis->taken.pos;
}

int vela_cis_has_data(VelaCis *cis)
{
    if (!cis)
        return -1;
    size_t total = 0;
    for (size_t i = cis->head; i < cis->queue.size(); ++i)
        total += cis->queue[i].nbytes - cis->queue[i].pos;
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

VelaImageType *vela_cis_get_output_type(VelaCis *cis)
{
    if (!cis) {
        report(nullptr, VELA_ERROR_USER, "vela_cis_get_output_type: no sequence");
        return nullptr;
    }
    if (cis->head == cis->queue.size()) {
        report(cis->state, VELA_ERROR_USER, "vela_cis_get_output_type: no frame queued");
        return nullptr;
    }
    if (!cis->type_known) {
        const Buffer &b = cis->queue[cis->head];
        size_t consumed = 0;
        if (!run_decoder(cis, b.bytes + b.pos, b.nbytes - b.pos, nullptr, false, &cis->type,
                         &consumed))
            return nullptr;
        cis->type_known = true;
    }
    return &cis->type;
}

void vela_imagetype_get_info(VelaImageType *type, int *width, int *height, int *nbands,
                             int *datatype)
{
    if (!type) {
        report(nullptr, VELA_ERROR_USER, "vela_imagetype_get_info: no image type");
        return;
    }
    if (width)
        *width = type->width;
    if (height)
        *height = type->height;
    if (nbands)
        *nbands = type->nbands;
    if (datatype)
        *datatype = type->datatype;
}

int vela_decompress(VelaCis *cis, VelaImage *dst)
{
    if (!cis || !dst) {
        report(cis ? cis->state : nullptr, VELA_ERROR_USER, "vela_decompress: no %s",
               cis ? "image" : "sequence");
        return 0;
    }
    const VelaImageType *type = vela_cis_get_output_type(cis);
    if (!type) {
        // A frame whose header cannot be read cannot be skipped either:
        // its buffer goes.
        if (cis->head < cis->queue.size())
            pop_front(cis, true);
        return 0;
    }
    if (dst->width != type->width || dst->height != type->height ||
        dst->nbands != type->nbands || dst->datatype != type->datatype) {
        report(cis->state, VELA_ERROR_USER,
               "vela_decompress: a %d x %d x %d image cannot take a %d x %d x %d frame",
               dst->width, dst->height, dst->nbands, type->width, type->height, type->nbands);
        return 0;
    }
    const VelaColorSpace *space = vela_get_colorspace(dst);
    const bool bgr = dst->nbands == 3 && space && space->kind == vela::SpaceKind::rgb_709;
    VelaImageType seen;
    Buffer &b = cis->queue[cis->head];
    size_t consumed = 0;
    const int ok =
        run_decoder(cis, b.bytes + b.pos, b.nbytes - b.pos, dst, bgr, &seen, &consumed);
    b.pos += consumed;
    if (!ok || --b.frames == 0 || b.pos >= b.nbytes)
        pop_front(cis, true);
    else
        cis->type_known = false;
    return ok;
}

int vela_compress(VelaImage *src, VelaCis *cis)
{
    if (!src || !cis) {
        report(src ? src->state : cis ? cis->state : nullptr, VELA_ERROR_USER,
               "vela_compress: no %s", src ? "sequence" : "image");
        return 0;
    }
    if (src->datatype != VELA_BYTE) {
        report(cis->state, VELA_ERROR_USER, "vela_compress: only byte images can be compressed");
        return 0;
    }
    unsigned char *bytes = nullptr;
    size_t size = 0;
    if (!run_encoder(src, &bytes, &size))
        return 0;
    if (size > INT_MAX) {
        std::free(bytes);
        report(cis->state, VELA_ERROR_RESOURCE, "vela_compress: the frame is too large");
        return 0;
    }
    const Buffer b{bytes, size, 0, 1, nullptr, true};
    if (!cis->queue.push(b)) {
        std::free(bytes);
        report(cis->state, VELA_ERROR_RESOURCE, "vela_compress: out of memory");
        return 0;
    }
    return 1;
}

} // extern "C"
