// The Photo CD loader and the library's Photo CD device: image packs that
// ImageMagick writes decode to the planes ImageMagick reads from them
// (Base/16, Base/4, Base, and 4Base with residuals we code ourselves),
// pictures are turned upright by the pack's rotation, and damaged packs
// fail cleanly.
#include "test_support.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "formats/photocd.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kRotationByte = 0xe02;
constexpr size_t k4BaseOffset = 0xc2000;

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

// Returns the number of pixels of b with a channel more than tolerance
// away from a's (all of them when the sizes differ).
size_t mismatches(const Rgb &a, const Rgb &b, int tolerance)
{
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size())
        return b.pixels.size() / 3 + 1;
    size_t n = 0;
    for (size_t i = 0; i < a.pixels.size(); i += 3)
        for (int c = 0; c < 3; c++)
            if (std::abs(a.pixels[i + c] - b.pixels[i + c]) > tolerance) {
                n++;
                break;
            }
    return n;
}

// Returns pic turned by 180 degrees.
Rgb half_turn(const Rgb &pic)
{
    Rgb out = pic;
    size_t n = pic.pixels.size() / 3;
    for (size_t i = 0; i < n; i++)
        std::memcpy(&out.pixels[3 * (n - 1 - i)], &pic.pixels[3 * i], 3);
    return out;
}

// Kodak's PhotoYCC to display RGB, its whole range (1.3584 times reference
// white) mapped onto 0..255, rounded and clamped; ycc holds Y, C1, C2 where
// an RGB picture holds R, G, B.
Rgb kodak_rgb(const Rgb &ycc)
{
    Rgb out = ycc;
    for (size_t i = 0; i < ycc.pixels.size(); i += 3) {
        double y = ycc.pixels[i], c1 = (ycc.pixels[i + 1] - 156.0) / 1.3584,
               c2 = (ycc.pixels[i + 2] - 137.0) / 1.3584;
        double rgb[3] = {y + 1.8215 * c2, y - 0.194 * 2.2179 * c1 - 0.509 * 1.8215 * c2,
                         y + 2.2179 * c1};
        for (int c = 0; c < 3; c++)
            out.pixels[i + c] = static_cast<unsigned char>(std::clamp(std::floor(rgb[c] + 0.5), 0.0, 255.0));
    }
    return out;
}

// A photo-like picture for the packs.
Rgb pack_picture(int w, int h)
{
    Rgb rgb;
    rgb.width = w;
    rgb.height = h;
    rgb.pixels.resize(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
            unsigned char *p = &rgb.pixels[3 * (static_cast<size_t>(y) * w + x)];
            p[0] = static_cast<unsigned char>(30 + 150 * fx + 20 * std::sin(fy * 20));
            p[1] = static_cast<unsigned char>(40 + 120 * fy + 20 * std::cos(fx * 15));
            p[2] = static_cast<unsigned char>(100 + 60 * std::sin((fx + fy) * 6));
        }
    return rgb;
}

// Bits written most significant first.
class BitWriter {
public:
    void put(uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; i--) {
            acc_ = static_cast<unsigned char>((acc_ << 1) | ((value >> i) & 1));
            if (++bits_ == 8) {
                out.push_back(acc_);
                acc_ = 0;
                bits_ = 0;
            }
        }
    }
    void flush()
    {
        while (bits_ != 0)
            put(0, 1);
    }
    Bytes out;

private:
    unsigned char acc_ = 0;
    int bits_ = 0;
};

// The residual the synthetic 4Base data adds at (x, y).
int residual(int x, int y)
{
    return (x * 7 + y * 13) % 41 - 20;
}

// Appends 4Base data to a pack that ends after Base: a table coding
// residual 0 as "0" and residual k as "1" and the byte k ^ 0x80, then one
// row of luma residuals per line (all 0 unless with_residuals).
Bytes add_4base(Bytes pack, bool with_residuals)
{
    pack.resize(k4BaseOffset, 0);
    pack.push_back(255); // 256 codes
    pack.insert(pack.end(), {0, 0x00, 0x00, 0});
    for (int k = 1; k < 256; k++) {
        unsigned code = 0x8000 | ((static_cast<unsigned>(k) ^ 0x80) << 7);
        pack.insert(pack.end(), {8, static_cast<unsigned char>(code >> 8),
                                 static_cast<unsigned char>(code & 0xff), static_cast<unsigned char>(k)});
    }
    pack.resize(k4BaseOffset + 0x800, 0);
    BitWriter w;
    for (int row = 0; row <= 1024; row++) {
        w.put(0xfffffe, 24);
        w.put(static_cast<uint32_t>(row) << 1, 16); // plane 0, row, spare bit
        if (row == 1024)
            break;
        for (int x = 0; x < 1536; x++) {
            int r = with_residuals ? residual(x, row) : 0;
            if (r == 0)
                w.put(0, 1);
            else
                w.put(0x100 | (static_cast<unsigned>(r & 0xff) ^ 0x80), 9);
        }
    }
    w.flush();
    pack.insert(pack.end(), w.out.begin(), w.out.end());
    pack.resize((pack.size() + 0x7ff) / 0x800 * 0x800, 0);
    return pack;
}

class PhotoCd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensure_program();
        if (!have_peer)
            GTEST_SKIP() << "ImageMagick missing";
    }
    // Writes pic as an image pack with ImageMagick; returns its path.
    std::string im_pack(const Rgb &pic, const std::string &name)
    {
        std::string ppm = dir.file(name + ".ppm"), out = dir.file(name);
        write_ppm(ppm, pic);
        EXPECT_EQ(run_command("/usr/bin/convert '" + ppm + "' pcd:'" + out + "'"), 0);
        return out;
    }
    // ImageMagick's reading of a scene (1 Base/16 .. 4 4Base): its PhotoYCC
    // planes (raw) or its own RGB.  Doubling a plane in place, it takes
    // pixel (3, 0) from (2, 0) instead of between (2, 0) and (4, 0): that
    // one pixel, and what later doublings make of it, may differ from
    // ours.
    bool im_read(const std::string &path, int scene, bool raw, Rgb *out)
    {
        std::string ppm = dir.file("im.ppm");
        std::string cmd = "/usr/bin/convert '" + path + "[" + std::to_string(scene) + "]' " +
                          (raw ? "-set colorspace sRGB " : "") + "-depth 8 ppm:'" + ppm +
                          "' 2>/dev/null";
        return run_command(cmd) == 0 && read_pnm(ppm, out);
    }
    // The device's planes at a resolution; width 0 when it fails.
    Rgb device_planes(const std::string &path, int resolution)
    {
        Rgb out;
        VelaImage *dev = vela_create_from_device(image_display->state, "ioQRVXPhotoCD", nullptr);
        EXPECT_NE(dev, nullptr);
        if (dev == nullptr || !vela_set_device_attribute(dev, "FILEPATH", path.c_str()) ||
            !vela_set_device_attribute(dev, "RESOLUTION", &resolution)) {
            vela_destroy(dev);
            return out;
        }
        out.width = vela_get_width(dev);
        out.height = vela_get_height(dev);
        VelaMemoryStorage s;
        vela_get_memory_storage(dev, &s);
        for (int y = 0; y < out.height; y++)
            for (int x = 0; x < out.width; x++)
                for (int c = 0; c < 3; c++)
                    out.pixels.push_back(s.data[y * s.bytes_per_row + x * s.bytes_per_pixel + c]);
        vela_destroy(dev);
        return out;
    }
    // Loads a pack through the format entry of the given code.
    ImageRec *load_file(const std::string &path, int code = FMT_PCD)
    {
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[code], nullptr);
        if (photocd_load(img) != 0) {
            destroy_image(img);
            return nullptr;
        }
        return img;
    }
    ImageRec *load(const Bytes &bytes, int code = FMT_PCD)
    {
        std::string path = dir.file("in.pcd");
        write_bytes(path, bytes);
        return load_file(path, code);
    }
    static inline const bool have_peer = run_command("test -x /usr/bin/convert") == 0;
    TempDir dir;
};

} // namespace

TEST_F(PhotoCd, StoredResolutionsDecodeAsImageMagickReadsThem)
{
    Rgb pic = pack_picture(768, 512);
    std::string path = im_pack(pic, "pic.pcd");
    struct Level {
        int code, width, height;
    } levels[] = {{FMT_PCD16, 192, 128}, {FMT_PCD4, 384, 256}, {FMT_PCD, 768, 512}};
    for (const Level &l : levels) {
        int resolution = l.code - FMT_PCD16;
        Rgb raw;
        ASSERT_TRUE(im_read(path, resolution + 1, true, &raw));
        Rgb planes = device_planes(path, resolution);
        ASSERT_EQ(planes.width, l.width);
        ASSERT_EQ(planes.height, l.height);
        EXPECT_LE(mismatches(raw, planes, 0), 1u) << "resolution " << resolution;

        ImageRec *img = load_file(path, l.code);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(img->width, l.width);
        EXPECT_EQ(img->height, l.height);
        EXPECT_EQ(img->depth, 24);
        EXPECT_EQ(img->bands, 3);
        EXPECT_EQ(img->rgb_order, 0);
        Rgb ours = record_to_rgb(img);
        EXPECT_EQ(mismatches(kodak_rgb(planes), ours, 1), 0u) << "resolution " << resolution;
        EXPECT_LE(mismatches(kodak_rgb(raw), ours, 1), 1u) << "resolution " << resolution;
        Rgb theirs;
        ASSERT_TRUE(im_read(path, resolution + 1, false, &theirs));
        // Our colours are ImageMagick's decoding of the same pack.
        double db = psnr(theirs, ours);
        std::printf("[ psnr ] resolution %d: %.2f dB against ImageMagick's decoding\n", resolution,
                    db);
        EXPECT_GE(db, 40.0) << "resolution " << resolution;
        destroy_image(img);
    }
}

TEST_F(PhotoCd, FourBaseAddsTheCodedResiduals)
{
    Bytes base = read_bytes(im_pack(pack_picture(768, 512), "base.pcd"));
    std::string with = dir.file("with.pcd"), without = dir.file("without.pcd");
    write_bytes(with, add_4base(base, true));
    write_bytes(without, add_4base(base, false));

    Rgb raw;
    ASSERT_TRUE(im_read(with, 4, true, &raw));
    Rgb planes = device_planes(with, 3);
    ASSERT_EQ(planes.width, 1536);
    ASSERT_EQ(planes.height, 1024);
    EXPECT_LE(mismatches(raw, planes, 0), 16u);

    // Against the plain doubling of Base, every luma sample moved by its
    // residual (unless that crossed 0 or 255); chroma did not move.
    Rgb plain = device_planes(without, 3);
    ASSERT_EQ(plain.width, 1536);
    int checked = 0;
    for (int y = 0; y < 1024; y += 7)
        for (int x = 0; x < 1536; x += 5) {
            size_t i = 3 * (static_cast<size_t>(y) * 1536 + x);
            int expect = std::clamp(plain.pixels[i] + residual(x, y), 0, 255);
            EXPECT_EQ(planes.pixels[i], expect) << x << "," << y;
            EXPECT_EQ(planes.pixels[i + 1], plain.pixels[i + 1]);
            checked++;
        }
    EXPECT_GT(checked, 40000);

    ImageRec *img = load_file(with, FMT_PCD4BASE);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->width, 1536);
    EXPECT_EQ(img->height, 1024);
    EXPECT_EQ(mismatches(kodak_rgb(planes), record_to_rgb(img), 1), 0u);
    destroy_image(img);

    // ImageMagick's own packs stop after Base: no 4Base to show.
    EXPECT_EQ(load(base, FMT_PCD4BASE), nullptr);
}

TEST_F(PhotoCd, RotatedPicturesAreTurnedUpright)
{
    // ImageMagick stores a portrait picture turned to landscape with
    // rotation 1; it comes back as it was.
    Rgb portrait = pack_picture(512, 768);
    std::string path = im_pack(portrait, "portrait.pcd");
    EXPECT_EQ(read_bytes(path)[kRotationByte] & 3, 1);
    ImageRec *img = load_file(path);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->width, 512);
    EXPECT_EQ(img->height, 768);
    Rgb raw;
    ASSERT_TRUE(im_read(path, 3, true, &raw));
    ASSERT_EQ(raw.width, 512);
    EXPECT_LE(mismatches(kodak_rgb(raw), record_to_rgb(img), 1), 1u);
    destroy_image(img);

    // Every rotation written into a landscape pack: width and height
    // exchange for quarter turns, and the pixels are ImageMagick's turn
    // (which leaves rotation 2 unturned: that one we turn ourselves).
    Bytes landscape = read_bytes(im_pack(pack_picture(768, 512), "land.pcd"));
    for (int rotation = 0; rotation < 4; rotation++) {
        Bytes bytes = landscape;
        bytes[kRotationByte] = static_cast<unsigned char>((bytes[kRotationByte] & ~3) | rotation);
        std::string turned = dir.file("turned" + std::to_string(rotation) + ".pcd");
        write_bytes(turned, bytes);
        img = load_file(turned);
        ASSERT_NE(img, nullptr) << rotation;
        EXPECT_EQ(img->width, rotation % 2 ? 512 : 768) << rotation;
        EXPECT_EQ(img->height, rotation % 2 ? 768 : 512) << rotation;
        ASSERT_TRUE(im_read(turned, 3, true, &raw));
        if (rotation == 2)
            raw = half_turn(raw);
        EXPECT_LE(mismatches(kodak_rgb(raw), record_to_rgb(img), 1), 1u) << rotation;
        destroy_image(img);
    }
}

TEST_F(PhotoCd, DeviceAttributes)
{
    std::string path = im_pack(pack_picture(768, 512), "attr.pcd");
    VelaImage *dev = vela_create_from_device(image_display->state, "ioQRVXPhotoCD", nullptr);
    ASSERT_NE(dev, nullptr);
    int value = -1;
    EXPECT_EQ(vela_get_device_attribute(dev, "ROTATION", &value), 0); // no pack yet
    ASSERT_EQ(vela_set_device_attribute(dev, "FILEPATH", path.c_str()), 1);
    EXPECT_EQ(vela_get_width(dev), 192); // Base/16 until told otherwise
    EXPECT_EQ(vela_get_device_attribute(dev, "ROTATION", &value), 1);
    EXPECT_EQ(value, 0);
    const char *name = nullptr;
    EXPECT_EQ(vela_get_device_attribute(dev, "FILEPATH", &name), 1);
    EXPECT_STREQ(name, path.c_str());
    int bad = 4;
    EXPECT_EQ(vela_set_device_attribute(dev, "RESOLUTION", &bad), 0);
    EXPECT_EQ(vela_set_device_attribute(dev, "SHARPNESS", &bad), 0);
    // A failed change keeps the picture it had.
    int four_base = 3;
    EXPECT_EQ(vela_set_device_attribute(dev, "RESOLUTION", &four_base), 0);
    EXPECT_EQ(vela_get_width(dev), 192);
    EXPECT_EQ(vela_set_device_attribute(dev, "FILEPATH", "/nonexistent.pcd"), 0);
    EXPECT_EQ(vela_get_device_attribute(dev, "FILEPATH", &name), 1);
    EXPECT_STREQ(name, path.c_str());
    vela_destroy(dev);

    EXPECT_EQ(vela_create_from_device(image_display->state, "ioSomethingElse", nullptr), nullptr);
    // Ordinary images are no devices.
    VelaImage *plain = vela_create(image_display->state, 4, 4, 3, VELA_BYTE);
    EXPECT_EQ(vela_set_device_attribute(plain, "FILEPATH", path.c_str()), 0);
    vela_destroy(plain);
}

TEST_F(PhotoCd, LoadsFromMemory)
{
    Bytes bytes = read_bytes(im_pack(pack_picture(768, 512), "mem.pcd"));
    ImageRec *img = init_image("drop.pcd", "drop.pcd", static_cast<int>(bytes.size()),
                               &all_types[FMT_PCD4], reinterpret_cast<char *>(bytes.data()));
    ASSERT_EQ(photocd_load(img), 0);
    EXPECT_EQ(img->width, 384);
    destroy_image(img);
}

TEST_F(PhotoCd, DamagedPacksFailCleanly)
{
    Bytes base = read_bytes(im_pack(pack_picture(768, 512), "dmg.pcd"));
    // Cut short: each resolution needs its whole picture.
    for (size_t cut : {size_t{0}, size_t{0x800}, size_t{0x1000}, size_t{0x2000}, size_t{0xa000},
                       size_t{0xb7ff}, size_t{0x20000}, size_t{0x30000}, size_t{0xbffff}}) {
        Bytes part(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(cut));
        ImageRec *img = load(part, FMT_PCD);
        EXPECT_EQ(img, nullptr) << cut;
        destroy_image(img);
        img = load(part, FMT_PCD16);
        EXPECT_EQ(img != nullptr, cut >= 0xb000) << cut;
        destroy_image(img);
    }
    Bytes other = base;
    std::memcpy(&other[0x800], "NOT_IPI", 7);
    EXPECT_EQ(load(other), nullptr);

    // Damaged 4Base data: the table, the syncs and the codes.  Each load
    // ends quickly, whether it shows something or not.
    Bytes good = add_4base(base, true);
    auto started = std::chrono::steady_clock::now();
    Bytes long_codes = good;
    long_codes[k4BaseOffset + 1] = 16; // a 17-bit code
    EXPECT_EQ(load(long_codes, FMT_PCD4BASE), nullptr);
    Bytes no_table(good.begin(), good.begin() + k4BaseOffset + 200);
    EXPECT_EQ(load(no_table, FMT_PCD4BASE), nullptr);
    Bytes no_rows = good;
    std::fill(no_rows.begin() + k4BaseOffset + 0x800, no_rows.end(), 0);
    EXPECT_EQ(load(no_rows, FMT_PCD4BASE), nullptr);
    Bytes all_ones = good;
    std::fill(all_ones.begin() + k4BaseOffset + 0x800, all_ones.end(), 0xff);
    destroy_image(load(all_ones, FMT_PCD4BASE));
    unsigned seed = 5;
    for (int round = 0; round < 30; round++) {
        Bytes bad = good;
        for (int k = 0; k < 20; k++) {
            seed = seed * 1664525u + 1013904223u;
            size_t span = bad.size() - k4BaseOffset;
            bad[k4BaseOffset + (seed >> 8) % (round < 10 ? 0x400 : span)] =
                static_cast<unsigned char>(seed >> 24);
        }
        ImageRec *img = load(bad, FMT_PCD4BASE);
        if (img != nullptr) {
            EXPECT_EQ(img->width, 1536);
            destroy_image(img);
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 30.0);
}
