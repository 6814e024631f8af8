// The determinant table as the platform's output manager renders it: the
// cells of ordinary, overflowing and missing determinants, the layout, and
// a failing output call.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <sstream>
#include <string>

#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "platform/messages.h"
#include "platform/output.h"
#include "platform/session.h"
#include "procedure/data/data.h"
#include "tests/support/json_reader.h"
#include "tests/support/session_fixture.h"
#include "velix/host.h"
#include "velix/proc_context.h"

using velix::test::JsonValue;

namespace {

// The determinant table through the platform's output manager; the
// listing shows its cells.
class Cosdet : public HostStep {
protected:
    void SetUp() override {
        HostStep::SetUp();
        auto& s = velix::platform::session();
        savedListing_ = s.listing;
        s.listing = &listing_;
        velix::platform::output_clear();
        velix::platform::output_begin_step(1);
        HostObject* anchor = nullptr;
        ASSERT_EQ(xobinit(&anchor, 0), 0);
        KyrArg a[] = {kyr_counted(143, "kyr", 3), kyr_counted(146, "manager", 7), kyr_object(144, nullptr),
                      kyr_int(383, 352)};
        ASSERT_EQ(wobmth(anchor, nullptr, 147, 4, a), 0);
        ctx_.output.kyrManager = a[2].object;
    }
    void TearDown() override {
        velix::platform::output_clear();
        velix::platform::session().listing = savedListing_;
        HostStep::TearDown();
    }
    std::string run(double logDet) {
        listing_.str("");
        cosdet(&ctx_, kyrtxt("PredModelDet", -1), 728, logDet, 606, kyrtxt("Tesk.Velix.PredModelDet", -1));
        return listing_.str();
    }
    // The table that the last run delivered, as the JSON document holds it.
    JsonValue last_table() const {
        const JsonValue doc = JsonValue::parse(velix::platform::output_json());
        const JsonValue& out = doc["steps"][0]["output"];
        return out[out.size() - 1];
    }
    ProcContext ctx_;
    std::ostringstream listing_;
    std::ostream* savedListing_ = nullptr;
};

TEST_F(Cosdet, CellsForOrdinaryOverflowingAndMissingDeterminants) {
    std::string out = run(0.0);
    EXPECT_NE(out.find("Determinant of the Matrix"), std::string::npos) << out;
    EXPECT_NE(out.find("CharDet"), std::string::npos) << out;
    EXPECT_NE(out.find("LogDet"), std::string::npos) << out;
    EXPECT_EQ(log_.str().find("ERROR"), std::string::npos) << log_.str();
    out = run(std::log(1234.5));
    EXPECT_NE(out.find("1234.5"), std::string::npos) << out;
    out = run(710.0);
    EXPECT_NE(out.find("1.0E308"), std::string::npos) << out;
    // A power of ten too long for the field, or an infinite one, reads
    // "Infinity" instead of a cut exponent.
    for (double big : {1e9, static_cast<double>(INFINITY)}) {
        out = run(big);
        EXPECT_NE(out.find("  Infinity  "), std::string::npos) << out;
    }
    // Fixed notation: a determinant below the last decimal of the field
    // reads as zeros.
    out = run(std::log(1e-200));
    EXPECT_NE(out.find("0.0000000000"), std::string::npos) << out;
    // Missing of kind 'M': Determinant 0, CharDet "0", LogDet missing.
    out = run(host_special_missing(2 + ('M' - 'A')));
    EXPECT_NE(out.find("0  0 "), std::string::npos) << out;
    EXPECT_EQ(out.find(" nan"), std::string::npos) << out;
    EXPECT_EQ(log_.str().find("ERROR"), std::string::npos) << log_.str();
}

TEST_F(Cosdet, TableLayoutAndCellValues) {
    run(0.0);
    JsonValue t = last_table();
    EXPECT_EQ(t["type"].str(), "table");
    EXPECT_EQ(t["name"].str(), "PredModelDet");
    EXPECT_EQ(t["path"].str(), "Tesk.Velix.PredModelDet");
    EXPECT_EQ(t["titleMessage"]["group"].number(), 352);
    EXPECT_EQ(t["titleMessage"]["number"].number(), 728);
    const char* names[5] = {"Label1", "Determinant", "CharDet", "Label2", "LogDet"};
    const int kinds[5] = {66, 5, 20, 66, 5};
    ASSERT_EQ(t["columns"].size(), 5u);
    for (size_t j = 0; j < 5; ++j) {
        EXPECT_EQ(t["columns"][j]["name"].str(), names[j]);
        EXPECT_EQ(t["columns"][j]["kind"].number(), kinds[j]) << names[j];
    }
    ASSERT_EQ(t["rows"].size(), 1u);
    const auto row = [&t](int j) -> const JsonValue& { return t["rows"][0][j]; };
    EXPECT_EQ(row(0).str(), velix::platform::message_text(352, 606));
    EXPECT_EQ(row(1).number(), 1.0);
    EXPECT_EQ(std::stod(row(2).str()), 1.0);
    EXPECT_EQ(row(3).str(), velix::platform::message_text(352, 601));
    EXPECT_EQ(row(4).number(), 0.0);
    EXPECT_LE(t["columns"][2]["width"].number(), 12);

    // An ordinary determinant stands in fixed notation in at most 12
    // characters, with as many decimals as fit, to half a unit of its last
    // decimal: "1234.5000000", "0.0497870684", "0.0000000000" (1e-300),
    // "98765432109".
    for (double d : {std::log(1234.5), -3.0, std::log(1e-300), -700.0, std::log(98765432109.0)}) {
        run(d);
        t = last_table();
        const std::string text = row(2).str();
        EXPECT_EQ(row(1).number(), std::exp(d)) << d;
        EXPECT_EQ(row(4).number(), d);
        EXPECT_EQ(t["columns"][2]["width"].number(), static_cast<double>(text.size())) << d;
        ASSERT_LE(text.size(), 12u) << text;
        EXPECT_EQ(text.find_first_not_of("0123456789."), std::string::npos) << text;
        const size_t dot = text.find('.');
        const double unit = dot == std::string::npos ? 1.0 : std::pow(10.0, -static_cast<double>(text.size() - dot - 1));
        EXPECT_LE(std::fabs(std::stod(text) - std::exp(d)), 0.5 * unit * (1 + 1e-12)) << text;
    }
    // Thirteen or more integer digits have no fixed form in the field:
    // six significant digits in E notation, not cut digits.
    run(700.0);
    t = last_table();
    EXPECT_LE(row(2).str().size(), 12u) << row(2).str();
    EXPECT_NEAR(std::stod(row(2).str()) / std::exp(700.0), 1.0, 1e-5) << row(2).str();

    // Beyond the double range: the decimal exponent, a very large Determinant.
    run(710.0);
    t = last_table();
    EXPECT_EQ(row(2).str().rfind("1.0E308", 0), 0u) << row(2).str();
    EXPECT_EQ(row(1).number(), DBL_MAX);
    EXPECT_EQ(row(4).number(), 710.0);

    // Missing of kind 'M': "0" in a field of one character, Determinant 0.
    run(host_special_missing(2 + ('M' - 'A')));
    t = last_table();
    EXPECT_EQ(row(2).str(), "0");
    EXPECT_EQ(t["columns"][2]["width"].number(), 1);
    EXPECT_EQ(row(1).number(), 0.0);
    EXPECT_TRUE(row(4).is_null()) << "LogDet shows the missing value";
    EXPECT_EQ(log_.str().find("ERROR"), std::string::npos) << log_.str();
}

TEST_F(Cosdet, FailedCallStopsTheTableAndIsReported) {
    const auto tables = [] {
        const JsonValue doc = JsonValue::parse(velix::platform::output_json());
        return doc["steps"][0]["output"].size();
    };
    const size_t before = tables();
    // The third column definition (CharDet) fails.
    velix::platform::inject_method_failure(kKyrMethodColumn, 3, -7);
    run(1.0);
    velix::platform::clear_injected_failures();
    EXPECT_EQ(tables(), before) << "nothing is delivered";
    EXPECT_NE(log_.str().find("-7"), std::string::npos) << log_.str();
    // The next table goes through as usual.
    run(1.0);
    EXPECT_EQ(tables(), before + 1);
}

}  // namespace
