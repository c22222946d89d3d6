// The message catalog holds exactly the texts the code uses as defaults.
#include <gtest/gtest.h>

#include <nl_types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

// Undoes the C escapes of a string literal's body.
std::string unescape(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        switch (c) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        default: out += c; break;
        }
    }
    return out;
}

using Texts = std::map<std::pair<int, int>, std::string>;

// Returns every catmsg(set, number, "default") of the sources.
Texts source_texts(std::string *conflict)
{
    static const std::regex call(
        R"re(catmsg\(\s*(\d+)\s*,\s*(\d+)\s*,\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\))re");
    static const std::regex literal(R"re("((?:[^"\\]|\\.)*)")re");
    Texts texts;
    std::filesystem::path src = std::filesystem::path(std::getenv("ORV_SOURCE_DIR")) / "src";
    for (const auto &entry : std::filesystem::recursive_directory_iterator(src)) {
        std::string ext = entry.path().extension();
        if (ext != ".cc" && ext != ".h")
            continue;
        std::ifstream in(entry.path());
        std::stringstream ss;
        ss << in.rdbuf();
        std::string code = ss.str();
        for (std::sregex_iterator m(code.begin(), code.end(), call), end; m != end; ++m) {
            std::string lits = (*m)[3], text;
            for (std::sregex_iterator l(lits.begin(), lits.end(), literal); l != end; ++l)
                text += unescape((*l)[1]);
            auto key = std::make_pair(std::stoi((*m)[1]), std::stoi((*m)[2]));
            auto [it, fresh] = texts.emplace(key, text);
            if (!fresh && it->second != text)
                *conflict += entry.path().string() + ": " + std::to_string(key.first) + "," +
                             std::to_string(key.second) + " differs\n";
        }
    }
    return texts;
}

} // namespace

TEST(Catalog, DefaultsEqualTheCatalog)
{
    ASSERT_NE(std::getenv("ORV_SOURCE_DIR"), nullptr);
    std::string conflict;
    Texts texts = source_texts(&conflict);
    EXPECT_EQ(conflict, "") << "one catalog number, two texts";
    ASSERT_GT(texts.size(), 20u);

    std::string cat = std::string(std::getenv("ORV_BUILD_DIR")) +
                      "/share/orvimage/nls/C/orvimage.cat";
    nl_catd catd = catopen(cat.c_str(), 0);
    ASSERT_NE(catd, (nl_catd)-1) << cat;
    for (const auto &[key, text] : texts) {
        const char *got = catgets(catd, key.first, key.second, "\x01missing");
        EXPECT_EQ(std::string(got), text)
            << "catalog " << key.first << "," << key.second
            << " (run scripts/gen-catalog after changing a text)";
    }
    catclose(catd);
}
