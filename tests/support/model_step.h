// Test support for the model readers: a cosinit step (statement_fixture.h)
// that also keeps the numbered messages and the output items it delivered,
// with lookups of matrices, elements, parameters and column names.
#pragma once

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/output_document.h"
#include "platform/session.h"
#include "tests/support/statement_fixture.h"

namespace velix::testing {

// Where the output document stood before the step began.
struct DocumentMarks {
    const velix::platform::OutStep* step;
    size_t messages, items;
    DocumentMarks() {
        const auto& doc = velix::platform::current_step();
        step = &doc;
        messages = doc.messages.size();
        items = doc.items.size();
    }
};

struct ModelStep : DocumentMarks, CosinitStep {
    std::vector<int32_t> messages;                  // numbers of group 352, in order
    std::vector<velix::platform::OutItem> output;   // delivered items

    explicit ModelStep(const std::string& text) : CosinitStep(text) {
        const auto& after = velix::platform::current_step();
        const bool same = &after == DocumentMarks::step;
        for (size_t i = same ? DocumentMarks::messages : 0; i < after.messages.size(); ++i)
            if (after.messages[i].group == 352) messages.push_back(after.messages[i].number);
        output.assign(after.items.begin() + static_cast<std::ptrdiff_t>(same ? items : 0), after.items.end());
    }

    // How often message 352/number was written.
    int count(int32_t number) const {
        return static_cast<int>(std::count(messages.begin(), messages.end(), number));
    }
    // The first delivered item with the name, 0 when none.
    const velix::platform::OutItem* item(const std::string& name) const {
        for (const auto& it : output)
            if (it.name == name) return &it;
        return nullptr;
    }
    // Model matrix k: name, rows, columns, type, form.
    std::string name(int32_t k) const { return name_of(ctx.model.name[k]).substr(0, name_length(k)); }
    int32_t name_length(int32_t k) const {
        int32_t l = ctx.model.name[k].length;
        while (l > 0 && ctx.model.name[k].text[l - 1] == ' ') --l;
        return l;
    }
    // The parameter names, in table order, without trailing blanks.
    std::vector<std::string> parameters() const {
        std::vector<std::string> out;
        for (int32_t p = 0; p < ctx.sizes.nParmAll; ++p) {
            std::string n = name_of(nlp.paramNames[p]);
            while (!n.empty() && n.back() == ' ') n.pop_back();
            out.push_back(n);
        }
        return out;
    }
    // The column names, without trailing blanks.
    std::vector<std::string> column_names() const {
        std::vector<std::string> out;
        for (int32_t c = 0; c < ctx.readers.nColumnNames; ++c) {
            std::string n = name_of(ctx.readers.columnNames[c]);
            while (!n.empty() && n.back() == ' ') n.pop_back();
            out.push_back(n);
        }
        return out;
    }
    // The element of matrix k at (row, column), -1 when there is none.
    int32_t element_at(int32_t k, int32_t row, int32_t column) const {
        const ModelMatrixTable& mt = ctx.model;
        for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e)
            if (ctx.elements.row[e] == row && ctx.elements.column[e] == column) return e;
        return -1;
    }
    // The parameter name of element e ("" for a fixed element).
    std::string parameter_of(int32_t e) const {
        const int32_t p = std::abs(ctx.elements.parameter[e]);
        return p == 0 ? std::string() : parameters()[static_cast<size_t>(p - 1)];
    }
};

}  // namespace velix::testing
