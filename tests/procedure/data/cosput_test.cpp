// The two-column table writer: what the output manager receives, in order,
// and how a failing call abandons the table.
#include <gtest/gtest.h>

#include "host/host_support.h"
#include "procedure/procedure.h"
#include "tests/support/session_fixture.h"

namespace {

class Cosput : public PlatformStep {
protected:
    void SetUp() override {
        PlatformStep::SetUp();
        ASSERT_EQ(xobinit(&ctx_.output.kyrAnchor, 0), 0);
        KyrArg args[] = {kyr_counted(143, "kyr", 3), kyr_counted(146, "manager", 7),
                         kyr_object(144, nullptr), kyr_int(383, 352)};
        ASSERT_GE(wobmth(ctx_.output.kyrAnchor, nullptr, 147, 4, args), 0);
        ctx_.output.kyrManager = args[2].object;
    }
    void put(int32_t n, const double* values, const int32_t* labels) {
        cosput(&ctx_, kyrtxt("SumSqDif", -1), 744, kyrtxt("SumSqDif", -1), n, values, labels,
               kyrtxt("Tesk.Velix.SumSqDif", -1));
    }
    // The tables delivered in this step.
    std::vector<velix::test::JsonValue> tables() const {
        std::vector<velix::test::JsonValue> out;
        auto doc = document();
        const auto& items = doc["steps"][0]["output"];
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]["type"].str() == "table") out.push_back(items[i]);
        return out;
    }
    ProcContext ctx_;
};

TEST_F(Cosput, RowsFollowTheCallersArraysWithLabelsFromTheirMessages) {
    const double values[] = {3.5, -1.25, 1e-9};
    const int32_t labels[] = {539, 720, 539};
    put(3, values, labels);
    auto t = tables();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0]["name"].str(), "SumSqDif");
    EXPECT_EQ(t[0]["path"].str(), "Tesk.Velix.SumSqDif");
    ASSERT_EQ(t[0]["columns"].size(), 2u);
    EXPECT_EQ(t[0]["columns"][0]["name"].str(), "Label");
    EXPECT_EQ(t[0]["columns"][0]["kind"].number(), 66.0);
    EXPECT_EQ(t[0]["columns"][1]["name"].str(), "SumSqDif");
    EXPECT_EQ(t[0]["columns"][1]["kind"].number(), 5.0);
    const auto& rows = t[0]["rows"];
    ASSERT_EQ(rows.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(rows[i][1].number(), values[i]) << "row " << i;
    const char* title;
    int32_t len = 0;
    title = kyrtext_chars(kyrmsg(352, 539), &len);
    EXPECT_EQ(rows[0][0].str(), std::string(title, len));
    EXPECT_EQ(rows[2][0].str(), rows[0][0].str());
    EXPECT_NE(rows[1][0].str(), rows[0][0].str());
    EXPECT_NE(ctx_.output.kyrTable, nullptr);
}

TEST_F(Cosput, NoRowsStillDeliversTheTwoColumns) {
    put(0, nullptr, nullptr);
    auto t = tables();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0]["columns"].size(), 2u);
    EXPECT_EQ(t[0]["rows"].size(), 0u);
    put(-3, nullptr, nullptr);
    EXPECT_EQ(tables().size(), 2u);
}

TEST_F(Cosput, FailureWhileCreatingLeavesTheOutputHandleAndDeliversNothing) {
    const double values[] = {1.0};
    const int32_t labels[] = {539};
    put(1, values, labels);
    HostObject* before = ctx_.output.kyrTable;
    ASSERT_NE(before, nullptr);
    velix::platform::inject_method_failure(147, 1, -7);
    put(1, values, labels);
    EXPECT_EQ(ctx_.output.kyrTable, before);
    EXPECT_EQ(tables().size(), 1u);
}

TEST_F(Cosput, FailureOnARowAbandonsTheRestOfTheTable) {
    const double values[] = {1.0, 2.0, 3.0};
    const int32_t labels[] = {539, 539, 539};
    velix::platform::inject_method_failure(329, 2, -9);
    put(3, values, labels);
    // The table was bound before the rows, then abandoned: never delivered.
    EXPECT_EQ(tables().size(), 0u);
    EXPECT_NE(ctx_.output.kyrTable, nullptr);
}

}  // namespace
