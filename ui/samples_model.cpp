#include "ui/samples_model.h"

#include "study/output/flags.h"

#include "study/input/sample_table.h"
#include "study/models/models.h"
#include "study/study_fit.h"
#include "ui/widgets.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QUndoCommand>
#include <QUndoStack>

#include <algorithm>
#include <cmath>
#include <map>

namespace temra::ui {

namespace {

namespace SC = study::SampleColumn;

QString FlagsText(const study::StudyResult& r, const char* between) {
    QStringList flags;
    for (const std::string& f : r.flags) flags << QString::fromStdString(f);
    return flags.join(between);
}

const QColor kBadCell(255, 205, 205);
const QColor kWarning(255, 226, 160);
const QColor kOutOfDate(120, 120, 120);

} // namespace

// ---- The undoable steps -------------------------------------------------------------

class EditCell : public QUndoCommand {
  public:
    EditCell(SamplesModel& model, int row, int column, std::string text)
        : model_(model), row_(row), column_(column), new_(std::move(text)) {
        const SamplesModel::Row& r = model.rows_[static_cast<std::size_t>(row)];
        old_ = SC::Text(r.sample, column);
        oldResult_ = r.result;
        oldFit_ = r.fit;
        setText(QString("edit of %1 of %2")
                    .arg(QString::fromStdString(SC::Name(column)),
                         QString::fromStdString(study::SampleLabel(r.sample))));
    }
    void redo() override { model_.SetText(row_, column_, new_, std::nullopt, 0); }
    void undo() override { model_.SetText(row_, column_, old_, oldResult_, oldFit_); }

  private:
    SamplesModel& model_;
    int row_, column_;
    std::string new_, old_;
    std::optional<study::StudyResult> oldResult_;
    int oldFit_ = 0;
};

class InsertRows : public QUndoCommand {
  public:
    InsertRows(SamplesModel& model, std::vector<std::pair<int, SamplesModel::Row>> rows,
               const QString& what)
        : QUndoCommand(what), model_(model), rows_(std::move(rows)) {}
    void redo() override { model_.InsertAt(rows_); }
    void undo() override {
        std::vector<int> at;
        for (const auto& r : rows_) at.push_back(r.first);
        model_.TakeRows(at);
    }

  private:
    SamplesModel& model_;
    std::vector<std::pair<int, SamplesModel::Row>> rows_;
};

class DeleteRows : public QUndoCommand {
  public:
    DeleteRows(SamplesModel& model, std::vector<int> rows)
        : QUndoCommand("deletion of " + Counted(rows.size(), "row")), model_(model),
          at_(std::move(rows)) {}
    void redo() override { taken_ = model_.TakeRows(at_); }
    void undo() override { model_.InsertAt(taken_); }

  private:
    SamplesModel& model_;
    std::vector<int> at_;
    std::vector<std::pair<int, SamplesModel::Row>> taken_;
};

// ---- The model --------------------------------------------------------------------

SamplesModel::SamplesModel(QObject* parent)
    : QAbstractTableModel(parent), undo_(new QUndoStack(this)) {
    // Every column the window may show; a group's and the prior's columns show
    // where a fit of groups or with the prior fills them.
    study::StudyOptions every;
    every.shared = {true, true};
    every.prior = true;
    for (study::ResultColumn& c : study::ResultColumns(&every))
        if (!c.header.empty()) columns_.push_back(std::move(c));
    std::stable_sort(columns_.begin(), columns_.end(),
                     [](const auto& a, const auto& b) { return a.place < b.place; });
}

int SamplesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SamplesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : SC::kCount + static_cast<int>(columns_.size());
}

QVariant SamplesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical) {
        // The row as temra-cli counts it in the table the sample came from.
        if (role == Qt::DisplayRole && section >= 0 && section < rowCount())
            return static_cast<qulonglong>(rows_[static_cast<std::size_t>(section)].sample.row);
        if (role == Qt::ToolTipRole) return "The row's number in its table (the header is row 1)";
        return {};
    }
    if (section < SC::kCount)
        return role == Qt::DisplayRole ? QString::fromStdString(SC::Name(section)) : QVariant();
    const study::ResultColumn* c = ResultColumnAt(section);
    if (!c) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(c->header);
    // The column as the CSV and the workbook name it, with its unit.
    if (role == Qt::ToolTipRole) {
        std::string tip = c->unit.empty() ? c->name : c->name + " (" + c->unit + ")";
        if (!c->meaning.empty()) tip += ": " + c->meaning;
        return QString::fromStdString(tip);
    }
    return {};
}

Qt::ItemFlags SamplesModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.column() < SC::kCount) f |= Qt::ItemIsEditable;
    return f;
}

QVariant SamplesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    if (index.column() < SC::kCount) return SampleData(row, index.column(), role);
    if (!row.result) return {};
    return ResultData(*row.result, index.column(), role);
}

// A sample's own cell: its text, or the fault that keeps the sample from being
// fitted, or the blank of a fitted gas said in words.
QVariant SamplesModel::SampleData(const Row& row, int column, int role) const {
    const auto& problems = row.problems;
    const auto problem = std::find_if(problems.begin(), problems.end(),
                                      [&](const auto& p) { return p.column == column; });
    const std::string& text = SC::Text(row.sample, column);
    if (role == Qt::ToolTipRole && problem == problems.end() && text.empty() &&
        column >= SC::Measured(0) && column < SC::Measured(GasCount) &&
        options_.gases[static_cast<std::size_t>(column - SC::Measured(0))])
        return QString::fromStdString("Blank: no value for " +
                                      study::GasName(column - SC::Measured(0)) +
                                      ", which the sample is fitted without");
    if (role == Qt::ToolTipRole && column == SC::kName && text.empty())
        return QString::fromStdString("No name: the notes call the sample \"" +
                                      study::SampleLabel(row.sample) + "\"");
    if (role == Qt::DisplayRole || role == Qt::EditRole ||
        (role == Qt::ToolTipRole && problem == problems.end()))
        return QString::fromStdString(text);
    if (role == Qt::BackgroundRole && problem != problems.end()) return QBrush(kBadCell);
    if (role == Qt::ToolTipRole && problem != problems.end())
        return QString::fromStdString(problem->what);
    return {};
}

// A result's cell: its colours and font, its tooltip, and its text at a glance.
QVariant SamplesModel::ResultData(const study::StudyResult& r, int column, int role) const {
    const bool stale = !outOfDate_.isEmpty();
    if (role == Qt::ForegroundRole) return stale ? QBrush(kOutOfDate) : QVariant();
    if (role == Qt::FontRole && stale) {
        QFont italic;
        italic.setItalic(true);
        return italic;
    }
    if (role == Qt::BackgroundRole) return ResultBackground(r, stale);
    if (role == Qt::ToolTipRole) return ResultTip(r, column, stale);
    const study::Shown shown = ResultColumnAt(column)->shown;
    if (!r.error.empty())
        return role == Qt::DisplayRole && shown == study::Shown::Flags
                   ? "error: " + QString::fromStdString(r.error)
                   : QVariant();
    if (role != Qt::DisplayRole) return {};
    // At a glance: temperatures to 0.01 °C, elevations to 1 m, the model's
    // parameters, chi2 and p to four significant digits; the tooltip shows them in
    // full, the CSV and the workbook with every digit.
    if (shown == study::Shown::Flags) return FlagsText(r, "; ");
    if (shown == study::Shown::Text) return ResultText(r, column);
    const std::optional<double> v = ResultNumber(r, column);
    if (!v) return {};
    if (shown == study::Shown::Temperature) return TemperatureText(*v, separator_);
    if (shown == study::Shown::Elevation) return ElevationText(*v, separator_);
    return GlanceText(*v, separator_);
}

// Marked in colour: a refused sample, a poor fit, or a best at an end of the grid.
// The other flags (a range the grid cuts, which a grid's default ends give most
// samples, a fit without a degree of freedom, a gas left out) are said in words
// only.
QVariant SamplesModel::ResultBackground(const study::StudyResult& r, bool stale) {
    const bool flagged = std::any_of(r.flags.begin(), r.flags.end(), [](const std::string& f) {
        return f == study::flag::kPoorFit || f.rfind("edge-", 0) == 0;
    });
    if (!r.error.empty()) return QBrush(kBadCell);
    if (flagged && !stale) return QBrush(kWarning);
    return {};
}

QString SamplesModel::ResultTip(const study::StudyResult& r, int column, bool stale) const {
    QString tip;
    if (!r.error.empty())
        tip = QString::fromStdString(r.error);
    else if (ResultColumnAt(column)->shown == study::Shown::Flags) {
        QStringList lines;
        for (const std::string& f : r.flags)
            lines << QString::fromStdString(f) + ": " + FlagMeaning(f);
        tip = lines.join('\n');
    } else
        tip = ResultText(r, column).toString();
    if (stale)
        tip = "Out of date, fitted before a change of " + outOfDate_.join("; ") +
              ". Fit all again.\n" + tip;
    return tip;
}

std::optional<double> SamplesModel::ResultNumber(const study::StudyResult& r, int column) const {
    const study::ResultColumn* c = ResultColumnAt(column);
    if (!c) return std::nullopt;
    const study::ResultCell cell = c->cell(r, fitted_);
    if (cell.kind != study::ResultCell::Kind::Double &&
        cell.kind != study::ResultCell::Kind::Single)
        return std::nullopt;
    return cell.number;
}

QVariant SamplesModel::ResultText(const study::StudyResult& r, int column) const {
    const study::ResultColumn* c = ResultColumnAt(column);
    if (c->shown == study::Shown::Flags) return FlagsText(r, ";");
    if (c->shown == study::Shown::Text) {
        const study::ResultCell cell = c->cell(r, fitted_);
        return cell.kind == study::ResultCell::Kind::Text ? QString::fromStdString(cell.text)
                                                          : QVariant();
    }
    const std::optional<double> v = ResultNumber(r, column);
    if (!v) return {};
    return FullText(*v, separator_);
}

QString SamplesModel::FlagMeaning(const std::string& flag) {
    return QString::fromStdString(study::InWindowWords(study::FlagMeaning(flag)));
}

// The spread of a sample's Monte Carlo fits: each parameter's mean ± SD and its
// 16th to 84th percentiles.
QString SamplesModel::MonteCarloNote(const study::McSummary& mc) const {
    auto spread = [&](const study::Spread& s, const QString& unit, QString (*text)(double, char)) {
        return QString("%1 ± %2%3 (%4 to %5)")
            .arg(text(s.mean, separator_), text(s.sd, separator_), unit, text(s.p16, separator_),
                 text(s.p84, separator_));
    };
    QString note = QString("Monte Carlo, %1 of %2 draws fitted: T %3, elevation %4, A %5")
                       .arg(mc.fitted)
                       .arg(mc.draws)
                       .arg(spread(mc.T, " °C", TemperatureText), spread(mc.E, " m", ElevationText),
                            spread(mc.A, "", GlanceText));
    if (mc.second)
        note += ", " + Q(study::InfoOf(fitted_.model).params[1].symbol) + " " +
                spread(*mc.second, "", GlanceText);
    if (mc.atBound > 0) note += QString("; %1 % at a bound").arg(std::round(100 * mc.atBound));
    if (mc.atEdge > 0)
        note += QString("; %1 % at an end of the grid or the MAAT window")
                    .arg(std::round(100 * mc.atEdge));
    return note;
}

QString SamplesModel::ResultNote(int row) const {
    if (row < 0 || row >= rowCount()) return {};
    const Row& r = rows_[static_cast<std::size_t>(row)];
    const QString name = QString::fromStdString(study::SampleLabel(r.sample));
    if (!r.result)
        return HasResults() ? name + ": not fitted (added or changed since the fit)" : QString();
    const study::StudyResult& x = *r.result;
    if (!x.error.empty()) return name + " was refused: " + QString::fromStdString(x.error);
    QString note =
        name + ": " +
        RangeText(x.temperature, x.temperatureLo, x.temperatureHi, separator_, TemperatureText) +
        " °C, " + RangeText(x.elevation, x.elevationLo, x.elevationHi, separator_, ElevationText) +
        " m, A = " + GlanceText(x.A, separator_);
    if (x.second)
        note += ", " + Q(study::InfoOf(fitted_.model).params[1].symbol) + " = " +
                GlanceText(x.second->value, separator_);
    note += ", χ² = " + GlanceText(x.chi2, separator_);
    if (x.p) note += ", p = " + GlanceText(*x.p, separator_);
    if (x.group && x.group->members > 1) {
        note += QString(". T and elevation shared with its group %1 (%2 members): Σχ² = %3, %4 "
                        "degrees of freedom")
                    .arg(Q(x.group->name))
                    .arg(x.group->members)
                    .arg(GlanceText(x.group->chi2, separator_))
                    .arg(x.group->dof);
        if (x.group->p) note += ", p = " + GlanceText(*x.group->p, separator_);
    }
    if (!x.leftOut.empty()) note += ". Fitted apart from its group: " + Q(x.leftOut);
    QStringList flags;
    for (const std::string& f : x.flags)
        flags << QString::fromStdString(f) + " (" + FlagMeaning(f) + ")";
    if (!flags.isEmpty()) note += ". Flags: " + flags.join("; ");
    if (x.posterior) {
        const study::Posterior& p = *x.posterior;
        note += ". With the lapse-rate prior: " +
                RangeText(p.T.value, p.T.lo, p.T.hi, separator_, TemperatureText) + " °C, " +
                RangeText(p.E.value, p.E.lo, p.E.hi, separator_, ElevationText) +
                " m, A = " + RangeText(p.A.value, p.A.lo, p.A.hi, separator_, GlanceText);
    }
    if (x.mc && x.mc->fitted > 0) note += ". " + MonteCarloNote(*x.mc);
    if (!outOfDate_.isEmpty()) note += ". Out of date: fit all again";
    return note + ".";
}

bool SamplesModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.column() >= SC::kCount) return false;
    std::string text = value.toString().trimmed().toStdString();
    if (text == SC::Text(SampleAt(index.row()), index.column())) return true;
    undo_->push(new EditCell(*this, index.row(), index.column(), std::move(text)));
    return true;
}

void SamplesModel::SetText(int row, int column, const std::string& text,
                           const std::optional<study::StudyResult>& result, int fit) {
    Row& r = rows_[static_cast<std::size_t>(row)];
    SC::Text(r.sample, column) = text;
    // A result is kept only with the sample it was fitted from, from the fit shown.
    r.result = fit == fit_ ? result : std::nullopt;
    r.fit = fit;
    CheckRow(r);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

std::vector<study::Sample> SamplesModel::Samples() const {
    std::vector<study::Sample> samples;
    samples.reserve(rows_.size());
    for (const Row& r : rows_) samples.push_back(r.sample);
    return samples;
}

void SamplesModel::SetSamples(std::vector<study::Sample> samples) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(samples.size());
    for (study::Sample& s : samples) {
        Row r{std::move(s), std::nullopt, 0, {}};
        CheckRow(r);
        rows_.push_back(std::move(r));
    }
    endResetModel();
    undo_->clear();
    undo_->setClean();
}

std::size_t SamplesModel::NextRowNumber() const {
    std::size_t last = 1; // the header
    for (const Row& r : rows_) last = std::max(last, r.sample.row);
    return last + 1;
}

void SamplesModel::AppendSamples(std::vector<study::Sample> samples, QString what) {
    if (samples.empty()) return;
    std::vector<std::pair<int, Row>> rows;
    std::size_t number = NextRowNumber();
    for (study::Sample& s : samples) {
        s.row = number++;
        rows.emplace_back(rowCount() + static_cast<int>(rows.size()),
                          Row{std::move(s), std::nullopt, 0, {}});
    }
    if (what.isEmpty())
        what = rows.size() == 1 ? QString("a row added") : Counted(rows.size(), "row") + " pasted";
    undo_->push(new InsertRows(*this, std::move(rows), what));
}

void SamplesModel::AddRow() {
    study::Sample s;
    s.name = "sample " + std::to_string(rows_.size() + 1);
    AppendSamples({s});
}

void SamplesModel::RemoveRows(std::vector<int> rows) {
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [this](int r) { return r < 0 || r >= rowCount(); }),
               rows.end());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (!rows.empty()) undo_->push(new DeleteRows(*this, std::move(rows)));
}

// Rows go in and out in runs of neighbours, each run in one step of the views.
void SamplesModel::InsertAt(const std::vector<std::pair<int, Row>>& rows) {
    for (std::size_t i = 0, j = 0; i < rows.size(); i = j) {
        for (j = i + 1; j < rows.size() && rows[j].first == rows[j - 1].first + 1;) ++j;
        std::vector<Row> run;
        run.reserve(j - i);
        for (std::size_t k = i; k < j; ++k) {
            Row r = rows[k].second;
            if (r.fit != fit_) r.result.reset(); // a result of an earlier fit is not shown
            CheckRow(r);
            run.push_back(std::move(r));
        }
        const int at = rows[i].first;
        beginInsertRows({}, at, at + static_cast<int>(run.size()) - 1);
        rows_.insert(rows_.begin() + at, std::make_move_iterator(run.begin()),
                     std::make_move_iterator(run.end()));
        endInsertRows();
    }
}

std::vector<std::pair<int, SamplesModel::Row>> SamplesModel::TakeRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<std::pair<int, Row>> taken;
    taken.reserve(rows.size());
    // The last run first, so that the rows before it keep their places.
    for (std::size_t j = rows.size(), i = 0; j > 0; j = i) {
        for (i = j - 1; i > 0 && rows[i - 1] == rows[i] - 1;) --i;
        const int first = rows[i], last = rows[j - 1];
        beginRemoveRows({}, first, last);
        for (int r = last; r >= first; --r)
            taken.emplace_back(r, std::move(rows_[static_cast<std::size_t>(r)]));
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        endRemoveRows();
    }
    std::reverse(taken.begin(), taken.end());
    return taken;
}

void SamplesModel::NumberAsSaved() {
    for (std::size_t r = 0; r < rows_.size(); ++r) rows_[r].sample.row = r + 2;
    for (Row& r : rows_) CheckRow(r);
    if (rowCount() > 0) {
        emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
        emit dataChanged(index(0, 0), index(rowCount() - 1, SC::kCount - 1));
    }
}

void SamplesModel::SetOptions(const study::StudyOptions& options, char separator) {
    options_ = options;
    separator_ = separator;
    for (Row& r : rows_) CheckRow(r);
    outOfDate_.clear();
    if (HasResults())
        for (const std::string& change :
             study::ChangedSettings(fitted_, options_, study::Words::kWindow))
            outOfDate_ << QString::fromStdString(change);
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void SamplesModel::SetResults(std::vector<study::StudyResult> results,
                              const study::StudyOptions& options) {
    ++fit_;
    fitted_ = options;
    compared_.clear();
    // Every model or data set fitted: each sample's results one per model and set;
    // the row shows the preferred (or the first fitted; builtin's comes first) and
    // keeps them all.
    const std::size_t M = study::FitsPerSample(options);
    for (std::size_t r = 0; r < rows_.size() && (r + 1) * M <= results.size(); ++r) {
        const auto first = results.begin() + static_cast<std::ptrdiff_t>(r * M);
        auto shown = std::find_if(first, first + static_cast<std::ptrdiff_t>(M),
                                  [](const auto& x) { return x.preferred; });
        if (shown == first + static_cast<std::ptrdiff_t>(M))
            shown = std::find_if(first, first + static_cast<std::ptrdiff_t>(M),
                                 [](const auto& x) { return x.error.empty(); });
        if (shown == first + static_cast<std::ptrdiff_t>(M)) shown = first;
        rows_[r].result = *shown;
        rows_[r].fit = fit_;
        if (M > 1) compared_[rows_[r].sample.row] = {first, first + static_cast<std::ptrdiff_t>(M)};
    }
    SetOptions(options_, separator_);
}

bool SamplesModel::HasResults() const {
    return std::any_of(rows_.begin(), rows_.end(),
                       [](const Row& r) { return r.result.has_value(); });
}

const std::vector<study::StudyResult>* SamplesModel::ModelResultsAt(int row) const {
    const Row& r = rows_[static_cast<std::size_t>(row)];
    if (!r.result || r.fit != fit_) return nullptr;
    const auto it = compared_.find(r.sample.row);
    return it == compared_.end() ? nullptr : &it->second;
}

std::vector<study::StudyResult> SamplesModel::ResultsToExport() const {
    std::vector<study::StudyResult> results;
    for (int r = 0; r < rowCount(); ++r) {
        if (const auto* all = ModelResultsAt(r)) {
            results.insert(results.end(), all->begin(), all->end());
            continue;
        }
        const auto& result = ResultAt(r);
        study::StudyResult shown = result ? *result : study::StudyResult{};
        if (!result) {
            shown.sample = SampleAt(r).name;
            shown.error = "not fitted since it was changed";
        }
        // Comparing models or data sets, a row without them stands for each of its
        // rows.
        const std::size_t copies = study::FitsPerSample(fitted_);
        for (std::size_t k = 0; k < copies; ++k) {
            results.push_back(shown);
            const study::FitKind kind = study::KindOfFit(fitted_, k);
            results.back().model = kind.model;
            results.back().solubility = kind.solubility;
        }
    }
    return results;
}

int SamplesModel::ResultColumnOf(std::string_view name) const {
    for (std::size_t c = 0; c < columns_.size(); ++c)
        if (columns_[c].name == name) return SC::kCount + static_cast<int>(c);
    return -1;
}

const study::ResultColumn* SamplesModel::ResultColumnAt(int column) const {
    const int c = column - SC::kCount;
    return c >= 0 && c < static_cast<int>(columns_.size()) ? &columns_[static_cast<std::size_t>(c)]
                                                           : nullptr;
}

bool SamplesModel::UnusedColumn(int column) const {
    const study::ResultColumn* c = ResultColumnAt(column);
    return c && c->hideWhenEmpty && std::none_of(rows_.begin(), rows_.end(), [&](const Row& r) {
               return r.result && r.result->error.empty() &&
                      c->cell(*r.result, fitted_).kind != study::ResultCell::Kind::Empty;
           });
}

void SamplesModel::CheckRow(Row& row) const {
    try {
        row.problems = study::SampleProblems(row.sample, options_, separator_);
    } catch (const std::exception&) { // the grid's own boxes: not the sample's
        row.problems.clear();
    }
}

// ---- Tables taken in ------------------------------------------------------------------

namespace {

// Whether a row names columns of a table of samples.
bool IsHeader(const std::vector<std::string>& row) {
    for (const std::string& cell : row) {
        const QString name = QString::fromStdString(cell).trimmed().toLower();
        for (const Gas& gas : kGases)
            if (!gas.elementColumn.empty() &&
                name == QString::fromUtf8(gas.elementColumn.data(),
                                          static_cast<int>(gas.elementColumn.size())))
                return true;
        for (int c = 0; c < SC::kCount; ++c)
            if (name == QString::fromStdString(SC::Name(c)).toLower()) return true;
    }
    return false;
}

// The number of fields up to the last one that holds a text.
std::size_t FieldsUsed(const std::vector<std::string>& row) {
    std::size_t n = row.size();
    while (n > 0 && row[n - 1].empty()) --n;
    return n;
}

std::string WindowColumns() {
    std::string names;
    for (int c = 0; c < SC::kCount; ++c) names += (c ? ", " : "") + SC::Name(c);
    return names;
}

} // namespace

SampleBlock SamplesOfTable(const study::SampleTable& table, char separator) {
    const bool commaTable = table.delimiter == ',';
    for (std::size_t r = 0; r < table.rows.size(); ++r)
        if (FieldsUsed(table.rows[r]) > table.header.size())
            throw study::TableError(
                "row " + std::to_string(table.rowNumbers[r]) + " has " +
                std::to_string(FieldsUsed(table.rows[r])) + " fields, its header " +
                std::to_string(table.header.size()) +
                (commaTable && separator == ','
                     ? ": a decimal comma splits a number in a comma-separated table; quote "
                       "the numbers or separate the columns with semicolons"
                     : ": a field holds the delimiter without quotes"));
    study::StudyOptions none;
    none.gases = {};
    study::SampleColumns columns = study::ReadSamples(table, none, commaTable ? '.' : separator);
    if (std::none_of(table.header.begin(), table.header.end(),
                     [](const std::string& name) { return study::GasOfColumn(name) >= 0; }))
        throw study::TableError("no column names a gas: the table's first row must name its "
                                "columns (" +
                                WindowColumns() + ")");
    SampleBlock block;
    block.ignored = std::move(columns.ignored);
    // The columns of total gas read as their isotopes: the status line says so.
    if (std::string c = study::ConversionSummary(columns.notes); !c.empty())
        block.notes.push_back(std::move(c));
    block.samples = std::move(columns.samples);
    block.decimal = commaTable ? '.' : separator;
    if (commaTable && separator != '.')
        for (study::Sample& s : block.samples)
            for (int c = 1; c < SC::kCount; ++c) {
                if (!SC::HoldsNumber(c)) continue;
                std::string& text = SC::Text(s, c);
                text = study::DecimalText(text, '.', separator);
            }
    return block;
}

SampleBlock SamplesFromText(const QString& text, char separator) {
    study::SampleTable table = study::ParseSampleTable(text.toStdString());
    if (!IsHeader(table.header)) {
        // Without a header every row is a sample with the window's columns, all
        // of them in order: anything else would put values under the wrong gas.
        std::size_t widest = table.header.size(), used = FieldsUsed(table.header);
        for (const auto& row : table.rows) {
            widest = std::max(widest, row.size());
            used = std::max(used, FieldsUsed(row));
        }
        const auto expected = static_cast<std::size_t>(SC::kCount);
        if (widest < expected || used > expected)
            throw study::TableError(
                "The pasted block has " + std::to_string(used > expected ? used : widest) +
                " columns and no header row. Without a header its columns must be the window's " +
                std::to_string(expected) + ", in this order: " + WindowColumns() +
                ". Copy the block with its header row (the columns' names), and its columns are "
                "read by their names.");
        table.rows.insert(table.rows.begin(), std::move(table.header));
        table.rowNumbers.insert(table.rowNumbers.begin(), 1);
        table.header.clear();
        for (int c = 0; c < SC::kCount; ++c) table.header.push_back(SC::Name(c));
    }
    return SamplesOfTable(table, separator);
}

} // namespace temra::ui
