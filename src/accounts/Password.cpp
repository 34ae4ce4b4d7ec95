#include "accounts/Password.h"

#include <QStringList>
#include <cerrno>
#include <cstring>
#include <optional>
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
unsigned long long costOps = crypto_pwhash_OPSLIMIT_INTERACTIVE;
std::size_t costMem = crypto_pwhash_MEMLIMIT_INTERACTIVE;

constexpr std::size_t kSalt = crypto_pwhash_SALTBYTES;
constexpr std::size_t kHalf = 32;

struct Params {
    unsigned long long ops = 0;
    std::size_t mem = 0;
    QByteArray salt, check;
};

QByteArray b64(const unsigned char* p, std::size_t n) {
    return QByteArray(reinterpret_cast<const char*>(p), qsizetype(n))
        .toBase64(QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals);
}

std::optional<Params> parse(const QString& stored, bool allowPublic = false) {
    const QStringList f = stored.split(QLatin1Char('$'));
    if (f.size() != 7 || f[1] != QLatin1String("argon2id") || f[4] != QLatin1String("dv1"))
        return std::nullopt;
    Params p;
    for (const QString& kv : f[3].split(QLatin1Char(','))) {
        bool ok = false;
        const qulonglong v = kv.mid(2).toULongLong(&ok);
        if (!ok)
            return std::nullopt;
        if (kv.startsWith(QLatin1String("m=")))
            p.mem = std::size_t(v) * 1024;
        else if (kv.startsWith(QLatin1String("t=")))
            p.ops = v;
    }
    p.salt = QByteArray::fromBase64(f[5].toLatin1());
    p.check = QByteArray::fromBase64(f[6].toLatin1());
    const bool checkOk = p.check.size() == qsizetype(kHalf) || (allowPublic && f[6].isEmpty());
    if (p.salt.size() != qsizetype(kSalt) || !checkOk || p.ops < crypto_pwhash_OPSLIMIT_MIN ||
        p.mem < crypto_pwhash_MEMLIMIT_MIN || p.mem > crypto_pwhash_MEMLIMIT_MAX)
        return std::nullopt;
    return p;
}

// One Argon2id run: 64 bytes.
vault::Secret derive(const QString& password, const unsigned char* salt, unsigned long long ops,
                     std::size_t mem) {
    const QByteArray pw = password.toUtf8();
    vault::Secret out(2 * kHalf);
    if (crypto_pwhash(out.data(), out.size(), pw.constData(), std::size_t(pw.size()), salt, ops,
                      mem, crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw std::runtime_error("out of memory while hashing a password");
    return out;
}

void checkOf(const vault::Secret& derived, unsigned char* check) {
    crypto_generichash(check, kHalf, derived.data(), kHalf, nullptr, 0);
}

vault::Secret wrapOf(const vault::Secret& derived) {
    vault::Secret w(kHalf);
    std::memcpy(w.data(), derived.data() + kHalf, kHalf);
    return w;
}
} // namespace

void setPasswordCost(unsigned long long ops, std::size_t memBytes) {
    costOps = ops;
    costMem = memBytes;
}

void setCheapHashesForTests(bool cheap) {
    setPasswordCost(cheap ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
                    cheap ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE);
}

void failHashingForTests(bool fail) {
    failAll = fail;
}

bool isRecord(const QString& stored) {
    return parse(stored).has_value();
}

std::pair<QString, vault::Secret> newRecord(const QString& password) {
    initSodium();
    unsigned char salt[kSalt];
    randombytes_buf(salt, sizeof salt);
    const vault::Secret d = derive(password, salt, costOps, costMem);
    unsigned char check[kHalf];
    checkOf(d, check);
    const QString record =
        QStringLiteral("$argon2id$v=19$m=%1,t=%2,p=1$dv1$%3$%4")
            .arg(costMem / 1024)
            .arg(costOps)
            .arg(QString::fromLatin1(b64(salt, kSalt)), QString::fromLatin1(b64(check, kHalf)));
    return {record, wrapOf(d)};
}

static vault::Secret serverPasswordOf(const unsigned char* check) {
    static const char context[] = "dayvault server login";
    unsigned char h[32];
    crypto_generichash(h, sizeof h, check, kHalf, reinterpret_cast<const unsigned char*>(context),
                       sizeof context - 1);
    char hex[2 * sizeof h + 1];
    sodium_bin2hex(hex, sizeof hex, h, sizeof h);
    vault::Secret out(2 * sizeof h);
    std::memcpy(out.data(), hex, out.size());
    sodium_memzero(h, sizeof h);
    sodium_memzero(hex, sizeof hex);
    return out;
}

QString publicRecord(const QString& record) {
    return record.left(record.lastIndexOf(QLatin1Char('$')) + 1);
}

bool isPublicRecord(const QString& stored) {
    return stored.endsWith(QLatin1Char('$')) && parse(stored, true).has_value();
}

vault::Secret serverPassword(const QString& record) {
    const auto p = parse(record);
    if (!p)
        throw std::invalid_argument("not a password record");
    return serverPasswordOf(reinterpret_cast<const unsigned char*>(p->check.constData()));
}

Unlocked unlock(const QString& password, const QString& stored, bool known) {
    initSodium();
    Unlocked out;
    if (known && isPublicRecord(stored)) {
        const auto p = parse(stored, true);
        const vault::Secret d = derive(
            password, reinterpret_cast<const unsigned char*>(p->salt.constData()), p->ops, p->mem);
        unsigned char check[kHalf];
        checkOf(d, check);
        out.ok = true;
        out.server = serverPasswordOf(check);
        sodium_memzero(check, sizeof check);
        out.wrap = wrapOf(d);
        return out;
    }
    const auto p = known ? parse(stored) : std::nullopt;
    if (!p) {
        out.ok = verifyPassword(password, stored, known);
        return out;
    }
    const vault::Secret d = derive(
        password, reinterpret_cast<const unsigned char*>(p->salt.constData()), p->ops, p->mem);
    unsigned char check[kHalf];
    checkOf(d, check);
    out.ok = sodium_memcmp(check, p->check.constData(), kHalf) == 0;
    if (out.ok)
        out.wrap = wrapOf(d);
    return out;
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

QString nameRefusal(const QString& name) {
    const QList<uint> chars = name.toUcs4();
    for (const uint c : chars)
        if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
            return QStringLiteral("用户名中不能有控制字符（例如制表符、换行符），请换一个用户名");
    if (chars.size() > kMaxNameLength)
        return QStringLiteral("用户名太长：最多 %1 个字，请换一个短一些的用户名")
            .arg(kMaxNameLength);
    return QString();
}

QString hashPassword(const QString& password) {
    initSodium();
    const QByteArray pw = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, pw.constData(), std::size_t(pw.size()), costOps, costMem) != 0)
        throw std::runtime_error("out of memory while hashing a password");
    return QString::fromLatin1(out);
}

bool isHash(const QString& stored) {
    return stored.startsWith(QStringLiteral("$argon2id$"));
}

bool verifyPassword(const QString& password, const QString& stored, bool known) {
    initSodium();
    if (known && isRecord(stored))
        return unlock(password, stored).ok;
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

} // namespace accounts
