#pragma once
// Small pieces the diary windows share: designed geometry, centring, locked boxes.
#include "base/Twips.h"

#include <QLineEdit>
#include <QString>

class QPlainTextEdit;
class QWidget;

namespace diary {

// Names the control and puts it at its designed place (twips, relative to its parent).
template <class W> W* place(W* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(app::Twips::rect(left, top, width, height));
    return w;
}

// Centres the window on the primary screen the way the forms were designed: the difference
// in twips, divided by two, the remainder dropped.
void centreOnScreen(QWidget* window);

// A locked box shows text the user can select and copy but not change.
void setLocked(QLineEdit* box, bool locked);
void setLocked(QPlainTextEdit* box, bool locked);

// Lifts Qt's 32767-character limit of a line box whose text is stored: a longer text shown
// in it and saved back would otherwise lose its end without a word.
void takeAnyLength(QLineEdit* box);

// The text exactly as it stands (toPlainText() would turn no-break spaces into blanks).
QString plainText(const QPlainTextEdit* box);

// Focus, then Home and Shift+End: the line from its start to its end is selected.
void selectLine(QLineEdit* box, Qt::FocusReason reason = Qt::MouseFocusReason);

// A screen reader meets the window as a window named by its caption, not as a nameless
// panel. Call first in the window's constructor, before anything asks about it.
void readAsWindow(QWidget* window);

// A line box that reports a click (a left-button release over it) after its own handling.
class ClickLineEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

} // namespace diary
