// bmsearch.cc - multi-keyword Boyer-Moore search with a sentinel scan.
//
// The scan loop only adds shifts: every byte that ends a keyword carries a
// marker in the shift table, which a search replaces by a sentinel larger
// than the text, so landing on such a byte throws the position out of the
// text by more than any ordinary shift could.  One comparison after the
// loop tells a candidate from the end of the text.
#include "app/bmsearch.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/misc.h"

namespace {

constexpr std::int64_t kMarker = -1;

} // namespace

struct BmTable {
    // Bytes to advance on seeing a byte; kMarker for a byte ending a keyword.
    std::array<std::int64_t, 256> shift;
    // The shifts before marking: a byte that ends one keyword may still sit
    // inside another, which the marker would hide.
    std::array<std::int64_t, 256> inner_shift;
    std::vector<std::string> keywords;  // copies, in list order, none empty
    std::vector<unsigned char> marked;  // bytes whose shift is kMarker
    std::size_t shortest;               // length of the shortest keyword (>= 1)
};

namespace {

// Returns the table for a list holding at least one non-empty keyword.
std::unique_ptr<BmTable> encode(const char *const *keywords)
{
    auto t = std::make_unique<BmTable>();
    for (const char *const *k = keywords; *k != nullptr; ++k)
        if (**k != '\0')
            t->keywords.emplace_back(*k);
    if (t->keywords.empty())
        return nullptr;

    // 1. The shortest keyword bounds every shift.
    t->shortest = t->keywords[0].size();
    for (const std::string &k : t->keywords)
        t->shortest = std::min(t->shortest, k.size());
    const auto n = static_cast<std::int64_t>(t->shortest);

    // 2. Distance from each byte's last inner occurrence to its keyword's end.
    t->shift.fill(n);
    for (const std::string &k : t->keywords) {
        const auto len = static_cast<std::int64_t>(k.size());
        for (std::int64_t i = 0; i + 1 < len; ++i) {
            std::int64_t &s = t->shift[static_cast<unsigned char>(k[i])];
            s = std::min(s, len - 1 - i);
        }
    }
    t->inner_shift = t->shift;

    // 3. Mark the bytes that end a keyword.
    for (const std::string &k : t->keywords) {
        const auto last = static_cast<unsigned char>(k.back());
        if (t->shift[last] != kMarker) {
            t->shift[last] = kMarker;
            t->marked.push_back(last);
        }
    }
    return t;
}

} // namespace

BmTable *strbmencode(const char *const *keywords)
{
    if (keywords == nullptr)
        return nullptr;
    // Callers run inside toolkit callbacks, which no exception may cross.
    try {
        return encode(keywords).release();
    } catch (const std::bad_alloc &) {
        OutOfMemory();
    }
}

namespace {

// Swaps the markers for a sentinel for one search and puts them back when
// the search ends, whichever way it returns.
class Sentinels {
public:
    Sentinels(BmTable &t, std::int64_t sentinel) : t_(t)
    {
        for (unsigned char b : t_.marked)
            t_.shift[b] = sentinel;
    }
    ~Sentinels()
    {
        for (unsigned char b : t_.marked)
            t_.shift[b] = kMarker;
    }
    Sentinels(const Sentinels &) = delete;
    Sentinels &operator=(const Sentinels &) = delete;

private:
    BmTable &t_;
};

// Returns true when keyword k occurs in text ending at index end.
bool ends_at(const unsigned char *text, std::int64_t end, const std::string &k)
{
    const auto len = static_cast<std::int64_t>(k.size());
    if (len > end + 1)
        return false;
    for (std::int64_t i = 0; i < len; ++i)
        if (text[end - i] != static_cast<unsigned char>(k[len - 1 - i]))
            return false;
    return true;
}

} // namespace

const char *strbmexec(const char *text, std::size_t length, BmTable *table)
{
    // 1. No keyword fits in a shorter text.
    if (table == nullptr || length < table->shortest)
        return nullptr;
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    const auto n = static_cast<std::int64_t>(table->shortest);
    const auto len = static_cast<std::int64_t>(length);
    const std::int64_t sentinel = len + n;

    // 2. Markers become the sentinel until we return.
    Sentinels guard(*table, sentinel);
    const std::array<std::int64_t, 256> &shift = table->shift;
    const bool several = table->keywords.size() > 1;

    for (std::int64_t p = n - 1; p < len; ++p) {
        // 3. Skip to the next byte that ends some keyword.
        while (p < len)
            p += shift[s[p]];
        if (p < sentinel)
            return nullptr;
        p -= sentinel;

        // 4. With several keywords, every byte of the shortest one's span
        // before p must occur near the end of some keyword.
        if (several) {
            bool possible = true;
            for (std::int64_t d = 1; d < n && possible; ++d)
                possible = table->inner_shift[s[p - d]] < n;
            if (!possible)
                continue;
        }
        for (const std::string &k : table->keywords)
            if (ends_at(s, p, k))
                return text + (p - static_cast<std::int64_t>(k.size()) + 1);
        // 5. No keyword ends here: go on from the next byte.
    }
    return nullptr;
}

void strbmdestroy(BmTable *table)
{
    delete table;
}
