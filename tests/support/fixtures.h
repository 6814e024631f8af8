// Where the tests' data sets and programs are: the one folder
// tests/fixtures (CSV data sets, program files and their reference
// numbers), shared by the unit and the whole-program tests.
#pragma once

#include <string>

namespace velix::test {

// The folder itself, usable as the library folder of a step.
inline std::string fixture_dir() { return std::string(VELIX_SOURCE_DIR) + "/tests/fixtures"; }

// Path of a file in it.
inline std::string fixture_path(const std::string& file) { return fixture_dir() + "/" + file; }

}  // namespace velix::test
