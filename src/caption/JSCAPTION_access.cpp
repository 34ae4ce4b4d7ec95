// The caption bar for screen readers: the painted buttons appear as push buttons that can be
// pressed, named after what they would do now.
#include "caption/JSCAPTION.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QPointer>
#include <QWindow>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

class CaptionButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    CaptionButtonAccessible(JSCAPTION* bar, JSCAPTION::Button button)
        : m_bar(bar), m_button(button) {}

    bool isValid() const override { return !m_bar.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_bar ? m_bar->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return m_bar ? QAccessible::queryAccessibleInterface(m_bar.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (!m_bar)
            return {};
        if (t == QAccessible::Name) {
            switch (m_button) {
            case JSCAPTION::CloseButton:
                return u"关闭"_s;
            case JSCAPTION::MinButton:
                return u"最小化"_s;
            case JSCAPTION::MaxButton:
                return m_bar->MaxState() == 1 ? u"还原"_s : u"最大化"_s;
            case JSCAPTION::OnTopButton:
                return m_bar->ONTOP() ? u"取消总在最前"_s : u"总在最前"_s;
            }
        }
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!m_bar)
            return {};
        const QRect r = m_bar->buttonRect(m_button);
        return r.isEmpty() ? QRect() : QRect(m_bar->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!m_bar || !m_bar->buttonDrawn(m_button) || m_bar->buttonRect(m_button).isEmpty())
            s.invisible = true;
        if (!m_bar || !m_bar->buttonActive(m_button))
            s.disabled = true;
        if (m_button == JSCAPTION::OnTopButton) {
            s.checkable = true;
            s.checked = m_bar && m_bar->ONTOP();
        }
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                 : nullptr;
    }
    QStringList actionNames() const override {
        return m_bar && m_bar->buttonActive(m_button) ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString& name) override {
        if (m_bar && name == pressAction())
            m_bar->pressButton(m_button);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<JSCAPTION> m_bar;
    JSCAPTION::Button m_button;
};

// The bar: its labels as usual, then the four buttons right to left.
class CaptionAccessible : public QAccessibleWidget {
public:
    explicit CaptionAccessible(JSCAPTION* bar) : QAccessibleWidget(bar, QAccessible::TitleBar) {
        for (auto b : {JSCAPTION::CloseButton, JSCAPTION::MaxButton, JSCAPTION::MinButton,
                       JSCAPTION::OnTopButton}) {
            auto* iface = new CaptionButtonAccessible(bar, b);
            m_ids.push_back(QAccessible::registerAccessibleInterface(iface));
        }
    }
    ~CaptionAccessible() override {
        for (QAccessible::Id id : m_ids)
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return int(labels().size() + m_ids.size()); }
    QAccessibleInterface* child(int index) const override {
        const auto own = labels();
        if (index >= 0 && index < int(own.size()))
            return own[size_t(index)];
        index -= int(own.size());
        if (index < 0 || index >= int(m_ids.size()))
            return nullptr;
        return QAccessible::accessibleInterface(m_ids[size_t(index)]);
    }
    int indexOfChild(const QAccessibleInterface* c) const override {
        const auto own = labels();
        for (size_t i = 0; i < own.size(); ++i)
            if (own[i] == c)
                return int(i);
        for (size_t i = 0; i < m_ids.size(); ++i)
            if (QAccessible::accessibleInterface(m_ids[i]) == c)
                return int(own.size() + i);
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (QAccessible::Id id : m_ids) {
            QAccessibleInterface* b = QAccessible::accessibleInterface(id);
            if (b && !b->state().invisible && b->rect().contains(x, y))
                return b;
        }
        for (QAccessibleInterface* l : labels())
            if (l->rect().contains(x, y))
                return l;
        return nullptr;
    }

private:
    // The title's shadow repeats the title: it stays out of what a screen reader walks.
    std::vector<QAccessibleInterface*> labels() const {
        std::vector<QAccessibleInterface*> out;
        const auto* bar = static_cast<const JSCAPTION*>(object());
        for (int i = 0; i < QAccessibleWidget::childCount(); ++i)
            if (QAccessibleInterface* c = QAccessibleWidget::child(i);
                c && c->object() != bar->Label2)
                out.push_back(c);
        return out;
    }

    std::vector<QAccessible::Id> m_ids;
};

QAccessibleInterface* captionFactory(const QString& className, QObject* object) {
    if (className == u"JSCAPTION"_s && object && object->isWidgetType())
        return new CaptionAccessible(static_cast<JSCAPTION*>(object));
    return nullptr;
}

} // namespace

void JSCAPTION::installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(captionFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void JSCAPTION::pressButton(Button b) {
    if (!buttonActive(b))
        return;
    m_HotButton = b;
    m_OverButton = true;
    UserControl_Click();
    m_OverButton = false;
}
