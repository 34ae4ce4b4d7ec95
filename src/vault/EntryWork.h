#pragma once
// The sealing of an entry's fields: each with its writer's data key, bound to its row, column
// and time; what a row read whole gives back opened.
#include "vault/Cipher.h"
#include "vault/EntryStore.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace vault {

class KeyRing;

class EntryWork {
public:
    // `ring` holds the session's keys; without one nothing opens and nothing is sealed.
    EntryWork(EntryStore& store, KeyRing* ring) : store_(store), ring_(ring) {}

    // The writer's data key, when the session holds it for this installation.
    const Secret* keyFor(const QString& writer);
    // The key to seal a new text with; refuses when there is none, or its record is gone.
    const Secret& keyToSeal(const QString& writer);
    // A field sealed at its place, as the store keeps it.
    QVariant seal(const QVariant& plain, const FieldPlace& at);
    // A stored field as the windows show it, and whether it opened.
    QVariant open(const QVariant& stored, const FieldPlace& at, bool& ok);
    // Opens the sealed fields of a row read whole; false when one did not open.
    bool openRow(const QStringList& names, std::vector<QVariant>& values);
    // Refuses the deletion of a row whose writer's key the session does not hold.
    void checkDeletable(const QString& writer);
    // Refuses a change to a row whose stored texts do not open: they would be lost.
    [[noreturn]] void refuseUnopened() const;
    [[noreturn]] void refuseNoKey() const;

    // `at` with the column named as the sealed columns spell it.
    static FieldPlace placeOf(FieldPlace at, const QString& column);

private:
    bool plainRowVouched(long long id);
    // Asked of the store once per piece of work, not once per field.
    KeyStore& keys() { return keys_ ? *keys_ : *(keys_ = &store_.keyStore()); }

    EntryStore& store_;
    KeyRing* ring_;
    KeyStore* keys_ = nullptr;
};

} // namespace vault
