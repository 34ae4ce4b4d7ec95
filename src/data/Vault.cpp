#include "data/Vault.h"

#include "data/ado.h"

#include <cstring>
#include <sodium.h>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace vault {
namespace {

void initSodium() {
    static const bool ok = sodium_init() >= 0;
    if (!ok)
        throw std::runtime_error("libsodium could not be initialised");
}

using Bytes = std::string;

constexpr unsigned char kSealedVersion = 1;
constexpr std::size_t kNonce = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t kTag = crypto_aead_xchacha20poly1305_ietf_ABYTES;

const char* const kNoKeyToSave = "没有这位作者的密钥，无法保存这篇日记";
const char* const kCannotOpen = "这篇日记无法解密，不能保存修改";
const char* const kNoKeyToDelete = "没有这篇日记的密钥，不能删除";

// As B_writer's NOCASE compares: ASCII letters only.
Bytes fold(std::string_view s) {
    Bytes out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}
Bytes fold(const QString& s) {
    const QByteArray u = s.toUtf8();
    return fold(std::string_view(u.constData(), std::size_t(u.size())));
}

// What a ciphertext is bound to: its purpose, a column or a user, and a folded name.
Bytes bound(std::string_view purpose, std::string_view part, std::string_view foldedName) {
    Bytes ad(purpose);
    ad += '\0';
    ad += part;
    ad += '\0';
    ad += foldedName;
    return ad;
}

// version | nonce | ciphertext and tag
Bytes seal(const unsigned char* key, std::string_view plain, std::string_view ad) {
    Bytes out(1 + kNonce + plain.size() + kTag, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    o[0] = kSealedVersion;
    randombytes_buf(o + 1, kNonce);
    unsigned long long n = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        o + 1 + kNonce, &n, reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
        reinterpret_cast<const unsigned char*>(ad.data()), ad.size(), nullptr, o + 1, key);
    return out;
}

bool openSealed(const unsigned char* key, const unsigned char* sealed, std::size_t size,
                std::string_view ad, unsigned char* out, std::size_t* outSize) {
    if (size < 1 + kNonce + kTag || sealed[0] != kSealedVersion)
        return false;
    unsigned long long n = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            out, &n, nullptr, sealed + 1 + kNonce, size - 1 - kNonce,
            reinterpret_cast<const unsigned char*>(ad.data()), ad.size(), sealed + 1, key) != 0)
        return false;
    *outSize = std::size_t(n);
    return true;
}

std::optional<Secret> openSecret(const unsigned char* key, const Bytes& sealed,
                                 std::string_view ad) {
    if (sealed.size() < 1 + kNonce + kTag)
        return std::nullopt;
    Secret s(sealed.size() - 1 - kNonce - kTag);
    std::size_t n = 0;
    if (!openSealed(key, reinterpret_cast<const unsigned char*>(sealed.data()), sealed.size(), ad,
                    s.data(), &n))
        return std::nullopt;
    return s;
}

Bytes sealSecret(const unsigned char* key, const Secret& s, std::string_view ad) {
    return seal(key, std::string_view(reinterpret_cast<const char*>(s.data()), s.size()), ad);
}

[[noreturn]] void fail(sqlite3* db, int rc) {
    const char* file = db ? sqlite3_db_filename(db, "main") : nullptr;
    throw ado::Error(QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)), rc,
                     QString::fromUtf8(file ? file : ""));
}

struct Stmt {
    sqlite3_stmt* s = nullptr;
    Stmt(sqlite3* db, const char* sql) {
        const int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        if (rc != SQLITE_OK)
            fail(db, rc);
    }
    ~Stmt() { sqlite3_finalize(s); }
    Stmt& bind(int i, const Bytes& b) {
        sqlite3_bind_blob(s, i, b.data(), int(b.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& text(int i, const QString& t) {
        const QByteArray u = t.toUtf8();
        sqlite3_bind_text(s, i, u.constData(), int(u.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True for a row; throws on failure.
    bool step() {
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail(sqlite3_db_handle(s), rc);
        return false;
    }
    Bytes blob(int i) {
        return Bytes(static_cast<const char*>(sqlite3_column_blob(s, i)),
                     std::size_t(sqlite3_column_bytes(s, i)));
    }
};

void exec(sqlite3* db, const char* sql) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(db, rc);
}

// One value of JR_vault, empty when absent (or when the table is missing).
Bytes setting(sqlite3* db, const char* name) {
    sqlite3_stmt* s = nullptr;
    Bytes out;
    if (sqlite3_prepare_v2(db, "select value from JR_vault where name=?", -1, &s, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
        if (sqlite3_step(s) == SQLITE_ROW)
            out.assign(static_cast<const char*>(sqlite3_column_blob(s, 0)),
                       std::size_t(sqlite3_column_bytes(s, 0)));
    }
    sqlite3_finalize(s);
    return out;
}

Bytes installationOf(sqlite3* db) {
    const Bytes pk = setting(db, "public");
    return pk.size() == crypto_box_PUBLICKEYBYTES ? pk : Bytes();
}

// ---- the session's keys ----

struct Keyring {
    Bytes installation; // the administrator public key of the file the keys belong to
    std::unordered_map<Bytes, Secret> keys;
    std::unordered_set<Bytes> missing;
    Secret adminSecret;
    unsigned char adminPublic[crypto_box_PUBLICKEYBYTES] = {};
    unsigned generation = 0; // changes whenever a key comes or goes

    void clear() {
        ++generation;
        installation.clear();
        keys.clear();
        missing.clear();
        adminSecret = Secret();
        sodium_memzero(adminPublic, sizeof adminPublic);
    }
    void bindTo(const Bytes& install) {
        if (installation != install) {
            clear();
            installation = install;
        }
    }
};

Keyring& ring() {
    static Keyring r; // its destructor frees, and so wipes, every key at exit
    return r;
}

// What a connection knows of its file, and the writer and column it opened last: a search
// over one writer's entries folds the name and finds the key once.
struct Context {
    sqlite3* db = nullptr;
    Bytes installation;
    Bytes lastWriter, lastColumn, lastAd;
    const unsigned char* lastKey = nullptr;
    unsigned generation = ~0u;
};

std::optional<Bytes> escrowOf(sqlite3* db, const Bytes& foldedUser) {
    sqlite3_stmt* s = nullptr;
    std::optional<Bytes> out;
    if (sqlite3_prepare_v2(db, "select escrow from JR_key where B_user=?", -1, &s, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(s, 1, foldedUser.data(), int(foldedUser.size()), SQLITE_STATIC);
        if (sqlite3_step(s) == SQLITE_ROW)
            out = Bytes(static_cast<const char*>(sqlite3_column_blob(s, 0)),
                        std::size_t(sqlite3_column_bytes(s, 0)));
    }
    sqlite3_finalize(s);
    return out;
}

std::optional<Secret> openEscrow(const Bytes& escrow, const Bytes& foldedUser,
                                 const unsigned char* pk, const unsigned char* sk) {
    if (escrow.size() != crypto_box_SEALBYTES + kKeyBytes + foldedUser.size())
        return std::nullopt;
    Secret plain(kKeyBytes + foldedUser.size());
    if (crypto_box_seal_open(plain.data(), reinterpret_cast<const unsigned char*>(escrow.data()),
                             escrow.size(), pk, sk) != 0 ||
        std::memcmp(plain.data() + kKeyBytes, foldedUser.data(), foldedUser.size()) != 0)
        return std::nullopt;
    Secret key(kKeyBytes);
    std::memcpy(key.data(), plain.data(), kKeyBytes);
    return key;
}

// The data key of a writer for this connection's file, from the ring or the escrow.
const unsigned char* keyFor(const Context& c, const Bytes& writer) {
    Keyring& r = ring();
    if (c.installation.empty() || r.installation != c.installation)
        return nullptr;
    if (auto it = r.keys.find(writer); it != r.keys.end())
        return it->second.data();
    if (r.missing.count(writer) || r.adminSecret.empty())
        return nullptr;
    std::optional<Secret> key;
    if (const auto escrow = escrowOf(c.db, writer))
        key = openEscrow(*escrow, writer, r.adminPublic, r.adminSecret.data());
    if (!key) {
        r.missing.insert(writer);
        return nullptr;
    }
    return r.keys.emplace(writer, std::move(*key)).first->second.data();
}

bool keyRowExists(sqlite3* db, const Bytes& writer) {
    sqlite3_stmt* s = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db, "select 1 from JR_key where B_user=?", -1, &s, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(s, 1, writer.data(), int(writer.size()), SQLITE_STATIC);
        found = sqlite3_step(s) == SQLITE_ROW;
    }
    sqlite3_finalize(s);
    return found;
}

enum class State { Plain, Opened, NoKey, Damaged };

std::string_view textOf(sqlite3_value* v) {
    return std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                            std::size_t(sqlite3_value_bytes(v)));
}

// Opens a sealed value into `out`.
State openInto(Context& c, const unsigned char* sealed, std::size_t size, std::string_view writer,
               std::string_view column, Bytes& out) {
    if (c.generation != ring().generation || writer != c.lastWriter || column != c.lastColumn) {
        const Bytes w = fold(writer);
        c.lastKey = keyFor(c, w);
        c.generation = ring().generation;
        c.lastWriter.assign(writer);
        c.lastColumn.assign(column);
        c.lastAd = bound("field", column, w);
    }
    const unsigned char* key = c.lastKey;
    if (!key)
        return State::NoKey;
    if (size < 1 + kNonce + kTag)
        return State::Damaged;
    out.resize(size - 1 - kNonce - kTag);
    std::size_t n = 0;
    if (!openSealed(key, sealed, size, c.lastAd, reinterpret_cast<unsigned char*>(out.data()), &n))
        return State::Damaged;
    out.resize(n);
    return State::Opened;
}

State openValue(sqlite3_context* ctx, sqlite3_value** argv, Bytes& out) {
    if (sqlite3_value_type(argv[0]) != SQLITE_BLOB)
        return State::Plain;
    auto* c = static_cast<Context*>(sqlite3_user_data(ctx));
    return openInto(*c, static_cast<const unsigned char*>(sqlite3_value_blob(argv[0])),
                    std::size_t(sqlite3_value_bytes(argv[0])), textOf(argv[1]), textOf(argv[2]),
                    out);
}

void resultSecretText(sqlite3_context* ctx, Bytes& plain) {
    sqlite3_result_text(ctx, plain.data(), int(plain.size()), SQLITE_TRANSIENT);
    sodium_memzero(plain.data(), plain.size());
}

// dv_open(value, writer, column): the text, NULL when it cannot be opened.
void fnOpen(sqlite3_context* ctx, int, sqlite3_value** argv) {
    thread_local Bytes plain; // kept between rows; wiped after each
    plain.clear();
    switch (openValue(ctx, argv, plain)) {
    case State::Plain:
        sqlite3_result_value(ctx, argv[0]);
        break;
    case State::Opened:
        resultSecretText(ctx, plain);
        break;
    default:
        sqlite3_result_null(ctx);
    }
}

// dv_state(value, writer, column): 0 readable, 1 no key, 2 damaged.
void fnState(sqlite3_context* ctx, int, sqlite3_value** argv) {
    Bytes plain;
    const State s = openValue(ctx, argv, plain);
    sodium_memzero(plain.data(), plain.size());
    sqlite3_result_int(ctx, s == State::NoKey ? 1 : s == State::Damaged ? 2 : 0);
}

void sealInto(sqlite3_context* ctx, const Context& c, std::string_view plain,
              std::string_view writer, std::string_view column) {
    const Bytes w = fold(writer);
    // A writer without a key in this file (an account from before, no account, or a file
    // restored from before the key) stays as before: a key kept only in memory would lose it.
    if (!keyRowExists(c.db, w)) {
        sqlite3_result_text(ctx, plain.data(), int(plain.size()), SQLITE_TRANSIENT);
        return;
    }
    const unsigned char* key = keyFor(c, w);
    if (!key) {
        sqlite3_result_error(ctx, kNoKeyToSave, -1);
        return;
    }
    const Bytes sealed = seal(key, plain, bound("field", column, w));
    sqlite3_result_blob(ctx, sealed.data(), int(sealed.size()), SQLITE_TRANSIENT);
}

// dv_seal(value, writer, column[, old writer]): text sealed for the writer; a sealed value
// moved to another writer opened and sealed again.
void fnSeal(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* c = static_cast<Context*>(sqlite3_user_data(ctx));
    const int type = sqlite3_value_type(argv[0]);
    if (type == SQLITE_TEXT) {
        sealInto(ctx, *c, textOf(argv[0]), textOf(argv[1]), textOf(argv[2]));
        return;
    }
    if (type != SQLITE_BLOB || argc < 4 || fold(textOf(argv[1])) == fold(textOf(argv[3]))) {
        sqlite3_result_value(ctx, argv[0]);
        return;
    }
    Bytes plain;
    if (openInto(*c, static_cast<const unsigned char*>(sqlite3_value_blob(argv[0])),
                 std::size_t(sqlite3_value_bytes(argv[0])), textOf(argv[3]), textOf(argv[2]),
                 plain) != State::Opened) {
        sqlite3_result_error(ctx, kCannotOpen, -1);
        return;
    }
    sealInto(ctx, *c, plain, textOf(argv[1]), textOf(argv[2]));
    sodium_memzero(plain.data(), plain.size());
}

Bytes triggersSql() {
    const auto list = [](const char* fn, const char* row, const char* extra) {
        Bytes s;
        for (const char* col : {"B_title", "B_weather", "B_content"}) {
            if (!s.empty())
                s += ",";
            s +=
                Bytes(col) + "=" + fn + "(NEW." + col + ",NEW.B_writer,'" + col + "'" + extra + ")";
        }
        return s + " WHERE rowid=" + row + ".rowid";
    };
    const Bytes readable = "dv_state(OLD.B_title,OLD.B_writer,'B_title')=0 AND "
                           "dv_state(OLD.B_weather,OLD.B_writer,'B_weather')=0 AND "
                           "dv_state(OLD.B_content,OLD.B_writer,'B_content')=0";
    return "CREATE TEMP TRIGGER IF NOT EXISTS dv_seal_insert AFTER INSERT ON main.JR_content "
           "BEGIN UPDATE JR_content SET " +
           list("dv_seal", "NEW", "") +
           "; END;"
           "CREATE TEMP TRIGGER IF NOT EXISTS dv_refuse_update BEFORE UPDATE OF "
           "B_title,B_weather,B_content,B_writer ON main.JR_content WHEN NOT (" +
           readable + ") BEGIN SELECT RAISE(ABORT,'" + kCannotOpen +
           "'); END;"
           "CREATE TEMP TRIGGER IF NOT EXISTS dv_seal_update AFTER UPDATE OF "
           "B_title,B_weather,B_content,B_writer ON main.JR_content WHEN "
           "typeof(NEW.B_title)='text' OR typeof(NEW.B_weather)='text' OR "
           "typeof(NEW.B_content)='text' OR fold_ne(NEW.B_writer,OLD.B_writer) "
           "BEGIN UPDATE JR_content SET " +
           list("dv_seal", "NEW", ",OLD.B_writer") +
           "; END;"
           "CREATE TEMP TRIGGER IF NOT EXISTS dv_refuse_delete BEFORE DELETE ON main.JR_content "
           "WHEN dv_state(OLD.B_content,OLD.B_writer,'B_content')=1 BEGIN SELECT RAISE(ABORT,'" +
           kNoKeyToDelete + "'); END;";
}

// fold_ne(a, b): the two names differ as B_writer's NOCASE compares them.
void fnFoldNe(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_int(ctx, fold(textOf(argv[0])) != fold(textOf(argv[1])));
}

} // namespace

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

// ---- texts ----

QString noKeyText() {
    return QStringLiteral("（无法解密）");
}
QString damagedText() {
    return QStringLiteral("（此日记已损坏，无法解密）");
}

QString refusal(const QString& engineMessage) {
    for (const char* m : {kNoKeyToSave, kCannotOpen, kNoKeyToDelete})
        if (engineMessage.contains(QString::fromUtf8(m)))
            return QString::fromUtf8(m);
    return QString();
}

// ---- a connection ----

void attach(sqlite3* db) {
    initSodium();
    auto* c = new Context;
    c->db = db;
    c->installation = installationOf(db);
    const int flags = SQLITE_UTF8 | SQLITE_DIRECTONLY;
    // The first registration owns the context and frees it with the connection.
    sqlite3_create_function_v2(db, "dv_open", 3, flags, c, fnOpen, nullptr, nullptr,
                               [](void* p) { delete static_cast<Context*>(p); });
    sqlite3_create_function_v2(db, "dv_state", 3, flags, c, fnState, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "dv_seal", 3, flags, c, fnSeal, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "dv_seal", 4, flags, c, fnSeal, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "fold_ne", 2, flags | SQLITE_DETERMINISTIC, nullptr, fnFoldNe,
                               nullptr, nullptr, nullptr);
    // Temporary pages (statement journals) stay in memory, never in a file.
    sqlite3_exec(db, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
    // A file without the diary table has nothing to seal.
    sqlite3_exec(db, triggersSql().c_str(), nullptr, nullptr, nullptr);
}

// ---- the session's keys ----

void forget() {
    ring().clear();
}

void keepUserKey(sqlite3* db, const QString& writer, Secret key) {
    Keyring& r = ring();
    r.bindTo(installationOf(db));
    ++r.generation;
    const Bytes w = fold(writer);
    r.missing.erase(w);
    r.keys.insert_or_assign(w, std::move(key));
}

void keepAdminKey(sqlite3* db, Secret secretKey) {
    Keyring& r = ring();
    r.bindTo(installationOf(db));
    ++r.generation;
    crypto_scalarmult_base(r.adminPublic, secretKey.data());
    r.adminSecret = std::move(secretKey);
    r.missing.clear();
}

bool hasAdminKey() {
    return !ring().adminSecret.empty();
}

QString openField(sqlite3* db, const QByteArray& sealed, const QString& writer,
                  const QString& column) {
    Context c;
    c.db = db;
    c.installation = installationOf(db);
    Bytes plain;
    const QByteArray w = writer.toUtf8();
    const QByteArray col = column.toUtf8();
    switch (openInto(c, reinterpret_cast<const unsigned char*>(sealed.constData()),
                     std::size_t(sealed.size()), std::string_view(w.constData(), w.size()),
                     std::string_view(col.constData(), col.size()), plain)) {
    case State::Opened: {
        const QString text = QString::fromUtf8(plain.data(), qsizetype(plain.size()));
        sodium_memzero(plain.data(), plain.size());
        return text;
    }
    case State::NoKey:
        return noKeyText();
    default:
        return damagedText();
    }
}

// ---- key records ----

bool enabled(sqlite3* db) {
    // A file without the diary table is not the diary: nothing is written into it.
    sqlite3_stmt* s = nullptr;
    bool diary = false;
    if (sqlite3_prepare_v2(db,
                           "select 1 from sqlite_master where type='table' and "
                           "name='JR_content'",
                           -1, &s, nullptr) == SQLITE_OK)
        diary = sqlite3_step(s) == SQLITE_ROW;
    sqlite3_finalize(s);
    return diary && !installationOf(db).empty();
}

int schemaVersion(sqlite3* db) {
    Stmt s(db, "PRAGMA user_version");
    return s.step() ? sqlite3_column_int(s.s, 0) : 0;
}

QByteArray upgrade(sqlite3* db) {
    initSodium();
    exec(db, "CREATE TABLE IF NOT EXISTS JR_vault (name TEXT PRIMARY KEY, value BLOB NOT NULL);"
             "CREATE TABLE IF NOT EXISTS JR_key (B_user TEXT PRIMARY KEY COLLATE NOCASE, "
             "wrapped BLOB NOT NULL, escrow BLOB NOT NULL);"
             "CREATE TABLE IF NOT EXISTS JR_admin (B_user TEXT PRIMARY KEY COLLATE NOCASE, "
             "wrapped BLOB NOT NULL);");
    QByteArray recoveryText;
    if (!enabled(db)) {
        unsigned char pk[crypto_box_PUBLICKEYBYTES];
        Secret sk(crypto_box_SECRETKEYBYTES);
        crypto_box_keypair(pk, sk.data());
        const Secret recovery = Secret::random(kKeyBytes);
        Stmt put(db, "insert or replace into JR_vault(name,value) values(?,?)");
        put.text(1, QStringLiteral("public"))
            .bind(2, Bytes(reinterpret_cast<char*>(pk), sizeof pk));
        put.step();
        sqlite3_reset(put.s);
        put.text(1, QStringLiteral("recovery"))
            .bind(2, sealSecret(recovery.data(), sk, bound("recovery", "", "")));
        put.step();
        char hex[kKeyBytes * 2 + 1];
        sodium_bin2hex(hex, sizeof hex, recovery.data(), kKeyBytes);
        recoveryText = QByteArray(hex) + '\n';
        sodium_memzero(hex, sizeof hex);
    }
    if (schemaVersion(db) < 2)
        exec(db, "PRAGMA user_version = 2");
    return recoveryText;
}

bool hasUserKey(sqlite3* db, const QString& user) {
    return keyRowExists(db, fold(user));
}

Secret createUserKey(sqlite3* db, const QString& user, const Secret& wrap) {
    const Bytes pk = installationOf(db);
    if (pk.empty())
        throw ado::Error(QStringLiteral("no administrator key"), SQLITE_ERROR, QString());
    const Bytes w = fold(user);
    Secret key = Secret::random(kKeyBytes);
    Secret plain(kKeyBytes + w.size());
    std::memcpy(plain.data(), key.data(), kKeyBytes);
    std::memcpy(plain.data() + kKeyBytes, w.data(), w.size());
    Bytes escrow(crypto_box_SEALBYTES + plain.size(), '\0');
    crypto_box_seal(reinterpret_cast<unsigned char*>(escrow.data()), plain.data(), plain.size(),
                    reinterpret_cast<const unsigned char*>(pk.data()));
    Stmt put(db, "insert or replace into JR_key(B_user,wrapped,escrow) values(?,?,?)");
    put.text(1, user).bind(2, sealSecret(wrap.data(), key, bound("key", "", w))).bind(3, escrow);
    put.step();
    return key;
}

std::optional<Secret> unwrapUserKey(sqlite3* db, const QString& user, const Secret& wrap) {
    Stmt get(db, "select wrapped from JR_key where B_user=?");
    get.text(1, user);
    if (!get.step())
        return std::nullopt;
    auto key = openSecret(wrap.data(), get.blob(0), bound("key", "", fold(user)));
    if (key && key->size() != kKeyBytes)
        return std::nullopt;
    return key;
}

void rewrapUserKey(sqlite3* db, const QString& user, const Secret& dataKey, const Secret& wrap) {
    Stmt put(db, "update JR_key set wrapped=? where B_user=?");
    put.bind(1, sealSecret(wrap.data(), dataKey, bound("key", "", fold(user)))).text(2, user);
    put.step();
    if (sqlite3_changes(db) != 1)
        throw ado::Error(QStringLiteral("no key of this user"), SQLITE_ERROR, QString());
}

std::optional<Secret> escrowedKey(sqlite3* db, const QString& user, const Secret& adminKey) {
    const Bytes w = fold(user);
    const auto escrow = escrowOf(db, w);
    if (!escrow)
        return std::nullopt;
    unsigned char pk[crypto_box_PUBLICKEYBYTES];
    crypto_scalarmult_base(pk, adminKey.data());
    return openEscrow(*escrow, w, pk, adminKey.data());
}

std::optional<Secret> adminKeyOf(sqlite3* db, const QString& user, const Secret& dataKey) {
    Stmt get(db, "select wrapped from JR_admin where B_user=?");
    get.text(1, user);
    if (!get.step())
        return std::nullopt;
    return openSecret(dataKey.data(), get.blob(0), bound("admin", "", fold(user)));
}

std::optional<Secret> adminKeyFromRecovery(sqlite3* db, const QByteArray& recoveryText) {
    initSodium();
    const QByteArray hex = recoveryText.trimmed();
    Secret key(kKeyBytes);
    std::size_t n = 0;
    if (sodium_hex2bin(key.data(), kKeyBytes, hex.constData(), std::size_t(hex.size()), nullptr, &n,
                       nullptr) != 0 ||
        n != kKeyBytes)
        return std::nullopt;
    return openSecret(key.data(), setting(db, "recovery"), bound("recovery", "", ""));
}

void grantAdmin(sqlite3* db, const QString& user, const Secret& dataKey, const Secret& adminKey) {
    Stmt put(db, "insert or replace into JR_admin(B_user,wrapped) values(?,?)");
    put.text(1, user).bind(2, sealSecret(dataKey.data(), adminKey, bound("admin", "", fold(user))));
    put.step();
}

void revokeAdmin(sqlite3* db, const QString& user) {
    Stmt del(db, "delete from JR_admin where B_user=?");
    del.text(1, user);
    del.step();
}

} // namespace vault
