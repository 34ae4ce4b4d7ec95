#include "shell/Navigation.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <map>
#include <vector>

namespace app {
namespace {
struct Entry {
    FormId id;
    QPointer<QWidget> form;
};

std::map<FormId, FormFactory>& factories() {
    static std::map<FormId, FormFactory> f;
    return f;
}
std::vector<Entry>& forms() {
    static std::vector<Entry> f;
    return f;
}
// Set once the end has been reported, so one emptiness ends the run once.
bool endReported = false;

std::function<void()>& onAllUnloaded() {
    static std::function<void()> fn = [] { QCoreApplication::quit(); };
    return fn;
}

void forget(QWidget* form) {
    auto& f = forms();
    std::erase_if(f, [form](const Entry& e) { return e.form.isNull() || e.form == form; });
}

// Checked after the event that unloaded the last window, so an unload followed by a
// load inside one handler never ends the process.
void scheduleEndCheck() {
    QTimer::singleShot(0, [] {
        forget(nullptr);
        if (!forms().empty() || endReported)
            return;
        endReported = true;
        if (onAllUnloaded())
            onAllUnloaded()();
    });
}
} // namespace

void registerForm(FormId id, FormFactory factory) {
    factories()[id] = std::move(factory);
}

QWidget* load(FormId id) {
    auto it = factories().find(id);
    if (it == factories().end() || !it->second)
        return nullptr;
    QWidget* w = it->second();
    if (!w)
        return nullptr;
    w->setAttribute(Qt::WA_DeleteOnClose);
    forms().push_back({id, w});
    endReported = false;
    QObject::connect(w, &QObject::destroyed, [w] {
        forget(w);
        scheduleEndCheck();
    });
    return w;
}

void show(QWidget* form) {
    if (!form)
        return;
    form->show();
    form->activateWindow();
}

void unload(QWidget* form) {
    if (!form)
        return;
    forget(form);
    form->close();
    scheduleEndCheck();
}

QWidget* go(QWidget* from, FormId to) {
    unload(from);
    QWidget* next = load(to);
    show(next);
    return next;
}

QWidget* loaded(FormId id) {
    for (const Entry& e : forms())
        if (e.id == id && !e.form.isNull())
            return e.form;
    return nullptr;
}

int loadedCount() {
    forget(nullptr);
    return int(forms().size());
}

void setOnAllUnloaded(std::function<void()> handler) {
    onAllUnloaded() = std::move(handler);
}

} // namespace app
