#pragma once
// Texts that break careless quoting, encoding, widgets or storage; every text box of every
// window gets each of them.
#include <QChar>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <string>

namespace hostile {

inline QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A long line with no break: Chinese, quotes and pattern characters, 40 000 characters.
inline QString longLine() {
    QString line;
    while (line.size() < 40000)
        line += u("日记'%_\\ ");
    return line.left(40000);
}

// About a megabyte of diary text in ordinary lines.
inline QString megabyte() {
    QString text;
    for (int i = 0; text.size() < (1 << 20); ++i)
        text += u("第%1行：今天天气不错，it's 100% fine_ok \\o/ 😀\n").arg(i);
    return text;
}

inline QStringList corpus() {
    const QChar nul(0);
    return {
        u("'"),
        u("''"),
        u("'''''"),
        u("'start"),
        u("end'"),
        u("mid'dle"),
        u("'a'b'c'"),
        u("'; drop table JR_content; --"),
        u("x'); delete from JR_user; --"),
        u("' or '1'='1"),
        u("%"),
        u("_"),
        u("100%_off%'"),
        u("\\"),
        u("C:\\new\\table\\'"),
        QString(nul),
        u("a") + nul + u("b'") + nul,
        u("\x01\x02\x07\x08\x0b\x0c\x1b\x1f\x7f ctl"),
        u("line1\nline2"),
        u("cr\ronly"),
        u("crlf\r\nend\r\n"),
        u("\n\n"),
        u("\ttab\tbed\t"),
        u("  blanks at both ends  "),
        u("😀👨‍👩‍👧‍👦 𝄞 𠀀"),
        u("\xe2\x80\x8f\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d \xe2\x80\xae"
          "evil.exe\xe2\x80\xac"),
        u("e\xcc\x81 a\xcc\x88\xcc\xa3 \xe0\xa4\x95\xe0\xa5\x8d\xe0\xa4\xb7"),
        u("zero\xe2\x80\x8bwidth\xe2\x80\x8d\xe2\x80\x8cjoin\xef\xbb\xbf"),
        u("line\xe2\x80\xa8sep\xe2\x80\xa9para"),
        QString(QChar(0xD800)) + u("lone") + QChar(0xDC00),
        u("NULL"),
        u("/* */ -- ; \" ` ?"),
        u("今天'很'好"),
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
    t.replace(u("\r\n"), u("\n"));
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
