#include "vault/Cipher.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <sodium.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vault {
namespace {

constexpr unsigned char kFieldV1 = 1; // bound to column and writer
constexpr unsigned char kFieldV2 = 2; // bound to column, writer, ID and time
constexpr unsigned char kWrappedV2 = 2;
constexpr std::size_t kNonce = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t kTag = crypto_aead_xchacha20poly1305_ietf_ABYTES;

const unsigned char* u(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

Bytes joined(std::initializer_list<std::string_view> parts) {
    Bytes out;
    for (std::string_view p : parts) {
        out += p;
        out += '\0';
    }
    return out;
}

Bytes utf8(const QString& s) {
    return bytes(s.toUtf8());
}

// version | nonce | ciphertext and tag
Bytes seal(const unsigned char* key, unsigned char version, std::string_view plain,
           std::string_view ad) {
    Bytes out(1 + kNonce + plain.size() + kTag, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    o[0] = version;
    randombytes_buf(o + 1, kNonce);
    unsigned long long n = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(o + 1 + kNonce, &n, u(plain), plain.size(), u(ad),
                                               ad.size(), nullptr, o + 1, key);
    return out;
}

// Opens into `out`, which must hold the plain size; returns false when it does not open.
bool openInto(const unsigned char* key, std::string_view sealed, std::string_view ad,
              unsigned char* out) {
    if (sealed.size() < 1 + kNonce + kTag)
        return false;
    unsigned long long n = 0;
    return crypto_aead_xchacha20poly1305_ietf_decrypt(out, &n, nullptr, u(sealed) + 1 + kNonce,
                                                      sealed.size() - 1 - kNonce, u(ad), ad.size(),
                                                      u(sealed) + 1, key) == 0;
}

std::optional<Secret> openSecret(const unsigned char* key, std::string_view sealed,
                                 std::string_view ad, unsigned char version, std::size_t size) {
    if (sealed.size() != 1 + kNonce + size + kTag || u(sealed)[0] != version)
        return std::nullopt;
    Secret s(size);
    if (!openInto(key, sealed, ad, s.data()))
        return std::nullopt;
    return s;
}

std::string_view view(const Secret& s) {
    return std::string_view(reinterpret_cast<const char*>(s.data()), s.size());
}

Bytes fieldAd(const FieldPlace& at, bool bound) {
    const Bytes column = utf8(at.column), writer = fold(at.writer);
    if (!bound)
        return joined({"field", column}) + writer; // as the first sealed files have it
    return joined({"field2", column, writer, std::to_string(at.id), utf8(at.time)});
}

Bytes plainRowMessage(const PlainRow& r) {
    Bytes m = joined({"plain", std::to_string(r.id), fold(r.writer), utf8(r.time)});
    for (const auto* v : {&r.title, &r.weather, &r.content}) {
        m += *v ? 'T' : 'N';
        if (*v) {
            const Bytes t = utf8(**v);
            m += std::to_string(t.size()) + ':' + t;
        }
    }
    return m;
}

} // namespace

void initSodium() {
    static const bool ok = sodium_init() >= 0;
    if (!ok)
        throw std::runtime_error("libsodium could not be initialised");
}

QString noKeyText() {
    return QStringLiteral("（无法解密）");
}
QString damagedText() {
    return QStringLiteral("（此日记已损坏，无法解密）");
}

// ---- Secret ----

Secret::Secret(std::size_t size) : n_(size) {
    initSodium();
    p_ = static_cast<unsigned char*>(sodium_malloc(size ? size : 1));
    if (!p_)
        throw std::bad_alloc();
    sodium_memzero(p_, size ? size : 1);
}

Secret Secret::random(std::size_t size) {
    Secret s(size);
    randombytes_buf(s.data(), size);
    return s;
}

Secret Secret::copy() const {
    Secret s(n_);
    if (n_)
        std::memcpy(s.data(), p_, n_);
    return s;
}

Secret::Secret(Secret&& other) noexcept : p_(other.p_), n_(other.n_) {
    other.p_ = nullptr;
    other.n_ = 0;
}

Secret& Secret::operator=(Secret&& other) noexcept {
    if (this != &other) {
        if (p_)
            sodium_free(p_);
        p_ = other.p_;
        n_ = other.n_;
        other.p_ = nullptr;
        other.n_ = 0;
    }
    return *this;
}

Secret::~Secret() {
    if (p_)
        sodium_free(p_); // zeroes before it frees
}

bool Secret::operator==(const Secret& other) const {
    return n_ == other.n_ && (n_ == 0 || sodium_memcmp(p_, other.p_, n_) == 0);
}

Bytes fold(const QString& name) {
    Bytes out = utf8(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

// ---- entry fields ----

Bytes sealField(const Secret& key, std::string_view plain, const FieldPlace& at) {
    return seal(key.data(), kFieldV2, plain, fieldAd(at, true));
}

std::optional<Bytes> openField(const Secret& key, std::string_view sealed, const FieldPlace& at) {
    if (!isSealedField(sealed) || key.size() != kKeyBytes)
        return std::nullopt;
    Bytes out(sealed.size() - 1 - kNonce - kTag, '\0');
    if (!openInto(key.data(), sealed, fieldAd(at, u(sealed)[0] == kFieldV2),
                  reinterpret_cast<unsigned char*>(out.data()))) {
        sodium_memzero(out.data(), out.size());
        return std::nullopt;
    }
    return out;
}

bool isSealedField(std::string_view stored) {
    return stored.size() >= 1 + kNonce + kTag &&
           (u(stored)[0] == kFieldV1 || u(stored)[0] == kFieldV2);
}

std::optional<std::size_t> plainSize(std::string_view sealed) {
    if (!isSealedField(sealed))
        return std::nullopt;
    return sealed.size() - 1 - kNonce - kTag;
}

void openFields(FieldToOpen* fields, std::size_t count, std::string_view column, unsigned threads) {
    const auto share = [&](std::size_t from, std::size_t to) {
        Bytes ad; // one per thread, reused: no allocation per field
        for (std::size_t i = from; i < to; ++i) {
            FieldToOpen& f = fields[i];
            f.ok = false;
            if (!f.key || f.key->size() != kKeyBytes || !isSealedField(f.sealed))
                continue;
            ad.clear();
            if (u(f.sealed)[0] == kFieldV2) {
                char id[24];
                const auto end = std::to_chars(id, id + sizeof id, f.id).ptr;
                for (std::string_view p : {std::string_view("field2"), column, f.foldedWriter,
                                           std::string_view(id, std::size_t(end - id)), f.time})
                    (ad += p) += '\0';
            } else {
                ((ad += "field") += '\0') += column;
                (ad += '\0') += f.foldedWriter;
            }
            f.ok = openInto(f.key->data(), f.sealed, ad, f.out);
            if (!f.ok)
                sodium_memzero(f.out, f.sealed.size() - 1 - kNonce - kTag);
        }
    };
    // Below a few hundred fields a thread costs more than it saves.
    const std::size_t n = std::clamp<std::size_t>(count / 256, 1, std::max(threads, 1u));
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < n; ++t)
        helpers.emplace_back(share, count * t / n, count * (t + 1) / n);
    share(0, count / n);
    for (std::thread& h : helpers)
        h.join();
}

// ---- user keys ----

Bytes wrapUserKey(const Secret& wrap, const Secret& dataKey, const Bytes& foldedUser,
                  const Bytes& adminPublic) {
    const Bytes pk = adminPublic.size() == kPublicBytes ? adminPublic : Bytes(kPublicBytes, '\0');
    return Bytes(1, char(kWrappedV2)) + pk +
           seal(wrap.data(), kWrappedV2, view(dataKey), joined({"key2", pk}) + foldedUser);
}

std::optional<Unwrapped> unwrapUserKey(const Secret& wrap, std::string_view wrapped,
                                       const Bytes& foldedUser) {
    if (wrap.size() != kKeyBytes)
        return std::nullopt;
    if (!wrapped.empty() && u(wrapped)[0] == kWrappedV2 && wrapped.size() > 1 + kPublicBytes) {
        const Bytes pk(wrapped.substr(1, kPublicBytes));
        auto key = openSecret(wrap.data(), wrapped.substr(1 + kPublicBytes),
                              joined({"key2", pk}) + foldedUser, kWrappedV2, kKeyBytes);
        if (!key)
            return std::nullopt;
        const bool none = pk == Bytes(kPublicBytes, '\0');
        return Unwrapped{std::move(*key), none ? Bytes() : pk};
    }
    auto key = openSecret(wrap.data(), wrapped, joined({"key", ""}) + foldedUser, 1, kKeyBytes);
    if (!key)
        return std::nullopt;
    return Unwrapped{std::move(*key), Bytes()};
}

// ---- escrow: a sealed box whose one-time key is derived from the data key ----

Bytes escrowOf(const Secret& dataKey, const Bytes& foldedUser, const Bytes& adminPublic) {
    initSodium();
    if (adminPublic.size() != kPublicBytes || dataKey.size() != kKeyBytes)
        throw std::invalid_argument("escrow needs a data key and an administrator public key");
    Secret ephemeral(crypto_box_SECRETKEYBYTES);
    const Bytes context = joined({"escrow", adminPublic}) + foldedUser;
    crypto_generichash(ephemeral.data(), ephemeral.size(), u(context), context.size(),
                       dataKey.data(), dataKey.size());
    unsigned char epk[crypto_box_PUBLICKEYBYTES];
    crypto_scalarmult_base(epk, ephemeral.data());
    // The nonce and layout of crypto_box_seal, so crypto_box_seal_open opens it.
    unsigned char nonce[crypto_box_NONCEBYTES];
    crypto_generichash_state st;
    crypto_generichash_init(&st, nullptr, 0, sizeof nonce);
    crypto_generichash_update(&st, epk, sizeof epk);
    crypto_generichash_update(&st, u(adminPublic), adminPublic.size());
    crypto_generichash_final(&st, nonce, sizeof nonce);
    Secret plain(kKeyBytes + foldedUser.size());
    std::memcpy(plain.data(), dataKey.data(), kKeyBytes);
    std::memcpy(plain.data() + kKeyBytes, foldedUser.data(), foldedUser.size());
    Bytes out(crypto_box_SEALBYTES + plain.size(), '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    std::memcpy(o, epk, sizeof epk);
    if (crypto_box_easy(o + sizeof epk, plain.data(), plain.size(), nonce, u(adminPublic),
                        ephemeral.data()) != 0)
        throw std::invalid_argument("not an administrator public key");
    return out;
}

std::optional<Secret> openEscrow(std::string_view escrow, const Bytes& foldedUser,
                                 const Secret& adminSecret) {
    if (escrow.size() != crypto_box_SEALBYTES + kKeyBytes + foldedUser.size() ||
        adminSecret.size() != crypto_box_SECRETKEYBYTES)
        return std::nullopt;
    const Bytes pk = publicOf(adminSecret);
    Secret plain(kKeyBytes + foldedUser.size());
    if (crypto_box_seal_open(plain.data(), u(escrow), escrow.size(), u(pk), adminSecret.data()) !=
            0 ||
        std::memcmp(plain.data() + kKeyBytes, foldedUser.data(), foldedUser.size()) != 0)
        return std::nullopt;
    Secret key(kKeyBytes);
    std::memcpy(key.data(), plain.data(), kKeyBytes);
    return key;
}

// ---- administrator key ----

Bytes wrapAdminKey(const Secret& by, const Secret& adminSecret, const Bytes& foldedUser) {
    return seal(by.data(), 1, view(adminSecret),
                joined({foldedUser.empty() ? "recovery" : "admin", ""}) + foldedUser);
}

std::optional<Secret> unwrapAdminKey(const Secret& by, std::string_view wrapped,
                                     const Bytes& foldedUser) {
    if (by.size() != kKeyBytes)
        return std::nullopt;
    return openSecret(by.data(), wrapped,
                      joined({foldedUser.empty() ? "recovery" : "admin", ""}) + foldedUser, 1,
                      crypto_box_SECRETKEYBYTES);
}

KeyPair newAdminKeyPair() {
    initSodium();
    KeyPair k{Bytes(crypto_box_PUBLICKEYBYTES, '\0'), Secret(crypto_box_SECRETKEYBYTES)};
    crypto_box_keypair(reinterpret_cast<unsigned char*>(k.publicKey.data()), k.secretKey.data());
    return k;
}

Bytes publicOf(const Secret& adminSecret) {
    initSodium();
    Bytes pk(crypto_box_PUBLICKEYBYTES, '\0');
    if (adminSecret.size() != crypto_box_SECRETKEYBYTES ||
        crypto_scalarmult_base(reinterpret_cast<unsigned char*>(pk.data()), adminSecret.data()) !=
            0)
        return Bytes();
    return pk;
}

QByteArray recoveryText(const Secret& recovery) {
    char hex[kKeyBytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, recovery.data(), recovery.size());
    QByteArray out = QByteArray(hex) + '\n';
    sodium_memzero(hex, sizeof hex);
    return out;
}

std::optional<Secret> recoveryFromText(const QByteArray& text) {
    initSodium();
    const QByteArray hex = text.trimmed();
    Secret key(kKeyBytes);
    std::size_t n = 0;
    if (sodium_hex2bin(key.data(), kKeyBytes, hex.constData(), std::size_t(hex.size()), nullptr, &n,
                       nullptr) != 0 ||
        n != kKeyBytes || hex.size() != qsizetype(2 * kKeyBytes))
        return std::nullopt;
    return key;
}

// ---- plain rows ----

KeyPair newSigningKeyPair() {
    initSodium();
    KeyPair k{Bytes(crypto_sign_PUBLICKEYBYTES, '\0'), Secret(crypto_sign_SECRETKEYBYTES)};
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(k.publicKey.data()), k.secretKey.data());
    return k;
}

Bytes signPlainRow(const Secret& signingSecret, const PlainRow& row) {
    const Bytes m = plainRowMessage(row);
    Bytes sig(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(sig.data()), nullptr, u(m), m.size(),
                         signingSecret.data());
    return sig;
}

bool verifyPlainRow(const Bytes& signingPublic, std::string_view signature, const PlainRow& row) {
    initSodium();
    if (signingPublic.size() != crypto_sign_PUBLICKEYBYTES || signature.size() != crypto_sign_BYTES)
        return false;
    const Bytes m = plainRowMessage(row);
    return crypto_sign_verify_detached(u(signature), u(m), m.size(), u(signingPublic)) == 0;
}

Bytes digest(std::string_view bytes) {
    initSodium();
    Bytes out(crypto_generichash_BYTES, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(out.data()), out.size(), u(bytes),
                       bytes.size(), nullptr, 0);
    return out;
}

} // namespace vault
