// The legacy settings functions: resource names, where the settings file
// lives, the merged database's precedence, saving safely, path expansion and
// the double-click test.
#include "test_support.h"

#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <cstring>
#include <dirent.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dialogs/tessera.h"

namespace {

// Sets the settings-related environment for one test and restores it.
class SettingsEnv : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *v : kVars) {
            const char *old = std::getenv(v);
            saved_.emplace_back(v, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
            unsetenv(v);
        }
        home = dir.file("home");
        ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
        setenv("HOME", home.c_str(), 1);
        XrmInitialize();
    }
    void TearDown() override
    {
        for (auto &[name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    static void write_text(const std::string &path, const std::string &text)
    {
        write_bytes(path, std::vector<unsigned char>(text.begin(), text.end()));
    }
    static std::string read_text(const std::string &path)
    {
        std::vector<unsigned char> b = read_bytes(path);
        return std::string(b.begin(), b.end());
    }
    static std::string host()
    {
        char h[256] = "";
        gethostname(h, sizeof h - 1);
        return h;
    }
    // Returns the value of property name in db as a string ("" when absent).
    static std::string get(XrmDatabase db, const char *name)
    {
        const char *v = ts_get_resource(db, "corvat", name);
        return v != nullptr ? v : "";
    }

    static constexpr const char *kVars[] = {"HOME", "TESSERADEFAULTS", "KELDAHOME", "XENVIRONMENT"};
    TempDir dir;
    std::string home;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

using Tessera = SettingsEnv;

XEvent press(unsigned long time, int x, int y, int type = ButtonPress)
{
    XEvent ev = {};
    ev.type = type;
    ev.xbutton.time = time;
    ev.xbutton.x = x;
    ev.xbutton.y = y;
    return ev;
}

} // namespace

TEST_F(Tessera, NamesAreBuiltWithoutTouchingTheCallersWords)
{
    char app[] = "Corvat";
    char name[] = "colors";
    XrmDatabase db = nullptr;
    ts_put_resource(&db, app, name, "16");
    // Literals would fault if the first letters were changed in place.
    ts_put_resource(&db, "Corvat", "UseDSC", "True");
    EXPECT_STREQ(app, "Corvat");
    EXPECT_STREQ(name, "colors");

    std::string out = dir.file("out");
    XrmPutFileDatabase(db, out.c_str());
    std::string text = read_text(out);
    EXPECT_NE(text.find("tessera.corvat.colors:\t16\n"), std::string::npos) << text;
    EXPECT_NE(text.find("tessera.corvat.UseDSC:\tTrue\n"), std::string::npos) << text;

    // Looked up, the name keeps its case and the class takes capitals.
    EXPECT_EQ(get(db, "UseDSC"), "True");
    EXPECT_EQ(get(db, "colors"), "16");
    EXPECT_EQ(ts_get_resource(db, "corvat", "Colors"), nullptr);
    XrmDestroyDatabase(db);

    db = XrmGetStringDatabase("Tessera.Corvat.Colors: Thousands\n*DisplayPalette: False\n");
    EXPECT_EQ(get(db, "Colors"), "Thousands") << "matched by class";
    EXPECT_EQ(get(db, "DisplayPalette"), "False") << "matched by a loose binding";
    EXPECT_EQ(ts_get_resource(nullptr, "corvat", "Colors"), nullptr);
    XrmDestroyDatabase(db);
}

TEST_F(Tessera, OverlongNamesAreNeitherStoredNorFound)
{
    // "tessera." + "corvat." + name + NUL must fit in 120 bytes.
    std::string fits(120 - 15 - 1, 'N');
    std::string too_long(fits.size() + 1, 'N');
    XrmDatabase db = nullptr;
    ts_put_resource(&db, "corvat", fits.c_str(), "yes");
    ts_put_resource(&db, "corvat", too_long.c_str(), "no");
    EXPECT_EQ(get(db, fits.c_str()), "yes");
    EXPECT_EQ(ts_get_resource(db, "corvat", too_long.c_str()), nullptr);
    ts_put_resource(&db, "", "Colors", "16");
    EXPECT_EQ(ts_get_resource(db, "", "Colors"), nullptr);
    XrmDestroyDatabase(db);
}

TEST_F(Tessera, SettingsFileIsTesseraDefaultsOrTheHomeFile)
{
    EXPECT_EQ(ts_defaults_path(), home + "/.tesseradefaults");
    setenv("TESSERADEFAULTS", "", 1);
    EXPECT_EQ(ts_defaults_path(), home + "/.tesseradefaults") << "an empty variable counts as unset";
    setenv("TESSERADEFAULTS", dir.file("mine").c_str(), 1);
    EXPECT_EQ(ts_defaults_path(), dir.file("mine"));
    setenv("TESSERADEFAULTS", "~/settings/$HOME_PART", 1);
    setenv("HOME_PART", "x", 1);
    EXPECT_EQ(ts_defaults_path(), home + "/settings/x");
    unsetenv("HOME_PART");
    unsetenv("TESSERADEFAULTS");
    unsetenv("HOME");
    // Without HOME the password entry's home folder is used.
    struct passwd *pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(ts_defaults_path(), std::string(pw->pw_dir) + "/.tesseradefaults");
}

TEST_F(Tessera, TesseraDefaultsRedirectsReadingAndWriting)
{
    std::string mine = dir.file("mine");
    write_text(home + "/.tesseradefaults", "tessera.corvat.Colors: 16\n");
    write_text(mine, "tessera.corvat.Colors: BW\n");
    setenv("TESSERADEFAULTS", mine.c_str(), 1);

    XrmDatabase db = ts_load_tessera_defs();
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(get(db, "Colors"), "BW");
    ts_put_resource(&db, "Corvat", "Colors", "256");
    EXPECT_EQ(ts_save_resources(db), 0);
    XrmDestroyDatabase(db);
    EXPECT_EQ(read_text(mine), "tessera.corvat.Colors:\t256\n");
    EXPECT_EQ(read_text(home + "/.tesseradefaults"), "tessera.corvat.Colors: 16\n");

    unsetenv("TESSERADEFAULTS");
    db = ts_load_tessera_defs();
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(get(db, "Colors"), "16");
    XrmDestroyDatabase(db);
}

TEST_F(Tessera, SavingCreatesTheHomeFileAndKeepsOtherEntries)
{
    std::string file = home + "/.tesseradefaults";
    EXPECT_EQ(ts_load_tessera_defs(), nullptr);
    XrmDatabase db = nullptr;
    ts_put_resource(&db, "Corvat", "Colors", "Millions");
    EXPECT_EQ(ts_save_resources(db), 0);
    XrmDestroyDatabase(db);
    EXPECT_EQ(read_text(file), "tessera.corvat.Colors:\tMillions\n");

    // Another program's settings and odd values survive a load and save.
    write_text(file, "tessera.other.Size: 12\ntessera.corvat.Colors: 16\n"
                     "tessera.corvat.Note: two\\nlines and a \\\\ backslash\n");
    chmod(file.c_str(), 0640);
    db = ts_load_tessera_defs();
    ASSERT_NE(db, nullptr);
    ts_put_resource(&db, "Corvat", "Colors", "256");
    EXPECT_EQ(ts_save_resources(db), 0);
    XrmDestroyDatabase(db);
    db = XrmGetFileDatabase(file.c_str());
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(get(db, "Colors"), "256");
    EXPECT_EQ(get(db, "Note"), "two\nlines and a \\ backslash");
    EXPECT_STREQ(ts_get_resource(db, "other", "Size"), "12");
    XrmDestroyDatabase(db);

    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the file keeps its permissions";
    // Nothing but the settings file is left in the folder.
    DIR *d = opendir(home.c_str());
    ASSERT_NE(d, nullptr);
    std::vector<std::string> names;
    while (struct dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    closedir(d);
    EXPECT_EQ(names, std::vector<std::string>{".tesseradefaults"});
}

TEST_F(Tessera, SavingThroughALinkReplacesTheFileItNames)
{
    std::string real = dir.file("real");
    write_text(real, "tessera.corvat.Colors: 16\n");
    ASSERT_EQ(symlink(real.c_str(), (home + "/.tesseradefaults").c_str()), 0);
    XrmDatabase db = nullptr;
    ts_put_resource(&db, "Corvat", "Colors", "BW");
    EXPECT_EQ(ts_save_resources(db), 0);
    XrmDestroyDatabase(db);
    struct stat st;
    ASSERT_EQ(lstat((home + "/.tesseradefaults").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_text(real), "tessera.corvat.Colors:\tBW\n");
}

// Root may write any file, so the refusal is checked in a child that runs
// as "nobody".  The folder is nobody's, so only the refusal keeps the file
// from being replaced; a file that nobody owns is the control that saving
// works there.
TEST_F(Tessera, ReadOnlySettingsFileIsNotWritten)
{
    const uid_t nobody = 65534;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::string open_dir = dir.file("open");
    std::string locked = open_dir + "/locked", owned = open_dir + "/owned";
    const std::string original = "tessera.corvat.Colors: 16\n";
    ASSERT_EQ(mkdir(open_dir.c_str(), 0755), 0);
    write_text(locked, original);
    ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
    write_text(owned, original);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(open_dir.c_str(), nobody, nobody), 0);
        ASSERT_EQ(chown(owned.c_str(), nobody, nobody), 0);
    }
    struct stat before;
    ASSERT_EQ(stat(locked.c_str(), &before), 0);

    // Returns what ts_save_resources answered in the child for path.
    auto save_as_nobody = [&](const std::string &path) {
        pid_t pid = fork();
        if (pid == 0) {
            if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0))
                _exit(99);
            setenv("TESSERADEFAULTS", path.c_str(), 1);
            XrmDatabase db = ts_load_tessera_defs();
            if (db == nullptr)
                _exit(98);
            ts_put_resource(&db, "Corvat", "Colors", "256");
            _exit(ts_save_resources(db));
        }
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    EXPECT_EQ(save_as_nobody(locked), 1);
    EXPECT_EQ(read_text(locked), original);
    struct stat after;
    ASSERT_EQ(stat(locked.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was not replaced";

    EXPECT_EQ(save_as_nobody(owned), 0);
    EXPECT_EQ(read_text(owned), "tessera.corvat.Colors:\t256\n");

    // Writable through its group only: the new file gets the same mode, so
    // it must be written before the mode is set.
    if (geteuid() == 0) {
        std::string shared = open_dir + "/shared";
        write_text(shared, original);
        ASSERT_EQ(chown(shared.c_str(), 0, nobody), 0);
        ASSERT_EQ(chmod(shared.c_str(), 0464), 0);
        EXPECT_EQ(save_as_nobody(shared), 0);
        EXPECT_EQ(read_text(shared), "tessera.corvat.Colors:\t256\n");
        struct stat st;
        ASSERT_EQ(stat(shared.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0464u);
    }
}

TEST_F(Tessera, SavingWhereNoFileCanBeMadeFails)
{
    setenv("TESSERADEFAULTS", dir.file("missing/folder/file").c_str(), 1);
    XrmDatabase db = nullptr;
    ts_put_resource(&db, "Corvat", "Colors", "256");
    EXPECT_EQ(ts_save_resources(db), 1);
    // A folder in the file's place is not overwritten either.
    ASSERT_EQ(mkdir(dir.file("adir").c_str(), 0755), 0);
    setenv("TESSERADEFAULTS", dir.file("adir").c_str(), 1);
    EXPECT_EQ(ts_save_resources(db), 1);
    XrmDestroyDatabase(db);
}

TEST_F(Tessera, MergedDatabaseOrder)
{
    std::string kelda = dir.file("kelda");
    ASSERT_EQ(run_command("mkdir -p '" + kelda + "/lib/app-defaults'"), 0);
    write_text(kelda + "/lib/app-defaults/Tessera",
               "tessera.corvat.A: kelda\ntessera.corvat.B: kelda\n"
               "tessera.corvat.C: kelda\ntessera.corvat.D: kelda\n");
    write_text(home + "/.Xdefaults",
               "tessera.corvat.B: xdefaults\ntessera.corvat.C: xdefaults\ntessera.corvat.D: xdefaults\n"
               "tessera.corvat.E: xdefaults\n");
    write_text(home + "/.Xdefaults-" + host(), "tessera.corvat.C: host\ntessera.corvat.D: host\n");
    write_text(home + "/.tesseradefaults", "tessera.corvat.D: user\n");

    XrmDatabase db = ts_merge_resources(nullptr);
    EXPECT_EQ(get(db, "A"), "") << "app defaults only under KELDAHOME";
    EXPECT_EQ(get(db, "B"), "xdefaults");
    XrmDestroyDatabase(db);

    setenv("KELDAHOME", kelda.c_str(), 1);
    db = ts_merge_resources(nullptr);
    EXPECT_EQ(get(db, "A"), "kelda");
    EXPECT_EQ(get(db, "B"), "xdefaults");
    EXPECT_EQ(get(db, "C"), "host");
    EXPECT_EQ(get(db, "D"), "user");
    XrmDestroyDatabase(db);

    // The server's string takes the place of ~/.Xdefaults; XENVIRONMENT
    // that of ~/.Xdefaults-<host>.
    std::string env_file = dir.file("env");
    write_text(env_file, "tessera.corvat.C: environment\n");
    setenv("XENVIRONMENT", env_file.c_str(), 1);
    db = ts_merge_resources("tessera.corvat.B: server\ntessera.corvat.D: server\n");
    EXPECT_EQ(get(db, "A"), "kelda");
    EXPECT_EQ(get(db, "B"), "server");
    EXPECT_EQ(get(db, "C"), "environment");
    EXPECT_EQ(get(db, "D"), "user");
    EXPECT_EQ(get(db, "E"), "") << "~/.Xdefaults is not read when the server has resources";
    XrmDestroyDatabase(db);

    // Without a display there is no server string.
    db = ts_load_resources(nullptr);
    EXPECT_EQ(get(db, "B"), "xdefaults");
    XrmDestroyDatabase(db);
}

TEST_F(Tessera, MergedDatabaseOfNothingIsEmpty)
{
    XrmDatabase db = ts_merge_resources(nullptr);
    EXPECT_EQ(get(db, "Colors"), "");
    if (db != nullptr)
        XrmDestroyDatabase(db);
}

TEST_F(Tessera, PathExpansion)
{
    setenv("USER", "someone", 1);
    setenv("EMPTY_VAR", "", 1);
    unsetenv("ORV_UNDEFINED");
    EXPECT_EQ(ts_expand_path("~/images/$USER"), home + "/images/someone");
    EXPECT_EQ(ts_expand_path("~"), home);
    EXPECT_EQ(ts_expand_path("/a/$ORV_UNDEFINED/b"), "/a/$ORV_UNDEFINED/b");
    EXPECT_EQ(ts_expand_path("${USER}x/${ORV_UNDEFINED}"), "someonex/${ORV_UNDEFINED}");
    EXPECT_EQ(ts_expand_path("a$EMPTY_VAR.b"), "a.b") << "a defined empty variable is replaced";
    EXPECT_EQ(ts_expand_path("$"), "$");
    EXPECT_EQ(ts_expand_path("cost$5/$/x$"), "cost$5/$/x$");
    EXPECT_EQ(ts_expand_path("${USER"), "${USER");
    EXPECT_EQ(ts_expand_path("${}"), "${}");
    EXPECT_EQ(ts_expand_path("/x/~/y"), "/x/~/y") << "only a leading tilde is a home";
    struct passwd *root = getpwnam("root");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(ts_expand_path("~root/x"), std::string(root->pw_dir) + "/x");
    EXPECT_EQ(ts_expand_path("~no_such_user_orv/x"), "~no_such_user_orv/x");
    // A value is not expanded again.
    setenv("ORV_NESTED", "$USER", 1);
    EXPECT_EQ(ts_expand_path("$ORV_NESTED"), "$USER");
    unsetenv("ORV_NESTED");
    unsetenv("EMPTY_VAR");
}

TEST(TesseraDoubleClick, PressesCloseInTimeAndPlace)
{
    XEvent a = press(1000, 10, 10);
    XEvent b = press(1300, 13, 7);
    EXPECT_EQ(ts_is_double_click(&a, &b), 1);
    b = press(1450, 10, 10);
    EXPECT_EQ(ts_is_double_click(&a, &b), 0);
    b = press(1400, 14, 6);
    EXPECT_EQ(ts_is_double_click(&a, &b), 1) << "400 ms and 4 pixels are the limits";
    b = press(1401, 10, 10);
    EXPECT_EQ(ts_is_double_click(&a, &b), 0);
    b = press(1100, 15, 10);
    EXPECT_EQ(ts_is_double_click(&a, &b), 0);
    b = press(1100, 10, 5);
    EXPECT_EQ(ts_is_double_click(&a, &b), 0);
}

TEST(TesseraDoubleClick, OnlyTwoPressesInOrder)
{
    XEvent a = press(1000, 10, 10);
    XEvent release = press(1100, 10, 10, ButtonRelease);
    EXPECT_EQ(ts_is_double_click(&a, &release), 0);
    EXPECT_EQ(ts_is_double_click(&release, &a), 0);
    EXPECT_EQ(ts_is_double_click(nullptr, &a), 0);
    EXPECT_EQ(ts_is_double_click(&a, nullptr), 0);
    XEvent earlier = press(900, 10, 10);
    EXPECT_EQ(ts_is_double_click(&a, &earlier), 0) << "the second press comes after the first";
    // The server's 32-bit clock wraps.
    XEvent before_wrap = press(0xFFFFFF00ul, 10, 10);
    XEvent after_wrap = press(0x10ul, 10, 10);
    EXPECT_EQ(ts_is_double_click(&before_wrap, &after_wrap), 1);
}
