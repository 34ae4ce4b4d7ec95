#include "support/Fakes.h"

namespace fake {
namespace {
// The next scripted answer, or `none` once the script is used up.
template <class T> T next(std::deque<T>& script, T none) {
    if (script.empty())
        return none;
    T a = std::move(script.front());
    script.pop_front();
    return a;
}
} // namespace

void Dialogs::record(Box b) {
    boxes.push_back(std::move(b));
    if (onBox)
        onBox(boxes.back());
}

void Dialogs::message(QWidget*, const QString& text, const QString& title, app::Icon icon) {
    record({Box::Message, text, title, icon, {}});
}

bool Dialogs::ask(QWidget*, const QString& text, const QString& title) {
    record({Box::Ask, text, title, app::Icon::None, {}});
    return next(askAnswers, true);
}

QString Dialogs::input(QWidget*, const QString& prompt, const QString& title,
                       const QString& defaultText) {
    record({Box::Input, prompt, title, app::Icon::None, defaultText});
    return next(inputAnswers, QString());
}

QString Dialogs::openFile(QWidget*, const QString& filter) {
    record({Box::OpenFile, filter, {}, app::Icon::None, {}});
    return next(fileAnswers, QString());
}

QStringList Dialogs::texts() const {
    QStringList out;
    for (const Box& b : boxes)
        out << b.text;
    return out;
}

Dialogs& installDialogs() {
    auto* d = new Dialogs;
    app::Dialogs::install(d);
    return *d;
}

Desktop& installDesktop() {
    auto* d = new Desktop;
    app::Desktop::install(d);
    return *d;
}

} // namespace fake
