/*
 * state.cc - library states and error reporting: opening and closing a
 * state, the error handler and the error record it is handed.
 */
#include <cstdarg>
#include <cstdio>

#include "colour.h"
#include "image.h"

namespace {

// Prints primary errors to standard error; returns 1 (always handled).
int default_handler(VelaError *err)
{
    if (err->primary)
        std::fprintf(stderr, "vela: %s\n", err->string);
    return 1;
}

} // namespace

namespace vela {

void report(VelaState *state, int category, const char *fmt, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);

    VelaError err{category, 1, text};
    // A handler that declines the error leaves it to the default one.
    if (state && state->handler && state->handler(&err))
        return;
    default_handler(&err);
}

} // namespace vela

extern "C" {

VelaState *vela_open(void)
{
    auto *state = static_cast<VelaState *>(std::calloc(1, sizeof(VelaState)));
    if (!state) {
        vela::report(nullptr, VELA_ERROR_RESOURCE, "vela_open: out of memory");
        return nullptr;
    }
    state->handler = nullptr;
    return state;
}

void vela_close(VelaState *state)
{
    if (!state)
        return;
    vela::colour_state_release(state);
    std::free(state);
}

int vela_install_error_handler(VelaState *state, VelaErrorFunc handler)
{
    if (!state) {
        vela::report(nullptr, VELA_ERROR_USER, "vela_install_error_handler: no state");
        return 0;
    }
    state->handler = handler;
    return 1;
}

int vela_error_get_category(VelaError *err)
{
    return err ? err->category : VELA_ERROR_INTERNAL;
}

int vela_error_get_primary(VelaError *err)
{
    return err ? err->primary : 0;
}

const char *vela_error_get_string(VelaError *err)
{
    return err ? err->string : "";
}

} // extern "C"
