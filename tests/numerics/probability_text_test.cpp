// P-value text under each PROBSIG setting.
#include "numerics/probability_text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/session_fixture.h"
#include "velix/host.h"

// Each test runs in a step whose listing goes to listing_.
class ListingCapture : public velix::test::SessionStep {};

namespace {

std::string format(double p) {
    char out[7] = {};
    zprbfmt(p, out);
    return std::string(out, 6);
}

}  // namespace

TEST_F(ListingCapture, ProbabilityFormatsUnderProbsig) {
    auto& opts = velix::platform::session().options;
    const double missing = host_missing_value();
    opts["PROBSIG"] = "0";
    EXPECT_EQ(format(0.00005), "<.0001");
    EXPECT_EQ(format(-0.1), "0.0   ");
    EXPECT_EQ(format(0.0123), "0.0123");
    EXPECT_EQ(format(missing), " .    ");
    opts["PROBSIG"] = "1";
    EXPECT_EQ(format(0.00005), "5.0E-5");
    EXPECT_EQ(format(-0.1), "0.0   ");
    EXPECT_EQ(format(0.5), "0.5000");
    EXPECT_EQ(format(missing), " .    ");
    opts["PROBSIG"] = "2";
    EXPECT_EQ(format(0.0005), ".00050");
    EXPECT_EQ(format(-0.1), ".0    ");
    EXPECT_EQ(format(missing), ".     ");
    EXPECT_EQ(format(0.25), "0.2500");
}
