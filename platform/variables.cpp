// Variables of the platform's data sets and their binding to the module's
// cells.  An input binding copies the current observation into the cells
// (xyvget); an output binding defines the variables of an output data set
// and appends one observation made from the cells (xyvput).  Character
// cells are blank-padded fields of a fixed width; numeric cells are doubles.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/dataset.h"
#include "platform/messages.h"
#include "platform/print.h"
#include "velix/codes.h"
#include "velix/messages.h"

using velix::platform::DataSetVariable;

namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The text of a blank-padded field: at most width bytes, ending at a NUL,
// trailing blanks removed.
std::string field_text(const char* p, size_t width) {
    size_t n = 0;
    while (n < width && p[n] != '\0') ++n;
    while (n > 0 && p[n - 1] == ' ') --n;
    return std::string(p, n);
}

bool valid_number(const HostDataSet* data, int32_t number) {
    return number >= 1 && number <= static_cast<int32_t>(data->variables.size());
}

HostBinding* new_binding(HostDataSet* data, bool output) {
    auto b = std::make_unique<HostBinding>();
    b->data = data;
    b->output = output;
    data->bindings.push_back(std::move(b));
    return data->bindings.back().get();
}

bool usable(const HostBinding* b) { return b && b->data; }

// Frees a binding and its entries: a released list is gone, so that a pass
// that binds a data set afresh for each BY group leaves nothing of it with
// the data set.  Its handle is void from here on (the module keeps none).
void free_binding(HostBinding* b) {
    std::vector<std::unique_ptr<HostBinding>>& all = b->data->bindings;
    all.erase(std::remove_if(all.begin(), all.end(), [b](const auto& p) { return p.get() == b; }), all.end());
}

// Appends a variable to an output data set; false when the name is taken.
bool add_output_variable(HostDataSet* out, DataSetVariable var) {
    const std::string un = upper(var.name);
    for (const DataSetVariable& v : out->variables)
        if (upper(v.name) == un) return false;
    if (var.character)
        var.texts.assign(out->nObs, std::string());
    else
        var.numbers.assign(out->nObs, host_missing_value());
    out->variables.push_back(std::move(var));
    return true;
}

}  // namespace

int32_t xvfind(HostDataSet* data, const char* name, int32_t length, int16_t* number, int32_t) {
    if (number) *number = 0;
    if (!data || !name || length < 0) return kDsVariableNotFound;
    const std::string want = upper(field_text(name, static_cast<size_t>(length)));
    for (size_t k = 0; k < data->variables.size(); ++k) {
        if (upper(data->variables[k].name) == want) {
            if (number) *number = static_cast<int16_t>(k + 1);
            return 0;
        }
    }
    return kDsVariableNotFound;
}

int32_t xvname(HostDataSet* data, int32_t number, const HostVariableDescriptor** out) {
    if (!data) return kDsBadHandle;
    if (!out || !valid_number(data, number)) return kDsBadArgument;
    DataSetVariable& v = data->variables[number - 1];
    HostVariableDescriptor& d = v.descriptor;
    // Refreshed on each call: the descriptor points into the variable's own strings.
    d.name = v.name.data();
    d.nameLength = static_cast<int16_t>(v.name.size());
    d.label = v.label.data();
    d.labelLength = static_cast<int16_t>(v.label.size());
    d.type = v.character ? kVarCharacter : kVarNumeric;
    d.length = d.storedLength = v.length;
    std::memcpy(d.attributeName, v.attributeName, sizeof d.attributeName);
    std::memcpy(d.attributeWord, v.attributeWord, sizeof d.attributeWord);
    *out = &d;
    return 0;
}

void xvnamei(HostVariableDescriptor* descriptor) {
    if (!descriptor) return;
    *descriptor = HostVariableDescriptor{};
    std::memset(descriptor->attributeName, ' ', sizeof descriptor->attributeName);
}

int32_t xvcause(HostDataSet* data, int32_t number, const char** text) {
    if (!data) return kDsBadHandle;
    if (!text || !valid_number(data, number)) return kDsBadArgument;
    *text = data->variables[number - 1].madeCharacter.c_str();
    return 0;
}

int32_t xvdflst(HostDataSet* data, VariableListRecord* lists) {
    if (!data) return kDsBadHandle;
    if (!lists) return kDsBadArgument;
    const int given[] = {kHostListBy, kHostListVar, kHostListPartial, kHostListWeight, kHostListFreq};
    for (int e : given) {
        const VariableList& l = lists->entry[e];
        if (l.count < 0 || (l.count > 0 && !l.numbers)) return kDsBadArgument;
        for (int i = 0; i < l.count; ++i)
            if (!valid_number(data, l.numbers[i])) return kDsBadArgument;
    }
    if (lists->entry[kHostListVar].count == 0) {
        std::vector<int16_t>& store = data->listStore[kHostListVar];
        store.clear();
        for (size_t k = 0; k < data->variables.size(); ++k) {
            // A variable that is numbers but for values beyond the range of
            // doubles is analysed, in raw data as in a moment matrix, so
            // that reading it is the error that names the value: left out,
            // it would leave a smaller matrix fitted without a word of the
            // cell.  Any other that a value among its numbers made
            // character is left out with a NOTE that names the value.
            const DataSetVariable& v = data->variables[k];
            const auto number = static_cast<int16_t>(k + 1);
            bool named = false;
            for (int e : {kHostListBy, kHostListPartial, kHostListWeight, kHostListFreq}) {
                const VariableList& l = lists->entry[e];
                named = named || std::find(l.numbers, l.numbers + l.count, number) != l.numbers + l.count;
            }
            if (named) continue;
            if (!v.character || v.notFinite)
                store.push_back(number);
            else if (v.holdsNumbers)
                velix::platform::write_log(velix::platform::format_message(
                    kMsgHost, kMsgHostWordsLeftOut, v.name.c_str(), data->name.c_str(), v.madeCharacter.c_str()));
        }
        lists->entry[kHostListVar].count = static_cast<int16_t>(store.size());
        lists->entry[kHostListVar].numbers = store.data();
    }
    std::vector<int16_t>& read = data->listStore[kHostListRead];
    read.clear();
    for (int e : {kHostListVar, kHostListPartial}) {
        const VariableList& l = lists->entry[e];
        read.insert(read.end(), l.numbers, l.numbers + l.count);
    }
    lists->entry[kHostListRead].count = static_cast<int16_t>(read.size());
    lists->entry[kHostListRead].numbers = read.data();
    // Keep a copy whose arrays the data set owns.
    for (int e = 0; e < kHostListCount; ++e) {
        const VariableList& l = lists->entry[e];
        if (e != kHostListRead && !(e == kHostListVar && l.numbers == data->listStore[e].data()))
            data->listStore[e].assign(l.numbers, l.numbers + std::max<int16_t>(l.count, 0));
        data->lists.entry[e].count = static_cast<int16_t>(data->listStore[e].size());
        data->lists.entry[e].numbers = data->listStore[e].data();
    }
    data->listsDefined = true;
    return 0;
}

int32_t xvsele(HostDataSet* data) { return data ? 0 : kDsBadHandle; }

int32_t xvgeti(HostDataSet* data, int32_t, int32_t, HostBinding** binding) {
    if (binding) *binding = nullptr;
    if (!data) return kDsBadHandle;
    if (!binding) return kDsBadArgument;
    if (data->output) return kDsReadOnly;
    *binding = new_binding(data, false);
    return 0;
}

int32_t xvgetd(HostBinding* binding, int32_t number, int32_t, void* cell, int32_t length,
               int32_t typeCode, int32_t, int32_t) {
    if (!usable(binding) || binding->output) return kDsBadHandle;
    if (!cell || !valid_number(binding->data, number)) return kDsBadArgument;
    const bool character = typeCode == 'c';
    const DataSetVariable& v = binding->data->variables[number - 1];
    if (v.character != character) return kDsWrongType;
    if (character && length < 1) return kDsBadArgument;
    HostBinding::Entry e;
    e.variable = number - 1;
    e.cell = cell;
    e.length = character ? length : 8;
    e.character = character;
    binding->entries.push_back(e);
    return 0;
}

int32_t xvgete(HostBinding* binding) {
    if (!usable(binding)) return kDsBadHandle;
    binding->ended = true;
    return 0;
}

int32_t xvgett(HostBinding* binding) {
    if (!binding || !binding->data) return kDsBadHandle;
    free_binding(binding);
    return 0;
}

int32_t xyvget(HostBinding* binding, int32_t) {
    if (!usable(binding) || binding->output) return kDsBadHandle;
    HostDataSet* d = binding->data;
    if (d->currentObs < 0 || d->currentObs >= d->nObs) return kDsNoObservation;
    for (const HostBinding::Entry& e : binding->entries) {
        if (e.character) {
            auto* cell = static_cast<char*>(e.cell);
            const std::string& t = velix::platform::dataset_text(d, e.variable);
            std::memset(cell, ' ', e.length);
            std::memcpy(cell, t.data(), std::min<size_t>(e.length, t.size()));
        } else {
            *static_cast<double*>(e.cell) = velix::platform::dataset_number(d, e.variable);
        }
    }
    return 0;
}

int32_t xvputi(HostDataSet* data, int32_t, int32_t, HostBinding** binding) {
    if (binding) *binding = nullptr;
    if (!data) return kDsBadHandle;
    if (!binding) return kDsBadArgument;
    if (!data->output) return kDsReadOnly;
    // A new list defines the data set afresh.
    data->defined = true;
    data->variables.clear();
    data->nObs = 0;
    data->spilledRows.clear();
    data->spilledObs = 0;
    data->bindings.clear();  // the lists of the former definition go with it
    *binding = new_binding(data, true);
    return 0;
}

int32_t xvputcv(HostBinding* binding, HostDataSet* data, const int16_t* numbers, int32_t count,
                int32_t) {
    if (!usable(binding) || !binding->output || !data) return kDsBadHandle;
    if (count < 0 || (count > 0 && !numbers)) return kDsBadArgument;
    for (int32_t i = 0; i < count; ++i)
        if (!valid_number(data, numbers[i])) return kDsBadArgument;
    for (int32_t i = 0; i < count; ++i) {
        const DataSetVariable& src = data->variables[numbers[i] - 1];
        DataSetVariable v;
        v.name = src.name;
        v.label = src.label;
        v.character = src.character;
        v.length = src.length;
        std::memcpy(v.attributeName, src.attributeName, sizeof v.attributeName);
        std::memcpy(v.attributeWord, src.attributeWord, sizeof v.attributeWord);
        if (!add_output_variable(binding->data, std::move(v))) return kDsBadArgument;
        HostBinding::Entry e;
        e.variable = static_cast<int>(binding->data->variables.size()) - 1;
        e.character = src.character;
        e.length = src.length;
        e.bySource = data;
        e.bySourceVariable = numbers[i] - 1;
        binding->entries.push_back(e);
    }
    return 0;
}

int32_t xvputd(HostBinding* binding, const HostVariableDescriptor* descriptor, int32_t, void* cell,
               int32_t charLength, int32_t, int32_t) {
    if (!usable(binding) || !binding->output) return kDsBadHandle;
    if (!descriptor || !cell || !descriptor->name || descriptor->nameLength < 1) return kDsBadArgument;
    DataSetVariable v;
    v.name = field_text(descriptor->name, static_cast<size_t>(descriptor->nameLength));
    if (descriptor->label && descriptor->labelLength > 0)
        v.label = field_text(descriptor->label, static_cast<size_t>(descriptor->labelLength));
    v.character = descriptor->type == kVarCharacter;
    v.length = v.character ? (charLength > 0 ? charLength : descriptor->length) : 8;
    if (v.name.empty() || v.length < 1) return kDsBadArgument;
    std::memcpy(v.attributeName, descriptor->attributeName, sizeof v.attributeName);
    std::memcpy(v.attributeWord, descriptor->attributeWord, sizeof v.attributeWord);
    HostBinding::Entry e;
    e.character = v.character;
    e.length = v.length;
    e.cell = cell;
    if (!add_output_variable(binding->data, std::move(v))) return kDsBadArgument;
    e.variable = static_cast<int>(binding->data->variables.size()) - 1;
    binding->entries.push_back(e);
    return 0;
}

int32_t xvpute(HostBinding* binding) {
    if (!usable(binding)) return kDsBadHandle;
    binding->ended = true;
    return 0;
}

int32_t xyvput(HostBinding* binding, int32_t) {
    if (!usable(binding) || !binding->output) return kDsBadHandle;
    HostDataSet* out = binding->data;
    for (DataSetVariable& v : out->variables) {
        if (v.character)
            v.texts.emplace_back();
        else
            v.numbers.push_back(host_missing_value());
    }
    const int64_t row = out->nObs++ - out->spilledObs;  // the place among those held
    for (const HostBinding::Entry& e : binding->entries) {
        DataSetVariable& v = out->variables[e.variable];
        if (e.bySource) {
            // The BY values of the source's current group.
            const HostDataSet* src = e.bySource;
            if (!velix::platform::dataset_on_group(src)) continue;
            const auto k = std::find(src->byVariables.begin(), src->byVariables.end(), e.bySourceVariable);
            if (k == src->byVariables.end()) continue;
            const velix::platform::ByValue& value = src->key[static_cast<size_t>(k - src->byVariables.begin())];
            if (v.character)
                v.texts[row] = value.text;
            else
                v.numbers[row] = value.number;
        } else if (e.character) {
            v.texts[row] = field_text(static_cast<const char*>(e.cell), static_cast<size_t>(e.length));
        } else {
            v.numbers[row] = *static_cast<const double*>(e.cell);
        }
    }
    return 0;
}

void xofprc(DataSetSlot* slot, int32_t status, int32_t severity) {
    if (slot) slot->status = status;
    const std::string name = slot && slot->handle ? slot->handle->name : std::string("(none)");
    velix::platform::write_log(velix::platform::format_message(
        kMsgHost, severity == 1 ? kMsgHostReadFailed : kMsgHostWriteFailed, name.c_str(), status));
}
