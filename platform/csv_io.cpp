// The CSV form of the platform's data sets (RFC 4180 records with a few
// leading attribute lines):
//
//   # TYPE=COV                      optional attribute lines, each "# KEY=VALUE"
//   # LABEL=Ability tests
//   # CHAR=_TYPE_:8,_NAME_:32       the character variables and their lengths
//   _TYPE_,_NAME_,x1,x2             the variable names
//   N,,112,112                      one observation per line
//
// Without a CHAR line, _TYPE_, _NAME_, _NAM2_, _NAM3_ and every column that
// holds a value that is not a number are character.  A numeric value that is
// empty or "." is missing; "._" and ".A" to ".Z" are the special missing
// values.  Fields holding a comma, a quote or edge blanks are quoted, with
// inner quotes doubled.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "platform/dataset.h"

namespace velix::platform {
namespace {

constexpr size_t kMaxNameLength = 32;  // of a variable name, as the module stores it

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string rtrim(const std::string& s) {
    size_t e = s.size();
    while (e > 0 && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(0, e);
}

// Splits one record into fields; false when a quote is not closed.
bool split_record(const std::string& line, std::vector<std::string>* fields) {
    fields->clear();
    std::string cur;
    size_t i = 0;
    for (;;) {
        cur.clear();
        // A quoted field may be surrounded by blanks.
        size_t j = i;
        while (j < line.size() && line[j] == ' ') ++j;
        if (j < line.size() && line[j] == '"') {
            i = j + 1;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        cur += '"';
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                cur += line[i++];
            }
            if (!closed) return false;
            while (i < line.size() && line[i] == ' ') ++i;
            fields->push_back(cur);
            if (i >= line.size()) return true;
            if (line[i] != ',') return false;
            ++i;
            continue;
        }
        size_t comma = line.find(',', i);
        if (comma == std::string::npos) {
            fields->push_back(line.substr(i));
            return true;
        }
        fields->push_back(line.substr(i, comma - i));
        i = comma + 1;
    }
}

// Parses a numeric field: true with *v (a missing value for "", "." and the
// special codes), false when it is not a number.
bool parse_number(const std::string& field, double* v) {
    std::string t = trim(field);
    if (t.empty() || t == ".") {
        *v = host_missing_value();
        return true;
    }
    if (t.size() == 2 && t[0] == '.') {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(t[1])));
        if (c == '_') {
            *v = host_special_missing(1);
            return true;
        }
        if (c >= 'A' && c <= 'Z') {
            *v = host_special_missing(2 + (c - 'A'));
            return true;
        }
    }
    // from_chars reads the plain decimal forms fast and rounds as strtod
    // does; strtod takes what it leaves (a leading '+', hexadecimal).
    const char* begin = t.data();
    const char* last = begin + t.size();
    double x = 0.0;
    const std::from_chars_result r = std::from_chars(begin, last, x);
    if (r.ec != std::errc() || r.ptr != last) {
        char* end = nullptr;
        x = std::strtod(begin, &end);
        if (end != last) return false;
    }
    if (!std::isfinite(x)) return false;
    *v = x;
    return true;
}

bool is_name_variable(const std::string& upperName) {
    return upperName == "_TYPE_" || upperName == "_NAME_" || upperName == "_NAM2_" ||
           upperName == "_NAM3_";
}

bool needs_quotes(const std::string& s) {
    if (s.empty()) return false;
    // A leading '#' would make a header line an attribute line.
    if (s.front() == ' ' || s.back() == ' ' || s.front() == '#') return true;
    return s.find_first_of(",\"\r\n") != std::string::npos;
}

std::string quote(const std::string& s) {
    if (!needs_quotes(s)) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

// A value the reader cannot take back (an infinity or a NaN that is not a
// missing value) is written as the missing value.
std::string format_number(double v) {
    if (host_is_missing(v)) return missing_text(v);
    if (!std::isfinite(v)) return ".";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);  // shortest form that reads back exactly
    return std::string(buf, r.ptr);
}

// A value on one line, as the reader reads it: a line break becomes a
// blank.
std::string one_line(std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
}

}  // namespace

int missing_code(double v) {
    if (!host_is_missing(v)) return -1;
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int c = 0; c < 28; ++c) {
        double s = host_special_missing(c);
        uint64_t sb;
        std::memcpy(&sb, &s, sizeof sb);
        if (sb == bits) return c;
    }
    return 0;  // any other missing pattern reads as the ordinary missing value
}

std::string missing_text(double v) {
    const int code = missing_code(v);
    if (code < 0) return "";
    if (code == 1) return "._";
    if (code >= 2) return std::string(".") + static_cast<char>('A' + code - 2);
    return ".";
}

bool csv_read(const std::string& text, HostDataSet* data, std::string* error) {
    std::vector<std::string> lines;
    {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
    }
    size_t li = 0;
    std::map<std::string, int32_t> charLengths;  // upper-case name -> length
    bool haveChar = false;
    for (; li < lines.size() && !lines[li].empty() && lines[li][0] == '#'; ++li) {
        std::string attr = trim(lines[li].substr(1));
        size_t eq = attr.find('=');
        if (eq == std::string::npos) continue;  // a plain comment line
        std::string key = upper(trim(attr.substr(0, eq)));
        std::string value = trim(attr.substr(eq + 1));
        if (key == "TYPE") {
            data->type = upper(value);
        } else if (key == "LABEL") {
            data->label = value;
        } else if (key == "CHAR") {
            haveChar = true;
            std::vector<std::string> items;
            split_record(value, &items);
            for (const std::string& item : items) {
                std::string it = trim(item);
                if (it.empty()) continue;
                size_t colon = it.rfind(':');
                std::string name = upper(trim(it.substr(0, colon)));
                int32_t len = 8;
                if (colon != std::string::npos) {
                    std::string ls = trim(it.substr(colon + 1));
                    auto r = std::from_chars(ls.data(), ls.data() + ls.size(), len);
                    if (r.ec != std::errc() || r.ptr != ls.data() + ls.size() || len < 1 ||
                        len > 32767) {
                        *error = "line " + std::to_string(li + 1) + ": bad length in CHAR item '" +
                                 it + "'";
                        return false;
                    }
                }
                charLengths[name] = len;
            }
        }
    }
    while (li < lines.size() && trim(lines[li]).empty()) ++li;
    if (li >= lines.size()) {
        *error = "no line of variable names";
        return false;
    }
    std::vector<std::string> names;
    if (!split_record(lines[li], &names)) {
        *error = "line " + std::to_string(li + 1) + ": a quote is not closed";
        return false;
    }
    std::set<std::string> seen;
    for (std::string& n : names) {
        n = trim(n);
        if (n.empty()) {
            *error = "line " + std::to_string(li + 1) + ": a variable has no name";
            return false;
        }
        // A longer name would be cut by the module, and two names alike in
        // their first 32 characters would become one.
        if (n.size() > kMaxNameLength) {
            *error = "line " + std::to_string(li + 1) + ": variable name " + n + " is longer than " +
                     std::to_string(kMaxNameLength) + " characters";
            return false;
        }
        if (!seen.insert(upper(n)).second) {
            *error = "line " + std::to_string(li + 1) + ": variable " + n + " appears twice";
            return false;
        }
    }
    for (const auto& [name, len] : charLengths) {
        if (!seen.count(name)) {
            *error = "the CHAR line names " + name + ", which is not a variable";
            return false;
        }
    }
    const size_t nv = names.size();
    std::vector<std::vector<std::string>> columns(nv);
    std::vector<size_t> lineOf;
    std::vector<std::string> fields;
    for (++li; li < lines.size(); ++li) {
        if (trim(lines[li]).empty()) continue;
        if (!split_record(lines[li], &fields)) {
            *error = "line " + std::to_string(li + 1) + ": a quote is not closed";
            return false;
        }
        if (fields.size() != nv) {
            *error = "line " + std::to_string(li + 1) + ": " + std::to_string(fields.size()) +
                     " values for " + std::to_string(nv) + " variables";
            return false;
        }
        for (size_t k = 0; k < nv; ++k) columns[k].push_back(fields[k]);
        lineOf.push_back(li + 1);
    }
    const int64_t nObs = static_cast<int64_t>(lineOf.size());
    data->variables.clear();
    data->variables.resize(nv);
    for (size_t k = 0; k < nv; ++k) {
        DataSetVariable& var = data->variables[k];
        var.name = names[k];
        const std::string un = upper(names[k]);
        bool character;
        if (haveChar) {
            character = charLengths.count(un) > 0;
        } else {
            character = is_name_variable(un);
            double v;
            for (int64_t i = 0; !character && i < nObs; ++i)
                if (!parse_number(columns[k][i], &v)) character = true;
        }
        var.character = character;
        if (!character) {
            var.length = 8;
            var.numbers.resize(nObs);
            for (int64_t i = 0; i < nObs; ++i) {
                if (!parse_number(columns[k][i], &var.numbers[i])) {
                    *error = "line " + std::to_string(lineOf[i]) + ": value '" + columns[k][i] +
                             "' of numeric variable " + var.name + " is not a number";
                    return false;
                }
            }
            continue;
        }
        size_t longest = 1;
        var.texts.resize(nObs);
        for (int64_t i = 0; i < nObs; ++i) {
            var.texts[i] = rtrim(columns[k][i]);
            longest = std::max(longest, var.texts[i].size());
        }
        if (haveChar) {
            var.length = charLengths[un];
            for (int64_t i = 0; i < nObs; ++i) {
                if (var.texts[i].size() > static_cast<size_t>(var.length)) {
                    *error = "line " + std::to_string(lineOf[i]) + ": value '" + var.texts[i] +
                             "' is longer than the length " + std::to_string(var.length) +
                             " of " + var.name;
                    return false;
                }
            }
        } else {
            // The special variables keep the widths the procedure binds them with.
            size_t base = un == "_TYPE_" ? 8 : is_name_variable(un) ? 32 : 1;
            var.length = static_cast<int32_t>(std::max(base, longest));
        }
    }
    data->nObs = nObs;
    return true;
}

std::string csv_write(const HostDataSet* data) {
    std::string out;
    if (!data->type.empty()) out += "# TYPE=" + trim(one_line(data->type)) + "\n";
    if (!data->label.empty()) out += "# LABEL=" + trim(one_line(data->label)) + "\n";
    // The CHAR line also keeps a numeric _TYPE_ or _NAME_ numeric: without
    // it the reader takes those for character.
    std::string chars;
    bool charLine = false;
    for (const DataSetVariable& v : data->variables) {
        charLine = charLine || v.character || is_name_variable(upper(v.name));
        if (!v.character) continue;
        if (!chars.empty()) chars += ",";
        chars += quote(v.name + ":" + std::to_string(v.length));
    }
    if (charLine) out += "# CHAR=" + chars + "\n";
    for (size_t k = 0; k < data->variables.size(); ++k) {
        if (k) out += ",";
        out += quote(data->variables[k].name);
    }
    out += "\n";
    for (int64_t i = 0; i < data->nObs; ++i) {
        std::string line;
        for (size_t k = 0; k < data->variables.size(); ++k) {
            if (k) line += ",";
            const DataSetVariable& v = data->variables[k];
            line += v.character ? quote(one_line(v.texts[i])) : format_number(v.numbers[i]);
        }
        // A blank line is no observation to the reader: a blank value alone
        // on its line is written quoted.
        if (trim(line).empty()) line = "\"" + line + "\"";
        out += line + "\n";
    }
    return out;
}

}  // namespace velix::platform
