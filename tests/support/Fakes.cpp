#include "support/Fakes.h"

namespace fake {

void Dialogs::message(QWidget*, const QString& text, const QString& title, app::Icon icon) {
    boxes.push_back({Box::Message, text, title, icon, {}});
    if (onBox)
        onBox(boxes.back());
}

bool Dialogs::ask(QWidget*, const QString& text, const QString& title) {
    boxes.push_back({Box::Ask, text, title, app::Icon::None, {}});
    if (onBox)
        onBox(boxes.back());
    if (askAnswers.empty())
        return true;
    const bool a = askAnswers.front();
    askAnswers.pop_front();
    return a;
}

QString Dialogs::input(QWidget*, const QString& prompt, const QString& title,
                       const QString& defaultText) {
    boxes.push_back({Box::Input, prompt, title, app::Icon::None, defaultText});
    if (onBox)
        onBox(boxes.back());
    if (inputAnswers.empty())
        return QString();
    QString a = inputAnswers.front();
    inputAnswers.pop_front();
    return a;
}

QString Dialogs::openFile(QWidget*, const QString& filter) {
    boxes.push_back({Box::OpenFile, filter, {}, app::Icon::None, {}});
    if (onBox)
        onBox(boxes.back());
    if (fileAnswers.empty())
        return QString();
    QString a = fileAnswers.front();
    fileAnswers.pop_front();
    return a;
}

QStringList Dialogs::texts() const {
    QStringList out;
    for (const Box& b : boxes)
        out << b.text;
    return out;
}

bool Desktop::openUrl(const QUrl& url) {
    opened.push_back(url);
    return true;
}

void Desktop::setTopMost(QWidget* w, bool on) {
    topMost.emplace_back(w, on);
}

bool Desktop::startMove(QWidget* w) {
    moves.push_back(w);
    return acceptMove;
}

bool Desktop::startResize(QWidget* w, Qt::Edges edges) {
    resizes.emplace_back(w, edges);
    return acceptResize;
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
