/*
 * vela_test.h - helpers shared by the imaging library's unit tests: a
 * fixture that owns a state and records the errors reaching its handler,
 * pixel access through the raw storage description, and a seeded random
 * source.
 */
#ifndef VELA_TEST_H
#define VELA_TEST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "vela.h"

namespace velatest {

// One error as the handler saw it.
struct SeenError {
    int category;
    int primary;
    std::string text;
};

// The errors reported since the fixture's state was opened; the handler
// has no user data, so the fixture's instance is global.
inline std::vector<SeenError> &seen_errors()
{
    static std::vector<SeenError> errors;
    return errors;
}

inline int record_error(VelaError *err)
{
    seen_errors().push_back(
        {vela_error_get_category(err), vela_error_get_primary(err), vela_error_get_string(err)});
    return 1;
}

// A fixture with an open state whose handler records every error.
class VelaTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        seen_errors().clear();
        state = vela_open();
        ASSERT_NE(state, nullptr);
        ASSERT_EQ(vela_install_error_handler(state, record_error), 1);
    }
    void TearDown() override
    {
        for (VelaImage *img : owned)
            vela_destroy(img);
        vela_close(state);
    }
    // Returns a new image destroyed with the fixture (children first when
    // they were made after their parents).
    VelaImage *make(int w, int h, int bands, int type)
    {
        VelaImage *img = vela_create(state, w, h, bands, type);
        EXPECT_NE(img, nullptr) << w << "x" << h << "x" << bands;
        if (img)
            owned.insert(owned.begin(), img);
        return img;
    }
    // Returns a child destroyed with the fixture, before its parent.
    VelaImage *child(VelaImage *img, int x, int y, int w, int h, int band0, int bands)
    {
        VelaImage *c = vela_create_child(img, x, y, w, h, band0, bands);
        EXPECT_NE(c, nullptr);
        if (c)
            owned.insert(owned.begin(), c);
        return c;
    }
    // Returns the errors seen so far and forgets them.
    std::vector<SeenError> take_errors()
    {
        std::vector<SeenError> e = seen_errors();
        seen_errors().clear();
        return e;
    }

    VelaState *state = nullptr;
    std::vector<VelaImage *> owned;
};

// Returns the storage description of img (asserting it can be had).
inline VelaMemoryStorage storage_of(VelaImage *img)
{
    VelaMemoryStorage st{};
    EXPECT_EQ(vela_get_memory_storage(img, &st), 1);
    return st;
}

// Returns band b of pixel (x, y) of an image with storage st and type.
inline int sample_at(const VelaMemoryStorage &st, int type, int x, int y, int b)
{
    const unsigned char *row = st.data + static_cast<ptrdiff_t>(y) * st.bytes_per_row;
    if (type == VELA_BIT) {
        int bit = st.bit_offset + x;
        return (row[bit >> 3] >> (7 - (bit & 7))) & 1;
    }
    return row[static_cast<ptrdiff_t>(x) * st.bytes_per_pixel + b];
}

inline void put_sample(const VelaMemoryStorage &st, int type, int x, int y, int b, int v)
{
    unsigned char *row = st.data + static_cast<ptrdiff_t>(y) * st.bytes_per_row;
    if (type == VELA_BIT) {
        int bit = st.bit_offset + x;
        unsigned char m = static_cast<unsigned char>(0x80 >> (bit & 7));
        row[bit >> 3] = static_cast<unsigned char>(v ? row[bit >> 3] | m : row[bit >> 3] & ~m);
        return;
    }
    row[static_cast<ptrdiff_t>(x) * st.bytes_per_pixel + b] = static_cast<unsigned char>(v);
}

// Returns band b of pixel (x, y), read through the raw storage.
inline int pixel(VelaImage *img, int x, int y, int b = 0)
{
    return sample_at(storage_of(img), vela_get_datatype(img), x, y, b);
}

inline void set_pixel(VelaImage *img, int x, int y, int b, int v)
{
    put_sample(storage_of(img), vela_get_datatype(img), x, y, b, v);
}

// All samples of img in row order, bands interleaved.
inline std::vector<int> samples(VelaImage *img)
{
    int w, h, nb, type;
    vela_get_info(img, &w, &h, &nb, &type);
    const VelaMemoryStorage st = storage_of(img);
    std::vector<int> out;
    out.reserve(static_cast<size_t>(w) * h * nb);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int b = 0; b < nb; ++b)
                out.push_back(sample_at(st, type, x, y, b));
    return out;
}

// Fills every sample of img with random values of its type.
inline void fill_random(VelaImage *img, std::mt19937 &rng)
{
    int w, h, nb, type;
    vela_get_info(img, &w, &h, &nb, &type);
    const VelaMemoryStorage st = storage_of(img);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int b = 0; b < nb; ++b)
                put_sample(st, type, x, y, b,
                           static_cast<int>(rng() >> (type == VELA_BIT ? 31 : 24)));
}

} // namespace velatest

#endif
