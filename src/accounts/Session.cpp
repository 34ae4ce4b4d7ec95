#include "accounts/Session.h"

#include "data/ado.h"
#include "data/statements.h"
#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"
#include "vault/Login.h"

#include <functional>

namespace accounts {
namespace {

const char* const kKeyGone = "找不到你的密钥记录，无法登录。请联系管理员。";
const char* const kKeyBroken = "你的密钥记录已损坏或被改动，无法登录。请联系管理员。";
const char* const kOlderRecord =
    "你的密码记录不是本程序写的（可能被人改动过），无法登录。请联系管理员。";

// Best effort: what was committed holds either way, and the log is truncated later.
void checkpoint(ado::Connection& c) {
    c.settle();
}

[[noreturn]] void refuse(const char* text, const ado::Connection& c) {
    throw ado::Error(QString::fromUtf8(text), ado::kRefused, c.file());
}

} // namespace

void inTransaction(ado::Connection& c, const std::function<void()>& work) {
    c.inTransaction(work);
}

std::optional<vault::Unwrapped> dataKeyOf(ado::Connection& c, const QString& name,
                                          const Unlocked& check) {
    if (check.wrap.empty())
        return std::nullopt;
    return vault::openUserKey(c, name, check.wrap);
}

namespace {

// The user's keys after a successful check of a sealed store; why the login cannot go on
// otherwise. Nothing is kept in `ring` but the server login until every key is settled.
QString openKeys(ado::Connection& c, vault::KeyRing& ring, const QString& user,
                 const QString& password, const QString& stored, const Unlocked& check, bool admin,
                 const vault::Progress& progress) {
    ring.bindTo(c.adminPublic());
    vault::checkPinnedKey(c);
    if (c.server())
        ring.keepServerLogin(user, check.server.copy());
    std::optional<vault::Unwrapped> key;
    vault::Secret wrap;
    try {
        const bool hasKeyRow = c.keyStore().userKey(user).has_value();
        if (isRecord(stored) || isPublicRecord(stored)) {
            // Keys are made only with records like this one: a missing or unreadable key is
            // never replaced behind his back.
            if (!hasKeyRow)
                return QString::fromUtf8(kKeyGone);
            key = dataKeyOf(c, user, check);
            if (!key)
                return QString::fromUtf8(kKeyBroken);
            wrap = check.wrap.copy();
        } else if (hasKeyRow) {
            // Every key row came with one of our records: an older one beside it was written
            // by someone else, and a key made for it would take her row.
            return QString::fromUtf8(kOlderRecord);
        } else {
            // An account from before keys: ours, with its first data key.
            auto [record, w] = newRecord(password);
            inTransaction(c, [&] {
                c.Execute(sql::updatePassword(record, user));
                key = vault::Unwrapped{vault::createUserKey(c, user, w), c.adminPublic()};
            });
            checkpoint(c);
            wrap = std::move(w);
        }
    } catch (const ado::Error& e) {
        return vault::loginRefusal(e);
    }
    return vault::settleKeys(c, ring, user, std::move(*key), wrap, admin, progress);
}

} // namespace

QString startSession(ado::Connection& c, vault::KeyRing& ring, const QString& user,
                     const QString& password, const QString& stored, const Unlocked& check,
                     bool admin, const vault::Progress& progress) {
    ring.clear();
    if (!c.sealed()) {
        // A file from before keys: the password at least is kept as a hash, when it can be.
        if (!isHash(stored)) {
            try {
                c.Execute(sql::updatePassword(hashPassword(password), user));
                checkpoint(c); // the page that held the text leaves the log
            } catch (const ado::Error&) {
            }
        }
        return QString();
    }
    QString why;
    try {
        why = openKeys(c, ring, user, password, stored, check, admin, progress);
    } catch (...) {
        ring.clear();
        throw;
    }
    if (!why.isEmpty())
        ring.clear();
    return why;
}

Unlocked checkLogin(ado::Connection& c, const QString& name, const QString& password,
                    const QString& stored, bool known) {
    Unlocked check = unlock(password, stored, known);
    if (!check.ok || !c.server())
        return check;
    if (check.server.empty()) {
        check.ok = false; // a record with a check value on a server was not made by us
        return check;
    }
    try {
        c.logIn(name, check.server);
    } catch (const ado::Error& e) {
        if (e.code() != ado::kServerAuth)
            throw;
        check = Unlocked();
    }
    return check;
}

void addUser(ado::Connection& c, const QString& name, const QString& password) {
    if (c.server()) {
        // " ann " (typed as "' ann '") would log in on the file; the server takes only names
        // the login's normalisation leaves as they are.
        if (normalise(name) != name)
            throw ado::Error(QStringLiteral("用户名的开头和结尾不能有空格，请换一个用户名"),
                             ado::kRefused, c.file());
        auto [record, wrap] = newRecord(password);
        c.registerUser(name, publicRecord(record), serverPassword(record),
                       vault::newUserKeyRecord(c, name, wrap));
        return;
    }
    if (!c.sealed()) {
        c.Execute(sql::insertUser(name, hashPassword(password)));
        return;
    }
    auto [record, wrap] = newRecord(password);
    inTransaction(c, [&] {
        c.Execute(sql::insertUser(name, record));
        vault::createUserKey(c, name, wrap);
    });
}

void setPassword(ado::Connection& c, const QString& name, const QString& password,
                 const std::optional<vault::Unwrapped>& key, const QString& stored,
                 const vault::Secret* pending, const vault::Progress& progress) {
    if (!c.sealed()) {
        c.Execute(sql::updatePassword(hashPassword(password), name));
        return;
    }
    if (!key) {
        const bool ours = isRecord(stored) || isPublicRecord(stored);
        if (c.keyStore().userKey(name))
            refuse(ours ? kKeyBroken : kOlderRecord, c);
        if (ours)
            refuse(kKeyGone, c);
    }
    std::optional<vault::Secret> adminKey;
    if (key)
        adminKey = vault::adminKeyOf(c, name, key->key);
    auto [record, wrap] = newRecord(password);
    vault::Secret next;
    inTransaction(c, [&] {
        if (c.server())
            c.setServerPassword(name, publicRecord(record), serverPassword(record));
        else
            c.Execute(sql::updatePassword(record, name));
        if (key) {
            vault::rewrapUserKey(c, name, *key, wrap);
            next = vault::storePendingKey(c, name, wrap);
        } else {
            vault::createUserKey(c, name, wrap);
        }
    });
    // A new data key: the old record and key row, written back, open nothing once it is done.
    if (key) {
        std::vector<const vault::Secret*> old{&key->key};
        if (pending)
            old.push_back(pending);
        vault::finishRekey(c, name, old, next, wrap, adminKey ? &*adminKey : nullptr, progress);
    }
    checkpoint(c);
}

} // namespace accounts
