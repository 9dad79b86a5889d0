#include "app/LoginDlg.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include "app/AnsiText.h"
#include "engine/dm_main.h"

namespace tarvolen {
namespace {

// The two button images, drawn rather than shipped: a green check mark and a red cross.
QIcon checkMarkIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 140, 0), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.5, 12.5);
    tick.lineTo(13.5, 3.5);
    p.drawPath(tick);
    return QIcon(pixmap);
}

QIcon crossIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(200, 0, 0), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    return QIcon(pixmap);
}

QFrame* bevelPanel(QWidget* parent) {
    auto* panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

}  // namespace

TfdLogin::TfdLogin(TdmMain& dm, bool& loginConfirmed, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_dm(dm),
      m_loginConfirmed(loginConfirmed) {
    setObjectName("fdLogin");
    setWindowTitle("Login Database");
    setFixedSize(269, 110);

    QFont bold = font();
    bold.setBold(true);

    auto* panel1 = bevelPanel(this);
    panel1->setObjectName("Panel1");
    panel1->setGeometry(0, 0, 269, 73);
    auto* label1 = new QLabel("Nome Utente", panel1);
    label1->setObjectName("Label1");
    label1->move(14, 14);
    EDLogin = new QLineEdit(panel1);
    EDLogin->setObjectName("EDLogin");
    EDLogin->setGeometry(96, 10, 156, 23);
    EDLogin->setFont(bold);
    auto* label2 = new QLabel("Password", panel1);
    label2->setObjectName("Label2");
    label2->move(14, 45);
    EDPasswd = new QLineEdit(panel1);
    EDPasswd->setObjectName("EDPasswd");
    EDPasswd->setGeometry(96, 41, 156, 23);
    EDPasswd->setFont(bold);
    EDPasswd->setEchoMode(QLineEdit::Password);
    // Each character of the password shows as "*", whatever the style's own mask.
    EDPasswd->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    label1->setBuddy(EDLogin);
    label2->setBuddy(EDPasswd);

    auto* panel3 = bevelPanel(this);
    panel3->setObjectName("Panel3");
    panel3->setGeometry(0, 73, 269, 37);
    BitBtn1 = new QPushButton(checkMarkIcon(), "OK", panel3);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(52, 6, 75, 25);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(crossIcon(), "Annulla", panel3);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(139, 6, 75, 25);

    connect(BitBtn1, &QPushButton::clicked, this, &TfdLogin::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfdLogin::BitBtn2Click);
    setTabOrder(EDLogin, EDPasswd);
    setTabOrder(EDPasswd, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    EDLogin->setFocus();
}

void TfdLogin::FormActivate() {
    EDLogin->setText(fromAnsi(m_dm.dbsagg().params().value("USER NAME")));
    EDPasswd->clear();
}

void TfdLogin::showEvent(QShowEvent* event) {
    // The dialog is modal and made anew for each login, so it becomes the program's active
    // window exactly when it is shown.
    FormActivate();
    QDialog::showEvent(event);
}

void TfdLogin::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfdLogin::BitBtn1Click() {
    m_dm.LoginUser = toAnsi(EDLogin->text());
    m_dm.LoginPassword = toAnsi(EDPasswd->text());
    m_loginConfirmed = true;
    accept();
}

void TfdLogin::BitBtn2Click() {
    m_dm.LoginUser.clear();
    m_dm.LoginPassword.clear();
    m_loginConfirmed = false;
    reject();
}

}  // namespace tarvolen
