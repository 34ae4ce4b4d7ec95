#pragma once
// Skin files (*.jss): a property bag of named pictures, 16-bit integers and colours, wrapped
// in one stored byte-array variant. Reading never trusts a length or count: anything
// malformed reads as an empty bag.
#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QPalette>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>
#include <vector>

class QIODevice;

namespace skin {

enum class Kind : quint8 { Picture = 1, Integer = 2, Colour = 3 };

struct Entry {
    QString key; // as written; lookups ignore case
    Kind kind = Kind::Integer;
    QByteArray picture; // PNG or BMP bytes, Kind::Picture only
    qint16 integer = 0;
    quint32 colour = 0; // 0x00BBGGRR, or 0x80000000 | system colour index
};

class PropertyBag {
public:
    // Replaces the whole contents with a serialized bag; malformed bytes leave it empty and
    // return false.
    bool setContents(const QByteArray& bytes);
    QByteArray contents() const;

    bool isEmpty() const { return m_entries.empty(); }
    int count() const { return int(m_entries.size()); }
    const std::vector<Entry>& entries() const { return m_entries; }
    const Entry* find(const QString& key) const;
    bool contains(const QString& key) const { return find(key) != nullptr; }

    // Each read fails (nullopt) when the key is absent or holds another kind.
    std::optional<QByteArray> readPictureBytes(const QString& key) const;
    std::optional<QImage> readPicture(const QString& key) const; // also fails if undecodable
    std::optional<qint16> readInteger(const QString& key) const;
    std::optional<quint32> readColour(const QString& key) const;

    // Writing replaces an entry whose key matches without regard to case, keeping its place.
    // Keys must be non-empty and shorter than 64 KiB; pictures under 4 GiB.
    bool writePicture(const QString& key, const QByteArray& bytes);
    bool writeInteger(const QString& key, qint16 value);
    bool writeColour(const QString& key, quint32 value);

    void clear();

private:
    bool put(Entry e);
    std::vector<Entry> m_entries;
    QHash<QString, int> m_index; // case-folded key -> position
};

// The outer wrapper: one stored variant holding an array of bytes.
QByteArray wrapVariant(const QByteArray& bag);
std::optional<QByteArray> unwrapVariant(const QByteArray& file);

// Whole file -> bag; an empty bag when the file is missing, unreadable, malformed or over
// kMaxSkinBytes.
PropertyBag ReadSkinFile(const QString& path);
// Largest skin file read; a larger one is refused before any byte is read.
inline constexpr qint64 kMaxSkinBytes = 32 * 1024 * 1024;
// All of the device's bytes, or nullopt when they are more than `cap` or a read fails. Takes
// memory only for bytes actually read, whatever size the device claims.
std::optional<QByteArray> readAtMost(QIODevice& in, qint64 cap);
PropertyBag parseSkin(const QByteArray& fileBytes);
QByteArray serializeSkin(const PropertyBag& bag);
bool WriteSkinFile(const QString& path, const PropertyBag& bag, QString* error = nullptr);

// Decodes PNG or BMP bytes, refusing images too large to be a skin piece. Null on failure.
QImage decodePicture(const QByteArray& bytes);
// Largest side and pixel count a picture may decode to.
inline constexpr int kMaxPictureSide = 8192;
inline constexpr qint64 kMaxPicturePixels = 4 * 1024 * 1024;

// 0x00BBGGRR -> colour. A value with the high bit set names the system colour whose index is
// in the low byte, taken from the palette's matching role; an unknown index gives an invalid
// colour.
QColor toQColor(quint32 value, const QPalette& palette);
QColor toQColor(quint32 value); // with the application palette
quint32 fromQColor(const QColor& colour);
inline constexpr quint32 kSystemColour = 0x80000000u;

// Every key a complete skin holds, with its kind, in table order.
struct KeySpec {
    const char* name;
    Kind kind;
};
const std::vector<KeySpec>& skinKeys();

} // namespace skin
