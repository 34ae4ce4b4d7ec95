#pragma once
// Keeps what a window holds as its user's sealed draft: a moment after typing stops, and when
// the window closes unsaved. The write runs on a thread of its own, one at a time, so typing
// never waits for the store; a write that fails is tried again, and the boxes keep their text
// whatever the store does.
#include "vault/Drafts.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QThread;
class QTimer;

namespace diary {

class DraftKeeper : public QObject {
    Q_OBJECT
public:
    using Texts = std::function<vault::DraftTexts()>;
    DraftKeeper(vault::DraftKind kind, Texts texts, QObject* parent);
    ~DraftKeeper() override;

    // How long typing must stop before a draft is kept, and how long a failed write waits.
    static int quietMs;
    static int retryMs;

    // The entry an edit is of (the browser's drafts); an edit ends with 0.
    void setEntry(long long id);
    long long entry() const { return entry_; }
    // A box changed: the draft is kept once typing stops.
    void changed();
    // The boxes were filled from the stored draft, which is now this window's.
    void restored();
    // The window closes unsaved: kept now, and waited for a moment.
    void keepNow();
    // Saved or deleted: the draft goes, until the next change.
    void discard();

    // The user's draft of this kind, opened; nothing when there is none. One that does not
    // open is removed and `damaged` set.
    static std::optional<vault::DraftTexts> stored(vault::DraftKind kind, long long* entry,
                                                   QString* made, bool* damaged);
    static void remove(vault::DraftKind kind);

signals:
    // A write ended (for tests): ok or not.
    void wrote(bool ok);

private:
    struct Job;
    struct Worker;
    std::shared_ptr<Job> newJob(const QString& user) const;
    void keep();
    void submit(std::shared_ptr<Job> job);
    void start();
    void finished(bool ok);

    vault::DraftKind kind_;
    Texts texts_;
    long long entry_ = 0;
    bool dirty_ = false;
    bool kept_ = false; // a draft of this window may be in the store
    QTimer* quiet_ = nullptr;
    QTimer* retry_ = nullptr;
    std::shared_ptr<Worker> worker_;
    QPointer<QThread> running_;
    std::shared_ptr<Job> inFlight_, next_, failed_;
};

} // namespace diary
