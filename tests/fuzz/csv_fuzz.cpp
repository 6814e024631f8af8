// libFuzzer target: the CSV data-set reader, and the writer on whatever
// the reader accepts (the round trip of csv_round_trip.h).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "csv_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string fault =
        velix::test::csv_round_trip_fault(std::string(reinterpret_cast<const char*>(data), size));
    if (!fault.empty()) {
        std::fprintf(stderr, "CSV round trip: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
