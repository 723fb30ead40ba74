#include "core/module1.h"

#include "core/numtext.h"

#include <algorithm>
#include <cmath>

namespace temra {

namespace {
MemoryAdvisor gMemoryAdvisor = nullptr;
constexpr std::size_t kLargeArray = std::size_t{32} << 20;
constexpr std::size_t kLargeAlignment = std::size_t{2} << 20;
} // namespace

void SetMemoryAdvisor(MemoryAdvisor advisor) {
    gMemoryAdvisor = advisor;
}

template <typename T> RunArray<T>::RunArray(std::size_t n) : size_(n) {
    const std::size_t bytes = std::max<std::size_t>(n, 1) * sizeof(T);
    const std::size_t alignment = bytes >= kLargeArray ? kLargeAlignment : alignof(T);
    data_ = std::unique_ptr<T[], Free>(
        static_cast<T*>(::operator new (bytes, std::align_val_t{alignment})), Free{alignment});
    if (bytes >= kLargeArray && gMemoryAdvisor) gMemoryAdvisor(data_.get(), bytes);
}
template class RunArray<double>;
template class RunArray<float>;

std::span<const double> SolubilityGrid::Row(int g) const {
    const auto n = static_cast<std::size_t>(CaseCount);
    return {Solubility.data() + static_cast<std::size_t>(g) * n, n};
}

double RoundHalfEven(double x) {
    return std::nearbyint(x);
}

Module1::Module1() {
    LoadGasTable();
}

const SolubilityGrid& Module1::Grid() const {
    if (!grid_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::Calculate),
                         "no solubility run yet");
    return *grid_;
}

namespace {
[[noreturn]] void CaseOutOfRange(CaseNumber k) {
    throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::Calculate),
                     "there is no grid case " + std::to_string(k));
}
} // namespace

double Module1::CaseTemp(CaseNumber k) const {
    if (k < 1 || k > CaseIndex()) CaseOutOfRange(k);
    return grid_->Temp[static_cast<std::size_t>(k - 1)];
}

float Module1::CaseElev(CaseNumber k) const {
    if (k < 1 || k > CaseIndex()) CaseOutOfRange(k);
    return grid_->Elev[static_cast<std::size_t>(k - 1)];
}

double Module1::GasSolubility(int g, CaseNumber k) const {
    if (g < 1 || g > GasCount || k < 1 || k > CaseIndex()) CaseOutOfRange(k);
    return grid_->Row(g - 1)[static_cast<std::size_t>(k - 1)];
}

double Module1::MeasuredConc(int g) const {
    if (g < 1 || g > GasCount) CaseOutOfRange(g);
    return grid_ ? grid_->MeasuredConc[g - 1] : 0;
}

std::span<const double> Module1::Row(int g) const {
    if (!grid_) return {};
    return grid_->Row(g);
}

void Module1::BuildSelectedGasTables(const std::array<bool, GasCount>& deleted) {
    if (!grid_ || grid_->CaseCount == 0)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::Calculate),
                         "the last solubility run produced no grid case");
    auto sel = std::make_shared<GasSelection>();
    sel->grid = grid_;
    for (int gas = 0; gas < GasCount; ++gas) {
        if (deleted[static_cast<std::size_t>(gas)]) continue;
        sel->Gas.push_back(gas);
        sel->SelGasLabel.emplace_back(GasAt(gas).selectedGraphLabel);
        sel->SelMeasured.push_back(grid_->MeasuredConc[static_cast<std::size_t>(gas)]);
        sel->GasNumber.push_back(static_cast<float>(sel->Gas.size()));
    }
    sel->SelGasCount = static_cast<int>(sel->Gas.size());
    if (sel->SelGasCount == 0)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::GasSelection),
                         "every gas is ticked for deletion; leave at least one");
    selection_ = std::move(sel);
}

const GasSelection& Module1::Selection() const {
    if (!selection_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::GasSelection),
                         "redraw the graph for the selected gases first");
    return *selection_;
}

const BestFitNoEa& Module1::NoEa() const {
    if (!noEa_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::GasSelection),
                         "no best fit without excess air yet");
    return *noEa_;
}

const BestFitEa& Module1::Ea() const {
    if (!ea_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::EaMin),
                         "no best fit with excess air yet");
    return *ea_;
}

const GasPairGraph& Module1::GasPair() const {
    if (!pair_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::PairSelection),
                         "no gas-pair graph yet");
    return *pair_;
}

} // namespace temra
