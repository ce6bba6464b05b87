// The library's address-list texts: splitting typed recipients, joining the lists handed back,
// and copies into the caller's fixed buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tolvlink/AdrText.h"

using namespace korrin::tolvlink;

namespace {

std::vector<std::string> split(std::string text) {
    std::vector<std::string> out;
    for (char* p : SplitRecipients(text.data()))
        out.emplace_back(p);
    return out;
}

}  // namespace

TEST(TolvlinkText, SplitGivesOnlyNonEmptyEntries) {
    struct Case {
        std::string text;
        std::size_t estimate;
        std::vector<std::string> entries;
    } cases[] = {
        {"", 0, {}},
        {"Bob; carol@example.org, Dave", 3, {"Bob", "carol@example.org", "Dave"}},
        {"a;;b", 3, {"a", "b"}},
        {"a;", 2, {"a"}},
        {";,\t", 4, {}},
        {"  ;  ", 2, {}},
        {"Ann\tBen", 2, {"Ann", "Ben"}},
        {"Anna Berg <anna@example.org>", 1, {"Anna Berg <anna@example.org>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(EstimateEntries(c.text), c.estimate);
        const auto entries = split(c.text);
        EXPECT_EQ(entries, c.entries);
        // The estimate bounds what the list is allocated for.
        EXPECT_LE(entries.size(), c.estimate);
    }
}

TEST(TolvlinkText, JoinedListsFitTheirLimitAndAddressListsAreWhole) {
    const std::vector<std::string> three = {"Ann", "Ben", "Cid"};
    EXPECT_EQ(JoinEntries(three, 0), "Ann; Ben; Cid");
    EXPECT_EQ(JoinEntries(three, 13), "Ann; Ben; Cid");
    EXPECT_EQ(JoinEntries(three, 12), "Ann; Ben...");
    EXPECT_EQ(JoinEntries(three, 11), "Ann; Ben...");
    EXPECT_EQ(JoinEntries(three, 10), "Ann...");
    // "..." itself must fit: an entry gives way for it.
    EXPECT_EQ(JoinEntries(three, 9), "Ann...");
    EXPECT_EQ(JoinEntries({std::string(20, 'x')}, 10), "...");
    EXPECT_EQ(JoinEntries({}, 10), "");

    std::vector<std::string> many(600, "someone@example.org");
    const std::string names = JoinEntries(many, kNamesListLimit);
    EXPECT_LE(names.size(), kNamesListLimit);
    EXPECT_EQ(names.substr(names.size() - 3), "...");
    const std::string addresses = JoinEntries(many, 0);
    EXPECT_EQ(addresses.size(), 600 * 19 + 599 * 2);  // nothing dropped
}

TEST(TolvlinkText, CopiesAreCutOnCharacterBoundaries) {
    struct Case {
        std::string text;
        std::size_t size;
        std::string expected;
    } cases[] = {
        {"short", 256, "short"},
        {std::string(300, 'a'), 256, std::string(255, 'a')},
        // "é" is two bytes: one that would be split is left out whole.
        {std::string(253, 'a') + "\xC3\xA9", 256, std::string(253, 'a') + "\xC3\xA9"},
        {std::string(253, 'a') + "\xC3\xA9" + "z", 256, std::string(253, 'a') + "\xC3\xA9"},
        {std::string(254, 'a') + "\xC3\xA9", 256, std::string(254, 'a')},
        {std::string(254, 'a') + "\xE2\x82\xAC", 256, std::string(254, 'a')},
        {std::string(253, 'a') + "\xF0\x9F\x8E\xA4", 256, std::string(253, 'a')},
        {"x", 1, ""},
        // Not UTF-8 (Latin-1 bytes in a row): cut where the room ends, never emptied.
        {std::string(300, '\xBE'), 256, std::string(255, '\xBE')},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(c.size, '#');
        CopyCut(buffer.data(), buffer.size(), c.text);
        EXPECT_EQ(std::string(buffer.data()), c.expected) << c.text.size();
    }
}
