// savefile.cc - temporary-file-and-rename writing.
#include "formats/savefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

bool savefile_fail_commit = false;

SafeFile::SafeFile(const char *target) : target_(target)
{
    std::string dir = ".", base = target_;
    size_t slash = target_.rfind('/');
    if (slash != std::string::npos) {
        dir = slash == 0 ? "/" : target_.substr(0, slash);
        base = target_.substr(slash + 1);
    }
    std::string tmpl = dir + (dir == "/" ? "" : "/") + "." + base + ".XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0)
        return;
    temp_ = tmpl;
    fp_ = fdopen(fd, "w");
    if (fp_ == nullptr) {
        close(fd);
        unlink(temp_.c_str());
        temp_.clear();
    }
}

SafeFile::~SafeFile()
{
    if (fp_ != nullptr)
        std::fclose(fp_);
    if (!committed_ && !temp_.empty())
        unlink(temp_.c_str());
}

void SafeFile::start_writeback()
{
    if (fp_ != nullptr && std::fflush(fp_) == 0)
        sync_file_range(fileno(fp_), 0, 0, SYNC_FILE_RANGE_WRITE);
}

void SafeFile::close_stream()
{
    if (fp_ != nullptr) {
        std::fclose(fp_);
        fp_ = nullptr;
    }
}

bool SafeFile::commit()
{
    if (temp_.empty())
        return false;
    bool ok = true;
    if (fp_ != nullptr) {
        ok = std::fflush(fp_) == 0 && !std::ferror(fp_) && fsync(fileno(fp_)) == 0;
        int saved = errno;
        ok = (std::fclose(fp_) == 0) && ok;
        fp_ = nullptr;
        if (!ok && saved != 0)
            errno = saved;
    }
    if (ok && savefile_fail_commit) {
        errno = ENOSPC;
        ok = false;
    }
    if (ok) {
        // A new file gets the permissions fopen would give it; an existing
        // file keeps its own.
        struct stat st;
        mode_t mode;
        if (stat(target_.c_str(), &st) == 0) {
            mode = st.st_mode & 07777;
        } else {
            mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        }
        ok = chmod(temp_.c_str(), mode) == 0 && rename(temp_.c_str(), target_.c_str()) == 0;
    }
    if (!ok) {
        int saved = errno;
        unlink(temp_.c_str());
        errno = saved;
        return false;
    }
    committed_ = true;
    return true;
}
