#include "data/statements.h"

#include "base/DateText.h"
#include "vault/EntryStore.h"

namespace sql {
namespace {

const QString kEntries = QStringLiteral("JR_content");

Statement keys(const QString& where, QList<Value> params) {
    Statement s{QStringLiteral("select ID from JR_content") + where, std::move(params)};
    s.keysOf = kEntries;
    return s;
}

Value writer(const QString& user) {
    return {QStringLiteral("B_writer"), user};
}

const QString kTitles = QStringLiteral("select ID,B_title,B_writer,B_time from JR_content");
const QString kContents = QStringLiteral("select ID,B_content,B_writer,B_time from JR_content");

Statement titles(const QString& where, QList<Value> params, const QString& title) {
    Statement s{kTitles + where, std::move(params)};
    s.keysOf = kEntries;
    s.titleLike = QLatin1Char('%') + title + QLatin1Char('%');
    return s;
}

Statement contents(const QString& where, QList<Value> params, const QString& text) {
    Statement s{kContents + where, std::move(params)};
    s.keysOf = kEntries;
    s.contentLike = QLatin1Char('%') + text + QLatin1Char('%');
    return s;
}

// The condition of a title or text search, after its fixed head.
QString whereOf(const Statement& s) {
    return s.text.mid((s.contentLike.isEmpty() ? kTitles : kContents).size());
}

// B_time is stored as 'Y-M-D H:MM:SS' with no leading zeros in the date.
QList<Value> onDay(const QDate& day) {
    const QString d = app::dateText(day);
    return {{QStringLiteral("B_time"), d + QStringLiteral(" %")}, {QStringLiteral("B_time"), d}};
}

// The one spelling of an entry read whole, in the order of vault::EntryRow.
const QString kEntryRow = QStringLiteral("select %1 from JR_content")
                              .arg(vault::entryRowColumns().join(QLatin1Char(',')));

} // namespace

QString quote(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\''), QStringLiteral("''"));
    return v;
}

Statement userQuery(const QString& name) {
    return {QStringLiteral("select*from JR_user where B_user=?"),
            {{QStringLiteral("B_user"), name}}};
}

Statement insertUser(const QString& name, const QString& password) {
    return {QStringLiteral("insert into JR_user(B_user,B_password) values(?,?)"),
            {{QStringLiteral("B_user"), name}, {QStringLiteral("B_password"), password}}};
}

Statement updatePassword(const QString& newPassword, const QString& name) {
    return {QStringLiteral("update JR_user set B_password=? where B_user=?"),
            {{QStringLiteral("B_password"), newPassword}, {QStringLiteral("B_user"), name}}};
}

Statement setPopedom(const QString& name, int popedom) {
    return {QStringLiteral("update JR_user set popedom=? where B_user=?"),
            {{QStringLiteral("popedom"), popedom}, {QStringLiteral("B_user"), name}}};
}

Statement insertEntry(const QString& title, const QString& weather, const QString& content,
                      const QString& writerName) {
    Statement s{QStringLiteral("insert into JR_content(B_title,B_weather,B_content,B_writer)"
                               "values (?,?,?,?)"),
                {{QStringLiteral("B_title"), title},
                 {QStringLiteral("B_weather"), weather},
                 {QStringLiteral("B_content"), content},
                 writer(writerName)}};
    s.entry = Statement::Entry::Insert;
    return s;
}

Statement entriesByDate(const QString& user, const QString& date) {
    return keys(
        QStringLiteral(" where B_writer=? and B_time LIKE ?"),
        {writer(user), {QStringLiteral("B_time"), QLatin1Char('%') + date + QLatin1Char('%')}});
}

Statement allEntriesByDate(const QString& date) {
    return keys(QStringLiteral(" where B_time LIKE ?"),
                {{QStringLiteral("B_time"), QLatin1Char('%') + date + QLatin1Char('%')}});
}

Statement entriesByTitle(const QString& user, const QString& title) {
    return titles(QStringLiteral(" where B_writer=?"), {writer(user)}, title);
}

Statement allEntriesByTitle(const QString& title) {
    return titles(QString(), {}, title);
}

Statement entriesByContent(const QString& user, const QString& text) {
    return contents(QStringLiteral(" where B_writer=?"), {writer(user)}, text);
}

Statement allEntriesByContent(const QString& text) {
    return contents(QString(), {}, text);
}

Statement plainContentLike(const Statement& byContent) {
    const QString where = whereOf(byContent);
    return keys(where + (where.isEmpty() ? QStringLiteral(" where") : QStringLiteral(" and")) +
                    QStringLiteral(" B_content LIKE ?"),
                byContent.params +
                    QList<Value>{{QStringLiteral("B_content"), byContent.contentLike}});
}

Statement entriesOf(const QString& user) {
    return keys(QStringLiteral(" where B_writer=?"), {writer(user)});
}

Statement allEntries() {
    return keys(QString(), {});
}

Statement entriesOnDay(const QString& user, const QDate& day) {
    return keys(QStringLiteral(" where B_writer=? and (B_time LIKE ? or B_time=?)"),
                QList<Value>{writer(user)} + onDay(day));
}

Statement allEntriesOnDay(const QDate& day) {
    return keys(QStringLiteral(" where (B_time LIKE ? or B_time=?)"), onDay(day));
}

Statement timesInMonth(const QString& user, int year, int month) {
    // Months run to 12 only: "2024-1-%" never takes October's "2024-10-...".
    const Value days{QStringLiteral("B_time"), QStringLiteral("%1-%2-%").arg(year).arg(month)};
    if (user.isNull())
        return {QStringLiteral("select B_time from JR_content where B_time LIKE ?"), {days}};
    return {QStringLiteral("select B_time from JR_content where B_writer=? and B_time LIKE ?"),
            {writer(user), days}};
}

Statement deleteEntry(qint32 id) {
    Statement s{QStringLiteral("delete from JR_content where ID=?"), {{QStringLiteral("ID"), id}}};
    s.entry = Statement::Entry::Delete;
    return s;
}

Statement updateEntry(const QString& title, const QString& weather, const QString& content,
                      const QString& writerName, qint32 id) {
    Statement s{QStringLiteral("update JR_content set B_title=?,B_weather=?,B_content=?,"
                               "B_writer=? where ID=?"),
                {{QStringLiteral("B_title"), title},
                 {QStringLiteral("B_weather"), weather},
                 {QStringLiteral("B_content"), content},
                 writer(writerName),
                 {QStringLiteral("ID"), id}}};
    s.entry = Statement::Entry::Update;
    return s;
}

Statement titleScope(const Statement& titles) {
    return {QStringLiteral("select count(*),max(ID) from JR_content") + whereOf(titles),
            titles.params};
}

Statement titlesBetween(const Statement& titles, long long above, long long upTo) {
    const QString where = whereOf(titles);
    return {titles.text + (where.isEmpty() ? QStringLiteral(" where") : QStringLiteral(" and")) +
                QStringLiteral(" ID>? and ID<=? order by ID"),
            titles.params +
                QList<Value>{{QStringLiteral("ID"), QVariant::fromValue<qint64>(above)},
                             {QStringLiteral("ID"), QVariant::fromValue<qint64>(upTo)}}};
}

Statement entryRow(long long id) {
    return {kEntryRow + QStringLiteral(" where ID=?"),
            {{QStringLiteral("ID"), QVariant::fromValue<qint64>(id)}}};
}

namespace {
// The rows of a writer (or everyone's); only those the upgrade signed when `signedOnly`.
QString scope(const QString& user, bool signedOnly) {
    return (user.isNull() ? QStringLiteral(" where 1=1") : QStringLiteral(" where B_writer=?")) +
           (signedOnly ? QStringLiteral(" and ID in (select ID from JR_plain)") : QString());
}
} // namespace

Statement entryRowsAfter(const QString& user, long long after, int limit, bool signedOnly) {
    Statement s{kEntryRow + scope(user, signedOnly) +
                    QStringLiteral(" and ID>? order by ID limit ?"),
                {{QStringLiteral("ID"), QVariant::fromValue<qint64>(after)}, {QString(), limit}}};
    if (!user.isNull())
        s.params.prepend(writer(user));
    return s;
}

Statement entryCount(const QString& user, bool signedOnly) {
    Statement s{QStringLiteral("select count(*) from JR_content") + scope(user, signedOnly), {}};
    if (!user.isNull())
        s.params.append(writer(user));
    return s;
}

} // namespace sql
