// The results view is bound whole from the context.
#include <gtest/gtest.h>

#include "procedure/results/results_view.h"
#include "tests/support/view_binding.h"

namespace {

TEST(ResultsView, EveryMemberPointsIntoTheContextOrItsLinks) {
    velix::test::LinkedContext c;
    EXPECT_TRUE(c.stray_members(results_view(&c.ctx)).empty()) << "a member of the view points outside the context";
}

}  // namespace
