// savefile.h - writing a file without ever destroying the old one first.
//
// Every writer writes a temporary file in the target's own folder and
// renames it over the target only when the whole file is written, so a
// failed save (a full disk, an I/O error) leaves the old file as it was.
#pragma once

#include <cstdio>
#include <string>

class SafeFile {
public:
    // Creates the temporary file beside target; check ok().
    explicit SafeFile(const char *target);
    ~SafeFile();
    SafeFile(const SafeFile &) = delete;
    SafeFile &operator=(const SafeFile &) = delete;

    bool ok() const { return fp_ != nullptr || !temp_.empty(); }
    // The stream to write to (nullptr when not ok, or after close_stream).
    FILE *fp() { return fp_; }
    // The temporary file's path, for writers that open it themselves.
    const char *temp_path() const { return temp_.c_str(); }
    // Starts writing what has been written so far out to the disk, so that
    // the sync of commit() has less to wait for.  Only a hint: errors show
    // at commit().
    void start_writeback();
    // Closes the stream so that another library can write the path.
    void close_stream();
    // Flushes, syncs and renames over the target, keeping the target's
    // permissions when it existed.  Returns false (removing the temporary
    // file, errno set) on any failure.
    bool commit();

private:
    std::string target_;
    std::string temp_;
    FILE *fp_ = nullptr;
    bool committed_ = false;
};

// Test hook: when set, SafeFile::commit fails before the rename, as a full
// disk would.
extern bool savefile_fail_commit;
