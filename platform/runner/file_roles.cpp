// The files of a run in their roles, and the check that none the command
// writes is one the run reads or writes in another role (file_roles.h).
#include "platform/runner/file_roles.h"

#include <cctype>
#include <filesystem>

#include <sys/stat.h>

#include "platform/dataset.h"
#include "platform/messages.h"
#include "platform/output_file.h"
#include "platform/parser/lexer.h"
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

// The data sets of one step's PROC statement (its text up to the first
// ";"), appended to *roles.
void add_step_data_sets(const std::string& step, int stepNumber, std::vector<FileRole>* roles) {
    using parser::TokenKind;
    std::vector<parser::Token> t;
    try {
        t = parser::tokenize(step);
    } catch (const parser::LexError&) {
        return;
    }
    for (size_t i = 0; i + 2 < t.size() && !(t[i].kind == TokenKind::kOp && t[i].text == ";"); ++i) {
        const DataSetOption* o = t[i].kind == TokenKind::kName ? data_set_option(t[i].text) : nullptr;
        const parser::Token& name = t[i + 2];
        if (o == nullptr || t[i + 1].kind != TokenKind::kOp || t[i + 1].text != "=" ||
            (name.kind != TokenKind::kName && name.kind != TokenKind::kString))
            continue;
        const std::string path = dataset_path(name.text, name.kind == TokenKind::kString);
        const std::string role = std::string(o->keyword) + "=";
        roles->push_back(
            {o->kind, path,
             format_message(kMsgHost, kMsgHostDataSetRole, role.c_str(), name.text.c_str(), path.c_str(), stepNumber)});
    }
}

// A file as the system knows it: a regular file by its device and inode;
// a file not created yet by its folder's device and inode and its name.
struct FileIdentity {
    bool comparable = false;  // false: not a regular file, or no folder to make it in
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;  // "" for a file that exists
    bool operator==(const FileIdentity& o) const {
        return comparable && o.comparable && device == o.device && inode == o.inode && name == o.name;
    }
};

FileIdentity identity_of(const std::string& path) {
    FileIdentity id;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISREG(st.st_mode)) id = {true, st.st_dev, st.st_ino, ""};
        return id;
    }
    // Where a chain of links leads to a name not created yet, that name is
    // the file the writer creates.
    const std::filesystem::path place = output_place(path).path;
    const std::string folder = place.parent_path().empty() ? "." : place.parent_path().string();
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        id = {true, st.st_dev, st.st_ino, place.filename().string()};
    return id;
}

// Whether the command writes `role` through a descriptor the shell opened
// for it (--listing /dev/stdout, --log /dev/stderr): written in place where
// the shell put it, as its standard output and error would be.
bool shell_descriptor(const FileRole& role) {
    return role.kind == FileRole::kCommandOutput && output_place(role.path).kind == OutputPlace::kDescriptor;
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
    for (const ProgramItem& item : items)
        if (item.kind == ProgramItem::kStep) add_step_data_sets(item.text, ++step, &roles);
    return roles;
}

std::string file_role_clash(const std::vector<FileRole>& roles) {
    std::vector<FileIdentity> ids;
    ids.reserve(roles.size());
    for (const FileRole& r : roles) ids.push_back(identity_of(r.path));
    // Every clash has the program or a command's file on one side: only
    // those are compared with all the others (a long program names
    // thousands of data sets).
    for (size_t a = 0; a < roles.size(); ++a) {
        if (roles[a].kind != FileRole::kCommandOutput && roles[a].kind != FileRole::kProgram) continue;
        for (size_t b = 0; b < roles.size(); ++b)
            if (b != a && ids[a] == ids[b] && exclusive(roles[a], roles[b]))
                return format_message(kMsgHost, kMsgHostOneFileTwoRoles, roles[a].description.c_str(),
                                      roles[b].description.c_str());
    }
    return "";
}

}  // namespace velix::platform
