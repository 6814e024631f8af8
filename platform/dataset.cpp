// Data sets of a step and their BY groups.  A data set is read whole into
// memory when it is opened; a BY group is a run of observations with equal
// values of the BY variables.  The module walks DATA= group by group
// (xbynext) and keeps each other input data set on the group with the same
// BY values (xbysync), so those are matched by value, not by position.
// Output data sets collect their rows in memory.  When the step ends they
// are written as CSV files, each to a scratch file in its own folder that
// is renamed into place (an atomic replacement) only when every one of them
// was written and the step did not fail: a failing step, or one whose disk
// fills, leaves every existing file as it was, and so does a stop the user
// asks for before the renames.
#include "platform/dataset.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/output_document.h"
#include "platform/output_file.h"
#include "platform/print.h"
#include "platform/session.h"
#include "platform/stop_signals.h"
#include "velix/codes.h"

namespace velix::platform {
namespace {

struct StepDataSets {
    std::vector<std::unique_ptr<HostDataSet>> open;  // every data set of the step
    std::vector<std::string> byNames;                // BY variables of DATA=, when set
};

StepDataSets& step_sets() {
    static StepDataSets s;
    return s;
}

const StepHooks kHooks("datasets", nullptr, [] { dataset_end_step(); });

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

int find_variable(const HostDataSet* data, const std::string& name) {
    const std::string un = upper(name);
    for (size_t k = 0; k < data->variables.size(); ++k)
        if (upper(data->variables[k].name) == un) return static_cast<int>(k);
    return -1;
}

// Equality of two values of the same variable kind.
bool same_value(const DataSetVariable& a, int64_t ia, const DataSetVariable& b, int64_t ib) {
    if (a.character != b.character) return false;
    if (a.character) return a.texts[ia] == b.texts[ib];
    double x = a.numbers[ia], y = b.numbers[ib];
    if (host_is_missing(x) || host_is_missing(y)) return missing_code(x) == missing_code(y);
    return x == y;
}

// Sort rank of a numeric value: "._" < "." < ".A" .. ".Z" < every number.
int missing_rank(double v) {
    int code = missing_code(v);
    if (code < 0) return 100;
    return code == 1 ? 0 : code == 0 ? 1 : code;
}

// -1, 0, 1 as observation i sorts before, with or after observation j by
// the BY variables.
int compare_by(const HostDataSet* data, int64_t i, int64_t j) {
    for (int k : data->byVariables) {
        const DataSetVariable& v = data->variables[k];
        if (v.character) {
            int c = v.texts[i].compare(v.texts[j]);
            if (c) return c < 0 ? -1 : 1;
            continue;
        }
        double x = v.numbers[i], y = v.numbers[j];
        int rx = missing_rank(x), ry = missing_rank(y);
        if (rx != ry) return rx < ry ? -1 : 1;
        if (rx == 100 && x != y) return x < y ? -1 : 1;
    }
    return 0;
}

std::string by_values(const HostDataSet* data, int64_t obs) {
    std::string s;
    for (int k : data->byVariables) {
        const DataSetVariable& v = data->variables[k];
        if (!s.empty()) s += " ";
        s += v.name + "=";
        if (v.character) {
            s += v.texts[obs];
        } else {
            std::ostringstream o;
            o.precision(15);
            if (host_is_missing(v.numbers[obs])) {
                int c = missing_code(v.numbers[obs]);
                o << (c == 1 ? "._" : c >= 2 ? std::string(".") + static_cast<char>('A' + c - 2) : ".");
            } else {
                o << v.numbers[obs];
            }
            s += o.str();
        }
    }
    return s;
}

// Groups `data` by the named variables when it carries all of them.
void apply_by(HostDataSet* data, const std::vector<std::string>& names, bool notSorted) {
    std::vector<int> idx;
    for (const std::string& n : names) {
        int k = find_variable(data, n);
        if (k < 0) return;
        idx.push_back(k);
    }
    data->byVariables = idx;
    data->notSorted = notSorted;
    dataset_group(data);
}

// Writes `data` to `path`; false with *error when the file cannot be
// written whole (a folder in its place, a full disk, a name too long).
bool write_file(const HostDataSet* data, const std::string& path, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        *error = "Output data set " + data->name + " cannot be written to " + data->path + ".";
        return false;
    }
    out << csv_write(data);
    out.close();
    if (!out) {
        *error = "Writing output data set " + data->name + " to " + data->path + " failed.";
        return false;
    }
    return true;
}

HostDataSet* adopt(std::unique_ptr<HostDataSet> data) {
    HostDataSet* raw = data.get();
    step_sets().open.push_back(std::move(data));
    return raw;
}

}  // namespace

std::string dataset_path(const std::string& name, bool quoted) {
    if (quoted) return name;
    return (std::filesystem::path(session().libraryDir) / (name + ".csv")).string();
}

HostDataSet* dataset_open_input(const std::string& name, bool quoted,
                                const DataSetOptions& options, std::string* error) {
    auto data = std::make_unique<HostDataSet>();
    data->name = name;
    data->path = dataset_path(name, quoted);
    std::FILE* file = std::fopen(data->path.c_str(), "rb");
    if (file == nullptr) {
        *error = "Data set " + name + " does not exist (no file " + data->path + ").";
        return nullptr;
    }
    std::string why;
    const bool read = csv_read_file(file, data.get(), &why);
    std::fclose(file);
    if (!read) {
        *error = "Data set " + name + " (" + data->path + ") cannot be read: " + why + ".";
        return nullptr;
    }
    if (!options.type.empty()) data->type = upper(options.type);
    dataset_group(data.get());
    if (!step_sets().byNames.empty()) apply_by(data.get(), step_sets().byNames, true);
    return adopt(std::move(data));
}

HostDataSet* dataset_create_output(const std::string& name, bool quoted,
                                   const DataSetOptions& options, std::string* error) {
    auto data = std::make_unique<HostDataSet>();
    data->name = name;
    data->path = dataset_path(name, quoted);
    data->output = true;
    std::filesystem::path dir = std::filesystem::path(data->path).parent_path();
    std::error_code ec;
    if (!dir.empty() && !std::filesystem::is_directory(dir, ec)) {
        *error = "Output data set " + name + " cannot be created: folder " + dir.string() +
                 " does not exist.";
        return nullptr;
    }
    // Two outputs of one step in one file would overwrite each other.
    for (const auto& other : step_sets().open) {
        if (!other->output) continue;
        if (std::filesystem::weakly_canonical(other->path, ec) ==
            std::filesystem::weakly_canonical(data->path, ec)) {
            *error = "Output data sets " + other->name + " and " + name + " name the same file " +
                     data->path + ".";
            return nullptr;
        }
    }
    data->type = upper(options.type);
    data->typeGiven = !options.type.empty();
    dataset_group(data.get());
    return adopt(std::move(data));
}

bool dataset_set_by(HostDataSet* data, const std::vector<std::string>& names, bool notSorted,
                    std::string* error) {
    if (!data) {
        *error = "BY variables without a data set.";
        return false;
    }
    std::vector<int> idx;
    for (const std::string& n : names) {
        int k = find_variable(data, n);
        if (k < 0) {
            *error = "BY variable " + n + " is not in data set " + data->name + ".";
            return false;
        }
        if (std::find(idx.begin(), idx.end(), k) != idx.end()) {
            *error = "BY variable " + n + " is named twice.";
            return false;
        }
        idx.push_back(k);
    }
    data->byVariables = idx;
    data->notSorted = notSorted;
    data->byLines = true;
    dataset_group(data);
    step_sets().byNames = names;
    for (const auto& other : step_sets().open)
        if (other.get() != data && !other->output) apply_by(other.get(), names, true);
    return true;
}

void dataset_group(HostDataSet* data) {
    data->groupStart.clear();
    for (int64_t i = 0; i < data->nObs; ++i) {
        bool starts = i == 0;
        for (size_t k = 0; !starts && k < data->byVariables.size(); ++k) {
            const DataSetVariable& v = data->variables[data->byVariables[k]];
            starts = !same_value(v, i, v, i - 1);
        }
        if (starts) data->groupStart.push_back(i);
    }
    data->groupStart.push_back(data->nObs);
    data->group = -1;
    data->noGroup = false;
    data->nextObs = 0;
    data->currentObs = -1;
}

bool dataset_close(HostDataSet* data, std::string* error) {
    auto& open = step_sets().open;
    auto it = std::find_if(open.begin(), open.end(), [&](const auto& d) { return d.get() == data; });
    if (it == open.end()) {
        *error = "internal error: closing a data set that is not open.";
        return false;
    }
    // An output waits for the step's end, when its fate is known.
    if (!(*it)->output) open.erase(it);
    return true;
}

bool dataset_commit_outputs(int returnCode) {
    std::vector<std::pair<HostDataSet*, std::string>> ready;  // data set, its scratch file
    for (const auto& d : step_sets().open) {
        if (!d->output || !d->defined || d->written) continue;
        d->written = true;
        if (returnCode < 0 || returnCode > kLevelStepEnds)  // negative: a host status ended the step
            write_log("NOTE: Output data set " + d->name + " was not written: the step ended with return code " +
                      std::to_string(returnCode) + ".");
        else if (d->nObs == 0)
            write_log("NOTE: Output data set " + d->name + " has no observations and was not written.");
        else
            ready.emplace_back(d.get(), scratch_path_beside(d->path, std::to_string(ready.size())));
    }
    bool ok = true;
    for (const auto& [d, scratch] : ready) {
        std::string error;
        // The rename would put a file in place of a folder or a device.
        std::error_code ec;
        if (std::filesystem::exists(d->path, ec) && !std::filesystem::is_regular_file(d->path, ec)) {
            write_log("ERROR: Output data set " + d->name + " cannot replace " + d->path +
                      ", which is not a file.");
            ok = false;
        } else if (!write_file(d, scratch, &error)) {
            write_log("ERROR: " + error);
            ok = false;
        }
    }
    // A stop asked for before the renames leaves every file as it was; one
    // that comes during them waits until all are in place: never a mix.
    if (stop_signal() != 0) ok = false;
    for (const auto& [d, scratch] : ready) {
        std::error_code ec;
        if (ok) {
            std::filesystem::rename(scratch, d->path, ec);
            if (!ec) continue;
            write_log("ERROR: Output data set " + d->name + " cannot replace " + d->path + ": " + ec.message() + ".");
            ok = false;
        }
        std::filesystem::remove(scratch, ec);
        write_log("NOTE: Output data set " + d->name + " was not written.");
    }
    return ok;
}

std::string dataset_by_line(const HostDataSet* data) {
    const int64_t groups = static_cast<int64_t>(data->groupStart.size()) - 1;
    if (data->byVariables.empty() || data->noGroup || data->group < 0 || data->group >= groups) return "";
    return by_values(data, data->groupStart[data->group]);
}

namespace {

// Announces the group xbynext has reached: its BY line on the listing and,
// with the values by name, in the step's document.
void announce_by_group(const HostDataSet* data) {
    OutItem item;
    item.type = OutItem::Type::ByGroup;
    item.level = static_cast<int32_t>(data->group + 1);
    item.title = OutValue::make_text(dataset_by_line(data));
    const int64_t obs = data->groupStart[data->group];
    for (int k : data->byVariables) {
        const DataSetVariable& v = data->variables[k];
        set_named(&item.dynamic, v.name,
                  v.character ? OutValue::make_text(v.texts[obs]) : OutValue::make_double(v.numbers[obs]));
    }
    deliver_item(std::move(item));
}

}  // namespace

void dataset_end_step() {
    auto& s = step_sets();
    s.open.clear();
    s.byNames.clear();
}

}  // namespace velix::platform

using velix::platform::DataSetVariable;

namespace {

int64_t group_count(const HostDataSet* d) { return static_cast<int64_t>(d->groupStart.size()) - 1; }

bool on_group(const HostDataSet* d) {
    return !d->noGroup && d->group >= 0 && d->group < group_count(d);
}

void blank_copy(char* dst, size_t width, const std::string& src) {
    std::memset(dst, ' ', width);
    std::memcpy(dst, src.data(), std::min(width, src.size()));
}

}  // namespace

int32_t xbynext(HostDataSet* data) {
    if (!data) return 0;
    if (data->group + 1 >= group_count(data)) {
        data->group = group_count(data);
        data->currentObs = -1;
        return 0;
    }
    ++data->group;
    data->noGroup = false;
    data->nextObs = data->groupStart[data->group];
    data->currentObs = -1;
    if (data->group > 0 && !data->notSorted && !data->byVariables.empty()) {
        int64_t prev = data->groupStart[data->group - 1];
        int64_t cur = data->nextObs;
        if (velix::platform::compare_by(data, cur, prev) < 0) {
            velix::platform::write_log(
                "ERROR: Data set " + data->name + " is not sorted in ascending sequence of its BY " +
                "variables: observation " + std::to_string(cur + 1) + " has " +
                velix::platform::by_values(data, cur) + " after " +
                velix::platform::by_values(data, prev) + ". Sort it or give NOTSORTED.");
            xexit(kLevelBadVariables, 0);
        }
    }
    if (data->byLines) velix::platform::announce_by_group(data);
    return 1;
}

int32_t xbysync(HostDataSet* first, HostDataSet* second) {
    if (!first || !second || !on_group(first)) return 2;
    second->currentObs = -1;
    if (first->byVariables.empty()) {
        second->group = 0;
        second->noGroup = group_count(second) < 1;
        second->nextObs = 0;
        return 0;
    }
    if (xbylist(first, second) != 0) return 2;
    if (second->byVariables.size() != first->byVariables.size()) {
        std::vector<std::string> names;
        for (int k : first->byVariables) names.push_back(first->variables[k].name);
        velix::platform::apply_by(second, names, true);
    }
    const int64_t f0 = first->groupStart[first->group];
    auto matches = [&](int64_t g) {
        const int64_t s0 = second->groupStart[g];
        for (size_t k = 0; k < first->byVariables.size(); ++k) {
            const DataSetVariable& a = first->variables[first->byVariables[k]];
            const DataSetVariable& b = second->variables[second->byVariables[k]];
            if (!velix::platform::same_value(a, f0, b, s0)) return false;
        }
        return true;
    };
    const int64_t n = group_count(second);
    const int64_t from = std::max<int64_t>(0, std::min(second->group, n));
    for (int64_t step = 0; step < n; ++step) {
        int64_t g = (from + step) % n;  // forward from the current group, then from the start
        if (matches(g)) {
            second->group = g;
            second->noGroup = false;
            second->nextObs = second->groupStart[g];
            return 0;
        }
    }
    second->noGroup = true;
    return 1;
}

int32_t xbyrwnd(HostDataSet* data, int32_t code) {
    if (!data) return kDsBadHandle;
    data->currentObs = -1;
    if (code == kRewindGroup) {
        if (on_group(data)) data->nextObs = data->groupStart[data->group];
        return 0;
    }
    if (code == kRewindFile) {
        data->group = -1;
        data->noGroup = false;
        data->nextObs = 0;
        return 0;
    }
    return kDsBadArgument;
}

int32_t xbylist(HostDataSet* data, HostDataSet* other) {
    if (!data || !other) return kDsBadHandle;
    for (int k : data->byVariables) {
        const DataSetVariable& v = data->variables[k];
        int j = velix::platform::find_variable(other, v.name);
        if (j < 0 || other->variables[j].character != v.character) return 1;
    }
    return 0;
}

int32_t xybyget(DataSetSlot* slot) {
    if (!slot || !slot->handle) return 0;
    HostDataSet* d = slot->handle;
    if (!on_group(d) || d->nextObs >= d->groupStart[d->group + 1]) {
        slot->flags &= ~kSlotReading;
        d->currentObs = -1;
        return 0;
    }
    d->currentObs = d->nextObs++;
    slot->flags |= kSlotReading;
    slot->status = 0;
    return 1;
}

int32_t xoinfo(HostDataSet* data, int32_t kind, void* item) {
    if (!data) return kDsBadHandle;
    if (!item) return kDsBadArgument;
    switch (kind) {
        case kInfoDescription: {
            auto* info = static_cast<DataSetInfo*>(item);
            *info = DataSetInfo{};
            blank_copy(info->name, sizeof info->name, data->name);
            blank_copy(info->type, sizeof info->type, data->type);
            blank_copy(info->label, sizeof info->label, data->label);
            info->labelLength =
                static_cast<int16_t>(std::min(data->label.size(), sizeof info->label));
            for (const DataSetVariable& v : data->variables) (v.character ? info->nCharacter : info->nNumeric)++;
            info->nVariables = static_cast<int32_t>(data->variables.size());
            info->nObservations = data->nObs;
            info->nByVariables = static_cast<int32_t>(data->byVariables.size());
            return 0;
        }
        case kInfoName: {
            std::string n = std::filesystem::path(data->name).stem().string();
            blank_copy(static_cast<char*>(item), 8, n);
            return 0;
        }
        case kInfoLabel: {
            auto* label = static_cast<DataSetLabel*>(item);
            blank_copy(label->text, sizeof label->text, data->label);
            label->length = static_cast<int16_t>(std::min(data->label.size(), sizeof label->text));
            return 0;
        }
        case kInfoObsNumbers:
            *static_cast<int32_t*>(item) = 1;
            return 0;
        case kInfoObsNumber:
            *static_cast<int32_t*>(item) =
                data->currentObs < 0 ? 0 : static_cast<int32_t>(data->currentObs + 1);
            return 0;
        case kInfoSetType: {
            if (!data->output) return kDsReadOnly;
            std::string t(static_cast<const char*>(item), 8);
            while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
            if (!data->typeGiven) data->type = velix::platform::upper(t);
            return 0;
        }
        case kInfoSetLabel: {
            if (!data->output) return kDsReadOnly;
            const auto* label = static_cast<const DataSetLabel*>(item);
            size_t len = std::clamp<int>(label->length, 0, sizeof label->text);
            std::string t(label->text, len);
            while (!t.empty() && t.back() == ' ') t.pop_back();
            data->label = t;
            return 0;
        }
        case kInfoReadable:
            *static_cast<int32_t*>(item) = data->output ? 0 : 1;
            return 0;
        case kInfoGroupSize:
            *static_cast<int32_t*>(item) =
                on_group(data) ? static_cast<int32_t>(data->groupStart[data->group + 1] -
                                                      data->groupStart[data->group])
                               : 0;
            return 0;
        default:
            return kDsBadArgument;
    }
}
