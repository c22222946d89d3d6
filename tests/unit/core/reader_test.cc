// The input layer's four sources (memory, file, decompressing pipe,
// converter pipe), temporary files and the decompressed copies.
#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include "app/misc.h"
#include "app/reader.h"

namespace {

class Reader : public ::testing::Test {
protected:
    void SetUp() override { ensure_program(); }
    void TearDown() override { closefile(); }

    // Returns everything the current input yields, read in pieces of n.
    static std::string drain(size_t n)
    {
        std::string all;
        std::vector<char> buf(n);
        size_t got;
        while ((got = im_fread(buf.data(), 1, n)) > 0)
            all.append(buf.data(), got);
        return all;
    }
    TempDir dir;
};

std::string pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return s;
}

} // namespace

TEST_F(Reader, MemoryIsBoundedByItsLength)
{
    std::string data = "abcdefgh";
    ASSERT_EQ(openfile("x", "x", 0, data.data(), 5), 0);
    EXPECT_FALSE(im_is_pipe());
    char buf[4];
    EXPECT_EQ(im_fread(buf, 2, 2), 2u);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(im_fread(buf, 2, 2), 0u) << "one byte is not a whole item";
    EXPECT_EQ(im_fgetc(), 'e');
    EXPECT_EQ(im_fgetc(), EOF);
}

TEST_F(Reader, FilesAndCompressedFilesReadTheSame)
{
    std::string data = pattern(100000);
    std::string path = dir.file("data.bin");
    write_bytes(path, std::vector<unsigned char>(data.begin(), data.end()));
    ASSERT_EQ(openfile(path.c_str(), path.c_str(), 0, nullptr, 0), 0);
    EXPECT_EQ(drain(4096), data);
    closefile();

    ASSERT_EQ(run_command("compress -c '" + path + "' > '" + path + ".Z'"), 0);
    std::string z = path + ".Z";
    ASSERT_EQ(openfile(z.c_str(), z.c_str(), 1, nullptr, 0), 0);
    EXPECT_TRUE(im_is_pipe());
    // Large requests from a pipe are filled across many short reads.
    std::vector<char> all(data.size());
    EXPECT_EQ(im_fread(all.data(), 1, all.size()), data.size());
    EXPECT_EQ(std::string(all.begin(), all.end()), data);
    EXPECT_EQ(im_fgetc(), EOF);
    closefile();

    // Compressed bytes in memory go through a temporary copy.
    std::vector<unsigned char> zbytes = read_bytes(z);
    ASSERT_EQ(openfile("drop.bin.Z", "drop.bin.Z", 1, reinterpret_cast<const char *>(zbytes.data()),
                       static_cast<int>(zbytes.size())),
              0);
    EXPECT_EQ(drain(3000), data);
}

TEST_F(Reader, APipeThatEndsEarlyGivesWhatArrived)
{
    // Random bytes do not compress, so cutting the compressed file cuts
    // the data.
    std::string data(200000, '\0');
    unsigned s = 99;
    for (char &ch : data) {
        s = s * 1103515245u + 12345u;
        ch = static_cast<char>(s >> 23);
    }
    std::string path = dir.file("cut.bin");
    write_bytes(path, std::vector<unsigned char>(data.begin(), data.end()));
    ASSERT_EQ(run_command("gzip -c '" + path + "' | head -c 20000 > '" + path + ".Z'"), 0);
    std::string z = path + ".Z";
    ASSERT_EQ(openfile(z.c_str(), z.c_str(), 1, nullptr, 0), 0);
    std::vector<char> all(data.size());
    size_t got = im_fread(all.data(), 1, all.size());
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, data.size());
    EXPECT_EQ(std::string(all.begin(), all.begin() + static_cast<long>(got)), data.substr(0, got));
}

TEST_F(Reader, ConvertersGetTheFileAsTheirArgument)
{
    // A name full of shell syntax reaches the converter as one argument.
    std::string path = dir.file("it's $(touch pwned); a \"file\".pgm");
    write_bytes(path, {'P', '5', '\n', '1', ' ', '1', '\n', '2', '5', '5', '\n', 42});
    ASSERT_EQ(openfile_filter(path.c_str(), path.c_str(), 0, nullptr, "/usr/bin/pamtopnm", 0), 0);
    EXPECT_TRUE(im_is_pipe());
    std::string out = drain(7);
    EXPECT_EQ(out.substr(0, 2), "P5");
    EXPECT_EQ(out.back(), 42);
    closefile();
    struct stat st;
    EXPECT_NE(stat("pwned", &st), 0);
    EXPECT_NE(stat(dir.file("pwned").c_str(), &st), 0);

    // A converter that does not exist gives no input.
    if (openfile_filter(path.c_str(), path.c_str(), 0, nullptr, "/nonexistent/topnm", 0) == 0) {
        EXPECT_EQ(im_fgetc(), EOF);
    }
}

TEST_F(Reader, DecompressedCopiesAreReusedOnlyForTheSameFile)
{
    std::string a = dir.file("a"), b_dir = dir.file("b");
    ASSERT_EQ(mkdir(b_dir.c_str(), 0700), 0);
    std::string b = b_dir + "/a";
    write_bytes(a, {'o', 'n', 'e'});
    write_bytes(b, {'t', 'w', 'o'});
    ASSERT_EQ(run_command("compress -f '" + a + "' '" + b + "'"), 0);
    std::string az = a + ".Z", bz = b + ".Z";

    const char *first = file_to_open(az.c_str(), az.c_str(), 1, nullptr, 0);
    ASSERT_NE(first, nullptr);
    std::string first_path = first;
    struct stat st1;
    ASSERT_EQ(stat(first_path.c_str(), &st1), 0);
    EXPECT_EQ(read_bytes(first_path), (std::vector<unsigned char>{'o', 'n', 'e'}));
    // The same file again: the earlier decompression is used.
    const char *again = file_to_open(az.c_str(), az.c_str(), 1, nullptr, 0);
    ASSERT_NE(again, nullptr);
    struct stat st2;
    ASSERT_EQ(stat(again, &st2), 0);
    EXPECT_EQ(st1.st_ino, st2.st_ino);
    // Another file of the same name is decompressed afresh.
    const char *other = file_to_open(bz.c_str(), bz.c_str(), 1, nullptr, 0);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(read_bytes(other), (std::vector<unsigned char>{'t', 'w', 'o'}));
}

TEST_F(Reader, TemporaryFilesLiveInThePrivateFolder)
{
    char *slot = nullptr;
    EXPECT_EQ(make_tmpfile(&slot, "x.gif"), 1);
    ASSERT_NE(slot, nullptr);
    std::string name = slot;
    EXPECT_EQ(name, std::string(tmp_file_base()) + ".x.gif");
    EXPECT_EQ(make_tmpfile(&slot, "x.gif"), 0);
    ASSERT_EQ(write_tmpfile(&slot, "abc", "y.gif", 3), 0);
    EXPECT_EQ(read_bytes(slot), (std::vector<unsigned char>{'a', 'b', 'c'}));
    // A second write of the same name holds the new contents.
    ASSERT_EQ(write_tmpfile(&slot, "de", "y.gif", 2), 0);
    EXPECT_EQ(read_bytes(slot), (std::vector<unsigned char>{'d', 'e'}));
    std::string y = slot;
    // A new name removes the slot's previous file.
    EXPECT_EQ(make_tmpfile(&slot, "z.gif"), 1);
    struct stat st;
    EXPECT_NE(stat(y.c_str(), &st), 0);
    std::free(slot);
}

TEST(Misc, PathsAndBlanks)
{
    EXPECT_STREQ(basename("/a/b/c.gif"), "c.gif");
    EXPECT_STREQ(basename("plain.gif"), "plain.gif");
    char *dir = strip_filename("/a/b/c.gif");
    EXPECT_STREQ(dir, "/a/b");
    std::free(dir);
    dir = strip_filename("/c.gif");
    EXPECT_STREQ(dir, "");
    std::free(dir);
    EXPECT_TRUE(AllBlanks(""));
    EXPECT_TRUE(AllBlanks("   "));
    EXPECT_FALSE(AllBlanks(" a "));
    EXPECT_FALSE(AllBlanks("\t"));
    EXPECT_FALSE(AllBlanks(nullptr));
    float v = 0;
    EXPECT_EQ(check_float_value("2.5", &v), 0);
    EXPECT_FLOAT_EQ(v, 2.5f);
    EXPECT_EQ(check_float_value("2.5x", &v), -1);
    EXPECT_EQ(check_float_value("", &v), -1);
    EXPECT_EQ(check_float_value("nan", &v), -1);
}
