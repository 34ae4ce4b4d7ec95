#pragma once
// One skinned edge of a frameless window (left, right or bottom). It paints itself from the
// skin file at Path, takes its thickness from the skin, and hands a press on the edge or a
// lower corner to the window system's sizing while Module1::ResizeEnabled is set.
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <QWidget>

class JSBORDER : public QWidget {
    Q_OBJECT
public:
    enum BorderType { None = 0, Left = 1, Right = 2, Bottom = 3 };
    // Where the pointer was last seen: lower-left corner, the edge, lower-right corner.
    enum Zone : qint16 { ZoneLowerLeft = 0, ZoneEdge = 1, ZoneLowerRight = 2 };

    explicit JSBORDER(QWidget* parent = nullptr);

    int BORDERTYPE() const { return m_BorderType; }
    // Stores the type and docks the control to its edge; does not repaint.
    void setBORDERTYPE(int value);
    QString Path() const { return m_Path; }
    // Stores the path and repaints from it at once.
    void setPath(const QString& value);
    // Repaints at once through the paint event; returns an empty value.
    QVariant REDRAW();

    // Settings the form keeps with the control: "BORDERTYPE" and "Path", each written only
    // when it differs from its default (0, ""). Reading sets the fields only: no docking,
    // no painting.
    QVariantMap WriteProperties() const;
    void ReadProperties(const QVariantMap& stored);

    qint16 zone() const { return m_Zone; }
    // WM_NCHITTEST code a press would start with (HTLEFT 10, HTRIGHT 11, HTBOTTOM 15,
    // HTBOTTOMLEFT 16, HTBOTTOMRIGHT 17), or 0 for none.
    int hitTestCode() const { return hitTestCode(m_BorderType, m_Zone); }
    static int hitTestCode(int borderType, int zone);
    static Qt::Edges edgesFor(int hitTestCode);

    // What was last drawn, and how often the skin was painted (for tests and benchmarks).
    const QPixmap& surface() const { return m_surface; }
    int skinPaints() const { return m_skinPaints; }

    static QColor designColour() { return QColor(90, 126, 220); } // 0x00DC7E5A

signals:
    void PropertyChanged(const QString& name);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void PaintSkin();
    void updateAccessibleName();
    void dragByHand(const QPoint& globalPos);

    int m_BorderType = None;
    QString m_Path;
    qint16 m_Zone = ZoneLowerLeft;
    QPixmap m_surface;
    bool m_stale = true;
    int m_skinPaints = 0;
    // Sizing by hand when the window system will not take the drag.
    bool m_dragging = false;
    Qt::Edges m_dragEdges;
    QPoint m_dragStart;
    QRect m_dragGeometry;
};
