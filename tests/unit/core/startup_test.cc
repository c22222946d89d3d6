// Start-up pieces that do not end the program: type prefixes, the input
// path, temporary names and the window-manager command.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/corvat.h"
#include "image/image.h"

namespace {

class Startup : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (prog == nullptr)
            prog = pre_init_prog();
        std::free(prog->directory);
        prog->directory = strdup("/home/someone");
        prog->timeout = 60;
        std::memset(&res, 0, sizeof res);
        res.timeout = 60;
    }
    AppResources res;
};

// Returns the NUL-separated list as a vector of strings.
std::vector<std::string> split(const char *list, int len)
{
    std::vector<std::string> out;
    for (int i = 0; i < len; i += static_cast<int>(std::strlen(list + i)) + 1)
        out.emplace_back(list + i);
    return out;
}

} // namespace

TEST_F(Startup, TypePrefixesIgnoreCase)
{
    EXPECT_EQ(parse_image_type("tiff"), 1);
    EXPECT_EQ(parse_image_type("Gif"), 2);
    EXPECT_EQ(parse_image_type("JPEG"), 13);
    EXPECT_EQ(parse_image_type("auto"), 44);
    EXPECT_EQ(parse_image_type("jpg"), -1);
    EXPECT_EQ(parse_image_type(""), -1);
    for (int i = 0; i < ctypes; i++)
        EXPECT_LT(all_conversions[i].type, ntypes);
}

TEST_F(Startup, RelativeInputIsCompletedWithTheCurrentDirectory)
{
    static char name1[] = "pics/a.gif";
    res.in_file = name1;
    char *path = parse_input_filename(prog, &res);
    EXPECT_STREQ(path, "/home/someone/pics/a.gif");
    EXPECT_STREQ(prog->directory, "/home/someone");
    std::free(path);
}

TEST_F(Startup, AbsoluteInputMovesTheChoosersToItsFolder)
{
    static char name2[] = "/usr/share/missing.gif";
    res.in_file = name2;
    char *path = parse_input_filename(prog, &res);
    EXPECT_STREQ(path, "/usr/share/missing.gif");
    EXPECT_STREQ(prog->directory, "/usr/share");
    std::free(path);

    // A folder that does not exist leaves the current directory alone.
    static char name3[] = "/no/such/folder/x.gif";
    res.in_file = name3;
    path = parse_input_filename(prog, &res);
    EXPECT_STREQ(prog->directory, "/usr/share");
    std::free(path);
}

TEST_F(Startup, TemporaryNamesAreCreatedPrivately)
{
    char *a = create_tmp_file_name("orvimage_out");
    char *b = create_tmp_file_name("orvimage_out");
    EXPECT_STRNE(a, b);
    EXPECT_NE(std::strstr(a, "/orvimage_out."), nullptr);
    struct stat st;
    ASSERT_EQ(stat(a, &st), 0) << "the file is created, not only named";
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string dir(a, std::strrchr(a, '/'));
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the folder is private";
    EXPECT_STREQ(tmp_file_base(), (dir + "/orvimage" + std::to_string(getpid())).c_str());
    std::free(a);
    std::free(b);
}

TEST_F(Startup, WindowManagerCommand)
{
    char arg0[] = "orvimage";
    char *argv[] = {arg0, nullptr};
    static char name4[] = "picture.gif";
    res.in_file = name4;
    parse_compile_wm_command(prog, &res, argv);
    EXPECT_EQ(split(prog->wm_command, prog->wm_command_len),
              (std::vector<std::string>{"orvimage", "picture.gif"}));
    EXPECT_EQ(prog->wm_command_len, 9 + 12);

    // The default time-out is left out; another one and -verbose are kept.
    prog->timeout = 120;
    res.verbose = True;
    parse_compile_wm_command(prog, &res, argv);
    EXPECT_EQ(split(prog->wm_command, prog->wm_command_len),
              (std::vector<std::string>{"orvimage", "picture.gif", "-timeout", "120", "-verbose"}));

    // A batch run restarts without its input.
    res.batch = True;
    prog->timeout = 60;
    res.verbose = False;
    parse_compile_wm_command(prog, &res, argv);
    EXPECT_EQ(split(prog->wm_command, prog->wm_command_len), (std::vector<std::string>{"orvimage"}));
}
