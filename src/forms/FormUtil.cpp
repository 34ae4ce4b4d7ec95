#include "forms/FormUtil.h"

#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextDocument>
#include <QWidget>
#include <limits>

namespace diary {

using app::Twips;

void centreOnScreen(QWidget* window) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!window || !screen)
        return;
    const QRect s = screen->geometry();
    const QSize frame = window->frameGeometry().size();
    const int top = (Twips::fromPxY(s.height()) - Twips::fromPxY(frame.height())) / 2;
    const int left = (Twips::fromPxX(s.width()) - Twips::fromPxX(frame.width())) / 2;
    window->move(s.x() + Twips::toPxX(left), s.y() + Twips::toPxY(top));
}

void setLocked(QLineEdit* box, bool locked) {
    box->setReadOnly(locked);
}

void setLocked(QPlainTextEdit* box, bool locked) {
    box->setReadOnly(locked);
    // Read-only alone drops the keyboard caret; a locked box still lets one select by keys.
    if (locked)
        box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void takeAnyLength(QLineEdit* box) {
    box->setMaxLength(std::numeric_limits<int>::max());
}

QString plainText(const QPlainTextEdit* box) {
    QString text = box->document()->toRawText();
    text.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
    return text;
}

void selectLine(QLineEdit* box, Qt::FocusReason reason) {
    box->setFocus(reason);
    box->home(false);
    box->end(true);
}

namespace {
const char* const kReadAsWindow = "dvReadAsWindow";

QAccessibleInterface* windowFactory(const QString&, QObject* object) {
    if (!object || !object->isWidgetType() || !object->property(kReadAsWindow).toBool())
        return nullptr;
    // With no accessible name set, a window's name is its caption.
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}
} // namespace

void readAsWindow(QWidget* window) {
    static const bool installed = [] {
        QAccessible::installFactory(windowFactory);
        return true;
    }();
    Q_UNUSED(installed);
    window->setProperty(kReadAsWindow, true);
}

void ClickLineEdit::mouseReleaseEvent(QMouseEvent* e) {
    QLineEdit::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit clicked();
}

} // namespace diary
