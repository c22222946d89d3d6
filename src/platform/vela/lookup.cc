/*
 * lookup.cc - lookups and colour cubes: creating them, reading and writing
 * their entries, the standard objects each state owns ("cc496" and the
 * "dm443" mask), mapping an index image through a lookup, and converting
 * one lookup's colours to another's nearest indices.
 *
 * An index value below the first entry reads the first entry, one above
 * the last reads the last.  Values are stored entry by entry, band by band,
 * in the image's band order (blue, green, red for 3 bands).
 */
#include <pthread.h>

#include <cstring>

#include "colour.h"

namespace {

using vela::PodVec;
using vela::report;

// Largest offset magnitude a lookup accepts; keeps index arithmetic far
// from overflow.
constexpr int kMaxOffset = 1 << 20;

// Returns the most entries a lookup of in_type may have.
int max_entries(int in_type)
{
    return in_type == VELA_BIT ? 2 : 256;
}

bool type_ok(int t)
{
    return t == VELA_BIT || t == VELA_BYTE;
}

// Returns a new lookup with zeroed values, or nullptr after reporting.  The
// caller has checked the arguments.
VelaLookup *new_lookup(VelaState *state, int in_type, int out_type, int nbands, int entries,
                       int offset, const char *who)
{
    auto *lut = new (std::nothrow) VelaLookup;
    if (!lut || !lut->values.resize(static_cast<size_t>(entries) * nbands)) {
        delete lut;
        report(state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return nullptr;
    }
    std::memset(lut->values.data(), 0, lut->values.size());
    lut->state = state;
    lut->in_type = in_type;
    lut->out_type = out_type;
    lut->nbands = nbands;
    lut->entries = entries;
    lut->offset = offset;
    lut->standard = false;
    lut->cube = false;
    for (int b = 0; b < 3; ++b) {
        lut->multipliers[b] = 0;
        lut->dims[b] = 0;
    }
    return lut;
}

// Copies count entries into the lookup from entry first (0-based); a
// 1-bit lookup keeps non-zero values as 1.
void put_values(VelaLookup *lut, int first, int count, const unsigned char *values)
{
    const size_t n = static_cast<size_t>(count) * lut->nbands;
    unsigned char *d = lut->values.data() + static_cast<size_t>(first) * lut->nbands;
    delete lut->nearest;
    lut->nearest = nullptr;
    if (lut->out_type == VELA_BIT) {
        for (size_t i = 0; i < n; ++i)
            d[i] = values[i] != 0;
    } else {
        std::memcpy(d, values, n);
    }
}

// Returns true when the lookup pointer may be used; reports otherwise.
bool lut_ok(const VelaLookup *lut, const char *who)
{
    if (!lut) {
        report(nullptr, VELA_ERROR_USER, "%s: no lookup", who);
        return false;
    }
    return true;
}

// Returns true when [first, first + count) are index values of the lookup
// and values is given; reports otherwise.
bool range_ok(const VelaLookup *lut, int first, int count, const void *values, const char *who)
{
    const int64_t lo = lut->offset, hi = static_cast<int64_t>(lut->offset) + lut->entries;
    if (count < 0 || first < lo || static_cast<int64_t>(first) + count > hi) {
        report(lut->state, VELA_ERROR_USER,
               "%s: entries %d..%lld are outside the lookup's %lld..%lld", who, first,
               static_cast<long long>(first) + count - 1, static_cast<long long>(lo),
               static_cast<long long>(hi - 1));
        return false;
    }
    if (count > 0 && !values) {
        report(lut->state, VELA_ERROR_USER, "%s: no values", who);
        return false;
    }
    return true;
}

// The table vela_lookup applies: for every value of the source type (256
// or 2), the entry's bands, with out-of-range values clamped.
struct Table {
    unsigned char band[3][256];
    uint32_t packed[256]; // bands 0, 1, 2 in the low three bytes, in memory order
};

void build_table(const VelaLookup *lut, Table *t)
{
    const int values = lut->in_type == VELA_BIT ? 2 : 256;
    for (int v = 0; v < values; ++v) {
        int e = v - lut->offset;
        e = e < 0 ? 0 : e >= lut->entries ? lut->entries - 1 : e;
        const unsigned char *c = lut->values.data() + static_cast<size_t>(e) * lut->nbands;
        unsigned char bytes[4] = {c[0], 0, 0, 0};
        for (int b = 0; b < lut->nbands; ++b)
            t->band[b][v] = bytes[b] = c[b];
        std::memcpy(&t->packed[v], bytes, 4);
    }
}

// Writes one run of vela_lookup.
void lookup_run(const VelaImage *src, int64_t sx, int64_t sy, VelaImage *dst, int64_t dx,
                int64_t dy, int64_t w, const Table &t)
{
    const unsigned char *s = src->data + sy * src->row_stride;
    unsigned char *d = dst->data + dy * dst->row_stride;
    const bool sbit = src->datatype == VELA_BIT, dbit = dst->datatype == VELA_BIT;
    if (sbit || dbit) {
        // 1-bit images have one band, so a 1-bit side means a 1-band dst
        // unless only the source is 1-bit.
        const ptrdiff_t dps = dst->pixel_stride;
        for (int64_t i = 0; i < w; ++i) {
            const int v = sbit ? vela::get_bit(s, src->bit_offset, sx + i)
                               : s[(sx + i) * src->pixel_stride];
            if (dbit) {
                vela::put_bit(d, dst->bit_offset, dx + i, t.band[0][v]);
            } else {
                unsigned char *q = d + (dx + i) * dps;
                for (int b = 0; b < dst->nbands; ++b)
                    q[b] = t.band[b][v];
            }
        }
        return;
    }
    const ptrdiff_t sps = src->pixel_stride, dps = dst->pixel_stride;
    s += sx * sps;
    d += dx * dps;
    if (dst->nbands == 1) {
        const unsigned char *t0 = t.band[0];
        if (sps == 1 && dps == 1) {
            for (int64_t i = 0; i < w; ++i)
                d[i] = t0[s[i]];
        } else {
            for (int64_t i = 0; i < w; ++i)
                d[i * dps] = t0[s[i * sps]];
        }
        return;
    }
    // Three bands: four pixels (12 bytes) in an 8-byte and a 4-byte store.
    int64_t i = 0;
    if (dps == 3) {
        const uint32_t *pk = t.packed;
        for (; i + 4 <= w; i += 4) {
            const uint64_t a = pk[s[i * sps]], b = pk[s[(i + 1) * sps]];
            const uint64_t c = pk[s[(i + 2) * sps]], e = pk[s[(i + 3) * sps]];
            const uint64_t lo = a | b << 24 | c << 48;
            const uint32_t hi = static_cast<uint32_t>(c >> 16 | e << 8);
            std::memcpy(d + i * 3, &lo, 8);
            std::memcpy(d + i * 3 + 8, &hi, 4);
        }
    } else if (dps >= 4) {
        for (; i < w; ++i)
            std::memcpy(d + i * dps, &t.packed[s[i * sps]], 3);
    }
    for (; i < w; ++i) {
        const int v = s[i * sps];
        unsigned char *q = d + i * dps;
        q[0] = t.band[0][v];
        q[1] = t.band[1][v];
        q[2] = t.band[2][v];
    }
}

// The standard objects of one state.
struct StateObjects {
    VelaState *state;
    VelaLookup *cc496;    // nullptr until first asked for
    VelaDitherMask *dm443;
};

// Every state's standard objects; guarded by g_mutex so that states used
// on different threads stay independent.
PodVec<StateObjects> g_objects;
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

// Returns the record of state in g_objects, adding one; nullptr when
// memory ran out.  The caller holds g_mutex.
StateObjects *objects_of(VelaState *state)
{
    for (StateObjects &o : g_objects)
        if (o.state == state)
            return &o;
    if (!g_objects.push(StateObjects{state, nullptr, nullptr}))
        return nullptr;
    return &g_objects[g_objects.size() - 1];
}

// Returns a new "cc496" cube marked standard, or nullptr (not reported).
VelaLookup *make_cc496(VelaState *state)
{
    const int mult[3] = {1, 4, 36};
    const unsigned dims[3] = {4, 9, 6};
    VelaLookup *lut = vela_colorcube_create(state, VELA_BYTE, VELA_BYTE, 3, 40, mult, dims);
    if (lut)
        lut->standard = true;
    return lut;
}

} // namespace

namespace vela {

VelaLookup *standard_lookup(VelaState *state, const char *name)
{
    if (std::strcmp(name, "cc496") != 0)
        return nullptr;
    pthread_mutex_lock(&g_mutex);
    StateObjects *o = objects_of(state);
    if (o && !o->cc496)
        o->cc496 = make_cc496(state);
    VelaLookup *lut = o ? o->cc496 : nullptr;
    pthread_mutex_unlock(&g_mutex);
    if (!lut)
        report(state, VELA_ERROR_RESOURCE, "vela_lookup_get_by_name: out of memory");
    return lut;
}

VelaDitherMask *standard_mask(VelaState *state, const char *name)
{
    if (std::strcmp(name, "dm443") != 0)
        return nullptr;
    pthread_mutex_lock(&g_mutex);
    StateObjects *o = objects_of(state);
    if (o && !o->dm443)
        o->dm443 = make_dm443(state);
    VelaDitherMask *mask = o ? o->dm443 : nullptr;
    pthread_mutex_unlock(&g_mutex);
    if (!mask)
        report(state, VELA_ERROR_RESOURCE, "vela_dithermask_get_by_name: out of memory");
    return mask;
}

void colour_state_release(VelaState *state)
{
    pthread_mutex_lock(&g_mutex);
    for (size_t i = 0; i < g_objects.size(); ++i) {
        if (g_objects[i].state != state)
            continue;
        delete g_objects[i].cc496;
        free_mask(g_objects[i].dm443);
        g_objects[i] = g_objects[g_objects.size() - 1];
        g_objects.resize(g_objects.size() - 1);
        break;
    }
    pthread_mutex_unlock(&g_mutex);
}

} // namespace vela

extern "C" {

VelaLookup *vela_lookup_create(VelaState *state, int in_type, int out_type, int nbands,
                               int entries, int offset, const unsigned char *values)
{
    const char *who = "vela_lookup_create";
    if (!state) {
        report(nullptr, VELA_ERROR_USER, "%s: no state", who);
        return nullptr;
    }
    if (!type_ok(in_type) || !type_ok(out_type) || (nbands != 1 && nbands != 3)) {
        report(state, VELA_ERROR_USER, "%s: types %d -> %d with %d bands", who, in_type,
               out_type, nbands);
        return nullptr;
    }
    if (entries < 1 || entries > max_entries(in_type) || offset < -kMaxOffset ||
        offset > kMaxOffset) {
        report(state, VELA_ERROR_USER, "%s: %d entries at offset %d", who, entries, offset);
        return nullptr;
    }
    VelaLookup *lut = new_lookup(state, in_type, out_type, nbands, entries, offset, who);
    if (lut && values)
        put_values(lut, 0, entries, values);
    return lut;
}

void vela_lookup_destroy(VelaLookup *lut)
{
    if (!lut)
        return;
    if (lut->standard) {
        report(lut->state, VELA_ERROR_USER,
               "vela_lookup_destroy: a standard lookup belongs to its state");
        return;
    }
    delete lut;
}

VelaLookup *vela_lookup_get_by_name(VelaState *state, const char *name)
{
    if (!state || !name) {
        report(state, VELA_ERROR_USER, "vela_lookup_get_by_name: no %s",
               state ? "name" : "state");
        return nullptr;
    }
    return vela::standard_lookup(state, name);
}

int vela_lookup(VelaImage *src, VelaImage *dst, VelaLookup *lut)
{
    const char *who = "vela_lookup";
    if (!src || !dst || !lut) {
        report(src ? src->state : dst ? dst->state : nullptr, VELA_ERROR_USER,
               "%s: no %s", who, !lut ? "lookup" : "image");
        return 0;
    }
    if (src->nbands != 1 || src->datatype != lut->in_type || dst->nbands != lut->nbands ||
        dst->datatype != lut->out_type) {
        report(dst->state, VELA_ERROR_USER,
               "%s: images of %d band(s) type %d -> %d band(s) type %d do not fit a lookup "
               "of type %d -> %d bands type %d",
               who, src->nbands, src->datatype, dst->nbands, dst->datatype, lut->in_type,
               lut->nbands, lut->out_type);
        return 0;
    }
    Table t;
    build_table(lut, &t);
    // Only a 1-band to 1-band lookup reads each pixel before writing it.
    return vela::for_each_run(src, dst, who, lut->nbands == 1,
                              [&](const VelaImage *s, int64_t sx, int64_t sy, VelaImage *d,
                                  int64_t dx, int64_t dy, int64_t w) {
                                  lookup_run(s, sx, sy, d, dx, dy, w, t);
                              });
}

int vela_lookup_get_values(VelaLookup *lut, int first, int count, unsigned char *values)
{
    if (!lut_ok(lut, "vela_lookup_get_values") ||
        !range_ok(lut, first, count, values, "vela_lookup_get_values"))
        return 0;
    std::memcpy(values, lut->values.data() + static_cast<size_t>(first - lut->offset) * lut->nbands,
                static_cast<size_t>(count) * lut->nbands);
    return 1;
}

int vela_lookup_set_values(VelaLookup *lut, int first, int count, const unsigned char *values)
{
    if (!lut_ok(lut, "vela_lookup_set_values") ||
        !range_ok(lut, first, count, values, "vela_lookup_set_values"))
        return 0;
    if (count > 0)
        put_values(lut, first - lut->offset, count, values);
    return 1;
}

int vela_lookup_get_offset(VelaLookup *lut)
{
    return lut_ok(lut, "vela_lookup_get_offset") ? lut->offset : 0;
}

int vela_lookup_set_offset(VelaLookup *lut, int offset)
{
    if (!lut_ok(lut, "vela_lookup_set_offset"))
        return 0;
    if (offset < -kMaxOffset || offset > kMaxOffset) {
        report(lut->state, VELA_ERROR_USER, "vela_lookup_set_offset: offset %d out of range",
               offset);
        return 0;
    }
    lut->offset = offset;
    return 1;
}

int vela_lookup_get_num_entries(VelaLookup *lut)
{
    return lut_ok(lut, "vela_lookup_get_num_entries") ? lut->entries : 0;
}

int vela_lookup_get_nbands(VelaLookup *lut)
{
    return lut_ok(lut, "vela_lookup_get_nbands") ? lut->nbands : 0;
}

VelaLookup *vela_lookup_convert(VelaLookup *a, VelaLookup *b)
{
    const char *who = "vela_lookup_convert";
    if (!a || !b) {
        report(a ? a->state : b ? b->state : nullptr, VELA_ERROR_USER, "%s: no lookup", who);
        return nullptr;
    }
    if (a->nbands != b->nbands || a->out_type != b->out_type) {
        report(a->state, VELA_ERROR_USER,
               "%s: colours of %d band(s) type %d and %d band(s) type %d differ", who,
               a->nbands, a->out_type, b->nbands, b->out_type);
        return nullptr;
    }
    if (b->offset < 0 || b->offset + b->entries > 256) {
        report(a->state, VELA_ERROR_USER, "%s: index values %d..%d do not fit a byte", who,
               b->offset, b->offset + b->entries - 1);
        return nullptr;
    }
    VelaLookup *out = new_lookup(a->state, a->in_type, VELA_BYTE, 1, a->entries, a->offset, who);
    if (!out)
        return nullptr;
    // One-band colours are spread over all three bands of the search.
    unsigned char colours[256 * 3];
    const int nb = b->nbands;
    for (int e = 0; e < b->entries; ++e)
        for (int c = 0; c < 3; ++c)
            colours[e * 3 + c] = b->values[static_cast<size_t>(e) * nb + (nb == 3 ? c : 0)];
    vela::NearestIndex nearest;
    if (!nearest.init(colours, b->entries)) {
        delete out;
        report(a->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return nullptr;
    }
    for (int e = 0; e < a->entries; ++e) {
        const unsigned char *c = a->values.data() + static_cast<size_t>(e) * nb;
        const int k = nb == 3 ? nearest.find(c[0], c[1], c[2]) : nearest.find(c[0], c[0], c[0]);
        out->values[e] = static_cast<unsigned char>(b->offset + k);
    }
    return out;
}

VelaLookup *vela_colorcube_create(VelaState *state, int in_type, int out_type, int nbands,
                                  int offset, const int *multipliers, const unsigned int *dims)
{
    const char *who = "vela_colorcube_create";
    if (!state) {
        report(nullptr, VELA_ERROR_USER, "%s: no state", who);
        return nullptr;
    }
    if (!type_ok(in_type) || !type_ok(out_type) || (nbands != 1 && nbands != 3) ||
        !multipliers || !dims) {
        report(state, VELA_ERROR_USER, "%s: types %d -> %d with %d bands", who, in_type,
               out_type, nbands);
        return nullptr;
    }
    const int top = vela::type_max(out_type);
    int entries = 1;
    for (int b = 0; b < nbands; ++b) {
        if (dims[b] < 2 || dims[b] > static_cast<unsigned>(top) + 1 || multipliers[b] == 0 ||
            multipliers[b] < -256 || multipliers[b] > 256) {
            report(state, VELA_ERROR_USER, "%s: band %d has %u levels, multiplier %d", who, b,
                   dims[b], multipliers[b]);
            return nullptr;
        }
        entries *= static_cast<int>(dims[b]);
        if (entries > max_entries(in_type))
            break;
    }
    if (entries > max_entries(in_type) || offset < 0 ||
        offset + entries - 1 > vela::type_max(in_type)) {
        report(state, VELA_ERROR_USER, "%s: %d colours at offset %d do not fit type %d indices",
               who, entries, offset, in_type);
        return nullptr;
    }
    VelaLookup *lut = new_lookup(state, in_type, out_type, nbands, entries, offset, who);
    if (!lut)
        return nullptr;
    lut->cube = true;
    for (int b = 0; b < nbands; ++b) {
        lut->multipliers[b] = multipliers[b];
        lut->dims[b] = static_cast<int>(dims[b]);
    }
    // Walk the grid; every point must land on its own entry, so the
    // multipliers must be a mixed radix of the dims.
    bool seen[256] = {};
    int level[3] = {0, 0, 0};
    for (int point = 0; point < entries; ++point) {
        int index = 0;
        for (int b = 0; b < nbands; ++b) {
            const int m = multipliers[b];
            index += m > 0 ? level[b] * m : (lut->dims[b] - 1 - level[b]) * -m;
        }
        if (index >= entries || seen[index]) {
            delete lut;
            report(state, VELA_ERROR_USER,
                   "%s: the multipliers do not give every colour its own index", who);
            return nullptr;
        }
        seen[index] = true;
        for (int b = 0; b < nbands; ++b)
            lut->values[static_cast<size_t>(index) * nbands + b] =
                static_cast<unsigned char>(vela::level_value(level[b], lut->dims[b], top));
        for (int b = 0; b < nbands && ++level[b] == lut->dims[b]; ++b)
            level[b] = 0;
    }
    return lut;
}

} // extern "C"
