// Generalized inverse and linear dependencies: the Moore-Penrose identities
// against an independent pseudo-inverse from LAPACK's dsyev, the zero rules
// of evzero, the sweep's regression coefficients and inverse on
// constructed rank-deficient matrices, identical numbers with printing on
// and off, and the "Eigenvalues" and "LinDep" tables as a recording output
// manager receives them through the output-table protocol.
#include "numerics/ginv.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/object_dispatch.h"
#include "tests/support/eigen_test_matrices.h"
#include "tests/support/session_fixture.h"
#include "velix/host.h"

namespace vt = velix::test;

namespace {

constexpr double kTol = 1e-10;

// ---------------------------------------------------------------------------
// A recording output manager: one class whose methods record the calls of
// the output-table protocol and read the bound cells at each added row.

struct RecordedColumn {
    std::string name, label;
    int32_t kind = 0, width = 0, display = 0;
    const void* cell = nullptr;
};

struct RecordedTable {
    std::string name, path;
    int32_t title = 0;
    std::vector<RecordedColumn> columns;
    std::vector<std::vector<std::string>> rows;
    bool delivered = false;
};

struct Recorder;

struct FakeObject : HostObject {
    Recorder* rec = nullptr;
    int table = -1;  // index into Recorder::tables; -1 for the manager
};

std::string text_of(const KyrArg& a) {
    if (a.type == kKyrCounted) return std::string(static_cast<const char*>(a.address), a.word);
    if (a.type == kKyrTextHandle && a.text != nullptr) {
        int32_t len = 0;
        const char* s = kyrtext_chars(a.text, &len);
        return std::string(s, len);
    }
    return {};
}

const KyrArg* find(int32_t count, KyrArg* args, uint16_t attr) {
    for (int32_t i = 0; i < count; ++i)
        if (args[i].attribute == attr && args[i].type != 0) return &args[i];
    return nullptr;
}

struct Recorder {
    HostClass cls;
    std::vector<uint32_t> numbers;
    std::vector<HostMethodEntry> entries;
    std::vector<HostMethodEntry*> heads;
    HostMethodDescriptor descriptor;
    FakeObject manager;
    std::vector<FakeObject*> objects;
    std::vector<RecordedTable> tables;
    std::vector<std::string> notes;
    std::vector<uint32_t> calls;

    Recorder() : numbers{147, 338, 298, 422, 329, 299, 428, 358} {
        descriptor.function = &dispatch;
        entries.resize(numbers.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            entries[i].method = numbers[i];
            entries[i].datum = &numbers[i];  // tells the method function its number
            entries[i].descriptor = &descriptor;
            entries[i].next = i + 1 < entries.size() ? &entries[i + 1] : nullptr;
        }
        heads.assign(1, entries.data());
        cls.buckets = heads.data();
        cls.bucketMask = 0;
        manager.cls = &cls;
        manager.rec = this;
    }
    ~Recorder() {
        for (FakeObject* o : objects) delete o;
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    static int32_t dispatch(HostObject* object, void* entryDatum, void*, int32_t count, KyrArg* args);
};

int32_t Recorder::dispatch(HostObject* object, void* entryDatum, void*, int32_t count, KyrArg* args) {
    const uint32_t method = *static_cast<const uint32_t*>(entryDatum);
    auto* self = static_cast<FakeObject*>(object);
    Recorder* rec = self->rec;
    rec->calls.push_back(method);
    switch (method) {
        case 147: {
            EXPECT_EQ(self->table, -1);
            EXPECT_EQ(text_of(*find(count, args, 146)), "data");
            RecordedTable t;
            t.name = text_of(*find(count, args, 138));
            rec->tables.push_back(t);
            auto* o = new FakeObject;
            o->cls = &rec->cls;
            o->rec = rec;
            o->table = static_cast<int>(rec->tables.size()) - 1;
            rec->objects.push_back(o);
            for (int32_t i = 0; i < count; ++i)
                if (args[i].attribute == 144) args[i].object = o;
            return 0;
        }
        case 358: {
            const KyrArg* just = find(count, args, 273);
            rec->notes.push_back(std::string(1, just ? just->character : '?') +
                                 text_of(*find(count, args, 577)));
            return 0;
        }
        case 422: {
            auto* t = static_cast<FakeObject*>(args[1].object);
            rec->tables[t->table].path = text_of(args[2]);
            args[0].object = args[1].object;
            return 0;
        }
        case 428:
            rec->tables[static_cast<FakeObject*>(args[0].object)->table].delivered = true;
            return 0;
        case 338: {
            RecordedColumn c;
            c.kind = find(count, args, 103)->word;
            c.name = text_of(*find(count, args, 138));
            c.cell = find(count, args, 285)->address;
            if (const KyrArg* a = find(count, args, 289)) c.width = a->word;
            if (const KyrArg* a = find(count, args, 272)) c.display = a->word;
            if (const KyrArg* a = find(count, args, 339)) c.label = text_of(*a);
            rec->tables[self->table].columns.push_back(c);
            return 0;
        }
        case 329: {
            RecordedTable& t = rec->tables[self->table];
            std::vector<std::string> row;
            for (const RecordedColumn& c : t.columns) {
                if (c.kind == 1) {
                    row.push_back(std::to_string(*static_cast<const int32_t*>(c.cell)));
                } else if (c.kind == 5) {
                    const double v = *static_cast<const double*>(c.cell);
                    char buf[40];
                    std::snprintf(buf, sizeof buf, "%.12g", v);
                    row.push_back(std::isnan(v) ? std::string(".") : std::string(buf));
                } else {
                    row.push_back(std::string(static_cast<const char*>(c.cell), c.width));
                }
            }
            t.rows.push_back(row);
            return 0;
        }
        default:
            return 0;
    }
}

class GinvTables : public PlatformStep {};

// ---------------------------------------------------------------------------
// Numbers.

// Packed positive semidefinite matrix of rank r: M'M with M r x n random.
std::vector<double> rank_deficient(int n, int r, unsigned seed) {
    const vt::Dense m = vt::random_dense(r, n, seed);
    vt::Dense a(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < r; ++k) a[i * n + j] += m[k * n + i] * m[k * n + j];
    return vt::to_packed(a, n);
}

// Pseudo-inverse by LAPACK: V diag(1/lambda, |lambda| > tol) V'.
vt::Dense lapack_pinv(const vt::Dense& a, int n, double tol) {
    vt::Dense v = a;
    const std::vector<double> w = vt::lapack_syev(&v, n, true);
    vt::Dense g(static_cast<size_t>(n) * n, 0.0);
    for (int k = 0; k < n; ++k) {
        if (std::fabs(w[k]) <= tol) continue;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) g[i * n + j] += v[k * n + i] * v[k * n + j] / w[k];
    }
    return g;
}

struct Ginv {
    int32_t result;
    std::vector<double> g;
};

Ginv ginv(std::vector<double> ap, int n, int nzero, double tol) {
    std::vector<double> d(n), e(n), z(static_cast<size_t>(n) * n);
    const int32_t r = zcovgiv(0, 0, n, nzero, tol, ap.data(), d.data(), z.data(), e.data(), nullptr, nullptr);
    return {r, ap};
}

TEST(Zcovgiv, NonsingularGivesTheInverse) {
    const int n = 9;
    const vt::Dense a = vt::random_spd(n, 21);
    const Ginv g = ginv(vt::to_packed(a, n), n, 0, 1e-12);
    ASSERT_EQ(g.result, 0);
    EXPECT_LT(vt::identity_error(a, vt::from_packed(g.g, n), n), kTol);
    // Indefinite and nonsingular: tol missing with nzero 0 keeps all.
    const vt::Dense b = vt::random_symmetric(n, 22);
    const Ginv h = ginv(vt::to_packed(b, n), n, 0, host_missing_value());
    ASSERT_EQ(h.result, 0);
    EXPECT_LT(vt::identity_error(b, vt::from_packed(h.g, n), n), 1e-9);
}

TEST(Zcovgiv, RankDeficientSatisfiesPenroseIdentities) {
    for (int n : {1, 4, 12, 40}) {
        const int r = std::max(1, n / 2);
        const std::vector<double> ap = rank_deficient(n, r, 30 + n);
        const vt::Dense a = vt::from_packed(ap, n);
        const Ginv g = ginv(ap, n, 0, 1e-9);
        ASSERT_EQ(g.result, n - r) << "order " << n;
        const vt::Dense G = vt::from_packed(g.g, n);
        const vt::Dense aga = vt::matmul(a, vt::matmul(G, a, n, n, n), n, n, n);
        const vt::Dense gag = vt::matmul(G, vt::matmul(a, G, n, n, n), n, n, n);
        EXPECT_LT(vt::max_abs_diff(aga, a), kTol * (1 + vt::max_abs(a)));
        EXPECT_LT(vt::max_abs_diff(gag, G), kTol * (1 + vt::max_abs(G)));
        EXPECT_LT(vt::max_abs_diff(G, lapack_pinv(a, n, 1e-9)), 1e-8 * (1 + vt::max_abs(G)));
    }
}

TEST(Zcovgiv, CountRuleZeroesAdjacentSmallestAndRejectsTooMany) {
    // Eigenvalues 5, 3, 0.001, -0.002, -4 (descending): the smallest
    // magnitude and its smaller neighbour in that order are dropped.
    const std::vector<double> lambda = {5, 3, 0.001, -0.002, -4};
    const vt::Dense a = vt::with_eigenvalues(lambda, 23);
    const Ginv g = ginv(vt::to_packed(a, 5), 5, 2, host_missing_value());
    ASSERT_EQ(g.result, 2);
    EXPECT_LT(vt::max_abs_diff(vt::from_packed(g.g, 5), lapack_pinv(a, 5, 0.0025)), kTol);
    EXPECT_EQ(ginv(vt::to_packed(a, 5), 5, 6, host_missing_value()).result, -2);
    EXPECT_EQ(ginv({}, 0, 0, 0.0).result, 0);
}

// H = S [1 1 0; 1 1 0; 0 0 4] S has the null vector S^-1 (1, -1, 0): in
// the unit-diagonal scale the first two parameters lean into it by a
// cosine of 1/sqrt(2), the third and s1 theta1 + s2 theta2 not at all,
// s1 theta1 - s2 theta2 wholly, whatever the scales S.
TEST(GinvNullSpace, LeaningIsTheCosineInTheUnitDiagonalScale) {
    for (const double s1 : {1.0, 1e3, 1e-4}) {
        const double s[3] = {s1, 2.0, 0.5};
        const double base[3][3] = {{1, 1, 0}, {1, 1, 0}, {0, 0, 4}};
        std::vector<double> h(6), diag(3);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j <= i; ++j) h[i * (i + 1) / 2 + j] = s[i] * base[i][j] * s[j];
        for (int i = 0; i < 3; ++i) diag[i] = h[i * (i + 1) / 2 + i];
        std::vector<double> d(3), e(3), z(9), basis(9);
        ASSERT_EQ(zcovgiv(0, 0, 3, 1, host_missing_value(), h.data(), d.data(), z.data(), e.data(), nullptr, nullptr), 1);
        const int32_t count = ginv_null_basis(3, z.data(), d.data(), diag.data(), basis.data());
        ASSERT_EQ(count, 1);
        auto leaning = [&](double g0, double g1, double g2) {
            const double g[3] = {g0, g1, g2};
            return ginv_null_leaning(3, count, basis.data(), diag.data(), g);
        };
        SCOPED_TRACE(s1);
        EXPECT_NEAR(leaning(1, 0, 0), 1.0 / std::sqrt(2.0), 1e-12);
        EXPECT_NEAR(leaning(0, 1, 0), 1.0 / std::sqrt(2.0), 1e-12);
        EXPECT_NEAR(leaning(0, 0, 1), 0.0, 1e-12);
        EXPECT_NEAR(leaning(s[0], s[1], 0), 0.0, 1e-12);
        EXPECT_NEAR(leaning(s[0], -s[1], 0), 1.0, 1e-12);
        EXPECT_EQ(leaning(0, 0, 0), 0.0);
    }
}

// The same H with scales far apart (the null direction's eigenvalue of H
// itself is then roundoff above the third parameter's): in the correlation
// form the count rule still drops the null direction, G satisfies
// H G H = H, and the null basis read from the correlation form leans as
// above; a diagonal matrix keeps its nonzero elements' reciprocals.
TEST(GinvNullSpace, UnitFreeInverseDropsTheNullDirectionAtAnyScale) {
    for (const double s1 : {1e8, 1.0, 1e-8}) {
        SCOPED_TRACE(s1);
        const double s[3] = {s1, 2.0, 1e-6 / s1};
        const double base[3][3] = {{1, 1, 0}, {1, 1, 0}, {0, 0, 4}};
        vt::Dense a(9);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) a[i * 3 + j] = s[i] * base[i][j] * s[j];
        std::vector<double> h = vt::to_packed(a, 3), diag = {a[0], a[4], a[8]};
        std::vector<double> d(3), e(3), z(9), basis(9), work(3);
        ASSERT_EQ(ginv_unit_free(0, 0, 3, 1, host_missing_value(), h.data(), d.data(), z.data(), e.data(),
                                 work.data(), nullptr, nullptr),
                  1);
        const vt::Dense aga = vt::matmul(a, vt::matmul(vt::from_packed(h, 3), a, 3, 3, 3), 3, 3, 3);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(aga[i * 3 + j] / (s[i] * s[j]), base[i][j], kTol) << i << "," << j;
        const int32_t count = ginv_null_basis(3, z.data(), d.data(), nullptr, basis.data());
        ASSERT_EQ(count, 1);
        const double g[3] = {s[0], -s[1], 0};
        EXPECT_NEAR(ginv_null_leaning(3, count, basis.data(), diag.data(), g), 1.0, 1e-12);
    }
    std::vector<double> dg = {1e-12, 0.0, 5e9}, d(3), e(3), work(3);
    ASSERT_EQ(ginv_unit_free(0, 2, 3, 1, host_missing_value(), dg.data(), d.data(), nullptr, e.data(), work.data(),
                             nullptr, nullptr),
              1);
    EXPECT_DOUBLE_EQ(e[0], 1e12);
    EXPECT_EQ(e[1], 0.0);
    EXPECT_DOUBLE_EQ(e[2], 2e-10);
}

TEST(Evzero, RunNeverGrowsPastTheEnds) {
    const double ev[4] = {4, 3, 2, 1};
    double out[4];
    EXPECT_EQ(evzero(0, 4, 3, host_missing_value(), ev, out, nullptr, nullptr), 3);
    EXPECT_EQ(out[0], 0.25);
    EXPECT_EQ(out[1], 0.0);
    EXPECT_EQ(out[2], 0.0);
    EXPECT_EQ(out[3], 0.0);
    EXPECT_EQ(evzero(0, 4, 4, host_missing_value(), ev, out, nullptr, nullptr), 4);
    for (double v : out) EXPECT_EQ(v, 0.0);
    // The smallest at the front grows upwards only.
    const double up[4] = {0.5, 1, 2, 3};
    EXPECT_EQ(evzero(0, 4, 2, host_missing_value(), up, out, nullptr, nullptr), 2);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.0);
    EXPECT_EQ(out[2], 0.5);
    double untouched[4] = {7, 7, 7, 7};
    EXPECT_EQ(evzero(0, 4, 5, host_missing_value(), ev, untouched, nullptr, nullptr), -1);
    EXPECT_EQ(untouched[0], 7.0);
}

TEST(Evzero, TieExactZeroAndToleranceRules) {
    // Equal magnitudes: the last one is the start of the run.
    const double ev[4] = {2, 1, -1, 3};
    double out[4];
    EXPECT_EQ(evzero(0, 4, 1, host_missing_value(), ev, out, nullptr, nullptr), 1);
    EXPECT_EQ(out[1], 1.0);
    EXPECT_EQ(out[2], 0.0);
    // nzero < 1: exact zeros only, result 0.
    const double z[3] = {2, 0.0, 1e-300};
    EXPECT_EQ(evzero(0, 3, 0, host_missing_value(), z, out, nullptr, nullptr), 0);
    EXPECT_EQ(out[1], 0.0);
    EXPECT_EQ(out[2], 1.0 / 1e-300);
    // tol given: never below 10 DBL_MIN.
    const double t[3] = {1e-5, 1e-7, 1e-308};
    EXPECT_EQ(evzero(0, 3, 0, 1e-6, t, out, nullptr, nullptr), 2);
    EXPECT_DOUBLE_EQ(out[0], 1e5);
    EXPECT_EQ(evzero(0, 3, 0, 0.0, t, out, nullptr, nullptr), 1);
    EXPECT_EQ(out[2], 0.0);
}

TEST(Zcovgiv, DiagonalModeWritesE) {
    double diag[3] = {2, 1e-20, -4};
    double d[3], z[9], e[3];
    EXPECT_EQ(zcovgiv(0, 2, 3, 0, 1e-10, diag, d, z, e, nullptr, nullptr), 1);
    EXPECT_EQ(e[0], 0.5);
    EXPECT_EQ(e[1], 0.0);
    EXPECT_EQ(e[2], -0.25);
    EXPECT_EQ(diag[1], 1e-20);
}

struct Lid {
    int32_t result;
    std::vector<double> a;
    std::string flags;
};

Lid lid(int print, std::vector<double> ap, int n, const std::vector<double>& x, double tol1,
        double tol2, double tol3, HostObject* mgr = nullptr, const NameRecord* names = nullptr) {
    std::vector<double> coef(n), s(n), tolv(n);
    std::string flags(n, '?');
    const int32_t r = zcovlid(print, 0, n, tol1, tol2, tol3, names, x.data(), ap.data(), coef.data(),
                              s.data(), tolv.data(), flags.data(), mgr, nullptr);
    return {r, ap, flags};
}

// Packed M'M where column 2 of M is 2 (column 0) - (column 1): the kernel
// vector is k = (2, -1, -1).
std::vector<double> dependent3(double scale0, double scale1) {
    const vt::Dense m0 = vt::random_dense(6, 2, 41);
    vt::Dense m(18);
    for (int r = 0; r < 6; ++r) {
        m[r * 3 + 0] = scale0 * m0[r * 2 + 0];
        m[r * 3 + 1] = scale1 * m0[r * 2 + 1];
        m[r * 3 + 2] = 2 * m[r * 3 + 0] - m[r * 3 + 1];
    }
    std::vector<double> a(6, 0.0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j)
            for (int r = 0; r < 6; ++r) a[vt::pk(i, j)] += m[r * 3 + i] * m[r * 3 + j];
    return a;
}

TEST(Zcovlid, NonsingularSweepsToMinusTheInverse) {
    const int n = 6;
    const vt::Dense a = vt::random_spd(n, 42);
    const std::vector<double> x(n, 1.0);
    const Lid r = lid(0, vt::to_packed(a, n), n, x, 1e-12, 1e-12, 1e-12);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.flags, std::string(n, '1'));
    vt::Dense minus(r.a.size());
    for (size_t i = 0; i < r.a.size(); ++i) minus[i] = -r.a[i];
    EXPECT_LT(vt::identity_error(a, vt::from_packed(minus, n), n), kTol);
}

TEST(Zcovlid, DependencyCoefficientsAndSameNumbersWithPrinting) {
    // Scales far apart so that the scaled sweep and its undoing matter.
    const std::vector<double> ap = dependent3(100.0, 0.01);
    const vt::Dense a = vt::from_packed(ap, 3);
    const std::vector<double> x = {1.5, -2.0, 0.25};
    const Lid off = lid(0, ap, 3, x, 1e-10, 1e-10, 1e-10);
    ASSERT_EQ(off.result, 1);
    const int u = static_cast<int>(off.flags.find('0'));
    ASSERT_GE(u, 0);
    // The pivoted block holds minus the inverse of A_PP in A's own scale.
    int p[2], k = 0;
    for (int i = 0; i < 3; ++i)
        if (i != u) p[k++] = i;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
            double v = 0;
            for (int l = 0; l < 2; ++l) v -= a[p[i] * 3 + p[l]] * off.a[vt::pk(p[l], p[j])];
            EXPECT_NEAR(v, i == j ? 1.0 : 0.0, 1e-8) << "A_PP (-a_PP) at " << i << "," << j;
        }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(off.a[vt::pk(u, i)], 0.0);

    // With printing the numbers are the same.
    Recorder rec;
    const Lid on = lid(4, ap, 3, x, 1e-10, 1e-10, 1e-10, &rec.manager);
    EXPECT_EQ(on.result, off.result);
    EXPECT_EQ(on.flags, off.flags);
    for (size_t i = 0; i < ap.size(); ++i) EXPECT_DOUBLE_EQ(on.a[i], off.a[i]);
}

TEST_F(GinvTables, LinDepRowGivesTheDependency) {
    // Third parameter = 2 * first - second in a well-scaled matrix; names
    // of different lengths.
    const std::vector<double> ap = dependent3(1.0, 1.0);
    const std::vector<double> x = {1.0, 2.0, 3.5};
    NameRecord names[3];
    const char* texts[3] = {"Alpha", "B", "LongParameterName"};
    for (int i = 0; i < 3; ++i) {
        names[i].length = static_cast<int16_t>(std::strlen(texts[i]));
        std::memcpy(names[i].text, texts[i], names[i].length);
    }
    Recorder rec;
    const Lid r = lid(4, ap, 3, x, 1e-10, 1e-10, 1e-10, &rec.manager, names);
    ASSERT_EQ(r.result, 1);
    const int u = static_cast<int>(r.flags.find('0'));
    // Coefficients from the kernel vector k = (2, -1, -1): b_j = -k_j / k_u.
    const double k[3] = {2, -1, -1};
    ASSERT_EQ(rec.tables.size(), 1u);
    const RecordedTable& t = rec.tables[0];
    EXPECT_EQ(t.name, "LinDep");
    EXPECT_EQ(t.path, "Orvo.NLP.LinDep");
    EXPECT_TRUE(t.delivered);
    ASSERT_EQ(t.columns.size(), 3u + 2u * 4u);
    const int w = 17;  // the longest name used
    EXPECT_EQ(t.columns[0].name, "Variable");
    EXPECT_EQ(t.columns[0].width, w);
    EXPECT_EQ(t.columns[1].name, "Equal");
    EXPECT_EQ(t.columns[2].name, "Constant");
    EXPECT_EQ(t.columns[3].name, "Sign");
    EXPECT_EQ(t.columns[3].label, "Sign");
    EXPECT_EQ(t.columns[6].name, "Parameter");
    EXPECT_EQ(t.columns[6].width, w);
    ASSERT_EQ(t.rows.size(), 1u);
    const std::vector<std::string>& row = t.rows[0];
    EXPECT_EQ(row[0], std::string(texts[u]) + std::string(w - std::strlen(texts[u]), ' '));
    EXPECT_EQ(row[1], " = ");
    double constant = x[u];
    int g = 0;
    for (int j = 0; j < 3; ++j) {
        if (j == u) continue;
        const double b = -k[j] / k[u];
        constant -= b * x[j];
        EXPECT_EQ(row[3 + 4 * g], b < 0 ? " - " : " + ") << "term " << j;
        EXPECT_NEAR(std::stod(row[4 + 4 * g]), std::fabs(b), 1e-9);
        EXPECT_EQ(row[5 + 4 * g], " * ");
        EXPECT_EQ(row[6 + 4 * g].substr(0, std::strlen(texts[j])), texts[j]);
        ++g;
    }
    EXPECT_NEAR(std::stod(row[2]), constant, 1e-9);
    // Notes: 340 before the table, 206 announcing it, 204 for the
    // unpivoted parameter (its standard deviation is not small: none).
    ASSERT_GE(rec.notes.size(), 2u);
    EXPECT_EQ(rec.notes[0][0], 'l');
    const std::vector<uint32_t> order = {358, 358, 147, 338};
    EXPECT_TRUE(std::equal(order.begin(), order.end(), rec.calls.begin()));
    EXPECT_EQ(rec.calls.back(), 428u);
}

TEST_F(GinvTables, SeveralDependenciesInDifferentScales) {
    // Eight parameters of rank five, with scales from 1e-3 to 1e3: three
    // are unpivoted, each a regression on the pivoted five that holds
    // exactly (A_uP = b A_PP) and whose table row carries its constant.
    const int n = 8, r = 5;
    std::vector<double> ap = rank_deficient(n, r, 77);
    const double scale[8] = {1e-3, 1, 1e3, 10, 0.1, 1, 100, 0.01};
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) ap[vt::pk(i, j)] *= scale[i] * scale[j];
    const vt::Dense a = vt::from_packed(ap, n);
    const std::vector<double> x = vt::random_dense(1, n, 78);
    Recorder rec;
    const Lid on = lid(4, ap, n, x, 1e-12, 1e-12, 1e-9, &rec.manager);
    ASSERT_EQ(on.result, n - r);
    ASSERT_EQ(rec.tables.size(), 1u);
    const RecordedTable& t = rec.tables[0];
    ASSERT_EQ(t.rows.size(), static_cast<size_t>(n - r));
    std::vector<int> piv;
    for (int j = 0; j < n; ++j)
        if (on.flags[j] == '1') piv.push_back(j);
    ASSERT_EQ(piv.size(), static_cast<size_t>(r));
    const int groups = static_cast<int>(t.columns.size() - 3) / 4;
    int row = 0;
    for (int u = 0; u < n; ++u) {
        if (on.flags[u] == '1') continue;
        // Read b from the table row (sign and magnitude per named term).
        std::map<std::string, double> b;
        for (int g = 0; g < groups; ++g) {
            const std::string name = t.rows[row][6 + 4 * g];
            if (name.find_first_not_of(' ') == std::string::npos) continue;
            const double mag = std::stod(t.rows[row][4 + 4 * g]);
            b[name.substr(0, name.find(' '))] = t.rows[row][3 + 4 * g] == " - " ? -mag : mag;
        }
        std::vector<double> coef(n, 0.0);
        for (int j : piv) coef[j] = b.count("X" + std::to_string(j + 1)) ? b["X" + std::to_string(j + 1)] : 0.0;
        double constant = x[u];
        for (int j : piv) constant -= coef[j] * x[j];
        EXPECT_NEAR(std::stod(t.rows[row][2]), constant, 1e-6 * (1 + std::fabs(constant)));
        for (int k : piv) {
            double v = 0;
            for (int j : piv) v += coef[j] * a[j * n + k];
            EXPECT_NEAR(v, a[u * n + k], 1e-6 * (1 + std::fabs(a[u * n + k]))) << "row " << u << " col " << k;
        }
        ++row;
    }
    const Lid off = lid(0, ap, n, x, 1e-12, 1e-12, 1e-9);
    EXPECT_EQ(off.result, on.result);
    for (size_t i = 0; i < ap.size(); ++i) EXPECT_DOUBLE_EQ(off.a[i], on.a[i]);
}

TEST_F(GinvTables, EigenvalueTableMarksZerosAndWidensNumbers) {
    Recorder rec;
    const double ev[3] = {2.0, 1e-12, -1.0};
    double out[3];
    EXPECT_EQ(evzero(4, 3, 0, 1e-9, ev, out, &rec.manager, nullptr), 1);
    ASSERT_EQ(rec.tables.size(), 1u);
    const RecordedTable& t = rec.tables[0];
    EXPECT_EQ(t.name, "Eigenvalues");
    EXPECT_EQ(t.path, "Orvo.NLP.Eigenvalues");
    ASSERT_EQ(t.columns.size(), 3u);
    EXPECT_EQ(t.columns[0].display, 3);
    EXPECT_EQ(t.columns[1].width, 2);
    ASSERT_EQ(t.rows.size(), 3u);
    EXPECT_EQ(t.rows[1][0], "2");
    EXPECT_EQ(t.rows[1][1], "* ");
    EXPECT_EQ(t.rows[0][1], "  ");
    EXPECT_EQ(t.rows[2][2], "-1");
    ASSERT_EQ(rec.notes.size(), 1u);
    EXPECT_EQ(rec.notes[0][0], 'c');

    for (int n : {999, 1000, 9999, 10000}) {
        Recorder big;
        std::vector<double> e(n, 1.0), o(n);
        evzero(4, n, 0, 0.5, e.data(), o.data(), &big.manager, nullptr);
        const int expect = n <= 999 ? 3 : (n <= 9999 ? 4 : 5);
        EXPECT_EQ(big.tables[0].columns[0].display, expect) << "n = " << n;
        EXPECT_TRUE(big.notes.empty());
    }
}

TEST_F(GinvTables, ZeroMatrixAndDiagonalMode) {
    Recorder rec;
    std::vector<double> zero(6, 0.0);
    zero[1] = 1e-200;
    const Lid r = lid(4, zero, 3, {0, 0, 0}, 0, 0, 0, &rec.manager);
    EXPECT_EQ(r.result, 0);
    for (double v : r.a) EXPECT_EQ(v, 0.0);
    EXPECT_NE(log().find("WARNING"), std::string::npos) << log();
    ASSERT_EQ(rec.notes.size(), 1u);
    EXPECT_EQ(rec.notes[0][0], 'l');

    Recorder diag;
    double d[4] = {4, 1e-9, -2, 0};
    char flags[4];
    EXPECT_EQ(dodiag(4, 4, flags, 1e-12, 1e-6, nullptr, d, &diag.manager), 2);
    EXPECT_EQ(std::string(flags, 4), "1010");
    EXPECT_EQ(d[0], 0.25);
    EXPECT_EQ(d[1], 0.0);
    EXPECT_EQ(d[2], -0.5);
    ASSERT_EQ(diag.notes.size(), 3u);  // 340, then 204 for X2 and X4
    EXPECT_NE(diag.notes[1].find("X2"), std::string::npos) << diag.notes[1];
    EXPECT_NE(diag.notes[2].find("X4"), std::string::npos) << diag.notes[2];
}

TEST(Zcovlid, NegativeTolerancesStillEnd) {
    // A zero diagonal qualifies under negative tolerances but cannot be
    // swept: the sweep stops there instead of choosing it forever.
    std::vector<double> ap = {1.0, 0.0, 0.0, 0.5, 0.0, 2.0};
    const Lid r = lid(0, ap, 3, {0, 0, 0}, -1.0, -1.0, -1.0);
    EXPECT_EQ(r.flags.size(), 3u);
    EXPECT_GE(r.result, 1);
}

}  // namespace
