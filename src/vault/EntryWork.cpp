#include "vault/EntryWork.h"

#include "base/Error.h"
#include "vault/KeyRing.h"
#include "vault/KeyStore.h"
#include "vault/Keys.h"

#include <sodium.h>

namespace vault {
namespace {

const char* const kNoKeyToSave = "没有这位作者的密钥，无法保存这篇日记";
const char* const kCannotOpen = "这篇日记无法解密，不能保存修改";
const char* const kNoKeyToDelete = "没有这篇日记的密钥，不能删除";

[[noreturn]] void refuse(const char* text, const EntryStore& store) {
    throw ado::Error(QString::fromUtf8(text), ado::kRefused, store.file());
}

qsizetype indexOf(const QStringList& names, const QString& name) {
    for (qsizetype i = 0; i < names.size(); ++i)
        if (names[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

} // namespace

const QStringList& sealedColumns() {
    static const QStringList c = {QStringLiteral("B_title"), QStringLiteral("B_weather"),
                                  QStringLiteral("B_content")};
    return c;
}

const QStringList& entryRowColumns() {
    static const QStringList c = QStringList{QStringLiteral("ID")} + sealedColumns() +
                                 QStringList{QStringLiteral("B_writer"), QStringLiteral("B_time")};
    return c;
}

const Secret* EntryWork::keyFor(const QString& writer) {
    if (!ring_ || ring_->installation().empty() || ring_->installation() != store_.adminPublic())
        return nullptr;
    return ring_->keyFor(writer, keys());
}

const Secret& EntryWork::keyToSeal(const QString& writer) {
    // A key whose record is gone would be kept in memory only, and its entries lost with it.
    const Secret* key = keyFor(writer);
    if (!key || !keys().userKey(writer))
        refuse(kNoKeyToSave, store_);
    return *key;
}

void EntryWork::checkDeletable(const QString& writer) {
    if (!keyFor(writer))
        refuse(kNoKeyToDelete, store_);
}

void EntryWork::refuseUnopened() const {
    refuse(kCannotOpen, store_);
}

void EntryWork::refuseNoKey() const {
    refuse(kNoKeyToSave, store_);
}

QVariant EntryWork::seal(const QVariant& plain, const FieldPlace& at) {
    // Callers asked keyToSeal() first; the record is not read again for every field.
    const Secret* key = keyFor(at.writer);
    if (!key)
        refuse(kNoKeyToSave, store_);
    const QByteArray text = plain.toString().toUtf8();
    return qbytes(sealField(*key, view(text), at));
}

FieldPlace EntryWork::placeOf(FieldPlace at, const QString& column) {
    at.column = sealedColumns()[sealedColumns().indexOf(column, Qt::CaseInsensitive)];
    return at;
}

bool EntryWork::plainRowVouched(long long id) {
    if (store_.signingPublic().empty())
        return false;
    const auto signature = keys().plainSignature(id);
    if (!signature)
        return false;
    const auto stored = store_.entryRow(id);
    const auto row = stored ? plainRow(*stored) : std::nullopt;
    return row && verifyPlainRow(store_.signingPublic(), *signature, *row);
}

QVariant EntryWork::open(const QVariant& stored, const FieldPlace& at, bool& ok) {
    ok = true;
    if (stored.isNull())
        return stored;
    if (stored.typeId() != QMetaType::QByteArray) {
        // Plain text in a store with keys is what a neighbour planted, unless the upgrade
        // that found it there signed it.
        if (!store_.sealed() || plainRowVouched(at.id))
            return stored;
        ok = false;
        return damagedText();
    }
    const Secret* key = keyFor(at.writer);
    if (!key) {
        ok = false;
        return noKeyText();
    }
    auto plain = openField(*key, view(stored.toByteArray()), at);
    // Half way through a re-key cut off, his entries open under one key or the next.
    if (const Secret* next = plain || !ring_ ? nullptr : ring_->pendingKeyFor(at.writer, keys()))
        plain = openField(*next, view(stored.toByteArray()), at);
    if (!plain) {
        ok = false;
        return damagedText();
    }
    const QString text = QString::fromUtf8(plain->data(), qsizetype(plain->size()));
    sodium_memzero(plain->data(), plain->size());
    return text;
}

bool EntryWork::openRow(const QStringList& names, std::vector<QVariant>& values) {
    const auto at = [&](const char* name) {
        const qsizetype i = indexOf(names, QLatin1String(name));
        return i >= 0 && std::size_t(i) < values.size() ? values[std::size_t(i)] : QVariant();
    };
    FieldPlace place{QString(), at("B_writer").toString(), at("ID").toLongLong(),
                     at("B_time").toString()};
    bool all = true;
    for (const QString& column : sealedColumns()) {
        const qsizetype i = indexOf(names, column);
        if (i < 0 || std::size_t(i) >= values.size())
            continue;
        place.column = column;
        bool ok = true;
        values[std::size_t(i)] = open(values[std::size_t(i)], place, ok);
        all = all && ok;
    }
    return all;
}

} // namespace vault
