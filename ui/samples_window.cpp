#include "ui/samples_window.h"

#include "core/numtext.h"
#include "export/exports.h"
#include "study/sample_table.h"
#include "ui/samples_model.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace temra::ui {

SamplesWindow::SamplesWindow(TemraApp& app) : TemraWindow(app), model_(new SamplesModel(this)) {
    setObjectName("Samples");
    setWindowTitle("Temra – Samples");
    Table = new QTableView(this);
    Table->setObjectName("Table");
    Table->setModel(model_);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->horizontalHeader()->setDefaultSectionSize(90);
    Table->setWordWrap(false);
    Table->setTextElideMode(Qt::ElideRight);
    Table->setMinimumSize(560, 300);

    OpenButton = MakeButton(this, "OpenButton", "Open…");
    AddButton = MakeButton(this, "AddButton", "Add row");
    DeleteButton = MakeButton(this, "DeleteButton", "Delete rows");
    FitButton = MakeButton(this, "FitButton", "Fit all");
    UseButton = MakeButton(this, "UseButton", "Use on input page");
    MapButton = MakeButton(this, "MapButton", "Misfit map");
    ExportButton = MakeButton(this, "ExportButton", "Export results");

    // The settings of the fit.
    auto* settings = new QGroupBox("Fit settings", this);
    ModelChoice = new QComboBox(settings);
    ModelChoice->setObjectName("ModelChoice");
    ModelChoice->addItem("UA: unfractionated excess air");
    ModelChoice->addItem("CE: closed-system equilibration");
    auto* gases = new QGridLayout;
    const study::StudyOptions defaults;
    for (int g = 1; g <= GasCount; ++g) {
        const auto i = static_cast<std::size_t>(g - 1);
        Gas[i] = MakeCheck(settings, ("Gas" + std::to_string(g)).c_str(), Q(kGraphLabels[i]));
        Gas[i]->setChecked(defaults.gases[i]);
        gases->addWidget(Gas[i], (g - 1) / 4, (g - 1) % 4);
    }
    RelErr = MakeEdit(settings, "RelErr", ExactText(defaults.relErr), 600);
    AMax = MakeEdit(settings, "AMax", ExactText(defaults.ceAMax), 600);
    GridNote = MakeLabel(settings, "GridNote",
                         "The grid is the input page's as it stands: its elevation and "
                         "temperature boxes, the MAAT equation, and its chloride and density "
                         "for samples without those columns.");
    GridNote->setWordWrap(true);
    auto* form = new QFormLayout(settings);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->addRow("Model", ModelChoice);
    form->addRow("Fitted gases", gases);
    form->addRow("Relative error (where a sample has none)", RelErr);
    form->addRow("Largest A of CE (cm³ STP/g H2O)", AMax);
    form->addRow(GridNote);

    Status = MakeLabel(this, "Status", "");
    Status->setWordWrap(true);
    Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Status->setFixedHeight(2 * Status->fontMetrics().lineSpacing() + 4);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b :
         {OpenButton, AddButton, DeleteButton, FitButton, UseButton, MapButton, ExportButton})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* body = new QHBoxLayout;
    body->addWidget(Table, 3);
    body->addWidget(settings, 1);
    auto* page = new QVBoxLayout(this);
    page->addLayout(buttons);
    page->addLayout(body, 1);
    page->addWidget(Status);

    connect(OpenButton, &QPushButton::clicked, this, [this] { Open(); });
    connect(AddButton, &QPushButton::clicked, this, [this] { model_->AddRow(); });
    connect(DeleteButton, &QPushButton::clicked, this, [this] {
        std::vector<int> rows;
        for (const QModelIndex& i : Table->selectionModel()->selectedIndexes())
            rows.push_back(i.row());
        model_->RemoveRows(rows);
    });
    connect(FitButton, &QPushButton::clicked, this, [this] { FitAll(); });
    connect(UseButton, &QPushButton::clicked, this, [this] { UseOnInputPage(); });
    connect(MapButton, &QPushButton::clicked, this, [this] { ShowMisfitMap(); });
    connect(ExportButton, &QPushButton::clicked, this, [this] { ExportResults(); });
    auto* paste = new QShortcut(QKeySequence::Paste, this);
    connect(paste, &QShortcut::activated, this,
            [this] { Paste(QGuiApplication::clipboard()->text()); });
    // The cells are checked against the settings as they change.
    connect(ModelChoice, &QComboBox::currentIndexChanged, this, [this] { CheckCells(); });
    for (QCheckBox* c : Gas) connect(c, &QCheckBox::toggled, this, [this] { CheckCells(); });
    connect(RelErr, &QLineEdit::editingFinished, this, [this] { CheckCells(); });
    CheckCells();
    FitFirstSize(*this, 1100, 560);
}

void SamplesWindow::CheckCells() {
    study::StudyOptions o;
    o.grid = app_.InputTexts();
    o.model = ModelChoice->currentIndex() == 1 ? study::Model::CE : study::Model::UA;
    for (std::size_t i = 0; i < Gas.size(); ++i) o.gases[i] = Gas[i]->isChecked();
    bool ok = false;
    const double relErr = RelErr->text().toDouble(&ok);
    if (ok && relErr > 0) o.relErr = relErr;
    model_->SetOptions(o, app_.module().DecimalSeparator);
}

bool SamplesWindow::Options(study::StudyOptions& o) {
    o.grid = app_.InputTexts();
    o.model = ModelChoice->currentIndex() == 1 ? study::Model::CE : study::Model::UA;
    for (std::size_t i = 0; i < Gas.size(); ++i) o.gases[i] = Gas[i]->isChecked();
    const char sep = app_.module().DecimalSeparator;
    const FieldRef relErrField{"Samples", "RelErr", "Relative error"};
    const FieldRef aMaxField{"Samples", "AMax", "Largest A of CE"};
    return app_.Attempt(this, [&] {
        o.relErr = ParseDouble(RelErr->text().toStdString(), relErrField, sep);
        if (!(o.relErr > 0))
            throw TemraError(ErrorNumber::InvalidCall, relErrField,
                             "the relative error must be greater than 0");
        o.ceAMax = ParseDouble(AMax->text().toStdString(), aMaxField, sep);
        if (!(o.ceAMax > 0))
            throw TemraError(ErrorNumber::InvalidCall, aMaxField,
                             "the largest A must be greater than 0");
        if (std::none_of(o.gases.begin(), o.gases.end(), [](bool b) { return b; }))
            throw TemraError(ErrorNumber::InvalidCall, {"Samples", "Gas2", "Fitted gases"},
                             "tick at least one gas to fit");
    });
}

// Columns as wide as their texts, up to a limit: the rest of a long number is
// shown by widening the column or in its tooltip.
void SamplesWindow::FitColumns() {
    Table->resizeColumnsToContents();
    QHeaderView* header = Table->horizontalHeader();
    const int widest = 12 * fontMetrics().averageCharWidth() + 16;
    for (int c = 0; c < header->count(); ++c) {
        const int limit = std::max(widest, header->sectionSizeHint(c));
        if (header->sectionSize(c) > limit) header->resizeSection(c, limit);
    }
}

bool SamplesWindow::OpenFile(const QString& path) {
    std::vector<study::Sample> samples;
    const bool read = app_.Attempt(this, [&] {
        const study::SampleTable table =
            study::ReadSampleTable(path.toStdString(), app_.module().MemoryAvailable());
        study::StudyOptions none;
        none.gases = {};
        samples = study::ReadSamples(table, none).samples;
    });
    if (!read) return false;
    model_->SetSamples(std::move(samples));
    FitColumns();
    source_ = path;
    setWindowTitle("Temra – Samples – " + QFileInfo(path).fileName());
    Status->setText(QString("%1 samples read from %2").arg(model_->rowCount()).arg(path));
    return true;
}

void SamplesWindow::Open() {
    const QString path = QFileDialog::getOpenFileName(
        this, "Open samples", QString(), "Tables of samples (*.csv *.txt *.tsv);;All files (*)");
    if (!path.isEmpty()) OpenFile(path);
}

void SamplesWindow::Paste(const QString& text) {
    if (text.trimmed().isEmpty()) return;
    std::vector<study::Sample> samples;
    if (!app_.Attempt(this, [&] { samples = SamplesFromText(text); })) return;
    model_->AppendSamples(samples);
    FitColumns();
    Status->setText(QString("%1 samples pasted").arg(samples.size()));
}

void SamplesWindow::FitAll() {
    study::StudyOptions o;
    if (!Options(o)) return;
    const std::vector<study::Sample> samples = model_->Samples();
    if (samples.empty()) {
        app_.Inform(this, "There is no sample to fit: open a table, paste one, or add rows.");
        return;
    }
    std::vector<study::StudyResult> results;
    const Module1& settings = app_.module();
    if (!app_.Run(this, QString("Fitting %1 samples…").arg(samples.size()),
                  [&](RunControl& c) { results = study::FitStudy(samples, o, settings, c); }))
        return; // a refused or cancelled fit keeps the earlier results
    fitted_ = o;
    const auto refused = std::count_if(results.begin(), results.end(),
                                       [](const auto& r) { return !r.error.empty(); });
    model_->SetResults(std::move(results));
    FitColumns();
    Status->setText(QString("%1 samples fitted (%2), %3 refused")
                        .arg(samples.size() - static_cast<std::size_t>(refused))
                        .arg(o.model == study::Model::CE ? "CE" : "UA")
                        .arg(refused));
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
    app_.UseSampleOnInputPage(model_->Samples()[static_cast<std::size_t>(row)]);
}

void SamplesWindow::ShowMisfitMap() {
    const int row = SelectedRow();
    if (row < 0) {
        app_.Inform(this, "Select the sample whose misfit map to draw.");
        return;
    }
    study::StudyOptions o;
    if (!Options(o)) return;
    app_.ShowMisfitMap(model_->Samples()[static_cast<std::size_t>(row)], o);
}

void SamplesWindow::ExportResults() {
    if (!model_->HasResults()) {
        app_.Inform(this, "Fit the samples first: there are no results to export.");
        return;
    }
    std::vector<study::StudyResult> results;
    for (int r = 0; r < model_->rowCount(); ++r) {
        const auto& result = model_->ResultAt(r);
        study::StudyResult shown = result ? *result : study::StudyResult{};
        if (!result) {
            shown.sample = model_->Samples()[static_cast<std::size_t>(r)].name;
            shown.error = "not fitted since it was changed";
        }
        results.push_back(std::move(shown));
    }
    xl::Settings settings = xl::WrittenBy();
    settings.emplace_back("Samples",
                          source_.isEmpty() ? "the samples window" : source_.toStdString());
    for (auto& s : study::StudySettings(fitted_)) settings.push_back(std::move(s));
    const study::StudyOptions fitted = fitted_;
    app_.ExportWorkbook(
        this,
        [results, fitted, settings](xl::Application& excel) -> xl::Workbook& {
            return xl::WriteStudyResults(results, fitted, settings, excel);
        },
        xl::kStudySheet, Status);
}

} // namespace temra::ui
