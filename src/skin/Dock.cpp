#include "skin/Dock.h"

#include <QEvent>
#include <QPointer>
#include <QVariant>
#include <QWidget>

namespace skin {
namespace {

const char* const kAlignProperty = "Align";

// One per parent window, watching it and its docked children.
class Docker : public QObject {
public:
    explicit Docker(QWidget* window) : QObject(window), m_window(window) {
        setObjectName(QStringLiteral("skinDocker"));
        window->installEventFilter(this);
    }

    void watch(QWidget* child) { child->installEventFilter(this); }

    void layout() {
        if (m_busy)
            return;
        m_busy = true;
        QRect free = m_window->rect();
        const auto kids = m_window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        // Top and bottom first, so the side borders fit between them.
        for (QWidget* w : kids) {
            const int a = align(w);
            if (w->isHidden() || (a != AlignTop && a != AlignBottom))
                continue;
            const int h = std::min(w->height(), free.height());
            if (a == AlignTop) {
                w->setGeometry(free.left(), free.top(), free.width(), h);
                free.setTop(free.top() + h);
            } else {
                w->setGeometry(free.left(), free.bottom() + 1 - h, free.width(), h);
                free.setBottom(free.bottom() - h);
            }
        }
        for (QWidget* w : kids) {
            const int a = align(w);
            if (w->isHidden() || (a != AlignLeft && a != AlignRight))
                continue;
            const int wd = std::min(w->width(), free.width());
            if (a == AlignLeft) {
                w->setGeometry(free.left(), free.top(), wd, free.height());
                free.setLeft(free.left() + wd);
            } else {
                w->setGeometry(free.right() + 1 - wd, free.top(), wd, free.height());
                free.setRight(free.right() - wd);
            }
        }
        m_busy = false;
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        switch (e->type()) {
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
        case QEvent::ChildRemoved:
            if (o == m_window || align(static_cast<QWidget*>(o)) != AlignNone)
                layout();
            break;
        default:
            break;
        }
        return false;
    }

private:
    QWidget* m_window;
    bool m_busy = false;
};

Docker* dockerOf(QWidget* window, bool create) {
    if (auto* d =
            window->findChild<Docker*>(QStringLiteral("skinDocker"), Qt::FindDirectChildrenOnly))
        return d;
    return create ? new Docker(window) : nullptr;
}

} // namespace

void setAlign(QWidget* control, int a) {
    if (!control)
        return;
    if (a < AlignTop || a > AlignRight)
        a = AlignNone;
    control->setProperty(kAlignProperty, a);
    if (QWidget* parent = control->parentWidget()) {
        Docker* d = dockerOf(parent, a != AlignNone);
        if (d) {
            d->watch(control);
            d->layout();
        }
    }
}

int align(const QWidget* control) {
    return control ? control->property(kAlignProperty).toInt() : AlignNone;
}

void layoutDocked(QWidget* window) {
    if (window)
        if (Docker* d = dockerOf(window, false))
            d->layout();
}

} // namespace skin
