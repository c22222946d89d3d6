// The image record, the format table and the colour hash.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "app/corvat.h"
#include "image/image.h"

TEST(FormatTable, RowsAreIndexedByCode)
{
    ASSERT_EQ(ntypes, 45);
    std::set<std::string> names;
    for (int i = 0; i < ntypes; i++) {
        EXPECT_EQ(all_types[i].type, i);
        EXPECT_TRUE(names.insert(all_types[i].dt_name).second) << all_types[i].dt_name;
        if (all_types[i].converter != nullptr) {
            EXPECT_EQ(std::strncmp(all_types[i].converter, "/usr/bin/", 9), 0);
        }
    }
    EXPECT_EQ(file_no_type.type, 45);
    EXPECT_STREQ(all_types[FMT_AUTO].display_name, "Automatic");
    EXPECT_EQ(all_types[FMT_AUTO].load, nullptr);
}

TEST(FormatTable, LookupByDataTypeNameIsExact)
{
    ASSERT_NE(str_to_ftype("POSTSCRIPT"), nullptr);
    EXPECT_EQ(str_to_ftype("POSTSCRIPT")->type, 3);
    EXPECT_EQ(str_to_ftype("postscript"), nullptr);
    EXPECT_EQ(str_to_ftype("Kestrel-raster")->type, 0);
    EXPECT_EQ(str_to_ftype("XWD")->type, 43);
    EXPECT_EQ(str_to_ftype("DATA"), nullptr);
    EXPECT_EQ(str_to_ftype(nullptr), nullptr);
    EXPECT_TRUE(is_postscript(&all_types[3]));
    EXPECT_TRUE(is_postscript(&all_types[4]));
    EXPECT_FALSE(is_postscript(&all_types[0]));
}

TEST(ImageRecord, Defaults)
{
    ImageRec *img = init_image("a.ras", "/tmp/real.ras", 1234, &all_types[0], nullptr);
    EXPECT_STREQ(img->file, "a.ras");
    EXPECT_STREQ(img->realfile, "/tmp/real.ras");
    EXPECT_EQ(img->file_size, 1234);
    EXPECT_EQ(img->datatype, VELA_BYTE);
    EXPECT_EQ(img->rgb_order, 1);
    EXPECT_EQ(img->orientation, 2);
    EXPECT_FLOAT_EQ(img->hres, 72.0f);
    EXPECT_FLOAT_EQ(img->vres, 72.0f);
    EXPECT_EQ(img->res_unit, 2);
    destroy_image(img);

    // The same name twice shares one copy.
    img = init_image("b.gif", "b.gif", 0, &all_types[2], nullptr);
    EXPECT_EQ(img->realfile, img->file);
    destroy_image(img);
}

TEST(ImageRecord, WithoutANameItIsUntitled)
{
    ImageRec *img = init_image(nullptr, nullptr, 0, &all_types[0], nullptr);
    EXPECT_STREQ(img->file, "Untitled");
    EXPECT_EQ(img->realfile, img->file);
    destroy_image(img);
}

TEST(ImageRecord, OwnedDataAndColormapsAreFreed)
{
    // Under the sanitizer build a leak here fails the run.
    char *data = static_cast<char *>(std::malloc(100));
    ImageRec *img = init_image("m", "m", 100, &all_types[0], data);
    img->data_owned = 1;
    img->ncolors = 2;
    img->red = static_cast<unsigned char *>(std::calloc(2, 1));
    img->green = static_cast<unsigned char *>(std::calloc(2, 1));
    img->blue = static_cast<unsigned char *>(std::calloc(2, 1));
    destroy_image(img);
}

TEST(ImageRecord, CopyImageDataCopiesTheColormap)
{
    ImageRec *old_img = init_image("o", "o", 0, &all_types[2], nullptr);
    old_img->ncolors = 3;
    old_img->red = static_cast<unsigned char *>(std::malloc(3));
    old_img->green = static_cast<unsigned char *>(std::malloc(3));
    old_img->blue = static_cast<unsigned char *>(std::malloc(3));
    for (int i = 0; i < 3; i++) {
        old_img->red[i] = static_cast<unsigned char>(i);
        old_img->green[i] = static_cast<unsigned char>(10 + i);
        old_img->blue[i] = static_cast<unsigned char>(20 + i);
    }
    old_img->offset = 253;
    old_img->bands = 1;
    old_img->rgb_order = 0;
    old_img->bytes_per_line = 17;
    ImageRec *new_img = init_image("n", "n", 0, &all_types[0], nullptr);
    copy_image_data(new_img, old_img);
    EXPECT_EQ(new_img->ncolors, 3);
    ASSERT_NE(new_img->red, old_img->red);
    EXPECT_EQ(new_img->green[2], 12);
    EXPECT_EQ(new_img->blue[1], 21);
    EXPECT_EQ(new_img->offset, 253);
    EXPECT_EQ(new_img->rgb_order, 0);
    EXPECT_EQ(new_img->bytes_per_line, 17);

    // A PostScript record keeps its own colormap offset.
    ImageRec *ps = init_image("p", "p", 0, &all_types[3], nullptr);
    copy_image_data(ps, old_img);
    EXPECT_EQ(ps->offset, 0);
    destroy_image(ps);
    destroy_image(new_img);
    destroy_image(old_img);
}

TEST(ColourHash, CountsDistinctKeys)
{
    HashTable *t = make_hash(223);
    ASSERT_NE(t, nullptr);
    int *a = get_hash(t, 5);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(*a, 0);
    *a = 7;
    EXPECT_EQ(*get_hash(t, 5), 7);
    // Keys in the same bucket, and negative keys, stay apart.
    *get_hash(t, 5 + 223) = 8;
    *get_hash(t, -5) = 9;
    *get_hash(t, INT32_MIN) = 10;
    EXPECT_EQ(*get_hash(t, 5), 7);
    EXPECT_EQ(*get_hash(t, 228), 8);
    EXPECT_EQ(*get_hash(t, -5), 9);
    EXPECT_EQ(*get_hash(t, INT32_MIN), 10);
    int acc[2] = {0, 0}; // sum of values, number of nodes
    destroy_hash(
        t,
        [](int value, void *arg, int) {
            static_cast<int *>(arg)[0] += value;
            static_cast<int *>(arg)[1]++;
        },
        acc);
    EXPECT_EQ(acc[0], 34);
    EXPECT_EQ(acc[1], 4);
}
