// dt.h - data typing: the desktop data-type name of a file or of bytes in memory,
// decided from the content (signatures and header checks) and, only for formats
// that carry no signature, from the file name's suffix.
#pragma once

// Answers are the data-type names of the format table, "COMPRESSED" for
// compress(1) and gzip data (zcat reads both), and "DATA" for anything else.

// Returns the data-type name of the file at path, read from its first bytes and,
// where a format needs them, its size and last bytes; "DATA" when the file cannot
// be read or is not a regular file.  The caller owns the malloc'ed string and
// frees it with DtDtsFreeDataType; nullptr only when memory runs out.
char *DtDtsFileToDataType(const char *path);

// Returns the data-type name of size bytes at bytes, taken as the whole content;
// name (may be nullptr) is a file name used only for the suffix rules.  Ownership
// as for DtDtsFileToDataType.
char *DtDtsBufferToDataType(const void *bytes, int size, const char *name);

// Frees a data-type name returned above; nullptr is ignored.
void DtDtsFreeDataType(char *type);
