// Normalisation and password keeping, as every account path relies on them.
#include "accounts/Password.h"

#include "support/TempApp.h"

using accounts::normalise;

TEST(Normalise, BlanksAtTheEndsThenApostrophes) {
    EXPECT_EQ(normalise(u"  ann  "_s), u"ann"_s);
    EXPECT_EQ(normalise(u"o'neil"_s), u"oneil"_s);
    EXPECT_EQ(normalise(u"'' "_s), u""_s);
    // Blanks first, then apostrophes: a blank that stood by an edge apostrophe stays.
    EXPECT_EQ(normalise(u"' ann '"_s), u" ann "_s);
    EXPECT_EQ(normalise(u"\tann\t"_s), u"\tann\t"_s); // only U+0020 is a blank here
    EXPECT_EQ(normalise(u"\u3000ann"_s), u"\u3000ann"_s);
    EXPECT_EQ(normalise(u"a b"_s), u"a b"_s);
}

// The one test at the real cost.
TEST(Passwords, HashesVerifyAndNeverHoldTheText) {
    accounts::setCheapHashesForTests(false);
    const QString h = accounts::hashPassword(u"秘密 pass"_s);
    EXPECT_TRUE(accounts::isHash(h));
    EXPECT_FALSE(h.contains(u"pass"_s));
    EXPECT_NE(h, accounts::hashPassword(u"秘密 pass"_s)); // salted
    EXPECT_TRUE(accounts::verifyPassword(u"秘密 pass"_s, h));
    EXPECT_FALSE(accounts::verifyPassword(u"秘密 pas"_s, h));
    EXPECT_TRUE(accounts::verifyPassword(QString(), accounts::hashPassword(QString())));
}

TEST(Passwords, PlainTextFromElsewhereAndUnknownUsers) {
    EXPECT_TRUE(accounts::verifyPassword(u"abc"_s, u"abc"_s));
    EXPECT_FALSE(accounts::verifyPassword(u"abc"_s, u"abd"_s));
    EXPECT_FALSE(accounts::verifyPassword(u"ab"_s, u"abc"_s));
    EXPECT_TRUE(accounts::verifyPassword(QString(), QString()));
    // No row: never a match, whatever is typed.
    EXPECT_FALSE(accounts::verifyPassword(QString(), QString(), false));
    EXPECT_FALSE(accounts::verifyPassword(u"x"_s, QString(), false));
}
