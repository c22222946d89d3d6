// canvas.h - the document canvas: labels, painting and scrolling.
#pragma once

// Sets the window title "<title> - <name>" and the icon name, unless the
// user gave them as resources.
void set_labels(const char *name);

struct ViewState;
// Brings a new view state in line with the window: both scroll bars at 0,
// pan and select modes as the palette's buttons show.
void view_state_created(ViewState *state);
