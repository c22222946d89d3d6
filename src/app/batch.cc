// batch.cc - the batch conversion path.
#include "app/batch.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/corvat.h"

void run_batch(char *)
{
    std::fprintf(stderr, "%s: Batch conversion is not available in this version.\n", prog->name);
    if (prog->output_to_stdout)
        unlink(appresources->out_file);
    if (prog->stdin_copy != nullptr)
        unlink(prog->stdin_copy);
    std::exit(1);
}
