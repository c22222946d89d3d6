// Multi-keyword Boyer-Moore search: which occurrence wins, reuse of one
// table, awkward keyword lists and texts, and a comparison with a naive
// search over random inputs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/bmsearch.h"

namespace {

// Owns a table built from a list of keywords.
class Table {
public:
    explicit Table(const std::vector<std::string> &keywords)
    {
        for (const std::string &k : keywords)
            list_.push_back(k.c_str());
        list_.push_back(nullptr);
        table_ = strbmencode(list_.data());
    }
    ~Table() { strbmdestroy(table_); }
    Table(const Table &) = delete;
    Table &operator=(const Table &) = delete;

    BmTable *get() const { return table_; }
    // Returns the offset of the match in text, or -1.
    long find(const std::string &text) const
    {
        const char *hit = strbmexec(text.data(), text.size(), table_);
        return hit == nullptr ? -1 : hit - text.data();
    }

private:
    std::vector<const char *> list_;
    BmTable *table_ = nullptr;
};

// Returns the start of the occurrence that ends first (ties: the first
// keyword of the list), or -1.
long naive_find(const std::string &text, const std::vector<std::string> &keywords)
{
    for (std::size_t end = 1; end <= text.size(); ++end)
        for (const std::string &k : keywords)
            if (!k.empty() && k.size() <= end && text.compare(end - k.size(), k.size(), k) == 0)
                return static_cast<long>(end - k.size());
    return -1;
}

TEST(BmSearch, IncompleteCommentIsNotFound)
{
    Table t({"%%EndSetup", "%%Trailer"});
    EXPECT_EQ(t.find("some text\nEndSetup"), -1);
    EXPECT_EQ(t.find("%EndSetup\n%%Trailer"), 10);
    EXPECT_EQ(t.find("x\n%%EndSetup\n"), 2);
}

TEST(BmSearch, OccurrenceEndingFirstWins)
{
    // A long keyword that starts first loses to a short one ending earlier,
    // and list order does not matter between different end bytes.
    Table t({"abcdefgh", "cd"});
    EXPECT_EQ(t.find("xxabcdefgh"), 4);
    Table u({"%%PageOrder", "Page"});
    EXPECT_EQ(u.find("%%PageOrder: Ascend"), 2);
    Table v({"zz", "%%Trailer"});
    EXPECT_EQ(v.find("%%Trailer zz"), 0);
}

TEST(BmSearch, SameEndByteFollowsListOrder)
{
    Table bc_first({"bc", "abc"});
    EXPECT_EQ(bc_first.find("xabc"), 2);
    Table abc_first({"abc", "bc"});
    EXPECT_EQ(abc_first.find("xabc"), 1);
    // The first keyword of the list that matches, not the first listed.
    Table miss_first({"zbc", "abc", "bc"});
    EXPECT_EQ(miss_first.find("xabc"), 1);
}

TEST(BmSearch, ByteEndingOneKeywordInsideAnother)
{
    // 'a' ends "ba" and sits inside "ab"; 'b' the other way round.
    Table t({"ab", "ba"});
    EXPECT_EQ(t.find("xab"), 1);
    EXPECT_EQ(t.find("xxba"), 2);
    Table u({"Trailer", "%%EndSetupr"});
    EXPECT_EQ(u.find("%%EndSetupr"), 0);
}

TEST(BmSearch, TableServesRepeatedSearches)
{
    Table t({"%%Page:", "%%Trailer", "%%EndSetup"});
    const std::string text = "%!PS\n%%EndSetup\n%%Page: 1 1\nx\n%%Page: 2 2\n%%Trailer\n";
    std::vector<long> hits;
    for (std::size_t from = 0; from < text.size();) {
        const char *hit = strbmexec(text.data() + from, text.size() - from, t.get());
        if (hit == nullptr)
            break;
        hits.push_back(hit - text.data());
        from = static_cast<std::size_t>(hit - text.data()) + 1;
    }
    EXPECT_EQ(hits, (std::vector<long>{5, 16, 30, 42}));
    // A text without a hit, then the first one again.
    EXPECT_EQ(t.find("nothing here at all"), -1);
    EXPECT_EQ(t.find(text), 5);
}

TEST(BmSearch, AwkwardListsAndTexts)
{
    const char *empty_list[] = {nullptr};
    EXPECT_EQ(strbmencode(empty_list), nullptr);
    EXPECT_EQ(strbmencode(nullptr), nullptr);
    const char *only_empty[] = {"", nullptr};
    EXPECT_EQ(strbmencode(only_empty), nullptr);
    EXPECT_EQ(strbmexec("abc", 3, nullptr), nullptr);
    strbmdestroy(nullptr);

    Table with_empty({"", "cd", ""});
    EXPECT_EQ(with_empty.find("abcd"), 2);
    EXPECT_EQ(with_empty.find("ab"), -1);

    Table t({"%%Trailer", "needle"});
    EXPECT_EQ(t.find(""), -1);
    EXPECT_EQ(t.find("needl"), -1);
    EXPECT_EQ(strbmexec(nullptr, 0, t.get()), nullptr);
}

TEST(BmSearch, HighBytesAndNulBytes)
{
    Table t({"\xe9t\xe9", "\xff\xfe"});
    EXPECT_EQ(t.find(std::string("caf\xe9 \xe9t\xe9", 8)), 5);
    EXPECT_EQ(t.find("\x80\x81\xff\xfe"), 2);

    Table u({"%%Trailer"});
    const std::string text("%%Tra\0ler\0\0%%Trailer\0", 21);
    EXPECT_EQ(u.find(text), 11);
    // A search bounded by the length does not see past it.
    EXPECT_EQ(strbmexec(text.data(), 19, u.get()), nullptr);
}

TEST(BmSearch, AgreesWithNaiveSearch)
{
    std::mt19937 rng(20240611);
    const std::string alphabet("ab\xc3\0", 4);
    std::uniform_int_distribution<int> letter(0, 3);
    std::uniform_int_distribution<int> key_letter(0, 2);  // keywords hold no NUL
    std::uniform_int_distribution<int> key_count(1, 5);
    std::uniform_int_distribution<int> key_len(0, 5);
    std::uniform_int_distribution<int> text_len(0, 40);

    for (int round = 0; round < 3000; ++round) {
        std::vector<std::string> keywords(static_cast<std::size_t>(key_count(rng)));
        for (std::string &k : keywords) {
            const int len = key_len(rng);
            for (int i = 0; i < len; ++i)
                k += alphabet[static_cast<std::size_t>(key_letter(rng))];
        }
        Table t(keywords);
        bool any = false;
        for (const std::string &k : keywords)
            any = any || !k.empty();
        ASSERT_EQ(t.get() != nullptr, any);
        for (int text_round = 0; text_round < 10; ++text_round) {
            std::string text;
            const int len = text_len(rng);
            for (int i = 0; i < len; ++i)
                text += alphabet[static_cast<std::size_t>(letter(rng))];
            // An exact-size copy lets the sanitizers catch reads past the end.
            std::vector<char> exact(text.begin(), text.end());
            const char *hit = strbmexec(exact.data(), exact.size(), t.get());
            const long got = hit == nullptr ? -1 : hit - exact.data();
            ASSERT_EQ(got, naive_find(text, keywords)) << "round " << round;
        }
    }
}

} // namespace
