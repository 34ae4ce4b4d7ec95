#pragma once
// Every statement the application sends, built from fixed fragments and values.
#include <QDate>
#include <QString>

namespace sql {

// A text value for a quoted literal: each apostrophe doubled.
QString quote(const QString& value);

// Statements 1 to 4 take names and passwords already normalised (no apostrophes).
QString loginQuery(const QString& name, const QString& password);        // 1
QString userQuery(const QString& name);                                  // 2
QString insertUser(const QString& name, const QString& password);        // 3
QString updatePassword(const QString& newPassword, const QString& name); // 4

// The rest take texts as typed; they are quoted here.
QString insertEntry(const QString& title, const QString& weather, const QString& content,
                    const QString& writer);                        // 5
QString entriesByDate(const QString& user, const QString& date);   // 6
QString allEntriesByDate(const QString& date);                     // 7
QString entriesByTitle(const QString& user, const QString& title); // 8
QString allEntriesByTitle(const QString& title);                   // 9
QString entriesOf(const QString& user);                            // 10
QString allEntries();                                              // 11
QString deleteEntry(qint32 id);                                    // 12
QString updateEntry(const QString& title, const QString& weather, const QString& content,
                    const QString& writer, qint32 id); // 13

// 6 and 7 for a whole date: B_time begins with that day ("2024-3-1 ..."), so the 1st does not
// also find the 10th to the 19th.
QString entriesOnDay(const QString& user, const QDate& day);
QString allEntriesOnDay(const QDate& day);

} // namespace sql
