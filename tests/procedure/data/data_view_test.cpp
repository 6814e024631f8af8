// The data view is bound whole from the context.
#include <gtest/gtest.h>

#include "procedure/data/data_view.h"
#include "tests/support/view_binding.h"

namespace {

TEST(DataView, EveryMemberPointsIntoTheContextOrItsLinks) {
    velix::test::LinkedContext c;
    EXPECT_TRUE(c.stray_members(data_view(&c.ctx)).empty()) << "a member of the view points outside the context";
}

}  // namespace
