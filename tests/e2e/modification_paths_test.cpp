// The modification indices, equality and bound tests read from each place
// that holds the Jacobian at the estimates: its structural nonzeros
// (HESSALG=11), the column files (3) and memory (1), on each model kind,
// plain, tied and at a bound, agree to 1e-10.  The steps run in this
// process so that the memory of one allocation can be limited.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "hs_fixture.h"
#include "platform/memory.h"
#include "platform/output.h"
#include "platform/runner/runner.h"
#include "platform/session.h"
#include "tests/support/fixtures.h"

namespace velix::test {
namespace {

// The three-factor model of hs.csv in each model kind; $name stands for a
// parameter with its start value.
const std::map<std::string, std::string> kModels = {
    {"lineqs", kHsStartModel},
    {"ram",
     " ram 1 1 10 1.0, 1 2 10 $l2, 1 3 10 $l3, 1 4 11 1.0, 1 5 11 $l5, 1 6 11 $l6, 1 7 12 1.0,\n"
     "  1 8 12 $l8, 1 9 12 $l9, 2 1 1 $ve1, 2 2 2 $ve2, 2 3 3 $ve3, 2 4 4 $ve4, 2 5 5 $ve5, 2 6 6 $ve6,\n"
     "  2 7 7 $ve7, 2 8 8 $ve8, 2 9 9 $ve9, 2 10 10 $vvis, 2 11 11 $vtxt, 2 12 12 $vspd,\n"
     "  2 11 10 $cvt, 2 12 10 $cvs, 2 12 11 $cts;\n"
     " varnames 1 = Fvis Ftxt Fspd, 2 = E1-E9 Dvis Dtxt Dspd;\n"},
    {"cosan",
     " cosan F(3, GEN) * P(3, SYM) + U(9, SYM);\n"
     " matrix F [ , 1] = 1.0 $l2 $l3, [ , 2] = 0 0 0 1.0 $l5 $l6, [ , 3] = 0 0 0 0 0 0 1.0 $l8 $l9;\n"
     " matrix P [1, 1] = $vvis $vtxt $vspd, [2, 1] = $cvt $cts, [3, 1] = $cvs;\n"
     " matrix U [1, 1] = $ve1 $ve2 $ve3 $ve4 $ve5 $ve6 $ve7 $ve8 $ve9;\n"
     " varnames F = Fvis Ftxt Fspd, P = F, U = E1-E9;\n"},
    {"factor",
     " factor n=3;\n"
     " matrix _F_ [ , 1] = 1.0 $l2 $l3, [ , 2] = 0 0 0 1.0 $l5 $l6, [ , 3] = 0 0 0 0 0 0 1.0 $l8 $l9;\n"
     " matrix _P_ [1, 1] = $vvis $vtxt $vspd, [2, 1] = $cvt $cts, [3, 1] = $cvs;\n"
     " matrix _U_ [1, 1] = $ve1 $ve2 $ve3 $ve4 $ve5 $ve6 $ve7 $ve8 $ve9;\n"},
};

// The program at the reference estimates of its variant: "plain", "tied"
// (l3 is l2), "bound" (l9 held at 0.9).
std::string program(const std::string& kind, const std::string& variant, const std::string& method, int mode) {
    const std::string refCase = method == "wls" ? "hs_wls" : variant == "plain" ? "hs" : "hs_" + variant;
    const std::map<std::string, double> ref = reference_rows("results_reference.csv", refCase);
    std::string text = kModels.at(kind);
    if (variant == "tied") text.replace(text.find("$l3"), 3, "$l2");
    std::ostringstream p;
    p << "proc velix data=hs method=" << method << " covariance technique=none modification hessalg=" << mode << ";\n"
      << with_starts(text, [&](const std::string& name) { return ref.at("est:" + name); })
      << (variant == "bound" ? " bounds 0 <= l9 <= 0.9;\n" : "") << "run;\n";
    return p.str();
}

// One step of the program in this process, its allocations limited to
// `limit` bytes (0: the default); the output document and the numbers of
// the messages of group 352.
struct InProcess {
    JsonValue document;
    std::vector<int> messages;
};
InProcess run_in_process(const std::string& text, int64_t limit) {
    auto& s = velix::platform::session();
    const velix::platform::Session saved = s;
    std::ostringstream log, listing;
    s.log = &log;
    s.listing = &listing;
    s.libraryDir = fixture_dir();
    velix::platform::output_clear();
    velix::platform::set_allocation_limit(limit);
    std::vector<int> codes;
    velix::platform::run_program_text(text, &codes);
    velix::platform::set_allocation_limit(0);
    InProcess out;
    out.document = JsonValue::parse(velix::platform::output_json());
    velix::platform::output_clear();
    s = saved;
    const JsonValue& messages = out.document["steps"][0]["messages"];
    for (size_t i = 0; i < messages.size(); ++i)
        if (messages[i]["group"].number() == 352) out.messages.push_back(static_cast<int>(messages[i]["number"].number()));
    return out;
}

// Every number and text of the tests' tables, by its place.
using Flat = std::map<std::string, std::pair<double, std::string>>;
void flatten(const JsonValue& v, const std::string& at, Flat* out) {
    if (v.is_number()) (*out)[at] = {v.number(), ""};
    if (v.is_string()) (*out)[at] = {0.0, v.str()};
    if (v.is_array())
        for (size_t i = 0; i < v.size(); ++i) flatten(v[i], at + "/" + std::to_string(i), out);
    if (v.is_object())
        for (const std::string& k : v.keys()) flatten(v[k], at + "/" + k, out);
}
Flat tests_of(const JsonValue& document) {
    Flat out;
    const JsonValue& items = document["steps"][0]["output"];
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string name = items[i]["name"].str();
        if (name == "ModIndices" || name == "LagrangeEquality" || name == "LagrangeBoundary")
            flatten(items[i], std::to_string(i) + ":" + name, &out);
    }
    return out;
}

// Whether the tests' tables hold one named `table`.
bool holds(const Flat& f, const std::string& table) {
    return std::any_of(f.begin(), f.end(), [&](const auto& e) { return e.first.find(table) != std::string::npos; });
}

void expect_same(const Flat& got, const Flat& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (const auto& [place, w] : want) {
        const auto g = got.find(place);
        ASSERT_NE(g, got.end()) << what << ": no " << place;
        EXPECT_EQ(g->second.second, w.second) << what << ": " << place;
        // Relative to the value, statistics near 0 relative to 1e-3.
        EXPECT_NEAR(g->second.first, w.first, 1e-10 * std::max(std::fabs(w.first), 1e-3)) << what << ": " << place;
    }
}

TEST(ModificationPaths, SparseAndFileColumnsEqualTheJacobianInMemory) {
    auto check = [](const std::string& kind, const std::string& variant, const std::string& method) {
        SCOPED_TRACE(kind + " " + variant + " " + method);
        const Flat dense = tests_of(run_in_process(program(kind, variant, method, 1), 0).document);
        EXPECT_TRUE(holds(dense, "ModIndices"));
        EXPECT_EQ(holds(dense, "LagrangeEquality"), variant == "tied");
        EXPECT_EQ(holds(dense, "LagrangeBoundary"), variant == "bound");
        expect_same(tests_of(run_in_process(program(kind, variant, method, 3), 0).document), dense, "file");
        expect_same(tests_of(run_in_process(program(kind, variant, method, 11), 0).document), dense, "sparse");
    };
    for (const auto& [kind, text] : kModels)
        for (const std::string variant : {"plain", "tied", "bound"}) check(kind, variant, "ml");
    check("lineqs", "plain", "wls");
}

// Down from a megabyte per allocation: first the copy of the covariance of
// the estimates no longer fits its share (352/149) and the indices read it
// by panels with the same numbers, then the indices' work itself does not
// fit (352/150) and they are refused while the equality tests still run.
TEST(ModificationPathsMemory, ShortMemoryReadsTheCovarianceByPanelsThenRefuses) {
    const std::string text = program("lineqs", "tied", "ml", 11);
    const Flat full = tests_of(run_in_process(text, 0).document);
    bool panels = false, refused = false;
    for (int64_t limit = int64_t{1} << 20; limit >= 48 << 10; limit = limit * 4 / 5) {
        const InProcess r = run_in_process(text, limit);
        const auto has = [&](int m) { return std::count(r.messages.begin(), r.messages.end(), m) > 0; };
        const Flat got = tests_of(r.document);
        if (has(149) && !has(150)) {
            panels = true;
            expect_same(got, full, "limit " + std::to_string(limit));
        }
        if (has(150)) {
            refused = true;
            EXPECT_FALSE(holds(got, "ModIndices")) << limit;
            EXPECT_TRUE(holds(got, "LagrangeEquality")) << limit;
        }
    }
    EXPECT_TRUE(panels);
    EXPECT_TRUE(refused);
}

}  // namespace
}  // namespace velix::test
