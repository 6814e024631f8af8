// The properties the CSV data-set form must keep: whatever the reader
// accepts, the writer writes so that the reader reads back the same
// variables and values, and writing that again gives the same text; and a
// scan that holds no values finds the same variables, whose records read
// again one at a time, twice over, are the values the reader holds.
// Shared by the fuzz target and the replay of its regression corpus.
#pragma once

#include <cstring>
#include <limits>
#include <string>

#include "platform/dataset.h"

namespace velix::test {

// Empty when the records of `streamed` (scanned without holding values)
// read again are the values `held` holds; otherwise what differs.
inline std::string csv_reread_fault(const HostDataSet& held, HostDataSet* streamed) {
    if (streamed->variables.size() != held.variables.size() || streamed->nObs != held.nObs ||
        streamed->firstOffset != held.firstOffset)
        return "the scan that holds nothing finds another shape";
    if (held.nObs > 0 && !streamed->rows) return "the scan that holds nothing keeps no reader";
    using Read = velix::platform::CsvRows::Read;
    for (int pass = 0; pass < 2 && held.nObs > 0; ++pass) {
        int64_t offset = streamed->firstOffset;
        for (int64_t i = 0; i < held.nObs; ++i) {
            if (streamed->rows->read(offset, &offset) != Read::kRecord)
                return "record " + std::to_string(i + 1) + " is not read again";
            for (size_t k = 0; k < held.variables.size(); ++k) {
                const auto& v = held.variables[k];
                if (v.character != streamed->variables[k].character || v.length != streamed->variables[k].length)
                    return "variable " + v.name + " has another type or length";
                if (v.character ? v.texts[i] != streamed->rows->texts[k]
                                : std::memcmp(&v.numbers[i], &streamed->rows->numbers[k], sizeof(double)) != 0)
                    return "value " + std::to_string(i + 1) + " of " + v.name + " differs when read again";
            }
        }
        if (streamed->rows->read(offset, &offset) != Read::kEnd) return "a record after the last";
    }
    return "";
}

// Empty when the property holds for `text` (or the reader refuses it);
// otherwise what broke.
inline std::string csv_round_trip_fault(const std::string& text) {
    HostDataSet first, second;
    std::string error;
    if (!velix::platform::csv_read(text, &first, &error)) return "";
    HostDataSet streamed;
    if (!velix::platform::csv_scan(velix::platform::text_lines(text), 0, nullptr, &streamed, &error))
        return "refused by a scan that holds nothing: " + error;
    const std::string reread = csv_reread_fault(first, &streamed);
    if (!reread.empty()) return reread;
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
