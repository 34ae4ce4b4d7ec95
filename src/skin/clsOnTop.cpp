#include "skin/clsOnTop.h"

#include "shell/Desktop.h"

#include <QWidget>

// A child widget handed in stands for its window: only windows have a stacking band.
void clsOnTop::MakeNormal(QWidget* hwnd) {
    if (hwnd)
        app::Desktop::instance().setTopMost(hwnd->window(), false);
}

void clsOnTop::MakeTopMost(QWidget* hwnd) {
    if (hwnd)
        app::Desktop::instance().setTopMost(hwnd->window(), true);
}
