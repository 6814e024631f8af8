// Whole programs with METHOD=NONE: the model is built and described but not
// estimated.  The reference programs' parameter counts are checked against
// the independent fits in tests/fixtures/*.expected.json (R's lavaan: its
// list of free parameters, and p(p+1)/2 minus its degrees of freedom); the
// model tables are checked against the variables each program names and
// against each other (the matrix sizes follow from the variable counts).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using velix::test::cell;
using velix::test::JsonValue;
using velix::test::run_velix;
using velix::test::RunResult;

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A reference program with its method replaced by NONE.
std::string method_none(const std::string& stem) {
    std::string p = read_text(velix::test::data_path(stem + ".vx"));
    const size_t at = p.find("method=ml");
    EXPECT_NE(at, std::string::npos) << stem;
    if (at != std::string::npos) p.replace(at, 9, "method=none");
    return p;
}

// The numeric variables of a data file: the header names that are not
// special variables (_TYPE_, _NAME_).
size_t data_variables(const std::string& file) {
    std::ifstream in(velix::test::data_path(file));
    std::string line;
    while (std::getline(in, line) && (line.empty() || line[0] == '#')) {
    }
    size_t n = 0;
    std::stringstream s(line);
    for (std::string name; std::getline(s, name, ',');) n += !name.empty() && name[0] != '_';
    return n;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream s(text);
    for (std::string w; s >> w;) out.push_back(w);
    return out;
}

// The value of the GenModInfo entry labelled by message 352/`label`.
double model_info(const RunResult& r, int label) {
    auto items = r.items(0, "factoid", "GenModInfo");
    if (items.empty()) {
        ADD_FAILURE() << "no GenModInfo";
        return -1.0;
    }
    const JsonValue& entries = (*items[0])["entries"];
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i]["labelMessage"]["number"].number() == label)
            return entries[i]["value"].number();
    ADD_FAILURE() << "GenModInfo has no entry " << label;
    return -1.0;
}

// Every message the step used exists in the catalogue, and nothing failed
// inside the procedure.
void expect_clean_log(const RunResult& r) {
    EXPECT_EQ(r.log.find("is missing from the message file"), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("internal error"), std::string::npos) << r.log;
    EXPECT_EQ(r.jsonText.find("????"), std::string::npos);
}

// The names of the row of a variable table whose Type is `type`.
std::vector<std::string> row_names(const JsonValue& table, const std::string& type) {
    for (size_t i = 0; i < table["rows"].size(); ++i)
        if (cell(table, i, "Type").str() == type) return words(cell(table, i, "Variables").str());
    ADD_FAILURE() << "no row of type " << type;
    return {};
}

std::vector<std::string> numbered(const std::string& stem, int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i <= to; ++i) out.push_back(stem + std::to_string(i));
    return out;
}

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ReferenceCase {
    std::string stem;
    std::string data;
    // The variable groups as the program defines them: left-hand sides that
    // are data variables (in the data file's order) or factors, right-hand
    // side factors, and the error and disturbance terms in order of first use.
    std::vector<std::string> endoManifest, endoLatent, exoLatent, errors;
};

std::vector<ReferenceCase> reference_cases() {
    return {
        {"hs_cfa_ml",
         "hs.csv",
         numbered("x", 1, 9),
         {},
         {"Fvis", "Ftxt", "Fspd"},
         numbered("E", 1, 9)},
        // poldem.csv lists y1-y8 before x1-x3; Fdem60 and Fdem65 head
        // equations, Find60 does not.
        {"poldem_ml",
         "poldem.csv",
         join(numbered("y", 1, 8), numbered("x", 1, 3)),
         {"Fdem60", "Fdem65"},
         {"Find60"},
         join(numbered("E", 1, 11), {"D1", "D2"})},
        {"ability_ml",
         "ability.csv",
         {"general", "picture", "blocks", "maze", "reading", "vocab"},
         {},
         {"Fg", "Fv"},
         numbered("E", 1, 6)},
    };
}

TEST(ReferenceModels, BuildWithMethodNoneAndCountTheirParameters) {
    for (const ReferenceCase& c : reference_cases()) {
        SCOPED_TRACE(c.stem);
        const JsonValue expected =
            JsonValue::parse(read_text(velix::test::data_path(c.stem + ".expected.json")));
        auto r = run_velix(method_none(c.stem), {c.data});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        ASSERT_EQ(r.json["steps"].size(), 1u);
        EXPECT_EQ(r.json["steps"][0]["returnCode"].number(), 0.0);
        expect_clean_log(r);

        const double p = static_cast<double>(data_variables(c.data));
        const double moments = p * (p + 1) / 2;
        EXPECT_EQ(model_info(r, 300), expected["nobs"].number());
        EXPECT_EQ(model_info(r, 301), p);
        EXPECT_EQ(model_info(r, 303), moments);
        EXPECT_EQ(model_info(r, 304), 1.0);  // one term
        EXPECT_EQ(model_info(r, 305), 4.0);  // _SEL_, _BETA_, _GAMMA_, _PHI_
        // Free parameters: the reference fit's list, and the moments less
        // the model's degrees of freedom.
        EXPECT_EQ(model_info(r, 307), static_cast<double>(expected["params"].size()));
        EXPECT_EQ(model_info(r, 307), moments - expected["df"].number());
    }
}

TEST(ReferenceModels, ModelTablesNameTheMatricesAndVariables) {
    for (const ReferenceCase& c : reference_cases()) {
        SCOPED_TRACE(c.stem);
        auto r = run_velix(method_none(c.stem), {c.data});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        expect_clean_log(r);

        const JsonValue& endo = r.table(0, "EndogenousVar");
        const JsonValue& exo = r.table(0, "ExogenousVar");
        ASSERT_TRUE(endo.is_object() && exo.is_object()) << r.jsonText;
        ASSERT_EQ(endo["rows"].size(), 2u);
        ASSERT_EQ(exo["rows"].size(), 3u);
        // Rows in their order, each labelled by its group's text.
        EXPECT_EQ(cell(endo, 0, "Type").str(), "Manifest");
        EXPECT_EQ(cell(endo, 1, "Type").str(), "Latent");
        EXPECT_EQ(cell(exo, 0, "Type").str(), "Manifest");
        EXPECT_EQ(cell(exo, 1, "Type").str(), "Latent");
        EXPECT_EQ(cell(exo, 2, "Type").str(), "Error");
        EXPECT_EQ(row_names(endo, "Manifest"), c.endoManifest);
        EXPECT_EQ(row_names(endo, "Latent"), c.endoLatent);
        EXPECT_TRUE(row_names(exo, "Manifest").empty());  // every data variable heads an equation
        EXPECT_EQ(row_names(exo, "Latent"), c.exoLatent);
        EXPECT_EQ(row_names(exo, "Error"), c.errors);

        const int nEndo = static_cast<int>(c.endoManifest.size() + c.endoLatent.size());
        const int nExo = static_cast<int>(c.exoLatent.size() + c.errors.size());
        const int N = nEndo + nExo;
        const int n = static_cast<int>(data_variables(c.data));
        // The subtitles count the equations and the exogenous variables.
        const std::string endoTitle = endo["dynamic"]["titletext"].str();
        const std::string exoTitle = exo["dynamic"]["titletext"].str();
        EXPECT_EQ(endoTitle.substr(endoTitle.rfind(' ') + 1), std::to_string(nEndo)) << endoTitle;
        EXPECT_EQ(exoTitle.substr(exoTitle.rfind(' ') + 1), std::to_string(nExo)) << exoTitle;

        const JsonValue& ms = r.table(0, "ModelStatement");
        ASSERT_EQ(ms["rows"].size(), 4u) << r.jsonText;
        struct Row {
            const char* matrix;
            int rows, columns;
            const char* type1;
            const char* type2;
        };
        // Sigma = _SEL_ (I - _BETA_)^-1 _GAMMA_ _PHI_ _GAMMA_' (I - _BETA_)^-T _SEL_'.
        const Row want[] = {{"_SEL_", n, N, "SELECTION", ""},
                            {"_BETA_", N, N, "EQSBETA", "IMINUSINV"},
                            {"_GAMMA_", N, nExo, "EQSGAMMA", ""},
                            {"_PHI_", nExo, nExo, "SYMMETRIC", ""}};
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(cell(ms, i, "Term").str(), i == 0 ? "Term 1" : "") << i;
            EXPECT_EQ(cell(ms, i, "Index").number(), static_cast<double>(i + 1));
            EXPECT_EQ(cell(ms, i, "Matrix").str(), want[i].matrix);
            EXPECT_EQ(cell(ms, i, "Rows").number(), want[i].rows) << want[i].matrix;
            EXPECT_EQ(cell(ms, i, "Columns").number(), want[i].columns) << want[i].matrix;
            EXPECT_EQ(cell(ms, i, "Type1").str(), want[i].type1);
            EXPECT_EQ(cell(ms, i, "Type2").str(), want[i].type2);
        }
        EXPECT_EQ(ms["dynamic"]["titletext"].str(), "LINEQS Model Statement");
        // Every variable is used: no selection table.
        EXPECT_TRUE(r.table(0, "VarSelection").is_null());
        // Only poldem has a latent variable on a right-hand side (Fdem60 in
        // the Fdem65 equation); the others' _BETA_ becomes the identity.
        const auto notes = r.messages(0, 352);
        const bool betaIdentity = std::count(notes.begin(), notes.end(), 119) == 1;
        EXPECT_EQ(betaIdentity, c.endoLatent.empty());
    }
}

const char* kTwoFactors = R"(
proc velix data=hs method=none;
   lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3,
          x4 = 1.0 F2 + E4, x5 = l5 F2 + E5, x6 = l6 F2 + E6;
   std F1 F2 = v1 v2, E1-E6 = ve1-ve6;
   cov F1 F2 = c12;
run;
)";

TEST(ModelTables, VariablesTheModelDoesNotUseAreListedAndLeftOut) {
    auto r = run_velix(kTwoFactors, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    expect_clean_log(r);
    const JsonValue& sel = r.table(0, "VarSelection");
    ASSERT_TRUE(sel.is_object()) << r.jsonText;
    ASSERT_EQ(sel["columns"].size(), 3u);
    ASSERT_EQ(sel["rows"].size(), 1u);
    for (size_t k = 0; k < 3; ++k) {
        const std::string name = "x" + std::to_string(7 + k);
        EXPECT_EQ(sel["columns"][k]["name"].str(), name);
        EXPECT_EQ(sel["rows"][0][k].str(), name);
        EXPECT_EQ(sel["columns"][k]["kind"].number(), 6);
        EXPECT_EQ(sel["columns"][k]["width"].number(), 2);
        EXPECT_EQ(sel["columns"][k]["template"].str(), "Variable");
        EXPECT_EQ(sel["columns"][k]["variables"]["Width"].number(), 2);
    }
    bool noted = false;
    for (const auto* note : r.items(0, "note"))
        noted |= (*note)["textMessage"]["number"].number() == 237;
    EXPECT_TRUE(noted) << r.jsonText;

    // Six variables and their 21 moments remain; 4 loadings, 2 factor
    // variances, 6 error variances and 1 covariance are free.
    EXPECT_EQ(model_info(r, 301), 6.0);
    EXPECT_EQ(model_info(r, 303), 21.0);
    EXPECT_EQ(model_info(r, 307), 13.0);

    // The kept variables' statistics are those of the full data.
    auto full = run_velix(method_none("hs_cfa_ml"), {"hs.csv"});
    const JsonValue& some = r.table(0, "SimpleStatistics");
    const JsonValue& all = full.table(0, "SimpleStatistics");
    ASSERT_EQ(some["rows"].size(), 6u);
    ASSERT_EQ(all["rows"].size(), 9u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(cell(some, i, "Variable").str(), cell(all, i, "Variable").str());
        EXPECT_EQ(cell(some, i, "Mean").number(), cell(all, i, "Mean").number()) << i;
        EXPECT_EQ(cell(some, i, "StD").number(), cell(all, i, "StD").number()) << i;
    }
}

// The listing lines of a symbol list: the names after `title` on its line.
std::vector<std::string> listed(const std::string& listing, const std::string& title) {
    const size_t at = listing.find(title);
    if (at == std::string::npos) return {};
    const size_t end = listing.find('\n', at);
    return words(listing.substr(at + title.size(), end - at - title.size()));
}

TEST(DependentParameters, TiedLoadingIsListedAndNotEstimated) {
    std::string tied = method_none("hs_cfa_ml");
    tied.replace(tied.find("run;"), 4, "l3 = 2 * l2;\nrun;");
    std::string listed_program = tied;
    listed_program.replace(listed_program.find("covariance"), 10, "covariance list");

    auto free = run_velix(method_none("hs_cfa_ml"), {"hs.csv"});
    auto r = run_velix(listed_program, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    expect_clean_log(r);
    // One parameter fewer is estimated.
    EXPECT_EQ(model_info(r, 307), model_info(free, 307) - 1.0);
    const auto msgs = r.messages(0, 352);
    EXPECT_NE(std::find(msgs.begin(), msgs.end(), 70), msgs.end());   // statements present
    EXPECT_EQ(std::find(msgs.begin(), msgs.end(), 240), msgs.end());  // and they are used
    EXPECT_EQ(listed(r.listing, "Dependent:"), std::vector<std::string>{"l3"}) << r.listing;
    EXPECT_EQ(listed(r.listing, "Independent:"), std::vector<std::string>{"l2"}) << r.listing;

    // Without LIST, and with LIST under NOPRINT, the lists are not printed;
    // the parameter is dependent all the same.
    auto quiet = run_velix(tied, {"hs.csv"});
    ASSERT_EQ(quiet.exitStatus, 0) << quiet.log;
    EXPECT_EQ(model_info(quiet, 307), model_info(r, 307));
    EXPECT_EQ(quiet.listing.find("Dependent:"), std::string::npos);
    std::string silent = listed_program;
    silent.replace(silent.find("list"), 4, "list noprint");
    auto none = run_velix(silent, {"hs.csv"});
    ASSERT_EQ(none.exitStatus, 0) << none.log;
    EXPECT_EQ(none.listing.find("Dependent:"), std::string::npos) << none.listing;
}

TEST(ModelTables, FirstModelStatementDecidesTheKind) {
    // STD and COV alone make a LINEQS model of the manifest variables.
    auto r = run_velix("proc velix data=hs method=none; std x1-x3 = v1-v3; cov x1-x3 = c1-c3; run;",
                       {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    expect_clean_log(r);
    const JsonValue& ms = r.table(0, "ModelStatement");
    ASSERT_EQ(ms["rows"].size(), 4u) << r.jsonText;
    EXPECT_EQ(ms["dynamic"]["titletext"].str(), "LINEQS Model Statement");
    EXPECT_EQ(row_names(r.table(0, "ExogenousVar"), "Manifest"),
              (std::vector<std::string>{"x1", "x2", "x3"}));
    EXPECT_EQ(model_info(r, 307), 6.0);  // three variances, three covariances

    // A second model statement is reported once and left out.
    auto two = run_velix(
        "proc velix data=hs method=none; lineqs x1 = a F1 + E1, x2 = b F1 + E2;"
        " std F1 E1 E2 = 1 u v; ram 1 1 2 c; run;",
        {"hs.csv"});
    ASSERT_EQ(two.exitStatus, 0) << two.log;
    const auto msgs = two.messages(0, 352);
    EXPECT_EQ(std::count(msgs.begin(), msgs.end(), 267), 1);
    EXPECT_EQ(two.table(0, "ModelStatement")["dynamic"]["titletext"].str(),
              "LINEQS Model Statement");
    EXPECT_EQ(model_info(two, 307), 4.0);
}

TEST(Options, CorrectionsAreReportedWithTheirMessages) {
    std::string p = method_none("hs_cfa_ml");
    p.replace(p.find("covariance"), 10, "covariance start=0 hessalg=8 noint inwgt=hs");
    auto r = run_velix(p, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    expect_clean_log(r);
    const auto msgs = r.messages(0, 352);
    for (int number : {73, 74, 75, 80})
        EXPECT_NE(std::find(msgs.begin(), msgs.end(), number), msgs.end()) << "message " << number;

    // A method with fourth-order moments needs raw data or INWGT=.
    std::string wls = method_none("ability_ml");
    wls.replace(wls.find("method=none"), 11, "method=wls");
    auto bad = run_velix(wls, {"ability.csv"});
    EXPECT_EQ(bad.exitStatus, 2);
    EXPECT_EQ(bad.json["steps"][0]["returnCode"].number(), 2000.0);
    const auto badMsgs = bad.messages(0, 352);
    EXPECT_NE(std::find(badMsgs.begin(), badMsgs.end(), 81), badMsgs.end());
}

TEST(ModelTables, ModelWithoutFreeParameterIsNotedInLogAndListing) {
    const char* fixed =
        "proc velix data=hs method=none; var x1-x3;\n"
        "lineqs x1 = 1.0 F1 + E1, x2 = 0.8 F1 + E2, x3 = 0.6 F1 + E3;\n"
        "std F1 E1-E3 = 1.0 0.5 0.5 0.5;\nrun;\n";
    auto r = run_velix(fixed, {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto msgs = r.messages(0, 352);
    EXPECT_EQ(std::count(msgs.begin(), msgs.end(), 211), 1);
    int notes = 0;
    for (const auto* note : r.items(0, "note")) notes += (*note)["textMessage"]["number"].number() == 211;
    EXPECT_EQ(notes, 1) << r.jsonText;

    // Under NOPRINT the log keeps the note; the listing does not.
    std::string quiet = fixed;
    quiet.replace(quiet.find("method=none"), 11, "method=none noprint");
    auto q = run_velix(quiet, {"hs.csv"});
    ASSERT_EQ(q.exitStatus, 0) << q.log;
    const auto qmsgs = q.messages(0, 352);
    EXPECT_EQ(std::count(qmsgs.begin(), qmsgs.end(), 211), 1);
    for (const auto* note : q.items(0, "note")) EXPECT_NE((*note)["textMessage"]["number"].number(), 211.0);
}

}  // namespace
