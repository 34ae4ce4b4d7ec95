#pragma once
// Puts a window into the band of windows kept above all others, or takes it out again,
// without moving or resizing it.
class QWidget;

class clsOnTop {
public:
    void MakeNormal(QWidget* hwnd);
    void MakeTopMost(QWidget* hwnd);
};
