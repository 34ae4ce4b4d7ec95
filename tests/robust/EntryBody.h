#pragma once
#include <QString>

using namespace Qt::StringLiterals;

// The text every entry of a run gets, so a reader can tell a whole entry from a torn one.
inline QString entryBody(const QString& tag, int n) {
    QString body;
    for (int line = 0; line < 40; ++line)
        body += u"%1 第%2篇 第%3行 'quote' 😀\n"_s.arg(tag).arg(n).arg(line);
    return body;
}
