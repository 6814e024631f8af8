// Whole programs on the nine-variable model of hs_cfa_ml (maximum
// likelihood on the covariances of tests/fixtures/hs.csv), run in a folder
// of their own that holds the data set and whatever the run writes.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/e2e/harness.h"

namespace velix::test {

inline const char* const kHsModel =
    "lineqs x1 = 1.0 Fvis + E1, x2 = l2 Fvis + E2, x3 = l3 Fvis + E3,\n"
    "       x4 = 1.0 Ftxt + E4, x5 = l5 Ftxt + E5, x6 = l6 Ftxt + E6,\n"
    "       x7 = 1.0 Fspd + E7, x8 = l8 Fspd + E8, x9 = l9 Fspd + E9;\n"
    "std Fvis Ftxt Fspd = vvis vtxt vspd, E1-E9 = ve1-ve9;\n"
    "cov Fvis Ftxt = cvt, Fvis Fspd = cvs, Ftxt Fspd = cts;\n";

class HsProgram : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = own_folder("hs");
        std::ifstream hs(data_path("hs.csv"));
        std::ofstream(dir_ + "/hs.csv") << hs.rdbuf();
    }
    // Runs the model with these PROC options and further statements.
    RunResult run(const std::string& options, const std::string& statements) {
        const std::string program =
            "proc velix data=hs method=ml covariance " + options + ";\n" + kHsModel + statements + "run;\n";
        return run_velix(program, {}, {"--lib", dir_});
    }
    std::string dir_;
};

}  // namespace velix::test
