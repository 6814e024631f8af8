// Start values after the moments of a BY group: the covariances of the
// exogenous manifest variables of an equation model start at their sample
// values (cosiset), and every parameter gets one consistent start value
// (cosinst): the mean of its elements' values, clamped to its bounds, the
// start constant or a random number where none is known, with variances
// scaled and both taken in the units of the data; the programming
// statements then run once for the dependent parameters.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/internal_error.h"
#include "host/host_support.h"
#include "numerics/uniform_random.h"
#include "numerics/kernel_support.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "procedure/procedure.h"
#include "procedure/startvalues/model_units.h"
#include "velix/codes.h"
#include "velix/host_compiler.h"
#include "velix/messages.h"
#include "velix/packed_index.h"

namespace {

// Relative difference of a fixed covariance from the sample one that is
// worth a note (the square root of the double precision, about 1e-8).
constexpr double kFixedDifference = velix::kSqrtMachEpsWritten;
// Matrices of the exogenous covariances: _PHI_ of LINEQS, _P_ of RAM.
constexpr int32_t kPhiMatrix = 4;
constexpr int32_t kRamP = 3;

using velix::pk;

}  // namespace

void cosiset(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    if (!sv.readers->equationModel || sv.readers->varPosition == nullptr) return;
    const int32_t e = sv.readers->nEndo;
    std::vector<int32_t> exo;
    // The manifest variables include the intercept of the augmented moment
    // matrix, whose moments with the other exogenous variables are known too.
    for (int32_t i = 0; i < sv.sizes->nManifest; ++i)
        if (sv.readers->varPosition[i] >= e) exo.push_back(i);
    const int32_t m = static_cast<int32_t>(exo.size());
    if (m == 0) return;
    sv.moments->modelDf -= m * (m + 1) / 2;
    // The variables whose covariances are set, one column each; a failed
    // call leaves the covariances as they are.
    if (sv.options->printInputModel && sv.output->kyrManager != nullptr) {
        OutputTable t(sv.output->kyrManager, "SetCovExog", kyrmsg(kMsgProc, kMsgExogenousCovariances),
                      "Tesk.Velix.SetCovExog");
        for (int32_t i : exo)
            t.name_column(std::string(sv.input->manifestNames[i].text, sv.input->manifestNames[i].length));
        if (!t.end_columns()) return;
        if (!t.add_row() || !t.deliver()) return;
    }
    const bool ram = sv.readers->ramModel != 0;
    const int32_t mat = ram ? kRamP : kPhiMatrix;
    const ModelMatrixTable& t = *sv.model;
    if (mat > sv.sizes->nMatrices) return;
    const int32_t first = t.firstElement[mat], count = t.elementCount[mat];
    for (int32_t a = 0; a < m; ++a)
        for (int32_t b = 0; b <= a; ++b) {
            const int32_t i = exo[a], j = exo[b];
            const double s = sv.arrays->momentMatrix[pk(i, j)];
            // A RAM model keeps the manifest variables first, in their
            // order, so variable i is row i of _P_; its class only says
            // whether it is exogenous.
            const int32_t r = ram ? i : sv.readers->varPosition[i] - e;
            const int32_t c = ram ? j : sv.readers->varPosition[j] - e;
            int32_t found = -1;
            for (int32_t k = first; k < first + count && found < 0; ++k) {
                const int32_t er = sv.elements->row[k], ec = sv.elements->column[k];
                if ((er == r && ec == c) || (er == c && ec == r)) found = k;
            }
            // Every pair was taken off the degrees of freedom above as if
            // the model reproduced its sample moment.  A free covariance
            // is counted among the parameters instead, and a fixed one
            // that differs from the sample (a covariance of zero that the
            // model leaves out included) is a restriction the fit tests:
            // both give their degree of freedom back.
            if (found < 0) {
                if (std::fabs(s) >= velix::kMachEpsWritten) {
                    const NameRecord& nm = sv.input->manifestNames[i];
                    xpmlog(kMsgProc, kMsgExogenousNotSet, static_cast<int32_t>(nm.length), nm.text);
                    ++sv.moments->modelDf;
                }
                continue;
            }
            const int32_t p = std::abs(sv.elements->parameter[found]);
            double& v = sv.elements->value[found];
            if (p > 0) {
                // A start value the statements or INEST= give is the start
                // under every method: WLS and DWLS, which estimate the
                // block, may end elsewhere from the sample values.
                if (wzmis(v)) v = s;
                sv.nlp->param.x[p - 1] = v;
                ++sv.moments->modelDf;
            } else if (wzmis(v)) {
                v = s;
            } else if (std::fabs(v - s) / std::max({1.0, std::fabs(v), std::fabs(s)}) > kFixedDifference) {
                ++sv.moments->modelDf;
                // A fixed value that differs from the sample is kept and
                // noted in the listing beside the model.
                if (sv.options->printEnabled && sv.output->kyrManager != nullptr) {
                    const NameRecord& nm = sv.input->manifestNames[i];
                    kyr_failed(kyr_note(sv.output->kyrManager,
                                        kyrmsgs(kMsgProc, kMsgExogenousNotSet,
                                                static_cast<int32_t>(nm.length), nm.text),
                                        'l'));
                }
            }
        }
    if (*sv.errorLevel > kLevelStepEnds) xexit(*sv.errorLevel, 0);
}

namespace {

// The nonzero derivatives of an element held by dependent parameter p (its
// negative number): the entries of the analytic derivative structure that
// belong to p.  When the matrices are rebuilt before the derivatives, or
// the derivatives are taken by differences, no structure is known and p
// may depend on every independent parameter the program references.
int32_t dependent_entries(const StepView& sv, int32_t p) {
    const ProgramState& pg = *sv.program;
    if (sv.options->rebuildBeforeDerivs || pg.fdDepDerivs || pg.depDerivParm == nullptr ||
        pg.depParmNumbers == nullptr)
        return pg.nDepRef;
    int32_t count = 0;
    for (int32_t t = 0; t < pg.nDepDerivs; ++t)
        if (pg.depParmNumbers[pg.depDerivParm[t]] == p) ++count;
    return count;
}

// The size of each parameter in the units of the data for the optimizer's
// claim check: the geometric mean of its elements' units; 0 (unknown) for
// a parameter without elements, with an element whose unit rests on a
// latent variable that nothing scales, or of a model whose units cannot
// be read.
void parameter_units(const StepView& sv, const std::vector<double>& logUnits, const std::vector<char>& determined) {
    double* unit = sv.nlp->param.unit;
    if (unit == nullptr) return;
    const ElementPattern& el = *sv.elements;
    std::vector<double> sum(static_cast<size_t>(sv.sizes->nParmAll), 0.0);
    std::vector<int32_t> count(sum.size(), 0);
    for (int32_t e = 0; e < sv.sizes->nElements; ++e) {
        const int32_t p = el.parameter[e];
        if (p <= 0 || p > sv.sizes->nParmAll || count[static_cast<size_t>(p - 1)] < 0) continue;
        // One element of unknown unit leaves the parameter's unknown.
        if (determined[static_cast<size_t>(e)] == 0) {
            count[static_cast<size_t>(p - 1)] = -1;
            continue;
        }
        sum[static_cast<size_t>(p - 1)] += logUnits[static_cast<size_t>(e)];
        ++count[static_cast<size_t>(p - 1)];
    }
    for (size_t p = 0; p < sum.size(); ++p) {
        const double u = count[p] > 0 ? std::exp(sum[p] / count[p]) : 0.0;
        unit[p] = std::isfinite(u) ? u : 0.0;
    }
}

// Step 3 of cosinst: the elements of free parameters without a value take
// the start constant or a random number (variances of central matrices
// scaled), and with a given variance scale the known variances are scaled
// too.  A value the model leaves to this step follows the units of the
// data: the start constant and the variance scale are taken in the units
// of the element (a loading in those of its indicator over its factor's, a
// variance in those of its variable), so that measuring a variable in
// other units changes the start by the same factors as the solution.  A
// value takes the sign of its element too (a loading that of its
// indicator's covariance with the factor's marker), so that reversing a
// variable reverses the start as it does the solution: from a start whose
// loadings point against their indicators the Gauss-Newton steps turn the
// factor's variance negative rather than the loadings round, and under the
// least-squares methods, which do not keep the implied moments positive
// definite, the fit then runs off along a ridge (that variance to minus
// infinity, the marker's unique variance to plus infinity).  A parameter
// at several elements takes the sign of its first.  A model whose units
// cannot be read keeps the plain values.  The number of values changed.
int32_t fill_missing(const StepView& sv, const std::vector<double>& logUnits, const std::vector<double>& signs) {
    NlpProblem* nlp = sv.nlp;
    const ElementPattern& el = *sv.elements;
    const ModelMatrixTable& t = *sv.model;
    const bool scaleGiven = !wzmis(sv.options->varStartScale);
    const double scale = scaleGiven                 ? sv.options->varStartScale
                         : sv.options->covAnalysis ? 100.0
                                                    : 10.0;
    auto in_units = [&](int32_t e, double r) {
        const double v = r * std::exp(logUnits[static_cast<size_t>(e)]);
        return std::isfinite(v) && v != 0.0 ? v : r;
    };
    std::vector<double> parameterSign(static_cast<size_t>(sv.sizes->nParmAll) + 1, 0.0);
    int32_t changed = 0;
    for (int32_t term = 0; term < sv.sizes->nTerms; ++term) {
        const int32_t first = t.termTable[term], last = t.termTable[term + 1] - 1;
        for (int32_t mat = first; mat <= last; ++mat)
            for (int32_t e = t.firstElement[mat]; e < t.firstElement[mat] + t.elementCount[mat]; ++e) {
                const int32_t p = std::abs(el.parameter[e]);
                if (p == 0) continue;
                const bool variance = mat == last && el.row[e] == el.column[e];
                if (wzmis(el.value[e])) {
                    double r = sv.options->randomSeed != 0 ? zranuni(&sv.options->randomSeed)
                                                            : sv.options->startConst;
                    if (variance)
                        r = scaleGiven ? (std::fabs(r) + 1.0) * sv.options->varStartScale
                                       : std::fabs(r) * scale;
                    double& sign = parameterSign[static_cast<size_t>(p)];
                    if (sign == 0.0) sign = signs[static_cast<size_t>(e)];
                    r = sign * in_units(e, r);
                    el.value[e] = r;
                    nlp->param.x[p - 1] = r;
                    ++changed;
                } else if (scaleGiven && variance) {
                    el.value[e] = sv.options->varStartScale * (std::fabs(el.value[e]) + 1.0);
                    nlp->param.x[p - 1] = el.value[e];
                    ++changed;
                }
            }
    }
    return changed;
}

}  // namespace

void cosinst(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    NlpProblem* nlp = sv.nlp;
    const int32_t nAll = sv.sizes->nParmAll;
    const int32_t nE = sv.sizes->nElements;
    const ElementPattern& el = *sv.elements;
    const ModelMatrixTable& t = *sv.model;

    auto average = [&]() {
        for (int32_t p = 1; p <= nAll; ++p) {
            double sum = 0.0;
            int32_t k = 0;
            for (int32_t e = 0; e < nE; ++e)
                if (std::abs(el.parameter[e]) == p && !wzmis(el.value[e])) {
                    sum += el.value[e];
                    ++k;
                }
            double v = k > 0 ? sum / k : nlp->param.x[p - 1];
            if (!wzmis(v) && nlp->shape.hasBounds && p <= sv.sizes->nParmFree) {
                if (nlp->param.lower && !wzmis(nlp->param.lower[p - 1])) v = std::max(v, nlp->param.lower[p - 1]);
                if (nlp->param.upper && !wzmis(nlp->param.upper[p - 1])) v = std::min(v, nlp->param.upper[p - 1]);
            }
            nlp->param.x[p - 1] = v;
            if (!wzmis(v))
                for (int32_t e = 0; e < nE; ++e)
                    if (std::abs(el.parameter[e]) == p) el.value[e] = v;
        }
    };
    average();

    std::vector<double> logUnits, signs;
    std::vector<char> determined;
    velix::detail::element_log_units(ctx, &logUnits, &determined, &signs);
    parameter_units(sv, logUnits, determined);
    const int32_t changed = fill_missing(sv, logUnits, signs);
    if (changed > 0) average();

    // A fixed element whose value the user gave as missing, and that no
    // sample covariance filled, is an error of the model, not of this step.
    bool fixedMissing = false;
    for (int32_t mat = 1; mat <= sv.sizes->nMatrices; ++mat) {
        if (t.sameName != nullptr && t.sameName[mat] != 0) continue;
        for (int32_t e = t.firstElement[mat]; e < t.firstElement[mat] + t.elementCount[mat]; ++e)
            if (el.parameter[e] == 0 && wzmis(el.value[e])) {
                xpmlog(kMsgProc, kMsgFixedMissing, velix::detail::name_text(t.name[mat]).c_str(),
                       el.row[e] + 1, el.column[e] + 1);
                fixedMissing = true;
            }
    }
    if (fixedMissing) xexit(std::max(*sv.errorLevel, kLevelInputError), 0);
    for (int32_t e = 0; e < nE; ++e) {
        if (wzmis(el.value[e])) {
            internal_error("a model element has no start value");
        }
        const int32_t p = std::abs(el.parameter[e]);
        if (p != 0) nlp->param.x[p - 1] = el.value[e];
    }
    for (int32_t p = 0; p < sv.sizes->nParmFree; ++p)
        if (wzmis(nlp->param.x[p])) {
            internal_error("a parameter has no start value");
        }

    if (sv.program->hasProgram && !sv.options->rebuildBeforeDerivs && sv.cmpWork != nullptr) {
        cmpexi(1, 0, 0, sv.cmpWork);
        int32_t errors = 0, missing = 0;
        const int32_t d = sv.program->depDerivRequest || sv.program->conDerivRequest ? 1 : 0;
        const int32_t rc = cmprun(0, 0, 0, 1, 1, d, 0, 1, &errors, &missing, sv.cmpWork);
        if (rc != 0) cmppxrc(rc, sv.cmpWork);
        if (errors != 0) {
            xpmlog(kMsgProc, kMsgProgramMissing);
            cmpperr(1, 999, sv.cmpWork);
        }
        if (missing != 0) {
            xpmlog(kMsgProc, kMsgProgramMissing);
            cmppmis(sv.cmpWork);
        }
        if (errors != 0 || rc >= kCmpRunFault) {
            if (rc == kCmpRunFault) xpmlog(kMsgProc, kMsgProgramFault);
            if (rc == kCmpRunAbort) xpmlog(kMsgProc, kMsgProgramAbort);
            if (rc < kCmpRunFault) xpmlog(kMsgProc, kMsgProgramNoStartValues);
            xexit(kLevelProgramFailed, 0);
        }
    }

    sv.sizes->nJacEntries = 0;
    for (int32_t e = 0; e < nE; ++e) {
        const int32_t p = el.parameter[e];
        if (p > 0) ++sv.sizes->nJacEntries;
        else if (p < 0)
            sv.sizes->nJacEntries += dependent_entries(sv, p);
    }
}
