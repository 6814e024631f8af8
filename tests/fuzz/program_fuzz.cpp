// libFuzzer target: a program file as the `velix` command reads it, run
// step by step in this process on the example data sets.  Any crash,
// sanitizer report, hang or step that ends with an internal error is a
// finding; a bad program must end with a message and a return code.  (The
// log is not searched for "internal error": it echoes the program.)
//
// The data sets are copies in a scratch folder, which is also the working
// folder, so that the output data sets a mutated program names land there.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/output.h"
#include "platform/runner/runner.h"
#include "platform/session.h"
#include "velix/codes.h"

namespace fs = std::filesystem;

namespace {

std::ostringstream sink;  // the log and the listing of every run

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path dir = fs::temp_directory_path() / ("velix-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* folder : {"/examples", "/tests/fixtures"})
        for (const auto& e : fs::directory_iterator(std::string(VELIX_SOURCE_DIR) + folder))
            if (e.path().extension() == ".csv")
                fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing);
    fs::current_path(dir);
    velix::platform::Session& s = velix::platform::session();
    s.libraryDir = dir.string();
    s.fixedTime = 0.0;
    s.log = &sink;
    s.listing = &sink;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string program(reinterpret_cast<const char*>(data), size);
    std::vector<int> codes;
    velix::platform::run_program_text(program, &codes);
    const bool internal = std::find(codes.begin(), codes.end(), kLevelInternal) != codes.end();
    sink.str("");
    sink.clear();
    velix::platform::output_clear();
    if (internal) std::abort();  // an internal error is our bug, never the user's input
    return 0;
}
