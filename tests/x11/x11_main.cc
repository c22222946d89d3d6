// The X tests' main: the viewer's code runs in this process against the
// private Xvfb that tests/with-xvfb started (DISPLAY), at 24 or 8 bits.
#include <gtest/gtest.h>

#include "app/corvat.h"

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    char name[] = "orvimage";
    char *args[] = {name, nullptr};
    int n = 1;
    if (!corvat_init_toolkit(&n, args)) {
        fprintf(stderr, "x11_tests: no display\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
