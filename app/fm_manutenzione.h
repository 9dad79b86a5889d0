#pragma once
// The maintenance window's place in the program: created hidden at start-up and shown modally
// from "Gestione" > "Manutenzione". This stand-in only holds that place; the plan editor (grid,
// navigator, script text, load/save/empty) replaces its contents.

#include <QDialog>

namespace tarvolen {

class TdmMain;

class TfmManutenzione : public QDialog {
    Q_OBJECT
  public:
    // The plan editor works on dm's plan table.
    explicit TfmManutenzione(TdmMain& dm, QWidget* parent = nullptr);
};

}  // namespace tarvolen
