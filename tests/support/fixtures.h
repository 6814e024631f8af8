// Where the tests' data sets and programs are: the one folder
// tests/fixtures (CSV data sets, program files and their reference
// numbers), shared by the unit and the whole-program tests.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velix::test {

// The folders a test process makes for its files, removed when the process
// that made them exits (a child it forks leaves them to it), so that a run
// of the suite leaves nothing behind in the build tree.
class ScratchFolders {
public:
    static ScratchFolders& instance() {
        static ScratchFolders folders;
        return folders;
    }
    void add(const std::string& folder) {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& f : folders_)
            if (f == folder) return;
        folders_.push_back(folder);
    }
    ~ScratchFolders() {
        if (::getpid() != owner_) return;
        for (const std::string& f : folders_) {
            std::error_code ignored;
            std::filesystem::remove_all(f, ignored);
        }
    }
    ScratchFolders(const ScratchFolders&) = delete;
    ScratchFolders& operator=(const ScratchFolders&) = delete;

private:
    ScratchFolders() : owner_(::getpid()) {}
    const pid_t owner_;
    std::mutex mutex_;
    std::vector<std::string> folders_;
};

// `folder`, to be removed when the process exits.
inline const std::string& remove_at_exit(const std::string& folder) {
    ScratchFolders::instance().add(folder);
    return folder;
}

// The folder itself, usable as the library folder of a step.
inline std::string fixture_dir() { return std::string(VELIX_SOURCE_DIR) + "/tests/fixtures"; }

// Path of a file in it.
inline std::string fixture_path(const std::string& file) { return fixture_dir() + "/" + file; }

// The large reference model of tests/fixtures/large (120 indicators of 12
// correlated factors, 306 parameters, N = 2000) with its data set named by
// path, so that a step reads it from any folder.  Throws when the program
// cannot be read: a test without its model fails rather than passes.
inline std::string large_reference_program() {
    std::ifstream in(fixture_path("large/large_cfa_ml.vx"));
    std::stringstream program;
    program << in.rdbuf();
    std::string text = program.str();
    const size_t at = text.find("data=large");
    if (at == std::string::npos) throw std::runtime_error("no large reference model in " + fixture_path("large"));
    return text.replace(at, 10, "data='" + fixture_path("large/large.csv") + "'");
}

// The rows of a reference file of tests/fixtures with the columns case, key
// and value (made by an R script beside its test) for one case, by key.
inline std::map<std::string, double> reference_rows(const std::string& file, const std::string& wanted) {
    std::ifstream in(fixture_path(file));
    std::string line;
    std::map<std::string, double> out;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::stringstream s(line);
        std::string c, key, value;
        std::getline(s, c, ',');
        std::getline(s, key, ',');
        std::getline(s, value, ',');
        if (c == wanted) out[key] = std::stod(value);
    }
    return out;
}

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
