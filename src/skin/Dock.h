#pragma once
// Docking of a window's frame controls to its edges: top and bottom controls take the full
// width in child order, left and right ones the band between them; hidden controls take no
// room. The control keeps its own thickness (height for top/bottom, width for left/right).
#include <QtGlobal>

class QWidget;

namespace skin {

enum Align : int { AlignNone = 0, AlignTop = 1, AlignBottom = 2, AlignLeft = 3, AlignRight = 4 };

// Docks the control inside its parent at once and whenever either changes size.
// Any other value leaves the control where it is, no longer docked.
void setAlign(QWidget* control, int align);
int align(const QWidget* control);
// Lays out the docked children of the window now (normally automatic).
void layoutDocked(QWidget* window);

} // namespace skin
