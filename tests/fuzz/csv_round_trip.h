// The property the CSV data-set form must keep: whatever the reader
// accepts, the writer writes so that the reader reads back the same
// variables and values, and writing that again gives the same text.
// Shared by the fuzz target and the replay of its regression corpus.
#pragma once

#include <cstring>
#include <string>

#include "platform/dataset.h"

namespace velix::test {

// Empty when the property holds for `text` (or the reader refuses it);
// otherwise what broke.
inline std::string csv_round_trip_fault(const std::string& text) {
    HostDataSet first, second;
    std::string error;
    if (!velix::platform::csv_read(text, &first, &error)) return "";
    const std::string written = velix::platform::csv_write(&first);
    if (!velix::platform::csv_read(written, &second, &error)) return "the written text is refused: " + error;
    if (velix::platform::csv_write(&second) != written) return "a second write differs";
    if (first.variables.size() != second.variables.size() || first.nObs != second.nObs)
        return "the shape differs";
    for (size_t k = 0; k < first.variables.size(); ++k) {
        const auto& a = first.variables[k];
        const auto& b = second.variables[k];
        if (a.name != b.name || a.character != b.character || a.texts != b.texts)
            return "variable " + a.name + " differs";
        for (int64_t i = 0; i < first.nObs && !a.character; ++i)
            if (std::memcmp(&a.numbers[i], &b.numbers[i], sizeof(double)) != 0)
                return "value " + std::to_string(i + 1) + " of " + a.name + " differs";
    }
    return "";
}

}  // namespace velix::test
