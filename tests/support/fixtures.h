// Where the tests' data sets and programs are: the one folder
// tests/fixtures (CSV data sets, program files and their reference
// numbers), shared by the unit and the whole-program tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace velix::test {

// The folder itself, usable as the library folder of a step.
inline std::string fixture_dir() { return std::string(VELIX_SOURCE_DIR) + "/tests/fixtures"; }

// Path of a file in it.
inline std::string fixture_path(const std::string& file) { return fixture_dir() + "/" + file; }

// Writes the CSV data set `from` to `to` with column `column` (0-based)
// measured in other units, times `factor` (to full precision), and
// returns `to`.
inline std::string scaled_copy(const std::string& from, const std::string& to, size_t column, double factor) {
    std::ifstream in(from);
    std::ofstream out(to);
    out.precision(17);
    std::string line;
    std::getline(in, line);
    out << line << "\n";
    while (std::getline(in, line)) {
        std::istringstream cells(line);
        std::string c;
        for (size_t j = 0; std::getline(cells, c, ','); ++j) {
            out << (j > 0 ? "," : "");
            if (j == column)
                out << std::stod(c) * factor;
            else
                out << c;
        }
        out << "\n";
    }
    return to;
}

}  // namespace velix::test
