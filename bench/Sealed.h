#pragma once
// What the benchmarks store entries through: databases made by the program, each alone in its
// folder (the pinned key goes beside it), users with data keys, and entries sealed by the data
// layer the way a save seals them. A row written around the program would read as damaged.
#include "accounts/Password.h"
#include "accounts/Session.h"
#include "data/ado.h"
#include "data/statements.h"
#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"
#include "vault/Pinned.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace bench {

inline QString passwordOf(const QString& name) {
    return name + QStringLiteral("-bench-pw");
}

inline void openOn(ado::Connection& c, const QString& path, vault::KeyRing* ring = nullptr) {
    c.ConnectionString = QStringLiteral("data source=") + path;
    c.keys = ring;
    c.Open();
}

// A database file made by the program as `init` makes it, alone in `folder`. A legacy plain
// file is one from before keys: no key tables, no pinned key, every entry stored as text.
struct Database {
    QString path;
    QByteArray recovery; // empty for a legacy plain file

    explicit Database(const QString& folder, bool legacyPlain = false,
                      const QString& name = QStringLiteral("data.mdb")) {
        QDir().mkpath(folder);
        path = QDir(folder).filePath(name);
        recovery = ado::createDatabase(path);
        if (!legacyPlain)
            return;
        {
            ado::Connection c;
            c.ConnectionString = QStringLiteral("data source=") + path;
            c.requirePinnedKey = false;
            c.Open();
            for (const char* table : {"JR_vault", "JR_key", "JR_admin", "JR_plain"})
                c.Execute(QStringLiteral("drop table if exists ") + QLatin1String(table));
        }
        QFile::remove(vault::adminPubPath(path));
        recovery.clear();
    }
    bool sealed() const { return !recovery.isEmpty(); }

    // A connection whose ring holds the administrator key, so it seals and opens the entries
    // of every writer (each key from its escrow), as the tool's administrator does.
    void openAsAdministrator(ado::Connection& c, vault::KeyRing& ring) const {
        openOn(c, path, &ring);
        if (!c.sealed())
            return;
        ring.bindTo(c.adminPublic());
        const auto admin = vault::adminKeyFromRecovery(c.keyStore(), recovery);
        if (!admin || !ring.keepAdminKey(admin->copy()))
            fail("the recovery key does not open the administrator key");
    }

    // A user as registration adds him (a record and a data key); one with permission 1 is
    // granted the administrator key, as `grant` does.
    void addUser(const QString& name, bool admin = false) const {
        ado::Connection c;
        vault::KeyRing ring;
        openAsAdministrator(c, ring);
        accounts::addUser(c, name, passwordOf(name));
        if (!admin)
            return;
        c.Execute(sql::setPopedom(name, 1));
        if (!c.sealed())
            return;
        const auto key =
            accounts::dataKeyOf(c, name, accounts::unlock(passwordOf(name), stored(c, name)));
        if (!key)
            fail("a new user's key does not open");
        vault::grantAdmin(c.keyStore(), name, key->key, ring.adminKey());
    }

    // Logs `name` in on `c` as the login window does: his keys (and the administrator key
    // when `admin`) kept in `ring`, which `c` then uses.
    void logIn(ado::Connection& c, vault::KeyRing& ring, const QString& name,
               bool admin = false) const {
        openOn(c, path, &ring);
        const QString record = stored(c, name);
        const QString pw = passwordOf(name);
        const QString refused =
            accounts::startSession(c, ring, name, pw, record, accounts::unlock(pw, record), admin);
        if (!refused.isEmpty())
            fail("the login was refused");
    }

    static QString stored(ado::Connection& c, const QString& name) {
        ado::Recordset rs;
        rs.Open(sql::userQuery(name), c);
        return rs.Fields(QStringLiteral("B_password")).toString();
    }
    [[noreturn]] static void fail(const char* what) {
        std::fprintf(stderr, "%s\n", what);
        std::exit(1);
    }
};

// Entries inserted through the data layer with their ID and time given, as a save inserts
// them (row, time read back, texts sealed), many to a transaction of ours.
class Filler {
public:
    explicit Filler(const Database& db, int perTransaction = 20000) : per_(perTransaction) {
        db.openAsAdministrator(c_, ring_);
    }
    ~Filler() { commit(); }
    Filler(const Filler&) = delete;
    Filler& operator=(const Filler&) = delete;

    void add(qint64 id, const QString& title, const QString& weather, const QString& content,
             const QString& writer, const QString& time) {
        if (pending_ == 0)
            c_.BeginTrans();
        sql::Statement s{QStringLiteral("insert into JR_content(ID,B_title,B_weather,B_content,"
                                        "B_writer,B_time) values(?,?,?,?,?,?)"),
                         {{QStringLiteral("ID"), QVariant::fromValue(id)},
                          {QStringLiteral("B_title"), title},
                          {QStringLiteral("B_weather"), weather},
                          {QStringLiteral("B_content"), content},
                          {QStringLiteral("B_writer"), writer},
                          {QStringLiteral("B_time"), time}}};
        s.entry = sql::Statement::Entry::Insert;
        c_.Execute(s);
        if (++pending_ >= per_)
            commit();
    }
    void commit() {
        if (pending_ == 0)
            return;
        c_.CommitTrans();
        pending_ = 0;
    }

private:
    ado::Connection c_;
    vault::KeyRing ring_;
    int per_;
    int pending_ = 0;
};

// A realistic entry: a Chinese title of 8 to 20 characters (every hundredth holds "灯塔"),
// a text of `minChars` to `maxChars` characters, both varying with `i`.
inline QString titleOf(long long i) {
    static const QString words = QStringLiteral("清晨河边散步读书写信做饭看雨听风想起老朋友的来信");
    QString t = i % 100 == 0 ? QStringLiteral("灯塔") : QString();
    const int length = 8 + int(i * 7 % 13);
    for (unsigned long long k = std::uint64_t(i); t.size() < length - 1; k = k * 31 + 7)
        t += words[qsizetype(k % std::uint64_t(words.size()))];
    return t + QStringLiteral("记");
}

inline QString contentOf(long long i, int minChars = 200, int maxChars = 2000) {
    static const QString base = QStringLiteral(
        "今天早上七点起床，先去河边跑步，然后读了一会儿书。中午和同事一起吃饭，聊到旅行的计划。"
        "下午的会议很长，窗外一直在下雨。晚上给家里打了电话，妈妈说院子里的花都开了。");
    const int length = minChars + int(i * 7919 % (maxChars - minChars + 1));
    QString t = QStringLiteral("第%1篇。").arg(i);
    while (t.size() < length)
        t += base;
    t.truncate(length);
    return t;
}

} // namespace bench
