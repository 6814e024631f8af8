// The listing of equation templates: tables whose rows are equations laid
// out in cells (a layout control, the left-hand side, a relation, then for
// each term a sign, a coefficient, an asterisk marking a free coefficient
// and a name).  They print as equations rather than as a grid:
//
//     x2       =  0.5535*Fvis  +  1.0000 E2
//     Std Err     0.0998 l2
//     t Value     5.5444
//
// no header over the terms, each sign and asterisk joined to its neighbours,
// cells that carry no value ("_") blank, the rows under an equation aligned
// with its terms, a blank line between equations that take several rows,
// and an equation wider than the line continued on the following lines
// under its first term.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

#include "platform/output_listing.h"
#include "platform/print.h"
#include "velix/host.h"

namespace velix::platform::listing {
namespace {

// What a column holds in the template.
enum class Role {
    Control,      // "b" on an equation's first row: layout, not printed
    Relation,     // "=", "<=", ":" between the parts of the equation
    Sign,         // "+" or "-" before a term
    Coefficient,  // a term's coefficient, or its standard error or t value
    Asterisk,     // "*" when the coefficient is free
    Name,         // the term's variable or parameter name
    Plain         // anything else: the left-hand side, a number, a status
};

// The role of a column, from its template column's name when it has one
// (the columns of a term are numbered, "C2_1", with the template
// "Coefficient"), else from its own name without the term number
// ("Coefficient1").
Role role_of(const OutColumn& c) {
    std::string_view n = c.columnTemplate.empty() ? c.name : c.columnTemplate;
    while (!n.empty() && n.back() >= '0' && n.back() <= '9') n.remove_suffix(1);
    const auto is = [&](std::string_view word) {
        return n.size() == word.size() && strncasecmp(n.data(), word.data(), n.size()) == 0;
    };
    if (is("Control")) return Role::Control;
    if (is("Equals") || is("Equal") || is("Relation") || is("Colon")) return Role::Relation;
    if (is("Sign")) return Role::Sign;
    if (is("Coefficient")) return Role::Coefficient;
    if (is("Asterisk")) return Role::Asterisk;
    if (is("Parameter")) return Role::Name;
    return Role::Plain;
}

struct Field {
    size_t column = 0;
    Role role = Role::Plain;
    bool right = false;  // numbers are right-aligned
    size_t width = 0;
};

// The table cut into its printed fields: the fields before the first term,
// the fields of each term, and every cell as text.
struct Layout {
    std::vector<Field> lead;
    std::vector<std::vector<Field>> terms;
    std::vector<std::vector<std::string>> cells;  // rows x columns
    std::vector<size_t> units;                     // first row of each equation
    bool spaced = false;                           // some equation takes several rows
    size_t headed = 0;                             // leading fields with a header
};

// Blanks between two printed fields: none before an asterisk and between
// an asterisk and its name (so "0.5535*Fvis" and "1.0000 E2" line up), the
// column gap elsewhere.
size_t separator(Role before, Role role) {
    if (role == Role::Asterisk || (before == Role::Asterisk && role == Role::Name)) return 0;
    return kGap;
}

std::string cell_text(const OutValue& v, const NumberFormat& f) {
    constexpr int kNoValueCode = 1;  // host_special_missing(1): the "_" cell
    if (v.kind == OutValue::Kind::Double && host_is_missing(v.real)) {
        const double blank = host_special_missing(kNoValueCode);
        if (std::memcmp(&blank, &v.real, sizeof blank) == 0) return "";
    }
    std::string text = value_text(v, f);
    // Without its edge blanks, in place: most cells have none.
    const size_t b = text.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    text.resize(text.find_last_not_of(' ') + 1);
    text.erase(0, b);
    return text;
}

// Every cell as text: the coefficients of all terms in one format, so that
// the fixed 1 of an error term reads 1.0000 beside an estimate, each other
// numeric column in its own.
void cell_texts(const OutItem& t, const std::vector<Role>& roles, Layout* lay) {
    const size_t nc = t.columns.size();
    std::vector<std::vector<double>> numbers(nc + 1);  // [nc]: all coefficients
    for (const auto& row : t.rows)
        for (size_t j = 0; j < nc && j < row.size(); ++j)
            if (row[j].kind == OutValue::Kind::Double)
                numbers[roles[j] == Role::Coefficient ? nc : j].push_back(row[j].real);
    std::vector<NumberFormat> formats(nc + 1);
    for (size_t j = 0; j <= nc; ++j) formats[j] = choose_format(numbers[j]);
    lay->cells.reserve(t.rows.size());
    for (const auto& row : t.rows) {
        std::vector<std::string>& line = lay->cells.emplace_back(nc);
        for (size_t j = 0; j < nc && j < row.size(); ++j)
            line[j] = cell_text(row[j], formats[roles[j] == Role::Coefficient ? nc : j]);
    }
}

// The fields: those before the first sign or coefficient lead the line;
// a term starts at a sign, or at a coefficient when its term has one
// already.  A field whose cells are all empty is left out, except an
// asterisk, whose blank keeps the names of fixed and free terms aligned.
void fields(const OutItem& t, const std::vector<Role>& roles, Layout* lay) {
    bool inTerms = false, termHasCoefficient = false;
    for (size_t j = 0; j < t.columns.size(); ++j) {
        Field f{j, roles[j], numeric_kind(t.columns[j].kind), roles[j] == Role::Asterisk ? 1u : 0u};
        for (const auto& line : lay->cells) f.width = std::max(f.width, line[j].size());
        if (f.role == Role::Control) continue;
        const bool opensTerm = f.role == Role::Sign || (f.role == Role::Coefficient && (!inTerms || termHasCoefficient));
        if (opensTerm) {
            lay->terms.emplace_back();
            inTerms = true;
            termHasCoefficient = false;
        }
        termHasCoefficient |= f.role == Role::Coefficient;
        if (f.width == 0) continue;
        (inTerms ? lay->terms.back() : lay->lead).push_back(f);
    }
}

// The leading fields before the first relation get a header when one of
// them is a number (a constraint's number and residual mean nothing
// without it); a left-hand side that is a name needs none.
void header_extent(const OutItem& t, Layout* lay) {
    size_t n = 0;
    bool anyNumber = false;
    while (n < lay->lead.size() && lay->lead[n].role == Role::Plain) {
        anyNumber |= lay->lead[n].right;
        ++n;
    }
    if (!anyNumber) return;
    lay->headed = n;
    for (size_t k = 0; k < n; ++k)
        lay->lead[k].width = std::max(lay->lead[k].width, t.columns[lay->lead[k].column].name.size());
}

// Equations: a row whose control cell is not blank starts one; without a
// control column every row is an equation.
void equations(const std::vector<Role>& roles, Layout* lay) {
    const auto control = std::find(roles.begin(), roles.end(), Role::Control);
    const size_t cc = static_cast<size_t>(control - roles.begin());
    for (size_t i = 0; i < lay->cells.size(); ++i)
        if (i == 0 || control == roles.end() || !lay->cells[i][cc].empty()) lay->units.push_back(i);
    lay->spaced = lay->units.size() < lay->cells.size();
}

Layout layout_of(const OutItem& t) {
    std::vector<Role> roles;
    for (const auto& c : t.columns) roles.push_back(role_of(c));
    Layout lay;
    cell_texts(t, roles, &lay);
    fields(t, roles, &lay);
    header_extent(t, &lay);
    equations(roles, &lay);
    return lay;
}

// Appends fields to a line; `before` is the role of the field printed last
// (Role::Control when the line is empty).
void append(std::string* line, Role* before, const std::vector<Field>& fs, const std::vector<std::string>& texts) {
    for (const Field& f : fs) {
        if (*before != Role::Control) line->append(separator(*before, f.role), ' ');
        append_padded(line, texts[f.column], f.width, f.right);
        *before = f.role;
    }
}

// The width of fields printed after a field of role `before`.
size_t width_of(const std::vector<Field>& fs, Role before) {
    size_t w = 0;
    for (const Field& f : fs) {
        if (before != Role::Control) w += separator(before, f.role);
        w += f.width;
        before = f.role;
    }
    return w;
}

// Terms per printed line: as many as fit beside the leading fields, the
// rest on continuation lines indented as far as the first term.
std::vector<std::vector<Field>> chunks_of(const Layout& lay, size_t* indent) {
    const size_t lead = width_of(lay.lead, Role::Control);
    *indent = lead + kGap;
    std::vector<std::vector<Field>> chunks(1);
    size_t used = lead;
    Role before = lay.lead.empty() ? Role::Control : lay.lead.back().role;
    for (const auto& term : lay.terms) {
        if (term.empty()) continue;
        size_t w = width_of(term, before);
        if (!chunks.back().empty() && used + w > line_size()) {
            chunks.emplace_back();
            used = *indent;
            w = width_of(term, Role::Control);
        }
        chunks.back().insert(chunks.back().end(), term.begin(), term.end());
        used += w;
        before = term.back().role;
    }
    return chunks;
}

void trim_right(std::string* s) {
    while (!s->empty() && s->back() == ' ') s->pop_back();
}

}  // namespace

bool is_equation_table(const OutItem& t) {
    bool coefficient = false, asterisk = false;
    for (const auto& c : t.columns) {
        const Role role = role_of(c);
        coefficient |= role == Role::Coefficient;
        asterisk |= role == Role::Asterisk;
    }
    return coefficient && asterisk;
}

void put_equation_table(const OutItem& t) {
    ListingLines out;
    put_heading(t, &out);
    const Layout lay = layout_of(t);
    size_t indent = 0;
    const auto chunks = chunks_of(lay, &indent);
    // One block of lines, centred on the print line like the other tables.
    std::vector<std::string> lines;
    if (lay.headed > 0) {
        const std::vector<Field> headed(lay.lead.begin(), lay.lead.begin() + static_cast<long>(lay.headed));
        std::vector<std::string> names(t.columns.size()), rules(t.columns.size());
        for (const Field& f : headed) {
            names[f.column] = t.columns[f.column].name;
            rules[f.column] = std::string(f.width, rule_character());
        }
        for (const auto* texts : {&names, &rules}) {
            Role before = Role::Control;
            append(&lines.emplace_back(), &before, headed, *texts);
        }
    }
    for (size_t u = 0; u < lay.units.size(); ++u) {
        if (u > 0 && lay.spaced) lines.emplace_back();
        const size_t end = u + 1 < lay.units.size() ? lay.units[u + 1] : lay.cells.size();
        for (size_t c = 0; c < chunks.size(); ++c) {
            for (size_t i = lay.units[u]; i < end; ++i) {
                std::string& line = lines.emplace_back(c == 0 ? 0 : indent, ' ');
                Role before = Role::Control;
                if (c == 0) append(&line, &before, lay.lead, lay.cells[i]);
                const size_t bare = line.size();
                append(&line, &before, chunks[c], lay.cells[i]);
                trim_right(&line);
                if (c > 0 && line.size() <= bare) lines.pop_back();
            }
        }
    }
    size_t widest = 0;
    for (auto& l : lines) {
        trim_right(&l);
        widest = std::max(widest, l.size());
    }
    const size_t width = line_size();
    const size_t margin = widest < width ? (width - widest) / 2 : 0;
    for (const auto& l : lines) {
        std::string& line = out.begin_line();
        if (!l.empty()) line.append(margin, ' ').append(l);
        out.end_line();
    }
    out.write();
}

}  // namespace velix::platform::listing
