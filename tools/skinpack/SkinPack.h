#pragma once
// Skin folders (skin.ini + one picture per key) to and from skin files.
#include "skin/SkinFile.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace skinpack {

struct Result {
    bool ok = false;
    QString error; // what went wrong, naming the file and line or keys concerned
};

// skin.ini text -> integer and colour entries. Lines are "KEY = value" with the value a
// decimal 16-bit integer, "#RRGGBB" or "system:N"; blank lines, ";" or "#" comments and
// "[section]" headers are skipped.
Result parseIni(const QString& text, skin::PropertyBag& into);
QString formatIni(const skin::PropertyBag& bag);
QString formatColour(quint32 value);

// Keys become file names, so only letters, digits, "_" and "-" are allowed.
bool isSafeKey(const QString& key);

// Builds OUT from DIR/skin.ini and DIR/<KEY>.png (or .bmp); refuses a folder that lacks any
// key of a complete skin, naming the missing ones.
Result pack(const QString& dir, const QString& out);
// Writes every picture as <KEY>.png/.bmp byte for byte and the rest as skin.ini.
Result unpack(const QString& file, const QString& dir);
// One line per entry: key, kind, and size or value.
std::optional<QStringList> list(const QString& file, QString* error);

} // namespace skinpack
