#include "base/DateText.h"

#include <QRegularExpression>

namespace app {

QString dateText(const QDate& date) {
    return QString::number(date.year()) + QLatin1Char('-') + QString::number(date.month()) +
           QLatin1Char('-') + QString::number(date.day());
}

std::optional<QDate> completeDate(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{4})-([0-9]{1,2})-([0-9]{1,2})$"));
    const auto m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate d(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!d.isValid())
        return std::nullopt;
    return d;
}

} // namespace app
