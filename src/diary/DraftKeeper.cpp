#include "diary/DraftKeeper.h"

#include "base/Module1.h"
#include "data/myClass.h"
#include "vault/KeyRing.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

namespace diary {

int DraftKeeper::quietMs = 2000;
int DraftKeeper::retryMs = 5000;

namespace {
// Closing waits this long for a write in flight; a store that takes longer keeps the
// draft written before.
constexpr int kCloseWaitMs = 3000;

const vault::Secret* ownKey(const QString& user) {
    const vault::KeyRing* ring = myClass::keys();
    return ring && !user.isEmpty() ? ring->ownKey(user) : nullptr;
}
} // namespace

struct DraftKeeper::Job {
    QString connection, user, serverName;
    vault::Secret serverPassword;
    vault::DraftKind kind = vault::DraftKind::Write;
    bool remove = false;
    vault::StoredDraft draft;
    bool ok = false; // set by the thread that ran it
};

// The writes' own connection, used by one thread at a time: never the window's, which the
// window may be using.
struct DraftKeeper::Worker {
    std::unique_ptr<ado::Connection> connection;
    vault::KeyRing login;
    QString as, to;

    bool run(const Job& job) {
        try {
            if (!connection || as != job.user || to != job.connection) {
                connection.reset();
                login.clear();
                if (!job.serverName.isEmpty())
                    login.keepServerLogin(job.serverName, job.serverPassword.copy());
                connection = std::make_unique<ado::Connection>();
                connection->ConnectionString = job.connection;
                connection->keys = &login;
                connection->Open();
                as = job.user;
                to = job.connection;
            }
            vault::KeyStore& store = connection->keyStore();
            if (job.remove)
                store.removeDraft(job.user, job.kind);
            else
                store.putDraft(job.user, job.kind, job.draft);
            return true;
        } catch (...) {
            // Opened afresh next time: a store that failed may be back by then.
            connection.reset();
            return false;
        }
    }
};

DraftKeeper::DraftKeeper(vault::DraftKind kind, Texts texts, QObject* parent)
    : QObject(parent), kind_(kind), texts_(std::move(texts)), worker_(std::make_shared<Worker>()) {
    quiet_ = new QTimer(this);
    quiet_->setSingleShot(true);
    connect(quiet_, &QTimer::timeout, this, &DraftKeeper::keep);
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, [this] {
        if (failed_)
            submit(std::exchange(failed_, nullptr));
    });
}

DraftKeeper::~DraftKeeper() {
    if (running_)
        running_->wait(QDeadlineTimer(kCloseWaitMs));
}

void DraftKeeper::setEntry(long long id) {
    entry_ = id;
}

void DraftKeeper::changed() {
    dirty_ = true;
    quiet_->start(quietMs);
}

std::shared_ptr<DraftKeeper::Job> DraftKeeper::newJob(const QString& user) const {
    auto job = std::make_shared<Job>();
    job->connection = myClass::connectionString();
    job->user = user;
    job->kind = kind_;
    if (const vault::KeyRing* ring = myClass::keys(); !ring->serverName().isEmpty()) {
        job->serverName = ring->serverName();
        job->serverPassword = ring->serverPassword().copy();
    }
    return job;
}

void DraftKeeper::restored() {
    kept_ = true;
    changed();
}

void DraftKeeper::keep() {
    quiet_->stop();
    if (!dirty_)
        return;
    const QString user = Module1::UserName;
    // A store without keys keeps no drafts: nothing is ever stored plain.
    const vault::Secret* key = ownKey(user);
    if (!key)
        return;
    dirty_ = false;
    auto job = newJob(user);
    const vault::DraftTexts texts = texts_();
    if (texts.title.isEmpty() && texts.content.isEmpty()) {
        if (!kept_)
            return;
        job->remove = true;
    } else {
        job->draft.entry = entry_;
        job->draft.made = app::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        job->draft.sealed = vault::sealDraft(*key, texts, {user, kind_, entry_, job->draft.made});
        if (job->draft.sealed.size() > vault::kMaxDraftBytes)
            return; // no store takes it; the boxes still hold it
    }
    kept_ = !job->remove;
    submit(std::move(job));
}

void DraftKeeper::submit(std::shared_ptr<Job> job) {
    retry_->stop();
    failed_.reset();
    if (running_) {
        next_ = std::move(job); // the newest only: at most one write waits
        return;
    }
    inFlight_ = std::move(job);
    start();
}

void DraftKeeper::start() {
    auto worker = worker_;
    auto job = inFlight_;
    QThread* thread = QThread::create([worker, job] { job->ok = worker->run(*job); });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, job] { finished(job->ok); });
    running_ = thread;
    thread->start();
}

void DraftKeeper::finished(bool ok) {
    running_ = nullptr;
    if (!ok && !next_) {
        failed_ = inFlight_;
        retry_->start(retryMs);
    }
    inFlight_.reset();
    if (next_) {
        inFlight_ = std::move(next_);
        start();
    }
    emit wrote(ok);
}

void DraftKeeper::keepNow() {
    keep();
    // What is still to write is written here, once the write in flight is done.
    if (running_ && !running_->wait(QDeadlineTimer(kCloseWaitMs)))
        return;
    std::shared_ptr<Job> last = next_ ? next_ : failed_;
    if (inFlight_ && !inFlight_->ok && !last)
        last = inFlight_;
    inFlight_.reset();
    next_.reset();
    failed_.reset();
    retry_->stop();
    if (last)
        worker_->run(*last);
}

void DraftKeeper::discard() {
    quiet_->stop();
    dirty_ = false;
    const QString user = Module1::UserName;
    // Only a draft this window kept: one found at login was restored into it, or removed.
    if (!kept_ || !ownKey(user))
        return;
    kept_ = false;
    auto job = newJob(user);
    job->remove = true;
    submit(std::move(job));
}

std::optional<vault::DraftTexts> DraftKeeper::stored(vault::DraftKind kind, long long* entry,
                                                     QString* made, bool* damaged) {
    *damaged = false;
    const QString user = Module1::UserName;
    const vault::Secret* key = ownKey(user);
    if (!key)
        return std::nullopt;
    try {
        myClass d;
        d.OpenData();
        vault::KeyStore& store = d.ocn().keyStore();
        const auto row = store.draft(user, kind);
        if (!row)
            return std::nullopt;
        auto texts = vault::openDraft(*key, row->sealed, {user, kind, row->entry, row->made});
        if (!texts) {
            *damaged = true;
            store.removeDraft(user, kind);
            return std::nullopt;
        }
        *entry = row->entry;
        *made = row->made;
        return texts;
    } catch (...) {
        return std::nullopt; // asked again at the next login
    }
}

void DraftKeeper::remove(vault::DraftKind kind) {
    try {
        myClass d;
        d.OpenData();
        d.ocn().keyStore().removeDraft(Module1::UserName, kind);
    } catch (...) {
    }
}

} // namespace diary
