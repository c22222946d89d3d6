// rast.h - the Kestrel raster format, the viewer's native format: a
// 32-byte big-endian header, an optional colormap and the pixel lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct ImageRec;

constexpr uint32_t RAS_MAGIC = 0x59a66a95;
enum { RT_OLD = 0, RT_STANDARD = 1, RT_BYTE_ENCODED = 2, RT_FORMAT_RGB = 3 };
enum { RMT_NONE = 0, RMT_EQUAL_RGB = 1, RMT_RAW = 2 };

// Loads the record's file; 0 on success, -1 on failure.
int rast_load(ImageRec *image);
// Writes the record's image to its file name; 0 on success, -1 on failure.
int rast_save(ImageRec *image);

// Line padding by depth, in bits: 16 up to depth 17, 32 above, 24 at 24.
void init_pad();
void set_current_pad(int depth, int bits);
int pad_value(int depth);
// Bytes of one line of the given width and depth, always even.
int rast_linelen(int width, int depth);
int64_t rast_imagelen(int width, int height, int depth);

// Run-length encoder (escape 0x80): runs end when the value changes or
// reach 256 bytes; runs may cross line ends.
class RleEncoder {
public:
    // expected: about how many bytes will be fed (room is made for the
    // worst case of that many at once; more grows the buffer).
    explicit RleEncoder(size_t expected = 0);
    void feed(const unsigned char *bytes, size_t n);
    // Writes the last run.
    void finish();
    const unsigned char *data() const { return buf_.get(); }
    size_t size() const { return pos_; }
    // Forgets the bytes written so far (the caller has taken them); a run
    // still open stays for the next feed or finish.
    void clear() { pos_ = 0; }

private:
    void reserve(size_t n);
    std::unique_ptr<unsigned char[]> buf_; // uninitialised beyond pos_
    size_t cap_ = 0;            // bytes allocated
    size_t pos_ = 0;            // bytes written
    unsigned char value_ = 0;
    size_t run_ = 0;            // bytes of value_ not yet written
};

// Run-length encodes bytes onto out.
void rast_encode(const unsigned char *bytes, size_t n, std::vector<unsigned char> *out);
// Decodes run-length data from the current input into n bytes of out;
// returns false when the input ends first.
bool read_encoded(unsigned char *out, size_t n);
