#include "app/maintenance/fm_manutenzione.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/AnsiText.h"
#include "app/maintenance/MemoBinding.h"
#include "app/maintenance/PlanGrid.h"
#include "app/maintenance/PlanGridModel.h"
#include "app/maintenance/PlanMessages.h"
#include "plan/PlanLayout.h"
#include "plan/PlanLock.h"

namespace tarvolen {
namespace {

constexpr int kWindowWidth = 869;
constexpr int kWindowHeight = 522;
constexpr int kPanelHeight = 41;
constexpr int kGridHeight = 108;
constexpr int kSplitterHandle = 4;
constexpr int kStatusBarHeight = 19;

// The grid columns with a width of their own; the others take the width their field shows.
struct ColumnWidth {
    int column;
    int width;
};
constexpr ColumnWidth kFixedWidths[] = {
    {PlanGridModel::ColId, 50},        {PlanGridModel::ColStato, 51},
    {PlanGridModel::ColTipo, 40},      {PlanGridModel::ColNomeTabella, 127},
    {PlanGridModel::ColNomeFile, 267},
};
constexpr int kDefaultWidthColumns[] = {
    PlanGridModel::ColSeparatore,
    PlanGridModel::ColSvuotaTabella,
    PlanGridModel::ColVersione,
};

QHash<int, QStringList> columnChoices() {
    return {
        {PlanGridModel::ColStato, {QStringLiteral("N"), QStringLiteral("S")}},
        {PlanGridModel::ColTipo, {QStringLiteral("S"), QStringLiteral("I")}},
        {PlanGridModel::ColSvuotaTabella, {QStringLiteral("S"), QStringLiteral("N")}},
    };
}

}  // namespace

TfmManutenzione::TfmManutenzione(TClientDataSet& cdsQuery, const Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_cdsQuery(cdsQuery), m_dialogs(dialogs) {
    setObjectName("fmManutenzione");
    setWindowTitle("Manutenzione aggiornamento");
    m_model = new PlanGridModel(m_cdsQuery, this);
    buildLayout();
    connect(m_model, &PlanGridModel::stateChanged, this, [this] { updateNavigator(); });
    connect(m_model, &PlanGridModel::failed, this,
            [this](const QString& message) { fieldRefused(message); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { updateNavigator(); });
    updateNavigator();
}

TfmManutenzione::~TfmManutenzione() = default;

void TfmManutenzione::buildLayout() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName("MainMenu1");
    Esci1 = MainMenu1->addAction("Esci");
    Esci1->setObjectName("Esci1");
    Gestione1 = MainMenu1->addMenu("Gestione");
    Gestione1->setObjectName("Gestione1");
    Caricalapianificazione1 = Gestione1->addAction("Carica la pianificazione");
    Caricalapianificazione1->setObjectName("Caricalapianificazione1");
    Salvalapianificazione1 = Gestione1->addAction("Salva la pianificazione");
    Salvalapianificazione1->setObjectName("Salvalapianificazione1");
    N1 = Gestione1->addSeparator();
    N1->setObjectName("N1");
    Cancellalatabella1 = Gestione1->addAction("Cancella la tabella");
    Cancellalatabella1->setObjectName("Cancellalatabella1");
    column->setMenuBar(MainMenu1);
    connect(Esci1, &QAction::triggered, this, [this] { Esci1Click(); });
    connect(Caricalapianificazione1, &QAction::triggered, this,
            [this] { Caricalapianificazione1Click(); });
    connect(Salvalapianificazione1, &QAction::triggered, this,
            [this] { Salvalapianificazione1Click(); });
    connect(Cancellalatabella1, &QAction::triggered, this, [this] { Cancellalatabella1Click(); });

    Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(kPanelHeight);
    DBNavigator1 = new RecordNavigator(Panel1);
    DBNavigator1->setObjectName("DBNavigator1");
    DBNavigator1->move(8, 4);
    connect(DBNavigator1, &RecordNavigator::clicked, this,
            [this](NavigateButton button) { DBNavigator1Click(button); });

    DBGrid1 = new PlanGrid(this);
    DBGrid1->setObjectName("DBGrid1");
    auto* delegate = new PlanFieldDelegate(columnChoices(), DBGrid1);
    DBGrid1->setItemDelegate(delegate);
    connect(delegate, &PlanFieldDelegate::typed, this, [this] { beginEditing(); });
    DBGrid1->setModel(m_model);
    DBGrid1->setColumnHidden(PlanGridModel::ColOrdine, true);
    DBGrid1->setColumnHidden(PlanGridModel::ColTesto, true);  // edited in DBMemo only
    setColumnWidths();
    DBGrid1->setRowChangeGate([this](int row) { return allowRowChange(row); });

    DBMemo = new QPlainTextEdit(this);
    DBMemo->setObjectName("DBMemo");
    DBMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    DBMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DBMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_memoBinding = new MemoBinding(*DBMemo, *m_model, PlanGridModel::ColTesto, this);
    connect(m_memoBinding, &MemoBinding::typed, this, [this] { beginEditing(); });
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { m_memoBinding->setRow(current.row()); });

    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(kSplitterHandle);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->addWidget(DBGrid1);
    Splitter1->addWidget(DBMemo);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(kStatusBarHeight);

    column->addWidget(Panel1);
    column->addWidget(Splitter1, 1);
    column->addWidget(StatusBar1);
    resize(kWindowWidth, kWindowHeight);
    const int memoHeight = std::max(kGridHeight, kWindowHeight - kGridHeight);
    Splitter1->setSizes({kGridHeight, memoHeight});
}

// Each column gets its own width, or the width its field's length in digits needs, and never
// less than its title needs in the font in use.
void TfmManutenzione::setColumnWidths() {
    const QHeaderView& header = *DBGrid1->horizontalHeader();
    for (const ColumnWidth& fixed : kFixedWidths)
        DBGrid1->setColumnWidth(fixed.column,
                                std::max(fixed.width, header.sectionSizeHint(fixed.column)));
    const int digit = DBGrid1->fontMetrics().horizontalAdvance(u'0');
    const int margins = 2 * DBGrid1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 8;
    for (int column : kDefaultWidthColumns) {
        const int data = std::max(m_model->maxLength(column), 1) * digit + margins;
        DBGrid1->setColumnWidth(column, std::max(data, header.sectionSizeHint(column)));
    }
}

void TfmManutenzione::setVisible(bool visible) {
    if (visible && !isVisible()) FormShow();
    QDialog::setVisible(visible);
    if (visible) DBGrid1->setFocus();
}

void TfmManutenzione::FormShow() {
    command(Typing::Drop, [this] { m_model->reload(kPlanFileName); });
    setColumnWidths();
}

void TfmManutenzione::Caricalapianificazione1Click() {
    // A row not yet stored is dropped by the reload, its typed text with it.
    command(Typing::Drop, [this] { m_model->reload(kPlanFileName); });
    setColumnWidths();
}

void TfmManutenzione::Salvalapianificazione1Click() {
    command(Typing::Keep, [this] { m_model->save(kPlanFileName); });
}

void TfmManutenzione::Cancellalatabella1Click() {
    command(Typing::Keep, [this] { m_model->emptyTable(); });
}

void TfmManutenzione::Esci1Click() {
    close();
}

void TfmManutenzione::done(int result) {
    if (!command(Typing::Keep, [this] { m_model->storePending(); })) return;
    QDialog::done(result);
}

void TfmManutenzione::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfmManutenzione::DBNavigator1Click(NavigateButton button) {
    switch (button) {
        case NavigateButton::First:
            command(Typing::Keep, [this] { m_model->first(); });
            break;
        case NavigateButton::Prior:
            command(Typing::Keep, [this] { m_model->prior(); });
            break;
        case NavigateButton::Next:
            command(Typing::Keep, [this] { m_model->next(); });
            break;
        case NavigateButton::Last:
            command(Typing::Keep, [this] { m_model->last(); });
            break;
        case NavigateButton::Insert:
            command(Typing::Keep, [this] { m_model->insert(); });
            break;
        case NavigateButton::Delete: {
            // Asked with the editors as they are: "Cancel" leaves the typed text in place.
            const int answer = m_dialogs.question(
                this, QStringLiteral("Delete record?"), QStringLiteral("Confirm"),
                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
            if (answer == QMessageBox::Ok) command(Typing::Drop, [this] { m_model->remove(); });
            break;
        }
        case NavigateButton::Edit:
            command(Typing::Keep, [this] { m_model->edit(); });
            break;
        case NavigateButton::Post:
            command(Typing::Keep, [this] { m_model->post(); });
            break;
        case NavigateButton::Cancel:
            command(Typing::Drop, [this] { m_model->cancel(); });
            break;
    }
}

void TfmManutenzione::beginEditing() {
    if (m_syncing || m_model->changing() || m_model->editing()) return;
    try {
        m_model->edit();
    } catch (const std::exception& e) {
        showLater(fromFileText(e.what()));
    }
}

QString TfmManutenzione::settleTyping(Typing typing) {
    const QScopedValueRollback settling(m_settling, true);
    m_refused.clear();
    if (typing == Typing::Keep) {
        DBGrid1->commitOpenEditor();
        m_memoBinding->submit();
    } else {
        DBGrid1->discardOpenEditor();
        m_memoBinding->revert();
    }
    return m_refused;
}

QString TfmManutenzione::attempt(Typing typing, const std::function<void()>& command) {
    const QScopedValueRollback syncing(m_syncing, true);
    try {
        QString refused = settleTyping(typing);
        if (!refused.isEmpty()) return refused;
        command();
    } catch (const PlanInUse& e) {
        return planInUseText(e, QStringLiteral("Le modifiche restano in questa finestra: "
                                               "salvarle quando quel processo avrà terminato."));
    } catch (const std::exception& e) {
        return fromFileText(e.what());
    }
    return {};
}

bool TfmManutenzione::command(Typing typing, const std::function<void()>& command) {
    const QString failure = attempt(typing, command);
    showCurrentRow();
    if (failure.isEmpty()) return true;
    m_dialogs.standardError(this, failure);
    return false;
}

bool TfmManutenzione::allowRowChange(int row) {
    if (m_syncing || m_model->changing() || row == m_model->currentRow()) return true;
    const QString failure = attempt(Typing::Keep, [this, row] { m_model->moveTo(row); });
    if (failure.isEmpty()) return true;
    // Refused in the middle of the grid's own handling of a click or a key: the error is shown,
    // and the grid put back on the row that stays in editing, once that handling is over.
    showLater(failure);
    return false;
}

void TfmManutenzione::fieldRefused(const QString& message) {
    if (m_settling) {
        m_refused = message;
        return;
    }
    // Refused while the grid hands over an editor's text of its own accord.
    showLater(message);
}

void TfmManutenzione::showLater(const QString& message) {
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            showCurrentRow();
            m_dialogs.standardError(this, message);
        },
        Qt::QueuedConnection);
}

void TfmManutenzione::showCurrentRow() {
    const QScopedValueRollback syncing(m_syncing, true);
    const int row = m_model->currentRow();
    if (row >= 0) {
        int column = DBGrid1->currentIndex().column();
        if (column < 0 || DBGrid1->isColumnHidden(column)) column = PlanGridModel::ColId;
        const QModelIndex current = m_model->index(row, column);
        DBGrid1->selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect);
        DBGrid1->scrollTo(current);
    } else {
        DBGrid1->selectionModel()->clear();
    }
    m_memoBinding->setRow(row);
    updateNavigator();
}

void TfmManutenzione::updateNavigator() {
    DBNavigator1->setState({.active = m_model->active(),
                            .row = m_model->currentRow(),
                            .rowCount = m_model->rowCount(),
                            .editing = m_model->editing()});
}

}  // namespace tarvolen
