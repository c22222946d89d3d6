// tt.cc - desktop messaging.
#include "app/menus.h"

// Outside desktop-messaging mode the program may always end.
int TTFailMessage()
{
    return 1;
}
