// gifcompr.cc - the GIF encoder's LZW compressor: an open-addressing hash
// of (prefix code, pixel) pairs, variable-width codes packed low bits
// first, and data blocks of 254 bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "formats/gif.h"

namespace {

constexpr int maxbits = 12;             // widest code, bits
constexpr int maxmaxcode = 1 << maxbits; // codes available
constexpr int hsize = 5003;             // hash slots, about 80 % full at most

// Compressor state: one file at a time.
struct GifCompressor {
    int n_bits;                 // current code width, bits
    int maxcode;                // largest code at that width
    int free_ent;               // next free code
    int ClearCode, EOFCode;
    int g_init_bits;            // code width after a clear, bits
    bool clear_flg;             // a clear code was just sent
    int32_t htab[hsize];        // key (pixel << maxbits) + prefix, -1 empty
    uint16_t codetab[hsize];    // the code of each key
    uint32_t cur_accum;         // bits not yet written, low first
    int cur_bits;               // bits held in cur_accum
    unsigned char accum[256];   // current data block
    int a_count;                // bytes held in accum
    FILE *g_outfile;
    bool write_failed;
};

GifCompressor gc;

const uint32_t masks[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F,
                            0x007F, 0x00FF, 0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF,
                            0x3FFF, 0x7FFF, 0xFFFF};

// Remembers that writing failed; the compressor reports it at the end.
void writeerr()
{
    gc.write_failed = true;
}

// Empties the block buffer.
void char_init()
{
    gc.a_count = 0;
}

// Writes the block buffer as one data block (nothing when empty).
void flush_char()
{
    if (gc.a_count == 0)
        return;
    if (std::fputc(gc.a_count, gc.g_outfile) == EOF ||
        std::fwrite(gc.accum, 1, static_cast<size_t>(gc.a_count), gc.g_outfile) !=
            static_cast<size_t>(gc.a_count))
        writeerr();
    gc.a_count = 0;
}

// Adds a byte to the block buffer, writing the block once it holds 254.
inline void char_out(int c)
{
    gc.accum[gc.a_count++] = static_cast<unsigned char>(c);
    if (gc.a_count >= 254)
        flush_char();
}

// Packs one code at the current width and widens the codes once the next
// free code no longer fits (back to the first width after a clear).  The
// end code also flushes the last bits, the block and the stream.
void output(int code)
{
    gc.cur_accum &= masks[gc.cur_bits];
    gc.cur_accum |= static_cast<uint32_t>(code) << gc.cur_bits;
    gc.cur_bits += gc.n_bits;
    while (gc.cur_bits >= 8) {
        char_out(static_cast<int>(gc.cur_accum & 0xff));
        gc.cur_accum >>= 8;
        gc.cur_bits -= 8;
    }
    if (gc.free_ent > gc.maxcode || gc.clear_flg) {
        if (gc.clear_flg) {
            gc.n_bits = gc.g_init_bits;
            gc.maxcode = (1 << gc.n_bits) - 1;
            gc.clear_flg = false;
        } else {
            ++gc.n_bits;
            gc.maxcode = gc.n_bits == maxbits ? maxmaxcode : (1 << gc.n_bits) - 1;
        }
    }
    if (code == gc.EOFCode) {
        while (gc.cur_bits > 0) {
            char_out(static_cast<int>(gc.cur_accum & 0xff));
            gc.cur_accum >>= 8;
            gc.cur_bits -= 8;
        }
        flush_char();
        if (std::fflush(gc.g_outfile) != 0 || std::ferror(gc.g_outfile))
            writeerr();
    }
}

// Empties the hash table.
void cl_hash(int size)
{
    std::memset(gc.htab, 0xff, sizeof(gc.htab[0]) * static_cast<size_t>(size));
}

// Starts a new table: clears the hash and sends the clear code.
void cl_block()
{
    cl_hash(hsize);
    gc.free_ent = gc.ClearCode + 2;
    gc.clear_flg = true;
    output(gc.ClearCode);
}

} // namespace

int gif_compress(int init_bits, FILE *outfile, GifPicture &picture)
{
    gc.g_init_bits = init_bits;
    gc.g_outfile = outfile;
    gc.write_failed = false;
    gc.clear_flg = false;
    gc.n_bits = gc.g_init_bits;
    gc.maxcode = (1 << gc.n_bits) - 1;
    gc.ClearCode = 1 << (init_bits - 1);
    gc.EOFCode = gc.ClearCode + 1;
    gc.free_ent = gc.ClearCode + 2;
    gc.cur_accum = 0;
    gc.cur_bits = 0;
    char_init();

    // The walk is kept in a local copy: stores into the block buffer could
    // otherwise alias it.
    GifPicture pic = picture;
    int ent = GIFNextPixel(pic);
    if (ent < 0)
        return -1;

    int hshift = 0;
    for (long fcode = hsize; fcode < 65536L; fcode *= 2L)
        ++hshift;
    hshift = 8 - hshift;

    cl_hash(hsize);
    output(gc.ClearCode);

    int32_t *const htab = gc.htab;
    uint16_t *const codetab = gc.codetab;
    int c;
    while ((c = GIFNextPixel(pic)) >= 0) {
        int32_t fcode = (static_cast<int32_t>(c) << maxbits) + ent;
        int i = (c << hshift) ^ ent;
        if (htab[i] == fcode) {
            ent = codetab[i];
            continue;
        }
        if (htab[i] >= 0) {
            // Secondary probe: step back by hsize - i, wrapping.
            int disp = i == 0 ? 1 : hsize - i;
            bool found = false;
            do {
                if ((i -= disp) < 0)
                    i += hsize;
                if (htab[i] == fcode) {
                    found = true;
                    break;
                }
            } while (htab[i] > 0);
            if (found) {
                ent = codetab[i];
                continue;
            }
        }
        output(ent);
        ent = c;
        if (gc.free_ent < maxmaxcode) {
            codetab[i] = static_cast<uint16_t>(gc.free_ent++);
            htab[i] = fcode;
        } else {
            cl_block();
        }
    }
    output(ent);
    output(gc.EOFCode);
    picture = pic;
    return gc.write_failed ? -1 : 0;
}
