#include "vault/Login.h"

#include "vault/KeyRing.h"
#include "vault/Keys.h"

#include <optional>

namespace vault {

Secret currentKey(EntryStore& store, const QString& user, Unwrapped key, const Secret& wrap,
                  const Secret* adminSecret, const Progress& progress) {
    std::optional<Secret> next = pendingKey(store, user, wrap);
    // A revoke came half way through a re-key: it is finished first, to the key it was made
    // for, and that key is then replaced as any made for an older administrator key.
    if (auto older = next ? std::nullopt : olderPendingKey(store, user, wrap)) {
        finishRekey(store, user, {&key.key}, older->key.key, wrap, nullptr, progress,
                    &older->record);
        key = std::move(older->key);
    }
    if (next) {
        finishRekey(store, user, {&key.key}, *next, wrap, adminSecret, progress);
    } else {
        if (!key.adminPublic.empty() && key.adminPublic == store.adminPublic())
            return std::move(key.key);
        next = replaceUserKey(store, user, key.key, wrap, adminSecret, progress);
    }
    store.settle();
    return std::move(*next);
}

QString loginRefusal(const ado::Error& e) {
    if (e.kind() == ado::Failure::KeyMismatch || e.kind() == ado::Failure::ForeignObject)
        throw e;
    return QStringLiteral("登录时无法更新你的密钥，请稍后再试（%1）").arg(e.userText());
}

QString settleKeys(EntryStore& store, KeyRing& ring, const QString& user, Unwrapped key,
                   const Secret& wrap, bool admin, const Progress& progress) {
    std::optional<Secret> adminKey;
    Secret dataKey;
    try {
        if (admin)
            adminKey = adminKeyOf(store, user, key.key);
        dataKey = currentKey(store, user, std::move(key), wrap, adminKey ? &*adminKey : nullptr,
                             progress);
        repairEscrow(store, user, dataKey);
    } catch (const ado::Error& e) {
        return loginRefusal(e);
    }
    if (adminKey)
        ring.keepAdminKey(std::move(*adminKey));
    ring.keepUserKey(user, dataKey.copy());
    // Best effort: rows left plain stay vouched for, and are sealed with the right key or not
    // at all.
    try {
        if (sealVouchedPlainRows(store, user, dataKey, progress) > 0)
            store.settle();
    } catch (const ado::Error&) {
    }
    return QString();
}

} // namespace vault
