// The units of the model elements by a dimensional analysis of the COSAN
// form Sigma = sum over terms of A1 ... Ak-1 P Ak-1' ... A1' (McDonald,
// "A simple comprehensive model for the analysis of covariance structures",
// Br. J. Math. Stat. Psychol. 31, 1978).  Every row and column index of a
// model matrix lives in a space: the first matrix of a term has the manifest
// variables as rows, its columns are the rows of the next matrix, and the
// central matrix P is a covariance of the last space.  An index has a log
// unit u: a manifest variable the log of its standard deviation, a latent
// one unknown.  An element that maps column c to row r has the unit
// u_r - u_c, an element of a central matrix u_r + u_c.  A fixed nonzero
// element (or an implicit one: the diagonal of an identity or of I - B)
// says that its unit is 0: a marker loading of 1.0 puts a factor in its
// indicator's units, a fixed variance of 1.0 puts it in units of its
// standard deviation.  Those equations are solved by least squares with a
// small ridge, so that a unit nothing fixes stays 0 and conflicting markers
// (two indicators of one factor, both fixed at 1.0, in different units)
// share the difference.
//
// The same equations give every index a direction: a latent variable
// points as the first manifest variable a chain of fixed elements ties it
// to (a marker loading of -1.0 reverses it), and an element between two
// indices has the sign of the sample covariance of the variables they
// point as.  A loading then has the sign of its indicator's covariance
// with the factor's marker, as at the solution, so that reversing a
// variable (a reverse-keyed item) reverses the start as it does the
// estimates.
//
//   spaces: the manifest variables; a new space for each side a term opens
//   equations: fixed nonzero elements, implicit ones, shared matrices
//   solve (A'A + ridge I) u = A'b, refined once; each element's unit from its row and column
//   directions: union-find with parity over the equations in two indices
#include "procedure/startvalues/model_units.h"

#include <cmath>

#include "host/fields.h"
#include "procedure/startvalues/start_moments.h"
#include "velix/model.h"
#include "velix/packed_index.h"
#include "velix/types.h"

namespace velix::detail {
namespace {

// The ridge that leaves undetermined units at 0; small against the unit
// weight of every equation (a refinement step takes its pull off the
// determined units).
constexpr double kUnitRidge = 1e-10;
// Pivots of the ridged system below this share of its smallest diagonal
// element are singular (none are, with the ridge).
constexpr double kUnitPivot = 1e-3;

// An index of a space: space 0 holds the manifest variables (known units).
struct At {
    int32_t space, i;
};

// c1 u(a) + c2 u(b) = 0; an equation in two indices also says that b
// points as a, or against it (parity -1) when a fixed negative element
// ties them.
struct Equation {
    double c1;
    At a;
    double c2;
    At b;
    double parity = 1.0;
};

class Analysis {
public:
    explicit Analysis(const ProcContext* ctx) : ctx_(ctx), mt_(ctx->model) {
        const int32_t n = ctx->sizes.nManifest, m = ctx->sizes.nMatrices;
        size_.push_back(n);
        base_.push_back(0);
        manifest_.assign(static_cast<size_t>(n), 0.0);
        for (int32_t i = 0; i < n && ctx->arrays.momentMatrix != nullptr; ++i) {
            const double s = ctx->arrays.momentMatrix[pk(i, i)];
            if (!wzmis(s) && s > 0.0 && std::isfinite(std::log(s)))
                manifest_[static_cast<size_t>(i)] = 0.5 * std::log(s);
        }
        rowSpace_.assign(static_cast<size_t>(m) + 1, -1);
        colSpace_.assign(static_cast<size_t>(m) + 1, -1);
        sign_.assign(static_cast<size_t>(m) + 1, 0.0);
    }

    // The COSAN form (FACTOR and COSAN models).  `signs` receives each
    // element's direction (+1 where none can be read: the inverse of a
    // central matrix, a matrix entered inverted).
    bool run_matrices(std::vector<double>* out, std::vector<char>* determined, std::vector<double>* signs) {
        for (int32_t t = 0; t < ctx_->sizes.nTerms; ++t)
            if (!term(mt_.termTable[t], mt_.termTable[t + 1] - 1)) return false;
        if (unknowns_ > kMaxLatentUnits) return false;
        for (int32_t k = 1; k <= ctx_->sizes.nMatrices; ++k)
            if (rowSpace_[k] >= 0 && !fixed_equations(k)) return false;
        std::vector<double> u;
        if (!solve(&u)) return false;
        const std::vector<char> known = anchored();
        auto decided = [&](At a) { return a.space == 0 || known[static_cast<size_t>(base_[a.space] + a.i)] != 0; };
        const ElementPattern& el = ctx_->elements;
        find_directions();
        for (int32_t k = 1; k <= ctx_->sizes.nMatrices; ++k) {
            if (rowSpace_[k] < 0) continue;
            const bool directed = sign_[k] > 0.0 && mt_.form[k] != kFormInverse;
            for (int32_t e = mt_.firstElement[k]; e < mt_.firstElement[k] + mt_.elementCount[k]; ++e) {
                const At row{rowSpace_[k], el.row[e]}, col{colSpace_[k], el.column[e]};
                const double r = unit(u, row), c = unit(u, col);
                (*out)[static_cast<size_t>(e)] = sign_[k] > 1.0 ? r - c : sign_[k] * (r + c);
                (*determined)[static_cast<size_t>(e)] = decided(row) && decided(col);
                (*signs)[static_cast<size_t>(e)] = directed ? direction(row, col) : 1.0;
            }
        }
        return true;
    }

    // Equation models (LINEQS, RAM): the positions of the variables in the
    // start work (manifest first) are the indices; a path from column to
    // row has the unit u_row - u_col, a variance or covariance u_r + u_c
    // (an error term's variance in the units of its equation's variable).
    // The elements the work does not place keep an undetermined unit.
    bool run_positions(const StartWork& w, std::vector<double>* out, std::vector<char>* determined,
                       std::vector<double>* signs) {
        const int32_t latent = new_space(w.order - w.n);
        if (unknowns_ > kMaxLatentUnits) return false;
        auto at = [&](int32_t pos) { return pos < w.n ? At{0, pos} : At{latent, pos - w.n}; };
        const ElementPattern& el = ctx_->elements;
        auto fixed = [&](int32_t e) { return el.parameter[e] == 0 && !wzmis(el.value[e]) && el.value[e] != 0.0; };
        for (const StartPath& a : w.paths)
            if (fixed(a.e)) equations_.push_back({1.0, at(a.row), -1.0, at(a.col), std::copysign(1.0, el.value[a.e])});
        for (const StartVariance& v : w.variances)
            if (fixed(v.e) && v.r == v.c) equations_.push_back({1.0, at(v.r), 0.0, at(v.r)});
        std::vector<double> u;
        if (!solve(&u)) return false;
        const std::vector<char> known = anchored();
        auto decided = [&](int32_t pos) { return pos < w.n || known[static_cast<size_t>(pos - w.n)] != 0; };
        find_directions();
        for (const StartPath& a : w.paths) {
            (*out)[static_cast<size_t>(a.e)] = unit(u, at(a.row)) - unit(u, at(a.col));
            (*determined)[static_cast<size_t>(a.e)] = decided(a.row) && decided(a.col);
            (*signs)[static_cast<size_t>(a.e)] = direction(at(a.row), at(a.col));
        }
        for (const StartVariance& v : w.variances) {
            (*out)[static_cast<size_t>(v.e)] = unit(u, at(v.r)) + unit(u, at(v.c));
            (*determined)[static_cast<size_t>(v.e)] = decided(v.r) && decided(v.c);
            (*signs)[static_cast<size_t>(v.e)] = direction(at(v.r), at(v.c));
        }
        return true;
    }

private:
    int32_t new_space(int32_t size) {
        base_.push_back(unknowns_);
        size_.push_back(size);
        unknowns_ += size;
        return static_cast<int32_t>(size_.size()) - 1;
    }

    // The spaces of the matrices of one term (matrix numbers first..last,
    // last central); false for a type, form or shape that has no reading.
    bool term(int32_t first, int32_t last) {
        int32_t prev = 0;
        for (int32_t k = first; k <= last; ++k) {
            const int16_t type = mt_.type[k], form = mt_.form[k];
            const int32_t rows = mt_.rows[k], cols = mt_.columns[k];
            if (type == kMatSelection || type == kMatEqsBeta || type == kMatEqsGamma) return false;
            if (k == last) {
                if (form == kFormIMinusInverse || rows != cols || rows != size_[prev]) return false;
                rowSpace_[k] = colSpace_[k] = prev;
                sign_[k] = form == kFormInverse ? -1.0 : 1.0;
                if (type == kMatIdentity)
                    for (int32_t i = 0; i < rows; ++i) equations_.push_back({1.0, {prev, i}, 0.0, {prev, i}});
            } else if (form == kFormNone) {
                if (rows != size_[prev]) return false;
                rowSpace_[k] = prev;
                colSpace_[k] = prev = new_space(cols);
            } else {
                if (rows != cols || rows != size_[prev]) return false;
                // M^-1 maps the next space to prev: M's rows are the next
                // space's; (I - M)^-1 keeps the space.
                colSpace_[k] = prev;
                rowSpace_[k] = form == kFormInverse ? new_space(rows) : prev;
                prev = rowSpace_[k];
            }
            if (k != last) {
                sign_[k] = 2.0;  // r - c
                implicit_ones(k);
            }
            if (const int32_t j = mt_.sameName[k]; j > 0 && j < k && rowSpace_[j] >= 0) share(k, j);
        }
        return true;
    }

    // The implicit ones of an identity, of [0 I] and of I - B.
    void implicit_ones(int32_t k) {
        const int16_t type = mt_.type[k];
        const int32_t rows = mt_.rows[k], cols = mt_.columns[k];
        auto one = [&](int32_t r, int32_t c) {
            equations_.push_back({1.0, {rowSpace_[k], r}, -1.0, {colSpace_[k], c}});
        };
        if (type == kMatIdentity || (type == kMatBeta && mt_.form[k] == kFormNone))
            for (int32_t i = 0; i < std::min(rows, cols); ++i) one(i, i);
        if (type == kMatZerIdentity)
            for (int32_t i = 0; i < rows; ++i)
                if (cols - rows + i >= 0) one(i, cols - rows + i);
    }

    // A matrix entered again under its name keeps its rows' and columns'
    // units.
    void share(int32_t k, int32_t j) {
        for (int32_t i = 0; i < std::min(size_[rowSpace_[k]], size_[rowSpace_[j]]); ++i)
            equations_.push_back({1.0, {rowSpace_[k], i}, -1.0, {rowSpace_[j], i}});
        for (int32_t i = 0; i < std::min(size_[colSpace_[k]], size_[colSpace_[j]]); ++i)
            equations_.push_back({1.0, {colSpace_[k], i}, -1.0, {colSpace_[j], i}});
    }

    // Fixed nonzero elements: a coefficient makes its row and column units
    // equal, a fixed variance of a central matrix makes its unit 0 (a fixed
    // covariance between two latent variables decides neither unit).
    bool fixed_equations(int32_t k) {
        const ElementPattern& el = ctx_->elements;
        for (int32_t e = mt_.firstElement[k]; e < mt_.firstElement[k] + mt_.elementCount[k]; ++e) {
            const int32_t r = el.row[e], c = el.column[e];
            if (r < 0 || c < 0 || r >= size_[rowSpace_[k]] || c >= size_[colSpace_[k]]) return false;
            if (el.parameter[e] != 0 || wzmis(el.value[e]) || el.value[e] == 0.0) continue;
            if (sign_[k] > 1.0)
                equations_.push_back({1.0, {rowSpace_[k], r}, -1.0, {colSpace_[k], c}, std::copysign(1.0, el.value[e])});
            else if (r == c)
                equations_.push_back({1.0, {rowSpace_[k], r}, 0.0, {rowSpace_[k], r}});
        }
        return true;
    }

    // Per unknown, whether an equation chain ties it to a manifest variable
    // or to a fixed variance (union-find over the equations).
    std::vector<char> anchored() const {
        const int32_t anchor = unknowns_;
        std::vector<int32_t> parent(static_cast<size_t>(unknowns_) + 1);
        for (int32_t i = 0; i <= anchor; ++i) parent[static_cast<size_t>(i)] = i;
        auto up = [&](int32_t i) -> int32_t& { return parent[static_cast<size_t>(i)]; };
        auto root = [&](int32_t i) {
            while (up(i) != i) i = up(i) = up(up(i));
            return i;
        };
        auto node = [&](At a) { return a.space == 0 ? anchor : base_[a.space] + a.i; };
        for (const Equation& q : equations_) {
            // An equation in one unknown (c2 = 0) fixes it.
            const int32_t a = root(node(q.a)), b = root(q.c2 == 0.0 ? anchor : node(q.b));
            parent[static_cast<size_t>(a)] = b;
        }
        std::vector<char> out(static_cast<size_t>(unknowns_));
        for (int32_t i = 0; i < unknowns_; ++i) out[static_cast<size_t>(i)] = root(i) == root(anchor);
        return out;
    }

    // The directions of the indices (nodes: the manifest variables, then the
    // unknowns): a union-find whose links carry the parity of their
    // equation, each set led by its first manifest variable.
    int32_t node(At a) const { return a.space == 0 ? a.i : size_[0] + base_[a.space] + a.i; }
    int32_t root(int32_t i, double* parity) const {
        *parity = 1.0;
        for (; link_[static_cast<size_t>(i)] != i; i = link_[static_cast<size_t>(i)])
            *parity *= linkParity_[static_cast<size_t>(i)];
        return i;
    }
    void find_directions() {
        const int32_t total = size_[0] + unknowns_;
        link_.resize(static_cast<size_t>(total));
        for (int32_t i = 0; i < total; ++i) link_[static_cast<size_t>(i)] = i;
        linkParity_.assign(static_cast<size_t>(total), 1.0);
        for (const Equation& q : equations_) {
            if (q.c2 == 0.0) continue;
            double pa = 1.0, pb = 1.0;
            const int32_t ra = root(node(q.a), &pa), rb = root(node(q.b), &pb);
            if (ra == rb) continue;  // a second chain between the two: the first decides
            link_[static_cast<size_t>(ra)] = rb;
            linkParity_[static_cast<size_t>(ra)] = pa * pb * q.parity;
        }
        proxy_.assign(static_cast<size_t>(total), -1);
        for (int32_t i = 0; i < size_[0]; ++i) {
            double p = 1.0;
            int32_t& lead = proxy_[static_cast<size_t>(root(i, &p))];
            if (lead < 0) lead = i;
        }
    }

    // The sign of an element between indices a and b: that of the sample
    // covariance of the manifest variables they point as, reversed with
    // either direction; +1 when either points as none, for a covariance
    // of 0, and for moments about zero, whose signs say nothing of it.
    double direction(At a, At b) const {
        const double* s = ctx_->arrays.momentMatrix;
        if (s == nullptr || ctx_->moments.momentOrigin != 0) return 1.0;
        double pa = 1.0, pb = 1.0, qa = 1.0, qb = 1.0;
        const int32_t ma = proxy_[static_cast<size_t>(root(node(a), &pa))];
        const int32_t mb = proxy_[static_cast<size_t>(root(node(b), &pb))];
        if (ma < 0 || mb < 0) return 1.0;
        root(ma, &qa);
        root(mb, &qb);
        const double c = s[pk(ma, mb)];
        if (wzmis(c) || c == 0.0) return 1.0;
        return std::copysign(1.0, c) * pa * qa * pb * qb;
    }

    double unit(const std::vector<double>& u, At a) const {
        return a.space == 0 ? manifest_[static_cast<size_t>(a.i)] : u[static_cast<size_t>(base_[a.space] + a.i)];
    }

    bool solve(std::vector<double>* u) {
        const int32_t m = unknowns_;
        u->assign(static_cast<size_t>(m), 0.0);
        if (m == 0) return true;
        std::vector<double> a(static_cast<size_t>(pk_lower(m, 0)), 0.0);
        for (int32_t i = 0; i < m; ++i) a[pk(i, i)] = kUnitRidge;
        for (const Equation& q : equations_) {
            // The known (manifest) side goes to the right-hand side.
            double rhs = 0.0;
            int32_t idx[2];
            double coef[2];
            int32_t nu = 0;
            for (const auto& [c, at] : {std::pair{q.c1, q.a}, std::pair{q.c2, q.b}}) {
                if (c == 0.0) continue;
                if (at.space == 0) {
                    rhs -= c * manifest_[static_cast<size_t>(at.i)];
                } else {
                    idx[nu] = base_[at.space] + at.i;
                    coef[nu++] = c;
                }
            }
            for (int32_t x = 0; x < nu; ++x) {
                (*u)[static_cast<size_t>(idx[x])] += coef[x] * rhs;
                for (int32_t y = 0; y < nu; ++y)
                    if (idx[y] <= idx[x]) a[pk(idx[x], idx[y])] += coef[x] * coef[y];
            }
        }
        // One step of refinement takes the ridge's pull off the units the
        // equations decide (r = b - (A - ridge I) u); those they leave
        // free have no right-hand side and stay at 0.
        const std::vector<double> b = *u;
        if (!cholesky_solve(m, kUnitPivot, a, u)) return false;
        std::vector<double> r(b);
        for (int32_t i = 0; i < m; ++i) {
            r[static_cast<size_t>(i)] += kUnitRidge * (*u)[static_cast<size_t>(i)];
            for (int32_t j = 0; j < m; ++j) r[static_cast<size_t>(i)] -= a[pk(i, j)] * (*u)[static_cast<size_t>(j)];
        }
        if (!cholesky_solve(m, kUnitPivot, std::move(a), &r)) return false;
        for (int32_t i = 0; i < m; ++i) (*u)[static_cast<size_t>(i)] += r[static_cast<size_t>(i)];
        return true;
    }

    const ProcContext* ctx_;
    const ModelMatrixTable& mt_;
    std::vector<double> manifest_;
    std::vector<int32_t> base_, size_;
    int32_t unknowns_ = 0;
    std::vector<int32_t> rowSpace_, colSpace_;
    // Per matrix: 2 maps columns to rows (r - c), 1 central, -1 central
    // entered inverted.
    std::vector<double> sign_;
    std::vector<Equation> equations_;
    // The directions: per node its link, the link's parity, and per set's
    // root its first manifest variable (-1 for none).
    std::vector<int32_t> link_, proxy_;
    std::vector<double> linkParity_;
};

}  // namespace

bool element_log_units(ProcContext* ctx, std::vector<double>* out, std::vector<char>* determined,
                       std::vector<double>* signs) {
    const size_t n = static_cast<size_t>(ctx->sizes.nElements);
    out->assign(n, 0.0);
    std::vector<double> units(n, 0.0), directions(n, 1.0);
    std::vector<char> decided(n, 0);
    if (determined != nullptr) determined->assign(n, 0);
    if (signs != nullptr) signs->assign(n, 1.0);
    if (ctx->readers.equationModel) {
        StartWork w;
        if (build_start_work(ctx, &w) != kStartWorkReady ||
            !Analysis(ctx).run_positions(w, &units, &decided, &directions))
            return false;
    } else if (!Analysis(ctx).run_matrices(&units, &decided, &directions)) {
        return false;
    }
    for (double u : units)
        if (!std::isfinite(u)) return false;
    *out = units;
    if (determined != nullptr) *determined = decided;
    if (signs != nullptr) *signs = directions;
    return true;
}

}  // namespace velix::detail
