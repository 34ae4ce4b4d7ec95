#include "data/settings.h"

#include "data/ado.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace ado {
namespace {

QString systemFile = QStringLiteral("/etc/dayvault/dayvault.conf");

// A source build keeps its diary in the application folder's data/; an installed program has
// none there, and each person's diary is a file of his own data folder.
QString defaultFile(const QString& folder) {
    if (QFileInfo(folder + QStringLiteral("/data")).isDir())
        return folder + QStringLiteral("/data/data.mdb");
    return personalDataFolder() + QStringLiteral("/data.mdb");
}

[[noreturn]] void bad(const QString& file, const QString& why) {
    throw Error(QStringLiteral("设置文件 %1 有误：%2").arg(file, why), kBadSettings, file);
}

} // namespace

Settings readSettingsFile(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        bad(file, f.errorString());
    Settings s;
    s.file = QFileInfo(file).absoluteFilePath();
    QString section, engine = QStringLiteral("sqlite");
    int lineNo = 0;
    // A value runs to the end of its line: connection strings hold '=' and blanks.
    QString text = QString::fromUtf8(f.readAll());
    if (text.startsWith(QChar(0xFEFF))) // as an editor on another system may save it
        text.remove(0, 1);
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        ++lineNo;
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            bad(file, QStringLiteral("第 %1 行不是“名称=值”").arg(lineNo));
        const QString key = line.left(eq).trimmed().toLower(), value = line.mid(eq + 1).trimmed();
        if (section == QLatin1String("database") && key == QLatin1String("engine"))
            engine = value.toLower();
        else if (section == QLatin1String("database") && key == QLatin1String("path"))
            s.path = value;
        else if (section == QLatin1String("database") && key == QLatin1String("connection"))
            s.connection = value;
        else if (section == QLatin1String("admin") && key == QLatin1String("connection"))
            s.admin = value;
    }
    if (engine == QLatin1String("postgresql")) {
        s.server = true;
        if (s.connection.isEmpty())
            bad(file, QStringLiteral("engine=postgresql 需要 connection="));
    } else if (engine != QLatin1String("sqlite")) {
        bad(file, QStringLiteral("不认识的 engine=%1").arg(engine));
    }
    if (!s.server && !s.path.isEmpty() && QFileInfo(s.path).isRelative())
        s.path = QFileInfo(file).absolutePath() + QLatin1Char('/') + s.path;
    return s;
}

Settings readSettings(const QString& folder) {
    for (const QString& file : {folder + QStringLiteral("/dayvault.conf"), systemFile})
        if (!file.isEmpty() && QFileInfo::exists(file)) {
            Settings s = readSettingsFile(file);
            if (!s.server && s.path.isEmpty())
                s.path = defaultFile(folder);
            return s;
        }
    Settings s;
    s.path = defaultFile(folder);
    return s;
}

QString personalDataFolder() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || QFileInfo(base).isRelative())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/dayvault");
}

void setSystemSettingsFile(const QString& file) {
    systemFile = file;
}

QString connectionString(const Settings& s, bool asOwner) {
    if (!s.server)
        return QStringLiteral("data source=") + s.path;
    return QStringLiteral("provider=postgresql;") +
           (asOwner && !s.admin.isEmpty() ? QStringLiteral("as=owner;") : QString()) +
           QStringLiteral("pins=") + QFileInfo(s.file).absolutePath() +
           QStringLiteral(";conninfo=") + (asOwner && !s.admin.isEmpty() ? s.admin : s.connection);
}

} // namespace ado
