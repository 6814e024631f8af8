// What the model-kind printers share: their output groups, the parameter
// vectors of a mode, the work pool of one call, whose failure is reported
// and ends the printer but not the step (the numbers already printed stand
// and the estimation's results are kept), and the text of a name record.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/output_table.h"
#include "procedure/results/results.h"
#include "velix/host.h"
#include "velix/types.h"

namespace velix::detail {

// The group `index` named `name` with the label message `label`, opened
// unless it is open; 0 when it cannot be opened.
HostObject* open_results_group(const ResultsView& rv, int32_t index, const char* name, int32_t label);
// Closes the "EstimationResults" group when it is open and clears its handle.
void close_estimation_group(const ResultsView& rv);
// The parameter-vector tables of mode 1 (the estimates) or 2 (estimates,
// standard errors, t values and gradient), when they are asked for.
void print_parameter_vectors(const ResultsView& rv, int32_t mode, const ResultSwitches& sw);

// A memory pool for the arrays of one printer call, deleted with the
// object.  ok() is false, after the memory message, when the pool or one
// of its arrays could not be had.
class PrinterPool {
public:
    explicit PrinterPool(int64_t bytes) : pool_(xmpoolc(bytes, 1024, 4096)) {
        if (pool_ == nullptr) {
            xmemmsg(bytes);
            ok_ = false;
        }
    }
    ~PrinterPool() { xmpoold(pool_); }
    PrinterPool(const PrinterPool&) = delete;
    PrinterPool& operator=(const PrinterPool&) = delete;

    // n zeroed T (at least one); 0 once the pool has failed.
    template <typename T>
    T* take(int64_t n) {
        if (!ok_) return nullptr;
        const size_t bytes = static_cast<size_t>(std::max<int64_t>(n, 1)) * sizeof(T);
        void* p = pool_->allocate(pool_, bytes, 4096);
        if (p == nullptr) {
            fail(p);
            return nullptr;
        }
        std::memset(p, 0, bytes);
        last_ = p;
        return static_cast<T*>(p);
    }
    // The deferred test of the pool's allocations; false after the message.
    bool check() {
        if (ok_ && last_ != nullptr && xmemdef(last_) != 0) fail(last_);
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    void fail(const void* block) {
        const int32_t code = xmemdef(block);
        xmemmsg(static_cast<int64_t>(code != 0 ? code : kMemoryShortage) + 20000);
        ok_ = false;
    }
    HostAllocator* pool_ = nullptr;
    const void* last_ = nullptr;
    bool ok_ = true;
};

// The implied covariance T S T' of n variables that are T (n x k,
// row-major) times k variables of covariance S (k x k, dense symmetric):
//   ts  out  n x k: T S
//   cov out  packed n: T S T', formed as (T S)_i . T_j
void implied_covariance(const double* t, const double* s, size_t n, size_t k, double* ts, double* cov);

// A model with means holds the moments about zero of the exogenous parts
// in its central matrix (_PHI_, _P_): with the constant at row j, the mean
// of x is p_xj / p_jj and the covariance of x and y p_xy - p_xj p_yj /
// p_jj.  The tables after the fit show a fixed element (the sample's, or
// a value given) as the covariance or mean it stands for and no row for
// the constant's own moment; a parameter keeps its estimate, and those
// that are moments about zero (both variables with a mean) are named in a
// note.  With j = -1 every element shows its value.
class MomentsAboutZero {
public:
    MomentsAboutZero(const ResultsView& rv, int32_t matrix, int32_t j);
    bool constant_own(int32_t e) const;
    double shown(int32_t e) const;
    bool about_zero(int32_t e) const;

private:
    const ResultsView& rv_;
    int32_t j_ = -1;
    double c_ = 0.0;             // the constant's moment
    std::vector<double> withJ_;  // per row: p_xj, 0 when none
};
// The note that names the parameters that are moments about zero; false
// after a failed output call.
bool about_zero_note(HostObject* manager, const std::vector<std::string>& names);

// The host's missing value '_': a cell that carries no value (a fixed
// element's standard error).
// The "Estimate" column of a table of estimates, with "StdErr" and
// "tValue" after it when the standard errors are shown.
inline void estimate_columns(OutputTable& t, bool inference) {
    t.double_column("Estimate");
    if (!inference) return;
    t.double_column("StdErr");
    t.double_column("tValue");
}

inline double blank_missing() {
    constexpr int kMissingBlank = 1;  // code of '_' among the special missing values
    return host_special_missing(kMissingBlank);
}

// The name without trailing blanks.
inline std::string record_text(const NameRecord& r) {
    int32_t l = std::clamp<int32_t>(r.length, 0, 32);
    while (l > 0 && r.text[l - 1] == ' ') --l;
    return std::string(r.text, static_cast<size_t>(l));
}

}  // namespace velix::detail
