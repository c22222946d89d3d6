// dnd.cc - drag and drop.
#include "app/menus.h"

// Dropped files are not accepted yet.
void register_drop_site(Widget) {}

// Nothing can have been dropped.
void DndOpenFile() {}
