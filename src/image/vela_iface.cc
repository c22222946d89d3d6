// vela_iface.cc - loading libvela.so.1 and forwarding calls to it.
#include "image/vela_iface.h"

#include <X11/Intrinsic.h>
#include <Xm/Xm.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "app/alert.h"
#include "app/corvat.h"
#include "app/misc.h"
#include "app/msg.h"
#include "image/image.h"

// Every function of vela.h: return type, name, parameters, arguments.
#define VELA_FUNCTIONS(X)                                                                          \
    X(VelaState *, vela_open, (void), ())                                                          \
    X(void, vela_close, (VelaState * s), (s))                                                      \
    X(int, vela_install_error_handler, (VelaState * s, VelaErrorFunc f), (s, f))                   \
    X(int, vela_error_get_category, (VelaError * e), (e))                                          \
    X(int, vela_error_get_primary, (VelaError * e), (e))                                           \
    X(const char *, vela_error_get_string, (VelaError * e), (e))                                   \
    X(VelaImage *, vela_create, (VelaState * s, int w, int h, int b, int t), (s, w, h, b, t))      \
    X(VelaImage *, vela_create_copy, (VelaImage * i, int x, int y, int w, int h, int b0, int nb),  \
      (i, x, y, w, h, b0, nb))                                                                     \
    X(VelaImage *, vela_create_child, (VelaImage * i, int x, int y, int w, int h, int b0, int nb), \
      (i, x, y, w, h, b0, nb))                                                                     \
    X(void, vela_destroy, (VelaImage * i), (i))                                                    \
    X(void, vela_get_info, (VelaImage * i, int *w, int *h, int *b, int *t), (i, w, h, b, t))       \
    X(int, vela_get_width, (VelaImage * i), (i))                                                   \
    X(int, vela_get_height, (VelaImage * i), (i))                                                  \
    X(int, vela_get_nbands, (VelaImage * i), (i))                                                  \
    X(int, vela_get_datatype, (VelaImage * i), (i))                                                \
    X(VelaState *, vela_get_state, (VelaImage * i), (i))                                           \
    X(int, vela_set_origin, (VelaImage * i, float x, float y), (i, x, y))                          \
    X(void, vela_get_origin, (VelaImage * i, float *x, float *y), (i, x, y))                       \
    X(int, vela_set_value, (VelaImage * i, const float *v), (i, v))                                \
    X(int, vela_copy, (VelaImage * s, VelaImage * d), (s, d))                                      \
    X(int, vela_export, (VelaImage * i), (i))                                                      \
    X(int, vela_get_memory_storage, (VelaImage * i, VelaMemoryStorage * m), (i, m))                \
    X(int, vela_set_memory_storage, (VelaImage * i, const VelaMemoryStorage *m), (i, m))           \
    X(int, vela_import, (VelaImage * i, int c), (i, c))                                            \
    X(int, vela_is_exported, (VelaImage * i), (i))                                                 \
    X(VelaRoi *, vela_roi_create, (VelaState * s), (s))                                            \
    X(int, vela_roi_add_rect, (VelaRoi * r, int x, int y, int w, int h), (r, x, y, w, h))          \
    X(int, vela_set_roi, (VelaImage * i, VelaRoi * r), (i, r))                                     \
    X(void, vela_roi_destroy, (VelaRoi * r), (r))                                                  \
    X(int, vela_cast, (VelaImage * s, VelaImage * d), (s, d))                                      \
    X(int, vela_add_const, (VelaImage * s, const float *v, VelaImage *d), (s, v, d))               \
    X(int, vela_subtract_const, (VelaImage * s, const float *v, VelaImage *d), (s, v, d))          \
    X(int, vela_multiply_const, (VelaImage * s, const float *v, VelaImage *d), (s, v, d))          \
    X(int, vela_rescale, (VelaImage * s, VelaImage * d, const float *sc, const float *of),         \
      (s, d, sc, of))                                                                              \
    X(int, vela_affine, (VelaImage * s, VelaImage * d, const char *n, const float *m),             \
      (s, d, n, m))                                                                                \
    X(int, vela_scale, (VelaImage * s, VelaImage * d, const char *n, float x, float y),            \
      (s, d, n, x, y))                                                                             \
    X(int, vela_rotate, (VelaImage * s, VelaImage * d, const char *n, float a), (s, d, n, a))      \
    X(VelaLookup *, vela_lookup_create,                                                            \
      (VelaState * s, int it, int ot, int nb, int n, int off, const unsigned char *v),             \
      (s, it, ot, nb, n, off, v))                                                                  \
    X(void, vela_lookup_destroy, (VelaLookup * l), (l))                                            \
    X(VelaLookup *, vela_lookup_get_by_name, (VelaState * s, const char *n), (s, n))               \
    X(int, vela_lookup, (VelaImage * s, VelaImage * d, VelaLookup * l), (s, d, l))                 \
    X(int, vela_lookup_get_values, (VelaLookup * l, int f, int n, unsigned char *v), (l, f, n, v)) \
    X(int, vela_lookup_set_values, (VelaLookup * l, int f, int n, const unsigned char *v),         \
      (l, f, n, v))                                                                                \
    X(int, vela_lookup_get_offset, (VelaLookup * l), (l))                                          \
    X(int, vela_lookup_set_offset, (VelaLookup * l, int o), (l, o))                                \
    X(int, vela_lookup_get_num_entries, (VelaLookup * l), (l))                                     \
    X(int, vela_lookup_get_nbands, (VelaLookup * l), (l))                                          \
    X(VelaLookup *, vela_lookup_convert, (VelaLookup * a, VelaLookup * b), (a, b))                 \
    X(VelaLookup *, vela_colorcube_create,                                                         \
      (VelaState * s, int it, int ot, int nb, int off, const int *m, const unsigned int *d),       \
      (s, it, ot, nb, off, m, d))                                                                  \
    X(VelaLookup *, vela_choose_colormap, (VelaImage * i, int n), (i, n))                          \
    X(int, vela_nearest_color, (VelaImage * s, VelaImage * d, VelaLookup * l), (s, d, l))          \
    X(VelaDitherMask *, vela_dithermask_create,                                                    \
      (VelaState * s, int w, int h, int nb, const float *v), (s, w, h, nb, v))                     \
    X(void, vela_dithermask_destroy, (VelaDitherMask * m), (m))                                    \
    X(VelaDitherMask *, vela_dithermask_get_by_name, (VelaState * s, const char *n), (s, n))       \
    X(int, vela_ordered_dither, (VelaImage * s, VelaImage * d, VelaLookup * c, VelaDitherMask * m), \
      (s, d, c, m))                                                                                \
    X(VelaKernel *, vela_kernel_get_by_name, (VelaState * s, const char *n), (s, n))               \
    X(int, vela_error_diffusion, (VelaImage * s, VelaImage * d, VelaLookup * c, VelaKernel * k),   \
      (s, d, c, k))                                                                                \
    X(VelaColorSpace *, vela_colorspace_get_by_name, (VelaState * s, const char *n), (s, n))       \
    X(int, vela_set_colorspace, (VelaImage * i, VelaColorSpace * c), (i, c))                       \
    X(VelaColorSpace *, vela_get_colorspace, (VelaImage * i), (i))                                 \
    X(int, vela_color_convert, (VelaImage * s, VelaImage * d), (s, d))                            \
    X(VelaImage *, vela_create_from_window, (VelaState * s, struct _XDisplay * d, unsigned long w), \
      (s, d, w))                                                                                   \
    X(VelaCis *, vela_cis_create, (VelaState * s, const char *n), (s, n))                          \
    X(void, vela_cis_destroy, (VelaCis * c), (c))                                                  \
    X(int, vela_cis_put_bits_ptr, (VelaCis * c, int n, int f, void *b, VelaDataReleaseFunc r),     \
      (c, n, f, b, r))                                                                             \
    X(void *, vela_cis_get_bits_ptr, (VelaCis * c, int *n, int *f), (c, n, f))                     \
    X(int, vela_cis_has_data, (VelaCis * c), (c))                                                  \
    X(VelaImageType *, vela_cis_get_output_type, (VelaCis * c), (c))                               \
    X(void, vela_imagetype_get_info, (VelaImageType * t, int *w, int *h, int *b, int *d),          \
      (t, w, h, b, d))                                                                             \
    X(int, vela_decompress, (VelaCis * c, VelaImage * d), (c, d))                                  \
    X(int, vela_compress, (VelaImage * s, VelaCis * c), (s, c))                                    \
    X(VelaImage *, vela_create_from_device, (VelaState * s, const char *n, void *a), (s, n, a))    \
    X(int, vela_set_device_attribute, (VelaImage * i, const char *n, const void *v), (i, n, v))    \
    X(int, vela_get_device_attribute, (VelaImage * i, const char *n, void *v), (i, n, v))

namespace {

struct VelaHandles {
#define VELA_MEMBER(ret, name, params, args) ret(*name) params;
    VELA_FUNCTIONS(VELA_MEMBER)
#undef VELA_MEMBER
};

VelaHandles handles;
void *library = nullptr;
int missing = 0;

} // namespace

// What a forwarder returns when its function is missing.
template <typename R> R fail_value()
{
    if constexpr (!std::is_void_v<R>)
        return R{};
}

#define VELA_FORWARD(ret, name, params, args)                                                      \
    extern "C" ret name params                                                                     \
    {                                                                                              \
        if (handles.name == nullptr)                                                               \
            return fail_value<ret>();                                                              \
        return handles.name args;                                                                  \
    }
VELA_FUNCTIONS(VELA_FORWARD)
#undef VELA_FORWARD

int ResolveVelaHandles()
{
    if (library != nullptr)
        return 0;
    library = dlopen("libvela.so.1", RTLD_LAZY | RTLD_GLOBAL);
    if (library == nullptr) {
        if (prog != nullptr && prog->verbose)
            std::fprintf(stderr, "%s: %s\n", prog->name, dlerror());
        return -1;
    }
    missing = 0;
#define VELA_RESOLVE(ret, name, params, args)                                                      \
    handles.name = reinterpret_cast<ret(*) params>(dlsym(library, #name));                         \
    if (handles.name == nullptr)                                                                   \
        missing++;
    VELA_FUNCTIONS(VELA_RESOLVE)
#undef VELA_RESOLVE
    setenv("_VELA_SUPPRESS_OBSOLETE_MSG", "true", 1);
    return 0;
}

bool vela_loaded() { return library != nullptr; }

int vela_missing_handles() { return missing; }

std::vector<std::string> vela_handle_names()
{
    std::vector<std::string> names;
#define VELA_NAME(ret, name, params, args) names.emplace_back(#name);
    VELA_FUNCTIONS(VELA_NAME)
#undef VELA_NAME
    return names;
}

int vela_open_for_display()
{
    if (image_display == nullptr) {
        image_display = static_cast<DisplayRec *>(std::calloc(1, sizeof(DisplayRec)));
        if (image_display == nullptr)
            OutOfMemory();
    }
    if (image_display->state != nullptr)
        return 0;
    if (ResolveVelaHandles() != 0)
        return -1;
    image_display->state = vela_open();
    if (image_display->state == nullptr)
        return -1;
    vela_install_error_handler(image_display->state, vela_error_handler);
    return 0;
}

int BaseVelaCreateObject()
{
    if (vela_open_for_display() == 0)
        return 0;
    AlertPrompt(alert_parent(), 1, XmDIALOG_WARNING, 2, catmsg(1, 6, "Lumora"), 3,
                XmDIALOG_FULL_APPLICATION_MODAL, 6, catmsg(1, 384, "Unable to open VELA Library."),
                7, 0, catmsg(1, 108, "Continue"), 8, "LumorOpenDialog", 0);
    return -1;
}

int vela_error_handler(VelaError *err)
{
    if (vela_error_get_category(err) == VELA_ERROR_RESOURCE) {
        AlertPrompt(alert_parent(), 1, XmDIALOG_WARNING, 2, catmsg(1, 386, "Lumora"), 3,
                    XmDIALOG_FULL_APPLICATION_MODAL, 6,
                    catmsg(1, 3, "Unable to allocate sufficient memory.\nLumora cannot continue."),
                    7, 0, catmsg(1, 2, "Close"), 0);
        std::exit(1);
    }
    if (vela_error_get_primary(err))
        std::fprintf(stderr, catmsg(1, 5, "VELA Error: %s\n"), vela_error_get_string(err));
    return 1;
}
