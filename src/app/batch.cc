// batch.cc - the batch conversion path: load one file, write it in another
// format, exit.  It needs no display.
#include "app/batch.h"

#include <X11/Intrinsic.h>
#include <Xm/Xm.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/corvat.h"
#include "app/msg.h"
#include "formats/open.h"
#include "formats/save.h"
#include "image/vela_iface.h"

namespace {

// Removes the temporary files of a failed run and exits with status 1.
[[noreturn]] void batch_failed()
{
    if (prog->output_to_stdout)
        unlink(appresources->out_file);
    if (prog->stdin_copy != nullptr)
        unlink(prog->stdin_copy);
    std::exit(1);
}

// Copies the finished output to standard output; false on an error.
bool copy_to_stdout(const char *path)
{
    FILE *in = std::fopen(path, "r");
    if (in == nullptr)
        return false;
    char buf[2048];
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0)
        ok = std::fwrite(buf, 1, n, stdout) == n;
    ok = ok && !std::ferror(in);
    std::fclose(in);
    return std::fflush(stdout) == 0 && ok;
}

} // namespace

void run_batch(char *)
{
    if (app_shell != nullptr) {
        XtVaSetValues(app_shell, XmNmappedWhenManaged, False, nullptr);
        XtRealizeWidget(app_shell);
    }
    if (appresources->snapshot) {
        std::fprintf(stderr, catmsg(2, 16, "%s: %s is not available in this version.\n"),
                     prog->name, "Snapshot capture");
        batch_failed();
    }
    int size = BatchCheckLoadFile(appresources);
    if (size <= 0 || !BatchCheckSaveFile(appresources) || BaseVelaCreateObject() != 0 ||
        !BatchLoadFile(appresources, size))
        batch_failed();
    if (prog->stdin_copy != nullptr) {
        unlink(prog->stdin_copy);
        std::free(prog->stdin_copy);
        prog->stdin_copy = nullptr;
    }
    if (!BatchSaveFile(appresources))
        batch_failed();
    if (prog->output_to_stdout) {
        bool ok = copy_to_stdout(appresources->out_file);
        unlink(appresources->out_file);
        if (!ok)
            batch_failed();
    }
    std::exit(0);
}
