// The secret type: its text kept through growth, moves and pieces of itself, and the wipe.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/secret/Secret.h"

namespace {

using korrin::platform::Secret;

TEST(Secret, KeepsItsTextThroughGrowthMovesAndPiecesOfItself) {
    Secret s("pw");
    for (int i = 0; i < 100; ++i)
        s.append('x');
    EXPECT_EQ(s.view(), "pw" + std::string(100, 'x'));
    s.append(s.view().substr(0, 2));  // grows while reading from itself
    EXPECT_EQ(s.view().substr(100), "xxpw");
    s.assign(s.view().substr(100, 3));
    EXPECT_EQ(s.view(), "xxp");
    Secret moved(std::move(s));
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(moved.view(), "xxp");
    std::memcpy(moved.resize(5), "abcde", 5);
    EXPECT_EQ(moved.view(), "abcde");
    moved.resize(2);
    EXPECT_EQ(moved.view(), "ab");
    Secret copy = moved;
    moved.clear();
    EXPECT_EQ(copy.view(), "ab");
    EXPECT_TRUE(moved.empty());

    char bytes[4] = {'a', 'b', 'c', 'd'};
    korrin::platform::WipeMemory(bytes, sizeof bytes);
    EXPECT_EQ(std::string(bytes, 4), std::string(4, '\0'));
}

}  // namespace
