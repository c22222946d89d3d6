// The viewer's table of imaging-library functions matches the library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "image/vela_iface.h"

TEST(VelaInterface, EveryDeclaredFunctionIsForwarded)
{
    std::ifstream in(std::string(std::getenv("ORV_SOURCE_DIR")) + "/src/platform/vela/vela.h");
    std::stringstream ss;
    ss << in.rdbuf();
    std::string header = ss.str();
    std::set<std::string> declared;
    static const std::regex decl(R"(\b(vela_[a-z0-9_]+)\s*\()");
    for (std::sregex_iterator m(header.begin(), header.end(), decl), end; m != end; ++m)
        declared.insert((*m)[1]);
    std::vector<std::string> names = vela_handle_names();
    EXPECT_EQ(declared, std::set<std::string>(names.begin(), names.end()));
}

TEST(VelaInterface, TheLibraryLoadsAndHasEveryFunction)
{
    ASSERT_EQ(ResolveVelaHandles(), 0);
    EXPECT_TRUE(vela_loaded());
    EXPECT_EQ(vela_missing_handles(), 0);
    VelaState *state = vela_open();
    ASSERT_NE(state, nullptr);
    VelaImage *img = vela_create(state, 4, 3, 3, VELA_BYTE);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(vela_get_width(img), 4);
    EXPECT_EQ(vela_get_nbands(img), 3);
    vela_destroy(img);
    vela_close(state);
}
