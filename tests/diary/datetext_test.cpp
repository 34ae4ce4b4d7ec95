#include "diary/DateText.h"

#include <gtest/gtest.h>

using diary::completeDate;
using diary::dateText;

TEST(DateText, IsWrittenWithoutLeadingZeros) {
    EXPECT_EQ(dateText(QDate(2024, 3, 7)), QStringLiteral("2024-3-7"));
    EXPECT_EQ(dateText(QDate(2008, 11, 25)), QStringLiteral("2008-11-25"));
    EXPECT_EQ(dateText(QDate(2024, 12, 31)), QStringLiteral("2024-12-31"));
}

TEST(DateText, CompleteDatesAreRecognisedWithOrWithoutZerosAndBlanks) {
    for (const char* s : {"2024-3-1", "2024-03-01", "  2024-3-01 ", "\t2024-3-1", "2024-02-29"}) {
        const auto d = completeDate(QString::fromLatin1(s));
        ASSERT_TRUE(d.has_value()) << s;
        EXPECT_EQ(d->month() * 100 + d->day(),
                  QString::fromLatin1(s).contains(QLatin1String("02-29")) ? 229 : 301)
            << s;
    }
}

TEST(DateText, AnythingElseIsNotACompleteDate) {
    for (const char* s : {"", "2024", "2024-3", "2024-3-", "2024-2-30", "2023-2-29", "2024-13-1",
                          "2024-0-1", "24-3-1", "2024/3/1", "2024-3-1 9:05:00", "2024 - 3 - 1",
                          "x2024-3-1", "2024-3-1x", "２０２４-3-1", "2024-003-1", "-2024-3-1"})
        EXPECT_FALSE(completeDate(QString::fromUtf8(s)).has_value()) << s;
}
