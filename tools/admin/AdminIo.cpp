#include "AdminIo.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
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

} // namespace admin

namespace admin {

std::function<void(long long, long long)> progressOn(const QString& what) {
    if (!::isatty(STDERR_FILENO))
        return {};
    return [label = what.toUtf8(), ended = false](long long done, long long total) mutable {
        if (ended)
            return;
        std::fprintf(stderr, "\r%s %lld/%lld", label.constData(), done, total);
        ended = done >= total;
        if (ended)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    };
}

} // namespace admin
