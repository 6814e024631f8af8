// The stored-inverse layout on hand-built model tables: slot sizes by type,
// shared slots of one name (also when it occurs three times), diagonal
// matrices without a slot, the per-term reuse, and on random models the
// invariants of both layouts: every matrix that needs a slot has one, slots
// of one name coincide, and slots alive at the same time never overlap.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "procedure/driver/model_readers.h"

namespace {

struct Matrix {
    std::string name;
    int16_t type;
    int16_t form;
    int32_t rows, cols;
    int16_t constant = 0;
};

// A model table of the given terms (each a list of matrices).
struct Table {
    ProcContext ctx;
    std::vector<int16_t> termTable, form, type, sameName, constant;
    std::vector<uint16_t> reuse;
    std::vector<int32_t> rows, cols, offset, work;
    std::vector<NameRecord> names;

    explicit Table(const std::vector<std::vector<Matrix>>& terms) {
        termTable.push_back(1);
        form = type = sameName = constant = {0};
        rows = cols = offset = {0};
        reuse = {0};
        names = {NameRecord()};
        for (const auto& term : terms) {
            for (const Matrix& m : term) {
                const int32_t k = static_cast<int32_t>(names.size());
                int16_t link = 0;
                for (int32_t j = 1; j < k; ++j)
                    if (velix::detail::name_text(names[j]) == m.name) link = static_cast<int16_t>(j);
                names.push_back(velix::detail::make_name(m.name));
                form.push_back(m.form);
                type.push_back(m.type);
                sameName.push_back(link);
                constant.push_back(m.constant);
                rows.push_back(m.rows);
                cols.push_back(m.cols);
                offset.push_back(0);
                reuse.push_back(0);
            }
            termTable.push_back(static_cast<int16_t>(names.size()));
        }
        ctx.sizes.nTerms = static_cast<int32_t>(terms.size());
        ctx.sizes.nMatrices = static_cast<int32_t>(names.size()) - 1;
        ModelMatrixTable& mt = ctx.model;
        mt.termTable = termTable.data();
        mt.form = form.data();
        mt.type = type.data();
        mt.sameName = sameName.data();
        mt.constant = constant.data();
        mt.rows = rows.data();
        mt.columns = cols.data();
        mt.inverseOffset = offset.data();
        mt.inverseReuse = reuse.data();
        mt.name = names.data();
        work.assign(2 * names.size(), 0);
    }
    int32_t layout(int16_t perTerm) {
        ctx.readers.perTermInverse = perTerm;
        return cosimal(&ctx, work.data());
    }
};

TEST(InverseStore, SlotSizesAndSharing) {
    // No inverse form: nothing at all.
    {
        Table t({{{"F", kMatGeneral, kFormNone, 9, 3}, {"P", kMatSymmetric, kFormNone, 3, 3}}});
        EXPECT_EQ(t.layout(0), 0);
        EXPECT_EQ(t.layout(1), 0);
        EXPECT_EQ(t.ctx.sizes.invStoreLen, 0);
        for (int32_t k = 1; k <= 2; ++k) EXPECT_EQ(t.offset[k], 0);
    }
    // One name in two terms: one slot of 16 at offset 1; a diagonal matrix
    // needs none; a lower triangle is packed.
    {
        Table t({{{"A", kMatGeneral, kFormInverse, 4, 4}, {"D", kMatDiagonal, kFormInverse, 4, 4},
                  {"P", kMatSymmetric, kFormNone, 4, 4}},
                 {{"A", kMatGeneral, kFormInverse, 4, 4}, {"L", kMatLower, kFormIMinusInverse, 4, 4},
                  {"Q", kMatSymmetric, kFormNone, 4, 4}}});
        EXPECT_EQ(t.layout(1), 0);
        EXPECT_EQ(t.offset[1], 1);
        EXPECT_EQ(t.offset[4], 1);
        EXPECT_EQ(t.offset[2], 0);
        EXPECT_EQ(t.offset[5], 17);
        EXPECT_EQ(t.ctx.sizes.invStoreLen, 17 + 10);
    }
}

// A name used in three terms is linked to its nearest earlier occurrence
// only (3 -> 2 -> 1); all three still share one slot.
TEST(InverseStore, ThreeOccurrencesShareOneSlot) {
    const Matrix a{"A", kMatGeneral, kFormInverse, 3, 3};
    const Matrix p{"P", kMatSymmetric, kFormNone, 3, 3};
    Table t({{a, p}, {a, p}, {a, p}});
    EXPECT_EQ(t.sameName[5], 3);
    for (int16_t perTerm : {0, 1}) {
        t.layout(perTerm);
        EXPECT_EQ(t.offset[1], 1) << "layout " << perTerm;
        EXPECT_EQ(t.offset[3], 1) << "layout " << perTerm;
        EXPECT_EQ(t.offset[5], 1) << "layout " << perTerm;
        EXPECT_EQ(t.ctx.sizes.invStoreLen, 10) << "layout " << perTerm;
    }
}

TEST(InverseStore, PerTermLayoutReleasesSlots) {
    Table t({{{"A", kMatSymmetric, kFormInverse, 3, 3}}, {{"B", kMatSymmetric, kFormInverse, 3, 3}}});
    // The first term's slot (6 doubles) is free once the second begins.
    EXPECT_EQ(t.layout(0), 6);
    EXPECT_EQ(t.offset[1], 1);
    EXPECT_EQ(t.offset[2], 1);
    EXPECT_EQ(t.reuse[1], 2);
    EXPECT_EQ(t.ctx.sizes.invStoreLen, 7);
    EXPECT_EQ(t.ctx.readers.perTermInverse, 0);
    EXPECT_EQ(t.layout(1), 0);
    EXPECT_EQ(t.offset[1], 1);
    EXPECT_EQ(t.offset[2], 7);
    EXPECT_EQ(t.ctx.sizes.invStoreLen, 13);
    // A constant matrix keeps a permanent slot; nothing is released.
    Table c({{{"A", kMatSymmetric, kFormInverse, 3, 3, 1}}, {{"B", kMatSymmetric, kFormInverse, 3, 3}}});
    EXPECT_EQ(c.layout(0), 0);
    EXPECT_EQ(c.ctx.readers.perTermInverse, 1);
    EXPECT_EQ(c.offset[2], 7);
}

int32_t size_of(const Table& t, int32_t k) {
    const int16_t ty = t.type[k];
    const int32_t c = t.cols[k];
    if (ty == kMatLower || ty == kMatUpper || ty == kMatSymmetric || ty == kMatPosDefinit) return c * (c + 1) / 2;
    return t.rows[k] * c;
}

bool needs(const Table& t, int32_t k) { return t.form[k] != kFormNone && t.type[k] != kMatDiagonal; }

TEST(InverseStore, RandomModelsKeepSlotsApart) {
    std::mt19937 rng(20240607);
    const int16_t types[] = {kMatGeneral, kMatSymmetric, kMatLower, kMatDiagonal, kMatUpper};
    const char* names[] = {"A", "B", "C", "D", "E", "F"};
    for (int trial = 0; trial < 300; ++trial) {
        // Names keep one type, size and form, as the COSAN reader makes them.
        std::vector<Matrix> kinds;
        for (const char* n : names) {
            const int32_t order = 1 + static_cast<int32_t>(rng() % 5);
            kinds.push_back({n, types[rng() % 5], static_cast<int16_t>(rng() % 3), order, order,
                             static_cast<int16_t>(rng() % 4 == 0)});
        }
        std::vector<std::vector<Matrix>> terms(1 + rng() % 4);
        for (auto& term : terms) {
            for (size_t j = 0, m = 1 + rng() % 3; j < m; ++j) term.push_back(kinds[rng() % kinds.size()]);
        }
        Table t(terms);
        const int32_t m = t.ctx.sizes.nMatrices;
        for (int16_t perTerm : {0, 1}) {
            const int32_t released = t.layout(perTerm);
            auto root = [&](int32_t k) {
                while (t.sameName[k] > 0) k = t.sameName[k];
                return k;
            };
            for (int32_t k = 1; k <= m; ++k) {
                ASSERT_EQ(t.offset[k] > 0, needs(t, k)) << "trial " << trial << " matrix " << k;
                if (needs(t, k)) {
                    EXPECT_EQ(t.offset[k], t.offset[root(k)]) << "trial " << trial;
                    EXPECT_LE(t.offset[k] + size_of(t, k), t.ctx.sizes.invStoreLen) << "trial " << trial;
                }
            }
            // Two slots of different names may share storage only in the
            // per-term layout, and then only when their terms never meet:
            // matrices of one term (all at once: of any terms) stay apart.
            for (int32_t a = 1; a <= m; ++a)
                for (int32_t b = a + 1; b <= m; ++b) {
                    if (!needs(t, a) || !needs(t, b) || root(a) == root(b)) continue;
                    bool together = perTerm == 1;
                    for (int32_t term = 1; term <= t.ctx.sizes.nTerms && !together; ++term) {
                        bool hasA = false, hasB = false;
                        for (int32_t k = t.termTable[term - 1]; k < t.termTable[term]; ++k) {
                            hasA = hasA || root(k) == root(a);
                            hasB = hasB || root(k) == root(b);
                        }
                        together = hasA && hasB;
                    }
                    if (!together) continue;
                    const bool apart = t.offset[a] + size_of(t, a) <= t.offset[b] ||
                                       t.offset[b] + size_of(t, b) <= t.offset[a];
                    EXPECT_TRUE(apart) << "trial " << trial << " matrices " << a << " and " << b;
                }
            if (perTerm == 1) {
                EXPECT_EQ(released, 0);
            }
        }
    }
}

}  // namespace
