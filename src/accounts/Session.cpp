#include "accounts/Session.h"

#include "data/ado.h"
#include "data/statements.h"

namespace accounts {
namespace {

template <class F> void inTransaction(ado::Connection& c, F work) {
    c.Execute(QStringLiteral("begin immediate"));
    try {
        work();
        c.Execute(QStringLiteral("commit"));
    } catch (...) {
        try {
            c.Execute(QStringLiteral("rollback"));
        } catch (const ado::Error&) {
        }
        throw;
    }
}

void checkpoint(ado::Connection& c) {
    c.Execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}

} // namespace

std::optional<vault::Secret> dataKeyOf(ado::Connection& c, const QString& name,
                                       const Unlocked& check) {
    if (check.wrap.empty())
        return std::nullopt;
    return vault::unwrapUserKey(c.handle(), name, check.wrap);
}

void startSession(ado::Connection& c, const QString& user, const QString& password,
                  const QString& stored, const Unlocked& check, bool admin) {
    vault::forget();
    try {
        sqlite3* db = c.handle();
        if (!vault::enabled(db)) {
            // A file from before keys: the password at least is kept as a hash.
            if (!isHash(stored)) {
                // By its stored name: normalised again, " bob" would be "bob".
                c.Execute(sql::updatePassword(hashPassword(password), sql::quote(user)));
                checkpoint(c); // the page that held the text leaves the log
            }
            return;
        }
        std::optional<vault::Secret> key = dataKeyOf(c, user, check);
        if (!key && !vault::hasUserKey(db, user)) {
            // An older record, or an account from before keys: ours, with a new data key.
            auto [record, wrap] = newRecord(password);
            inTransaction(c, [&] {
                c.Execute(sql::updatePassword(record, sql::quote(user)));
                key = vault::createUserKey(db, user, wrap);
            });
            checkpoint(c);
        }
        if (!key)
            return;
        if (admin)
            if (auto a = vault::adminKeyOf(db, user, *key))
                vault::keepAdminKey(db, std::move(*a));
        vault::keepUserKey(db, user, std::move(*key));
        sealPlainEntries(c, user);
    } catch (const ado::Error&) {
        // Read-only or busy: entries stay as they are until a later login.
    }
}

void sealPlainEntries(ado::Connection& c, const QString& writer) {
    long long n = 0;
    inTransaction(c, [&] {
        n = c.Execute(
            QStringLiteral("update JR_content set B_title=B_title,B_weather=B_weather,"
                           "B_content=B_content where B_writer='") +
            sql::quote(writer) +
            QStringLiteral("' and typeof(B_title)<>'blob' and typeof(B_weather)<>'blob' and "
                           "typeof(B_content)<>'blob' and (typeof(B_title)='text' or "
                           "typeof(B_weather)='text' or typeof(B_content)='text')"));
    });
    if (n > 0)
        checkpoint(c);
}

void addUser(ado::Connection& c, const QString& name, const QString& password) {
    sqlite3* db = c.handle();
    if (!vault::enabled(db)) {
        c.Execute(sql::insertUser(name, hashPassword(password)));
        return;
    }
    auto [record, wrap] = newRecord(password);
    inTransaction(c, [&] {
        c.Execute(sql::insertUser(name, record));
        vault::createUserKey(db, name, wrap);
    });
}

void setPassword(ado::Connection& c, const QString& name, const QString& password,
                 const vault::Secret* dataKey) {
    sqlite3* db = c.handle();
    if (!vault::enabled(db)) {
        c.Execute(sql::updatePassword(hashPassword(password), name));
        return;
    }
    auto [record, wrap] = newRecord(password);
    inTransaction(c, [&] {
        c.Execute(sql::updatePassword(record, name));
        if (dataKey)
            vault::rewrapUserKey(db, name, *dataKey, wrap);
        else if (!vault::hasUserKey(db, name))
            vault::createUserKey(db, name, wrap);
    });
}

} // namespace accounts
