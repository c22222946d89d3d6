// canvas.h - the document canvas: labels, painting and scrolling.
#pragma once

// Sets the window title "<title> - <name>" and the icon name, unless the
// user gave them as resources.
void set_labels(const char *name);
