// The statement-compiler services as the procedure calls them: compile,
// bind symbols to cells, list symbols by kind, derive, check, run, and the
// reports of statement errors, run results, invalid operations and missing
// values in the log.
#include "velix/host_compiler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>

#include "platform/session.h"
#include "velix/host.h"
#include "velix/proc_context.h"

namespace {

class HostCompiler : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = velix::platform::session();
        savedLog_ = s.log;
        savedListing_ = s.listing;
        s.log = &log;
        s.listing = &listing;
        ASSERT_EQ(cmpinit(&handle, &work), 0);
    }
    void TearDown() override {
        auto& s = velix::platform::session();
        s.log = savedLog_;
        s.listing = savedListing_;
    }
    int32_t compile(const std::string& text, int32_t line = 1) {
        text_ = text;
        CmpSource src{text_.c_str(), static_cast<int32_t>(text_.size()), line, 1};
        return cmpcomp(&src, 1, &statements, &work);
    }

    CmpHandle handle;
    CmpWork work;
    int32_t statements = 0;
    std::ostringstream log, listing;

private:
    std::string text_;
    std::ostream* savedLog_ = nullptr;
    std::ostream* savedListing_ = nullptr;
};

TEST_F(HostCompiler, StatementErrorIsLoggedWithLineColumnAndCaret) {
    EXPECT_EQ(compile("l3 = 2 * l2;\n  x = frob(l3);", 20), kCmpCompileError);
    EXPECT_EQ(work.status, kCmpCompileError);
    std::string text = log.str();
    EXPECT_NE(text.find("ERROR: unknown function frob at line 21, column 7."), std::string::npos) << text;
    EXPECT_NE(text.find("  x = frob(l3);\n      ^"), std::string::npos) << text;
}

TEST_F(HostCompiler, BindListDeriveAndRun) {
    ASSERT_EQ(compile("l3 = 2 * l2;\nif l4 > 0 then l5 = l4 * l4; else l5 = -l4;\n"), 0);
    EXPECT_EQ(statements, 2);
    double x[4] = {0.5, 0.0, 3.0, 0.0};  // l2, l3, l4, l5
    double dproc = 0.0;
    const char* names[4] = {"L2      ", "l3", "l4", "l5"};
    for (int k = 0; k < 4; ++k) ASSERT_EQ(cmpsyma(names[k], static_cast<int32_t>(std::strlen(names[k])), 'n', 8, &x[k], &work), 0);
    ASSERT_EQ(cmpsyma("_DPROC_", 7, 'n', 8, &dproc, &work), 0);
    EXPECT_NE(cmpsyma("_DPROC_", 7, 'c', 8, &dproc, &work), 0);
    CmpSymbol* special = cmpsyms("_dproc_", 7, &work);
    ASSERT_NE(special, nullptr);
    EXPECT_EQ(special->flags & (kCmpAssigned | kCmpReferenced), 0);
    // The module marks dependent (2) and independent (1) symbols.
    for (CmpSymbol* s = cmplstv(&work); s; s = s->next) {
        if (s->flags & kCmpAssigned)
            s->kind = 2;
        else if (s->flags & kCmpReferenced)
            s->kind = 1;
    }
    CmpList dep, ind;
    ASSERT_EQ(cmplstb(&dep, 2, -1, &work), 0);
    ASSERT_EQ(cmplstb(&ind, 1, -1, &work), 0);
    ASSERT_EQ(dep.count, 2);
    ASSERT_EQ(ind.count, 2);
    EXPECT_EQ(std::string(dep.symbols[0]->name, dep.symbols[0]->nameLength), "l3");
    HostAllocator* pool = nullptr;
    ASSERT_EQ(cmpdfla(&pool, 0, 0, 0, 0, &work), 0);
    CmpDerivArea area;
    ASSERT_EQ(cmpder(&area, &dep, &ind, 101, 101, 0, 0, &work), 0);
    xmpoold(pool);
    // l3 depends on l2 only, l5 on l4 only.
    ASSERT_EQ(area.count, 2);
    int32_t notes = -1, faults = -1;
    ASSERT_EQ(cmpchck(1, &notes, &faults, 0, &work), 0);
    EXPECT_EQ(faults, 0);
    ASSERT_EQ(cmppdv(0, nullptr, 0, &work), 0);
    ASSERT_EQ(cmpgen(&work), 0);
    int32_t errors = -1, missing = -1;
    ASSERT_EQ(cmpexi(1, 0, 0, &work), 0);
    ASSERT_EQ(cmprun(0, 0, 0, 1, 1, 1, 0, 1, &errors, &missing, &work), kCmpRunEnd);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(x[1], 1.0);
    EXPECT_EQ(x[3], 9.0);
    for (int32_t t = 0; t < area.count; ++t) {
        // Closed forms: dl3/dl2 = 2, dl5/dl4 = 2 l4.
        double expected = area.exprIndex[t] == 0 ? 2.0 : 2.0 * x[2];
        EXPECT_EQ(area.values[t], expected);
        EXPECT_EQ(area.varIndex[t], area.exprIndex[t]);
    }
    // Re-pointing a symbol between runs is honoured.
    double other = -2.0;
    cmpsyms("l4", 2, &work)->value = &other;
    cmprun(0, 0, 0, 1, 1, 1, 0, 1, &errors, &missing, &work);
    EXPECT_EQ(x[3], 2.0);
    // Listings.
    cmpplst(&dep, "    Dependent:", 0, 1, 1, 0, 1, &work);
    cmppsts("Programming statements", &work);
    cmppder(&area, "Derivatives", &work);
    EXPECT_NE(listing.str().find("    Dependent: l3 l5"), std::string::npos) << listing.str();
    EXPECT_NE(listing.str().find("    l3 = 2 * l2;"), std::string::npos) << listing.str();
    EXPECT_NE(listing.str().find("D(l5)/D(l4)"), std::string::npos) << listing.str();
}

TEST_F(HostCompiler, CheckFindsVariablesThatNeverGetAValue) {
    ASSERT_EQ(compile("y = a + t;\narray w{2} (1 2);\nz = w{1} + b;"), 0);
    double y = 0, a = 0, z = 0;
    cmpsyma("y", 1, 'n', 8, &y, &work);
    cmpsyma("a", 1, 'n', 8, &a, &work);
    cmpsyma("z", 1, 'n', 8, &z, &work);
    cmpsyms("b", 1, &work)->flags |= kCmpBoundByHost;  // taken over by the module
    int32_t notes = 0, faults = 0;
    ASSERT_EQ(cmpchck(1, &notes, &faults, 0, &work), 0);
    EXPECT_EQ(faults, 1);
    EXPECT_NE(log.str().find("variable t of the programming statements is never given a value (first used at line 1, column 9)"),
              std::string::npos)
        << log.str();
}

TEST_F(HostCompiler, RunReportsNamePlacesAndCounts) {
    ASSERT_EQ(compile("y = a + 1;\nz = log(b);\nw = y * 2;\narray v{2} p q;\nif a = 5 then u = v{a};"), 0);
    double a = host_missing_value(), b = -1.0, y = 0, z = 0, w = 0;
    cmpsyma("a", 1, 'n', 8, &a, &work);
    cmpsyma("b", 1, 'n', 8, &b, &work);
    cmpsyma("y", 1, 'n', 8, &y, &work);
    cmpsyma("z", 1, 'n', 8, &z, &work);
    cmpsyma("w", 1, 'n', 8, &w, &work);
    int32_t errors = 0, missing = 0;
    cmpexi(1, 0, 0, &work);
    EXPECT_EQ(cmprun(0, 0, 0, 1, 1, 0, 0, 1, &errors, &missing, &work), kCmpRunEnd);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(missing, 2);
    cmpperr(1, 999, &work);
    cmppmis(&work);
    std::string text = log.str();
    EXPECT_NE(text.find("      2:5   1\n"), std::string::npos) << text;   // log(b)
    EXPECT_NE(text.find("      1:7   1\n"), std::string::npos) << text;   // a + 1
    EXPECT_NE(text.find("      3:7   1\n"), std::string::npos) << text;   // y * 2
    a = 5.0;
    EXPECT_EQ(cmprun(0, 0, 0, 1, 1, 0, 0, 1, &errors, &missing, &work), kCmpRunFault);
    cmppxrc(kCmpRunFault, &work);
    EXPECT_NE(log.str().find("ERROR: Array subscript missing or out of range at line 5, column 19."),
              std::string::npos)
        << log.str();
}

TEST_F(HostCompiler, ServicesRefuseBadUse) {
    CmpWork fresh;
    int32_t n = 0;
    EXPECT_EQ(cmpcomp(nullptr, 0, &n, &fresh), kCmpMisuse);  // no cmpinit
    EXPECT_EQ(cmpexi(1, 0, 0, &work), kCmpMisuse);            // not compiled
    int32_t errors = 0, missing = 0;
    EXPECT_EQ(cmprun(0, 0, 0, 1, 1, 0, 0, 1, &errors, &missing, &work), kCmpRunFault);
    EXPECT_EQ(work.status, kCmpMisuse);
    ASSERT_EQ(compile("y = 1;"), 0);
    EXPECT_EQ(compile("y = 2;"), kCmpMisuse);  // compiled once per step
}

}  // namespace
