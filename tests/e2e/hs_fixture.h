// Whole programs on the nine-variable model of hs_cfa_ml (maximum
// likelihood on the covariances of tests/fixtures/hs.csv), run in a folder
// of their own that holds the data set and whatever the run writes.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "tests/e2e/harness.h"

namespace velix::test {

inline const char* const kHsModel =
    "lineqs x1 = 1.0 Fvis + E1, x2 = l2 Fvis + E2, x3 = l3 Fvis + E3,\n"
    "       x4 = 1.0 Ftxt + E4, x5 = l5 Ftxt + E5, x6 = l6 Ftxt + E6,\n"
    "       x7 = 1.0 Fspd + E7, x8 = l8 Fspd + E8, x9 = l9 Fspd + E9;\n"
    "std Fvis Ftxt Fspd = vvis vtxt vspd, E1-E9 = ve1-ve9;\n"
    "cov Fvis Ftxt = cvt, Fvis Fspd = cvs, Ftxt Fspd = cts;\n";

// The same model with "$name" for each parameter, in the order the model
// declares them (with_starts gives each its start value).
inline const char* const kHsStartModel =
    " lineqs x1 = 1.0 Fvis + E1, x2 = $l2 Fvis + E2, x3 = $l3 Fvis + E3, x4 = 1.0 Ftxt + E4,\n"
    "  x5 = $l5 Ftxt + E5, x6 = $l6 Ftxt + E6, x7 = 1.0 Fspd + E7, x8 = $l8 Fspd + E8, x9 = $l9 Fspd + E9;\n"
    " std Fvis = $vvis, Ftxt = $vtxt, Fspd = $vspd, E1 = $ve1, E2 = $ve2, E3 = $ve3, E4 = $ve4,\n"
    "  E5 = $ve5, E6 = $ve6, E7 = $ve7, E8 = $ve8, E9 = $ve9;\n"
    " cov Fvis Ftxt = $cvt, Fvis Fspd = $cvs, Ftxt Fspd = $cts;\n";

// `text` with every "$name" replaced by "name (v)", v = start(name) to
// full precision.
inline std::string with_starts(std::string text, const std::function<double(const std::string&)>& start) {
    for (size_t at; (at = text.find('$')) != std::string::npos;) {
        size_t end = at + 1;
        while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
        const std::string name = text.substr(at + 1, end - at - 1);
        std::ostringstream v;
        v.precision(17);
        v << name << " (" << start(name) << ")";
        text.replace(at, end - at, v.str());
    }
    return text;
}

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
