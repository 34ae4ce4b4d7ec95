// What the administrator's tool takes from and leaves on the system: passwords from standard
// input, files only its user may read, and the owners and modes of the shared installation.
#pragma once

#include <QString>
#include <cstdio>
#include <functional>
#include <sys/types.h>

namespace admin {

// A refusal: the tool prints the text on stderr and exits with 1.
struct Refused {
    QString text;
};

// A name as the tool prints it: the backslash, control and format characters and the line
// and paragraph separators as visible escapes (\\, \t, \n, \x1b, \u202e), so a stored name can
// neither drive the administrator's terminal nor forge a line or a column of a listing.
QString printable(const QString& name);

// One line of standard input without its line end. On a terminal the prompt goes to stderr
// and the typed line is not echoed; the terminal is restored however the read ends.
QString readPassword(const char* prompt);

// "\r<what> done/total" on standard error after each batch of a long job, when it is a
// terminal; nothing at all otherwise, so a log or a pipe gets no counts.
std::function<void(long long, long long)> progressOn(const QString& what);

// A new file only for us (mode 0600); refuses one that exists, a link among them.
int createPrivate(const QString& path);

// Files made while it lives are for their owner alone.
class OwnerOnly {
public:
    OwnerOnly();
    ~OwnerOnly();
    OwnerOnly(const OwnerOnly&) = delete;
    OwnerOnly& operator=(const OwnerOnly&) = delete;

private:
    mode_t old_;
};

// Where an export goes: standard output, or a new private file that is removed again unless
// finish() has written it to the disk.
class Output {
public:
    explicit Output(const QString& path);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    FILE* file() const { return file_; }
    void finish();

private:
    QString path_;
    FILE* file_ = stdout;
};

} // namespace admin
