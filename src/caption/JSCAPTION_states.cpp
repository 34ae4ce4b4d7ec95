// The caption bar's own maximise, restore and minimise of the window it sits on. The window's
// rectangle is handled in twips, as the forms design it.
#include "caption/JSCAPTION.h"

#include "base/Module1.h"
#include "base/Twips.h"
#include "shell/Desktop.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace {
const QString kWorkAreaFailed = u"调用 SystemParametersInfo 失败"_s;

int twipsX(int px) {
    return app::Twips::fromPxX(px);
}
int twipsY(int px) {
    return app::Twips::fromPxY(px);
}
int roundTwips(double v) {
    return int(std::lround(v));
}
} // namespace

int JSCAPTION::parentWindowState() const {
    const Qt::WindowStates s = parentForm()->windowState();
    if (s & Qt::WindowMinimized)
        return 1;
    if (s & Qt::WindowMaximized)
        return 2;
    return 0;
}

std::optional<QRect> JSCAPTION::queryWorkArea() {
    return app::Desktop::instance().workArea(parentForm());
}

void JSCAPTION::saveRestoreRect() {
    const QWidget* form = parentForm();
    m_RestoreWidth = twipsX(form->width());
    m_RestoreHeight = twipsY(form->height());
    m_RestoreLeft = twipsX(form->x());
    m_RestoreTop = twipsY(form->y());
}

void JSCAPTION::placeOnWorkArea(const QRect& area, bool positionFirst) {
    QWidget* form = parentForm();
    const double tppx = app::Twips::perPixelX();
    const double tppy = app::Twips::perPixelY();
    const int L = area.left(), T = area.top();
    const int R = area.left() + area.width(), B = area.top() + area.height();
    const int width = roundTwips((R - L) * tppx);
    const int height = roundTwips((B - T) * tppy);

    // Where the taskbar leaves room; with room at the left and at the top the window
    // keeps its place and is only sized.
    std::optional<QPoint> pos;
    if (B > 0 && L == 0 && T == 0)
        pos = QPoint(0, 0);
    else if (L > 0 && T == 0)
        pos = QPoint(roundTwips(L * tppx), 0);
    else if (T > 0 && L == 0)
        pos = QPoint(0, roundTwips(T * tppy));
    else if (R > 0 && T == 0)
        pos = QPoint(0, 0);

    auto position = [&] {
        if (pos)
            form->move(app::Twips::toPxX(pos->x()), app::Twips::toPxY(pos->y()));
    };
    auto size = [&] { form->resize(app::Twips::toPxX(width), app::Twips::toPxY(height)); };
    if (positionFirst) {
        position();
        size();
    } else {
        size();
        position();
    }
}

void JSCAPTION::MaximizeToWorkArea(Entry entry) {
    QWidget* form = parentForm();
    if (form == this)
        return;
    if (entry == Entry::StartUp) {
        if (parentWindowState() != 2)
            return;
        // Opened maximised: the bar takes over, the window system's state goes back to normal.
        const QRect normal = form->normalGeometry();
        form->setWindowState(form->windowState() & ~Qt::WindowMaximized);
        if (normal.isValid() && !normal.isEmpty())
            form->setGeometry(normal);
        m_Style2 = 1;
        Module1::ResizeEnabled = false;
    } else if (entry == Entry::DoubleClick) {
        Module1::ResizeEnabled = false;
    }
    m_MaxState = 1;
    const auto area = queryWorkArea();
    if (!area) {
        if (entry != Entry::StartUp)
            printText(kWorkAreaFailed);
        return;
    }
    saveRestoreRect();
    placeOnWorkArea(*area, entry != Entry::Click);
}

void JSCAPTION::RestoreFromMaximized(Entry entry) {
    QWidget* form = parentForm();
    if (form == this)
        return;
    m_MaxState = 0;
    if (entry == Entry::Click && !queryWorkArea()) {
        printText(kWorkAreaFailed);
        return;
    }
    form->resize(app::Twips::toPxX(m_RestoreWidth), app::Twips::toPxY(m_RestoreHeight));
    form->move(app::Twips::toPxX(m_RestoreLeft), app::Twips::toPxY(m_RestoreTop));
}

void JSCAPTION::MinimizeParent() {
    QWidget* form = parentForm();
    if (form == this)
        return;
    // Style2 first, so the window's own size handling already sees the new state.
    m_Style2 = 0;
    form->setWindowState(form->windowState() | Qt::WindowMinimized);
}

void JSCAPTION::UpdateResizeEnabled() {
    if (m_MaxState == 1)
        Module1::ResizeEnabled = false;
    else if (Style() == 1)
        Module1::ResizeEnabled = true;
}
