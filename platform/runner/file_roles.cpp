// The files of a run in their roles, and the check that none the command
// writes is one the run reads or writes in another role (file_roles.h).
//
// The data sets of a step are read from its PROC statement by a scan of
// its own rather than by the statement lexer: a step whose text the lexer
// refuses ("x = 1 # 2;", "3abc", "1e999") still names the user's files,
// and a command file must not replace them while the step's own parse
// reports the fault.
#include "platform/runner/file_roles.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/dataset.h"
#include "platform/file_identity.h"
#include "platform/messages.h"
#include "platform/output_file.h"
#include "velix/messages.h"

namespace velix::platform {
namespace {

struct DataSetOption {
    const char* keyword;
    FileRole::Kind kind;
};

// The PROC options that name a data set (ESTDATA= is INEST= by its other
// name).
constexpr DataSetOption kDataSetOptions[] = {
    {"DATA", FileRole::kDataInput},     {"INRAM", FileRole::kDataInput},    {"INWGT", FileRole::kDataInput},
    {"INEST", FileRole::kDataInput},    {"ESTDATA", FileRole::kDataInput},  {"OUTSTAT", FileRole::kDataOutput},
    {"OUTRAM", FileRole::kDataOutput},  {"OUTWGT", FileRole::kDataOutput},  {"OUTEST", FileRole::kDataOutput},
};

const DataSetOption* data_set_option(const std::string& word) {
    std::string upper = word;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const DataSetOption& o : kDataSetOptions)
        if (upper == o.keyword) return &o;
    return nullptr;
}

bool name_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// A data set's name as the step would take it.
struct DataSetName {
    enum Kind { kNone, kName, kPath, kUnclosed } kind = kNone;
    std::string text;  // kName: the name; kPath: the path
};

// The words of one PROC statement, up to its first ";" outside quoted
// texts and comments: names, "=", quoted texts and the values of data-set
// options.  Any other character is a word of its own that names nothing,
// so that no character stops the scan.
class ProcStatementScan {
public:
    enum Kind { kEnd, kName, kEquals, kOther };

    explicit ProcStatementScan(const std::string& text) : text_(text) {}

    // The next word; *word receives a name.
    Kind next(std::string* word) {
        skip_blanks_and_comments();
        if (pos_ >= text_.size() || text_[pos_] == ';') return kEnd;
        const char c = text_[pos_];
        if (c == '\'' || c == '"') {
            std::string ignored;
            if (!quoted(&ignored)) pos_ = text_.size();
            return kOther;
        }
        if (c == '=') {
            ++pos_;
            return kEquals;
        }
        const size_t begin = pos_;
        // A number that runs into a name ("3abc", "1e999") is one word.
        while (pos_ < text_.size() && name_char(text_[pos_])) ++pos_;
        if (pos_ == begin) {
            ++pos_;
            return kOther;
        }
        *word = text_.substr(begin, pos_ - begin);
        return name_start(c) ? kName : kOther;
    }

    // The value after a data-set option's "=": a quoted path, a name, or a
    // path without quotes (an error of the step that names the file all
    // the same: "../data/hs.csv", "sub/hs", taken as its message shows
    // it, with ".csv" where its last part has no extension).
    DataSetName value() {
        skip_blanks_and_comments();
        DataSetName v;
        line_ = 1 + static_cast<int>(std::count(text_.begin(), text_.begin() + static_cast<long>(pos_), '\n'));
        if (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '"')) {
            v.kind = quoted(&v.text) ? DataSetName::kPath : DataSetName::kUnclosed;
            return v;
        }
        const size_t begin = pos_;
        while (pos_ < text_.size() && std::string_view(" \t\r\n;(\"'").find(text_[pos_]) == std::string_view::npos &&
               text_.compare(pos_, 2, "/*") != 0)
            ++pos_;
        const std::string run = text_.substr(begin, pos_ - begin);
        size_t name = 0;
        while (name < run.size() && name_char(run[name])) ++name;
        if (!run.empty() && (run[0] == '.' || run[0] == '/' || (name_start(run[0]) && name < run.size() && run[name] == '/'))) {
            v.kind = DataSetName::kPath;
            v.text = run;
            if (run.find('.', run.rfind('/') + 1) == std::string::npos) v.text += ".csv";
        } else if (!run.empty() && name_start(run[0])) {
            v.kind = DataSetName::kName;
            v.text = run.substr(0, name);
        }
        return v;
    }

    // The line (from 1) of the last value read.
    int line() const { return line_; }

private:
    void skip_blanks_and_comments() {
        while (pos_ < text_.size()) {
            if (std::isspace(static_cast<unsigned char>(text_[pos_]))) {
                ++pos_;
            } else if (text_.compare(pos_, 2, "/*") == 0) {
                const size_t end = text_.find("*/", pos_ + 2);
                pos_ = end == std::string::npos ? text_.size() : end + 2;
            } else {
                break;
            }
        }
    }

    // The quoted text at pos_ (a doubled quote stands for one); false when
    // it is not closed.
    bool quoted(std::string* out) {
        const char q = text_[pos_++];
        for (; pos_ < text_.size(); ++pos_) {
            if (text_[pos_] != q) {
                *out += text_[pos_];
            } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == q) {
                *out += q;
                ++pos_;
            } else {
                ++pos_;
                return true;
            }
        }
        return false;
    }

    const std::string& text_;
    size_t pos_ = 0;
    int line_ = 1;
};

// The data sets of the PROC statement that begins `step` (at line
// `firstLine` of the program), appended to *roles, each described by
// `describe(option, name, path)`.
template <class Describe>
void add_proc_data_sets(const std::string& step, int firstLine, Describe describe, std::vector<FileRole>* roles) {
    ProcStatementScan scan(step);
    std::string word;
    for (ProcStatementScan::Kind k = scan.next(&word); k != ProcStatementScan::kEnd;) {
        const DataSetOption* o = k == ProcStatementScan::kName ? data_set_option(word) : nullptr;
        k = scan.next(&word);
        if (o == nullptr || k != ProcStatementScan::kEquals) continue;
        const DataSetName name = scan.value();
        const std::string option = std::string(o->keyword) + "=";
        if (name.kind == DataSetName::kUnclosed) {
            roles->push_back({FileRole::kUnknownDataSet, "", option, -1, firstLine + scan.line() - 1});
        } else if (name.kind != DataSetName::kNone) {
            const std::string path = dataset_path(name.text, name.kind == DataSetName::kPath);
            roles->push_back({o->kind, path, describe(option, name.text, path)});
        }
        k = scan.next(&word);
    }
}

FileIdentity identity_of(const FileRole& role) {
    return role.descriptor >= 0 ? descriptor_identity(role.descriptor) : file_identity(role.path);
}

// Whether a role's file may be replaced or emptied by another role: a
// regular file, or a name where one would be made.
bool replaceable(const FileIdentity& id) {
    return id.kind == FileIdentity::kNew || (id.kind == FileIdentity::kExisting && id.regular);
}

// Whether the command writes `role` through a descriptor the shell opened
// for it (standard output, --listing /dev/stdout, --log /dev/stderr):
// written in place where the shell put it, as its standard output and
// error are.
bool shell_descriptor(const FileRole& role) {
    return role.kind == FileRole::kCommandOutput &&
           (role.descriptor >= 0 || output_place(role.path).kind == OutputPlace::kDescriptor);
}

// Whether two roles may not share a file: one the command writes shares
// it with no other role (two written through the shell's descriptors,
// `> all.lst 2>&1`, share it as standard output and error do), and an
// output data set may not replace the program.  (Data sets among
// themselves are checked by their step.)
bool exclusive(const FileRole& a, const FileRole& b) {
    if (shell_descriptor(a) && shell_descriptor(b)) return false;
    if (a.kind == FileRole::kCommandOutput || b.kind == FileRole::kCommandOutput) return true;
    return (a.kind == FileRole::kProgram && b.kind == FileRole::kDataOutput) ||
           (a.kind == FileRole::kDataOutput && b.kind == FileRole::kProgram);
}

}  // namespace

std::vector<FileRole> step_data_set_roles(const std::vector<ProgramItem>& items) {
    std::vector<FileRole> roles;
    int step = 0;
    for (const ProgramItem& item : items) {
        if (item.kind == ProgramItem::kStep) {
            ++step;
            add_proc_data_sets(
                item.text, item.line,
                [&](const std::string& option, const std::string& name, const std::string& path) {
                    return format_message(kMsgHost, kMsgHostDataSetRole, option.c_str(), name.c_str(), path.c_str(), step);
                },
                &roles);
        } else if (item.kind == ProgramItem::kError && !item.skippedStep.empty()) {
            std::string proc;
            ProcStatementScan heading(item.skippedStep);
            heading.next(&proc);  // "proc"
            proc.clear();
            heading.next(&proc);  // its name
            for (char& c : proc) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            add_proc_data_sets(
                item.skippedStep, item.line,
                [&](const std::string& option, const std::string& name, const std::string& path) {
                    return format_message(kMsgHost, kMsgHostSkippedStepDataSetRole, option.c_str(), name.c_str(),
                                          path.c_str(), proc.c_str(), item.line);
                },
                &roles);
        }
    }
    return roles;
}

std::string file_role_clash(const std::vector<FileRole>& roles) {
    std::vector<FileIdentity> ids;
    ids.reserve(roles.size());
    for (const FileRole& r : roles) ids.push_back(identity_of(r));
    // A data set whose file cannot be known could be any file the command
    // would replace or empty.
    for (const FileRole& u : roles) {
        if (u.kind != FileRole::kUnknownDataSet) continue;
        for (size_t c = 0; c < roles.size(); ++c)
            if (roles[c].kind == FileRole::kCommandOutput && !shell_descriptor(roles[c]) && replaceable(ids[c]))
                return format_message(kMsgHost, kMsgHostDataSetUnclosedName, u.description.c_str(), u.line,
                                      roles[c].description.c_str());
    }
    // Every clash has the program or a command's file on one side: only
    // those are compared with all the others (a long program names
    // thousands of data sets).
    for (size_t a = 0; a < roles.size(); ++a) {
        if (roles[a].kind != FileRole::kCommandOutput && roles[a].kind != FileRole::kProgram) continue;
        for (size_t b = 0; b < roles.size(); ++b)
            if (b != a && replaceable(ids[a]) && ids[a].same_as(ids[b]) && exclusive(roles[a], roles[b]))
                return format_message(kMsgHost, kMsgHostOneFileTwoRoles, roles[a].description.c_str(),
                                      roles[b].description.c_str());
    }
    return "";
}

}  // namespace velix::platform
