#pragma once
// The record navigator: nine buttons (first, prior, next, last, insert, delete, edit, post,
// cancel) in one row. It only shows actions and their enabled states; the window acts on them.

#include <QWidget>
#include <array>

class QAction;

namespace tarvolen {

enum class NavigateButton { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel };
inline constexpr int kNavigateButtonCount = 9;

// What the enabled states are derived from.
struct NavigatorState {
    bool active = false;   // the table is open
    int row = -1;          // the current row, -1 for none
    int rowCount = 0;      // rows shown, a row being inserted included
    bool editing = false;  // a row is being edited or inserted
};

class RecordNavigator : public QWidget {
    Q_OBJECT
  public:
    explicit RecordNavigator(QWidget* parent = nullptr);

    QAction* action(NavigateButton button) const;
    // The button that shows the action.
    QWidget* button(NavigateButton button) const;
    void setState(const NavigatorState& state);

  signals:
    void clicked(tarvolen::NavigateButton button);

  private:
    std::array<QAction*, kNavigateButtonCount> m_actions{};
    std::array<QWidget*, kNavigateButtonCount> m_buttons{};
};

}  // namespace tarvolen
