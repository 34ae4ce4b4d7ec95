#pragma once
// Decoded skins shared by every skinned control: a file is read and its pictures decoded
// once per (path, size, modification time), so a resize costs no decoding while a new or
// changed file is read at once. Use from the user-interface thread only.
#include "skin/SkinFile.h"

#include <QColor>
#include <QHash>
#include <QPixmap>
#include <QString>
#include <memory>
#include <optional>

namespace skin {

class Skin {
public:
    explicit Skin(PropertyBag bag) : m_bag(std::move(bag)) {}

    const PropertyBag& bag() const { return m_bag; }
    bool isEmpty() const { return m_bag.isEmpty(); }

    // Each read fails (nullopt) for a missing key, another kind or an undecodable picture.
    std::optional<QPixmap> picture(const QString& key) const;
    std::optional<qint16> integer(const QString& key) const { return m_bag.readInteger(key); }
    std::optional<quint32> colour(const QString& key) const { return m_bag.readColour(key); }
    // The colour as drawn; nullopt also for an unknown system colour.
    std::optional<QColor> color(const QString& key) const;

private:
    PropertyBag m_bag;
    mutable QHash<QString, std::optional<QPixmap>> m_pictures; // folded key -> decoded once
};

class SkinCache {
public:
    // Never null: a missing, unreadable or malformed file gives an empty skin.
    static std::shared_ptr<const Skin> load(const QString& path);

    // Off: every load reads and decodes the file again (for measuring).
    static void setEnabled(bool on);
    static void clear();
    // How many times a skin file has actually been read since the start.
    static int fileReads();
};

} // namespace skin
