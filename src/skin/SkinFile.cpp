#include "skin/SkinFile.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QSaveFile>
#include <QStringDecoder>
#include <cstring>

namespace skin {
namespace {

constexpr quint16 kVariantByteArray = 0x2011;
constexpr char kMagic[4] = {'J', 'S', 'S', 'B'};
constexpr quint16 kVersion = 1;

// Bounds-checked little-endian reading: every take fails once the bytes run out.
class Cursor {
public:
    explicit Cursor(const QByteArray& b) : m_data(b.constData()), m_left(b.size()) {}
    qsizetype left() const { return m_left; }
    bool u8(quint8& v) {
        if (m_left < 1)
            return false;
        v = quint8(*m_data);
        skip(1);
        return true;
    }
    bool u16(quint16& v) {
        if (m_left < 2)
            return false;
        v = quint16(quint8(m_data[0]) | quint8(m_data[1]) << 8);
        skip(2);
        return true;
    }
    bool u32(quint32& v) {
        if (m_left < 4)
            return false;
        v = quint32(quint8(m_data[0])) | quint32(quint8(m_data[1])) << 8 |
            quint32(quint8(m_data[2])) << 16 | quint32(quint8(m_data[3])) << 24;
        skip(4);
        return true;
    }
    bool bytes(quint64 n, QByteArray& out) {
        if (n > quint64(m_left))
            return false;
        out = QByteArray(m_data, qsizetype(n));
        skip(qsizetype(n));
        return true;
    }

private:
    void skip(qsizetype n) {
        m_data += n;
        m_left -= n;
    }
    const char* m_data;
    qsizetype m_left;
};

void putU16(QByteArray& out, quint16 v) {
    out.append(char(v & 0xff));
    out.append(char(v >> 8));
}
void putU32(QByteArray& out, quint32 v) {
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xff));
}

QString fold(const QString& key) {
    return key.toCaseFolded();
}

bool validKey(const QString& key) {
    return !key.isEmpty() && key.toUtf8().size() <= 0xffff;
}

} // namespace

// ---- bag ----

void PropertyBag::clear() {
    m_entries.clear();
    m_index.clear();
}

const Entry* PropertyBag::find(const QString& key) const {
    const auto it = m_index.constFind(fold(key));
    return it == m_index.constEnd() ? nullptr : &m_entries[size_t(*it)];
}

bool PropertyBag::put(Entry e) {
    if (!validKey(e.key))
        return false;
    const QString k = fold(e.key);
    const auto it = m_index.constFind(k);
    if (it != m_index.constEnd()) {
        m_entries[size_t(*it)] = std::move(e);
        return true;
    }
    m_index.insert(k, int(m_entries.size()));
    m_entries.push_back(std::move(e));
    return true;
}

bool PropertyBag::writePicture(const QString& key, const QByteArray& bytes) {
    if (quint64(bytes.size()) > 0xffffffffull)
        return false;
    Entry e;
    e.key = key;
    e.kind = Kind::Picture;
    e.picture = bytes;
    return put(std::move(e));
}

bool PropertyBag::writeInteger(const QString& key, qint16 value) {
    Entry e;
    e.key = key;
    e.kind = Kind::Integer;
    e.integer = value;
    return put(std::move(e));
}

bool PropertyBag::writeColour(const QString& key, quint32 value) {
    Entry e;
    e.key = key;
    e.kind = Kind::Colour;
    e.colour = value;
    return put(std::move(e));
}

std::optional<QByteArray> PropertyBag::readPictureBytes(const QString& key) const {
    const Entry* e = find(key);
    if (!e || e->kind != Kind::Picture)
        return std::nullopt;
    return e->picture;
}

std::optional<QImage> PropertyBag::readPicture(const QString& key) const {
    const auto bytes = readPictureBytes(key);
    if (!bytes)
        return std::nullopt;
    QImage img = decodePicture(*bytes);
    if (img.isNull())
        return std::nullopt;
    return img;
}

std::optional<qint16> PropertyBag::readInteger(const QString& key) const {
    const Entry* e = find(key);
    if (!e || e->kind != Kind::Integer)
        return std::nullopt;
    return e->integer;
}

std::optional<quint32> PropertyBag::readColour(const QString& key) const {
    const Entry* e = find(key);
    if (!e || e->kind != Kind::Colour)
        return std::nullopt;
    return e->colour;
}

bool PropertyBag::setContents(const QByteArray& bytes) {
    clear();
    Cursor c(bytes);
    QByteArray magic;
    quint16 version = 0, count = 0;
    if (!c.bytes(4, magic) || std::memcmp(magic.constData(), kMagic, 4) != 0 || !c.u16(version) ||
        version != kVersion || !c.u16(count))
        return false;
    // Entries are appended one by one as they prove complete, never reserved by count.
    for (quint32 i = 0; i < count; ++i) {
        quint16 keyLen = 0;
        QByteArray keyBytes;
        quint8 kind = 0;
        if (!c.u16(keyLen) || keyLen == 0 || !c.bytes(keyLen, keyBytes) || !c.u8(kind))
            return clear(), false;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        Entry e;
        e.key = utf8(keyBytes);
        if (utf8.hasError() || e.key.isEmpty() || find(e.key))
            return clear(), false;
        switch (kind) {
        case quint8(Kind::Picture): {
            quint32 len = 0;
            if (!c.u32(len) || !c.bytes(len, e.picture))
                return clear(), false;
            e.kind = Kind::Picture;
            break;
        }
        case quint8(Kind::Integer): {
            quint16 v = 0;
            if (!c.u16(v))
                return clear(), false;
            e.kind = Kind::Integer;
            e.integer = qint16(v);
            break;
        }
        case quint8(Kind::Colour): {
            if (!c.u32(e.colour))
                return clear(), false;
            e.kind = Kind::Colour;
            break;
        }
        default:
            return clear(), false;
        }
        put(std::move(e));
    }
    if (c.left() != 0)
        return clear(), false;
    return true;
}

QByteArray PropertyBag::contents() const {
    QByteArray out(kMagic, 4);
    putU16(out, kVersion);
    putU16(out, quint16(m_entries.size()));
    for (const Entry& e : m_entries) {
        const QByteArray k = e.key.toUtf8();
        putU16(out, quint16(k.size()));
        out.append(k);
        out.append(char(e.kind));
        switch (e.kind) {
        case Kind::Picture:
            putU32(out, quint32(e.picture.size()));
            out.append(e.picture);
            break;
        case Kind::Integer:
            putU16(out, quint16(e.integer));
            break;
        case Kind::Colour:
            putU32(out, e.colour);
            break;
        }
    }
    return out;
}

// ---- wrapper and files ----

QByteArray wrapVariant(const QByteArray& bag) {
    QByteArray out;
    putU16(out, kVariantByteArray);
    putU16(out, 1);
    putU32(out, quint32(bag.size()));
    putU32(out, 0);
    out.append(bag);
    return out;
}

std::optional<QByteArray> unwrapVariant(const QByteArray& file) {
    Cursor c(file);
    quint16 type = 0, dims = 0;
    quint32 n = 0, lower = 0;
    QByteArray bag;
    if (!c.u16(type) || type != kVariantByteArray || !c.u16(dims) || dims != 1 || !c.u32(n) ||
        !c.u32(lower) || lower != 0 || !c.bytes(n, bag))
        return std::nullopt;
    return bag; // whatever follows the one variant is not ours to read
}

PropertyBag parseSkin(const QByteArray& fileBytes) {
    PropertyBag bag;
    if (const auto inner = unwrapVariant(fileBytes))
        bag.setContents(*inner);
    return bag;
}

QByteArray serializeSkin(const PropertyBag& bag) {
    if (bag.count() > 0xffff)
        return {};
    return wrapVariant(bag.contents());
}

std::optional<QByteArray> readAtMost(QIODevice& in, qint64 cap) {
    if (!in.isSequential() && in.size() - in.pos() > cap)
        return std::nullopt;
    QByteArray out;
    char chunk[64 * 1024];
    for (;;) {
        const qint64 n = in.read(chunk, qMin<qint64>(sizeof chunk, cap + 1 - out.size()));
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return out;
        out.append(chunk, qsizetype(n));
        if (out.size() > cap) // the device grew, or claimed less than it holds
            return std::nullopt;
    }
}

PropertyBag ReadSkinFile(const QString& path) {
    if (path.isEmpty())
        return {};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const auto bytes = readAtMost(f, kMaxSkinBytes);
    return bytes ? parseSkin(*bytes) : PropertyBag();
}

bool WriteSkinFile(const QString& path, const PropertyBag& bag, QString* error) {
    if (bag.count() > 0xffff) {
        if (error)
            *error = QStringLiteral("too many entries (%1)").arg(bag.count());
        return false;
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(serializeSkin(bag)) < 0 || !f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

// ---- pictures and colours ----

QImage decodePicture(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return {};
    QBuffer buf;
    buf.setData(bytes);
    buf.open(QIODevice::ReadOnly);
    QImageReader reader(&buf);
    reader.setDecideFormatFromContent(true);
    const QByteArray fmt = reader.format();
    if (fmt != "png" && fmt != "bmp")
        return {};
    // The header's size is checked before any pixel memory is asked for.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > kMaxPictureSide ||
        size.height() > kMaxPictureSide || qint64(size.width()) * size.height() > kMaxPicturePixels)
        return {};
    QImage img;
    if (!reader.read(&img) || img.size() != size)
        return {};
    return img;
}

namespace {
struct SysRole {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};
// Windows system colour indices (COLOR_*) and the palette role that plays the same part.
std::optional<SysRole> systemRole(int index) {
    using P = QPalette;
    switch (index) {
    case 0: // scroll bar
        return SysRole{P::Active, P::Button};
    case 1: // desktop
        return SysRole{P::Active, P::Dark};
    case 2: // active caption
    case 27:
        return SysRole{P::Active, P::Highlight};
    case 3: // inactive caption
    case 28:
        return SysRole{P::Inactive, P::Highlight};
    case 4: // menu
    case 30:
        return SysRole{P::Active, P::Window};
    case 5: // window
        return SysRole{P::Active, P::Base};
    case 6: // window frame
        return SysRole{P::Active, P::Shadow};
    case 7: // menu text
        return SysRole{P::Active, P::WindowText};
    case 8: // window text
        return SysRole{P::Active, P::Text};
    case 9: // caption text
        return SysRole{P::Active, P::HighlightedText};
    case 10: // active border
    case 11: // inactive border
        return SysRole{P::Active, P::Window};
    case 12: // application workspace
        return SysRole{P::Active, P::Mid};
    case 13: // highlight
    case 29:
        return SysRole{P::Active, P::Highlight};
    case 14: // highlight text
        return SysRole{P::Active, P::HighlightedText};
    case 15: // button face
        return SysRole{P::Active, P::Button};
    case 16: // button shadow
        return SysRole{P::Active, P::Dark};
    case 17: // grey text
        return SysRole{P::Disabled, P::Text};
    case 18: // button text
        return SysRole{P::Active, P::ButtonText};
    case 19: // inactive caption text
        return SysRole{P::Inactive, P::HighlightedText};
    case 20: // button highlight
        return SysRole{P::Active, P::Light};
    case 21: // 3D dark shadow
        return SysRole{P::Active, P::Shadow};
    case 22: // 3D light
        return SysRole{P::Active, P::Midlight};
    case 23: // tooltip text
        return SysRole{P::Active, P::ToolTipText};
    case 24: // tooltip background
        return SysRole{P::Active, P::ToolTipBase};
    case 26: // hot-tracked item
        return SysRole{P::Active, P::Link};
    default:
        return std::nullopt;
    }
}
} // namespace

QColor toQColor(quint32 value, const QPalette& palette) {
    if (value & kSystemColour) {
        const auto r = systemRole(int(value & 0xff));
        return r ? palette.color(r->group, r->role) : QColor();
    }
    return QColor(int(value & 0xff), int((value >> 8) & 0xff), int((value >> 16) & 0xff));
}

QColor toQColor(quint32 value) {
    return toQColor(value, QGuiApplication::palette());
}

quint32 fromQColor(const QColor& c) {
    return quint32(c.red()) | quint32(c.green()) << 8 | quint32(c.blue()) << 16;
}

const std::vector<KeySpec>& skinKeys() {
    static const std::vector<KeySpec> keys = {
        {"LEFTTOP", Kind::Picture},        {"LEFTMID", Kind::Picture},
        {"RIGHTTOP", Kind::Picture},       {"RIGHTMID", Kind::Picture},
        {"LEFTBOT", Kind::Picture},        {"RIGHTBOT", Kind::Picture},
        {"BOTTOM", Kind::Picture},         {"TOPLEFT", Kind::Picture},
        {"TOPMID", Kind::Picture},         {"TOPRIGHT", Kind::Picture},
        {"CLOSE", Kind::Picture},          {"CLOSE2", Kind::Picture},
        {"CLOSE3", Kind::Picture},         {"MAX", Kind::Picture},
        {"MAX2", Kind::Picture},           {"MAX3", Kind::Picture},
        {"RES1", Kind::Picture},           {"RES2", Kind::Picture},
        {"RES3", Kind::Picture},           {"MIN", Kind::Picture},
        {"MIN2", Kind::Picture},           {"MIN3", Kind::Picture},
        {"ONTOP1", Kind::Picture},         {"ONTOP3", Kind::Picture},
        {"XOFFSET", Kind::Integer},        {"XOFFSET2", Kind::Integer},
        {"YOFFSET", Kind::Integer},        {"FROMRIGHT", Kind::Integer},
        {"FROMTOP", Kind::Integer},        {"ICONSPACE", Kind::Integer},
        {"FORECOLOR", Kind::Colour},       {"BackColor", Kind::Colour},
        {"PARENTBACKCOLOR", Kind::Colour},
    };
    return keys;
}

} // namespace skin
