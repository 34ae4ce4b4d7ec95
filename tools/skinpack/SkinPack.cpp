#include "SkinPack.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>

namespace skinpack {
namespace {

Result fail(const QString& why) {
    return {false, why};
}

QString pictureSuffix(const QByteArray& bytes) {
    return bytes.startsWith("BM") ? QStringLiteral("bmp") : QStringLiteral("png");
}

bool writeFile(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        return false;
    }
    return true;
}

} // namespace

bool isSafeKey(const QString& key) {
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return re.match(key).hasMatch();
}

QString formatColour(quint32 v) {
    if (v & skin::kSystemColour)
        return QStringLiteral("system:%1").arg(v & 0xff);
    return QStringLiteral("#%1%2%3")
        .arg(v & 0xff, 2, 16, QLatin1Char('0'))
        .arg((v >> 8) & 0xff, 2, 16, QLatin1Char('0'))
        .arg((v >> 16) & 0xff, 2, 16, QLatin1Char('0'))
        .toUpper();
}

Result parseIni(const QString& text, skin::PropertyBag& into) {
    static const QRegularExpression rgb(QStringLiteral("^#([0-9A-Fa-f]{6})$"));
    static const QRegularExpression sys(QStringLiteral("^system:(\\d{1,3})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression num(QStringLiteral("^[+-]?\\d{1,6}$"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        const QString where = QStringLiteral("skin.ini line %1").arg(i + 1);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char('[')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            return fail(where + QStringLiteral(": expected KEY = value"));
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (!isSafeKey(key))
            return fail(where + QStringLiteral(": bad key \"%1\"").arg(key));
        if (into.contains(key))
            return fail(where + QStringLiteral(": %1 given twice").arg(key));
        if (const auto m = rgb.match(value); m.hasMatch()) {
            const quint32 v = m.captured(1).toUInt(nullptr, 16);
            into.writeColour(key, (v >> 16 & 0xff) | (v & 0xff00) | (v & 0xff) << 16);
        } else if (const auto s = sys.match(value); s.hasMatch()) {
            const uint n = s.captured(1).toUInt();
            if (n > 255)
                return fail(where + QStringLiteral(": system colour %1 out of range").arg(n));
            into.writeColour(key, skin::kSystemColour | n);
        } else if (num.match(value).hasMatch()) {
            const int n = value.toInt();
            if (n < -32768 || n > 32767)
                return fail(where + QStringLiteral(": %1 is not a 16-bit integer").arg(value));
            into.writeInteger(key, qint16(n));
        } else {
            return fail(
                where +
                QStringLiteral(": \"%1\" is neither an integer, #RRGGBB nor system:N").arg(value));
        }
    }
    return {true, {}};
}

QString formatIni(const skin::PropertyBag& bag) {
    QString out = QStringLiteral("; integers in pixels; colours as #RRGGBB or system:N\n");
    for (const auto& e : bag.entries()) {
        if (e.kind == skin::Kind::Integer)
            out += QStringLiteral("%1 = %2\n").arg(e.key).arg(e.integer);
        else if (e.kind == skin::Kind::Colour)
            out += QStringLiteral("%1 = %2\n").arg(e.key, formatColour(e.colour));
    }
    return out;
}

Result pack(const QString& dirPath, const QString& out) {
    const QDir dir(dirPath);
    if (!dir.exists())
        return fail(QStringLiteral("%1: no such folder").arg(dirPath));
    QFile ini(dir.filePath(QStringLiteral("skin.ini")));
    if (!ini.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: cannot read").arg(ini.fileName()));
    skin::PropertyBag values;
    if (Result r = parseIni(QString::fromUtf8(ini.readAll()), values); !r.ok)
        return fail(QStringLiteral("%1: %2").arg(dirPath, r.error));

    skin::PropertyBag pictures;
    const QStringList files =
        dir.entryList({QStringLiteral("*.png"), QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        const QString key = QFileInfo(name).completeBaseName();
        if (!isSafeKey(key))
            return fail(QStringLiteral("%1: bad key in file name").arg(name));
        if (pictures.contains(key) || values.contains(key))
            return fail(QStringLiteral("%1: key given twice").arg(key));
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("%1: cannot read").arg(f.fileName()));
        const QByteArray bytes = f.readAll();
        if (skin::decodePicture(bytes).isNull())
            return fail(QStringLiteral("%1: not a readable PNG or BMP picture").arg(f.fileName()));
        pictures.writePicture(key, bytes);
    }

    // The complete key table first, in its order; anything extra after it, sorted.
    skin::PropertyBag bag;
    QStringList missing;
    for (const auto& k : skin::skinKeys()) {
        const QString key = QString::fromLatin1(k.name);
        const skin::Entry* e =
            k.kind == skin::Kind::Picture ? pictures.find(key) : values.find(key);
        const skin::Entry* wrong =
            k.kind == skin::Kind::Picture ? values.find(key) : pictures.find(key);
        if (wrong)
            return fail(QStringLiteral("%1: should be a %2")
                            .arg(key, k.kind == skin::Kind::Picture   ? QStringLiteral("picture")
                                      : k.kind == skin::Kind::Integer ? QStringLiteral("integer")
                                                                      : QStringLiteral("colour")));
        if (!e) {
            missing << key;
            continue;
        }
        if (k.kind == skin::Kind::Colour && e->kind != skin::Kind::Colour)
            return fail(QStringLiteral("%1: should be a colour (#RRGGBB or system:N)").arg(key));
        if (k.kind == skin::Kind::Integer && e->kind != skin::Kind::Integer)
            return fail(QStringLiteral("%1: should be an integer").arg(key));
        skin::Entry copy = *e;
        copy.key = key; // the table's spelling
        if (copy.kind == skin::Kind::Picture)
            bag.writePicture(key, copy.picture);
        else if (copy.kind == skin::Kind::Integer)
            bag.writeInteger(key, copy.integer);
        else
            bag.writeColour(key, copy.colour);
    }
    if (!missing.isEmpty())
        return fail(
            QStringLiteral("%1: missing %2").arg(dirPath, missing.join(QStringLiteral(", "))));
    std::vector<const skin::Entry*> extra;
    for (const skin::PropertyBag* src : {&pictures, &values})
        for (const auto& e : src->entries())
            if (!bag.contains(e.key))
                extra.push_back(&e);
    std::sort(extra.begin(), extra.end(), [](const skin::Entry* a, const skin::Entry* b) {
        return a->key.compare(b->key, Qt::CaseInsensitive) < 0;
    });
    for (const skin::Entry* e : extra) {
        if (e->kind == skin::Kind::Picture)
            bag.writePicture(e->key, e->picture);
        else if (e->kind == skin::Kind::Integer)
            bag.writeInteger(e->key, e->integer);
        else
            bag.writeColour(e->key, e->colour);
    }
    if (bag.count() > 0xffff)
        return fail(QStringLiteral("too many entries"));

    QString error;
    if (!skin::WriteSkinFile(out, bag, &error))
        return fail(QStringLiteral("%1: %2").arg(out, error));
    return {true, {}};
}

namespace {
std::optional<skin::PropertyBag> readOrExplain(const QString& file, QString* error) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(file, f.errorString());
        return std::nullopt;
    }
    skin::PropertyBag bag = skin::parseSkin(f.readAll());
    if (bag.isEmpty()) {
        *error = QStringLiteral("%1: not a skin file, or damaged").arg(file);
        return std::nullopt;
    }
    return bag;
}
} // namespace

Result unpack(const QString& file, const QString& dirPath) {
    QString error;
    const auto bag = readOrExplain(file, &error);
    if (!bag)
        return fail(error);
    for (const auto& e : bag->entries())
        if (!isSafeKey(e.key))
            return fail(QStringLiteral("%1: refusing key \"%2\" as a file name").arg(file, e.key));
    if (!QDir().mkpath(dirPath))
        return fail(QStringLiteral("%1: cannot create the folder").arg(dirPath));
    const QDir dir(dirPath);
    for (const auto& e : bag->entries()) {
        if (e.kind != skin::Kind::Picture)
            continue;
        const QString name = e.key + QLatin1Char('.') + pictureSuffix(e.picture);
        if (!writeFile(dir.filePath(name), e.picture, &error))
            return fail(error);
    }
    if (!writeFile(dir.filePath(QStringLiteral("skin.ini")), formatIni(*bag).toUtf8(), &error))
        return fail(error);
    return {true, {}};
}

std::optional<QStringList> list(const QString& file, QString* error) {
    const auto bag = readOrExplain(file, error);
    if (!bag)
        return std::nullopt;
    QStringList out;
    for (const auto& e : bag->entries()) {
        switch (e.kind) {
        case skin::Kind::Picture: {
            const QImage img = skin::decodePicture(e.picture);
            const QString size = img.isNull() ? QStringLiteral("unreadable")
                                              : QStringLiteral("%1x%2 %3")
                                                    .arg(img.width())
                                                    .arg(img.height())
                                                    .arg(pictureSuffix(e.picture));
            out << QStringLiteral("%1\tpicture\t%2, %3 bytes")
                       .arg(e.key, size)
                       .arg(e.picture.size());
            break;
        }
        case skin::Kind::Integer:
            out << QStringLiteral("%1\tinteger\t%2").arg(e.key).arg(e.integer);
            break;
        case skin::Kind::Colour:
            out << QStringLiteral("%1\tcolour\t%2").arg(e.key, formatColour(e.colour));
            break;
        }
    }
    return out;
}

} // namespace skinpack
