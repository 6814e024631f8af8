// The run's output document and its JSON serialisation.  The JSON is written
// by hand (RFC 8259): strings escaped with \" \\ \b \f \n \r \t and \u00XX
// for the other control characters, doubles with 17 significant digits so
// that they read back to the same bits.
#include "platform/output_document.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/format.h"
#include "platform/messages.h"
#include "platform/output.h"
#include "platform/output_file.h"
#include "platform/session.h"
#include "platform/spill.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"

namespace velix::platform {
namespace {

std::vector<OutStep>& steps() {
    static std::vector<OutStep> all;
    return all;
}

// What the run says outside its steps: its own log lines and, once it has
// ended, its return code.
struct RunRecord {
    bool finished = false;
    int32_t returnCode = 0;
    std::vector<OutMessage> messages;
};

RunRecord& run_record() {
    static RunRecord run;
    return run;
}

// The BY group the step is in, and whether the log has named it.
struct CurrentByGroup {
    std::shared_ptr<const OutItem> item;
    bool logged = false;
};

CurrentByGroup& by_group() {
    static CurrentByGroup current;
    return current;
}

// Length of the well-formed UTF-8 sequence at s[i], 0 when there is none.
size_t utf8_sequence(const std::string& s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t n;
    unsigned lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

// A JSON string.  Texts from data sets and cells may hold bytes that are not
// UTF-8 (a Latin-1 label, say); each such byte is written as the code point
// of the same value, so the document stays valid and nothing is lost.
void put_string(std::string* out, const std::string& s) {
    out->push_back('"');
    for (size_t i = 0; i < s.size(); ++i) {
        const char ch = s[i];
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': *out += "\\\""; break;
            case '\\': *out += "\\\\"; break;
            case '\b': *out += "\\b"; break;
            case '\f': *out += "\\f"; break;
            case '\n': *out += "\\n"; break;
            case '\r': *out += "\\r"; break;
            case '\t': *out += "\\t"; break;
            default:
                if (c < 0x20 || (c >= 0x80 && utf8_sequence(s, i) == 0)) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    *out += buf;
                } else if (c >= 0x80) {
                    const size_t n = utf8_sequence(s, i);
                    out->append(s, i, n);
                    i += n - 1;
                } else {
                    out->push_back(ch);
                }
        }
    }
    out->push_back('"');
}

void put_value(std::string* out, const OutValue& v) {
    switch (v.kind) {
        case OutValue::Kind::Null: *out += "null"; break;
        case OutValue::Kind::Int: *out += std::to_string(v.integer); break;
        case OutValue::Kind::Double: *out += json_number(v.real); break;
        case OutValue::Kind::Text: put_string(out, v.text); break;
    }
}

// ,"key":
void put_key(std::string* out, const char* key) {
    out->push_back(',');
    put_string(out, key);
    out->push_back(':');
}

// A text value with, when it came from a numbered message, a sibling
// "<key>Message": {"group":g,"number":n}.
void put_text_field(std::string* out, const char* key, const OutValue& v) {
    put_key(out, key);
    put_value(out, v);
    if (v.messageGroup != 0) {
        put_key(out, (std::string(key) + "Message").c_str());
        *out += "{\"group\":" + std::to_string(v.messageGroup) +
                ",\"number\":" + std::to_string(v.messageNumber) + "}";
    }
}

void put_item(std::string* out, const OutItem& item);

// A message of a step or of the run: group, number, severity and text, and
// the byGroup item of a message of a BY group.
void put_message(std::string* out, const OutMessage& m) {
    *out += "{\"group\":" + std::to_string(m.group) + ",\"number\":" + std::to_string(m.number) +
            ",\"severity\":";
    put_string(out, m.severity);
    *out += ",\"text\":";
    put_string(out, m.text);
    if (m.byGroup) {
        put_key(out, "byGroup");
        put_item(out, *m.byGroup);
    }
    out->push_back('}');
}

void put_messages(std::string* out, const std::vector<OutMessage>& messages) {
    out->push_back('[');
    for (size_t i = 0; i < messages.size(); ++i) {
        if (i) out->push_back(',');
        put_message(out, messages[i]);
    }
    out->push_back(']');
}

void put_named(std::string* out, const NamedValues& list) {
    out->push_back('{');
    bool first = true;
    for (const auto& [name, value] : list) {
        if (!first) out->push_back(',');
        first = false;
        put_string(out, name);
        out->push_back(':');
        put_value(out, value);
    }
    out->push_back('}');
}

void put_labels(std::string* out, const std::vector<std::string>& labels) {
    if (labels.empty()) {
        *out += "null";
        return;
    }
    out->push_back('[');
    for (size_t i = 0; i < labels.size(); ++i) {
        if (i) out->push_back(',');
        put_string(out, labels[i]);
    }
    out->push_back(']');
}

void put_grid(std::string* out, const std::vector<OutValue>& values, int32_t rows, int32_t cols) {
    out->push_back('[');
    for (int32_t i = 0; i < rows; ++i) {
        if (i) out->push_back(',');
        out->push_back('[');
        for (int32_t j = 0; j < cols; ++j) {
            if (j) out->push_back(',');
            const size_t k = static_cast<size_t>(i) * static_cast<size_t>(cols) + static_cast<size_t>(j);
            if (k < values.size())
                put_value(out, values[k]);
            else
                *out += "null";
        }
        out->push_back(']');
    }
    out->push_back(']');
}

const char* type_name(OutItem::Type t) {
    switch (t) {
        case OutItem::Type::Title: return "title";
        case OutItem::Type::GroupOpen: return "groupOpen";
        case OutItem::Type::GroupClose: return "groupClose";
        case OutItem::Type::Table: return "table";
        case OutItem::Type::Matrix: return "matrix";
        case OutItem::Type::Factoid: return "factoid";
        case OutItem::Type::Note: return "note";
        case OutItem::Type::ByGroup: return "byGroup";
    }
    return "unknown";
}

// The name, template path and title of a table, factoid or matrix.
void put_names(std::string* out, const OutItem& item) {
    put_key(out, "name");
    put_string(out, item.name);
    put_key(out, "path");
    put_string(out, item.path);
    put_text_field(out, "title", item.title);
}

void put_item(std::string* out, const OutItem& item) {
    *out += "{\"type\":";
    put_string(out, type_name(item.type));
    switch (item.type) {
        case OutItem::Type::Title:
            put_key(out, "level");
            *out += std::to_string(item.level);
            put_text_field(out, "text", item.title);
            break;
        case OutItem::Type::GroupOpen:
        case OutItem::Type::GroupClose:
            put_key(out, "name");
            put_string(out, item.name);
            put_key(out, "depth");
            *out += std::to_string(item.level);
            if (item.type == OutItem::Type::GroupOpen) put_text_field(out, "label", item.title);
            break;
        case OutItem::Type::Note:
            put_text_field(out, "text", item.title);
            put_key(out, "justify");
            put_string(out, std::string(1, item.justify));
            break;
        case OutItem::Type::ByGroup:
            put_key(out, "group");
            *out += std::to_string(item.level);
            put_text_field(out, "text", item.title);
            put_key(out, "values");
            put_named(out, item.dynamic);
            break;
        case OutItem::Type::Table:
            put_names(out, item);
            put_key(out, "columns");
            out->push_back('[');
            for (size_t j = 0; j < item.columns.size(); ++j) {
                const OutColumn& c = item.columns[j];
                if (j) out->push_back(',');
                *out += "{\"name\":";
                put_string(out, c.name);
                *out += ",\"kind\":" + std::to_string(c.kind) + ",\"width\":" + std::to_string(c.width);
                if (!c.columnTemplate.empty()) {
                    put_key(out, "template");
                    put_string(out, c.columnTemplate);
                }
                if (!c.variables.empty()) {
                    put_key(out, "variables");
                    put_named(out, c.variables);
                }
                out->push_back('}');
            }
            out->push_back(']');
            put_key(out, "rows");
            out->push_back('[');
            for (size_t i = 0; i < item.rows.size(); ++i) {
                if (i) out->push_back(',');
                out->push_back('[');
                for (size_t j = 0; j < item.rows[i].size(); ++j) {
                    if (j) out->push_back(',');
                    put_value(out, item.rows[i][j]);
                }
                out->push_back(']');
            }
            out->push_back(']');
            put_key(out, "dynamic");
            put_named(out, item.dynamic);
            break;
        case OutItem::Type::Factoid:
            put_names(out, item);
            put_key(out, "entries");
            out->push_back('[');
            for (size_t i = 0; i < item.entries.size(); ++i) {
                if (i) out->push_back(',');
                out->push_back('{');
                put_string(out, "label");
                out->push_back(':');
                put_value(out, item.entries[i].label);
                if (item.entries[i].label.messageGroup != 0)
                    *out += ",\"labelMessage\":{\"group\":" +
                            std::to_string(item.entries[i].label.messageGroup) + ",\"number\":" +
                            std::to_string(item.entries[i].label.messageNumber) + "}";
                put_key(out, "value");
                put_value(out, item.entries[i].value);
                out->push_back('}');
            }
            out->push_back(']');
            put_key(out, "dynamic");
            put_named(out, item.dynamic);
            break;
        case OutItem::Type::Matrix:
            put_names(out, item);
            if (item.secondTitle.kind != OutValue::Kind::Null)
                put_text_field(out, "secondTitle", item.secondTitle);
            if (item.description.kind != OutValue::Kind::Null)
                put_text_field(out, "description", item.description);
            put_key(out, "storage");
            put_string(out, item.storage);
            put_key(out, "nRows");
            *out += std::to_string(item.nRows);
            put_key(out, "nColumns");
            *out += std::to_string(item.nColumns);
            put_key(out, "rowLabels");
            put_labels(out, item.rowLabels);
            put_key(out, "columnLabels");
            put_labels(out, item.columnLabels);
            put_key(out, "values");
            if (item.pieces.empty())
                *out += "[]";
            else
                put_grid(out, item.pieces[0].values, item.nRows, item.nColumns);
            put_key(out, "pieces");
            out->push_back('[');
            for (size_t p = 1; p < item.pieces.size(); ++p) {
                if (p > 1) out->push_back(',');
                *out += "{\"label\":";
                put_string(out, item.pieces[p].label);
                put_key(out, "values");
                put_grid(out, item.pieces[p].values, item.nRows, item.nColumns);
                out->push_back('}');
            }
            out->push_back(']');
            put_key(out, "dynamic");
            put_named(out, item.dynamic);
            break;
    }
    out->push_back('}');
}

// Where the records of the steps go.  By default they stay in memory (tests
// read them; output_json serialises them).  The command streams them
// instead (output_stream_json): each item and message is serialised when it
// comes and waits in a spill, and the step's record is written to the
// document's file when the step ends; or, without a document, they are not
// kept at all.  So what a step delivers is not held beyond its own item.
// A document written in place (standard output, a device) cannot be taken
// back once it has begun: its records wait whole in a spill of their own
// until the run ends, and reach it only when nothing of them was lost.
struct Streaming {
    bool on = false;
    std::ostream* json = nullptr;  // null: the records are dropped
    bool inPlace = false;          // the records wait in `document`
    size_t stepsWritten = 0;
    size_t items = 0, messages = 0;  // of the current step
    Spill itemText, messageText;
    Spill document;
    SpillStreamBuf documentBuf{&document};
    std::ostream documentStream{&documentBuf};
    // Where the records of a step go.
    std::ostream& records() { return inPlace ? documentStream : *json; }
};

// The document's file no longer takes it whole: the reason (a full disk, a
// file-size limit) and the temporary folder it happened in, when in one,
// are the document's, as the error that names it says.
void document_lost(std::ostream* json, int reason, const std::string& place) {
    if (auto* buf = dynamic_cast<ReasonFileBuf*>(json->rdbuf()); buf != nullptr && buf->failure == 0) {
        buf->failure = reason;
        buf->failurePlace = place;
    }
    json->setstate(std::ios::badbit);
}

Streaming& streaming() {
    static Streaming s;
    return s;
}

// {"step":N,"returnCode":RC,"output":[ of a step's record; kStepMiddle
// comes between its items and its messages.
std::string step_head(const OutStep& s) {
    return "{\"step\":" + std::to_string(s.number) + ",\"returnCode\":" +
           (s.finished ? std::to_string(s.returnCode) : "null") + ",\"output\":[";
}
constexpr const char* kStepMiddle = "],\"messages\":";

// ],"returnCode":RC,"messages":[...]} after the steps of the document.
void put_run_end(std::string* out) {
    *out += "],\"returnCode\":";
    *out += run_record().finished ? std::to_string(run_record().returnCode) : "null";
    *out += ",\"messages\":";
    put_messages(out, run_record().messages);
    *out += "}\n";
}

// When the document streams, an item or a message of the current step (the
// `count`-th in its list) as `put` writes it, into `spill` (not kept when
// there is no document); false when the document is kept in memory.
template <class Put>
bool streamed(Spill* spill, size_t* count, Put put) {
    const Streaming& st = streaming();
    if (!st.on) return false;
    if (st.json != nullptr) {
        std::string text = *count == 0 ? "" : ",";
        put(&text);
        spill->append(text);
    }
    ++*count;
    return true;
}

// Writes the current step's record to the document's file and forgets it.
void write_streamed_step() {
    Streaming& st = streaming();
    auto& all = steps();
    if (all.empty()) return;
    if (st.json != nullptr) {
        std::ostream& out = st.records();
        out << (st.stepsWritten++ == 0 ? "{\"steps\":[" : ",") << step_head(all.back());
        int reason = 0;
        std::string place;
        bool whole = st.itemText.move_to(&out, &reason, &place);
        out << kStepMiddle << '[';
        whole = st.messageText.move_to(&out, &reason, &place) && whole;
        out << "]}";
        if (!whole) document_lost(st.json, reason, place);
    }
    st.itemText.clear();
    st.messageText.clear();
    st.items = st.messages = 0;
    all.clear();
}

}  // namespace

void set_named(NamedValues* list, const std::string& name, OutValue value) {
    for (auto& entry : *list) {
        if (entry.first == name) {
            entry.second = std::move(value);
            return;
        }
    }
    list->emplace_back(name, std::move(value));
}

std::string json_number(double v) {
    if (host_is_missing(v) || std::isnan(v)) return "null";
    if (std::isinf(v)) return v > 0 ? "1e999" : "-1e999";
    char buf[40];
    return std::string(buf, format_double(buf, sizeof buf, v, 'g', 17));
}

std::string severity_of(const std::string& text) {
    for (const char* word : {"ERROR", "WARNING", "NOTE"}) {
        const size_t n = std::strlen(word);
        if (text.compare(0, n, word) == 0 && text.size() > n && text[n] == ':') return word;
    }
    return "";
}

OutStep& current_step() {
    auto& all = steps();
    if (all.empty() || all.back().finished) {
        OutStep s;
        s.number = session().stepNumber;
        all.push_back(std::move(s));
    }
    return all.back();
}

void deliver_item(OutItem item) {
    render_listing(item);
    OutStep& step = current_step();
    Streaming& st = streaming();
    if (!streamed(&st.itemText, &st.items, [&](std::string* text) { put_item(text, item); }))
        step.items.push_back(std::move(item));
}

void record_message(int32_t group, int32_t number, const std::string& text) {
    OutMessage m;
    m.group = group;
    m.number = number;
    m.severity = severity_of(text);
    m.text = text;
    m.byGroup = by_group().item;
    OutStep& step = current_step();
    Streaming& st = streaming();
    if (!streamed(&st.messageText, &st.messages, [&](std::string* line) { put_message(line, m); }))
        step.messages.push_back(std::move(m));
}

void output_enter_by_group(const OutItem& byGroup) {
    by_group().item = std::make_shared<const OutItem>(byGroup);
    by_group().logged = false;
}

void output_leave_by_group() { by_group() = CurrentByGroup(); }

std::string by_group_log_line() {
    CurrentByGroup& current = by_group();
    if (!current.item || current.logged) return "";
    current.logged = true;
    return format_message(kMsgHost, kMsgHostByGroupLine, current.item->level, current.item->title.text.c_str());
}

void output_begin_step(int stepNumber) {
    output_leave_by_group();
    auto& all = steps();
    const Streaming& st = streaming();
    if (!all.empty() && !all.back().finished && all.back().items.empty() &&
        all.back().messages.empty() && st.items == 0 && st.messages == 0) {
        all.back().number = stepNumber;  // an empty record started on demand
        return;
    }
    if (st.on) write_streamed_step();  // a record started on demand and not ended
    OutStep s;
    s.number = stepNumber;
    all.push_back(std::move(s));
}

void output_end_step(int returnCode) {
    flush_listing();
    OutStep& s = current_step();
    s.returnCode = returnCode;
    s.finished = true;
    if (streaming().on) write_streamed_step();
}

void output_program_message(const std::string& text) {
    OutMessage m;
    m.severity = severity_of(text);
    m.text = text;
    run_record().messages.push_back(std::move(m));
}

void output_end_run(int returnCode) {
    run_record().returnCode = returnCode;
    run_record().finished = true;
}

void output_clear() {
    steps().clear();
    run_record() = RunRecord();
    Streaming& st = streaming();
    st.itemText.clear();
    st.messageText.clear();
    st.document.clear();
    st.items = st.messages = 0;
    st.stepsWritten = 0;
}

void output_stream_json(std::ostream* json, const std::string& folder) {
    output_clear();
    Streaming& st = streaming();
    st.on = true;
    st.json = json;
    st.inPlace = json != nullptr && folder.empty();
    st.itemText.place_in(folder);
    st.messageText.place_in(folder);
    st.document.place_in(folder);
}

void output_keep_json() {
    output_clear();
    streaming().on = false;
    streaming().json = nullptr;
}

void output_write_json(std::ostream* out) {
    Streaming& st = streaming();
    if (!st.on) {
        *out << output_json();
        return;
    }
    write_streamed_step();  // one still running, as output_json gives it
    std::string tail = st.stepsWritten == 0 ? "{\"steps\":[" : "";
    put_run_end(&tail);
    if (!st.inPlace) {
        *out << tail;
        return;
    }
    st.documentStream << tail;
    int reason = 0;
    std::string place;
    // A document that lost a record is not begun at all.
    if (!out->good()) {
        st.document.clear();
    } else if (!st.document.move_to(out, &reason, &place)) {
        document_lost(out, reason, place);
    }
}

std::string output_json() {
    std::string out = "{\"steps\":[";
    const auto& all = steps();
    for (size_t k = 0; k < all.size(); ++k) {
        const OutStep& s = all[k];
        if (k) out.push_back(',');
        out += step_head(s);
        for (size_t i = 0; i < s.items.size(); ++i) {
            if (i) out.push_back(',');
            put_item(&out, s.items[i]);
        }
        out += kStepMiddle;
        put_messages(&out, s.messages);
        out += "}";
    }
    put_run_end(&out);
    return out;
}

}  // namespace velix::platform
