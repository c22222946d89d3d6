// main.cc - the entry point of orvimage.
#include "app/corvat.h"

int main(int argc, char **argv)
{
    corvat_main(argc, argv);
}
