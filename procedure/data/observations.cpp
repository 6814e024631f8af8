// The raw-observation pass shared by the kurtosis and the fourth-order
// weight routines: binding, frequency and weight rules, the list of the
// largest kurtosis contributions.
#include "procedure/data/observations.h"

#include <cmath>
#include <vector>

#include "host/host_support.h"
#include "procedure/data/data_view.h"
#include "velix/codes.h"
#include "velix/host_dataset.h"
#include "velix/statements.h"

namespace velix::detail {

namespace {
constexpr int32_t kTypeNumeric = 102;  // 'f'
}  // namespace

int16_t list_variable(const DataView& dv, int32_t list, int32_t index) {
    if (dv.options->procOptions == nullptr) return 0;
    const NameArray& a = dv.options->procOptions->lists[list];
    if (index >= a.count) return 0;
    int16_t number = 0;
    if (xvfind(dv.dataSets->dataSetHandle[kRoleData], a.names[index].text, a.names[index].length, &number, 0) != 0)
        return 0;
    return number;
}

RawPass::RawPass(const DataView& dv) : dv_(dv) {
    HostDataSet* data = dv.dataSets->dataSetHandle[kRoleData];
    const std::vector<ReadVariable> vars = read_variables(dv.ctx);
    count_ = static_cast<int32_t>(vars.size());
    xvgeti(data, count_ + 2, 0, &binding_);
    for (int32_t i = 0; i < count_; ++i)
        xvgetd(binding_, vars[i].number, 0, &dv.cells->rowValues[i], 8, kTypeNumeric, 0, 0);
    if (const int16_t f = list_variable(dv, kListFreq)) {
        hasFreq_ = true;
        xvgetd(binding_, f, 0, &freq_, 8, kTypeNumeric, 0, 0);
    }
    if (const int16_t w = list_variable(dv, kListWeight)) {
        hasWeight_ = true;
        xvgetd(binding_, w, 0, &weight_, 8, kTypeNumeric, 0, 0);
    }
    xvgete(binding_);
    xbyrwnd(data, kRewindGroup);
}

RawPass::~RawPass() { xvgett(binding_); }

bool RawPass::next(double* weight, double* frequency) {
    DataSetSlot* slot = dv_.dataSets->dataSetSlot[kRoleData];
    while (xybyget(slot) != 0) {
        freq_ = weight_ = 1.0;
        if (xyvget(binding_, 0) != 0) continue;
        double f = 1.0, w = 1.0;
        if (hasFreq_ || hasWeight_) {
            f = wzmis(freq_) ? 0.0 : std::floor(freq_);
            w = wzmis(weight_) ? 0.0 : weight_;
            if (!(f > 0.0) || !(w > 0.0)) continue;
            w *= f;
        }
        if (wzmisn(dv_.cells->rowValues, count_)) continue;
        ++used;
        sumFrequency += f;
        sumWeight += w;
        *weight = w;
        *frequency = f;
        return true;
    }
    return false;
}

int32_t RawPass::observation() const {
    int32_t number = 0;
    xoinfo(dv_.dataSets->dataSetHandle[kRoleData], kInfoObsNumber, &number);
    return number;
}

int32_t RawPass::level() const {
    return used == 0 || !(sumWeight > 0.0) || sumFrequency == 0.0 ? kLevelNoMoments : 0;
}

void enter_contribution(KurtosisList* list, double c, int32_t obs, double w) {
    for (int p = 0; p < 5; ++p) {
        if (list->observation[p] != 0 && c < list->contribution[p]) continue;
        for (int q = 4; q > p; --q) {
            list->contribution[q] = list->contribution[q - 1];
            list->observation[q] = list->observation[q - 1];
            list->weight[q] = list->weight[q - 1];
        }
        list->contribution[p] = c;
        list->observation[p] = obs;
        list->weight[p] = w;
        return;
    }
}

}  // namespace velix::detail
