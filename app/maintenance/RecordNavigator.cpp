#include "app/maintenance/RecordNavigator.h"

#include <QAction>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace tarvolen {
namespace {

constexpr int kButtonWidth = 31;
constexpr int kButtonHeight = 33;
constexpr int kGlyphSize = 16;

struct ButtonLook {
    const char* name;
    const char* hint;
};

constexpr std::array<ButtonLook, kNavigateButtonCount> kLooks = {{
    {"First", "First record"},
    {"Prior", "Prior record"},
    {"Next", "Next record"},
    {"Last", "Last record"},
    {"Insert", "Insert record"},
    {"Delete", "Delete record"},
    {"Edit", "Edit record"},
    {"Post", "Post edit"},
    {"Cancel", "Cancel edit"},
}};

QPolygonF leftTriangle(qreal right) {
    return QPolygonF({QPointF(right, 3.5), QPointF(right - 6, 8), QPointF(right, 12.5)});
}
QPolygonF rightTriangle(qreal left) {
    return QPolygonF({QPointF(left, 3.5), QPointF(left + 6, 8), QPointF(left, 12.5)});
}

// The buttons' glyphs, drawn rather than shipped.
QIcon glyph(NavigateButton button) {
    QPixmap pixmap(kGlyphSize, kGlyphSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(30, 30, 30);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    switch (button) {
        case NavigateButton::First:
            p.drawRect(QRectF(3, 3.5, 2, 9));
            p.drawPolygon(leftTriangle(12));
            break;
        case NavigateButton::Prior:
            p.drawPolygon(leftTriangle(11));
            break;
        case NavigateButton::Next:
            p.drawPolygon(rightTriangle(5));
            break;
        case NavigateButton::Last:
            p.drawPolygon(rightTriangle(4));
            p.drawRect(QRectF(11, 3.5, 2, 9));
            break;
        case NavigateButton::Insert:
            p.drawRect(QRectF(7, 3, 2, 10));
            p.drawRect(QRectF(3, 7, 10, 2));
            break;
        case NavigateButton::Delete:
            p.drawRect(QRectF(3, 7, 10, 2));
            break;
        case NavigateButton::Edit:
            p.drawPolygon(QPolygonF({QPointF(3, 11.5), QPointF(8, 4.5), QPointF(13, 11.5)}));
            break;
        case NavigateButton::Post: {
            QPainterPath check;
            check.moveTo(3, 8.5);
            check.lineTo(6.5, 12);
            check.lineTo(13, 4.5);
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(QColor(0, 130, 0), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPath(check);
            break;
        }
        case NavigateButton::Cancel:
            p.setPen(QPen(QColor(190, 0, 0), 2.2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(4, 4), QPointF(12, 12));
            p.drawLine(QPointF(12, 4), QPointF(4, 12));
            break;
    }
    return QIcon(pixmap);
}

}  // namespace

RecordNavigator::RecordNavigator(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int i = 0; i < kNavigateButtonCount; ++i) {
        const auto which = static_cast<NavigateButton>(i);
        const ButtonLook& look = kLooks[static_cast<size_t>(i)];
        auto* action = new QAction(glyph(which), QString::fromLatin1(look.hint), this);
        action->setObjectName(QString::fromLatin1(look.name));
        action->setToolTip(QString::fromLatin1(look.hint));
        connect(action, &QAction::triggered, this, [this, which] { emit clicked(which); });
        auto* button = new QToolButton(this);
        button->setDefaultAction(action);
        button->setObjectName(QStringLiteral("DBNavigator1") + look.name);
        // A button press must leave the focus, and so the typed text, where it is.
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(kButtonWidth, kButtonHeight);
        button->setIconSize(QSize(kGlyphSize, kGlyphSize));
        row->addWidget(button);
        m_actions[static_cast<size_t>(i)] = action;
        m_buttons[static_cast<size_t>(i)] = button;
    }
    setFixedSize(kButtonWidth * kNavigateButtonCount, kButtonHeight);
    setState({});
}

QAction* RecordNavigator::action(NavigateButton button) const {
    return m_actions[static_cast<size_t>(button)];
}

QWidget* RecordNavigator::button(NavigateButton button) const {
    return m_buttons[static_cast<size_t>(button)];
}

void RecordNavigator::setState(const NavigatorState& state) {
    const bool rows = state.active && state.rowCount > 0;
    const bool up = rows && state.row > 0;
    const bool down = rows && state.row >= 0 && state.row < state.rowCount - 1;
    action(NavigateButton::First)->setEnabled(up);
    action(NavigateButton::Prior)->setEnabled(up);
    action(NavigateButton::Next)->setEnabled(down);
    action(NavigateButton::Last)->setEnabled(down);
    action(NavigateButton::Insert)->setEnabled(state.active);
    action(NavigateButton::Delete)->setEnabled(rows);
    action(NavigateButton::Edit)->setEnabled(state.active && !state.editing);
    action(NavigateButton::Post)->setEnabled(state.active && state.editing);
    action(NavigateButton::Cancel)->setEnabled(state.active && state.editing);
}

}  // namespace tarvolen
