#pragma once
// The cipher: pure functions over bytes. Nothing here reads or writes a file.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vault {

using Bytes = std::string;

// Bytes in libsodium's guarded memory, wiped when freed.
class Secret {
public:
    Secret() = default;
    explicit Secret(std::size_t size);
    static Secret random(std::size_t size);
    Secret copy() const;
    Secret(Secret&& other) noexcept;
    Secret& operator=(Secret&& other) noexcept;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret();

    unsigned char* data() { return p_; }
    const unsigned char* data() const { return p_; }
    std::size_t size() const { return n_; }
    bool empty() const { return n_ == 0; }
    bool operator==(const Secret& other) const;

private:
    unsigned char* p_ = nullptr;
    std::size_t n_ = 0;
};

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kPublicBytes = 32;
constexpr std::size_t kSignPublicBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

void initSodium();

// What a field reads as when its writer's key is not at hand, or when it fails to open.
QString noKeyText();
QString damagedText();

// As B_writer's NOCASE compares: ASCII letters only.
Bytes fold(const QString& name);

// What a stored entry field is bound to: a ciphertext moved to another row, column or
// writer, or a row whose time was changed, no longer opens.
struct FieldPlace {
    QString column;
    QString writer;
    long long id = 0;
    QString time;
};

// An entry field sealed with its writer's data key.
Bytes sealField(const Secret& key, std::string_view plain, const FieldPlace& at);
// The text, or nothing when it does not open there. Fields sealed before the row and time
// were bound open by their column and writer alone.
std::optional<Bytes> openField(const Secret& key, std::string_view sealed, const FieldPlace& at);
bool isSealedField(std::string_view stored);

// One sealed field of a scan, opened straight into `out`, which holds plainSize(sealed) bytes.
struct FieldToOpen {
    std::string_view sealed;
    const Secret* key = nullptr;
    std::string_view foldedWriter;
    long long id = 0;
    std::string_view time;
    unsigned char* out = nullptr;
    bool ok = false;
};
// What a sealed field opens to, in bytes; nothing when it is no sealed field.
std::optional<std::size_t> plainSize(std::string_view sealed);
// Opens fields of one column on up to `threads` threads, each its own share.
void openFields(FieldToOpen* fields, std::size_t count, std::string_view column, unsigned threads);

// A user's data key wrapped by the key from his password, bound to his name and to the
// administrator public key it was escrowed to when made (empty for none).
Bytes wrapUserKey(const Secret& wrap, const Secret& dataKey, const Bytes& foldedUser,
                  const Bytes& adminPublic);
struct Unwrapped {
    Secret key;
    Bytes adminPublic; // empty for a key of an older file, or one set without its owner
};
std::optional<Unwrapped> unwrapUserKey(const Secret& wrap, std::string_view wrapped,
                                       const Bytes& foldedUser);

// The data key sealed to the administrator public key. The sealing's one-time key comes
// from the data key itself, so its owner can tell the escrow holds his key by making it again.
Bytes escrowOf(const Secret& dataKey, const Bytes& foldedUser, const Bytes& adminPublic);
std::optional<Secret> openEscrow(std::string_view escrow, const Bytes& foldedUser,
                                 const Secret& adminSecret);

// The administrator secret key wrapped by a granted user's data key, or by the recovery key.
Bytes wrapAdminKey(const Secret& by, const Secret& adminSecret, const Bytes& foldedUser);
std::optional<Secret> unwrapAdminKey(const Secret& by, std::string_view wrapped,
                                     const Bytes& foldedUser);

struct KeyPair {
    Bytes publicKey;
    Secret secretKey;
};
KeyPair newAdminKeyPair();
Bytes publicOf(const Secret& adminSecret);

// The recovery key as written to its file: hex and a line end.
QByteArray recoveryText(const Secret& recovery);
std::optional<Secret> recoveryFromText(const QByteArray& text);

// Signatures over the plain rows an upgrade found, so a plain row planted later is told
// apart from one that was there.
KeyPair newSigningKeyPair();
struct PlainRow {
    long long id = 0;
    QString writer, time;
    std::optional<QString> title, weather, content;
};
Bytes signPlainRow(const Secret& signingSecret, const PlainRow& row);
bool verifyPlainRow(const Bytes& signingPublic, std::string_view signature, const PlainRow& row);

// Bytes as Qt holds them, and back: the one copy of each way.
inline QByteArray qbytes(const Bytes& b) {
    return QByteArray(b.data(), qsizetype(b.size()));
}
inline Bytes bytes(const QByteArray& b) {
    return Bytes(b.constData(), std::size_t(b.size()));
}
inline std::string_view view(const QByteArray& b) {
    return std::string_view(b.constData(), std::size_t(b.size()));
}

// A digest of bytes, for comparing stored values without keeping them.
Bytes digest(std::string_view bytes);

} // namespace vault
