// open.cc - the open flow: typing files and loading them.
#include "formats/open.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/child.h"
#include "app/corvat.h"
#include "app/misc.h"
#include "app/msg.h"
#include "app/reader.h"
#include "image/image.h"
#include "platform/dt/dt.h"

namespace {

// How much decompressed data typing looks at: enough for the signatures
// that sit past the first bytes (Photo CD at 2048, PICT at 522).
constexpr size_t TYPE_BYTES = 4096;

// Returns the name typing sees for the decompressed content: the path
// without its compression suffix.
std::string uncompressed_name(const char *path)
{
    std::string name = path;
    for (const char *suffix : {".Z", ".z", ".gz"}) {
        size_t n = std::strlen(suffix);
        if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) {
            name.resize(name.size() - n);
            break;
        }
    }
    return name;
}

std::string take_type(char *type)
{
    std::string s = type != nullptr ? type : "DATA";
    DtDtsFreeDataType(type);
    return s;
}

// True when path can be read by the effective user: owner or group read
// bit, or access(2).
bool readable(const char *path, const struct stat &st)
{
    if (static_cast<int>(st.st_uid) == prog->uid && (st.st_mode & S_IRUSR))
        return true;
    if (static_cast<int>(st.st_gid) == prog->gid && (st.st_mode & S_IRGRP))
        return true;
    return access(path, R_OK) == 0;
}

} // namespace

std::string type_file(const char *path, int *compressed, const char *data, int length)
{
    std::string type = data != nullptr ? take_type(DtDtsBufferToDataType(data, length, path))
                                       : take_type(DtDtsFileToDataType(path));
    if (type != "COMPRESSED")
        return type;
    *compressed = 1;
    const char *source = path;
    if (data != nullptr) {
        if (write_tmpfile(&prog->compress_tmp, data, basename(path), length) != 0)
            return "DATA";
        source = prog->compress_tmp;
    }
    ChildReader child;
    if (!spawn_reader({zcat_path(), "-c", "--", source}, &child))
        return "DATA";
    std::vector<char> bytes(TYPE_BYTES);
    size_t n = std::fread(bytes.data(), 1, bytes.size(), child.out);
    close_reader(&child);
    return take_type(DtDtsBufferToDataType(bytes.data(), static_cast<int>(n),
                                           uncompressed_name(path).c_str()));
}

int BatchCheckLoadFile(AppResources *r)
{
    const char *name = prog->input_from_stdin ? prog->stdin_copy : r->in_file;
    struct stat st;
    if (stat(name, &st) != 0) {
        std::fprintf(stderr, catmsg(1, 117, "%s does not exist."), name);
        std::fputs("\n", stderr);
        return 0;
    }
    if (prog->input_from_stdin)
        return static_cast<int>(st.st_size);
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, catmsg(1, 469, "%s is a directory.\n"), name);
        return 0;
    }
    const char *refusal = nullptr;
    if (!S_ISREG(st.st_mode))
        refusal = catmsg(1, 111, "%s is not a regular file.");
    else if (!readable(name, st))
        refusal = catmsg(1, 113, "You do not have read permission for %s.");
    else if (st.st_size == 0)
        refusal = catmsg(1, 115, "%s is an empty file.");
    if (refusal != nullptr) {
        std::fprintf(stderr, refusal, name);
        std::fputs("\n", stderr);
        return 0;
    }
    // The size is an int in the image record; larger files keep its low
    // bits only for display, the loaders read the file itself.
    return st.st_size > 0x7fffffff ? 0x7fffffff : static_cast<int>(st.st_size);
}

int BatchLoadFile(AppResources *r, int size)
{
    const char *name = prog->input_from_stdin ? prog->stdin_copy : r->in_file;
    int index = r->in_format;
    bool retried = false;
    for (;;) {
        int compressed = 0;
        FormatEntry *row = nullptr;
        if (index == FMT_AUTO) {
            row = str_to_ftype(type_file(name, &compressed).c_str());
            if (row == nullptr) {
                std::fputs(catmsg(1, 126, "File not opened:  Unsupported format."), stderr);
                std::fputs("\n", stderr);
                return 0;
            }
        } else {
            row = &all_types[index];
        }
        if (is_postscript(row)) {
            std::fputs(catmsg(1, 12, "Cannot convert Postcript or EPSF files.\n"), stderr);
            return 0;
        }
        current_display = image_display;
        ImageRec *image = init_image(name, name, 0, row, nullptr);
        image->file_size = size;
        if (compressed)
            image->compression = COMP_UNIX;
        if (row->load != nullptr && row->load(image) == 0) {
            current_image = image;
            return 1;
        }
        destroy_image(image);
        if (index != FMT_AUTO && !retried) {
            std::fprintf(stderr, catmsg(1, 129, "Error opening file as a %s."),
                         r->in_type != nullptr ? r->in_type : row->display_name);
            std::fputs("\n", stderr);
            index = FMT_AUTO;
            retried = true;
            continue;
        }
        std::fprintf(stderr, catmsg(1, 131, "Error opening %s."), r->in_file);
        std::fputs("\n", stderr);
        return 0;
    }
}
