#pragma once
// Entry texts sealed with their writer's data key: the keys of this session, the key
// records of the database, and the SQLite functions and triggers that seal what the
// statements store and open what they read.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <optional>

struct sqlite3;

namespace vault {

// Bytes in libsodium's guarded memory, wiped when freed.
class Secret {
public:
    Secret() = default;
    explicit Secret(std::size_t size);
    static Secret random(std::size_t size);
    Secret(Secret&& other) noexcept;
    Secret& operator=(Secret&& other) noexcept;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret();

    unsigned char* data() { return p_; }
    const unsigned char* data() const { return p_; }
    std::size_t size() const { return n_; }
    bool empty() const { return n_ == 0; }

private:
    unsigned char* p_ = nullptr;
    std::size_t n_ = 0;
};

constexpr std::size_t kKeyBytes = 32;

// What a field reads as when its writer's key is not at hand, or when it fails to open.
QString noKeyText();
QString damagedText();
// The text for a message box when `engineMessage` is one of the refusals below; else empty.
QString refusal(const QString& engineMessage);

// The functions and temporary triggers of one connection; called on every new handle.
void attach(sqlite3* db);

// ---- the keys of this session ----
// Wipes every key: at a new login and at exit.
void forget();
void keepUserKey(sqlite3* db, const QString& writer, Secret key);
void keepAdminKey(sqlite3* db, Secret secretKey);
bool hasAdminKey();

// A stored field as the windows show it: the text, or one of the two texts above.
QString openField(sqlite3* db, const QByteArray& sealed, const QString& writer,
                  const QString& column);

// ---- key records of the database (callers hold the transaction) ----
// True when the file carries an administrator public key, so users get data keys.
bool enabled(sqlite3* db);
// The key tables and the administrator key pair for a file that has none; returns the
// recovery key as text, or an empty text when the file had its keys already.
QByteArray upgrade(sqlite3* db);
int schemaVersion(sqlite3* db);
bool hasUserKey(sqlite3* db, const QString& user);
// A fresh data key for `user`, wrapped by `wrap` and sealed to the administrator key.
Secret createUserKey(sqlite3* db, const QString& user, const Secret& wrap);
std::optional<Secret> unwrapUserKey(sqlite3* db, const QString& user, const Secret& wrap);
void rewrapUserKey(sqlite3* db, const QString& user, const Secret& dataKey, const Secret& wrap);
// The data key of `user` from its escrow; needs the administrator secret key.
std::optional<Secret> escrowedKey(sqlite3* db, const QString& user, const Secret& adminKey);
// The administrator secret key from a granted user's copy, or from the recovery key text.
std::optional<Secret> adminKeyOf(sqlite3* db, const QString& user, const Secret& dataKey);
std::optional<Secret> adminKeyFromRecovery(sqlite3* db, const QByteArray& recoveryText);
void grantAdmin(sqlite3* db, const QString& user, const Secret& dataKey, const Secret& adminKey);
void revokeAdmin(sqlite3* db, const QString& user);

} // namespace vault
