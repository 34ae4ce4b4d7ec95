#include "AdminIo.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <iostream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace admin {

namespace {

// The terminal as it was, for a signal that ends the tool while echo is off.
termios savedTerminal;
volatile std::sig_atomic_t echoIsOff = 0;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restoreAndEnd(int sig) {
    if (echoIsOff)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Echo off on the terminal while it lives. The line end is still echoed, so what follows
// starts on a new line.
class NoEcho {
public:
    NoEcho() {
        if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
            throw Refused{QStringLiteral("无法关闭终端回显，没有读取密码")};
        struct sigaction sa = {};
        sa.sa_handler = restoreAndEnd;
        sigemptyset(&sa.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &sa, &old_[i]);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        echoIsOff = 1;
        if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
            restore();
            throw Refused{QStringLiteral("无法关闭终端回显，没有读取密码")};
        }
    }
    ~NoEcho() { restore(); }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    void restore() {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        echoIsOff = 0;
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &old_[i], nullptr);
    }
    struct sigaction old_[std::size(kEndingSignals)] = {};
};

void warn(const QString& text) {
    std::fputs(QStringLiteral("dayvault-admin: %1\n").arg(text).toUtf8().constData(), stderr);
}

struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
};

// Why an opened name is no file of the installation's to change; empty when it is one. A
// second hard link would carry the change to a file elsewhere.
QString untrusted(const struct stat& st, bool folder) {
    if (folder && !S_ISDIR(st.st_mode))
        return QStringLiteral("不是文件夹");
    if (!folder && !S_ISREG(st.st_mode))
        return QStringLiteral("不是普通文件");
    if (st.st_uid != 0)
        return QStringLiteral("不属于 root");
    if (!folder && st.st_nlink != 1)
        return QStringLiteral("另有硬链接");
    return {};
}

struct Wanted {
    const char* name;
    bool users; // group `users`, else root's
    mode_t mode;
    bool make; // made by us when absent, so no member ever owns it
};
constexpr Wanted kFiles[] = {
    {"data.mdb", true, 0660, false},     {"data.mdb-wal", true, 0660, true},
    {"data.mdb-shm", true, 0660, true},  {"admin.pub", false, 0644, false},
    {"upgrade.pub", false, 0644, false}, {"recovery.key", false, 0600, false},
};

} // namespace

QString printable(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (const char32_t c : name.toUcs4()) {
        const QChar::Category kind = QChar::category(c);
        if (c == '\\')
            out += QLatin1String("\\\\");
        else if (c == '\t')
            out += QLatin1String("\\t");
        else if (c == '\n')
            out += QLatin1String("\\n");
        else if (c == '\r')
            out += QLatin1String("\\r");
        else if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else if (kind == QChar::Other_Format || kind == QChar::Separator_Line ||
                 kind == QChar::Separator_Paragraph || kind == QChar::Other_Surrogate)
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

QString readPassword(const char* prompt) {
    std::string line;
    bool got;
    if (::isatty(STDIN_FILENO)) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        const NoEcho quiet;
        got = bool(std::getline(std::cin, line));
    } else {
        got = bool(std::getline(std::cin, line));
    }
    if (!got)
        throw Refused{QStringLiteral("标准输入中没有密码")};
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

int createPrivate(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int error = errno; // before the check below can change it
    if (fd < 0)
        throw Refused{error == EEXIST || QFileInfo::exists(path)
                          ? QStringLiteral("文件已存在，不会覆盖：%1").arg(path)
                          : QStringLiteral("无法创建文件：%1").arg(path)};
    return fd;
}

OwnerOnly::OwnerOnly() : old_(::umask(077)) {}

OwnerOnly::~OwnerOnly() {
    ::umask(old_);
}

Output::Output(const QString& path) : path_(path) {
    if (path.isEmpty())
        return;
    const int fd = createPrivate(path);
    file_ = ::fdopen(fd, "w");
    if (!file_) {
        ::close(fd);
        QFile::remove(path);
        throw Refused{QStringLiteral("无法写入文件：%1").arg(path)};
    }
}

Output::~Output() {
    if (file_ && file_ != stdout) {
        std::fclose(file_);
        QFile::remove(path_);
    }
}

void Output::finish() {
    if (file_ == stdout) {
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            throw Refused{QStringLiteral("无法写入标准输出")};
        return;
    }
    FILE* f = std::exchange(file_, nullptr);
    const bool written = std::fflush(f) == 0 && !std::ferror(f) && ::fsync(::fileno(f)) == 0;
    if (std::fclose(f) != 0 || !written) {
        QFile::remove(path_);
        throw Refused{QStringLiteral("无法写入文件：%1").arg(path_)};
    }
}

int fixModes(const QString& dir) {
    if (::geteuid() != 0)
        throw Refused{QStringLiteral("fix-modes 只能由 root 运行")};
    const group* g = ::getgrnam("users");
    if (!g)
        throw Refused{QStringLiteral("没有用户组 users")};
    const gid_t users = g->gr_gid;
    const int d = ::open(QFile::encodeName(dir).constData(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (d < 0)
        throw Refused{QStringLiteral("无法打开文件夹（不跟随链接）：%1").arg(dir)};
    const Closer closeDir{d};
    struct stat st = {};
    if (::fstat(d, &st) != 0)
        throw Refused{QStringLiteral("无法打开文件夹（不跟随链接）：%1").arg(dir)};
    // Whoever owns the folder decides what its names are: nothing in it is changed then.
    if (const QString why = untrusted(st, true); !why.isEmpty())
        throw Refused{QStringLiteral("%1 %2，其中的文件都没有修改").arg(dir, why)};

    int failed = 0;
    const auto set = [&](int fd, gid_t group, mode_t mode, const QString& what) {
        if (::fchown(fd, 0, group) != 0 || ::fchmod(fd, mode) != 0) {
            warn(QStringLiteral("无法修改 %1 的属主或权限").arg(what));
            ++failed;
        }
    };
    set(d, users, 03770, dir);
    for (const Wanted& w : kFiles) {
        const QString what = dir + QLatin1Char('/') + QLatin1String(w.name);
        int fd = -1;
        if (w.make) {
            fd = ::openat(d, w.name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0 && errno != EEXIST) {
                warn(QStringLiteral("无法创建 %1").arg(what));
                ++failed;
                continue;
            }
        }
        if (fd < 0)
            fd = ::openat(d, w.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT)
                warn(errno == ELOOP ? QStringLiteral("已跳过 %1：是符号链接").arg(what)
                                    : QStringLiteral("已跳过 %1：无法打开").arg(what));
            continue;
        }
        const Closer closeFile{fd};
        if (::fstat(fd, &st) != 0) {
            warn(QStringLiteral("已跳过 %1：无法读取属性").arg(what));
            continue;
        }
        if (const QString why = untrusted(st, false); !why.isEmpty()) {
            warn(QStringLiteral("已跳过 %1：%2").arg(what, why));
            continue;
        }
        set(fd, w.users ? users : 0, w.mode, what);
    }
    return failed ? 1 : 0;
}

} // namespace admin
