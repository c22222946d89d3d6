// reader.cc - the shared input layer and temporary files.
#include "app/reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/child.h"
#include "app/corvat.h"
#include "app/misc.h"

namespace {

// The one input being read.
struct ReaderState {
    FILE *stream = nullptr;
    ChildReader child;          // set while reading a child's output
    const unsigned char *mem = nullptr; // next byte when reading from memory
    const unsigned char *mem_end = nullptr;
};
ReaderState reader;

// Which file the converter-input slot holds, so that a second request for
// the same compressed file reuses its decompression and another file of the
// same name does not.
struct Decompressed {
    std::string source;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    time_t mtime = 0;
};
Decompressed last_decompressed;

// Writes all of data to fd; false on a failure.
bool write_all(FILE *fp, const char *data, size_t length)
{
    return length == 0 || std::fwrite(data, 1, length, fp) == length;
}

// Starts zcat on path as the current input.
bool open_zcat(const char *path)
{
    if (!spawn_reader({zcat_path(), "-c", "--", path}, &reader.child))
        return false;
    reader.stream = reader.child.out;
    return true;
}

} // namespace

int make_tmpfile(char **slot, const char *name)
{
    const char *base = tmp_file_base();
    if (base == nullptr)
        return -1;
    std::string candidate = std::string(base) + "." + name;
    if (*slot != nullptr && candidate == *slot)
        return 0;
    if (*slot != nullptr) {
        unlink(*slot);
        std::free(*slot);
    }
    *slot = xstrdup(candidate.c_str());
    return 1;
}

int write_tmpfile(char **slot, const char *data, const char *name, int length)
{
    // The file is always written afresh: an earlier file of the same name
    // may hold other contents (a different drop of the same name).
    if (make_tmpfile(slot, name) < 0)
        return -1;
    FILE *fp = std::fopen(*slot, "w");
    if (fp == nullptr)
        return -1;
    bool ok = length >= 0 && write_all(fp, data, static_cast<size_t>(length));
    ok = (std::fclose(fp) == 0) && ok;
    if (!ok) {
        unlink(*slot);
        std::free(*slot);
        *slot = nullptr;
        return -1;
    }
    return 0;
}

int openfile(const char *name, const char *path, int compressed, const char *data, int length)
{
    closefile();
    if (data != nullptr && !compressed) {
        reader.mem = reinterpret_cast<const unsigned char *>(data);
        reader.mem_end = reader.mem + (length > 0 ? length : 0);
        return 0;
    }
    if (data != nullptr) {
        if (write_tmpfile(&prog->compress_tmp, data, basename(name), length) != 0)
            return -1;
        path = prog->compress_tmp;
    }
    if (compressed)
        return open_zcat(path) ? 0 : -1;
    reader.stream = std::fopen(path, "r");
    return reader.stream != nullptr ? 0 : -1;
}

const char *file_to_open(const char *name, const char *path, int compressed, const char *data,
                         int length)
{
    if (data != nullptr) {
        char **slot = compressed ? &prog->compress_tmp : &prog->decompress_tmp;
        if (write_tmpfile(slot, data, basename(name), length) != 0)
            return nullptr;
        if (!compressed)
            last_decompressed = Decompressed{};
        path = *slot;
    }
    if (!compressed)
        return path;

    // The decompressed copy is named after the document without ".Z".
    std::string plain = basename(name);
    if (plain.size() > 2)
        plain.resize(plain.size() - 2);
    struct stat st;
    if (stat(path, &st) != 0)
        return nullptr;
    int fresh = make_tmpfile(&prog->decompress_tmp, plain.c_str());
    if (fresh < 0)
        return nullptr;
    bool same = last_decompressed.source == path && last_decompressed.dev == st.st_dev &&
                last_decompressed.ino == st.st_ino && last_decompressed.size == st.st_size &&
                last_decompressed.mtime == st.st_mtime;
    if (fresh == 0 && same)
        return prog->decompress_tmp;

    last_decompressed = Decompressed{};
    ChildReader child;
    if (!spawn_reader({zcat_path(), "-c", "--", path}, &child))
        return nullptr;
    FILE *out = std::fopen(prog->decompress_tmp, "w");
    if (out == nullptr) {
        close_reader(&child);
        return nullptr;
    }
    char buf[2048];
    size_t n;
    bool ok = true;
    while ((n = std::fread(buf, 1, sizeof buf, child.out)) > 0)
        ok = ok && std::fwrite(buf, 1, n, out) == n;
    close_reader(&child);
    if (std::fclose(out) != 0 || !ok) {
        unlink(prog->decompress_tmp);
        return nullptr;
    }
    last_decompressed = Decompressed{path, st.st_dev, st.st_ino, st.st_size, st.st_mtime};
    return prog->decompress_tmp;
}

int openfile_filter(const char *name, const char *path, int compressed, const char *data,
                    const char *converter, int length)
{
    closefile();
    const char *file = file_to_open(name, path, compressed, data, length);
    if (file == nullptr || converter == nullptr)
        return -1;
    if (!spawn_reader({converter, file}, &reader.child))
        return -1;
    reader.stream = reader.child.out;
    return 0;
}

void closefile()
{
    if (reader.child.pid >= 0) {
        close_reader(&reader.child);
    } else if (reader.stream != nullptr) {
        std::fclose(reader.stream);
    }
    reader.stream = nullptr;
    reader.child.out = nullptr;
    reader.mem = nullptr;
    reader.mem_end = nullptr;
}

bool im_is_pipe()
{
    return reader.child.pid >= 0;
}

size_t im_fread(void *buffer, size_t size, size_t count)
{
    if (size == 0 || count == 0)
        return 0;
    if (reader.mem != nullptr) {
        size_t avail = static_cast<size_t>(reader.mem_end - reader.mem) / size;
        size_t n = count < avail ? count : avail;
        std::memcpy(buffer, reader.mem, n * size);
        reader.mem += n * size;
        return n;
    }
    if (reader.stream == nullptr)
        return 0;
    // stdio keeps reading a pipe until the amount has arrived or it ends.
    return std::fread(buffer, size, count, reader.stream);
}

int im_fgetc()
{
    if (reader.mem != nullptr)
        return reader.mem < reader.mem_end ? *reader.mem++ : EOF;
    if (reader.stream == nullptr)
        return EOF;
    return std::fgetc(reader.stream);
}
