// The caption bar: construction, properties, stored settings and the routing of Qt's events.
#include "caption/JSCAPTION.h"

#include "base/Module1.h"
#include "base/Twips.h"
#include "skin/Dock.h"
#include "skin/SkinCache.h"
#include "skin/SkinFile.h"
#include "skin/clsBitmap.h"
#include "skin/clsOnTop.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QWindowStateChangeEvent>

using namespace Qt::StringLiterals;

namespace {

const QString kTitle = u"酷毙了的 XP 窗体控件 (支持换皮肤)"_s;

QFont titleFont() {
    // Every attribute is set, so nothing of the bar's own font leaks into the title.
    QFont f(u"Trebuchet MS"_s);
    f.setPointSizeF(11.25);
    f.setWeight(QFont::Bold);
    f.setItalic(false);
    f.setUnderline(false);
    f.setStrikeOut(false);
    return f;
}

// Stored values may come from anywhere; anything unusable falls back to the default.
bool readBool(const QVariantMap& bag, const QString& key, bool def) {
    const QVariant v = bag.value(key);
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return v.toLongLong() != 0;
    case QMetaType::QString: {
        const QString s = v.toString().trimmed().toLower();
        if (s == u"true"_s || s == u"1"_s || s == u"-1"_s)
            return true;
        if (s == u"false"_s || s == u"0"_s)
            return false;
        return def;
    }
    default:
        return def;
    }
}

qint32 readInt(const QVariantMap& bag, const QString& key, qint32 def) {
    const QVariant v = bag.value(key);
    if (!v.isValid() || v.typeId() == QMetaType::Bool)
        return def;
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (!ok || n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
        return def;
    return qint32(n);
}

// A colour was a signed 32-bit value where it came from: 0x80000012 may arrive negative.
quint32 readColour(const QVariantMap& bag, const QString& key, quint32 def) {
    const QVariant v = bag.value(key);
    if (v.typeId() == QMetaType::QColor) {
        const QColor c = v.value<QColor>();
        return c.isValid() ? skin::fromQColor(c) : def;
    }
    if (!v.isValid() || v.typeId() == QMetaType::Bool || v.typeId() == QMetaType::QString)
        return def;
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (!ok || n < std::numeric_limits<qint32>::min() || n > qlonglong(0xFFFFFFFFu))
        return def;
    return quint32(n & 0xFFFFFFFF);
}

} // namespace

JSCAPTION::JSCAPTION(QWidget* parent) : QWidget(parent) {
    installAccessibility();
    m_OnTop = std::make_unique<clsOnTop>();
    m_PropBag = skin::SkinCache::load(QString());
    bmpClose = std::make_unique<clsBitmap>();
    bmpMaxRes = std::make_unique<clsBitmap>();
    bmpMin = std::make_unique<clsBitmap>();
    bmpOnTop = std::make_unique<clsBitmap>();

    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(u"标题栏"_s);
    setAccessibleDescription(u"拖动可移动窗口，双击可最大化或还原"_s);

    m_loading = true;
    QFont own(u"宋体"_s);
    own.setPointSizeF(8.25);
    setFont(own);
    m_loading = false;

    // Created in drawing order: the shadow, the title over it, the icon over both.
    Label1 = new QLabel(kTitle, this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setFont(titleFont());
    Label1->setGeometry(app::Twips::rect(1800, 75, 3990, 300));
    Label1->setMouseTracking(true);
    Label1->installEventFilter(this);
    Label2 = new QLabel(kTitle, this);
    Label2->setObjectName(u"Label2"_s);
    Label2->setFont(titleFont());
    Label2->setGeometry(app::Twips::rect(1350, 90, 3990, 300));
    Label2->setAttribute(Qt::WA_TransparentForMouseEvents);
    Image1 = new QLabel(this);
    Image1->setObjectName(u"Image1"_s);
    Image1->setGeometry(app::Twips::rect(120, 105, 240, 240));
    Image1->setScaledContents(true);
    Image1->setAttribute(Qt::WA_TransparentForMouseEvents);
    Image1->setAccessibleName(u"窗口图标"_s);
    for (QLabel* l : {Label1, Label2}) {
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(false);
    }
    QPalette p1 = Label1->palette();
    p1.setColor(QPalette::WindowText, skin::toQColor(m_Label1Color));
    Label1->setPalette(p1);
    QPalette p2 = Label2->palette();
    p2.setColor(QPalette::WindowText, skin::toQColor(m_Label2Color));
    Label2->setPalette(p2);

    resize(width(), app::Twips::toPxY(405));
    if (parent)
        skin::setAlign(this, skin::AlignTop);
    watchParent();
}

JSCAPTION::~JSCAPTION() {
    UserControl_Terminate();
}

void JSCAPTION::UserControl_Terminate() {
    bmpTopLeft.reset();
    bmpTopMid.reset();
    bmpTopRight.reset();
    bmpClose.reset();
    bmpMaxRes.reset();
    bmpMin.reset();
}

// ---------------------------------------------------------------- properties

void JSCAPTION::setControlBox(bool newvalue) {
    m_ControlBox = newvalue;
    emit PropertyChanged(u"ControlBox"_s);
}

void JSCAPTION::setMovable(bool newvalue) {
    m_Movable = newvalue;
    emit PropertyChanged(u"Movable"_s);
}

void JSCAPTION::setONTOP(bool newvalue) {
    m_KeepOnTop = newvalue;
    if (!m_OnTop)
        m_OnTop = std::make_unique<clsOnTop>();
    if (newvalue)
        m_OnTop->MakeTopMost(parentForm());
    else
        m_OnTop->MakeNormal(parentForm());
    emit PropertyChanged(u"ONTOP"_s);
}

void JSCAPTION::setPath(const QString& NewPath) {
    m_Path = NewPath;
    emit PropertyChanged(u"Path"_s);
    ApplySkin();
}

void JSCAPTION::setShowIcon(bool newvalue) {
    m_ShowIcon = newvalue;
    emit PropertyChanged(u"ShowIcon"_s);
}

void JSCAPTION::setSHOWONTOP(bool newvalue) {
    m_ShowOnTop = newvalue;
    emit PropertyChanged(u"SHOWONTOP"_s);
}

void JSCAPTION::setStyle(qint32 newstyle) {
    m_Style = newstyle;
    emit PropertyChanged(u"Style"_s);
}

void JSCAPTION::setStyle2(qint32 newstyle2) {
    m_Style2 = newstyle2;
    emit PropertyChanged(u"Style2"_s);
}

void JSCAPTION::setTextColour(QLabel* label, quint32 colour) {
    const QColor c = skin::toQColor(colour, label->palette());
    if (!c.isValid() || label->palette().color(QPalette::WindowText) == c)
        return;
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, c);
    label->setPalette(p);
}

void JSCAPTION::setBackColor(quint32 New_BackColor) {
    m_Label2Color = New_BackColor;
    setTextColour(Label2, New_BackColor);
    emit PropertyChanged(u"BackColor"_s);
}

void JSCAPTION::setForeColor(quint32 New_ForeColor) {
    m_Label1Color = New_ForeColor;
    setTextColour(Label1, New_ForeColor);
    emit PropertyChanged(u"ForeColor"_s);
}

QVariant JSCAPTION::REDRAW() {
    if (isVisible())
        repaint();
    else
        UserControl_Paint();
    return {};
}

// ---------------------------------------------------------------- stored settings

namespace {
QFont ambientFont(const QWidget* bar) {
    const QWidget* host = bar->parentWidget();
    return host ? host->font() : QApplication::font();
}
} // namespace

void JSCAPTION::InitProperties() {
    m_loading = true;
    setFont(ambientFont(this));
    m_loading = false;
    if (parentWidget())
        skin::setAlign(this, skin::AlignTop);
}

void JSCAPTION::ReadProperties(const QVariantMap& PropBag) {
    m_Path = PropBag.value(u"Path"_s).toString();
    m_Movable = readBool(PropBag, u"Movable"_s, true);
    m_Style = readInt(PropBag, u"Style"_s, 1);
    m_ShowIcon = readBool(PropBag, u"ShowIcon"_s, true);
    m_ControlBox = readBool(PropBag, u"ControlBox"_s, true);
    m_KeepOnTop = readBool(PropBag, u"ONTOP"_s, false);
    m_ShowOnTop = readBool(PropBag, u"SHOWONTOP"_s, false);

    QFont f = ambientFont(this);
    const QVariant storedFont = PropBag.value(u"Font"_s);
    if (storedFont.typeId() == QMetaType::QFont)
        f = storedFont.value<QFont>();
    else if (storedFont.typeId() == QMetaType::QString) {
        QFont parsed;
        if (parsed.fromString(storedFont.toString()))
            f = parsed;
    }
    m_loading = true;
    setFont(f);
    m_loading = false;

    Module1::ResizeEnabled = false;
    // The pointer is the plain arrow whether or not the bar can be dragged.
    unsetCursor();
    if (!m_OnTop)
        m_OnTop = std::make_unique<clsOnTop>();
    if (m_KeepOnTop)
        m_OnTop->MakeTopMost(parentForm());
    else
        m_OnTop->MakeNormal(parentForm());

    m_Label2Color = readColour(PropBag, u"BackColor"_s, 0x80000012u);
    setTextColour(Label2, m_Label2Color);
    m_Label1Color = readColour(PropBag, u"ForeColor"_s, 0x00FFFFFFu);
    setTextColour(Label1, m_Label1Color);
}

QVariantMap JSCAPTION::WriteProperties() const {
    QVariantMap out;
    auto put = [&out](const QString& key, const QVariant& value, const QVariant& def) {
        if (value != def)
            out.insert(key, value);
    };
    put(u"Path"_s, m_Path, QString());
    put(u"Movable"_s, m_Movable, true);
    put(u"ShowIcon"_s, m_ShowIcon, true);
    put(u"ControlBox"_s, m_ControlBox, true);
    put(u"ONTOP"_s, m_KeepOnTop, false);
    put(u"SHOWONTOP"_s, m_ShowOnTop, false);
    put(u"Style"_s, m_Style, 1);
    if (font() != ambientFont(this))
        out.insert(u"Font"_s, font());
    put(u"BackColor"_s, m_Label2Color, 0x80000012u);
    put(u"ForeColor"_s, m_Label1Color, 0x00FFFFFFu);
    return out;
}

// ---------------------------------------------------------------- Qt's events

void JSCAPTION::watchParent() {
    QWidget* parent = parentWidget();
    QWidget* form = parentForm();
    if (m_watchedParent && m_watchedParent != parent && m_watchedParent != form)
        m_watchedParent->removeEventFilter(this);
    if (m_watchedWindow && m_watchedWindow != parent && m_watchedWindow != form)
        m_watchedWindow->removeEventFilter(this);
    m_watchedParent = parent;
    m_watchedWindow = form != this ? form : nullptr;
    if (parent)
        parent->installEventFilter(this);
    if (m_watchedWindow && m_watchedWindow != parent)
        m_watchedWindow->installEventFilter(this);
    m_wasMinimized = m_watchedWindow && m_watchedWindow->isMinimized();
    showCaption();
}

// The title reads the window's caption, also to a screen reader before the first paint.
void JSCAPTION::showCaption() {
    if (parentForm() == this)
        return;
    const QString caption = parentForm()->windowTitle();
    Label1->setText(caption);
    Label2->setText(caption);
}

bool JSCAPTION::event(QEvent* e) {
    if (e->type() == QEvent::ParentChange) {
        watchParent();
        if (parentWidget() && skin::align(this) == skin::AlignNone)
            skin::setAlign(this, skin::AlignTop);
    }
    return QWidget::event(e);
}

bool JSCAPTION::eventFilter(QObject* watched, QEvent* e) {
    const QEvent::Type t = e->type();
    if (watched == Label1 &&
        (t == QEvent::MouseButtonPress || t == QEvent::MouseMove ||
         t == QEvent::MouseButtonRelease || t == QEvent::MouseButtonDblClick)) {
        auto* me = static_cast<QMouseEvent*>(e);
        switch (t) {
        case QEvent::MouseButtonPress:
            if (me->button() == Qt::LeftButton) {
                m_pressGlobal = me->globalPosition().toPoint();
                m_pressed = false; // the title forwards no click
                forgetTakenPress();
                Label1_MouseDown();
            }
            return true;
        case QEvent::MouseMove:
            if (m_handDrag)
                parentForm()->move(me->globalPosition().toPoint() - m_dragOffset);
            else
                Label1_MouseMove();
            return true;
        case QEvent::MouseButtonRelease:
            if (me->button() != Qt::LeftButton)
                return true;
            if (m_handDrag || m_swallowRelease) {
                m_handDrag = m_swallowRelease = false;
                return true;
            }
            Label1_MouseUp();
            return true;
        case QEvent::MouseButtonDblClick:
            if (me->button() == Qt::LeftButton)
                Label1_DblClick();
            return true;
        default:
            return false;
        }
    }
    if (watched == m_watchedParent && e->type() == QEvent::Resize) {
        // The window's docking resizes the bar first; a window whose width did not change
        // still gets its state and the shared resize flag brought up to date.
        const int before = m_resizeRuns;
        skin::layoutDocked(m_watchedParent);
        if (m_resizeRuns == before)
            UserControl_Resize();
    }
    if (watched == m_watchedWindow || (watched == m_watchedParent && !m_watchedWindow)) {
        if (e->type() == QEvent::WindowStateChange) {
            const bool minimized = parentForm()->isMinimized();
            if (m_wasMinimized && !minimized)
                UserControl_Resize(); // shown again: Style2 from m_MaxState
            m_wasMinimized = minimized;
        } else if (e->type() == QEvent::WindowTitleChange) {
            showCaption();
            update();
        }
    }
    return false;
}

void JSCAPTION::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange && !m_loading) {
        emit PropertyChanged(u"Font"_s);
        ApplySkin();
    }
    QWidget::changeEvent(e);
}

void JSCAPTION::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (!m_sizing)
        UserControl_Resize();
}

void JSCAPTION::mouseMoveEvent(QMouseEvent* e) {
    if (m_handDrag) {
        parentForm()->move(e->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    const QPointF p = e->position();
    UserControl_MouseMove(int(e->buttons()), int(e->modifiers() >> 25), float(p.x()), float(p.y()));
}

void JSCAPTION::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton)
        return;
    m_pressGlobal = e->globalPosition().toPoint();
    m_pressed = true;
    forgetTakenPress();
    const QPointF p = e->position();
    UserControl_MouseDown(1, int(e->modifiers() >> 25), float(p.x()), float(p.y()));
}

// A window manager that took over a move may never send that press's release; a new press
// starts afresh, so its own release is not swallowed in the old one's place.
void JSCAPTION::forgetTakenPress() {
    m_swallowRelease = false;
    m_handDrag = false;
}

void JSCAPTION::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton)
        return;
    if (m_handDrag || m_swallowRelease) {
        m_handDrag = m_swallowRelease = false;
        m_pressed = false;
        return;
    }
    const QPointF p = e->position();
    UserControl_MouseUp(1, int(e->modifiers() >> 25), float(p.x()), float(p.y()));
    const bool click = m_pressed && rect().contains(p.toPoint());
    m_pressed = false;
    if (click)
        UserControl_Click();
}

void JSCAPTION::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton)
        return;
    m_pressed = false; // the release that follows is no click
    UserControl_DblClick();
}
