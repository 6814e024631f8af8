// Where the benchmarks find the large reference model (120 indicators of
// 12 correlated factors, N = 2000): ../shared/reference/large beside the
// repository, or the folder VELIX_REFERENCE_LARGE names; and reading one
// of its files whole (empty when it is absent).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velix::bench {

inline std::string large_dir() {
    if (const char* env = std::getenv("VELIX_REFERENCE_LARGE")) return env;
    return std::string(VELIX_SOURCE_DIR) + "/../shared/reference/large";
}

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace velix::bench
