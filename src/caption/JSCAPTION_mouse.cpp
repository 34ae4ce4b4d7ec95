// The caption bar under the mouse: button images, clicks, dragging, double-click.
#include "caption/JSCAPTION.h"

#include "shell/Desktop.h"
#include "shell/Navigation.h"
#include "skin/clsBitmap.h"
#include "skin/clsOnTop.h"

using namespace Qt::StringLiterals;

bool JSCAPTION::buttonDrawn(Button b) const {
    switch (b) {
    case CloseButton:
        return m_ControlBox;
    case MaxButton:
    case MinButton:
        return m_ControlBox && m_Style != 0;
    case OnTopButton:
        return m_ShowOnTop;
    }
    return false;
}

bool JSCAPTION::buttonActive(Button b) const {
    if (!m_ControlBox)
        return false;
    switch (b) {
    case CloseButton:
        return m_Style != 4;
    case MaxButton:
        return m_Style != 0 && m_Style != 3;
    case MinButton:
        return m_Style != 0;
    case OnTopButton:
        return m_ShowOnTop;
    }
    return false;
}

void JSCAPTION::UserControl_MouseMove(int, int, float X, float Y) {
    if (!m_ControlBox)
        return;
    const float H = float(bmpClose->Height());
    if (!(float(FROMTOP) < Y && Y < float(FROMTOP) + H))
        return;

    for (Button b : {CloseButton, MaxButton, MinButton, OnTopButton}) {
        const float x = float(buttonLeft(b));
        const float w = float(holder(b)->Width());
        if (!(x < X && X < x + w))
            continue;
        if (!buttonActive(b)) {
            // Leaving a lit button for an inert one ends the hover, so a click here never
            // runs the other button's action.
            if (m_OverButton) {
                showNormal(Button(m_HotButton));
                m_OverButton = false;
            }
            return;
        }
        switch (b) {
        case CloseButton:
            showImage(CloseButton, u"CLOSE3"_s);
            break;
        case MaxButton:
            showImage(MaxButton, m_MaxState == 1 ? u"RES2"_s : u"MAX3"_s);
            break;
        case MinButton:
            showImage(MinButton, u"MIN3"_s);
            break;
        case OnTopButton:
            break; // no hover image
        }
        m_HotButton = b;
        m_OverButton = true;
        return;
    }

    showNormal(CloseButton);
    if (m_Style != 0) {
        showNormal(MaxButton);
        showNormal(MinButton);
    }
    m_OverButton = false;
}

void JSCAPTION::showNormal(Button b) {
    switch (b) {
    case CloseButton:
        showImage(CloseButton, u"CLOSE"_s);
        break;
    case MaxButton:
        showImage(MaxButton, m_MaxState == 1 ? u"RES1"_s : u"MAX"_s);
        break;
    case MinButton:
        showImage(MinButton, u"MIN"_s);
        break;
    case OnTopButton:
        break;
    }
}

void JSCAPTION::UserControl_MouseDown(int, int, float, float) {
    if (!m_OverButton) {
        StartDrag();
        return;
    }
    if (!m_ControlBox)
        return;
    switch (m_HotButton) {
    case CloseButton:
        showImage(CloseButton, u"CLOSE2"_s);
        break;
    case MaxButton:
        showImage(MaxButton, m_MaxState != 1 ? u"MAX2"_s : u"RES3"_s);
        break;
    case MinButton:
        showImage(MinButton, u"MIN2"_s);
        break;
    default:
        break;
    }
}

void JSCAPTION::UserControl_MouseUp(int, int, float, float) {
    if (!m_ControlBox || !m_OverButton)
        return;
    switch (m_HotButton) {
    case CloseButton:
        showImage(CloseButton, u"CLOSE"_s);
        break;
    case MaxButton:
        // The resize that the click causes brings the restore image back.
        showImage(MaxButton, u"MAX"_s);
        break;
    case MinButton:
        showImage(MinButton, u"MIN"_s);
        break;
    default:
        break;
    }
}

void JSCAPTION::UserControl_Click() {
    if (!m_ControlBox || !m_OverButton)
        return;
    switch (m_HotButton) {
    case CloseButton:
        if (m_Style != 4)
            app::unload(parentForm());
        break;
    case MinButton:
        MinimizeParent();
        break;
    case MaxButton:
        if (m_Style != 3) {
            if (m_MaxState != 1)
                MaximizeToWorkArea(Entry::Click);
            else
                RestoreFromMaximized(Entry::Click);
        }
        break;
    case OnTopButton:
        if (!m_OnTop)
            m_OnTop = std::make_unique<clsOnTop>();
        if (m_KeepOnTop) {
            m_OnTop->MakeNormal(parentForm());
            m_KeepOnTop = false;
            showImage(OnTopButton, u"ONTOP1"_s);
        } else {
            m_OnTop->MakeTopMost(parentForm());
            m_KeepOnTop = true;
            showImage(OnTopButton, u"ONTOP3"_s);
        }
        break;
    default:
        break;
    }
}

void JSCAPTION::UserControl_DblClick() {
    if (m_OverButton || m_Style == 0 || m_Style == 3)
        return;
    if (m_MaxState == 1)
        RestoreFromMaximized(Entry::DoubleClick);
    else
        MaximizeToWorkArea(Entry::DoubleClick);
}

void JSCAPTION::StartDrag() {
    if (!m_Movable)
        return;
    // The press stays ours until the window system takes it over.
    if (m_MaxState == 1)
        return; // a window the bar has maximised stays where it is
    QWidget* form = parentForm();
    if (form == this)
        return;
    if (app::Desktop::instance().startMove(form)) {
        m_swallowRelease = true;
    } else {
        m_handDrag = true;
        m_dragOffset = m_pressGlobal - form->pos();
    }
    m_pressed = false;
}

// The title label passes its mouse on with fixed arguments, as if at (1, 1) of the bar.
void JSCAPTION::Label1_MouseMove() {
    UserControl_MouseMove(1, 1, 1, 1);
}
void JSCAPTION::Label1_MouseDown() {
    UserControl_MouseDown(1, 1, 1, 1);
}
void JSCAPTION::Label1_MouseUp() {
    UserControl_MouseUp(1, 1, 1, 1);
}
void JSCAPTION::Label1_DblClick() {
    UserControl_DblClick();
}
