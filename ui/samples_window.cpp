#include "ui/samples_window.h"

#include "core/numtext.h"
#include "core/solubility_sets.h"
#include "export/exports.h"
#include "export/workbook_table.h"
#include "study/input/sample_table.h"
#include "study/models/models.h"
#include "ui/samples_model.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QTableWidget>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string_view>

namespace temra::ui {

namespace {

namespace SC = study::SampleColumn;

// A table whose first column (the sample's name) stays in place while the others
// scroll under it: a second view of the same model, showing that column only,
// lies over the first one's.
class NameFrozenTable : public QTableView {
  public:
    explicit NameFrozenTable(QWidget* parent) : QTableView(parent), names_(new QTableView(this)) {
        setHorizontalScrollMode(ScrollPerPixel);
        setVerticalScrollMode(ScrollPerPixel);
    }
    QTableView* Names() const { return names_; }

    void setModel(QAbstractItemModel* model) override {
        QTableView::setModel(model);
        names_->setObjectName("Names");
        names_->setModel(model);
        names_->setSelectionModel(selectionModel());
        names_->setSelectionBehavior(SelectRows);
        names_->setFocusPolicy(Qt::NoFocus);
        names_->verticalHeader()->hide();
        names_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        names_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        names_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        names_->setVerticalScrollMode(ScrollPerPixel);
        names_->setFrameShape(QFrame::NoFrame);
        names_->setStyleSheet("QTableView { border-right: 1px solid palette(mid); }");
        viewport()->stackUnder(names_);
        connect(horizontalHeader(), &QHeaderView::sectionResized, this,
                [this](int column, int, int size) {
                    if (column != 0) return;
                    names_->setColumnWidth(0, size);
                    Place();
                });
        connect(verticalHeader(), &QHeaderView::sectionResized, this,
                [this](int row, int, int size) { names_->setRowHeight(row, size); });
        connect(names_->verticalScrollBar(), &QAbstractSlider::valueChanged, verticalScrollBar(),
                &QAbstractSlider::setValue);
        connect(verticalScrollBar(), &QAbstractSlider::valueChanged, names_->verticalScrollBar(),
                &QAbstractSlider::setValue);
        // Rows added: the names' range follows the table's after it has scrolled.
        connect(names_->verticalScrollBar(), &QAbstractSlider::rangeChanged, this,
                [this] { names_->verticalScrollBar()->setValue(verticalScrollBar()->value()); });
        connect(model, &QAbstractItemModel::modelReset, this, [this] { HideOthers(); });
        HideOthers();
        Place();
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QTableView::resizeEvent(event);
        Place();
    }
    void updateGeometries() override {
        QTableView::updateGeometries();
        Place();
    }
    // Moving left under the names scrolls the cell into view beside them.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        const QModelIndex current = QTableView::moveCursor(action, modifiers);
        if (action == MoveLeft && current.column() > 0 &&
            visualRect(current).topLeft().x() < names_->columnWidth(0))
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() +
                                            visualRect(current).topLeft().x() -
                                            names_->columnWidth(0));
        return current;
    }
    void scrollTo(const QModelIndex& index, ScrollHint hint) override {
        if (!model() || !index.isValid()) return;
        if (index.column() > 0)
            QTableView::scrollTo(index, hint);
        else
            QTableView::scrollTo(model()->index(index.row(), 0), hint);
    }

  private:
    void HideOthers() {
        for (int c = 1; c < model()->columnCount(); ++c) names_->setColumnHidden(c, true);
        names_->setColumnWidth(0, columnWidth(0));
    }
    void Place() {
        names_->setGeometry(verticalHeader()->width() + frameWidth(), frameWidth(), columnWidth(0),
                            viewport()->height() + horizontalHeader()->height());
    }
    QTableView* names_;
};

QString Quoted(char c) {
    return QString("\"%1\"").arg(QChar(c));
}

} // namespace

SamplesWindow::SamplesWindow(TemraApp& app)
    : TemraWindow(app), model_(new SamplesModel(this)),
      separator_(app.module().run.DecimalSeparator) {
    setObjectName("Samples");
    setWindowTitle("Temra – Samples");
    MakeTable();
    MakeButtons();
    QGroupBox* settings = MakeSettings();
    MakeViewAndNotes();
    QVBoxLayout* page = LayOut(settings);
    MakeMenuBar();
    page->setMenuBar(MenuBar);
    ConnectControls();
    SettingsChanged();
    ShowView(kMeasurements);
    FitFirstSize(*this, 1240, 660);
}

// The table of samples, its names frozen at the left.
void SamplesWindow::MakeTable() {
    auto* table = new NameFrozenTable(this);
    Table = table;
    Table->setObjectName("Table");
    Table->setModel(model_);
    Names = table->Names();
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setWordWrap(false);
    Table->setTextElideMode(Qt::ElideRight);
    Table->setMinimumSize(560, 200);
    Table->horizontalHeader()->setStretchLastSection(true);
    const int rowHeight = fontMetrics().lineSpacing() + 8;
    Table->verticalHeader()->setDefaultSectionSize(rowHeight);
    Names->verticalHeader()->setDefaultSectionSize(rowHeight);
}

void SamplesWindow::MakeButtons() {
    OpenButton = MakeButton(this, "OpenButton", "Open…");
    AddButton = MakeButton(this, "AddButton", "Add row");
    DeleteButton = MakeButton(this, "DeleteButton", "Delete rows");
    FitButton = MakeButton(this, "FitButton", "Fit all");
    UseButton = MakeButton(this, "UseButton", "Use on input page");
    AddInputButton = MakeButton(this, "AddInputButton", "Add the input page's sample");
    AddInputButton->setToolTip("Adds a row made from the input page's measured gases, density "
                               "and chloride, with blank errors to type");
    MapButton = MakeButton(this, "MapButton", "Misfit map");
    ExportButton = MakeButton(this, "ExportButton", "Export results");
}

// The settings of the fit, above the table.
QGroupBox* SamplesWindow::MakeSettings() {
    auto* settings = new QGroupBox("Fit settings", this);
    settings->setObjectName("Settings");
    ModelChoice = new QComboBox(settings);
    ModelChoice->setObjectName("ModelChoice");
    for (const study::ModelInfo& m : study::Models()) ModelChoice->addItem(Q(m.choice));
    ModelChoice->addItem("All models, side by side");
    auto* gases = new QHBoxLayout;
    const study::StudyOptions defaults;
    for (std::size_t i = 0; i < Gas.size(); ++i) {
        // Its box is named by the gas's place, Gas1 (He-4) to Gas7 (O2).
        Gas[i] =
            MakeCheck(settings, ("Gas" + std::to_string(i + 1)).c_str(), Q(kGases[i].graphLabel));
        Gas[i]->setChecked(defaults.gases[i]);
        gases->addWidget(Gas[i]);
    }
    // Monte Carlo: draws of each sample fitted after the fit (0: none).
    McDraws = MakeEdit(settings, "McDraws", "0", 900);
    McDraws->setMaximumWidth(8 * fontMetrics().averageCharWidth());
    McDraws->setToolTip("Each sample's measurements drawn this many times from normal "
                        "distributions with their errors and fitted again; the spread of the "
                        "fits is said under the table (seed 1: the same draws each time)");
    gases->addSpacing(16);
    gases->addWidget(MakeLabel(settings, "McDrawsLabel", "Monte Carlo draws"));
    gases->addWidget(McDraws);
    gases->addStretch();
    GridNote = MakeLabel(settings, "GridNote",
                         "The grid is the input page's as it stands: its elevation and "
                         "temperature boxes, the MAAT equation, and its chloride and density "
                         "for samples without those columns.");
    WrapWithin(GridNote, 600);
    auto* form = new QGridLayout(settings);
    form->addWidget(MakeLabel(settings, "ModelLabel", "Model"), 0, 0);
    form->addWidget(ModelChoice, 0, 1);
    form->addWidget(MakeLabel(settings, "GasesLabel", "Fitted gases"), 0, 2);
    form->addLayout(gases, 0, 3);
    form->addWidget(MakeLabel(settings, "RelErrLabel", "Relative error (where a sample has none)"),
                    1, 0, 1, 2);
    form->addLayout(MakeBounds(settings), 1, 2, 1, 2);
    PerGram = MakeCheck(settings, "PerGram",
                        "Concentrations per gram of water (each × the sample's density)");
    QHBoxLayout* data = MakeSolubilityChoice(settings);
    data->insertWidget(0, PerGram);
    data->insertSpacing(1, 24);
    form->addLayout(data, 2, 0, 1, 4);
    form->addWidget(GridNote, 3, 0, 1, 4);
    form->setColumnStretch(3, 1);
    return settings;
}

// The solubility data set of the fit: Temra's own model, or one of the field's
// standard sets, each named with its sources.
QHBoxLayout* SamplesWindow::MakeSolubilityChoice(QGroupBox* settings) {
    SolubilityChoice = new QComboBox(settings);
    SolubilityChoice->setObjectName("SolubilityChoice");
    for (const SolubilitySetInfo& set : SolubilitySets()) {
        SolubilityChoice->addItem(Q(set.name));
        SolubilityChoice->setItemData(SolubilityChoice->count() - 1, Q(set.sources),
                                      Qt::ToolTipRole);
    }
    SolubilityChoice->addItem("All data sets, side by side");
    SolubilityChoice->setItemData(SolubilityChoice->count() - 1,
                                  "Every data set fitted; the selected sample's fits are shown "
                                  "side by side with their shift against builtin",
                                  Qt::ToolTipRole);
    SolubilityChoice->setToolTip("The solubility data of every equilibrium concentration of the "
                                 "fit; the input page computes with Temra's own");
    auto* row = new QHBoxLayout;
    row->addWidget(MakeLabel(settings, "SolubilityLabel", "Solubility data"));
    row->addWidget(SolubilityChoice);
    row->addStretch();
    return row;
}

// The relative error, the largest A, and the chosen model's own bound and
// exponent, in a row.
QHBoxLayout* SamplesWindow::MakeBounds(QGroupBox* settings) {
    const study::StudyOptions defaults;
    RelErr = MakeEdit(settings, "RelErr", ExactText(defaults.relErr), 900);
    AMax = MakeEdit(settings, "AMax", ExactText(study::Models().front().params[0].upper), 900);
    AMax->setToolTip("The largest excess air A of every model: a fit that reaches it is flagged "
                     "A=max");
    Upper = MakeEdit(settings, "Upper", "", 900);
    UpperLabel = MakeLabel(settings, "UpperLabel", "");
    Beta = MakeEdit(settings, "Beta", "", 900);
    BetaLabel = MakeLabel(settings, "BetaLabel", "");
    for (QLineEdit* box : {RelErr, AMax, Upper})
        box->setMaximumWidth(16 * fontMetrics().averageCharWidth());
    // Wide enough for an exponent of seventeen digits (GR's 2/3) read whole.
    Beta->setMaximumWidth(20 * fontMetrics().averageCharWidth());
    auto* bounds = new QHBoxLayout;
    bounds->addWidget(RelErr);
    bounds->addSpacing(16);
    bounds->addWidget(MakeLabel(settings, "AMaxLabel", "Largest A (cm³ STP/g H2O)"));
    bounds->addWidget(AMax);
    bounds->addSpacing(16);
    // Shown in the boxes' place when every model is compared (it takes no room
    // while hidden, so the boxes keep theirs).
    BoundsButton = MakeButton(settings, "BoundsButton", "Bounds of every model…");
    BoundsButton->setToolTip("Comparing every model, each keeps its own bound and exponent: "
                             "see and change them here");
    BoundsButton->hide();
    bounds->addWidget(BoundsButton);
    bounds->addWidget(UpperLabel);
    bounds->addWidget(Upper);
    bounds->addSpacing(8);
    bounds->addWidget(BetaLabel);
    bounds->addWidget(Beta);

    KeepBoundBoxesInPlace();
    ShowUpperOf(&study::Models().front());
    bounds->addStretch();
    return bounds;
}

void SamplesWindow::KeepBoundBoxesInPlace() {
    // The labels are as wide as the widest they show, and the boxes keep their
    // room while hidden.
    int widest = 0, widestBeta = 0;
    for (const study::ModelInfo& m : study::Models()) {
        if (const study::ModelParam* p = UpperParam(m))
            widest = std::max(widest, UpperLabel->fontMetrics().horizontalAdvance(
                                          Q(study::BoxOfOption(p->option))));
        if (!m.exponent.option.empty())
            widestBeta = std::max(widestBeta, BetaLabel->fontMetrics().horizontalAdvance(
                                                  Q(study::BoxOfOption(m.exponent.option))));
    }
    UpperLabel->setMinimumWidth(widest);
    BetaLabel->setMinimumWidth(widestBeta);
    for (QWidget* w : std::initializer_list<QWidget*>{UpperLabel, Upper, BetaLabel, Beta}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
}

// The choice of measurements or results, the selected row's note and the status.
void SamplesWindow::MakeViewAndNotes() {
    ViewChoice = new QTabBar(this);
    ViewChoice->setObjectName("ViewChoice");
    ViewChoice->addTab("Measurements");
    ViewChoice->addTab("Results");
    ViewChoice->setDrawBase(false);
    ViewChoice->setExpanding(false);

    RowNote = MakeLabel(this, "RowNote", "");
    Models = new QTableWidget(this);
    Models->setObjectName("Models");
    Models->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Models->hide();
    RowNote->setWordWrap(true);
    RowNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    RowNote->setMinimumHeight(2 * RowNote->fontMetrics().lineSpacing() + 4);
    RowNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Status = MakeLabel(this, "Status", "");
    Status->setWordWrap(true);
    Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Status->setMinimumHeight(2 * Status->fontMetrics().lineSpacing() + 4);
    Status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Many notes scroll within a few lines rather than push the table away.
    StatusArea = new QScrollArea(this);
    StatusArea->setObjectName("StatusArea");
    StatusArea->setWidget(Status);
    StatusArea->setWidgetResizable(true);
    StatusArea->setFrameShape(QFrame::NoFrame);
    StatusArea->setMaximumHeight(6 * Status->fontMetrics().lineSpacing() + 8);
}

QVBoxLayout* SamplesWindow::LayOut(QGroupBox* settings) {
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {OpenButton, AddButton, DeleteButton, FitButton, UseButton,
                           AddInputButton, MapButton, ExportButton})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* page = new QVBoxLayout(this);
    page->addLayout(buttons);
    page->addWidget(settings);
    page->addWidget(ViewChoice);
    page->setSpacing(6);
    page->addWidget(Table, 1);
    page->addWidget(Models);
    page->addWidget(RowNote);
    page->addWidget(StatusArea);
    return page;
}

// The menu bar: the table's file and its edits.
void SamplesWindow::MakeMenuBar() {
    MenuBar = new QMenuBar(this);
    MenuBar->setObjectName("MenuBar");
    QMenu* file = MenuBar->addMenu("&File");
    file->addAction("&Open samples…", QKeySequence::Open, this, [this] { Open(); });
    SaveAction = file->addAction("&Save samples…", QKeySequence::Save, this, [this] { Save(); });
    file->addAction("&Export results", this, [this] { ExportResults(); });
    file->addSeparator();
    file->addAction("&Close", QKeySequence::Close, this, [this] { close(); });
    QMenu* fit = MenuBar->addMenu("F&it");
    PriorAction = fit->addAction("Lapse-rate &prior (MAAT line, ±1 °C)");
    PriorAction->setCheckable(true);
    PriorAction->setToolTip("Weigh each grid case by a normal prior on its temperature around "
                            "the temperature of the input page's MAAT equation at its elevation "
                            "(plus the offset); the posterior is said under the table and drawn "
                            "on the misfit map");
    PriorSettingsAction =
        fit->addAction("Prior's &offset and spread…", this, [this] { AskPriorSettings(); });
    fit->addAction("&Bounds of the models…", this, [this] { AskModelBounds(); });
    EnsembleAction = fit->addAction("Fit &groups together (shared T and elevation)");
    EnsembleAction->setCheckable(true);
    EnsembleAction->setToolTip("The samples of one group (the column \"group\") share their "
                               "recharge temperature and elevation, each with its own excess "
                               "air: they are fitted on the sum of their misfits");
    fit->addSeparator();
    fit->addAction("Fit &all", this, [this] { FitAll(); });
    DrawsAction =
        fit->addAction("Monte Carlo &draws of the sample", this, [this] { ShowMonteCarloDraws(); });
    DrawsAction->setToolTip("The histograms of the selected sample's Monte Carlo draws, "
                            "fitted again as its fit drew them");
    QMenu* edit = MenuBar->addMenu("&Edit");
    UndoAction = model_->UndoStack()->createUndoAction(this, "&Undo");
    UndoAction->setShortcut(QKeySequence::Undo);
    RedoAction = model_->UndoStack()->createRedoAction(this, "&Redo");
    RedoAction->setShortcut(QKeySequence::Redo);
    edit->addAction(UndoAction);
    edit->addAction(RedoAction);
    edit->addSeparator();
    PasteAction = edit->addAction("&Paste rows", QKeySequence::Paste, this,
                                  [this] { Paste(QGuiApplication::clipboard()->text()); });
    edit->addAction("&Add row", this, [this] { AddButton->click(); });
    edit->addAction("Add the &input page's sample", this, [this] { AddInputPageSample(); });
    edit->addAction("&Delete rows", this, [this] { DeleteButton->click(); });
    for (QAction* a : {UndoAction, RedoAction}) addAction(a); // their keys work in the window
    // A word of an undo or a redo goes with the next edit.
    // (The stack also changes while the window is taken down: the label alone is
    // touched, and only while it lives.)
    connect(model_->UndoStack(), &QUndoStack::indexChanged, Status, [status = Status] {
        const QString said = status->text();
        if (said.startsWith("Undone: ") || said.startsWith("Redone: ")) status->clear();
    });
    connect(UndoAction, &QAction::triggered, this, [this] {
        Status->setText("Undone: " + model_->UndoStack()->redoText() +
                        " (Ctrl+Shift+Z redoes it).");
    });
    connect(RedoAction, &QAction::triggered, this,
            [this] { Status->setText("Redone: " + model_->UndoStack()->undoText() + "."); });
    QMenu* help = MenuBar->addMenu("&Help");
    help->addAction("&User guide (the study fit)", QKeySequence::HelpContents, this,
                    [this] { app_.ShowGuide("5 The study fit"); });
}

void SamplesWindow::ConnectControls() {
    connect(OpenButton, &QPushButton::clicked, this, [this] { Open(); });
    connect(AddButton, &QPushButton::clicked, this, [this] {
        model_->AddRow();
        ShowView(kMeasurements);
        Table->scrollToBottom();
        Table->setCurrentIndex(model_->index(model_->rowCount() - 1, 0));
    });
    connect(DeleteButton, &QPushButton::clicked, this, [this] {
        std::vector<int> rows;
        for (const QModelIndex& i : Table->selectionModel()->selectedIndexes())
            rows.push_back(i.row());
        if (rows.empty()) {
            app_.Inform(this, "Select the rows to delete.");
            return;
        }
        model_->RemoveRows(rows);
        Status->setText("Rows deleted (Ctrl+Z brings them back).");
    });
    connect(FitButton, &QPushButton::clicked, this, [this] { FitAll(); });
    connect(UseButton, &QPushButton::clicked, this, [this] { UseOnInputPage(); });
    connect(AddInputButton, &QPushButton::clicked, this, [this] { AddInputPageSample(); });
    connect(MapButton, &QPushButton::clicked, this, [this] { ShowMisfitMap(); });
    connect(BoundsButton, &QPushButton::clicked, this, [this] { AskModelBounds(); });
    connect(ExportButton, &QPushButton::clicked, this, [this] { ExportResults(); });
    connect(ViewChoice, &QTabBar::currentChanged, this,
            [this](int view) { ShowView(static_cast<View>(view)); });
    connect(Table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { UpdateRowNote(); });
    connect(model_, &QAbstractItemModel::dataChanged, this, [this] { UpdateRowNote(); });
    // A map or draws of samples no longer in the table as they were say so.
    connect(model_, &QAbstractItemModel::dataChanged, &app_, &TemraApp::SamplesTableChanged);
    connect(model_, &QAbstractItemModel::rowsInserted, &app_, &TemraApp::SamplesTableChanged);
    connect(model_, &QAbstractItemModel::rowsRemoved, &app_, &TemraApp::SamplesTableChanged);
    connect(model_, &QAbstractItemModel::modelReset, &app_, &TemraApp::SamplesTableChanged);
    // The cells are checked against the settings as they change, and results of
    // other settings are marked.
    connect(ModelChoice, &QComboBox::currentIndexChanged, this, [this](int index) {
        const auto k = static_cast<std::size_t>(std::max(0, index));
        ShowUpperOf(k < study::Models().size() ? &study::Models()[k] : nullptr);
        SettingsChanged();
    });
    for (QCheckBox* c : Gas) connect(c, &QCheckBox::toggled, this, [this] { SettingsChanged(); });
    connect(PerGram, &QCheckBox::toggled, this, [this] { SettingsChanged(); });
    connect(SolubilityChoice, &QComboBox::currentIndexChanged, this, [this] { SettingsChanged(); });
    connect(PriorAction, &QAction::toggled, this, [this] { SettingsChanged(); });
    connect(EnsembleAction, &QAction::toggled, this, [this] { SettingsChanged(); });
    for (QLineEdit* e : {RelErr, AMax, Upper, Beta, McDraws})
        connect(e, &QLineEdit::editingFinished, this, [this] { SettingsChanged(); });
    connect(&app_, &TemraApp::InputPageChanged, this, [this] { SettingsChanged(); });
}

void SamplesWindow::ShowView(View view) {
    if (ViewChoice->currentIndex() != view) {
        ViewChoice->setCurrentIndex(view); // comes back here
        return;
    }
    const bool results = view == kResults;
    // The model of each row is shown when the rows may show different models.
    const int modelColumn = model_->ResultColumnOf("model");
    for (int c = 1; c < model_->columnCount(); ++c)
        Table->setColumnHidden(c, results
                                      ? c < SC::kCount || model_->UnusedColumn(c) ||
                                            (c == modelColumn && !model_->FitOptions().allModels)
                                      : c >= SC::kCount);
    FitColumns();
    Table->horizontalScrollBar()->setValue(0);
    UpdateRowNote();
}

void SamplesWindow::UpdateViewNames() {
    ViewChoice->setTabText(kResults, model_->OutOfDate().isEmpty() || !model_->HasResults()
                                         ? "Results"
                                         : "Results (out of date)");
    ViewChoice->setTabToolTip(kResults, model_->OutOfDate().isEmpty()
                                            ? QString()
                                            : "Fitted before a change of " +
                                                  model_->OutOfDate().join("; ") +
                                                  ". Fit all again.");
}

// Columns as wide as their texts, up to a limit: the rest of a long number is
// shown by widening the column or in its tooltip. The flags are shown whole.
void SamplesWindow::FitColumns() {
    Table->resizeColumnsToContents();
    QHeaderView* header = Table->horizontalHeader();
    const int widest = 12 * fontMetrics().averageCharWidth() + 16;
    for (int c = 0; c < header->count(); ++c) {
        if (c == model_->ResultColumnOf("flags")) continue;
        const int limit =
            std::max(c == SC::kName ? 2 * widest : widest, header->sectionSizeHint(c));
        if (header->sectionSize(c) > limit) header->resizeSection(c, limit);
    }
}

void SamplesWindow::UpdateRowNote() {
    const int row = Table->currentIndex().isValid() ? Table->currentIndex().row() : SelectedRow();
    QString note;
    if (row >= 0 && row < model_->rowCount()) {
        note = model_->ResultNote(row);
        if (note.isEmpty() || ViewChoice->currentIndex() == kMeasurements) {
            // What keeps the sample from being fitted, every cell of it.
            QStringList problems;
            for (int c = 0; c < SC::kCount; ++c)
                if (model_->data(model_->index(row, c), Qt::BackgroundRole).isValid())
                    problems << model_->data(model_->index(row, c), Qt::ToolTipRole).toString();
            if (!problems.isEmpty())
                note = QString::fromStdString(study::SampleLabel(model_->SampleAt(row))) + ": " +
                       problems.join("; ");
        }
    }
    RowNote->setText(note);
    UpdateModels(row);
}

namespace {

// A fit's column in the side-by-side view of the models and data sets: its values
// (with its shift against builtin's when the data sets are compared), or its
// refusal in the last of `rows` cells.
QStringList ModelCells(const study::StudyResult& r, int rows, bool shifts, char sep) {
    QStringList cells;
    if (!r.error.empty()) {
        cells = QStringList(rows - 1, QString());
        cells << "error: " + QString::fromStdString(r.error);
        return cells;
    }
    const study::ModelInfo& m = study::InfoOf(r.model);
    QStringList flags;
    for (const std::string& f : r.flags) flags << QString::fromStdString(f);
    cells << TemperatureText(r.temperature, sep) << ElevationText(r.elevation, sep)
          << GlanceText(r.A, sep)
          << (r.second ? Q(m.params[1].symbol) + " = " + GlanceText(r.second->value, sep)
                       : QString())
          << GlanceText(r.chi2, sep) << QString::number(r.dof)
          << (r.p ? GlanceText(*r.p, sep) : QString()) << (r.preferred ? "yes" : "");
    if (shifts && r.shift)
        cells << TemperatureText(r.shift->T, sep) << ElevationText(r.shift->E, sep)
              << GlanceText(r.shift->A, sep);
    else if (shifts)
        cells << QString() << QString() << QString();
    cells << flags.join("; ");
    return cells;
}

} // namespace

void SamplesWindow::UpdateModels(int row) {
    const auto* all = row >= 0 && row < model_->rowCount() ? model_->ModelResultsAt(row) : nullptr;
    Models->setVisible(all != nullptr && ViewChoice->currentIndex() == kResults);
    if (!all) return;
    // A row per model and data set, its values side by side with the others'.
    const study::StudyOptions& fitted = model_->FitOptions();
    QStringList columns = {"T (°C)", "Elevation (m)", "A", "Second", "χ²", "dof", "p", "Preferred"};
    if (fitted.allSolubility)
        columns << "ΔT vs builtin"
                << "ΔE vs builtin"
                << "ΔA vs builtin";
    columns << "Flags";
    Models->setColumnCount(static_cast<int>(columns.size()));
    Models->setRowCount(static_cast<int>(all->size()));
    Models->setHorizontalHeaderLabels(columns);
    for (int k = 0; k < static_cast<int>(all->size()); ++k) {
        const study::StudyResult& r = (*all)[static_cast<std::size_t>(k)];
        QStringList label;
        if (fitted.allModels) label << Q(study::InfoOf(r.model).name);
        if (fitted.allSolubility) label << Q(SetInfoOf(r.solubility).key);
        Models->setVerticalHeaderItem(k, new QTableWidgetItem(label.join(", ")));
        const QStringList cells =
            ModelCells(r, static_cast<int>(columns.size()), fitted.allSolubility, separator_);
        for (int i = 0; i < static_cast<int>(cells.size()); ++i)
            Models->setItem(k, i, new QTableWidgetItem(cells[i]));
    }
    Models->resizeColumnsToContents();
    Models->resizeRowsToContents();
    // Every fit in view without scrolling, up to ten (every model with every data
    // set scrolls, leaving the table its room on a small screen).
    constexpr int kRowsInView = 10;
    int height = Models->horizontalHeader()->height() + 2 * Models->frameWidth();
    for (int k = 0; k < std::min(Models->rowCount(), kRowsInView); ++k)
        height += Models->rowHeight(k);
    Models->setFixedHeight(height);
}

bool SamplesWindow::OpenFile(const QString& path) {
    // A workbook of several sheets: the user says which holds the samples (a
    // study's workbook gives its own).
    std::vector<std::string> sheets;
    if (!app_.Attempt(this, [&] {
            sheets = xl::SheetNames(path.toStdString(), app_.module().run.MemoryAvailable());
        }))
        return false;
    std::string sheet;
    if (sheets.size() > 1 && sheets.front() != xl::kStudySheet) {
        QStringList names;
        for (const std::string& s : sheets) names << Q(s);
        const auto chosen =
            app_.Choose(this,
                        QString("The workbook \"%1\" has %2 sheets. Which holds the samples?")
                            .arg(QFileInfo(path).fileName())
                            .arg(sheets.size()),
                        names);
        if (!chosen) return false;
        sheet = sheets[static_cast<std::size_t>(*chosen)];
    }
    SampleBlock block;
    std::string sheetNote;
    const bool read = app_.Attempt(this, [&] {
        xl::TableFile file =
            xl::ReadTableFile(path.toStdString(), sheet, app_.module().run.MemoryAvailable());
        block = SamplesOfTable(file.table, separator_);
        sheetNote = std::move(file.note);
    });
    if (!read) return false;
    const auto count = block.samples.size();
    ++tableNumber_;
    tableName_ = QFileInfo(path).fileName();
    model_->SetSamples(std::move(block.samples));
    conversions_ = block.notes;
    source_ = path;
    savedHere_ = false;
    setWindowTitle("Temra – Samples – " + QFileInfo(path).fileName());
    ShowView(kMeasurements);
    QString note = BlockNote(block);
    if (!sheetNote.empty()) note = QString::fromStdString(sheetNote) + "; " + note;
    Status->setText(QString("%1 read from %2; %3.").arg(Counted(count, "sample"), path, note));
    OfferFittedOptions(path);
    return true;
}

// What the status line says of a table taken in: the decimal separator its
// numbers were read with, the columns not read, and what reading it converted.
QString SamplesWindow::BlockNote(const SampleBlock& block) const {
    QString note = "decimal separator " + Quoted(block.decimal);
    if (block.decimal != separator_)
        note += QString(" (the table is comma-separated), shown with %1").arg(Quoted(separator_));
    else if (block.decimal != '.')
        note += " (\".\" read as well)";
    if (!block.ignored.empty()) {
        QStringList names;
        for (const std::string& n : block.ignored) names << "\"" + QString::fromStdString(n) + "\"";
        note += "; columns not read: " + names.join(", ");
    }
    for (const std::string& n : block.notes) note += "; " + QString::fromStdString(n);
    return note;
}

void SamplesWindow::Open() {
    if (!MayLeaveTable()) return;
    const QString path = QFileDialog::getOpenFileName(
        this, "Open samples", source_.isEmpty() ? QString() : QFileInfo(source_).absolutePath(),
        "Tables of samples (*.csv *.txt *.tsv *.xlsx);;All files (*)");
    if (!path.isEmpty()) OpenFile(path);
}

void SamplesWindow::Paste(const QString& text) {
    if (text.trimmed().isEmpty()) return;
    // One value goes into the current cell, as typed there.
    const QModelIndex current = Table->currentIndex();
    const QString value = text.trimmed();
    if (!value.contains('\t') && !value.contains('\n') && !value.contains('\r') &&
        current.isValid() && current.column() < SC::kCount) {
        model_->setData(current, value);
        Status->setText(QString("Pasted into %1 of %2.")
                            .arg(QString::fromStdString(SC::Name(current.column())),
                                 QString::fromStdString(model_->SampleAt(current.row()).name)));
        return;
    }
    SampleBlock block;
    if (!app_.Attempt(this, [&] { block = SamplesFromText(text, separator_); })) return;
    const int first = model_->rowCount();
    const auto count = block.samples.size();
    model_->AppendSamples(std::move(block.samples));
    ShowView(kMeasurements);
    if (count > 0) {
        // The pasted rows, selected and in view.
        const int last = first + static_cast<int>(count) - 1;
        Table->setCurrentIndex(model_->index(first, 0));
        Table->selectionModel()->select(
            QItemSelection(model_->index(first, 0), model_->index(last, model_->columnCount() - 1)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        Table->scrollTo(model_->index(last, 0));
        Table->scrollTo(model_->index(first, 0));
    }
    for (const std::string& n : block.notes)
        if (std::find(conversions_.begin(), conversions_.end(), n) == conversions_.end())
            conversions_.push_back(n);
    Status->setText(
        QString("%1 pasted; %2. Ctrl+Z takes %3 out again.")
            .arg(Counted(count, "sample"), BlockNote(block), count == 1 ? "it" : "them"));
}

std::vector<study::Sample> SamplesWindow::TableSamples() const {
    return model_->Samples();
}

int SamplesWindow::SelectedRow() const {
    const QModelIndexList rows = Table->selectionModel()->selectedRows();
    if (!rows.isEmpty()) return rows.front().row();
    const QModelIndex current = Table->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void SamplesWindow::UseOnInputPage() {
    const int row = SelectedRow();
    if (row < 0) {
        app_.Inform(this, "Select the sample to use on the input page.");
        return;
    }
    // The page reads the numbers as the table does; they go there with its
    // decimal separator.
    study::Sample sample = model_->SampleAt(row);
    for (int c = 1; c < SC::kCount; ++c) {
        if (!SC::HoldsNumber(c)) continue;
        std::string& text = SC::Text(sample, c);
        text = study::DecimalText(text, separator_, separator_);
    }
    const QStringList kept = app_.UseSampleOnInputPage(sample);
    QString status = QString("%1 is on the input page.").arg(QString::fromStdString(sample.name));
    if (!kept.isEmpty())
        status += " The sample has no value for " + kept.join(", ") +
                  (kept.size() == 1 ? ": that box keeps what it held."
                                    : ": those boxes keep what they held.");
    Status->setText(status);
}

void SamplesWindow::LeaveOutStoredDefaults(study::Sample& sample) {
    // A measured box that still holds the program's stored default was most
    // likely not typed: the user says whether it is a measurement.
    QStringList held;
    std::vector<std::size_t> gases;
    for (int g = 0; g < GasCount; ++g) {
        const std::string& text = sample.measured[static_cast<std::size_t>(g)];
        const Field& f = FieldOf(fields::Measured(g));
        if (text.empty() || text != f.defaultText) continue;
        held << QString("%1 (%2)").arg(Q(f.label), Q(text));
        gases.push_back(static_cast<std::size_t>(g));
    }
    if (held.isEmpty()) return;
    const bool one = held.size() == 1;
    const QString text =
        (one ? QString("The input page's box %1 still holds its stored default, not a value "
                       "typed there.")
             : QString("The input page's boxes %1 still hold their stored defaults, not values "
                       "typed there."))
            .arg(held.join(", ")) +
        QString("\n\nLeave %1 blank in the new row (a blank gas is fitted without)?")
            .arg(one ? "it" : "them");
    if (!app_.Ask(this, text, "Leave blank", "Take as measured")) return;
    for (std::size_t g : gases) sample.measured[g].clear();
}

void SamplesWindow::AddInputPageSample() {
    const Form1Texts page = app_.InputTexts();
    const auto trimmed = [](const std::string& text) {
        return QString::fromStdString(text).trimmed().toStdString();
    };
    study::Sample sample;
    sample.name = "input page";
    const std::vector<study::Sample> rows = model_->Samples();
    for (int n = 2; std::any_of(rows.begin(), rows.end(),
                                [&](const study::Sample& s) { return s.name == sample.name; });
         ++n)
        sample.name = "input page " + std::to_string(n);
    for (int g = 0; g < GasCount; ++g)
        sample.measured[static_cast<std::size_t>(g)] = trimmed(page.Measured(g));
    sample.density = trimmed(page.Text14);
    sample.chloride = trimmed(page.Text15);
    LeaveOutStoredDefaults(sample);
    model_->AppendSamples({sample}, "the input page's sample added");
    ShowView(kMeasurements);
    // The cursor on the error of the first fitted gas, where the errors are typed.
    const int row = model_->rowCount() - 1;
    int column = SC::kName;
    for (int g = GasCount - 1; g >= 0; --g)
        if (Gas[static_cast<std::size_t>(g)]->isChecked()) column = SC::Error(g);
    Table->setCurrentIndex(model_->index(row, column));
    Table->scrollTo(model_->index(row, column));
    Table->setFocus();
    Status->setText(QString("The input page's sample is row %1, \"%2\", with blank errors: type "
                            "them in its \"err\" columns (a blank error is the relative error, "
                            "%3, times the value). Ctrl+Z takes the row out again.")
                        .arg(model_->SampleAt(row).row)
                        .arg(QString::fromStdString(sample.name), Q(Text(RelErr))));
}

void SamplesWindow::ExportResults() {
    if (!model_->HasResults()) {
        app_.Inform(this, "Fit the samples first: there are no results to export.");
        return;
    }
    const std::vector<study::StudyResult> results = model_->ResultsToExport();
    const study::StudyOptions fitted = model_->FitOptions();
    xl::Settings settings = xl::WrittenBy();
    settings.emplace_back("Samples", source_.isEmpty() ? "typed or pasted in the samples window"
                                                       : source_.toStdString());
    if (!source_.isEmpty())
        settings.emplace_back("Samples edited since opened or saved",
                              model_->UndoStack()->isClean()
                                  ? "no"
                                  : "yes: the sheet \"Samples\" holds the table as fitted");
    for (auto& s : study::StudySettings(fitted, study::Words::kWindow))
        settings.push_back(std::move(s));
    for (const std::string& n : conversions_) settings.emplace_back("Columns of total gas", n);
    settings.emplace_back(study::kRefitSetting, study::OptionsLine(fitted));
    const std::vector<study::Sample> samples = model_->Samples();
    const char separator = separator_;
    app_.ExportWorkbook(
        this,
        [results, fitted, settings, samples, separator](xl::Application& excel) -> xl::Workbook& {
            return xl::WriteStudyResults(results, fitted, settings, samples, separator, excel);
        },
        xl::kStudySheet, Status);
}

bool SamplesWindow::SaveSamples(const QString& path) {
    const std::string csv = study::SamplesCsv(model_->Samples(), separator_);
    // Written beside its name and renamed when complete: a failure leaves no file.
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(csv.data(), static_cast<qint64>(csv.size())) ==
                             static_cast<qint64>(csv.size()) &&
                         file.commit();
    if (!written) {
        const QString reason = file.errorString();
        file.cancelWriting();
        app_.ReportExportError(
            this,
            std::runtime_error(
                ("The samples could not be saved to \"" + path + "\": " + reason).toStdString()));
        return false;
    }
    // The table is now that file: its rows are numbered as temra-cli counts them.
    model_->NumberAsSaved();
    model_->UndoStack()->setClean();
    source_ = path;
    savedHere_ = true;
    setWindowTitle("Temra – Samples – " + QFileInfo(path).fileName());
    Status->setText(QString("%1 samples saved to %2 (comma-separated, decimal point \".\").")
                        .arg(model_->rowCount())
                        .arg(path));
    return true;
}

bool SamplesWindow::Save() {
    // A table opened elsewhere is not offered to be replaced: it may hold columns
    // the window does not read.
    QString suggested = QDir(QDir::homePath()).filePath("samples.csv");
    if (!source_.isEmpty()) {
        const QFileInfo source(source_);
        suggested = savedHere_ ? source_
                               : source.dir().filePath(source.completeBaseName() + " (edited).csv");
    }
    QString path = QFileDialog::getSaveFileName(this, "Save samples", suggested,
                                                "Tables of samples (*.csv);;All files (*)");
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += ".csv";
    return SaveSamples(path);
}

bool SamplesWindow::MayLeaveTable() {
    if (model_->rowCount() == 0 || model_->UndoStack()->isClean()) return true;
    const QString table =
        tableName_.isEmpty() ? QString("The table of samples") : "The table \"" + tableName_ + "\"";
    switch (app_.AskToSave(this, table + " has changes that are not saved.\n\nSave them first?")) {
    case TemraApp::SaveAnswer::kSave:
        return Save();
    case TemraApp::SaveAnswer::kDiscard: {
        // The changes are let go: the table as it was opened or last saved.
        QUndoStack* undo = model_->UndoStack();
        if (undo->cleanIndex() >= 0)
            undo->setIndex(undo->cleanIndex());
        else
            undo->setClean();
        return true;
    }
    case TemraApp::SaveAnswer::kCancel:
        break;
    }
    return false;
}

void SamplesWindow::closeEvent(QCloseEvent* event) {
    if (!app_.Ending() && !MayLeaveTable()) {
        event->ignore();
        return;
    }
    TemraWindow::closeEvent(event);
}

} // namespace temra::ui
