// The step view is bound whole from the context.
#include <gtest/gtest.h>

#include "procedure/driver/step_view.h"
#include "tests/support/view_binding.h"

namespace {

TEST(StepView, EveryMemberPointsIntoTheContextOrItsLinks) {
    velix::test::LinkedContext c;
    EXPECT_TRUE(c.stray_members(step_view(&c.ctx)).empty()) << "a member of the view points outside the context";
}

}  // namespace
