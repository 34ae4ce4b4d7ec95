// Normalisation and password keeping, as every account path relies on them.
#include "accounts/Password.h"

#include "support/Fakes.h"

#include <gtest/gtest.h>

using accounts::normalise;

namespace {
QString s(const char* utf8) {
    return QString::fromUtf8(utf8);
}
} // namespace

TEST(Normalise, BlanksAtTheEndsThenApostrophes) {
    EXPECT_EQ(normalise(s("  ann  ")), s("ann"));
    EXPECT_EQ(normalise(s("o'neil")), s("oneil"));
    EXPECT_EQ(normalise(s("'' ")), s(""));
    // Blanks first, then apostrophes: a blank that stood by an edge apostrophe stays.
    EXPECT_EQ(normalise(s("' ann '")), s(" ann "));
    EXPECT_EQ(normalise(s("\tann\t")), s("\tann\t")); // only U+0020 is a blank here
    EXPECT_EQ(normalise(s("\u3000ann")), s("\u3000ann"));
    EXPECT_EQ(normalise(s("a b")), s("a b"));
}

TEST(Passwords, HashesVerifyAndNeverHoldTheText) {
    const QString h = accounts::hashPassword(s("秘密 pass"));
    EXPECT_TRUE(accounts::isHash(h));
    EXPECT_FALSE(h.contains(s("pass")));
    EXPECT_NE(h, accounts::hashPassword(s("秘密 pass"))); // salted
    EXPECT_TRUE(accounts::verifyPassword(s("秘密 pass"), h));
    EXPECT_FALSE(accounts::verifyPassword(s("秘密 pas"), h));
    EXPECT_TRUE(accounts::verifyPassword(QString(), accounts::hashPassword(QString())));
}

TEST(Passwords, PlainTextFromElsewhereAndUnknownUsers) {
    EXPECT_TRUE(accounts::verifyPassword(s("abc"), s("abc")));
    EXPECT_FALSE(accounts::verifyPassword(s("abc"), s("abd")));
    EXPECT_FALSE(accounts::verifyPassword(s("ab"), s("abc")));
    EXPECT_TRUE(accounts::verifyPassword(QString(), QString()));
    // No row: never a match, whatever is typed.
    EXPECT_FALSE(accounts::verifyPassword(QString(), QString(), false));
    EXPECT_FALSE(accounts::verifyPassword(s("x"), QString(), false));
}
