#pragma once
// Every statement the application sends, built from fixed fragments and values.
#include <QDate>
#include <QString>

namespace sql {

// A text value for a quoted literal: each apostrophe doubled.
QString quote(const QString& value);

// The account statements take names and passwords already normalised (no apostrophes).
QString userQuery(const QString& name);
QString insertUser(const QString& name, const QString& password);
QString updatePassword(const QString& newPassword, const QString& name);

// The entry statements take texts as typed; they are quoted here.
QString insertEntry(const QString& title, const QString& weather, const QString& content,
                    const QString& writer);
QString entriesByDate(const QString& user, const QString& date);
QString allEntriesByDate(const QString& date);
QString entriesByTitle(const QString& user, const QString& title);
QString allEntriesByTitle(const QString& title);
QString entriesOf(const QString& user);
QString allEntries();
QString deleteEntry(qint32 id);
QString updateEntry(const QString& title, const QString& weather, const QString& content,
                    const QString& writer, qint32 id);

// The date searches for a whole date: B_time begins with that day ("2024-3-1 ..."), so the
// 1st does not also find the 10th to the 19th.
QString entriesOnDay(const QString& user, const QDate& day);
QString allEntriesOnDay(const QDate& day);

} // namespace sql
