#pragma once
// The skinned caption bar of a frameless window: title, icon and window buttons drawn from a
// skin file, dragging, and its own maximise / restore / minimise of the window it sits on.
//
// A form creates it as a child of the window, then loads its stored settings:
//     JSCAPTION1 = new JSCAPTION(this);
//     JSCAPTION1->setObjectName(u"JSCAPTION1"_s);
//     JSCAPTION1->ReadProperties({{u"Font"_s, songTi9pt}, {u"BackColor"_s, 0x00DC7E5Au}});
//     JSCAPTION1->setPath(skinFile);
// The bar docks itself to the top edge of its parent at full width (skin::setAlign); its height
// comes from the skin. It brings Style2() up to date before the window's own resizeEvent and
// changeEvent(WindowStateChange) run, so the window reads it there: 0 minimised, 1 maximised by
// the bar (hide the borders), 2 normal (shape and minimum size).
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <QWidget>
#include <memory>
#include <optional>

class QLabel;
class clsBitmap;
class clsOnTop;
namespace skin {
class Skin;
}

class JSCAPTION : public QWidget {
    Q_OBJECT
public:
    // Which gesture started a window-state operation; each does slightly different steps.
    enum class Entry { Click, DoubleClick, StartUp };
    // m_HotButton values.
    enum Button { CloseButton = 0, MinButton = 1, MaxButton = 2, OnTopButton = 3 };

    explicit JSCAPTION(QWidget* parent = nullptr);
    ~JSCAPTION() override;

    // --- Properties. Each setter reports its name through PropertyChanged. ---
    bool ControlBox() const { return m_ControlBox; }
    void setControlBox(bool newvalue);
    bool Movable() const { return m_Movable; }
    void setMovable(bool newvalue);
    bool ONTOP() const { return m_KeepOnTop; }
    void setONTOP(bool newvalue); // puts the window into the topmost band or takes it out
    QString Path() const { return m_Path; }
    void setPath(const QString& NewPath); // reads the skin and repaints at once
    bool ShowIcon() const { return m_ShowIcon; }
    void setShowIcon(bool newvalue);
    bool SHOWONTOP() const { return m_ShowOnTop; }
    void setSHOWONTOP(bool newvalue);
    qint32 Style() const { return m_Style; }
    using QWidget::setStyle;
    void setStyle(qint32 newstyle);
    // 0 minimised, 1 maximised by the bar, 2 normal. Never stored.
    qint32 Style2() const { return m_Style2; }
    void setStyle2(qint32 newstyle2);
    // The bar's own font (QWidget::setFont sets it): reported and the skin applied again.
    QFont Font() const { return font(); }
    // Colours as 0x00BBGGRR, or 0x80000000 | system colour index.
    quint32 BackColor() const { return m_Label2Color; } // Label2's text colour
    void setBackColor(quint32 New_BackColor);
    quint32 ForeColor() const { return m_Label1Color; } // Label1's text colour
    void setForeColor(quint32 New_ForeColor);
    // Repaints at once; returns an empty value.
    QVariant REDRAW();

    // --- Stored settings (keys "Path", "Movable", "Style", "ShowIcon", "ControlBox", "ONTOP",
    // "SHOWONTOP", "Font", "BackColor", "ForeColor"); absent keys take their defaults. ---
    void InitProperties(); // a bar newly placed on a form: the host's font
    void ReadProperties(const QVariantMap& PropBag);
    QVariantMap WriteProperties() const; // values equal to their default are left out

    // Design mode (the host's user-mode flag off): nothing drawn from the skin, 400 twips high.
    bool AmbientUserMode() const { return m_UserMode; }
    void setAmbientUserMode(bool userMode) { m_UserMode = userMode; }

    // --- Window states of the window the bar sits on. ---
    void MaximizeToWorkArea(Entry entry);
    void RestoreFromMaximized(Entry entry);
    void MinimizeParent();
    void UpdateResizeEnabled();

    // --- Event handlers; Qt's events call them, tests may too. Pixels of the bar. ---
    void UserControl_Resize();
    void UserControl_Paint();
    void UserControl_MouseMove(int Button, int Shift, float X, float Y);
    void UserControl_MouseDown(int Button, int Shift, float X, float Y);
    void UserControl_MouseUp(int Button, int Shift, float X, float Y);
    void UserControl_Click();
    void UserControl_DblClick();

    // --- Read-only views for the window and for tests. ---
    quint8 MaxState() const { return m_MaxState; }
    int HotButton() const { return m_HotButton; }
    bool OverButton() const { return m_OverButton; }
    // The rectangle saved by the last maximise, in twips (left, top, width, height).
    QRect RestoreRect() const {
        return {m_RestoreLeft, m_RestoreTop, m_RestoreWidth, m_RestoreHeight};
    }
    // What the bar shows: frame and buttons as drawn, without the title labels.
    const QPixmap& surface() const { return m_Surface; }
    // Where a button is drawn now, in pixels of the bar; empty when it holds no image.
    QRect buttonRect(Button b) const;
    // Whether a button is drawn / answers the mouse under the present settings.
    bool buttonDrawn(Button b) const;
    bool buttonActive(Button b) const;
    // What a click on an active button does, for screen readers and keyboard-driven tools.
    void pressButton(Button b);
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image1 = nullptr;

signals:
    // The named property changed: the host's stored settings need saving.
    void PropertyChanged(const QString& PropertyName);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    // Reading the skin in three steps, in this order: the pictures, then the measures and
    // colours (the bar's height follows its top-left piece), then the backing pixmap.
    void ApplySkin();
    void loadPictures();
    void readMetrics();
    void drawBar();
    static void installAccessibility();
    void StartDrag();
    void forgetTakenPress();
    void watchParent();
    void showCaption();
    void UserControl_Terminate();

    // Skin images into the button holders, drawn at their positions.
    void showImage(Button b, const QString& key);
    void showNormal(Button b);
    void drawButton(Button b);
    double buttonLeft(Button b) const;
    clsBitmap* holder(Button b) const;
    static void setTextColour(QLabel* label, quint32 colour);
    void printText(const QString& text); // onto the bar's surface, one line down each time

    // The parent window's state and rectangle, in the window system's terms and in twips.
    QWidget* parentForm() const { return window(); }
    int parentWindowState() const;
    std::optional<QRect> queryWorkArea();
    void placeOnWorkArea(const QRect& area, bool positionFirst);
    void saveRestoreRect();

    void Label1_MouseMove();
    void Label1_MouseDown();
    void Label1_MouseUp();
    void Label1_DblClick();

    // Fields behind the properties.
    bool m_ControlBox = false;
    bool m_Movable = false;
    bool m_KeepOnTop = false;
    QString m_Path;
    bool m_ShowIcon = false;
    bool m_ShowOnTop = false;
    qint32 m_Style = 0;
    qint32 m_Style2 = 0;
    std::unique_ptr<clsOnTop> m_OnTop;
    quint32 m_Label1Color = 0x00FFFFFFu;
    quint32 m_Label2Color = 0x80000012u;

    // Skin and drawing.
    std::shared_ptr<const skin::Skin> m_PropBag;
    std::unique_ptr<clsBitmap> bmpTopLeft, bmpTopMid, bmpTopRight;
    std::unique_ptr<clsBitmap> bmpClose, bmpMaxRes, bmpMin, bmpOnTop;
    qint16 XOFFSET = 0, XOFFSET2 = 0, YOFFSET = 0, FROMRIGHT = 0, FROMTOP = 0, ICONSPACE = 0;
    quint32 m_BarForeColor = 0x00FFFFFFu; // from the skin's FORECOLOR
    quint32 m_BarBackColor = 0x00DC7E5Au; // from the skin's BackColor
    QPixmap m_Surface;
    int m_CurrentY = 0; // where the next printed line goes
    bool m_UserMode = true;

    // Window states.
    quint8 m_MaxState = 0;
    qint32 m_RestoreWidth = 0, m_RestoreHeight = 0, m_RestoreLeft = 0, m_RestoreTop = 0;

    // Mouse.
    qint32 m_HotButton = 0;
    bool m_OverButton = false;
    bool m_pressed = false;        // a press on the bar that a release may turn into a click
    bool m_swallowRelease = false; // the window system took the press over
    bool m_handDrag = false;       // moving the window by hand instead
    QPoint m_pressGlobal;          // where the last press happened, on the screen
    QPoint m_dragOffset;

    // Re-entry guards and bookkeeping.
    bool m_loading = false; // font set by ReadProperties: no report, no skin
    bool m_sizing = false;  // ApplySkin setting the bar's own height
    int m_resizeRuns = 0;   // how often the Resize handling ran
    bool m_wasMinimized = false;
    QPointer<QWidget> m_watchedParent;
    QPointer<QWidget> m_watchedWindow;
};
