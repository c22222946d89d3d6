// The JPEG (JFIF) codec: files ImageMagick and libjpeg's own tools write
// load as they decode them; our files begin with the JFIF
// segment and read back in ImageMagick; both memory orders of a picture
// save to the same bytes; damaged and hostile files fail cleanly.
#include "test_support.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "formats/jfif.h"
#include "formats/savefile.h"
#include "image/display.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Returns the peak signal-to-noise ratio of b against a, in dB (999 when
// they are equal).
double psnr(const Rgb &a, const Rgb &b)
{
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); i++) {
        double d = static_cast<double>(a.pixels[i]) - b.pixels[i];
        sum += d * d;
    }
    double mse = sum / static_cast<double>(a.pixels.size());
    return mse == 0 ? 999 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A photo-like picture: smooth colour gradients, soft waves and a little
// noise, with a black and a white patch for the ends of the range.
Rgb photo_picture(int w, int h, unsigned seed = 1)
{
    Rgb rgb;
    rgb.width = w;
    rgb.height = h;
    rgb.pixels.resize(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            seed = seed * 1103515245u + 12345u;
            int noise = static_cast<int>((seed >> 16) % 7) - 3;
            double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
            double v[3] = {40 + 170 * fx + 30 * std::sin(fy * 9),
                           60 + 140 * fy + 25 * std::cos(fx * 7 + fy * 3),
                           128 + 100 * std::sin((fx + fy) * 5)};
            unsigned char *p = &rgb.pixels[3 * (static_cast<size_t>(y) * w + x)];
            bool black = x < w / 8 && y < h / 8, white = x >= w - w / 8 && y < h / 8;
            for (int c = 0; c < 3; c++) {
                int value = static_cast<int>(v[c]) + noise;
                p[c] = black ? 0 : white ? 255 : static_cast<unsigned char>(std::clamp(value, 0, 255));
            }
        }
    return rgb;
}

class Jfif : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensure_program();
        if (!have_convert)
            GTEST_SKIP() << "ImageMagick missing";
    }
    // Loads a file; nullptr when the load fails.
    ImageRec *load_file(const std::string &path)
    {
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_JFIF], nullptr);
        if (jfif_load(img) != 0) {
            destroy_image(img);
            return nullptr;
        }
        return img;
    }
    ImageRec *load(const Bytes &bytes)
    {
        std::string path = dir.file("in.jpg");
        write_bytes(path, bytes);
        return load_file(path);
    }
    // Writes a JPEG of pic with ImageMagick (extra options before the
    // output name); returns its path.
    std::string im_jpeg(const Rgb &pic, const std::string &name, const std::string &options)
    {
        std::string ppm = dir.file(name + ".ppm"), out = dir.file(name);
        write_ppm(ppm, pic);
        EXPECT_EQ(run_command("/usr/bin/convert '" + ppm + "' " + options + " '" + out + "'"), 0);
        return out;
    }
    // Saves the picture as the save flow hands it over: a record with a
    // 24-bit image in the given memory order.
    std::string save(const Rgb &pic, bool rgb_order, const std::string &name)
    {
        std::string path = dir.file(name);
        ImageRec *rec = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_JFIF], nullptr);
        rec->width = pic.width;
        rec->height = pic.height;
        rec->depth = 24;
        int ps = 0, rs = 0;
        unsigned char *data = create_data(rec, &ps, &rs);
        EXPECT_NE(data, nullptr);
        for (int y = 0; y < pic.height; y++)
            for (int x = 0; x < pic.width; x++) {
                const unsigned char *p = &pic.pixels[3 * (static_cast<size_t>(y) * pic.width + x)];
                unsigned char *q = data + static_cast<ptrdiff_t>(y) * rs + x * ps;
                q[0] = rgb_order ? p[0] : p[2];
                q[1] = p[1];
                q[2] = rgb_order ? p[2] : p[0];
            }
        vela_import(rec->orig_image, 1);
        rec->rgb_order = rgb_order;
        EXPECT_EQ(jfif_save(rec), 0);
        destroy_image(rec);
        return path;
    }
    static inline const bool have_convert = run_command("test -x /usr/bin/convert") == 0;
    // libjpeg-turbo's cjpeg writes the layouts ImageMagick cannot.
    static inline const bool have_cjpeg = run_command("command -v cjpeg >/dev/null") == 0;
    TempDir dir;
};

} // namespace

TEST_F(Jfif, ImageMagickColourFilesLoadCloseToItsDecoding)
{
    Rgb pic = photo_picture(203, 141);
    for (const char *options : {"-quality 90", "-quality 75 -interlace Plane",
                                "-quality 95 -sampling-factor 1x1"}) {
        std::string path = im_jpeg(pic, "im.jpg", options);
        Rgb theirs;
        ASSERT_TRUE(peer_decode("convert", path, &theirs, path));
        ImageRec *img = load_file(path);
        ASSERT_NE(img, nullptr) << options;
        EXPECT_EQ(img->width, 203);
        EXPECT_EQ(img->height, 141);
        EXPECT_EQ(img->depth, 24);
        EXPECT_EQ(img->rgb_order, 0);
        EXPECT_EQ(img->compression, COMP_NONE);
        EXPECT_EQ(img->cis, nullptr);
        Rgb ours = record_to_rgb(img);
        double db = psnr(theirs, ours);
        EXPECT_GE(db, 38.0) << options;
        std::printf("[ psnr ] ImageMagick %s: %.2f dB against its decoding\n", options, db);
        destroy_image(img);
    }
}

TEST_F(Jfif, FullRangeKeepsItsContrast)
{
    // Flat black, white and mid grey blocks come back at their values.
    if (!have_cjpeg)
        GTEST_SKIP() << "cjpeg missing";
    Rgb pic;
    pic.width = 48;
    pic.height = 16;
    pic.pixels.resize(48 * 16 * 3);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 48; x++)
            for (int c = 0; c < 3; c++)
                pic.pixels[3 * (y * 48 + x) + c] = x < 16 ? 0 : x < 32 ? 255 : 128;
    std::string ppm = dir.file("flat.ppm"), jpg = dir.file("flat.jpg");
    write_ppm(ppm, pic);
    ASSERT_EQ(run_command("cjpeg -quality 100 -sample 1x1 '" + ppm + "' > '" + jpg + "'"), 0);
    ImageRec *img = load_file(jpg);
    ASSERT_NE(img, nullptr);
    Rgb ours = record_to_rgb(img);
    for (int y = 0; y < 16; y += 5)
        for (int x : {3, 12, 20, 28, 36, 44})
            for (int c = 0; c < 3; c++)
                EXPECT_NEAR(ours.pixels[3 * (y * 48 + x) + c], x < 16 ? 0 : x < 32 ? 255 : 128, 1)
                    << x << "," << y;
    destroy_image(img);
}

TEST_F(Jfif, OtherColourLayoutsLoad)
{
    // libjpeg's RGB-coded files and ImageMagick's CMYK ones hold no Y, Cb,
    // Cr; the library converts them.
    if (!have_cjpeg)
        GTEST_SKIP() << "cjpeg missing";
    Rgb pic = photo_picture(64, 40, 5);
    std::string ppm = dir.file("pic.ppm"), rgbjpg = dir.file("rgb.jpg");
    write_ppm(ppm, pic);
    ASSERT_EQ(run_command("cjpeg -rgb -quality 95 '" + ppm + "' > '" + rgbjpg + "'"), 0);
    std::string cmyk = im_jpeg(pic, "cmyk.jpg", "-colorspace CMYK -quality 95");
    for (const std::string &path : {rgbjpg, cmyk}) {
        Rgb theirs;
        ASSERT_TRUE(peer_decode("convert", path, &theirs, path));
        ImageRec *img = load_file(path);
        ASSERT_NE(img, nullptr) << path;
        EXPECT_GE(psnr(theirs, record_to_rgb(img)), 35.0) << path;
        destroy_image(img);
    }
}

TEST_F(Jfif, GreyFilesLoadAsEightBitsWithAGreyRamp)
{
    Rgb pic = photo_picture(77, 33, 2);
    std::string path = im_jpeg(pic, "grey.jpg", "-colorspace Gray -quality 92");
    Rgb theirs;
    ASSERT_TRUE(peer_decode("convert", path, &theirs, path));
    ImageRec *img = load_file(path);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->depth, 8);
    EXPECT_EQ(vela_get_nbands(img->orig_image), 1);
    ASSERT_EQ(img->ncolors, 256);
    for (int i = 0; i < 256; i++) {
        EXPECT_EQ(img->red[i], i);
        EXPECT_EQ(img->green[i], i);
        EXPECT_EQ(img->blue[i], i);
    }
    // Grey samples go straight through: libjpeg's decoding exactly.
    EXPECT_EQ(record_to_rgb(img).pixels, theirs.pixels);
    destroy_image(img);
}

TEST_F(Jfif, SavedFilesBeginWithTheJfifSegmentAndReadBack)
{
    Rgb pic = photo_picture(120, 90, 3);
    std::string path = save(pic, true, "ours.jpg");
    Bytes bytes = read_bytes(path);
    ASSERT_GT(bytes.size(), 24u);
    const Bytes head = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00,
                        0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 20), head);
    // One JFIF segment only: the stream goes on with its own markers.
    EXPECT_EQ(bytes[20], 0xff);
    EXPECT_NE(bytes[21], 0xe0);
    EXPECT_EQ(bytes[bytes.size() - 2], 0xff);
    EXPECT_EQ(bytes[bytes.size() - 1], 0xd9);

    Rgb theirs;
    ASSERT_TRUE(peer_decode("convert", path, &theirs, path));
    double db = psnr(pic, theirs);
    EXPECT_GE(db, 36.0);
    ImageRec *img = load_file(path);
    ASSERT_NE(img, nullptr);
    Rgb ours = record_to_rgb(img);
    EXPECT_GE(psnr(theirs, ours), 38.0);
    std::printf("[ psnr ] our file: %.2f dB in ImageMagick against the picture, %.2f dB ours "
                "against ImageMagick's\n",
                db, psnr(theirs, ours));
    destroy_image(img);
}

TEST_F(Jfif, SavedGreysStayGreyInOtherReaders)
{
    Rgb pic;
    pic.width = 64;
    pic.height = 16;
    pic.pixels.resize(64 * 16 * 3);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 64; x++)
            for (int c = 0; c < 3; c++)
                pic.pixels[3 * (y * 64 + x) + c] = static_cast<unsigned char>((x / 16) * 85);
    std::string path = save(pic, true, "greys.jpg");
    Rgb theirs;
    ASSERT_TRUE(peer_decode("convert", path, &theirs, path));
    int worst = 0;
    for (size_t i = 0; i < pic.pixels.size(); i++)
        worst = std::max(worst, std::abs(theirs.pixels[i] - pic.pixels[i]));
    EXPECT_LE(worst, 1);
    std::printf("[ grey ] largest channel error of saved greys in ImageMagick: %d\n", worst);
}

TEST_F(Jfif, BothMemoryOrdersSaveTheSameFile)
{
    Rgb pic = photo_picture(50, 31, 4);
    Bytes rgb = read_bytes(save(pic, true, "rgb.jpg"));
    Bytes bgr = read_bytes(save(pic, false, "bgr.jpg"));
    ASSERT_GT(rgb.size(), 100u);
    EXPECT_EQ(rgb, bgr);
}

TEST_F(Jfif, GreyImagesSaveAsGrey)
{
    Rgb pic = photo_picture(40, 30, 6);
    std::string src = im_jpeg(pic, "grey.jpg", "-colorspace Gray -quality 100");
    ImageRec *img = load_file(src);
    ASSERT_NE(img, nullptr);
    Rgb before = record_to_rgb(img);
    std::string path = dir.file("again.jpg");
    ImageRec *rec = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_JFIF], nullptr);
    rec->orig_image = vela_create_copy(img->orig_image, 0, 0, 40, 30, 0, 1);
    rec->depth = 8;
    ASSERT_EQ(jfif_save(rec), 0);
    destroy_image(rec);
    ImageRec *back = load_file(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->depth, 8);
    EXPECT_GE(psnr(before, record_to_rgb(back)), 40.0);
    destroy_image(back);
    destroy_image(img);
}

TEST_F(Jfif, FailedSavesKeepTheOldFile)
{
    Rgb pic = photo_picture(16, 16, 7);
    std::string path = dir.file("keep.jpg");
    write_bytes(path, Bytes{'o', 'l', 'd'});
    savefile_fail_commit = true;
    ImageRec *rec = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_JFIF], nullptr);
    rec->width = rec->height = 16;
    rec->depth = 24;
    int ps = 0, rs = 0;
    ASSERT_NE(create_data(rec, &ps, &rs), nullptr);
    vela_import(rec->orig_image, 1);
    EXPECT_EQ(jfif_save(rec), -1);
    savefile_fail_commit = false;
    EXPECT_EQ(read_bytes(path), (Bytes{'o', 'l', 'd'}));
    // A folder that does not exist cannot be written at all.
    std::string nowhere = dir.file("no/such/dir.jpg");
    free(rec->file);
    rec->file = rec->realfile = strdup(nowhere.c_str());
    EXPECT_EQ(jfif_save(rec), -1);
    destroy_image(rec);
}

TEST_F(Jfif, LoadsFromMemory)
{
    Rgb pic = photo_picture(30, 20, 8);
    Bytes bytes = read_bytes(im_jpeg(pic, "m.jpg", "-quality 90"));
    ImageRec *img = init_image("drop.jpg", "drop.jpg", static_cast<int>(bytes.size()),
                               &all_types[FMT_JFIF], reinterpret_cast<char *>(bytes.data()));
    ASSERT_EQ(jfif_load(img), 0);
    EXPECT_EQ(img->width, 30);
    EXPECT_GE(psnr(pic, record_to_rgb(img)), 30.0);
    destroy_image(img);
}

TEST_F(Jfif, ProgressiveScansAreBounded)
{
    // 100 scans (cjpeg's own limit) load; more are refused, so that a
    // stream of endless scans over a large picture cannot stall a load.
    if (!have_cjpeg)
        GTEST_SKIP() << "cjpeg missing";
    std::string script;
    script += "0: 0 0 0 0;\n";
    for (int k = 1; k < 64; k++)
        script += "0: " + std::to_string(k) + " " + std::to_string(k) + " 0 1;\n";
    for (int k = 1; k <= 36; k++)
        script += "0: " + std::to_string(k) + " " + std::to_string(k) + " 1 0;\n";
    std::string scans = dir.file("scans.txt"), ppm = dir.file("s.ppm"), jpg = dir.file("s.jpg");
    write_bytes(scans, Bytes(script.begin(), script.end()));
    write_ppm(ppm, photo_picture(40, 32, 10));
    ASSERT_EQ(run_command("cjpeg -grayscale -scans '" + scans + "' '" + ppm + "' > '" + jpg + "'"), 0);
    ImageRec *img = load_file(jpg);
    ASSERT_NE(img, nullptr);
    destroy_image(img);

    // The last scan again and again: libjpeg would take it.
    Bytes bytes = read_bytes(jpg);
    size_t last = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i++)
        if (bytes[i] == 0xff && bytes[i + 1] == 0xda)
            last = i;
    ASSERT_GT(last, 0u);
    Bytes scan(bytes.begin() + static_cast<std::ptrdiff_t>(last), bytes.end() - 2);
    Bytes more(bytes.begin(), bytes.end() - 2);
    for (int i = 0; i < 5; i++)
        more.insert(more.end(), scan.begin(), scan.end());
    more.insert(more.end(), {0xff, 0xd9});
    EXPECT_EQ(load(more), nullptr);
}

TEST_F(Jfif, DamagedAndHostileFilesFailCleanly)
{
    Rgb pic = photo_picture(40, 24, 9);
    Bytes good = read_bytes(im_jpeg(pic, "g.jpg", "-quality 80"));
    Bytes progressive = read_bytes(im_jpeg(pic, "p.jpg", "-quality 80 -interlace Plane"));
    auto started = std::chrono::steady_clock::now();
    for (const Bytes *b : {&good, &progressive}) {
        // Cut short anywhere: refused (the data is gone), never a crash.
        for (size_t cut = 0; cut + 2 < b->size(); cut += 7) {
            ImageRec *img = load(Bytes(b->begin(), b->begin() + cut));
            EXPECT_EQ(img, nullptr) << "cut at " << cut;
            destroy_image(img);
        }
        // Random damage: whatever loads has the picture's size.
        unsigned seed = 11;
        for (int round = 0; round < 200; round++) {
            Bytes bad = *b;
            for (int k = 0; k < 4; k++) {
                seed = seed * 1664525u + 1013904223u;
                bad[2 + (seed >> 8) % (bad.size() - 2)] = static_cast<unsigned char>(seed >> 24);
            }
            ImageRec *img = load(bad);
            if (img != nullptr) {
                EXPECT_LE(static_cast<int64_t>(img->width) * img->height, 65535 * 24);
                destroy_image(img);
            }
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 20.0);

    // A frame header claiming 65000 x 65000 is refused before anything is
    // allocated: the file cannot hold such a picture.  (libjpeg itself
    // refuses sides above 65500.)
    Bytes huge = good;
    bool patched = false;
    for (size_t i = 2; i + 9 < huge.size(); i++)
        if (huge[i] == 0xff && (huge[i + 1] == 0xc0 || huge[i + 1] == 0xc2)) {
            huge[i + 5] = huge[i + 7] = 0xfd;
            huge[i + 6] = huge[i + 8] = 0xe8;
            patched = true;
            break;
        }
    ASSERT_TRUE(patched);
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(load(huge), nullptr);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 1.0);

    EXPECT_EQ(load(Bytes{}), nullptr);
    EXPECT_EQ(load(Bytes(100, 0x42)), nullptr);
    EXPECT_EQ(load(Bytes{0xff, 0xd8, 0xff, 0xd9}), nullptr);
    ImageRec *missing = init_image("/nonexistent.jpg", "/nonexistent.jpg", 0, &all_types[FMT_JFIF],
                                   nullptr);
    EXPECT_EQ(jfif_load(missing), -1);
    destroy_image(missing);
}
