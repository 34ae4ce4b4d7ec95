#include "skin/JSBORDER.h"

#include "base/Module1.h"
#include "shell/Desktop.h"
#include "skin/Dock.h"
#include "skin/SkinCache.h"
#include "skin/clsBitmap.h"

#include <QMouseEvent>
#include <QPainter>

namespace {
constexpr int kCorner = 10; // corner zones are this long, bounds included
}

JSBORDER::JSBORDER(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, designColour());
    setPalette(pal);
    updateAccessibleName();
}

void JSBORDER::updateAccessibleName() {
    switch (m_BorderType) {
    case Left:
        setAccessibleName(QStringLiteral("左边框"));
        break;
    case Right:
        setAccessibleName(QStringLiteral("右边框"));
        break;
    case Bottom:
        setAccessibleName(QStringLiteral("下边框"));
        break;
    default:
        setAccessibleName(QStringLiteral("边框"));
        break;
    }
    setAccessibleDescription(m_BorderType == None ? QString()
                                                  : QStringLiteral("拖动可调整窗口大小"));
}

void JSBORDER::setBORDERTYPE(int value) {
    m_BorderType = value;
    switch (value) {
    case Left:
        skin::setAlign(this, skin::AlignLeft);
        break;
    case Right:
        skin::setAlign(this, skin::AlignRight);
        break;
    case Bottom:
        skin::setAlign(this, skin::AlignBottom);
        break;
    default:
        break; // the docking stays as it was
    }
    updateAccessibleName();
    emit PropertyChanged(QStringLiteral("BORDERTYPE"));
}

void JSBORDER::setPath(const QString& value) {
    m_Path = value;
    emit PropertyChanged(QStringLiteral("Path"));
    PaintSkin();
    update();
}

QVariant JSBORDER::REDRAW() {
    m_stale = true;
    repaint();
    return {};
}

QVariantMap JSBORDER::WriteProperties() const {
    QVariantMap out;
    if (m_BorderType != 0)
        out.insert(QStringLiteral("BORDERTYPE"), m_BorderType);
    if (!m_Path.isEmpty())
        out.insert(QStringLiteral("Path"), m_Path);
    return out;
}

void JSBORDER::ReadProperties(const QVariantMap& stored) {
    m_BorderType = stored.value(QStringLiteral("BORDERTYPE"), 0).toInt();
    m_Path = stored.value(QStringLiteral("Path"), QString()).toString();
    updateAccessibleName();
}

void JSBORDER::PaintSkin() {
    ++m_skinPaints;
    const auto skin = skin::SkinCache::load(m_Path);
    clsBitmap A, B, C;
    const char* keys[3] = {nullptr, nullptr, nullptr};
    switch (m_BorderType) {
    case Left:
        keys[0] = "LEFTTOP";
        keys[1] = "LEFTMID";
        break;
    case Right:
        keys[0] = "RIGHTTOP";
        keys[1] = "RIGHTMID";
        break;
    case Bottom:
        keys[0] = "LEFTBOT";
        keys[1] = "RIGHTBOT";
        keys[2] = "BOTTOM";
        break;
    default:
        break;
    }
    clsBitmap* holders[3] = {&A, &B, &C};
    for (int i = 0; i < 3; ++i)
        if (keys[i])
            if (const auto pic = skin->picture(QString::fromLatin1(keys[i])))
                holders[i]->LoadResource(*pic);

    // The skin decides the thickness; the docking decides the length.
    if (m_BorderType == Left || m_BorderType == Right)
        resize(A.Width(), height());
    else if (m_BorderType == Bottom)
        resize(width(), C.Height());

    m_stale = false; // drawn for the size settled above
    const QSize sz = size();
    if (m_surface.size() != sz)
        m_surface = QPixmap(sz.isEmpty() ? QSize(1, 1) : sz);
    m_surface.fill(designColour());
    if (sz.isEmpty())
        return;
    QPainter p(&m_surface);
    if (m_BorderType == Left || m_BorderType == Right) {
        if (B.Height() > 0)
            for (int y = 0; y <= sz.height(); y += B.Height())
                B.Paint(p, 0, y);
        A.Paint(p, 0, 0);
    } else if (m_BorderType == Bottom) {
        if (C.Width() > 0)
            for (int x = 0; x <= sz.width(); x += C.Width())
                C.Paint(p, x, 0);
        A.Paint(p, 0, 0);
        B.Paint(p, sz.width() - B.Width(), 0);
    }
}

void JSBORDER::paintEvent(QPaintEvent*) {
    if (m_stale || m_surface.size() != size())
        PaintSkin();
    QPainter p(this);
    p.drawPixmap(0, 0, m_surface);
}

void JSBORDER::resizeEvent(QResizeEvent*) {
    m_stale = true;
}

int JSBORDER::hitTestCode(int borderType, int zone) {
    constexpr int HTLEFT = 10, HTRIGHT = 11, HTBOTTOM = 15, HTBOTTOMLEFT = 16, HTBOTTOMRIGHT = 17;
    switch (borderType) {
    case Left:
        return zone == ZoneLowerLeft ? HTBOTTOMLEFT : zone == ZoneEdge ? HTLEFT : 0;
    case Right:
        return zone == ZoneEdge ? HTRIGHT : zone == ZoneLowerRight ? HTBOTTOMRIGHT : 0;
    case Bottom:
        return zone == ZoneLowerLeft    ? HTBOTTOMLEFT
               : zone == ZoneEdge       ? HTBOTTOM
               : zone == ZoneLowerRight ? HTBOTTOMRIGHT
                                        : 0;
    default:
        return 0;
    }
}

Qt::Edges JSBORDER::edgesFor(int code) {
    switch (code) {
    case 10:
        return Qt::LeftEdge;
    case 11:
        return Qt::RightEdge;
    case 15:
        return Qt::BottomEdge;
    case 16:
        return Qt::BottomEdge | Qt::LeftEdge;
    case 17:
        return Qt::BottomEdge | Qt::RightEdge;
    default:
        return {};
    }
}

void JSBORDER::mouseMoveEvent(QMouseEvent* e) {
    if (m_dragging) {
        dragByHand(e->globalPosition().toPoint());
        return;
    }
    if (!Module1::ResizeEnabled)
        return;
    const int x = e->position().toPoint().x();
    const int y = e->position().toPoint().y();
    const int w = width();
    const int h = height();
    if (m_BorderType != Bottom) {
        setCursor(Qt::SizeHorCursor);
        m_Zone = ZoneEdge;
        if (y >= h - kCorner && y <= h && m_BorderType == Left) {
            setCursor(Qt::SizeBDiagCursor);
            m_Zone = ZoneLowerLeft;
        }
        if (y >= h - kCorner && y <= h && m_BorderType == Right) {
            setCursor(Qt::SizeFDiagCursor);
            m_Zone = ZoneLowerRight;
        }
    } else if (x >= 0 && x <= kCorner) {
        m_Zone = ZoneLowerLeft;
        setCursor(Qt::SizeBDiagCursor);
    } else if (x >= w - kCorner && x <= w) {
        m_Zone = ZoneLowerRight;
        setCursor(Qt::SizeFDiagCursor);
    } else {
        m_Zone = ZoneEdge;
        setCursor(Qt::SizeVerCursor);
    }
}

void JSBORDER::mousePressEvent(QMouseEvent* e) {
    if (!Module1::ResizeEnabled)
        return;
    const Qt::Edges edges = edgesFor(hitTestCode());
    if (!edges)
        return;
    QWidget* win = window();
    if (win == this)
        return;
    if (app::Desktop::instance().startResize(win, edges))
        return;
    // The window system refused: size the window from our own mouse events.
    m_dragging = true;
    m_dragEdges = edges;
    m_dragStart = e->globalPosition().toPoint();
    m_dragGeometry = win->geometry();
}

void JSBORDER::mouseReleaseEvent(QMouseEvent*) {
    m_dragging = false;
}

void JSBORDER::dragByHand(const QPoint& globalPos) {
    QWidget* win = window();
    const QPoint d = globalPos - m_dragStart;
    const QSize minSize = win->minimumSize().expandedTo(QSize(1, 1));
    const QSize maxSize = win->maximumSize();
    QRect g = m_dragGeometry;
    if (m_dragEdges & Qt::LeftEdge) {
        const int w = std::clamp(g.width() - d.x(), minSize.width(), maxSize.width());
        g.setLeft(g.right() + 1 - w);
    }
    if (m_dragEdges & Qt::RightEdge)
        g.setWidth(std::clamp(g.width() + d.x(), minSize.width(), maxSize.width()));
    if (m_dragEdges & Qt::BottomEdge)
        g.setHeight(std::clamp(g.height() + d.y(), minSize.height(), maxSize.height()));
    win->setGeometry(g);
}
