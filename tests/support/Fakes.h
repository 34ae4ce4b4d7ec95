#pragma once
// Scripted stand-ins for the modal boxes and the platform calls.
#include "shell/Desktop.h"
#include "shell/Dialogs.h"

#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace fake {

struct Box {
    enum Kind { Message, Ask, Input, OpenFile } kind;
    QString text; // message text, question, prompt or filter
    QString title;
    app::Icon icon = app::Icon::None;
    QString defaultText;
};

class Dialogs : public app::Dialogs {
public:
    std::vector<Box> boxes;
    std::deque<bool> askAnswers;           // empty queue answers Yes
    std::deque<QString> inputAnswers;      // empty queue answers Cancel (empty text)
    std::deque<QString> fileAnswers;       // empty queue answers Cancel
    std::function<void(const Box&)> onBox; // runs while the box is "open"

    void message(QWidget*, const QString& text, const QString& title, app::Icon icon) override;
    bool ask(QWidget*, const QString& text, const QString& title) override;
    QString input(QWidget*, const QString& prompt, const QString& title,
                  const QString& defaultText) override;
    QString openFile(QWidget*, const QString& filter) override;

    QStringList texts() const;
    const Box& last() const { return boxes.back(); }

private:
    void record(Box b);
};

class Desktop : public app::Desktop {
public:
    std::vector<QUrl> opened;
    std::vector<std::pair<QWidget*, bool>> topMost;
    std::vector<QWidget*> moves;
    std::vector<std::pair<QWidget*, Qt::Edges>> resizes;
    bool acceptMove = true;
    bool acceptResize = true;
    std::optional<QRect> area = QRect(0, 0, 1920, 1040);

    bool openUrl(const QUrl& url) override { return opened.push_back(url), true; }
    void setTopMost(QWidget* w, bool on) override { topMost.emplace_back(w, on); }
    bool startMove(QWidget* w) override { return moves.push_back(w), acceptMove; }
    bool startResize(QWidget* w, Qt::Edges e) override {
        return resizes.emplace_back(w, e), acceptResize;
    }
    std::optional<QRect> workArea(QWidget*) override { return area; }
};

// Installs fresh fakes and returns them; the app owns them.
Dialogs& installDialogs();
Desktop& installDesktop();

} // namespace fake
