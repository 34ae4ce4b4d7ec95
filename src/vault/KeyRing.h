#pragma once
// The keys of one session: the data keys it holds, and the administrator secret key when
// its user is a granted administrator. Owned by whoever logs in (the session, the admin
// tool); wiped when cleared and when destroyed.
#include "vault/Cipher.h"
#include "vault/Titles.h"

#include <QString>
#include <map>
#include <set>

namespace vault {

class KeyStore;

class KeyRing {
public:
    // Wipes every key: at a new login and at exit.
    void clear();
    // The installation the keys belong to: its pinned administrator public key. Keys of
    // another installation are wiped.
    void bindTo(const Bytes& adminPublic);
    const Bytes& installation() const { return installation_; }

    void keepUserKey(const QString& writer, Secret key);
    // Kept only when it is the secret of the pinned public key: a copy of an older key pair
    // opens nothing written since.
    bool keepAdminKey(Secret adminSecret);
    bool hasAdminKey() const { return !admin_.empty(); }
    const Secret& adminKey() const { return admin_; }

    // On a server: the user the session's connections log in as, and his server password.
    void keepServerLogin(const QString& name, Secret password);
    const QString& serverName() const { return serverName_; }
    const Secret& serverPassword() const { return serverPassword_; }

    // The writer's data key: held, or opened from his escrow with the administrator key.
    // Null when there is none.
    const Secret* keyFor(const QString& writer, KeyStore& store);
    // The writer's key when the ring holds it, without opening an escrow: for the logged-in
    // user, the key his login opened, which seals his drafts.
    const Secret* ownKey(const QString& writer) const;
    // The next key of the writer's re-key under way, opened from its escrow with the
    // administrator key: his entries open under it or under his key until the re-key is done.
    const Secret* pendingKeyFor(const QString& writer, KeyStore& store);

    KeyRing() { contents_.cap = std::size_t(512) << 20; }
    // The titles and the texts this session has opened, wiped with the keys. Texts run to
    // gigabytes in a large diary: past the cap they are opened afresh for each search.
    Titles& titles() { return titles_; }
    Titles& contents() { return contents_; }

private:
    Bytes installation_;
    std::map<Bytes, Secret> keys_; // by folded name
    std::set<Bytes> missing_;
    std::map<Bytes, Secret> pending_; // by folded name; looked for once a login
    std::set<Bytes> noPending_;
    Secret admin_;
    QString serverName_;
    Secret serverPassword_;
    Titles titles_;
    Titles contents_;
};

} // namespace vault
