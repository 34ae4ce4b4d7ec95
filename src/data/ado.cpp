#include "data/ado.h"

#include "data/entries.h"
#include "data/factory.h"
#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"
#include "vault/Pinned.h"

#include <QFile>
#include <algorithm>
#include <sodium.h>
#include <sys/stat.h>

namespace ado {

static int busyTimeoutMs = 5000;

void setBusyTimeout(int ms) {
    busyTimeoutMs = ms;
}

int busyTimeout() {
    return busyTimeoutMs;
}

namespace {

QByteArray secretText(const vault::Secret& s) {
    return QByteArray(reinterpret_cast<const char*>(s.data()), qsizetype(s.size()));
}

} // namespace

// ---- Connection ----

Connection::~Connection() {
    Close();
}

void Connection::Open() {
    if (opened_)
        throw Error(Failure::Misuse, QStringLiteral("connection is already open"), 0, path_);
    const StoreTarget target = targetOf(ConnectionString);
    server_ = target.server;
    owner_ = target.owner;
    conninfo_ = target.conninfo;
    path_ = target.file;
    if (!server_ && path_.isEmpty())
        throw Error(Failure::CannotOpen, QStringLiteral("no data source in the connection string"),
                    0, path_);
    openEngine();
    opened_ = true;
}

void Connection::openEngine(bool sameServer) {
    QString user;
    QByteArray password;
    if (server_ && !loginName_.isEmpty()) {
        user = loginName_;
        password = secretText(loginPassword_);
    } else if (server_ && keys && !keys->serverName().isEmpty()) {
        user = keys->serverName();
        password = secretText(keys->serverPassword());
    }
    const StoreTarget target{server_, path_, conninfo_, owner_};
    try {
        engine_ = ado::openEngine(target, user, password, busyTimeoutMs);
    } catch (...) {
        sodium_memzero(password.data(), std::size_t(password.size()));
        throw;
    }
    sodium_memzero(password.data(), std::size_t(password.size()));
    const QByteArray identity = engine_->identity();
    if (!identity_.isEmpty() && identity != identity_)
        ++generation_;
    identity_ = identity;
    // A login connects again to the server the guest's connection checked a moment ago.
    const bool checked = server_ && sameServer && !adminPublic_.empty() && pin_ == pinNow();
    try {
        if (!checked)
            checkStore(nullptr);
    } catch (...) {
        dropEngine();
        throw;
    }
    stale_ = false;
}

// Refuses (or, for a report, lists) what the file holds that the program did not make, and
// a key the pinned one does not vouch for.
void Connection::checkStore(QStringList* problems) {
    const auto problem = [&](const QString& text, int code) {
        if (problems)
            problems->append(text);
        else
            throw Error(text, code, path_);
    };
    sealed_ = false;
    adminPublic_.clear();
    signingPublic_.clear();
    pin_ = pinNow();
    // Asks the connection for its engine at each call: one for the connection's life, so
    // the vault may hold it through a piece of work while the engine is opened again.
    if (!store_)
        store_ = makeKeyStore(*this);
    const SchemaReport schema = engine_->inspectSchema();
    if (schema.tables == 0)
        return; // later statements report what is missing; nothing is written
    if (problems)
        for (const QString& object : schema.unknown)
            problems->append(QStringLiteral("数据库中有不明的对象：%1").arg(object));
    else if (refuseUnknownObjects && !schema.unknown.isEmpty())
        problem(QStringLiteral("数据库中有不明的对象：%1，已拒绝打开")
                    .arg(schema.unknown.join(QStringLiteral("、"))),
                kUnknownObject);
    if (schema.outdated && requirePinnedKey)
        problem(QStringLiteral("数据库服务器上的日记是旧版本：请管理员运行 dayvault-admin upgrade"),
                kServerError);
    engine_->startUse();
    std::optional<vault::Bytes> pinned;
    try {
        pinned = vault::readPinned(vault::adminPubPath(path_), vault::kPublicBytes);
    } catch (const Error& e) {
        problem(e.message(), e.code());
    }
    vault::Bytes stored;
    if (schema.vaultTable) {
        Stmt st(engine_.get(), QStringLiteral("select value from JR_vault where name='public'"));
        if (st.step())
            stored = vault::bytes(st.value(0).toByteArray());
    }
    const bool matches = pinned && stored == *pinned;
    sealed_ = pinned || schema.keyTables;
    adminPublic_ = matches ? *pinned : vault::Bytes();
    if (matches)
        signingPublic_ = vault::readPinned(vault::upgradePubPath(path_), vault::kSignPublicBytes)
                             .value_or(vault::Bytes());
    if (!requirePinnedKey && !problems)
        return;
    if (pinned && !matches)
        problem(QStringLiteral("数据库中的管理员公钥与本机保存的（%1）不符，已拒绝打开")
                    .arg(vault::adminPubPath(path_)),
                kKeyMismatch);
    else if (!pinned && schema.keyTables)
        // A client of a server gets its copy from the server; a file is pinned by the upgrade.
        problem((server_ ? QStringLiteral("缺少管理员公钥文件 %1，已拒绝连接：请从服务器复制 "
                                          "admin.pub 到这里")
                         : QStringLiteral("缺少管理员公钥文件 %1，已拒绝打开：请运行 "
                                          "dayvault-admin upgrade"))
                    .arg(vault::adminPubPath(path_)),
                kKeyMismatch);
}

bool Connection::vouchFor(const vault::Bytes& adminPublic) {
    Stmt st(usable(), QStringLiteral("select value from JR_vault where name='public'"));
    if (adminPublic.empty() || !st.step() || vault::bytes(st.value(0).toByteArray()) != adminPublic)
        return false;
    adminPublic_ = adminPublic;
    return true;
}

QStringList Connection::problems() {
    QStringList out;
    usable();
    checkStore(&out);
    return out;
}

vault::KeyStore& Connection::keyStore() {
    usable();
    return *store_;
}

void Connection::dropEngine() {
    sealedUpdate_.reset();
    engine_.reset();
}

std::tuple<unsigned long long, unsigned long long, long long> Connection::pinNow() const {
    struct stat st {};
    if (::stat(QFile::encodeName(vault::adminPubPath(path_)).constData(), &st) != 0)
        return {};
    return {st.st_dev, st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

bool Connection::hasTable(const QString& lowerName) {
    return !rows({usable()->text(Text::HasTable), {{{}, lowerName}}}).empty();
}

void Connection::markCurrent() {
    if (const QString mark = usable()->text(Text::MarkCurrent); !mark.isEmpty())
        Execute(mark);
}

Engine* Connection::usable() {
    if (!opened_)
        throw Error(Failure::Misuse, QStringLiteral("connection is closed"), 0, path_);
    // Never inside a transaction: the work in it would be lost with the engine.
    if (engine_ && !engine_->inTransaction() && pin_ != pinNow())
        stale_ = true;
    if (server_) {
        // A broken connection is made again by the next action: a restarted server, say.
        if (!engine_ || stale_ || engine_->mustReopen()) {
            dropEngine();
            // The login window's connection starts from the guest again: the user it logged
            // in last may have another password by now, or no account.
            loginName_.clear();
            loginPassword_ = vault::Secret();
            openEngine();
        }
        return engine_.get();
    }
    // Without this an edit would go to a file that is no longer the diary.
    const QByteArray now = engine_ ? engine_->identity() : QByteArray();
    if (engine_ && !stale_ && !engine_->mustReopen() && now == identity_)
        return engine_.get();
    if (engine_ && now != identity_) {
        // Gone or replaced: once the engine lets go of the file, a new file at the path may
        // be given its inode number, and would then pass for the file the results came from.
        ++generation_;
        identity_.clear();
    }
    dropEngine();
    openEngine();
    return engine_.get();
}

ServerWork& Connection::serverWork() {
    ServerWork* work = usable()->server();
    if (!work)
        throw Error(Failure::Misuse, QStringLiteral("not a server"), 0, path_);
    return *work;
}

void Connection::Close() {
    // Closing a connection closes the record sets still open on it.
    while (!sets_.empty())
        sets_.back()->Close();
    dropEngine();
    opened_ = false;
    stale_ = false;
    loginName_.clear();
    loginPassword_ = vault::Secret();
}

void Connection::logOut() {
    if (loginName_.isEmpty())
        return;
    loginName_.clear();
    loginPassword_ = vault::Secret();
    dropEngine();
}

long long Connection::storeSealed(const vault::EntryRow& row, const std::vector<QVariant>& values) {
    return EntryStatements(*this, usable()).storeSealed(row, values);
}

std::vector<vault::EntryRow> Connection::entryRowsAfter(const QString& writer, long long after,
                                                        int limit, bool signedOnly) {
    return rows(sql::entryRowsAfter(writer, after, limit, signedOnly));
}

long long Connection::entryCount(const QString& writer, bool signedOnly) {
    const auto n = rows(sql::entryCount(writer, signedOnly));
    return n.empty() ? 0 : n[0][0].toLongLong();
}

std::optional<vault::EntryRow> Connection::entryRow(long long id) {
    auto found = rows(sql::entryRow(id));
    if (found.empty())
        return std::nullopt;
    return std::move(found[0]);
}

void Connection::BeginTrans() {
    usable()->begin();
}

void Connection::CommitTrans() {
    usable()->commit();
}

void Connection::RollbackTrans() {
    usable()->rollback();
}

void Connection::inTransaction(const std::function<void()>& work) {
    BeginTrans();
    try {
        work();
        CommitTrans();
    } catch (...) {
        try {
            RollbackTrans();
        } catch (const Error&) {
        }
        throw;
    }
}

void Connection::settle() {
    try {
        usable()->settle();
    } catch (const Error&) {
    }
}

long long Connection::Execute(const sql::Statement& statement) {
    Engine* db = usable();
    if (statement.entry != sql::Statement::Entry::None)
        return EntryStatements(*this, db).execute(statement);
    Stmt st(db, statement.text);
    st.bindAll(statement.params);
    while (st.step()) {
    }
    return db->changes();
}

std::vector<std::vector<QVariant>> Connection::rows(const sql::Statement& statement) {
    Stmt st(usable(), statement.text);
    st.bindAll(statement.params);
    std::vector<std::vector<QVariant>> out;
    while (st.step())
        out.push_back(st.row());
    return out;
}

// ---- on a server ----

void Connection::logIn(const QString& name, const vault::Secret& password) {
    if (!server_)
        return;
    loginName_ = name;
    loginPassword_ = password.copy();
    dropEngine();
    try {
        openEngine(true);
    } catch (...) {
        // Back to the guest, so the next try starts where this one did.
        loginName_.clear();
        loginPassword_ = vault::Secret();
        try {
            openEngine();
        } catch (const Error&) {
        }
        throw;
    }
}

void Connection::registerUser(const QString& name, const QString& publicRecord,
                              const vault::Secret& password, const vault::UserKeyRecord& record) {
    serverWork().registerUser(name, publicRecord, secretText(password),
                              vault::qbytes(record.wrapped), vault::qbytes(record.escrow));
}

void Connection::setServerPassword(const QString& name, const QString& publicRecord,
                                   const vault::Secret& password) {
    const bool asUser = !loginName_.isEmpty() || (keys && !keys->serverName().isEmpty());
    serverWork().setPassword(name, publicRecord, secretText(password), asUser);
}

void Connection::addServerRole(const QString& name, const vault::Secret& password) {
    serverWork().addRole(name, secretText(password));
}

void Connection::setServerAdmin(const QString& name, bool admin) {
    if (server_)
        serverWork().setAdmin(name, admin);
}

// ---- Recordset ----

Recordset::~Recordset() {
    Close();
}

void Recordset::Close() {
    if (conn_)
        std::erase(conn_->sets_, this);
    conn_ = nullptr;
    keys_.clear();
    keys_.shrink_to_fit();
    rows_.clear();
    names_.clear();
    values_.clear();
    pos_ = 0;
    keyed_ = false;
    opened_ = true;
}

void Recordset::Open(const sql::Statement& statement, Connection& connection) {
    if (conn_)
        throw Error(Failure::Misuse, QStringLiteral("record set is already open"), 0,
                    connection.file());
    Engine* db = connection.usable();
    std::vector<std::int64_t> keys;
    std::vector<std::vector<QVariant>> rows;
    QStringList names;
    keyed_ = !statement.keysOf.isEmpty();
    if (!statement.titleLike.isEmpty() || !statement.contentLike.isEmpty()) {
        keys = EntryStatements(connection, db).titleKeys(statement);
    } else {
        Stmt st(db, statement.text);
        st.bindAll(statement.params);
        if (!keyed_)
            for (int i = 0; i < st.columns(); ++i)
                names << st.name(i);
        while (st.step()) {
            if (keyed_) {
                keys.push_back(st.value(0).toLongLong());
            } else {
                keys.push_back(std::int64_t(rows.size()));
                rows.push_back(st.row());
            }
        }
    }
    keys_ = std::move(keys);
    keys_.shrink_to_fit();
    rows_ = std::move(rows);
    names_ = names;
    table_ = statement.keysOf;
    conn_ = &connection;
    generation_ = connection.generation_;
    connection.sets_.push_back(this);
    moveTo(keys_.empty() ? 0 : 1);
}

bool Recordset::bof() const {
    return !conn_ || keys_.empty() || pos_ <= 0;
}
bool Recordset::eof() const {
    return !conn_ || keys_.empty() || pos_ > std::int64_t(keys_.size());
}
int Recordset::RecordCount() const {
    return conn_ ? int(keys_.size()) : -1;
}
int Recordset::AbsolutePosition() const {
    if (bof())
        return adPosBOF;
    if (eof())
        return adPosEOF;
    return int(pos_);
}

void Recordset::moveTo(std::int64_t pos) {
    const auto n = std::int64_t(keys_.size());
    pos_ = std::clamp<std::int64_t>(pos, 0, n + 1);
    readCurrent();
}

void Recordset::MoveFirst() {
    if (conn_ && !keys_.empty())
        moveTo(1);
}
void Recordset::MoveLast() {
    if (conn_ && !keys_.empty())
        moveTo(std::int64_t(keys_.size()));
}
void Recordset::MoveNext() {
    if (conn_ && !eof())
        moveTo(pos_ + 1);
}
void Recordset::MovePrevious() {
    if (conn_ && !bof())
        moveTo(pos_ - 1);
}

// A row is read when the cursor reaches it, so an entry changed since the search shows
// its current texts, and a long result costs only its keys.
void Recordset::readCurrent() {
    values_.clear();
    opened_ = true;
    if (!conn_ || bof() || eof())
        return;
    const std::int64_t key = keys_[std::size_t(pos_ - 1)];
    if (!keyed_) {
        values_ = rows_[std::size_t(key)];
        return;
    }
    Engine* db = onSameFile();
    Stmt st(db, QStringLiteral("select * from ") + table_ + QStringLiteral(" where ID=?"));
    st.bind(1, QVariant::fromValue<qint64>(key));
    if (names_.isEmpty())
        for (int i = 0; i < st.columns(); ++i)
            names_ << st.name(i);
    if (st.step()) {
        values_ = st.row();
        opened_ = EntryStatements(*conn_, db).openRow(names_, values_);
    }
}

// The keys name rows of the file the search ran on; in another file they are other rows.
Engine* Recordset::onSameFile() {
    Engine* db = conn_->usable();
    if (conn_->generation_ == generation_)
        return db;
    const QString file = conn_->file();
    Close();
    throw Error(QStringLiteral("数据库文件已更换，请重新查询"), kFileReplaced, file);
}

long long Recordset::Execute(const sql::Statement& statement) {
    if (!conn_)
        throw Error(Failure::Misuse, QStringLiteral("record set is closed"), 0, QString());
    onSameFile();
    return conn_->Execute(statement);
}

QVariant Recordset::Fields(const QString& name) const {
    for (qsizetype i = 0; i < names_.size() && std::size_t(i) < values_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return values_[std::size_t(i)];
    return QVariant();
}

// ---- creation and copies (the admin tool only) ----

void backupDatabase(const QString& path, const QString& out) {
    backupFile(path, out, busyTimeoutMs);
}

QByteArray createDatabase(const QString& path) {
    createFile(path);
    try {
        Connection c;
        c.ConnectionString = QStringLiteral("data source=") + path;
        c.requirePinnedKey = false;
        c.Open();
        vault::Installation keys;
        c.inTransaction([&] { keys = vault::newInstallation(c.keyStore()); });
        c.Close();
        vault::writePinned(vault::adminPubPath(path), keys.adminPublic);
        return keys.recoveryText;
    } catch (...) {
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
        throw;
    }
}

void createServerTables(Connection& owner) {
    owner.serverWork().createTables();
}

QByteArray initServer(Connection& owner) {
    createServerTables(owner);
    vault::Installation keys;
    owner.inTransaction([&] { keys = vault::newInstallation(owner.keyStore()); });
    vault::writePinned(vault::adminPubPath(owner.file()), keys.adminPublic);
    return keys.recoveryText;
}

bool upgradeServer(Connection& owner) {
    return owner.serverWork().upgrade();
}

void backupServer(Connection& owner, const QString& out) {
    owner.serverWork().backup(out);
}

} // namespace ado
