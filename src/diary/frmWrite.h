#pragma once
#include <QWidget>

class QLabel;
class QPushButton;

// The writing window (first cut: who is logged in, and the way back).
class frmWrite : public QWidget {
    Q_OBJECT
public:
    explicit frmWrite(QWidget* parent = nullptr);
    QLabel* Label5 = nullptr;
    QPushButton* reLoginComm = nullptr;
    void reLoginComm_Click();
};
