// Mapped reading and replace-by-rename writing of whole files: contents,
// the page-selection header, permissions, links, and failures that must
// leave the old file alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/fastio.h"

namespace {

// The header exactly as a PostScript interpreter must receive it.
std::string page_header(int page)
{
    return "%!\n"
           "userdict begin\n"
           "/CV_pagestoprint [" + std::to_string(page) + "] def\n"
           "/CV_nopages 0 def\n"
           "/CV_showpage /showpage where pop /showpage get def\n"
           "/CV_arraycontains {\n"
           "    exch false exch {\n"
           "        2 index eq {\n"
           "            pop true exit\n"
           "        } if\n"
           "    } forall\n"
           "    exch pop\n"
           "} def\n"
           "/showpage {\n"
           "    CV_pagestoprint\n"
           "    CV_nopages 1 add dup /CV_nopages exch store\n"
           "    CV_arraycontains {\n"
           "        CV_showpage\n"
           "    } {\n"
           "        erasepage\n"
           "        initgraphics\n"
           "    } ifelse\n"
           "} def\n"
           "end\n";
}

// Injected write calls: how many bytes may still be written before the
// call fails with ENOSPC, the largest piece one call takes, and how often
// a call is interrupted.
long bytes_left;
std::size_t piece;
int calls;
int interrupt_every;

ssize_t limited_write(int fd, const void *buf, std::size_t count)
{
    ++calls;
    if (interrupt_every > 0 && calls % interrupt_every == 0) {
        errno = EINTR;
        return -1;
    }
    if (bytes_left <= 0) {
        errno = ENOSPC;
        return -1;
    }
    count = std::min({count, piece, static_cast<std::size_t>(bytes_left)});
    const ssize_t n = ::write(fd, buf, count);
    if (n > 0)
        bytes_left -= n;
    return n;
}

class FastIo : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *base = std::getenv("TMPDIR");
        std::string tmpl = (base != nullptr && *base != '\0') ? base : "/tmp";
        tmpl += "/fastio-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        bytes_left = 1L << 40;
        piece = static_cast<std::size_t>(-1);
        calls = 0;
        interrupt_every = 0;
    }
    void TearDown() override
    {
        fastio_write_call = ::write;
        remove_tree(dir_);
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    // Returns the names in the test folder, "." and ".." left out.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        if (DIR *d = opendir(dir_.c_str())) {
            while (struct dirent *e = readdir(d))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    names.emplace_back(e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static void put(const std::string &file, const std::string &bytes, mode_t mode = 0644)
    {
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ASSERT_EQ(close(fd), 0);
    }

    static std::string get(const std::string &file)
    {
        std::string bytes;
        const int fd = open(file.c_str(), O_RDONLY);
        if (fd < 0)
            return "<missing>";
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            bytes.append(buf, static_cast<std::size_t>(n));
        close(fd);
        return bytes;
    }

    static mode_t mode_of(const std::string &file)
    {
        struct stat st;
        return stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }

    static void remove_tree(const std::string &p)
    {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0)
            return;
        if (S_ISDIR(st.st_mode)) {
            chmod(p.c_str(), 0700);
            if (DIR *d = opendir(p.c_str())) {
                std::vector<std::string> names;
                while (struct dirent *e = readdir(d))
                    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                        names.emplace_back(e->d_name);
                closedir(d);
                for (const std::string &n : names)
                    remove_tree(p + "/" + n);
            }
            rmdir(p.c_str());
        } else {
            unlink(p.c_str());
        }
    }

    std::string dir_;
};

const char kBinaryBytes[] = "%!PS-Adobe-3.0\n\0\x01\xff\xfe binary tail\n";
const std::string kBinary(kBinaryBytes, sizeof kBinaryBytes - 1);

TEST_F(FastIo, ReadMapsTheWholeFile)
{
    put(path("doc.ps"), kBinary);
    MappedFile *m = fast_read(path("doc.ps").c_str());
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->length, kBinary.size());
    EXPECT_EQ(std::string(m->address, m->length), kBinary);
    fast_close(m);
    fast_close(nullptr);
}

TEST_F(FastIo, ReadEmptyMissingAndFolder)
{
    put(path("empty"), "");
    MappedFile *m = fast_read(path("empty").c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->length, 0u);
    EXPECT_EQ(m->address, nullptr);
    fast_close(m);

    errno = 0;
    EXPECT_EQ(fast_read(path("missing").c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(fast_read(dir_.c_str()), nullptr);
    EXPECT_EQ(errno, EISDIR);
}

TEST_F(FastIo, WriteRoundTripLeavesOnlyTheTarget)
{
    ASSERT_EQ(fast_write(path("out.ps").c_str(), kBinary.data(), kBinary.size(), 0), 0);
    EXPECT_EQ(get(path("out.ps")), kBinary);
    ASSERT_EQ(fast_write(path("none").c_str(), nullptr, 0, 0), 0);
    EXPECT_EQ(get(path("none")), "");
    EXPECT_EQ(entries(), (std::vector<std::string>{"none", "out.ps"}));

    MappedFile *m = fast_read(path("out.ps").c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(std::string(m->address, m->length), kBinary);
    fast_close(m);
}

TEST_F(FastIo, PageHeaderPrecedesTheData)
{
    ASSERT_EQ(fast_write(path("page.ps").c_str(), kBinary.data(), kBinary.size(), 12), 0);
    const std::string got = get(path("page.ps"));
    EXPECT_EQ(got, page_header(12) + kBinary);
    EXPECT_EQ(got.compare(0, 2, "%!"), 0);
}

TEST_F(FastIo, OverwriteReplacesContentAndKeepsMode)
{
    put(path("old.ps"), std::string(10000, 'x'), 0600);
    ASSERT_EQ(chmod(path("old.ps").c_str(), 0600), 0);
    ASSERT_EQ(fast_write(path("old.ps").c_str(), "short", 5, 0), 0);
    EXPECT_EQ(get(path("old.ps")), "short");
    EXPECT_EQ(mode_of(path("old.ps")), 0600u);

    const mode_t saved = umask(027);
    const int rc = fast_write(path("new.ps").c_str(), "new", 3, 0);
    umask(saved);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(mode_of(path("new.ps")), 0640u);
}

TEST_F(FastIo, WriteThroughLinkReplacesItsTarget)
{
    ASSERT_EQ(mkdir(path("real").c_str(), 0700), 0);
    put(path("real/doc.ps"), "old");
    ASSERT_EQ(symlink("real/doc.ps", path("link.ps").c_str()), 0);
    ASSERT_EQ(fast_write(path("link.ps").c_str(), "new", 3, 0), 0);
    struct stat st;
    ASSERT_EQ(lstat(path("link.ps").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(get(path("real/doc.ps")), "new");
}

TEST_F(FastIo, UnwritableFolderFails)
{
    put(path("plain"), "a file, not a folder");
    errno = 0;
    EXPECT_EQ(fast_write(path("plain/out.ps").c_str(), "data", 4, 1), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(get(path("plain")), "a file, not a folder");

    // Not even root may create files in /proc.
    const std::string proc_target = "/proc/orvimage-fastio-test.ps";
    errno = 0;
    EXPECT_EQ(fast_write(proc_target.c_str(), "data", 4, 0), -1);
    EXPECT_NE(errno, 0);
    EXPECT_NE(access(proc_target.c_str(), F_OK), 0);
    EXPECT_EQ(entries(), (std::vector<std::string>{"plain"}));
}

TEST_F(FastIo, FailedWriteLeavesTargetIntact)
{
    const std::string old = "%!PS old document\n" + std::string(5000, 'o');
    put(path("doc.ps"), old);
    fastio_write_call = limited_write;

    // The data runs out of space half-way.
    bytes_left = 100;
    const std::string data(1000, 'n');
    errno = 0;
    EXPECT_EQ(fast_write(path("doc.ps").c_str(), data.data(), data.size(), 0), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(get(path("doc.ps")), old);

    // The header itself cannot be written.
    bytes_left = 10;
    errno = 0;
    EXPECT_EQ(fast_write(path("doc.ps").c_str(), "x", 1, 3), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(get(path("doc.ps")), old);

    // A new file that fails is not left behind either.
    bytes_left = 0;
    EXPECT_EQ(fast_write(path("new.ps").c_str(), "x", 1, 0), -1);
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.ps"}));
}

TEST_F(FastIo, ShortAndInterruptedWritesAreResumed)
{
    fastio_write_call = limited_write;
    piece = 7;
    interrupt_every = 3;
    const std::string data(5000, 'd');
    ASSERT_EQ(fast_write(path("doc.ps").c_str(), data.data(), data.size(), 2), 0);
    EXPECT_EQ(get(path("doc.ps")), page_header(2) + data);
    EXPECT_GT(calls, 700);
}

TEST_F(FastIo, FolderInTheTargetsPlaceIsKept)
{
    ASSERT_EQ(mkdir(path("doc.ps").c_str(), 0700), 0);
    put(path("doc.ps/inside"), "kept");
    EXPECT_EQ(fast_write(path("doc.ps").c_str(), "data", 4, 0), -1);
    EXPECT_EQ(get(path("doc.ps/inside")), "kept");
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.ps"}));
}

TEST_F(FastIo, ReadOnlyFileIsNotReplaced)
{
    put(path("locked.ps"), "locked");
    ASSERT_EQ(chmod(path("locked.ps").c_str(), 0444), 0);
    // Root may write anything, so an unprivileged child does the writing.
    const uid_t nobody = 65534;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir_.c_str(), nobody, nobody), 0);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(2);
        errno = 0;
        const int rc = fast_write(path("locked.ps").c_str(), "new", 3, 0);
        _exit(rc == -1 && errno == EACCES ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(get(path("locked.ps")), "locked");
    EXPECT_EQ(entries(), (std::vector<std::string>{"locked.ps"}));
}

} // namespace
