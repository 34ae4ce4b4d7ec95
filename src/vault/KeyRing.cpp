#include "vault/KeyRing.h"

#include "vault/KeyStore.h"

namespace vault {

void KeyRing::clear() {
    installation_.clear();
    keys_.clear();
    missing_.clear();
    pending_.clear();
    noPending_.clear();
    admin_ = Secret();
    serverName_.clear();
    serverPassword_ = Secret();
    titles_.clear();
    contents_.clear();
}

void KeyRing::keepServerLogin(const QString& name, Secret password) {
    serverName_ = name;
    serverPassword_ = std::move(password);
}

void KeyRing::bindTo(const Bytes& adminPublic) {
    if (installation_ != adminPublic) {
        clear();
        installation_ = adminPublic;
    }
}

void KeyRing::keepUserKey(const QString& writer, Secret key) {
    const Bytes w = fold(writer);
    missing_.erase(w);
    keys_.insert_or_assign(w, std::move(key));
}

bool KeyRing::keepAdminKey(Secret adminSecret) {
    if (installation_.empty() || publicOf(adminSecret) != installation_)
        return false;
    admin_ = std::move(adminSecret);
    missing_.clear();
    return true;
}

const Secret* KeyRing::keyFor(const QString& writer, KeyStore& store) {
    const Bytes w = fold(writer);
    if (auto it = keys_.find(w); it != keys_.end())
        return &it->second;
    if (admin_.empty() || missing_.count(w))
        return nullptr;
    std::optional<Secret> key;
    if (const auto record = store.userKey(writer))
        key = openEscrow(record->escrow, w, admin_);
    if (!key) {
        missing_.insert(w);
        return nullptr;
    }
    return &keys_.emplace(w, std::move(*key)).first->second;
}

const Secret* KeyRing::ownKey(const QString& writer) const {
    const auto it = keys_.find(fold(writer));
    return it == keys_.end() ? nullptr : &it->second;
}

const Secret* KeyRing::pendingKeyFor(const QString& writer, KeyStore& store) {
    const Bytes w = fold(writer);
    if (auto it = pending_.find(w); it != pending_.end())
        return &it->second;
    if (admin_.empty() || noPending_.count(w))
        return nullptr;
    noPending_.insert(w);
    const auto record = store.pendingKey(writer);
    auto key = record ? openEscrow(record->escrow, w, admin_) : std::nullopt;
    // Only an escrow made for the pinned key: anyone can seal one to it.
    if (!key || record->escrow != escrowOf(*key, w, installation_))
        return nullptr;
    noPending_.erase(w);
    return &pending_.emplace(w, std::move(*key)).first->second;
}

} // namespace vault
