#include "ui/samples_model.h"

#include "core/numtext.h"
#include "study/sample_table.h"
#include "ui/widgets.h"

#include <QBrush>
#include <QColor>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

namespace temra::ui {

namespace {

namespace SC = study::SampleColumn;

// The name of a sample column, as a table of samples would head it.
QString SampleHeader(int column) {
    if (column == SC::kName) return "sample";
    if (column >= SC::Measured(1) && column <= SC::Measured(GasCount))
        return Q(kGraphLabels[static_cast<std::size_t>(column - 1)]);
    if (column >= SC::Error(1) && column <= SC::Error(GasCount))
        return Q(kGraphLabels[static_cast<std::size_t>(column - SC::Error(1))]) + " err";
    if (column == SC::kChloride) return "chloride";
    if (column == SC::kDensity) return "density";
    return "elevation";
}

std::string* TextOf(study::Sample& s, int column) {
    if (column == SC::kName) return &s.name;
    if (column >= SC::Measured(1) && column <= SC::Measured(GasCount))
        return &s.measured[static_cast<std::size_t>(column - 1)];
    if (column >= SC::Error(1) && column <= SC::Error(GasCount))
        return &s.error[static_cast<std::size_t>(column - SC::Error(1))];
    if (column == SC::kChloride) return &s.chloride;
    if (column == SC::kDensity) return &s.density;
    if (column == SC::kElevation) return &s.elevation;
    return nullptr;
}

QString Number(double v, char separator) {
    return QString::fromStdString(FormatGeneral(v, separator));
}

QString Number(float v, char separator) {
    return QString::fromStdString(FormatGeneral(v, separator));
}

QString Glance(double v, char separator) {
    QString text = QString::number(v, 'g', 4);
    if (separator != '.') text.replace('.', QChar(separator));
    return text;
}

const QColor kBadCell(255, 205, 205);
const QColor kWarning(255, 226, 160);

} // namespace

SamplesModel::SamplesModel(QObject* parent) : QAbstractTableModel(parent) {}

int SamplesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(samples_.size());
}

int SamplesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant SamplesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    if (section < SC::kCount) return SampleHeader(section);
    static const char* results[] = {
        "T (°C)", "T low", "T high", "Elevation (m)", "Elev. low", "Elev. high", "A",    "A low",
        "A high", "F",     "F low",  "F high",        "χ²",        "p",          "Flags"};
    return QString::fromUtf8(results[section - SC::kCount]);
}

Qt::ItemFlags SamplesModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.column() < SC::kCount) f |= Qt::ItemIsEditable;
    return f;
}

QVariant SamplesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const int column = index.column();
    if (column < SC::kCount) {
        const auto& problems = problems_[row];
        const auto problem = std::find_if(problems.begin(), problems.end(),
                                          [&](const auto& p) { return p.column == column; });
        if (role == Qt::DisplayRole || role == Qt::EditRole ||
            (role == Qt::ToolTipRole && problem == problems.end()))
            return QString::fromStdString(
                *TextOf(const_cast<study::Sample&>(samples_[row]), column));
        if (role == Qt::BackgroundRole && problem != problems.end()) return QBrush(kBadCell);
        if (role == Qt::ToolTipRole && problem != problems.end())
            return QString::fromStdString(problem->what);
        return {};
    }
    const auto& result = results_[row];
    if (!result) return {};
    const study::StudyResult& r = *result;
    const bool flagged = std::any_of(r.flags.begin(), r.flags.end(), [](const std::string& f) {
        return f == "poor-fit" || f.rfind("edge-", 0) == 0;
    });
    if (role == Qt::BackgroundRole) {
        if (!r.error.empty()) return QBrush(kBadCell);
        if (flagged) return QBrush(kWarning);
        return {};
    }
    if (role == Qt::ToolTipRole && !r.error.empty()) return QString::fromStdString(r.error);
    if (!r.error.empty())
        return role == Qt::DisplayRole && column == kFlags
                   ? "error: " + QString::fromStdString(r.error)
                   : QVariant();
    if (role == Qt::ToolTipRole) return ResultText(r, column);
    if (role != Qt::DisplayRole) return {};
    // A, F, chi2 and p to four significant digits, to be read at a glance; the
    // tooltip shows them as results are shown elsewhere, the exported workbook
    // holds every digit.
    const auto glance = [&](double v) { return Glance(v, separator_); };
    switch (column) {
    case kA:
        return glance(r.A);
    case kALo:
        return glance(r.ALo);
    case kAHi:
        return glance(r.AHi);
    case kF:
        return r.F ? glance(*r.F) : QVariant();
    case kFLo:
        return r.FLo ? glance(*r.FLo) : QVariant();
    case kFHi:
        return r.FHi ? glance(*r.FHi) : QVariant();
    case kChi2:
        return glance(r.chi2);
    case kP:
        return r.p ? glance(*r.p) : QVariant();
    default:
        return ResultText(r, column);
    }
}

QVariant SamplesModel::ResultText(const study::StudyResult& r, int column) const {
    switch (column) {
    case kT:
        return Number(r.temperature, separator_);
    case kTLo:
        return Number(r.temperatureLo, separator_);
    case kTHi:
        return Number(r.temperatureHi, separator_);
    case kElevation:
        return Number(r.elevation, separator_);
    case kElevationLo:
        return Number(r.elevationLo, separator_);
    case kElevationHi:
        return Number(r.elevationHi, separator_);
    case kA:
        return Number(r.A, separator_);
    case kALo:
        return Number(r.ALo, separator_);
    case kAHi:
        return Number(r.AHi, separator_);
    case kF:
        return r.F ? Number(*r.F, separator_) : QVariant();
    case kFLo:
        return r.FLo ? Number(*r.FLo, separator_) : QVariant();
    case kFHi:
        return r.FHi ? Number(*r.FHi, separator_) : QVariant();
    case kChi2:
        return Number(r.chi2, separator_);
    case kP:
        return r.p ? Number(*r.p, separator_) : QVariant();
    case kFlags: {
        QStringList flags;
        for (const std::string& f : r.flags) flags << QString::fromStdString(f);
        return flags.join(";");
    }
    default:
        return {};
    }
}

bool SamplesModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.column() >= SC::kCount) return false;
    const int row = index.row();
    std::string* text = TextOf(samples_[static_cast<std::size_t>(row)], index.column());
    *text = value.toString().trimmed().toStdString();
    CheckRow(row);
    results_[static_cast<std::size_t>(row)].reset(); // the fit was of the old values
    emit dataChanged(this->index(row, 0), this->index(row, kColumnCount - 1));
    return true;
}

void SamplesModel::SetSamples(std::vector<study::Sample> samples) {
    beginResetModel();
    samples_ = std::move(samples);
    results_.assign(samples_.size(), std::nullopt);
    problems_.assign(samples_.size(), {});
    for (int r = 0; r < static_cast<int>(samples_.size()); ++r) CheckRow(r);
    endResetModel();
}

void SamplesModel::AppendSamples(const std::vector<study::Sample>& samples) {
    if (samples.empty()) return;
    const int first = static_cast<int>(samples_.size());
    beginInsertRows({}, first, first + static_cast<int>(samples.size()) - 1);
    for (const study::Sample& s : samples) {
        samples_.push_back(s);
        results_.emplace_back();
        problems_.emplace_back();
        CheckRow(static_cast<int>(samples_.size()) - 1);
    }
    endInsertRows();
}

void SamplesModel::AddRow() {
    study::Sample s;
    s.name = "sample " + std::to_string(samples_.size() + 1);
    AppendSamples({s});
}

void SamplesModel::RemoveRows(std::vector<int> rows) {
    std::sort(rows.rbegin(), rows.rend());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int r : rows) {
        if (r < 0 || r >= rowCount()) continue;
        beginRemoveRows({}, r, r);
        samples_.erase(samples_.begin() + r);
        results_.erase(results_.begin() + r);
        problems_.erase(problems_.begin() + r);
        endRemoveRows();
    }
    for (int r = 0; r < rowCount(); ++r)
        samples_[static_cast<std::size_t>(r)].row = static_cast<std::size_t>(r) + 1;
}

void SamplesModel::SetOptions(const study::StudyOptions& options, char gridSeparator) {
    options_ = options;
    separator_ = gridSeparator;
    for (int r = 0; r < rowCount(); ++r) CheckRow(r);
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, SC::kCount - 1));
}

void SamplesModel::SetResults(std::vector<study::StudyResult> results) {
    for (std::size_t r = 0; r < results_.size() && r < results.size(); ++r)
        results_[r] = std::move(results[r]);
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
}

bool SamplesModel::HasResults() const {
    return std::any_of(results_.begin(), results_.end(),
                       [](const auto& r) { return r.has_value(); });
}

void SamplesModel::CheckRow(int row) {
    auto& s = samples_[static_cast<std::size_t>(row)];
    s.row = static_cast<std::size_t>(row) + 1;
    try {
        problems_[static_cast<std::size_t>(row)] = study::SampleProblems(s, options_, separator_);
    } catch (const std::exception& e) { // the grid's own boxes: not the sample's
        problems_[static_cast<std::size_t>(row)].clear();
    }
}

std::vector<study::Sample> SamplesFromText(const QString& text) {
    std::string block = text.toStdString();
    // With its own header the block is a table of samples; without, its columns
    // are the window's, and a header of those is put above it.
    const std::string firstLine = block.substr(0, block.find_first_of("\r\n"));
    bool hasHeader = false;
    for (const auto& cell : QString::fromStdString(firstLine).split(QRegularExpression("[\t;,]"))) {
        const QString name = cell.trimmed().toLower();
        for (int c = 0; c < SC::kCount; ++c)
            if (name == SampleHeader(c).toLower() || name == "he" || name == "ne" || name == "ar" ||
                name == "kr")
                hasHeader = true;
    }
    if (!hasHeader) {
        std::string header;
        for (int c = 0; c < SC::kCount; ++c)
            header += (c ? "\t" : "") + SampleHeader(c).toStdString();
        block = header + "\n" + block;
    }
    const study::SampleTable table = study::ParseSampleTable(block);
    study::StudyOptions none;
    none.gases = {};
    return study::ReadSamples(table, none).samples;
}

} // namespace temra::ui
