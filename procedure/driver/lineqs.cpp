// The LINEQS reader: linear structural equations (the Bentler-Weeks
// formulation, Bentler and Weeks, Psychometrika 45, 1980) read into one
// term of four matrices, Sigma = S (I - B)^-1 Gamma Phi Gamma' (I - B)^-T S'
// with the selection _SEL_, the endogenous-on-endogenous coefficients
// _BETA_, the endogenous-on-exogenous coefficients _GAMMA_ and the
// covariances of the exogenous variables _PHI_.
//
//   classify variables (manifest, F, E, D; endogenous, exogenous) -> order
//   them -> size the matrices -> model tables -> _BETA_ and _GAMMA_
//   patterns from the equations -> _PHI_ pattern from STD and COV (lfind)
//   -> empty-matrix corrections -> added parameters -> parameter table ->
//   latent variables that need start values
#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "host/internal_error.h"
#include "host/scratch_file.h"
#include "host/output_table.h"
#include "procedure/data/data.h"
#include "procedure/driver/model.h"
#include "procedure/driver/model_readers.h"
#include "procedure/driver/step_view.h"
#include "velix/host_dataset.h"
#include "velix/messages.h"

namespace {

std::string str(const NameRecord& r) {
    int32_t l = std::min<int32_t>(r.length, 32);
    while (l > 0 && r.text[l - 1] == ' ') --l;
    return std::string(r.text, l);
}

char first_upper(const NameRecord& r) {
    return r.length > 0 ? static_cast<char>(std::toupper(static_cast<unsigned char>(r.text[0]))) : ' ';
}

NameRecord padded8(const NameRecord& r) {
    NameRecord out = r;
    if (out.length < 8) {
        std::memset(out.text + out.length, ' ', 8 - out.length);
        out.length = 8;
    }
    return out;
}

NameRecord generated_name(const NameRecord& prefix, int32_t number) {
    NameRecord r;
    std::memset(r.text, ' ', sizeof r.text);
    std::string p = str(prefix);
    znamfix(0, p.c_str(), static_cast<int32_t>(p.size()), number, 0, r.text, 32);
    int32_t l = 32;
    while (l > 0 && r.text[l - 1] == ' ') --l;
    r.length = static_cast<int16_t>(l);
    return r;
}

// The generated-name prefixes with their running counters.
struct Prefixes {
    std::vector<NameRecord> names;
    std::vector<int32_t> counters;
    int32_t index(const NameRecord& p) {
        for (size_t i = 0; i < names.size(); ++i)
            if (same_name(names[i], p)) return static_cast<int32_t>(i);
        names.push_back(p);
        counters.push_back(0);
        return static_cast<int32_t>(names.size() - 1);
    }
    NameRecord next(const NameRecord& p) {
        int32_t i = index(p);
        return generated_name(p, ++counters[i]);
    }
};

// The variances (mode 0: "E8") or covariances (mode 1: "(E2, E1)") of the
// slots from..to-1 of a group, in the order lfind fills them, as a list
// ("E8 and E9", "E7, E8 and E9").
std::string slot_labels(const VarianceGroup& g, int32_t mode, int32_t from, int32_t to) {
    std::vector<std::string> labels;
    const int32_t m1 = g.vars1.count, m2 = g.vars2.count;
    auto pair = [](const NameRecord& a, const NameRecord& b) { return "(" + str(a) + ", " + str(b) + ")"; };
    int32_t s = 0;
    if (mode == 0) {
        for (int32_t a = 0; a < m1; ++a, ++s)
            if (s >= from && s < to) labels.push_back(str(g.vars1.names[a]));
    } else if (m2 == 0) {
        for (int32_t a = 1; a < m1; ++a)
            for (int32_t b = 0; b < a; ++b, ++s)
                if (s >= from && s < to) labels.push_back(pair(g.vars1.names[a], g.vars1.names[b]));
    } else {
        for (int32_t a = 0; a < m1; ++a)
            for (int32_t b = 0; b < m2; ++b, ++s)
                if (s >= from && s < to) labels.push_back(pair(g.vars1.names[a], g.vars2.names[b]));
    }
    std::string text;
    for (size_t k = 0; k < labels.size(); ++k)
        text += (k == 0 ? "" : k + 1 == labels.size() ? " and " : ", ") + labels[k];
    return text;
}

// Expands one STD (mode 0) or COV (mode 1) entry group into one (name,
// value) slot per variance or covariance.
int32_t lfind(const StepView& sv, const VarianceGroup& g, int32_t mode, Prefixes* prefixes,
              std::vector<NameRecord>* names, std::vector<double>* values) {
    const int32_t m1 = g.vars1.count, m2 = g.vars2.count;
    const int32_t slots = mode == 0 ? m1 : (m2 > 0 ? m1 * m2 : m1 * (m1 - 1) / 2);
    const double missing = host_missing_value();
    names->assign(slots, NameRecord());
    values->assign(slots, missing);
    int32_t next = 0, lastNames = 0;
    int16_t lastCode = 0;
    NameRecord lastName, lastPrefix;
    double lastValue = missing;
    bool cut = false;
    for (int32_t it = 0; it < g.nItems && !cut; ++it) {
        const VarianceItem& item = g.items[it];
        switch (item.code) {
            case kItemNames:
                lastNames = 0;
                for (int32_t i = 0; i < item.count; ++i) {
                    if (next >= slots) {
                        cut = true;
                        break;
                    }
                    lastName = g.names.names[item.first + i];
                    (*names)[next] = lastName;
                    (*values)[next++] = missing;
                    ++lastNames;
                }
                lastValue = missing;
                lastCode = kItemNames;
                break;
            case kItemPrefix:
                if (next >= slots) {
                    cut = true;
                    break;
                }
                lastPrefix = g.names.names[item.first];
                (*names)[next] = prefixes->next(lastPrefix);
                (*values)[next++] = missing;
                lastNames = 1;
                lastValue = missing;
                lastCode = kItemPrefix;
                break;
            case kItemNameValues: {
                // Values belong to the names just given, counted backwards.
                int32_t k = item.count;
                if (k > lastNames) {
                    xpmlog(kMsgProc, kMsgVarianceSurplusValues);
                    k = lastNames;
                }
                for (int32_t i = 0; i < k; ++i) (*values)[next - k + i] = g.values[item.first + i];
                lastValue = g.values[item.first + k - 1];
                break;
            }
            case kItemValues:
                for (int32_t i = 0; i < item.count; ++i) {
                    if (next >= slots) {
                        cut = true;
                        break;
                    }
                    lastValue = g.values[item.first + i];
                    (*names)[next] = NameRecord();
                    (*values)[next++] = lastValue;
                }
                lastCode = kItemValues;
                break;
            default:
                break;
        }
    }
    if (cut) xpmlog(kMsgProc, kMsgVarianceEntryCut);
    if (next < slots && next > 0) {
        const int32_t firstShared = next - 1;
        for (; next < slots; ++next) {
            if (lastCode == kItemPrefix)
                (*names)[next] = prefixes->next(lastPrefix);
            else if (lastCode == kItemNames)
                (*names)[next] = lastName;
            (*values)[next] = lastValue;
        }
        if (lastCode == kItemNames)
            // One parameter for several variances or covariances is seldom
            // meant (a list one item short): say which ones it joins.
            xpmlog(kMsgProc, kMsgLastNameShared, mode == 0 ? "STD" : "COV", mode == 0 ? "variances" : "covariances",
                   slot_labels(g, mode, firstShared, slots).c_str(), str(lastName).c_str());
        else
            xpmlog(kMsgProc, mode == 0 ? kMsgStdLastRepeated : kMsgCovLastRepeated);
    }
    (void)sv.ctx;
    return slots;
}

// Writes the rows of one group of variables: "Type" and the names.
void variable_table(const StepView& sv, const char* name, int32_t title, const char* path, int32_t titleText,
                    int32_t titleArg, const std::vector<std::pair<int32_t, std::vector<NameRecord>>>& groups,
                    int32_t longest) {
    size_t widest = 1;
    for (const auto& g : groups) widest = std::max(widest, g.second.size());
    HostText* heading = titleArg >= 0 ? kyrmsgs(kMsgProc, titleText, titleArg) : kyrmsg(kMsgProc, titleText);
    OutputTable t(sv.output->kyrManager, name, kyrmsg(kMsgProc, title), path, heading);
    t.text_column("Type", 12);
    t.text_column("Variables", static_cast<int32_t>(widest) * (longest + 2));
    if (!t.end_columns()) return;
    for (const auto& g : groups) {
        // The NUL-ended form: the blank-padded one leaves no terminator.
        char buf[81];
        const int32_t length = xpmstr(buf, -1 - 80, kMsgProc, g.first);
        std::string type(buf, static_cast<size_t>(length));
        while (!type.empty() && type.back() == ' ') type.pop_back();
        std::string vars;
        for (const NameRecord& n : g.second) {
            std::string s = str(n);
            s.resize(static_cast<size_t>(longest) + 2, ' ');
            vars += s;
        }
        t.set_text(0, type);
        t.set_text(1, vars);
        if (!t.add_row()) return;
    }
    t.deliver();
}

template <typename T>
T* from_pool(const StepView& sv, size_t n) {
    HostAllocator* a = sv.pools->runPool[1];
    void* p = a->allocate(a, sizeof(T) * (n == 0 ? 1 : n), 4);
    if (p == nullptr) xexit(std::max(*sv.errorLevel, kLevelNoMemory), 0);
    std::memset(p, 0, sizeof(T) * (n == 0 ? 1 : n));
    return static_cast<T*>(p);
}

// ---- the steps of cospare ----

// The right-hand variable of term t: a coefficient name, if any, comes first.
const NameRecord& term_var(const LineqsPayload& eq, int32_t t) {
    return eq.names[eq.nameStart[t] + (eq.kind[t] <= 4 ? 1 : 0)];
}

// The terms [*b, *end) of equation e.
void term_range(const LineqsPayload& eq, int32_t e, int32_t* b, int32_t* end) {
    *b = e == 0 ? 0 : eq.termEnd[e - 1];
    *end = eq.termEnd[e];
}

// The index of a variable name among the first n DATA= variables, -1 for a
// latent variable.
int32_t manifest_index(const StepView& sv, int32_t n, const NameRecord& r) {
    for (int32_t i = 0; i < n; ++i)
        if (same_name(sv.input->manifestNames[i], r)) return i;
    return -1;
}

// "WEIGHT" or "FREQ" when the name is the variable of that statement,
// which weighs the observations and so is no analysis variable; else null.
const char* weighing_role(const StepView& sv, const NameRecord& r) {
    const ProcOptionRecord* lists = sv.options->procOptions;
    if (lists == nullptr) return nullptr;
    for (const auto& [k, role] : {std::pair{kListWeight, "WEIGHT"}, std::pair{kListFreq, "FREQ"}}) {
        const NameArray& a = lists->lists[k];
        for (int32_t i = 0; i < a.count; ++i)
            if (same_name(a.names[i], r)) return role;
    }
    return nullptr;
}

// Logs the message for a name that is neither an analysis variable nor a
// latent variable: a character variable of DATA= (a column with a word
// among its numbers) is said to be not numeric, since "not a DATA=
// variable" would send the user looking for a misspelling; any other
// name gets message `otherwise`.
void log_unusable_name(const StepView& sv, const NameRecord& r, int32_t otherwise) {
    HostDataSet* data = sv.dataSets->dataSetHandle[kRoleData];
    int16_t number = 0;
    const HostVariableDescriptor* d = nullptr;
    if (data != nullptr && xvfind(data, r.text, r.length, &number, 0) == 0 && xvname(data, number, &d) == 0 &&
        d->type != kVarNumeric)
        log_not_numeric(data, number, str(r).c_str());
    else if (const char* role = weighing_role(sv, r))
        xpmlog(kMsgProc, kMsgWeighingVariableInModel, str(r).c_str(), role);
    else
        xpmlog(kMsgProc, otherwise, str(r).c_str());
}

int32_t index_in(const std::vector<NameRecord>& v, const NameRecord& r) {
    for (size_t i = 0; i < v.size(); ++i)
        if (same_name(v[i], r)) return static_cast<int32_t>(i);
    return -1;
}

// The variables of the model in the order of its columns: the endogenous
// ones (manifest, then F), then the exogenous ones (manifest, F, E, D).
struct LineqsVariables {
    std::vector<NameRecord> endo, exo, exoManifest, exoF, exoE, exoD;
    std::vector<NameRecord> badNames;  // right-hand names of no kind, reported already
    std::vector<int32_t> endoEq;  // the equation of each endogenous variable
    std::vector<int32_t> varPos;  // model position of each DATA= variable, -1 if unused
    int32_t nEndo = 0, E = 0, N = 0;
};

// Names the four matrices of the one term and sets their types and forms.
void name_matrices(ModelMatrixTable* mt) {
    auto name_matrix = [&](int k, const char* n, int16_t type, int16_t form) {
        mt->name[k] = NameRecord();
        std::memset(mt->name[k].text, ' ', 32);
        std::memcpy(mt->name[k].text, n, std::strlen(n));
        mt->name[k].length = static_cast<int16_t>(std::strlen(n));
        mt->type[k] = type;
        mt->form[k] = form;
    };
    name_matrix(1, "_SEL_", kMatSelection, kFormNone);
    name_matrix(2, "_BETA_", kMatEqsBeta, kFormIMinusInverse);
    name_matrix(3, "_GAMMA_", kMatEqsGamma, kFormNone);
    name_matrix(4, "_PHI_", kMatSymmetric, kFormNone);
    mt->constant[1] = 1;
    mt->termTable[0] = 1;
    mt->termTable[1] = 5;
}

// The program line of equation e, for the messages (0: none known).
int32_t line_of(const LineqsPayload& eq, int32_t e) { return eq.line != nullptr ? eq.line[e] : 0; }

// In an equation without an error term, a term that looks like one (a
// DATA= variable whose name begins with E or D, with a fixed coefficient)
// is most often an error term whose name a data item has (E1 of a
// questionnaire's extraversion items): the model then has no error for
// the equation and rarely an admissible covariance matrix.  The note says
// which variable was taken, at the term.
void note_data_variables_as_error_terms(const StepView& sv, const LineqsPayload& eq) {
    const int32_t n = sv.sizes->nManifest;
    auto error_like = [&](const NameRecord& v) { return first_upper(v) == 'E' || first_upper(v) == 'D'; };
    for (int32_t e = 0; e < eq.nEquations; ++e) {
        int32_t b, end;
        term_range(eq, e, &b, &end);
        bool hasError = false;
        for (int32_t t = b; t < end; ++t)
            hasError = hasError || (error_like(term_var(eq, t)) && manifest_index(sv, n, term_var(eq, t)) < 0);
        // Without an error term, each E or D term is a DATA= variable.
        for (int32_t t = b; t < end && !hasError; ++t) {
            const NameRecord& v = term_var(eq, t);
            if (eq.kind[t] < kTermFixed || !error_like(v)) continue;
            xpmlog(kMsgProc, kMsgDataVariableAsErrorTerm, str(v).c_str(), str(eq.dependents[e]).c_str());
            // At the term itself: the name may stand earlier on the line.
            if (eq.termLine != nullptr)
                xpmplacecol(eq.termLine[t], eq.termColumn[t]);
            else
                xpmplace(line_of(eq, e), str(v).c_str());
        }
    }
}

// Whether manifest variable mi is the Intercept of AUGMENT, the constant 1,
// which the model may use as a predictor but never explain or vary: an
// equation or a variance would make it a random variable, and the fit
// would then be one of moments that no model with means has.
bool is_constant(const StepView& sv, int32_t mi) {
    return sv.options->interceptVar && mi >= 0 && mi == sv.sizes->nManifest - 1;
}

// Checks the dependent variables and their right-hand sides, and finds the
// equation of each DATA= dependent (*depManifest) and the equations of the
// latent F dependents in order (*latentEndoEq).
void check_dependents(const StepView& sv, const LineqsPayload& eq, std::vector<int32_t>* depManifest,
                      std::vector<int32_t>* latentEndoEq) {
    depManifest->assign(static_cast<size_t>(sv.sizes->nManifest), -1);
    latentEndoEq->clear();
    for (int32_t e = eq.nEquations - 1; e >= 0; --e) {
        const NameRecord& d = eq.dependents[e];
        for (int32_t o = 0; o < eq.nEquations; ++o)
            if (o != e && same_name(eq.dependents[o], d) && o < e) {
                xpmlog(kMsgProc, kMsgDependentTwice, str(d).c_str());
                xpmplace(line_of(eq, e), str(d).c_str());
                raise_error_level(sv.ctx, kLevelInputError);
            }
        int32_t mi = manifest_index(sv, sv.sizes->nManifest, d);
        if (is_constant(sv, mi)) {
            xpmlog(kMsgProc, kMsgInterceptIsConstant, "the LINEQS statement", "an equation");
            xpmplace(line_of(eq, e), str(d).c_str());
            raise_error_level(sv.ctx, kLevelInputError);
        } else if (mi >= 0) {
            (*depManifest)[static_cast<size_t>(mi)] = e;
        } else if (first_upper(d) == 'F') {
            latentEndoEq->insert(latentEndoEq->begin(), e);
        } else {
            log_unusable_name(sv, d, kMsgBadDependent);
            xpmplace(line_of(eq, e), str(d).c_str());
            raise_error_level(sv.ctx, kLevelInputError);
        }
        int32_t b, end;
        term_range(eq, e, &b, &end);
        int32_t nErr = 0;
        for (int32_t t = b; t < end; ++t) {
            const NameRecord& v = term_var(eq, t);
            if (same_name(v, d)) {
                xpmlog(kMsgProc, kMsgOwnDependent, str(d).c_str());
                xpmplace(line_of(eq, e), str(d).c_str());
                raise_error_level(sv.ctx, kLevelInputError);
            }
            char c0 = first_upper(v);
            if ((c0 == 'E' || c0 == 'D') && manifest_index(sv, sv.sizes->nManifest, v) < 0) ++nErr;
            for (int32_t u = b; u < t; ++u)
                if (same_name(term_var(eq, u), v)) {
                    xpmlog(kMsgProc, kMsgTermTwice, str(v).c_str(), str(d).c_str());
                    xpmplace(line_of(eq, e), str(v).c_str());
                    raise_error_level(sv.ctx, kLevelInputError);
                }
        }
        if (nErr > 1) {
            xpmlog(kMsgProc, kMsgTwoErrorTerms, str(d).c_str());
            xpmplace(line_of(eq, e), str(d).c_str());
            raise_error_level(sv.ctx, kLevelInputError);
        }
    }
}

// Classifies the DATA= variables (endogenous, exogenous or unused) and the
// right-hand latent variables (in order of first occurrence), and finds the
// model position of each DATA= variable.
void classify_variables(const StepView& sv, const LineqsPayload& eq, const VariancePayload* stdP,
                        const VariancePayload* covP, const std::vector<int32_t>& depManifest,
                        const std::vector<int32_t>& latentEndoEq, LineqsVariables* v) {
    const int32_t n = sv.sizes->nManifest;
    auto occurs_in_lists = [&](const NameRecord& r) {
        for (const VariancePayload* p : {stdP, covP}) {
            if (!p) continue;
            for (int32_t gi = 0; gi < p->nGroups; ++gi)
                for (const NameArray* a : {&p->groups[gi].vars1, &p->groups[gi].vars2})
                    for (int32_t i = 0; i < a->count; ++i)
                        if (same_name(a->names[i], r)) return true;
        }
        return false;
    };
    auto occurs_rhs = [&](const NameRecord& r) {
        for (int32_t t = 0; t < eq.nTerms; ++t)
            if (same_name(term_var(eq, t), r)) return true;
        return false;
    };
    for (int32_t i = 0; i < n; ++i)
        if (depManifest[static_cast<size_t>(i)] >= 0) {
            v->endo.push_back(sv.input->manifestNames[i]);
            v->endoEq.push_back(depManifest[static_cast<size_t>(i)]);
        }
    sv.readers->nEndoManifest = static_cast<int32_t>(v->endo.size());
    for (int32_t e : latentEndoEq) {
        v->endo.push_back(eq.dependents[e]);
        v->endoEq.push_back(e);
    }
    for (int32_t i = 0; i < n; ++i)
        if (depManifest[static_cast<size_t>(i)] < 0 &&
            (occurs_rhs(sv.input->manifestNames[i]) ||
             occurs_in_lists(sv.input->manifestNames[i])))
            v->exoManifest.push_back(sv.input->manifestNames[i]);

    for (int32_t t = 0; t < eq.nTerms; ++t) {
        const NameRecord& r = term_var(eq, t);
        if (manifest_index(sv, n, r) >= 0 || index_in(v->endo, r) >= 0) continue;
        char c0 = first_upper(r);
        std::vector<NameRecord>* grp = c0 == 'F'   ? &v->exoF
                                       : c0 == 'E' ? &v->exoE
                                       : c0 == 'D' ? &v->exoD
                                                   : nullptr;
        if (grp == nullptr) {
            // Once, at its first use: the later uses, and a STD or COV entry
            // for it, would repeat the one mistake.
            if (index_in(v->badNames, r) >= 0) continue;
            v->badNames.push_back(r);
            // A model with means written without AUGMENT: say what makes
            // Intercept a variable (symmetric-matrix input has none).
            log_unusable_name(sv, r,
                              is_intercept_name(r) && !sv.input->symatrixInput ? kMsgInterceptNeedsAugment
                                                                                : kMsgBadLatentName);
            const auto e = std::upper_bound(eq.termEnd, eq.termEnd + eq.nEquations, t) - eq.termEnd;
            xpmplace(line_of(eq, static_cast<int32_t>(e)), str(r).c_str());
            raise_error_level(sv.ctx, kLevelInputError);
            continue;
        }
        if (index_in(*grp, r) < 0) grp->push_back(r);
    }
    v->exo = v->exoManifest;
    v->exo.insert(v->exo.end(), v->exoF.begin(), v->exoF.end());
    v->exo.insert(v->exo.end(), v->exoE.begin(), v->exoE.end());
    v->exo.insert(v->exo.end(), v->exoD.begin(), v->exoD.end());
    v->nEndo = static_cast<int32_t>(v->endo.size());
    v->E = static_cast<int32_t>(v->exo.size());
    v->N = v->nEndo + v->E;
    sv.readers->nEndo = v->nEndo;
    sv.readers->nExoNonError = static_cast<int32_t>(v->exoManifest.size() + v->exoF.size());
    int32_t unused = 0;
    v->varPos.assign(static_cast<size_t>(n), -1);
    for (int32_t i = 0; i < n; ++i) {
        int32_t p = index_in(v->endo, sv.input->manifestNames[i]);
        if (p < 0) {
            p = index_in(v->exo, sv.input->manifestNames[i]);
            if (p >= 0) p += v->nEndo;
        }
        v->varPos[static_cast<size_t>(i)] = p;
        if (p < 0) ++unused;
    }
    sv.readers->nUnusedVars = unused;
}

// Sets the sizes of the four matrices and of the work areas they need.
void size_matrices(const StepView& sv, const LineqsVariables& v) {
    ModelMatrixTable& mt = *sv.model;
    const int32_t n = sv.sizes->nManifest, nEndo = v.nEndo, E = v.E, N = v.N;
    mt.rows[1] = n;
    mt.columns[1] = N;
    mt.rows[2] = mt.columns[2] = N;
    mt.rows[3] = N;
    mt.columns[3] = E;
    mt.rows[4] = mt.columns[4] = E;
    sv.readers->leadingDim = std::max(n, N);
    sv.readers->largestProduct = std::max({nEndo * nEndo, nEndo * E, E * E, 1});
    sv.sizes->invStoreLen = nEndo * nEndo;
}

// Lists the endogenous and the exogenous variables by kind.
void list_variables(const StepView& sv, const LineqsPayload& eq, const LineqsVariables& v) {
    cosmcon(sv.ctx);
    int32_t longest = 1;
    for (const NameRecord& r : v.endo)
        longest = std::max<int32_t>(longest, static_cast<int32_t>(str(r).size()));
    for (const NameRecord& r : v.exo)
        longest = std::max<int32_t>(longest, static_cast<int32_t>(str(r).size()));
    std::vector<NameRecord> endoLatent(v.endo.begin() + sv.readers->nEndoManifest, v.endo.end());
    std::vector<NameRecord> endoManifest(v.endo.begin(),
                                         v.endo.begin() + sv.readers->nEndoManifest);
    std::vector<NameRecord> errors = v.exoE;
    errors.insert(errors.end(), v.exoD.begin(), v.exoD.end());
    variable_table(sv, "EndogenousVar", kMsgEndogenousTable, "Tesk.Velix.EndogenousVar",
                   kMsgEndogenousCount, eq.nEquations,
                   {{kMsgManifestKind, endoManifest}, {kMsgLatentKind, endoLatent}}, longest);
    variable_table(
        sv, "ExogenousVar", kMsgExogenousTable, "Tesk.Velix.ExogenousVar", kMsgExogenousCount, v.E,
        {{kMsgManifestKind, v.exoManifest}, {kMsgLatentKind, v.exoF}, {kMsgErrorKind, errors}},
        longest);
}

// Writes the patterns of _BETA_ (pass 0) and _GAMMA_ (pass 1) from the
// equations; the coefficient-name prefixes are registered in *prefixes and
// the names of the coefficients appended to *names.
void write_coefficient_patterns(const StepView& sv, const LineqsPayload& eq, const LineqsVariables& v,
                                Prefixes* prefixes, char* text80, std::vector<NameRecord>* names) {
    const double missing = host_missing_value();
    const int32_t nEndo = v.nEndo, E = v.E;
    scratch_check(xcpoint(sv.files->scratchFile, 0));
    sv.sizes->nElements = 0;
    sv.readers->nNamedPositions = 0;
    for (int32_t t = 0; t < eq.nTerms; ++t)
        if (eq.nameKind[t] == kNameKindPrefix && eq.kind[t] != kTermPlain)
            prefixes->index(eq.names[eq.nameStart[t]]);
    std::vector<NameRecord> beta(static_cast<size_t>(nEndo) * nEndo), gamma(static_cast<size_t>(nEndo) * E);
    std::vector<double> betaV(beta.size(), 0.0), gammaV(gamma.size(), 0.0);
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t i = 0; i < nEndo; ++i) {
            int32_t e = v.endoEq[static_cast<size_t>(i)], b, end;
            term_range(eq, e, &b, &end);
            for (int32_t t = b; t < end; ++t) {
                const NameRecord& r = term_var(eq, t);
                int32_t j = pass == 0 ? index_in(v.endo, r) : index_in(v.exo, r);
                if (j < 0) continue;
                const size_t at = static_cast<size_t>(i) * (pass == 0 ? nEndo : E) + j;
                NameRecord& nm = pass == 0 ? beta[at] : gamma[at];
                double& val = pass == 0 ? betaV[at] : gammaV[at];
                val = eq.sign[t] < 0 ? -eq.coef[t] : eq.coef[t];
                if (eq.kind[t] == kTermNamed) val = missing;
                if (eq.kind[t] >= kTermFixed) continue;
                const NameRecord& coefName = eq.names[eq.nameStart[t]];
                if (eq.nameKind[t] == kNameKindPrefix) {
                    nm = prefixes->next(coefName);
                } else {
                    nm = coefName;
                    for (const NameRecord& p : prefixes->names) {
                        const std::string ps = str(p), cs = str(coefName);
                        const bool starts = cs.size() > ps.size() && strncasecmp(cs.c_str(), ps.c_str(), ps.size()) == 0 &&
                                            std::isdigit(static_cast<unsigned char>(cs[ps.size()]));
                        if ((pass == 0 && starts) || (pass == 1 && same_name(p, coefName)))
                            xpmlog(kMsgProc, kMsgPrefixLookalike, cs.c_str());
                    }
                }
            }
        }
        if (pass == 0)
            patwrt(text80, sv.ctx, 2, beta.data(), betaV.data());
        else
            patwrt(text80, sv.ctx, 3, gamma.data(), gammaV.data());
    }
    for (const std::vector<NameRecord>* m : {&beta, &gamma})
        std::copy_if(m->begin(), m->end(), std::back_inserter(*names),
                     [](const NameRecord& r) { return r.length > 0; });
}

// The cells of _PHI_ (row-major, E columns, lower triangle) of the slots of
// a STD (mode 0) or COV (mode 1) group, in the order lfind fills them: the
// variances of the variables i1; the covariances of each variable of i1
// with every earlier one; or, with a second list i2, of each of i1 with
// each of i2.
std::vector<size_t> group_cells(int mode, const std::vector<int32_t>& i1, const std::vector<int32_t>& i2, int32_t E) {
    std::vector<size_t> cells;
    auto cell = [&](int32_t a, int32_t b) {
        cells.push_back(static_cast<size_t>(std::max(a, b)) * E + std::min(a, b));
    };
    if (mode == 0) {
        for (int32_t x : i1) cell(x, x);
    } else if (i2.empty()) {
        for (size_t a = 1; a < i1.size(); ++a)
            for (size_t b = 0; b < a; ++b) cell(i1[a], i1[b]);
    } else {
        for (int32_t a : i1)
            for (int32_t b : i2) cell(a, b);
    }
    return cells;
}

// The variables of a COV entry as it lists them ("F1 F2 F3", "F1 * F2 F3").
std::string entry_variables(const VarianceGroup& g) {
    std::string text;
    for (int list = 0; list < 2; ++list) {
        const NameArray& a = list == 0 ? g.vars1 : g.vars2;
        if (list == 1 && a.count > 0) text += " *";
        for (int32_t k = 0; k < a.count; ++k) {
            if (!text.empty()) text += ' ';
            text += str(a.names[k]);
        }
    }
    return text;
}

// A covariance that an earlier COV entry (or this one) gave already is
// replaced by this entry's, as a later statement replaces an earlier one
// (`Fvis Ftxt Fspd = c1-c3, Fvis Fspd = 0` frees a block and fixes one
// pair of it); a NOTE at the entry names the pair and what it replaces, so
// that a pair written twice by mistake does not go unseen.  *givenBy holds
// the group that gave each cell so far.
void note_replaced_covariances(const LineqsVariables& v, const VariancePayload& cov, int32_t gi,
                               const std::vector<size_t>& cells, std::vector<std::pair<size_t, int32_t>>* givenBy) {
    const VarianceGroup& g = cov.groups[gi];
    const size_t E = v.exo.size();
    for (size_t cell : cells) {
        const auto earlier = std::find_if(givenBy->begin(), givenBy->end(),
                                          [cell](const auto& c) { return c.first == cell; });
        if (earlier == givenBy->end()) {
            givenBy->emplace_back(cell, gi);
            continue;
        }
        const std::string a = str(v.exo[cell % E]), b = str(v.exo[cell / E]);
        if (earlier->second == gi)
            xpmlog(kMsgProc, kMsgCovPairTwiceInEntry, a.c_str(), b.c_str());
        else
            xpmlog(kMsgProc, kMsgCovPairReplaced, a.c_str(), b.c_str(),
                   entry_variables(cov.groups[earlier->second]).c_str());
        xpmplacecol(g.line, g.column);
        earlier->second = gi;
    }
}

// Writes the pattern of _PHI_: exogenous manifest pairs start free-valued
// (missing), then the STD (mode 0) and COV (mode 1) entries; pairs left so
// beside ones the statements give are estimated (the coefficient names
// `taken` are not theirs).
void write_phi_pattern(const StepView& sv, const LineqsVariables& v, const VariancePayload* stdP,
                       const VariancePayload* covP, Prefixes* prefixes, char* text80,
                       const std::vector<NameRecord>& taken) {
    const int32_t E = v.E;
    std::vector<NameRecord> phi(static_cast<size_t>(E) * E);
    std::vector<double> phiV(phi.size(), 0.0);
    const int32_t em = static_cast<int32_t>(v.exoManifest.size());
    // The intercept of the augmented moments follows the DATA= variables.
    const int32_t n = sv.sizes->nManifest;
    const bool intercept =
        sv.options->interceptVar && em > 0 && same_name(v.exoManifest.back(), sv.input->manifestNames[n - 1]);
    std::vector<size_t> exoCells;
    for (int32_t i = 0; i < em; ++i)
        for (int32_t j = 0; j <= i; ++j) {
            const size_t at = static_cast<size_t>(i) * E + j;
            phiV[at] = host_missing_value();
            // The constant's own moment is 1 whatever the model.
            if (!(intercept && i == em - 1 && j == i)) exoCells.push_back(at);
        }
    std::vector<NameRecord> slotNames;
    std::vector<double> slotValues;
    std::vector<std::pair<int32_t, int32_t>> stdSeen;  // variable, STD group
    std::vector<std::pair<size_t, int32_t>> covGivenBy;  // cell, COV group
    for (int mode = 0; mode < 2; ++mode) {
        const VariancePayload* p = mode == 0 ? stdP : covP;
        if (!p) continue;
        for (int32_t gi = 0; gi < p->nGroups; ++gi) {
            const VarianceGroup& g = p->groups[gi];
            std::vector<int32_t> i1, i2;
            bool bad = false;
            for (int list = 0; list < 2; ++list) {
                const NameArray& a = list == 0 ? g.vars1 : g.vars2;
                for (int32_t k = 0; k < a.count; ++k) {
                    int32_t x = index_in(v.exo, a.names[k]);
                    if (x < 0 && index_in(v.badNames, a.names[k]) >= 0) {
                        bad = true;
                        continue;
                    }
                    if (x < 0 && index_in(v.endo, a.names[k]) < 0) {
                        // Most often a misspelt name: "not exogenous" would
                        // send the user looking at the equations.
                        xpmlog(kMsgProc, kMsgNotAModelVariable, mode == 0 ? "STD" : "COV", str(a.names[k]).c_str());
                        xpmplace(g.line, str(a.names[k]).c_str());
                        raise_error_level(sv.ctx, kLevelInputError);
                        bad = true;
                        continue;
                    }
                    if (x < 0) {
                        xpmlog(kMsgProc, mode == 0 ? kMsgStdNotExogenous : kMsgCovNotExogenous,
                               str(a.names[k]).c_str());
                        xpmplace(g.line, str(a.names[k]).c_str());
                        raise_error_level(sv.ctx, kLevelInputError);
                        bad = true;
                        continue;
                    }
                    if (mode == 0 && x < static_cast<int32_t>(v.exoManifest.size()) &&
                        is_constant(sv, manifest_index(sv, sv.sizes->nManifest, a.names[k]))) {
                        xpmlog(kMsgProc, kMsgInterceptIsConstant, "the STD statement", "a variance");
                        xpmplace(g.line, str(a.names[k]).c_str());
                        raise_error_level(sv.ctx, kLevelInputError);
                        bad = true;
                        continue;
                    }
                    if (mode == 0) {
                        const auto first = std::find_if(stdSeen.begin(), stdSeen.end(),
                                                        [x](const auto& s) { return s.first == x; });
                        if (first != stdSeen.end()) {
                            xpmlog(kMsgProc, kMsgStdTwice, str(a.names[k]).c_str());
                            // Listed again in a later entry: the caret goes to
                            // that entry, not to the name's first place on the
                            // line, which may be the first listing.
                            if (first->second != gi && g.column > 0)
                                xpmplacecol(g.line, g.column);
                            else
                                xpmplace(g.line, str(a.names[k]).c_str());
                            raise_error_level(sv.ctx, kLevelInputError);
                            bad = true;
                        }
                        stdSeen.emplace_back(x, gi);
                    }
                    (list == 0 ? i1 : i2).push_back(x);
                }
            }
            if (bad) continue;
            const std::vector<size_t> cells = group_cells(mode, i1, i2, E);
            if (mode == 1) note_replaced_covariances(v, *p, gi, cells, &covGivenBy);
            lfind(sv, g, mode, prefixes, &slotNames, &slotValues);
            for (size_t s = 0; s < cells.size(); ++s) {
                phi[cells[s]] = slotNames[s];
                phiV[cells[s]] = slotValues[s];
            }
        }
    }
    // A latent variable that only a misspelt name in an equation brought in
    // has no STD entry: its variance, and so its part in the model, is 0.
    for (int32_t x = em; x < E; ++x)
        if (std::none_of(stdSeen.begin(), stdSeen.end(), [x](const auto& s) { return s.first == x; }))
            xpmlog(kMsgProc, kMsgLatentVarianceZero, str(v.exo[x]).c_str());
    velix::detail::estimate_unstated_exogenous(sv.ctx, exoCells, phi.data(), phi.size(), phiV.data(), taken);
    patwrt(text80, sv.ctx, 4, phi.data(), phiV.data());
}

// Turns an empty _BETA_ into an identity; any other empty matrix that
// must have elements is an error.
void correct_empty_matrices(const StepView& sv, char* text80) {
    ModelMatrixTable& mt = *sv.model;
    for (int32_t k = 2; k <= 4; ++k) {
        if (mt.elementCount[k] > 0) continue;
        if (mt.type[k] == kMatBeta || mt.type[k] == kMatEqsBeta || mt.form[k] == kFormIMinusInverse) {
            mt.type[k] = kMatIdentity;
            mt.form[k] = kFormNone;
            velix::detail::type_change_note(sv.ctx, k, kMsgTypeIdentity, text80);
        } else if (mt.type[k] != kMatEqsGamma && mt.type[k] != kMatIdentity && mt.type[k] != kMatZerDiagonal &&
                   mt.type[k] != kMatSelection) {
            xpmlog(kMsgProc, kMsgMatrixEmpty, str(mt.name[k]).c_str());
            raise_error_level(sv.ctx, kLevelBadVariables);
        }
    }
    if (mt.type[2] == kMatIdentity) sv.sizes->invStoreLen = 0;
}

// Stores the column names and variable positions, drops the unused
// variables, maps each endogenous variable to its error term and builds the
// added parameters and the parameter table.
void build_parameter_table(const StepView& sv, const LineqsPayload& eq, const LineqsVariables& v) {
    ModelMatrixTable& mt = *sv.model;
    const int32_t n = sv.sizes->nManifest, nEndo = v.nEndo, E = v.E, N = v.N;
    sv.readers->columnNames = from_pool<NameRecord>(sv, N);
    sv.readers->nColumnNames = N;
    for (int32_t i = 0; i < N; ++i)
        sv.readers->columnNames[i] = padded8(i < nEndo ? v.endo[i] : v.exo[i - nEndo]);
    mt.firstColumnName[1] = mt.firstColumnName[2] = 1;
    mt.firstColumnName[3] = mt.firstColumnName[4] = N - E + 1;
    sv.readers->varPosition = from_pool<int32_t>(sv, n);
    std::copy(v.varPos.begin(), v.varPos.end(), sv.readers->varPosition);
    // Unused variables leave before the parameter table is built, so that
    // the moment counts of the optimizer set-up are those of the kept ones.
    if (sv.readers->nUnusedVars > 0) {
        cospar4(sv.ctx);
        int32_t kept = 0;
        for (int32_t i = 0; i < n; ++i)
            if (v.varPos[static_cast<size_t>(i)] >= 0)
                sv.readers->varPosition[kept++] = v.varPos[static_cast<size_t>(i)];
    }
    // Indexed by endogenous variable (the order of _BETA_'s rows), not by
    // equation: the start values map each error variance to its variable.
    sv.readers->errorTermOfEq = from_pool<int32_t>(sv, std::max(nEndo, eq.nEquations));
    for (int32_t i = 0; i < nEndo; ++i) {
        int32_t b, end;
        term_range(eq, v.endoEq[static_cast<size_t>(i)], &b, &end);
        for (int32_t t = b; t < end; ++t) {
            int32_t x = index_in(v.exo, term_var(eq, t));
            char c0 = first_upper(term_var(eq, t));
            if (x >= 0 && (c0 == 'E' || c0 == 'D') && x >= sv.readers->nExoNonError)
                sv.readers->errorTermOfEq[i] = x + 1;
        }
    }
    const size_t cap = std::max<size_t>(static_cast<size_t>(sv.readers->largestProduct), 64);
    std::vector<NameRecord> nameBuf(cap);
    std::vector<double> valueBuf(cap);
    cospar3(sv.ctx, nameBuf.data(), valueBuf.data(), static_cast<int32_t>(cap));
    sv.sizes->nParmAll = sv.readers->nNamedPositions + sv.sizes->nParmAdded;
    if (*sv.errorLevel > kLevelWarning) xexit(*sv.errorLevel, 0);
    cospar1(sv.ctx, sv.sizes->nParmAdded);
}

// Marks the latent variables that need start values: every F variable, and
// every error with a free element in its _GAMMA_ column.
void mark_latent_starts(const StepView& sv, const LineqsVariables& v) {
    const ModelMatrixTable& mt = *sv.model;
    const int32_t nEndo = v.nEndo;
    const int32_t n =
        static_cast<int32_t>(v.varPos.size());  // the DATA= variables before any were dropped
    sv.readers->latentStart = from_pool<int32_t>(sv, v.N);
    sv.readers->nLatentStart = 0;
    for (int32_t k = 0; k < v.N; ++k) {
        const NameRecord& r = k < nEndo ? v.endo[k] : v.exo[k - nEndo];
        if (manifest_index(sv, n, r) >= 0) continue;
        char c0 = first_upper(r);
        if (c0 == 'F') {
            sv.readers->latentStart[sv.readers->nLatentStart++] = k;
            continue;
        }
        if (k < nEndo) internal_error("a latent dependent variable is not a factor");
        const int32_t x = k - nEndo;
        bool freeElement = false;
        for (int32_t e = mt.firstElement[3]; e < mt.firstElement[3] + mt.elementCount[3]; ++e)
            if (sv.elements->column[e] == x && sv.elements->parameter[e] != 0) freeElement = true;
        if (freeElement) {
            sv.readers->latentStart[sv.readers->nLatentStart++] = k;
            sv.readers->nExoNonError = std::max(sv.readers->nExoNonError, x + 1);
        }
    }
}

// The name that a programming statement assigns ("x2" of "x2 = l2*F + E2"),
// empty for any other statement (IF, DO, an array element, a comparison).
std::string assigned_name(const char* text) {
    auto is = [](char c, int (*f)(int)) { return f(static_cast<unsigned char>(c)) != 0; };
    const char* p = text;
    while (is(*p, std::isspace)) ++p;
    const char* begin = p;
    if (!is(*p, std::isalpha) && *p != '_') return {};
    while (is(*p, std::isalnum) || *p == '_') ++p;
    const std::string name(begin, p);
    while (is(*p, std::isspace)) ++p;
    return *p == '=' && p[1] != '=' ? name : std::string();
}

// Equations written apart by semicolons, as lavaan separates its lines
// (`lineqs x1 = l1*F + E1; x2 = l2*F + E2;`): a semicolon ends the LINEQS
// statement, and what follows it reads as programming statements, which
// leave those variables out of the model.  The errors or identification
// warnings that follow would not say why, so a programming statement that
// assigns a variable of DATA= or of the model (not a parameter) gets a
// WARNING at its line before them.
void warn_equations_read_as_program(const StepView& sv, const LineqsPayload& eq,
                                    std::initializer_list<const VariancePayload*> variances) {
    if (sv.program->statements == nullptr) return;
    std::vector<NameRecord> variables(eq.dependents, eq.dependents + eq.nEquations), parameters;
    for (int32_t t = 0; t < eq.nTerms; ++t) {
        variables.push_back(term_var(eq, t));
        if (eq.kind[t] <= 4) parameters.push_back(eq.names[eq.nameStart[t]]);
    }
    for (const VariancePayload* p : variances)
        for (int32_t gi = 0; p != nullptr && gi < p->nGroups; ++gi) {
            const VarianceGroup& g = p->groups[gi];
            for (const NameArray* a : {&g.vars1, &g.vars2}) variables.insert(variables.end(), a->names, a->names + a->count);
            parameters.insert(parameters.end(), g.names.names, g.names.names + g.names.count);
        }
    for (const StatementNode* n = sv.ctx->stmtList; n; n = n->next)
        if (std::memcmp(n->keyword, "PARAMETE", 8) == 0 || std::memcmp(n->keyword, "PARMS   ", 8) == 0) {
            const NameArray& a = static_cast<const ParametersPayload*>(n->payload)->names;
            parameters.insert(parameters.end(), a.names, a.names + a.count);
        }
    HostDataSet* data = sv.dataSets->dataSetHandle[kRoleData];
    for (const ProgramStatement* st = sv.program->statements->program; st; st = st->next) {
        const std::string name = assigned_name(st->text);
        if (name.empty() || name.size() > 32) continue;
        NameRecord r;
        std::memcpy(r.text, name.data(), name.size());
        r.length = static_cast<int16_t>(name.size());
        if (index_in(parameters, r) >= 0) continue;
        int16_t number = 0;
        const bool inData = manifest_index(sv, sv.sizes->nManifest, r) >= 0 ||
                            (data != nullptr && xvfind(data, r.text, r.length, &number, 0) == 0);
        if (!inData && index_in(variables, r) < 0) continue;
        xpmlog(kMsgProc, inData ? kMsgProgramAssignsDataVariable : kMsgProgramAssignsModelVariable, name.c_str(),
               name.c_str());
        xpmplacecol(st->line, st->column);
    }
}

}  // namespace

void cospare(ProcContext* ctx) {
    const StepView sv = step_view(ctx);
    name_matrices(sv.model);
    const StatementNode* lq = find_statement(sv.ctx->stmtList, "LINEQS  ");
    static const LineqsPayload kNoEquations;
    const LineqsPayload& eq = lq ? *static_cast<const LineqsPayload*>(lq->payload) : kNoEquations;
    const StatementNode* stdNode = find_statement(sv.ctx->stmtList, "STD     ");
    const StatementNode* covNode = find_statement(sv.ctx->stmtList, "COV     ");
    if (stdNode == nullptr) xpmlog(kMsgProc, kMsgNoStd);
    const VariancePayload* stdP = stdNode ? static_cast<const VariancePayload*>(stdNode->payload) : nullptr;
    const VariancePayload* covP = covNode ? static_cast<const VariancePayload*>(covNode->payload) : nullptr;
    if (lq != nullptr) warn_equations_read_as_program(sv, eq, {stdP, covP});

    std::vector<int32_t> depManifest, latentEndoEq;
    check_dependents(sv, eq, &depManifest, &latentEndoEq);
    note_data_variables_as_error_terms(sv, eq);
    LineqsVariables v;
    classify_variables(sv, eq, stdP, covP, depManifest, latentEndoEq, &v);
    size_matrices(sv, v);
    if (sv.options->modelListing && sv.options->printEnabled) list_variables(sv, eq, v);

    Prefixes prefixes;
    char text80[81] = {};
    std::vector<NameRecord> coefficientNames;
    write_coefficient_patterns(sv, eq, v, &prefixes, text80, &coefficientNames);
    write_phi_pattern(sv, v, stdP, covP, &prefixes, text80, coefficientNames);
    correct_empty_matrices(sv, text80);

    if (*sv.errorLevel > kLevelWarning) xexit(*sv.errorLevel, 0);
    build_parameter_table(sv, eq, v);
    mark_latent_starts(sv, v);
    if (*sv.errorLevel > kLevelWarning) xexit(*sv.errorLevel, 0);
}
