// fastio.cc - mapped reading and replace-by-rename writing of whole files.
#include "app/fastio.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

ssize_t (*fastio_write_call)(int fd, const void *buf, std::size_t count) = ::write;

namespace {

// Closes a descriptor when it goes out of scope, keeping errno.
class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser()
    {
        const int saved = errno;
        close(fd_);
        errno = saved;
    }
    FdCloser(const FdCloser &) = delete;
    FdCloser &operator=(const FdCloser &) = delete;

private:
    int fd_;
};

// A temporary file being written: closed and removed when it goes out of
// scope unless it was committed, keeping errno.
class TempFile {
public:
    TempFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~TempFile()
    {
        if (committed_)
            return;
        const int saved = errno;
        if (fd_ >= 0)
            close(fd_);
        unlink(path_.c_str());
        errno = saved;
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    int fd() const { return fd_; }
    const std::string &path() const { return path_; }
    // Returns close's result; the descriptor is gone either way.
    int close_fd()
    {
        const int rc = close(fd_);
        fd_ = -1;
        return rc;
    }
    void commit() { committed_ = true; }

private:
    int fd_;
    std::string path_;
    bool committed_ = false;
};

// Returns 0 when all length bytes reached fd, -1 with errno set otherwise.
int write_all(int fd, const char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = fastio_write_call(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0) {
            // A write that makes no progress would loop for ever.
            errno = EIO;
            return -1;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Returns the file a write to path replaces: the end of its chain of
// symbolic links when it exists, else path itself.
std::string replaced_file(const char *path)
{
    if (char *real = realpath(path, nullptr)) {
        std::string r = real;
        std::free(real);
        return r;
    }
    return path;
}

// Returns the folder holding file ("." for a bare name).
std::string folder_of(const std::string &file)
{
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return file.substr(0, slash);
}

// Returns the permission bits the written file gets: the existing file's,
// or those open(..., 0644) would give a new one.
mode_t new_mode(const std::string &file)
{
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 0777;
    // Reading the umask means setting it; the viewer has one thread.
    const mode_t mask = umask(022);
    umask(mask);
    return 0644 & ~mask;
}

} // namespace

MappedFile *fast_read(const char *path)
{
    // Non-blocking, so that a FIFO given by mistake cannot hang the open.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    FdCloser closer(fd);
    struct stat st;
    if (fstat(fd, &st) != 0)
        return nullptr;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > SIZE_MAX) {
        errno = EFBIG;
        return nullptr;
    }
    auto *file = new (std::nothrow) MappedFile{nullptr, static_cast<std::size_t>(st.st_size)};
    if (file == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    if (file->length == 0)
        return file;  // mmap refuses a length of 0
    void *addr = mmap(nullptr, file->length, PROT_READ, MAP_PRIVATE, fd, 0);
    if (addr == MAP_FAILED) {
        delete file;
        return nullptr;
    }
    file->address = static_cast<const char *>(addr);
    return file;
}

void fast_close(MappedFile *file)
{
    if (file == nullptr)
        return;
    if (file->address != nullptr)
        munmap(const_cast<char *>(file->address), file->length);
    delete file;
}

int fast_write(const char *path, const void *data, std::size_t length, int page)
{
    if (path == nullptr || *path == '\0' || (data == nullptr && length > 0)) {
        errno = EINVAL;
        return -1;
    }
    const std::string target = replaced_file(path);
    // Writing in place would be refused for a file we may not write; so is
    // replacing it.
    if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
        return -1;
    const mode_t mode = new_mode(target);

    // The new file lives beside the target, so the rename stays within one
    // file system and is atomic.
    std::string tmpl = folder_of(target) + "/.orvimage-XXXXXX";
    const int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    TempFile tmp(fd, std::move(tmpl));

    if (page != 0 && prepend_ps(tmp.fd(), page) != 0)
        return -1;
    if (write_all(tmp.fd(), static_cast<const char *>(data), length) != 0)
        return -1;
    if (fchmod(tmp.fd(), mode) != 0 || fsync(tmp.fd()) != 0)
        return -1;
    if (tmp.close_fd() != 0)
        return -1;
    if (rename(tmp.path().c_str(), target.c_str()) != 0)
        return -1;
    tmp.commit();
    return 0;
}

int prepend_ps(int fd, int page)
{
    // A PostScript file must begin with "%!" to be taken for one.
    static const char header[] =
        "%%!\n"
        "userdict begin\n"
        "/CV_pagestoprint [%d] def\n"
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
    char text[sizeof header + 16];
    const int n = std::snprintf(text, sizeof text, header, page);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof text) {
        errno = EOVERFLOW;
        return -1;
    }
    return write_all(fd, text, static_cast<std::size_t>(n));
}
