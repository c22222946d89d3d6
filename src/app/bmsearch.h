// bmsearch.h - multi-keyword Boyer-Moore search, used to find the
// document-structure comments of PostScript files.
#pragma once

#include <cstddef>

// An encoded keyword list; opaque to callers.
struct BmTable;

// Returns a new table for the null-terminated list of keywords, to be freed
// with strbmdestroy; the keywords are copied.  Empty keywords are ignored;
// a list without any other keyword (or a null list) gives nullptr.
BmTable *strbmencode(const char *const *keywords);

// Returns a pointer into text to the start of the first occurrence of any
// keyword, occurrences ordered by the byte they end at; among keywords that
// end at the same byte, the first of the list that matches wins.  nullptr
// when there is none or table is nullptr.  text is length bytes and may hold
// NUL bytes.  The table is modified while searching and restored before
// returning, so it serves any number of searches, one at a time.
const char *strbmexec(const char *text, std::size_t length, BmTable *table);

// Frees the table; nullptr is allowed.
void strbmdestroy(BmTable *table);
