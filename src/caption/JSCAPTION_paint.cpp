// The caption bar: reading the skin and drawing frame, icon and buttons on a backing pixmap.
#include "caption/JSCAPTION.h"

#include "base/Module1.h"
#include "base/Twips.h"
#include "skin/SkinCache.h"
#include "skin/SkinFile.h"
#include "skin/clsBitmap.h"

#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {
QColor drawable(quint32 colour, const QPalette& palette, const QColor& otherwise) {
    const QColor c = skin::toQColor(colour, palette);
    return c.isValid() ? c : otherwise;
}
const QColor kDesignBack(90, 126, 220); // 0x00DC7E5A
constexpr int kTitleWidth = 3990;       // twips, as the labels are designed
} // namespace

void JSCAPTION::UserControl_Resize() {
    ++m_resizeRuns;
    UpdateResizeEnabled();
    ApplySkin();
    if (!m_UserMode) {
        m_sizing = true;
        setFixedHeight(app::Twips::toPxY(400));
        m_sizing = false;
    }
    Image1->move(XOFFSET2, YOFFSET + 2);
    if (m_ShowIcon)
        Image1->update();
}

void JSCAPTION::ApplySkin() {
    if (m_UserMode) {
        loadPictures();
        readMetrics();
        drawBar();
    }
    MaximizeToWorkArea(Entry::StartUp);
}

void JSCAPTION::loadPictures() {
    bmpTopLeft = std::make_unique<clsBitmap>();
    bmpTopMid = std::make_unique<clsBitmap>();
    bmpTopRight = std::make_unique<clsBitmap>();
    bmpClose = std::make_unique<clsBitmap>();
    bmpMaxRes = std::make_unique<clsBitmap>();
    bmpMin = std::make_unique<clsBitmap>();
    bmpOnTop = std::make_unique<clsBitmap>();
    m_PropBag = skin::SkinCache::load(m_Path);
    const skin::Skin& bag = *m_PropBag;
    // A key that cannot be read leaves its holder empty.
    auto load = [&bag](clsBitmap& holder, const QString& key) {
        if (const auto picture = bag.picture(key))
            holder.LoadResource(*picture);
    };

    load(*bmpTopLeft, u"TOPLEFT"_s);
    load(*bmpTopMid, u"TOPMID"_s);
    load(*bmpTopRight, u"TOPRIGHT"_s);
    load(*bmpClose, u"CLOSE"_s);

    if (m_MaxState == 1) {
        load(*bmpMaxRes, u"RES1"_s);
        m_Style2 = 1;
    } else if (parentWindowState() == 1) {
        m_Style2 = 0;
    } else if (m_MaxState == 0) {
        load(*bmpMaxRes, u"MAX"_s);
        m_Style2 = 2;
    }

    load(*bmpMin, u"MIN"_s);
    load(*bmpOnTop, m_KeepOnTop ? u"ONTOP3"_s : u"ONTOP1"_s);
}

void JSCAPTION::readMetrics() {
    const skin::Skin& bag = *m_PropBag;
    auto metric = [&bag](qint16& field, const QString& key) {
        if (const auto v = bag.integer(key))
            field = *v;
    };
    metric(XOFFSET, u"XOFFSET"_s);
    metric(XOFFSET2, u"XOFFSET2"_s);
    metric(YOFFSET, u"YOFFSET"_s);
    metric(FROMRIGHT, u"FROMRIGHT"_s);
    metric(FROMTOP, u"FROMTOP"_s);
    metric(ICONSPACE, u"ICONSPACE"_s);
    if (const auto c = bag.colour(u"FORECOLOR"_s))
        m_BarForeColor = *c;
    if (const auto c = bag.colour(u"BackColor"_s))
        m_BarBackColor = *c;
    if (const auto c = bag.color(u"PARENTBACKCOLOR"_s)) {
        QWidget* form = parentForm();
        if (form != this && form->palette().color(QPalette::Window) != *c) {
            QPalette p = form->palette();
            p.setColor(QPalette::Window, *c);
            form->setPalette(p);
        }
    }

    // The skin decides the height; in twips and back, as the window measures it.
    const int twips = int(std::lround(bmpTopLeft->Height() * app::Twips::perPixelY()));
    const int h = app::Twips::toPxY(twips);
    if (h != height() || minimumHeight() != maximumHeight()) {
        m_sizing = true;
        setFixedHeight(h);
        m_sizing = false;
    }
}

void JSCAPTION::drawBar() {
    const int SW = width();
    m_CurrentY = 0;
    if (SW > 0 && height() > 0) {
        const qreal dpr = devicePixelRatioF();
        m_Surface = QPixmap(QSize(SW, height()) * dpr);
        m_Surface.setDevicePixelRatio(dpr);
        m_Surface.fill(drawable(m_BarBackColor, palette(), kDesignBack));
        QPainter p(&m_Surface);
        // One copy per tile covers the same pixels as one per pixel of width.
        if (const int w = bmpTopMid->Width(); w > 0 && bmpTopMid->hdc())
            for (int x = 0; x <= SW; x += w)
                bmpTopMid->Paint(p, x, 0);
        bmpTopLeft->Paint(p, 0, 0);
        bmpTopRight->Paint(p, SW - bmpTopRight->Width(), 0);
    } else {
        m_Surface = QPixmap();
    }

    if (m_ShowIcon) {
        const QIcon icon = parentForm()->windowIcon();
        Image1->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(Image1->size()));
    }

    if (m_ControlBox) {
        drawButton(CloseButton);
        if (m_Style != 0) {
            drawButton(MaxButton);
            drawButton(MinButton);
        }
    }
    if (m_ShowOnTop)
        drawButton(OnTopButton);

    bmpTopLeft.reset();
    bmpTopMid.reset();
    bmpTopRight.reset();
    update();
}

clsBitmap* JSCAPTION::holder(Button b) const {
    switch (b) {
    case CloseButton:
        return bmpClose.get();
    case MinButton:
        return bmpMin.get();
    case MaxButton:
        return bmpMaxRes.get();
    case OnTopButton:
        return bmpOnTop.get();
    }
    return nullptr;
}

double JSCAPTION::buttonLeft(Button b) const {
    auto w = [this](Button x) {
        const clsBitmap* h = holder(x);
        return h ? double(h->Width()) : 0.0;
    };
    // The row runs right to left: close, maximise/restore, minimise, always-on-top.
    const double SW = float(width());
    double x = SW - w(CloseButton) - FROMRIGHT;
    if (b == CloseButton)
        return x;
    x -= ICONSPACE + w(MaxButton);
    if (b == MaxButton)
        return x;
    x -= ICONSPACE + w(MinButton);
    if (b == MinButton)
        return x;
    return x - ICONSPACE - w(OnTopButton);
}

QRect JSCAPTION::buttonRect(Button b) const {
    const clsBitmap* h = holder(b);
    if (!h || !h->hdc())
        return {};
    // Halves go to the even neighbour, as the default rounding mode does.
    return QRect(int(std::nearbyint(buttonLeft(b))), FROMTOP, h->Width(), h->Height());
}

void JSCAPTION::drawButton(Button b) {
    const QRect r = buttonRect(b);
    if (r.isEmpty() || m_Surface.isNull())
        return;
    QPainter p(&m_Surface);
    holder(b)->Paint(p, r.x(), r.y());
    update(r);
}

void JSCAPTION::showImage(Button b, const QString& key) {
    clsBitmap* h = holder(b);
    if (!h)
        return;
    if (const auto picture = m_PropBag->picture(key))
        h->LoadResource(*picture);
    else
        h->FreeBitmap(); // nothing drawn: the button keeps showing what it showed
    drawButton(b);
}

void JSCAPTION::printText(const QString& text) {
    if (width() <= 0 || height() <= 0)
        return;
    if (m_Surface.isNull()) {
        const qreal dpr = devicePixelRatioF();
        m_Surface = QPixmap(size() * dpr);
        m_Surface.setDevicePixelRatio(dpr);
        m_Surface.fill(drawable(m_BarBackColor, palette(), kDesignBack));
    }
    QPainter p(&m_Surface);
    p.setFont(font());
    p.setPen(drawable(m_BarForeColor, palette(), Qt::white));
    const QFontMetrics fm(font());
    p.drawText(QPoint(0, m_CurrentY + fm.ascent()), text);
    m_CurrentY += fm.height();
    update();
}

void JSCAPTION::UserControl_Paint() {
    Label1->move(XOFFSET + 17, YOFFSET);
    Label2->move(XOFFSET + 16, YOFFSET - 1);
    // The title stops short of the buttons: drawn over them it would hide them and take
    // their mouse on a narrow window.
    int buttonsLeft = width() - FROMRIGHT;
    for (Button b : {CloseButton, MaxButton, MinButton, OnTopButton})
        if (buttonDrawn(b) && !buttonRect(b).isEmpty())
            buttonsLeft = std::min(buttonsLeft, buttonRect(b).left());
    for (QLabel* l : {Label1, Label2}) {
        const int w = std::clamp(buttonsLeft - l->x(), 0, app::Twips::toPxX(kTitleWidth));
        if (l->width() != w)
            l->resize(w, l->height());
    }
    const QString caption = parentForm() != this ? parentForm()->windowTitle() : QString();
    Label1->setText(caption);
    Label2->setText(caption);
    m_Label1Color = m_BarForeColor;
    m_Label2Color = m_BarBackColor;
    setTextColour(Label1, m_BarForeColor);
    setTextColour(Label2, m_BarBackColor);
}

void JSCAPTION::paintEvent(QPaintEvent* e) {
    UserControl_Paint();
    QPainter p(this);
    const QRect r = e->rect();
    p.fillRect(r, drawable(m_BarBackColor, palette(), kDesignBack));
    if (!m_Surface.isNull())
        p.drawPixmap(0, 0, m_Surface);
}
