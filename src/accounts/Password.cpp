#include "accounts/Password.h"

#include <cerrno>
#include <sodium.h>
#include <stdexcept>

namespace accounts {
namespace {
bool failAll = false;

void initSodium() {
    static const bool ok = sodium_init() >= 0;
    if (!ok)
        throw std::runtime_error("libsodium could not be initialised");
    if (failAll)
        throw std::runtime_error("out of memory while hashing a password");
}

// Verified against when no user matched, so a missing name costs as much as a wrong password.
const char* const kDummyHash = "$argon2id$v=19$m=65536,t=2,p=1$o7+PTcNWxhVkS4hFqyooRA$"
                               "2C64vwJ91jR8YxCd/e04RdC37NKjVTubInrANFoIMFg";

bool cheapHashes = false;
} // namespace

void setCheapHashesForTests(bool cheap) {
    cheapHashes = cheap;
}

QString normalise(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    QString out = text.mid(begin, end - begin);
    out.remove(QLatin1Char('\''));
    return out;
}

QString hashPassword(const QString& password) {
    initSodium();
    const QByteArray pw = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(
            out, pw.constData(), std::size_t(pw.size()),
            cheapHashes ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
            cheapHashes ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("out of memory while hashing a password");
    return QString::fromLatin1(out);
}

bool isHash(const QString& stored) {
    return stored.startsWith(QStringLiteral("$argon2id$"));
}

bool verifyPassword(const QString& password, const QString& stored, bool known) {
    initSodium();
    const QByteArray pw = password.toUtf8();
    if (!known || isHash(stored)) {
        const QByteArray h = known ? stored.toLatin1() : QByteArray(kDummyHash);
        errno = 0;
        const bool match =
            crypto_pwhash_str_verify(h.constData(), pw.constData(), std::size_t(pw.size())) == 0;
        // Its 64 MiB not to be had is no answer, and must not count as a wrong password.
        if (!match && errno == ENOMEM)
            throw std::runtime_error("out of memory while checking a password");
        return known && match;
    }
    // A password kept as text by a database made elsewhere.
    const QByteArray st = stored.toUtf8();
    return st.size() == pw.size() &&
           sodium_memcmp(st.constData(), pw.constData(), std::size_t(pw.size())) == 0;
}

void failHashingForTests(bool fail) {
    failAll = fail;
}

} // namespace accounts
