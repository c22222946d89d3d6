// limits.h - checks codecs make on sizes read from a file before they
// allocate anything.
#pragma once

#include <cstdint>

struct ImageRec;

// Largest width or height of an image, pixels.
constexpr int64_t MAX_IMAGE_SIDE = 65535 * 4;
// Largest colormap a raster header may announce, bytes.
constexpr int64_t MAX_COLORMAP_BYTES = 3 * 65536;

// True when the record's input can hold bytes bytes: always for a pipe
// (compressed input), else the file or in-memory contents must be at least
// that long.
bool input_can_hold(const ImageRec *image, int64_t bytes);
// True when bytes of image memory can be allocated without exhausting the
// machine: at most the memory available now.
bool memory_can_hold(int64_t bytes);
