// The samples window's fit: its settings read from the boxes and the menu, the
// fit of every sample and what the status line says of it, and what is drawn of
// a fitted sample (its misfit map or its group's, its Monte Carlo draws).
#include "ui/samples_window.h"

#include "export/workbook_table.h"

#include "core/numtext.h"
#include "core/solubility_sets.h"
#include "study/models/models.h"
#include "study/output/study_notes.h"
#include "study/uncertainty/ensemble.h"
#include "study/uncertainty/monte_carlo.h"
#include "ui/samples_model.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>

namespace temra::ui {

namespace {

// The models fitted, as the status line names them.
QString ModelsFitted(const study::StudyOptions& o) {
    QString models = Q(study::InfoOf(o.model).name);
    if (o.allModels) {
        QStringList names;
        for (const study::ModelInfo& m : study::Models()) names << Q(m.name);
        models = "every model, " + names.join(", ") + ", each row showing the preferred";
    }
    if (!o.allSolubility) return models;
    QStringList sets;
    for (const SolubilitySetInfo& s : SolubilitySets()) sets << Q(s.key);
    return models + " with every solubility data set, " + sets.join(", ") +
           ", each row showing builtin's";
}

} // namespace

study::StudyOptions SamplesWindow::CurrentOptions() const {
    study::StudyOptions o;
    o.grid = app_.InputTexts();
    const auto chosen = static_cast<std::size_t>(std::max(0, ModelChoice->currentIndex()));
    o.allModels = chosen >= study::Models().size();
    if (!o.allModels) o.model = study::Models()[chosen].model;
    for (std::size_t i = 0; i < Gas.size(); ++i) o.gases[i] = Gas[i]->isChecked();
    auto read = [this](const std::string& text, double fallback) {
        try {
            const double v = ParseDouble(text, FieldRef{}, separator_);
            return v > 0 ? v : fallback;
        } catch (const TemraError&) {
            return fallback;
        }
    };
    o.relErr = read(Text(RelErr), o.relErr);
    const study::ModelParam& a = study::Models().front().params[0];
    o.upper[std::string(a.option)] = read(Text(AMax), a.upper);
    // A model keeps the bound and exponent typed for it while another is shown.
    auto kept = [&](const std::string& option, const std::string& shown, QLineEdit* box,
                    double fallback) {
        if (option == shown) return read(Text(box), fallback);
        const auto it = upperTexts_.find(option);
        return it == upperTexts_.end() ? fallback : read(it->second.toStdString(), fallback);
    };
    for (const study::ModelInfo& m : study::Models()) {
        if (!o.allModels && m.model != o.model) continue;
        if (const study::ModelParam* p = UpperParam(m)) {
            const std::string option(p->option);
            o.upper[option] = kept(option, upperOption_, Upper, p->upper);
        }
        if (const study::ModelConstant& c = m.exponent; !c.option.empty()) {
            const std::string option(c.option);
            o.constants[option] = kept(option, betaOption_, Beta, c.value);
        }
    }
    o.perGram = PerGram->isChecked();
    const auto set = static_cast<std::size_t>(std::max(0, SolubilityChoice->currentIndex()));
    o.allSolubility = set >= SolubilitySets().size();
    if (!o.allSolubility) o.solubility = SolubilitySets()[set].set;
    o.prior = PriorAction->isChecked();
    o.priorOffset = priorOffset_;
    o.priorSd = priorSd_;
    o.shared.T = o.shared.E = EnsembleAction->isChecked();
    const double draws = read(Text(McDraws), 0);
    o.mcDraws = draws >= 1 && draws <= 1e7 ? static_cast<int>(draws) : 0;
    return o;
}

const study::ModelParam* SamplesWindow::UpperParam(const study::ModelInfo& model) {
    // The largest A, which every model shares, has a box of its own.
    for (int k = 1; k < model.paramCount; ++k)
        if (!model.params[static_cast<std::size_t>(k)].option.empty())
            return &model.params[static_cast<std::size_t>(k)];
    return nullptr;
}

void SamplesWindow::ShowUpperOf(const study::ModelInfo* model) {
    if (!upperOption_.empty()) upperTexts_[upperOption_] = Upper->text();
    if (!betaOption_.empty()) upperTexts_[betaOption_] = Beta->text();
    auto show = [&](QLabel* label, QLineEdit* box, std::string& shown, std::string_view option,
                    const QString& caption, double value) {
        shown = std::string(option);
        label->setVisible(!option.empty());
        box->setVisible(!option.empty());
        if (option.empty()) return;
        label->setText(caption);
        const auto kept = upperTexts_.find(shown);
        box->setText(kept != upperTexts_.end() ? kept->second
                                               : QString::fromStdString(study::DecimalText(
                                                     ExactText(value), '.', separator_)));
        box->setCursorPosition(0); // a long number read from its first digit
    };
    const study::ModelParam* p = model ? UpperParam(*model) : nullptr;
    show(UpperLabel, Upper, upperOption_, p ? p->option : std::string_view(),
         p ? Q(study::BoxOfOption(p->option)) : QString(), p ? p->upper : 0);
    const study::ModelConstant* c =
        model && !model->exponent.option.empty() ? &model->exponent : nullptr;
    show(BetaLabel, Beta, betaOption_, c ? c->option : std::string_view(),
         c ? Q(study::BoxOfOption(c->option)) : QString(), c ? c->value : 0);
    BoundsButton->setVisible(!model);
}

namespace {

// A bound or exponent of the table of models that a box of the window sets.
struct BoundBox {
    std::string option;
    QString label; // the box's name ("Largest R of PR")
    double byDefault;
    bool exponent; // a model's constant (StudyOptions::constants); false: a bound
};

std::vector<BoundBox> BoundBoxes() {
    std::vector<BoundBox> boxes;
    for (const study::ModelInfo& m : study::Models()) {
        if (const study::ModelParam* p = SamplesWindow::UpperParam(m))
            boxes.push_back(
                {std::string(p->option), Q(study::BoxOfOption(p->option)), p->upper, false});
        if (const study::ModelConstant& c = m.exponent; !c.option.empty())
            boxes.push_back(
                {std::string(c.option), Q(study::BoxOfOption(c.option)), c.value, true});
    }
    return boxes;
}

} // namespace

bool SamplesWindow::SetModelBounds(const std::map<std::string, QString>& texts) {
    std::map<std::string, QString> accepted;
    study::StudyOptions o = CurrentOptions();
    o.allModels = true; // every model's bounds, as the dialog shows them
    if (!app_.Attempt(this, [&] {
            for (const BoundBox& b : BoundBoxes()) {
                const auto typed = texts.find(b.option);
                if (typed == texts.end()) continue;
                const FieldRef field{"ModelBounds", b.option, b.label.toStdString()};
                const double v =
                    ParseDouble(typed->second.trimmed().toStdString(), field, separator_);
                (b.exponent ? o.constants : o.upper)[b.option] = v;
                accepted[b.option] = typed->second.trimmed();
            }
            CheckIn(o, study::StudySetting::Upper, true);
            CheckIn(o, study::StudySetting::Constant, true);
        }))
        return false;
    for (const auto& [option, text] : accepted) {
        upperTexts_[option] = text;
        if (option == upperOption_) Upper->setText(text);
        if (option == betaOption_) Beta->setText(text);
    }
    SettingsChanged();
    return true;
}

void SamplesWindow::TakeOptions(const study::StudyOptions& o) {
    const auto number = [this](double v) {
        return QString::fromStdString(study::DecimalText(ExactText(v), '.', separator_));
    };
    const auto& models = study::Models();
    const auto model = std::find_if(models.begin(), models.end(),
                                    [&](const study::ModelInfo& m) { return m.model == o.model; });
    ModelChoice->setCurrentIndex(
        static_cast<int>(o.allModels ? models.size() : model - models.begin()));
    for (std::size_t i = 0; i < Gas.size(); ++i) Gas[i]->setChecked(o.gases[i]);
    RelErr->setText(number(o.relErr));
    const std::string aMax(models.front().params[0].option);
    for (const auto* values : {&o.upper, &o.constants})
        for (const auto& [option, value] : *values) {
            if (option == aMax) {
                AMax->setText(number(value));
                continue;
            }
            upperTexts_[option] = number(value);
            if (option == upperOption_) Upper->setText(number(value));
            if (option == betaOption_) Beta->setText(number(value));
        }
    PerGram->setChecked(o.perGram);
    const auto sets = SolubilitySets();
    const auto set = std::find_if(sets.begin(), sets.end(), [&](const SolubilitySetInfo& s) {
        return s.set == o.solubility;
    });
    SolubilityChoice->setCurrentIndex(
        static_cast<int>(o.allSolubility ? sets.size() : set - sets.begin()));
    priorOffset_ = o.priorOffset;
    priorSd_ = o.priorSd;
    PriorAction->setChecked(o.prior);
    EnsembleAction->setChecked(o.shared.Any());
    McDraws->setText(QString::number(o.mcDraws));
    app_.SetGridBoxes(o.grid);
    SettingsChanged();
}

void SamplesWindow::OfferFittedOptions(const QString& path) {
    std::optional<study::StudyOptions> fitted;
    if (!app_.Attempt(this,
                      [&] {
                          fitted = xl::FittedOptionsOf(path.toStdString(),
                                                       app_.module().run.MemoryAvailable());
                      }) ||
        !fitted)
        return;
    const std::vector<std::string> changed =
        study::ChangedSettings(CurrentOptions(), *fitted, study::Words::kWindow);
    if (changed.empty()) return;
    QString list;
    for (const std::string& c : changed) list += "\n• " + Q(c);
    if (fitted->mcDraws > 0 && fitted->mcSeed != study::StudyOptions{}.mcSeed)
        list += QString("\n(The draws were made with the seed %1, which the window does not set: "
                        "its draws will differ.)")
                    .arg(fitted->mcSeed);
    if (app_.Ask(this,
                 "The workbook holds the settings its study was fitted with, which differ from "
                 "the window's:" +
                     list + "\n\nTake them for the fit?",
                 "Take them", "Keep the window's"))
        TakeOptions(*fitted);
}

void SamplesWindow::AskModelBounds() {
    QDialog ask(this);
    ask.setObjectName("ModelBounds");
    ask.setWindowTitle("Temra – Bounds of the models");
    ask.setMinimumWidth(44 * ask.fontMetrics().averageCharWidth());
    auto* form = new QFormLayout(&ask);
    auto* note = MakeLabel(&ask, "BoundsNote",
                           "Each model's largest second parameter and exponent of the "
                           "diffusivity ratio, used whenever the model is fitted, alone or "
                           "compared with the others. The largest A, which every model shares, "
                           "is the box above the table.");
    note->setWordWrap(true);
    form->addRow(note);
    std::map<std::string, QLineEdit*> edits;
    for (const BoundBox& b : BoundBoxes()) {
        QString text = b.option == upperOption_  ? Upper->text()
                       : b.option == betaOption_ ? Beta->text()
                                                 : QString();
        if (text.isEmpty()) {
            const auto kept = upperTexts_.find(b.option);
            text = kept != upperTexts_.end()
                       ? kept->second
                       : Q(study::DecimalText(ExactText(b.byDefault), '.', separator_));
        }
        QLineEdit* edit = MakeEdit(&ask, b.option.c_str(), text.toStdString(), 900);
        form->addRow(b.label, edit);
        edits[b.option] = edit;
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    form->addRow(buttons);
    while (ask.exec() == QDialog::Accepted) {
        std::map<std::string, QString> texts;
        for (const auto& [option, edit] : edits) texts[option] = edit->text();
        if (SetModelBounds(texts)) break;
    }
}

void SamplesWindow::SettingsChanged() {
    const study::StudyOptions o = CurrentOptions();
    model_->SetOptions(o, separator_);
    UpdateViewNames();
    UpdateRowNote();
    app_.StudySettingsChanged(o);
}

void SamplesWindow::ReadExponent(study::StudyOptions& o) const {
    const study::ModelInfo* m = o.allModels ? nullptr : &study::InfoOf(o.model);
    if (!m || m->exponent.option.empty()) return;
    const FieldRef betaField{"Samples", "Beta", BetaLabel->text().toStdString()};
    o.constants[std::string(m->exponent.option)] = ParseDouble(Text(Beta), betaField, separator_);
}

FieldRef SamplesWindow::BoxOf(const study::StudyError& e, bool inBoundsDialog) const {
    using S = study::StudySetting;
    FieldRef draws{"Samples", "McDraws", "Monte Carlo draws"};
    const std::string& option = e.option();
    switch (e.setting()) {
    case S::Gases:
        return {"Samples", "Gas2", "Fitted gases"};
    case S::RelErr:
        return {"Samples", "RelErr", "Relative error"};
    case S::Upper:
    case S::Constant:
        if (option == study::Models().front().params[0].option)
            return {"Samples", "AMax", "Largest A"};
        if (!inBoundsDialog && option == upperOption_)
            return {"Samples", "Upper", UpperLabel->text().toStdString()};
        if (!inBoundsDialog && option == betaOption_)
            return {"Samples", "Beta", BetaLabel->text().toStdString()};
        return {"ModelBounds", option, study::BoxOfOption(option)};
    case S::MonteCarlo:
        return draws;
    case S::Prior:
        return option == "prior-offset"
                   ? FieldRef{"PriorSettings", "PriorOffset", "Offset from the MAAT line"}
                   : FieldRef{"PriorSettings", "PriorSd", "Spread of the prior"};
    case S::Ensemble:
        if (option == "mc") return draws;
        if (option == "prior-maat") return {"Samples", "PriorAction", "Fit ▸ Lapse-rate prior"};
        return {"Samples", "ModelChoice", "Model"};
    case S::Table:
        break;
    }
    return {};
}

void SamplesWindow::CheckIn(const study::StudyOptions& o, std::optional<study::StudySetting> only,
                            bool inBoundsDialog) const {
    try {
        if (only)
            study::CheckSetting(o, *only);
        else
            study::CheckOptions(o);
    } catch (const study::StudyError& e) {
        std::string detail = e.what();
        if (e.setting() == study::StudySetting::Ensemble)
            detail += " (the ensemble fit: Fit ▸ Fit groups together)";
        throw TemraError(ErrorNumber::InvalidCall, BoxOf(e, inBoundsDialog), detail);
    }
}

bool SamplesWindow::Options(study::StudyOptions& o) {
    o = CurrentOptions(); // its numbers read again below, strictly
    return app_.Attempt(this, [&] {
        o.relErr = ParseDouble(Text(RelErr), {"Samples", "RelErr", "Relative error"}, separator_);
        o.upper[std::string(study::Models().front().params[0].option)] =
            ParseDouble(Text(AMax), {"Samples", "AMax", "Largest A"}, separator_);
        // The bound shown is read strictly; comparing models, the bounds typed for
        // the others are read as CurrentOptions read them (a model keeps its own).
        if (const study::ModelParam* p = o.allModels ? nullptr : UpperParam(study::InfoOf(o.model)))
            o.upper[std::string(p->option)] = ParseDouble(
                Text(Upper), {"Samples", "Upper", UpperLabel->text().toStdString()}, separator_);
        ReadExponent(o);
        const FieldRef drawsField{"Samples", "McDraws", "Monte Carlo draws"};
        const double draws = ParseDouble(Text(McDraws), drawsField, separator_);
        if (!(draws >= 0 && draws <= 1e7 && draws == std::floor(draws)))
            throw TemraError(ErrorNumber::InvalidCall, drawsField,
                             "the draws must be a whole number from 0 to 10,000,000");
        o.mcDraws = static_cast<int>(draws);
        CheckIn(o);
    });
}

bool SamplesWindow::FitAll() {
    study::StudyOptions o;
    if (!Options(o)) return false;
    const std::vector<study::Sample> samples = model_->Samples();
    if (samples.empty()) {
        app_.Inform(this, "There is no sample to fit: open a table, paste one, or add rows.");
        return false;
    }
    std::vector<study::StudyResult> results;
    const RunSettings& settings = app_.module().run;
    bool cancelled = false;
    QElapsedTimer clock;
    clock.start();
    if (!app_.Run(this, QString("Fitting %1 samples…").arg(samples.size()), [&](RunControl& c) {
            try {
                results = study::FitStudy(samples, o, settings, c);
                if (o.mcDraws > 0) study::MonteCarlo(samples, o, settings, results, c);
            } catch (const Cancelled&) {
                cancelled = true;
                throw;
            } catch (const study::StudyError& e) { // the draws beyond memory: their box
                if (e.setting() == study::StudySetting::Table) throw;
                throw TemraError(ErrorNumber::InvalidCall, BoxOf(e, false), e.what());
            }
        })) {
        // A refused or cancelled fit keeps the earlier results.
        Status->setText(cancelled ? "Fit cancelled; the earlier results are kept."
                                  : "Not fitted (see the message); the earlier results are kept.");
        return false;
    }
    const double seconds = static_cast<double>(clock.elapsed()) / 1000;
    const std::size_t refused = study::RefusedSamples(results, o);
    std::map<std::string, int> flagged;
    for (const study::StudyResult& r : results)
        for (const std::string& f : r.flags) ++flagged[f];
    // What the results cannot say by themselves, naming the input page's boxes.
    const std::vector<std::string> notes =
        study::StudyNotes(results, o, separator_, [](FieldId id) {
            const std::string_view label = FieldOf(id).label;
            return "\"" + std::string(label) + "\"";
        });
    model_->SetResults(std::move(results), o);
    UpdateViewNames();
    ShowView(kResults);
    const QModelIndex current = Table->currentIndex();
    Table->scrollTo(model_->index(current.isValid() ? current.row() : 0,
                                  model_->ResultColumnOf("temperature_C")));
    Table->horizontalScrollBar()->setValue(0);
    const std::size_t fitted = samples.size() - refused;
    const QString took =
        fitted == 0 ? QString() : Q(study::TimeNote(fitted, o.mcDraws, seconds, separator_));
    Status->setText(FitStatus(o, fitted, refused, flagged, notes, took));
    app_.StudySettingsChanged(CurrentOptions());
    return true;
}

QString SamplesWindow::FitStatus(const study::StudyOptions& o, std::size_t fitted,
                                 std::size_t refused, const std::map<std::string, int>& flagged,
                                 const std::vector<std::string>& notes, const QString& took) const {
    QString status = QString("%1 fitted (%2: %3), %4 refused")
                         .arg(Counted(fitted, "sample"), ModelsFitted(o),
                              QString::fromStdString(study::GasList(o.gases)).replace(';', ", "))
                         .arg(refused);
    if (!took.isEmpty()) status += " (" + took + ")";
    if (o.prior)
        status +=
            QString("; with the lapse-rate prior (the MAAT line%1, ±%2 °C), its medians "
                    "and 68 % intervals in the columns \"Post. …\"")
                .arg(o.priorOffset == 0 ? QString()
                                        : QString(" %1 %2 °C")
                                              .arg(o.priorOffset > 0 ? "+" : "−",
                                                   FullText(std::fabs(o.priorOffset), separator_)),
                     FullText(o.priorSd, separator_));
    if (o.shared.Any()) {
        std::set<std::string> groups;
        for (int row = 0; row < model_->rowCount(); ++row)
            if (const auto& r = model_->ResultAt(row); r && r->group && r->group->members > 1)
                groups.insert(r->group->name);
        status +=
            QString("; %1 groups fitted together, each sharing T and elevation").arg(groups.size());
    }
    if (!flagged.empty()) {
        QStringList counts;
        for (const auto& [flag, n] : flagged) counts << QString("%1 %2").arg(n).arg(Q(flag));
        status += "; flags: " + counts.join(", ");
    }
    status += ".";
    for (const std::string& note : notes) status += "\n" + Q(study::InWindowWords(note)) + ".";
    return status;
}

void SamplesWindow::ShowMisfitMap() {
    const int row = SelectedRow();
    if (row < 0) {
        app_.Inform(this, "Select the sample whose misfit map to draw.");
        return;
    }
    // A fitted sample is mapped on the grid of its fit, so that map and table
    // agree; the map says when the settings have changed since.
    study::StudyOptions o;
    if (model_->ResultAt(row) && model_->ResultAt(row)->error.empty()) {
        o = model_->FitOptions();
        // Comparing models, the map is the model the row shows.
        o.model = model_->ResultAt(row)->model;
        o.allModels = false;
    } else if (!Options(o)) {
        return;
    }
    const study::Sample& sample = model_->SampleAt(row);
    mappedRow_ = sample.row;
    mappedName_ = sample.name;
    // A member fitted with its group: the group's map, from its rows fitted.
    const std::optional<study::StudyResult>& r = model_->ResultAt(row);
    if (r && r->error.empty() && r->group && r->group->members > 1) {
        std::vector<study::Sample> members;
        const std::string key = study::GroupKey(sample.group);
        for (int i = 0; i < model_->rowCount(); ++i)
            if (model_->ResultAt(i) && study::GroupKey(model_->SampleAt(i).group) == key)
                members.push_back(model_->SampleAt(i));
        app_.ShowGroupMap(members, o, CurrentOptions());
        return;
    }
    app_.ShowMisfitMap(sample, o, CurrentOptions());
}

void SamplesWindow::ShowMonteCarloDraws() {
    const int row = SelectedRow();
    if (row < 0) {
        app_.Inform(this, "Select the sample whose Monte Carlo draws to show.");
        return;
    }
    const std::optional<study::StudyResult>& r = model_->ResultAt(row);
    if (!r || !r->error.empty() || !r->mc || r->mc->draws == 0) {
        app_.Inform(this, QString("%1 has no Monte Carlo draws: set \"Monte Carlo draws\" above "
                                  "the table and fit all.")
                              .arg(QString::fromStdString(model_->SampleAt(row).name)));
        return;
    }
    study::StudyOptions o = model_->FitOptions();
    o.model = r->model;
    o.allModels = false;
    app_.ShowMonteCarloDraws(model_->SampleAt(row), o, *r->mc);
}

bool SamplesWindow::SetPriorSettings(const QString& offset, const QString& spread) {
    const FieldRef offsetField{"Samples", "PriorOffset", "Offset from the MAAT line"};
    const FieldRef spreadField{"Samples", "PriorSd", "Spread of the prior"};
    double o = 0, sd = 0;
    if (!app_.Attempt(this, [&] {
            o = ParseDouble(offset.trimmed().toStdString(), offsetField, separator_);
            sd = ParseDouble(spread.trimmed().toStdString(), spreadField, separator_);
            study::StudyOptions checked = CurrentOptions();
            checked.priorOffset = o;
            checked.priorSd = sd;
            CheckIn(checked, study::StudySetting::Prior);
        }))
        return false;
    priorOffset_ = o;
    priorSd_ = sd;
    const QString line = o == 0 ? QString("MAAT line")
                                : QString("MAAT line %1 %2 °C")
                                      .arg(o > 0 ? "+" : "−", FullText(std::fabs(o), separator_));
    PriorAction->setText(
        QString("Lapse-rate &prior (%1, ±%2 °C)").arg(line, FullText(sd, separator_)));
    SettingsChanged();
    return true;
}

void SamplesWindow::AskPriorSettings() {
    QDialog ask(this);
    ask.setObjectName("PriorSettings");
    ask.setWindowTitle("Temra – Lapse-rate prior");
    auto* offset =
        MakeEdit(&ask, "PriorOffset", FullText(priorOffset_, separator_).toStdString(), 900);
    auto* spread = MakeEdit(&ask, "PriorSd", FullText(priorSd_, separator_).toStdString(), 900);
    auto* note = MakeLabel(&ask, "PriorNote",
                           "The prior's temperature at an elevation is the MAAT line's (H = aT "
                           "+ b on the input page) plus the offset, the step from air to soil or "
                           "water-table temperature; the spread is its standard deviation (0 "
                           "keeps the temperature on the line).");
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    auto* form = new QFormLayout(&ask);
    form->addRow(note);
    form->addRow("Offset from the MAAT line (°C)", offset);
    form->addRow("Spread of the prior (°C)", spread);
    form->addRow(buttons);
    while (ask.exec() == QDialog::Accepted)
        if (SetPriorSettings(offset->text(), spread->text())) break;
}

void SamplesWindow::FitAgainAndMap() {
    if (!FitAll()) return;
    for (int r = 0; r < model_->rowCount(); ++r) {
        const study::Sample& s = model_->SampleAt(r);
        if (s.row == mappedRow_ && s.name == mappedName_) {
            Table->selectRow(r);
            ShowMisfitMap();
            return;
        }
    }
    app_.Inform(this, QString::fromStdString("The sample " + mappedName_ +
                                             " whose map was drawn is no longer in the table: "
                                             "select a sample and press \"Misfit map\"."));
}

} // namespace temra::ui
