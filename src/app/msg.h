// msg.h - the viewer's texts from the message catalog "orvimage".
//
// Every user-visible text is written at its call site as
// catmsg(set, number, "default"), so a reader sees the words where they are
// used; the catalog source data/nls/C/orvimage.msg holds the same texts and a
// test keeps the two equal.  Set 1 holds interface texts, set 2 command-line
// messages, set 3 usage headings.
#pragma once

#include <nl_types.h>

// Returns the catalog's text for (set, number), or the built-in default when
// the catalog is not open or lacks the entry.  The text is owned by the
// catalog (or is the literal) and lives until catclose.
const char *catmsg(int set, int number, const char *dflt);

// Opens the catalog, making sure NLSPATH also covers the catalogs installed
// beside the executable.  Returns the handle, (nl_catd)-1 when none opens.
nl_catd open_catalog(const char *name);
