#pragma once
// Texts that break careless quoting, encoding, widgets or storage; every text box of every
// window gets each of them.
#include <QChar>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <string>

using namespace Qt::StringLiterals;

namespace hostile {

// A long line with no break: Chinese, quotes and pattern characters, 40 000 characters.
inline QString longLine() {
    QString line;
    while (line.size() < 40000)
        line += u"日记'%_\\ "_s;
    return line.left(40000);
}

// About a megabyte of diary text in ordinary lines.
inline QString megabyte() {
    QString text;
    for (int i = 0; text.size() < (1 << 20); ++i)
        text += u"第%1行：今天天气不错，it's 100% fine_ok \\o/ 😀\n"_s.arg(i);
    return text;
}

inline QStringList corpus() {
    const QChar nul(0);
    return {
        u"'"_s,
        u"''"_s,
        u"'''''"_s,
        u"'start"_s,
        u"end'"_s,
        u"mid'dle"_s,
        u"'a'b'c'"_s,
        u"'; drop table JR_content; --"_s,
        u"x'); delete from JR_user; --"_s,
        u"' or '1'='1"_s,
        u"%"_s,
        u"_"_s,
        u"100%_off%'"_s,
        u"\\"_s,
        u"C:\\new\\table\\'"_s,
        QString(nul),
        u"a"_s + nul + u"b'"_s + nul,
        u"\u0001\u0002\u0007\u0008\u000b\u000c\u001b\u001f\u007f ctl"_s,
        u"line1\nline2"_s,
        u"cr\ronly"_s,
        u"crlf\r\nend\r\n"_s,
        u"\n\n"_s,
        u"\ttab\tbed\t"_s,
        u"  blanks at both ends  "_s,
        u"😀👨\u200d👩\u200d👧\u200d👦 𝄞 𠀀"_s,
        u"\u200f\u05e9\u05dc\u05d5\u05dd \u202eevil.exe\u202c"_s,
        u"e\u0301 a\u0308\u0323 \u0915\u094d\u0937"_s,
        u"zero\u200bwidth\u200d\u200cjoin\ufeff"_s,
        u"line\u2028sep\u2029para"_s,
        QString(QChar(0xD800)) + u"lone"_s + QChar(0xDC00),
        u"NULL"_s,
        u"/* */ -- ; \" ` ?"_s,
        u"今天'很'好"_s,
        longLine(),
        megabyte(),
    };
}

// How a text reads back from the file: UTF-8 has no lone surrogates, Qt writes '?'.
inline QString asStored(const QString& text) {
    return QString::fromUtf8(text.toUtf8());
}

// How a multi-line box keeps a text: CR, CR LF and the paragraph separator are line breaks.
inline QString asParagraphs(const QString& text) {
    QString t = text;
    t.replace(u"\r\n"_s, u"\n"_s);
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    t.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
    return t;
}

// Short name for failure messages.
inline std::string label(const QString& text) {
    QString shown = text.left(24);
    for (QChar& c : shown)
        if (c.unicode() < 0x20 || c.isSurrogate())
            c = QLatin1Char('.');
    return QStringLiteral("%1 (%2 chars)").arg(shown).arg(text.size()).toStdString();
}

// Equal texts, or where they first differ, briefly: a megabyte is no failure message.
inline ::testing::AssertionResult same(const QString& actual, const QString& expected) {
    if (actual == expected)
        return ::testing::AssertionSuccess();
    qsizetype at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    const auto around = [&](const QString& t) {
        QString hex;
        for (QChar c : t.mid(at, 6))
            hex += QString::number(c.unicode(), 16) + QLatin1Char(' ');
        return hex.toStdString();
    };
    return ::testing::AssertionFailure()
           << "differs at " << at << " (lengths " << actual.size() << " and " << expected.size()
           << "): got [" << around(actual) << "] expected [" << around(expected) << "] in "
           << label(expected);
}

} // namespace hostile
