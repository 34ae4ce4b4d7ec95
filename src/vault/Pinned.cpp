#include "vault/Pinned.h"

#include "base/Error.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vault {
namespace {

QString beside(const QString& database, const char* name) {
    return QFileInfo(database).absolutePath() + QLatin1Char('/') + QLatin1String(name);
}

[[noreturn]] void refuse(const QString& path, const QString& why) {
    throw ado::Error(QStringLiteral("%1：%2").arg(why, path), ado::kUntrustedKeyFile, path);
}

} // namespace

QString adminPubPath(const QString& database) {
    return beside(database, "admin.pub");
}
QString upgradePubPath(const QString& database) {
    return beside(database, "upgrade.pub");
}

std::optional<Bytes> readPinned(const QString& path, std::size_t size) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        refuse(path, QStringLiteral("无法读取密钥文件（不是普通文件，或没有权限）"));
    }
    struct stat st {};
    char buf[256];
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n < 0)
        refuse(path, QStringLiteral("无法读取密钥文件"));
    if ((st.st_uid != 0 && st.st_uid != ::geteuid()) || (st.st_mode & 022))
        refuse(path, QStringLiteral("密钥文件可能被他人改动过（属主或权限不对），已拒绝使用"));
    Bytes key(size, '\0');
    std::size_t got = 0;
    const QByteArray hex = QByteArray(buf, qsizetype(n)).trimmed();
    if (sodium_hex2bin(reinterpret_cast<unsigned char*>(key.data()), size, hex.constData(),
                       std::size_t(hex.size()), nullptr, &got, nullptr) != 0 ||
        got != size || hex.size() != qsizetype(2 * size))
        refuse(path, QStringLiteral("密钥文件已损坏"));
    return key;
}

void writePinned(const QString& path, const Bytes& key) {
    initSodium();
    QByteArray text(qsizetype(key.size() * 2 + 1), '\0');
    sodium_bin2hex(text.data(), std::size_t(text.size()),
                   reinterpret_cast<const unsigned char*>(key.data()), key.size());
    text.chop(1);
    text += '\n';
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temp = target + ".new";
    ::unlink(temp.constData()); // ours from an earlier run cut short; a link is only unlinked
    const int fd =
        ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && ::fchmod(fd, 0644) == 0 &&
              ::write(fd, text.constData(), std::size_t(text.size())) == text.size() &&
              ::fsync(fd) == 0;
    if (fd >= 0)
        ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.constData(), target.constData()) != 0) {
        ::unlink(temp.constData());
        refuse(path, QStringLiteral("无法写入密钥文件（服务器上需要 root 权限）"));
    }
}

} // namespace vault
