#pragma once
// Every statement the application sends: a fixed text and the values bound to it.
#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QVariant>

namespace sql {

// A value bound to one `?` of the text, named by the column it stores or compares.
struct Value {
    QString column;
    QVariant value;
};

struct Statement {
    Statement(QString t = {}, QList<Value> p = {}) : text(std::move(t)), params(std::move(p)) {}

    QString text;
    QList<Value> params;
    // What the data layer does around an entry statement: it seals the texts an insert or an
    // update stores, and refuses a change or a deletion it holds no key for.
    enum class Entry { None, Insert, Update, Delete } entry = Entry::None;
    // A query of the keys of this table's rows: each row is read when the cursor reaches it.
    QString keysOf;
    // The title search: the query gives ID, B_title, B_writer and B_time; the data layer
    // opens each title and keeps the keys of those that match this LIKE pattern.
    QString titleLike;
    // The same for the text search: the query gives ID, B_content, B_writer and B_time.
    QString contentLike;
    // A new entry's random token, the same for every try of one save: on a server, a try
    // repeated after its answer was lost finds the row instead of storing a second.
    QByteArray token;
};

// A text value for a quoted literal: each apostrophe doubled.
QString quote(const QString& value);

// The account statements take names and passwords already normalised.
Statement userQuery(const QString& name);
Statement insertUser(const QString& name, const QString& password);
Statement updatePassword(const QString& newPassword, const QString& name);
Statement setPopedom(const QString& name, int popedom);

// The entry statements take texts as typed.
Statement insertEntry(const QString& title, const QString& weather, const QString& content,
                      const QString& writer);
Statement entriesByDate(const QString& user, const QString& date);
Statement allEntriesByDate(const QString& date);
Statement entriesByTitle(const QString& user, const QString& title);
Statement allEntriesByTitle(const QString& title);
Statement entriesByContent(const QString& user, const QString& text);
Statement allEntriesByContent(const QString& text);
// The text search where the store holds plain texts: the engine's own LIKE, keys only.
Statement plainContentLike(const Statement& byContent);
Statement entriesOf(const QString& user);
Statement allEntries();
Statement deleteEntry(qint32 id);
Statement updateEntry(const QString& title, const QString& weather, const QString& content,
                      const QString& writer, qint32 id);

// Over the rows of a title or text search: their count and largest ID, for a cheap look at
// what changed since; and its rows of ID above `above` up to `upTo`, in ID order.
Statement titleScope(const Statement& titles);
Statement titlesBetween(const Statement& titles, long long above, long long upTo);

// Entries read whole, as the vault takes them: ID, B_title, B_weather, B_content, B_writer,
// B_time.
Statement entryRow(long long id);
// At most `limit` of a writer's (everyone's for a null one) with an ID above `after`, by ID.
Statement entryRowsAfter(const QString& user, long long after, int limit, bool signedOnly);
Statement entryCount(const QString& user, bool signedOnly);

// The date searches for a whole date: B_time begins with that day ("2024-3-1 ..."), so the
// 1st does not also find the 10th to the 19th.
Statement entriesOnDay(const QString& user, const QDate& day);
Statement allEntriesOnDay(const QDate& day);
// The B_time of a writer's (everyone's for a null one) entries of a month, for the calendar.
Statement timesInMonth(const QString& user, int year, int month);

} // namespace sql
