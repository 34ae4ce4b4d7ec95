#include "data/statements.h"

#include "base/DateText.h"

namespace sql {

QString quote(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\''), QStringLiteral("''"));
    return v;
}

QString userQuery(const QString& name) {
    return QStringLiteral("select*from JR_user where B_user='") + name + QStringLiteral("'");
}

QString insertUser(const QString& name, const QString& password) {
    return QStringLiteral("insert into JR_user(B_user,B_password) ") + QStringLiteral("values('") +
           name + QStringLiteral("','") + password + QStringLiteral("')");
}

QString updatePassword(const QString& newPassword, const QString& name) {
    return QStringLiteral("update JR_user set B_password='") + newPassword +
           QStringLiteral("' where B_user='") + name + QStringLiteral("'");
}

QString insertEntry(const QString& title, const QString& weather, const QString& content,
                    const QString& writer) {
    return QStringLiteral("insert into JR_content(B_title,B_weather,B_content,B_writer)values ") +
           QStringLiteral("('") + quote(title) + QStringLiteral("','") + quote(weather) +
           QStringLiteral("','") + quote(content) + QStringLiteral("','") + quote(writer) +
           QStringLiteral("')");
}

QString entriesByDate(const QString& user, const QString& date) {
    return QStringLiteral("select * from JR_content where B_writer='") + quote(user) +
           QStringLiteral("' and B_time LIKE '%") + quote(date) + QStringLiteral("%'");
}

QString allEntriesByDate(const QString& date) {
    return QStringLiteral("select * from JR_content where B_time LIKE '%") + quote(date) +
           QStringLiteral("%'");
}

QString entriesByTitle(const QString& user, const QString& title) {
    return QStringLiteral("select * from JR_content where B_writer='") + quote(user) +
           QStringLiteral("' and B_title LIKE '%") + quote(title) + QStringLiteral("%'");
}

QString allEntriesByTitle(const QString& title) {
    return QStringLiteral("select * from JR_content where B_title LIKE '%") + quote(title) +
           QStringLiteral("%'");
}

QString entriesOf(const QString& user) {
    return QStringLiteral("select * from JR_content where B_writer='") + quote(user) +
           QStringLiteral("'");
}

QString allEntries() {
    return QStringLiteral("select * from JR_content");
}

namespace {
// B_time is stored as 'Y-M-D H:MM:SS' with no leading zeros in the date.
QString onDay(const QDate& day) {
    const QString d = app::dateText(day);
    return QStringLiteral("(B_time LIKE '") + d + QStringLiteral(" %' or B_time='") + d +
           QStringLiteral("')");
}
} // namespace

QString entriesOnDay(const QString& user, const QDate& day) {
    return QStringLiteral("select * from JR_content where B_writer='") + quote(user) +
           QStringLiteral("' and ") + onDay(day);
}

QString allEntriesOnDay(const QDate& day) {
    return QStringLiteral("select * from JR_content where ") + onDay(day);
}

QString deleteEntry(qint32 id) {
    return QStringLiteral("delete*from JR_content where ID=") + QString::number(id);
}

QString updateEntry(const QString& title, const QString& weather, const QString& content,
                    const QString& writer, qint32 id) {
    return QStringLiteral("update JR_content set B_title='") + quote(title) + QStringLiteral("',") +
           QStringLiteral("B_weather='") + quote(weather) + QStringLiteral("',") +
           QStringLiteral("B_content='") + quote(content) + QStringLiteral("',") +
           QStringLiteral("B_writer='") + quote(writer) + QStringLiteral("' where ID=") +
           QString::number(id);
}

} // namespace sql
