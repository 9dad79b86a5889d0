#pragma once
// The login dialog: asks for the user name and password that every later connection reuses.

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvolen {

class TdmMain;

class TfdLogin : public QDialog {
    Q_OBJECT
  public:
    // `loginConfirmed` is the main window's flag that "OK" sets and "Annulla" clears.
    TfdLogin(TdmMain& dm, bool& loginConfirmed, QWidget* parent = nullptr);

    QLineEdit* EDLogin = nullptr;
    QLineEdit* EDPasswd = nullptr;
    QPushButton* BitBtn1 = nullptr;  // "OK"
    QPushButton* BitBtn2 = nullptr;  // "Annulla"

    // Fills the user name from dbsagg's parameters and empties the password.
    void FormActivate();

  protected:
    void showEvent(QShowEvent* event) override;
    // No button answers Esc.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BitBtn1Click();
    void BitBtn2Click();

    TdmMain& m_dm;
    bool& m_loginConfirmed;
};

}  // namespace tarvolen
