#pragma once
// What every benchmark prints: one tab-separated line per figure, gathered by scripts/bench
// into one table. Columns: figure, value, unit, target, ratio to the reference, reference.
#include <QString>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// What a figure is measured against: a name and a value in the figure's own unit.
struct Reference {
    QString name;
    double value = 0;
};

inline void report(const QString& figure, double value, const char* unit,
                   const QString& target = QStringLiteral("-"), const Reference& ref = {}) {
    const bool hasRef = !ref.name.isEmpty();
    const QString ratio =
        hasRef && ref.value > 0 ? QString::number(value / ref.value, 'f', 2) : QStringLiteral("-");
    const QString refText = hasRef ? QStringLiteral("%1 %2 %3")
                                         .arg(ref.name)
                                         .arg(ref.value, 0, 'g', 4)
                                         .arg(QString::fromLatin1(unit))
                                   : QStringLiteral("-");
    std::printf("%s\t%.4g\t%s\t%s\t%s\t%s\n", figure.toUtf8().constData(), value, unit,
                target.toUtf8().constData(), ratio.toUtf8().constData(),
                refText.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace bench
