// The centring column under the host's centring flag and line size.
#include "numerics/centring.h"

#include <gtest/gtest.h>

#include "tests/support/session_fixture.h"
#include "velix/host.h"

// Each test runs in a step whose listing goes to listing_.
class ListingCapture : public velix::test::SessionStep {};

TEST_F(ListingCapture, CentringColumnFollowsTheFlag) {
    velix::platform::session().options["LINESIZE"] = "100";
    PrintLineDescription* d = xpoutl(nullptr, nullptr);
    d->centre = 0;
    EXPECT_EQ(zcenter(20), 1);
    d->centre = 1;
    EXPECT_EQ(zcenter(20), 41);
    EXPECT_EQ(zcenter(101), 1);
    d->centre = 0;
}
