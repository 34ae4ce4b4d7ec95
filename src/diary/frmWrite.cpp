#include "diary/frmWrite.h"

#include "app/Module1.h"
#include "app/Navigation.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmWrite::frmWrite(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmWrite"));
    setWindowTitle(QStringLiteral("编写日记窗口"));
    auto* lay = new QVBoxLayout(this);
    Label5 = new QLabel(Module1::UserName, this);
    Label5->setObjectName(QStringLiteral("Label5"));
    reLoginComm = new QPushButton(QStringLiteral("重新登录"), this);
    reLoginComm->setObjectName(QStringLiteral("reLoginComm"));
    lay->addWidget(Label5);
    lay->addWidget(reLoginComm);
    connect(reLoginComm, &QPushButton::clicked, this, &frmWrite::reLoginComm_Click);
}

void frmWrite::reLoginComm_Click() {
    app::go(this, app::FormId::Login);
}
