// The model dispatcher around the readers and the memory it needs: the
// input-model echo goes to the printer of the model's form, a model table
// the pool cannot give ends the step at whichever array fails, and a step
// whose moments cannot fit in memory ends before its first pool.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory.h"
#include "procedure/driver/model.h"
#include "tests/support/model_step.h"

namespace {

using velix::testing::ModelStep;

const std::string kProc = "proc velix data=hs method=none;\n";
const std::string kLineqs = "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
                            "std F1 = 1.0, E1-E3 = ve1-ve3;\n";

// Which printer ran, with its mode.
std::vector<std::string> gEchoed;

TEST(ModelTable, TheInputModelIsEchoedInItsOwnForm) {
    InputModelEcho& echo = input_model_echo();
    const InputModelEcho saved = echo;
    echo.matrixForm = [](ProcContext*, int32_t mode) { gEchoed.push_back("matrix " + std::to_string(mode)); };
    echo.ramList = [](ProcContext*, int32_t mode) { gEchoed.push_back("ram " + std::to_string(mode)); };
    echo.equations = [](ProcContext*, int32_t mode) { gEchoed.push_back("equations " + std::to_string(mode)); };
    gEchoed.clear();
    ModelStep eq(kProc + "var x1-x3;\n" + kLineqs);
    ModelStep ram(kProc + "var x1-x3;\nram 1 1 4 1.0, 1 2 4 l2, 1 3 4 l3, 2 4 4 1.0, 2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3;\n");
    ModelStep quiet("proc velix data=hs method=none noprint;\nvar x1-x3;\n" + kLineqs);
    echo = saved;
    ASSERT_EQ(eq.exitCode, -1) << eq.log.str();
    ASSERT_EQ(ram.exitCode, -1) << ram.log.str();
    EXPECT_EQ(gEchoed, (std::vector<std::string>{"equations 0", "ram 0"}));
}

TEST(ModelTable, AnAllocationThatFailsEndsTheStep) {
    // Each allocation of the step in turn is refused, the arrays of the
    // model table among them: the step ends with the memory level (or the
    // refusal comes too late to matter), never reading a missing array.
    for (int n = 1; n <= 40; ++n) {
        velix::platform::fail_nth_allocation(n);
        ModelStep s(kProc + "var x1-x3;\n" + kLineqs);
        velix::platform::fail_nth_allocation(0);
        EXPECT_TRUE(s.exitCode == -1 || s.exitCode == kLevelNoMemory) << n << ": " << s.exitCode;
    }
}

TEST(ModelTable, AStepWhoseMomentsCannotFitEndsBeforeItsPool) {
    // Nine variables need 8 (6 * 81 + 4 * 45) + 20000 bytes.
    velix::platform::set_allocation_limit(20000);
    ModelStep s(kProc + "var x1-x9;\n" + kLineqs);
    velix::platform::set_allocation_limit(0);
    EXPECT_EQ(s.exitCode, kLevelNoMemory);
    EXPECT_EQ(s.count(94), 1) << s.log.str();
}

}  // namespace
