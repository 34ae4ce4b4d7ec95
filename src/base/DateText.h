#pragma once
// Dates as the diary writes them: year-month-day without leading zeros (2024-3-7).
#include <QDate>
#include <QString>
#include <optional>

namespace app {

QString dateText(const QDate& date);

// A complete, valid year-month-day (leading zeros allowed, blanks at the ends ignored);
// nothing for any other text.
std::optional<QDate> completeDate(const QString& text);

} // namespace app
