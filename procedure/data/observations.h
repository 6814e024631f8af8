// One pass over the raw observations of the current BY group of DATA=, as
// the kurtosis and fourth-order weight routines make it: the analysis
// variables bound to the row of the run context, the frequency and weight
// of each observation, and the list of the largest kurtosis contributions.
#pragma once

#include <cstdint>

#include "procedure/data/data.h"
#include "procedure/data/data_view.h"

namespace velix::detail {

class RawPass {
public:
 // Binds the variables read (the nVar analysis variables, then the
 // PARTIAL ones) to the view's cells.rowValues and the WEIGHT and FREQ
 // variables, and rewinds DATA= to the start of the BY group.
 explicit RawPass(const DataView& dv);
 ~RawPass();
 RawPass(const RawPass&) = delete;
 RawPass& operator=(const RawPass&) = delete;

 // The next usable observation: its values in cells.rowValues, *weight
 // the weight times the frequency, *frequency the frequency.  Skips
 // observations whose frequency (floor, 0 when missing) or weight (0
 // when missing) is not above 0 or that have a missing value of a
 // variable read, as the moments leave them out.
 // false at the end of the group.
 bool next(double* weight, double* frequency);
 // The data-set number of the observation last delivered.
 int32_t observation() const;

 int64_t used = 0;
 double sumFrequency = 0.0;
 double sumWeight = 0.0;
 // kLevelNoMoments when nothing usable was read, the weight sum is not positive or
 // the frequency sum is 0; else 0.
 int32_t level() const;

private:
    DataView dv_;
    int32_t count_ = 0;
    HostBinding* binding_ = nullptr;
    double freq_ = 1.0;
    double weight_ = 1.0;
    bool hasFreq_ = false;
    bool hasWeight_ = false;
};

// Enters contribution c of observation obs (weight w) into the list of the
// five largest: at the first place whose value c equals or exceeds, the
// entries from there move down and the fifth drops out.
void enter_contribution(KurtosisList* list, double c, int32_t obs, double w);

// The kurtosis sums of a raw pass.  kurtosis_reset zeroes the skewness and
// kurtosis sums of the nVar analysis variables, the contribution list and,
// with an inverse, the Mardia sum (kurtosisCells[kKurtMardia]).
void kurtosis_reset(const DataView& dv, const double* inverse, KurtosisList* list);
// out: *numbered, whether DATA= numbers its observations.  When kurtosis
// is asked for and they are not numbered, writes note 39; result: the
// note's status (negative after reporting a failure), else 0.
int32_t kurtosis_numbering(const DataView& dv, int32_t* numbered);
// Adds one observation, centred about the means in d[nVar], of weight w:
// the cubes and fourth powers, and with an inverse its Mardia term, which
// enters the contribution list as observation `observation`.
void kurtosis_add(const DataView& dv, const double* d, double w, const double* inverse,
                  KurtosisList* list, int32_t observation);

// MAXTIME= bounds the forming of the weights as it bounds the
// optimization: true when the limit is given and more than that many
// seconds have passed since `start` (a limit not above 0 has passed at
// once, as it has for the optimizer).
bool weight_time_passed(const DataView& dv, double start);

// Variable number in DATA= of the first variable of a PROC list (WEIGHT,
// FREQ, PARTIAL), 0 when the list is empty or the variable is absent.
int16_t list_variable(const DataView& dv, int32_t list, int32_t index = 0);

}  // namespace velix::detail
