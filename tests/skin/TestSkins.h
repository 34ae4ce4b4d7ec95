#pragma once
// Small complete skins for the skin tests.
#include "skin/SkinFile.h"

#include <QSize>

namespace testskin {

QByteArray png(QSize size, QColor colour);
QByteArray bmp(QSize size, QColor colour);
// Every key of a complete skin; picture sizes can be changed per key afterwards.
skin::PropertyBag completeBag();
// Writes the bag as a skin file and returns its path.
QString write(const QString& path, const skin::PropertyBag& bag);

} // namespace testskin
