// Data sets of a step and their BY groups.  An input data set is scanned
// when it is opened; its observations are then read in order, from the
// values it holds or again from its file, and a BY group is a run of
// observations with equal values of the BY variables, found as they are
// read: a group ends where an observation's BY values differ from those of
// its first.  The module walks DATA= group by group (xbynext) and keeps
// each other input data set on the group with the same BY values
// (xbysync), so those are matched by value, not by position: one in the
// order of DATA= is followed, any other has its groups listed once, by a
// scan, and sorted by their values, so that each is found by a binary
// search whatever the order.  Output data sets
// collect the rows of a BY group in memory and add them to the lines that
// wait for their file when the next group begins.  When the step ends they
// are written as CSV files, each to a scratch file in its own folder that
// is renamed into place (an atomic replacement) only when every one of
// them was written and the step did not fail: a failing step, or one whose
// disk fills, leaves every existing file as it was, and so does a stop the
// user asks for before the renames.
#include "platform/dataset.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_identity.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/output.h"
#include "platform/output_document.h"
#include "platform/output_file.h"
#include "platform/print.h"
#include "platform/session.h"
#include "platform/stop_signals.h"
#include "velix/codes.h"
#include "velix/messages.h"

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

size_t& hold_limit() {
    static size_t limit = kDefaultHoldLimit;
    return limit;
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

// ---- the observation in hand ----

RowPosition first_position(const HostDataSet* d) { return RowPosition{0, d->firstOffset}; }

// Makes observation `at` the one whose values are at hand; *after is the
// position after it.  false past the last observation.  A data set whose
// file no longer gives the records its scan read ends the step.
bool load_row(HostDataSet* d, RowPosition at, RowPosition* after) {
    if (at.obs >= d->nObs) return false;
    if (d->loaded == at.obs) {
        *after = d->loadedNext;
        return true;
    }
    RowPosition next{at.obs + 1, 0};
    if (d->rows && d->rows->read(at.offset, &next.offset) != CsvRows::Read::kRecord) {
        d->loaded = -1;
        write_log(format_message(kMsgHost, kMsgHostDataSetChanged, d->name.c_str(), d->path.c_str()));
        xexit(kLevelBadVariables, 0);
    }
    d->loaded = at.obs;
    d->loadedNext = *after = next;
    return true;
}

double loaded_number(const HostDataSet* d, int variable) {
    return d->rows ? d->rows->numbers[variable] : d->variables[variable].numbers[d->loaded];
}

const std::string& loaded_text(const HostDataSet* d, int variable) {
    return d->rows ? d->rows->texts[variable] : d->variables[variable].texts[d->loaded];
}

// The values at hand are those of the observation last delivered.
void load_current(HostDataSet* d) {
    RowPosition after;
    if (d->currentObs >= 0 && d->loaded != d->currentObs) load_row(d, d->current, &after);
}

// ---- BY values ----

// Whether the observation at hand has the BY values `key`.
bool loaded_has_key(const HostDataSet* d, const ByKey& key) {
    for (size_t k = 0; k < d->byVariables.size(); ++k) {
        const int v = d->byVariables[k];
        const bool character = d->variables[v].character;
        ByValue value;
        if (character) {
            if (loaded_text(d, v) != key[k].text) return false;
            continue;
        }
        value.number = loaded_number(d, v);
        if (!same_by_value(value, key[k], false)) return false;
    }
    return true;
}

ByKey loaded_key(const HostDataSet* d) {
    ByKey key(d->byVariables.size());
    for (size_t k = 0; k < key.size(); ++k) {
        const int v = d->byVariables[k];
        if (d->variables[v].character)
            key[k].text = loaded_text(d, v);
        else
            key[k].number = loaded_number(d, v);
    }
    return key;
}

// Sort rank of a numeric value: "._" < "." < ".A" .. ".Z" < every number.
int missing_rank(double v) {
    int code = missing_code(v);
    if (code < 0) return 100;
    return code == 1 ? 0 : code == 0 ? 1 : code;
}

// -1, 0, 1 as BY values a sort before, with or after b (of the BY
// variables of d).
int compare_keys(const HostDataSet* d, const ByKey& a, const ByKey& b) {
    for (size_t k = 0; k < d->byVariables.size(); ++k) {
        if (d->variables[d->byVariables[k]].character) {
            const int c = a[k].text.compare(b[k].text);
            if (c) return c < 0 ? -1 : 1;
            continue;
        }
        const double x = a[k].number, y = b[k].number;
        const int rx = missing_rank(x), ry = missing_rank(y);
        if (rx != ry) return rx < ry ? -1 : 1;
        if (rx == 100 && x != y) return x < y ? -1 : 1;
    }
    return 0;
}

std::string by_values(const HostDataSet* data, const ByKey& key) {
    std::string s;
    for (size_t k = 0; k < data->byVariables.size(); ++k) {
        const DataSetVariable& v = data->variables[data->byVariables[k]];
        if (!s.empty()) s += " ";
        s += v.name + "=";
        if (v.character) {
            s += key[k].text;
        } else if (host_is_missing(key[k].number)) {
            s += missing_text(key[k].number);
        } else {
            std::ostringstream o;
            o.precision(15);
            o << key[k].number;
            s += o.str();
        }
    }
    return s;
}

// ---- groups ----

// A stop asked for while a data set is opened or read ends the step there:
// what was read of it may be cut anywhere.
void stop_if_asked() {
    if (stop_signal() != 0) xexit(kLevelInterrupted, 0);
}


bool on_group(const HostDataSet* d) { return !d->noGroup && !d->ended && d->group >= 0; }

// Before the first group, with no list of the groups.
void regroup(HostDataSet* d) {
    d->group = -1;
    d->ended = false;
    d->noGroup = false;
    d->endKnown = false;
    d->currentObs = -1;
    d->key.clear();
    d->previousKey.clear();
    d->groups.clear();
    d->groupOrder.clear();
    d->indexed = false;
}

// Delivers the next observation of the current group: false at its end,
// which is then known.
bool advance(HostDataSet* d) {
    // Each observation is a safe point for a stop: a pass over a large
    // group (the moments, the kurtosis, the WLS weights) has no other.
    // The look costs a load of the flag, nothing beside reading the row.
    stop_if_asked();
    d->currentObs = -1;
    if (!on_group(d) || (d->endKnown && d->next.obs >= d->groupEnd.obs)) return false;
    RowPosition after;
    if (!load_row(d, d->next, &after) || (d->next.obs != d->groupBegin.obs && !loaded_has_key(d, d->key))) {
        d->groupEnd = d->next;
        d->endKnown = true;
        return false;
    }
    d->current = d->next;
    d->currentObs = d->next.obs;
    d->next = after;
    return true;
}

// Finds where the current group ends: where the scan found the next one
// to begin, or by reading on to it.
void find_group_end(HostDataSet* d) {
    if (d->endKnown) return;
    const ScanGroups* g = d->scanned.get();
    if (g != nullptr && g->byVariables == d->byVariables && on_group(d) &&
        d->group < static_cast<int64_t>(g->groups.size())) {
        const auto next = static_cast<size_t>(d->group) + 1;
        d->groupEnd = next < g->groups.size() ? g->groups[next].begin : RowPosition{d->nObs, 0};
        d->endKnown = true;
        return;
    }
    RowPosition pos = d->next, after;
    while (load_row(d, pos, &after) && (pos.obs == d->groupBegin.obs || loaded_has_key(d, d->key))) pos = after;
    d->groupEnd = pos;
    d->endKnown = true;
}

// Lists every group of `d` (one scan) unless they are listed.
void list_groups(HostDataSet* d) {
    if (d->indexed) return;
    d->groups.clear();
    RowPosition pos = first_position(d), after;
    while (load_row(d, pos, &after)) {
        if (d->groups.empty() || !loaded_has_key(d, d->groups.back().key)) {
            if (!d->groups.empty()) d->groups.back().end = pos;
            d->groups.push_back(GroupEntry{pos, pos, loaded_key(d)});
        }
        pos = after;
    }
    if (!d->groups.empty()) d->groups.back().end = pos;
    d->groupOrder.resize(d->groups.size());
    for (size_t g = 0; g < d->groups.size(); ++g) d->groupOrder[g] = g;
    std::stable_sort(d->groupOrder.begin(), d->groupOrder.end(), [d](size_t a, size_t b) {
        return compare_keys(d, d->groups[a].key, d->groups[b].key) < 0;
    });
    d->indexed = true;
}

// The listed group of `d` with the BY values `key`: of several, the first
// at or after group `from`, else the first; groups.size() when none.
size_t find_listed_group(const HostDataSet* d, const ByKey& key, size_t from) {
    const auto below = [d](size_t g, const ByKey& k) { return compare_keys(d, d->groups[g].key, k) < 0; };
    const auto above = [d](const ByKey& k, size_t g) { return compare_keys(d, k, d->groups[g].key) < 0; };
    const auto first = std::lower_bound(d->groupOrder.begin(), d->groupOrder.end(), key, below);
    const auto last = std::upper_bound(first, d->groupOrder.end(), key, above);
    if (first == last) return d->groups.size();
    const auto onward = std::lower_bound(first, last, from);
    return onward != last ? *onward : *first;
}

// Puts `d` on its listed group g.
void enter_group(HostDataSet* d, size_t g) {
    const GroupEntry& e = d->groups[g];
    d->group = static_cast<int64_t>(g);
    d->ended = false;
    d->noGroup = false;
    d->groupBegin = d->next = e.begin;
    d->groupEnd = e.end;
    d->endKnown = true;
    d->key = e.key;
    d->currentObs = -1;
}

// Puts `d` on the group after its current one (its first before any) when
// that group has the BY values `key`: a data set in the order of DATA= is
// followed without the list of its groups, which grows with their number.
// false, the data set on the group it was on, otherwise.
bool enter_following_group(HostDataSet* d, const ByKey& key) {
    if (d->indexed || d->noGroup || d->ended) return false;
    RowPosition start = first_position(d), after;
    if (d->group >= 0) {
        find_group_end(d);
        start = d->groupEnd;
    }
    if (!load_row(d, start, &after) || !loaded_has_key(d, key)) return false;
    ++d->group;
    d->key = loaded_key(d);
    d->groupBegin = d->next = start;
    d->endKnown = false;
    d->groupEnd = RowPosition{d->nObs, 0};
    d->currentObs = -1;
    return true;
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
    regroup(data);
}

// Writes `data` to its scratch file `file`; false, with the ERROR line that
// names the file and the reason logged, when it cannot be written whole
// (a read-only folder, a full disk, a file-size limit).
bool write_file(HostDataSet* data, OutputFile* file, const std::string& tag) {
    std::string why;
    if (!file->open(data->path, tag, &why)) {
        write_log(format_message(kMsgHost, kMsgHostOutputNotWritable, data->name.c_str(), data->path.c_str(),
                                 why.c_str()));
        return false;
    }
    std::ostream& out = file->stream();
    out << csv_write_header(data);
    int reason = 0;
    // Rows lost on their way (a full disk) make the file fail for their reason.
    if (!data->spilledRows.move_to(&out, &reason) && file->buffer()->failure == 0)
        file->buffer()->failure = reason != 0 ? reason : EIO;
    out << csv_write_rows(data);
    if (!file->complete(&why)) {
        write_log(format_message(kMsgHost, kMsgHostOutputNotWritable, data->name.c_str(), data->path.c_str(),
                                 why.c_str()));
        return false;
    }
    return true;
}

// Whether a data set without a TYPE holds a square symmetric matrix whose
// first, character, column names its rows after its numeric variables, as
// R's write.csv(cov(d)) writes one, or one such matrix after another with
// their row labels after the columns of their group, as pandas'
// df.groupby(...).cov().to_csv() writes them: kCovariance, kCorrelation (a
// unit diagonal) or kNoMatrix.  Read as raw data, such a file fits a model
// to its rows as observations without a word.
enum class MatrixLook { kNoMatrix, kCovariance, kCorrelation };
MatrixLook matrix_look(HostDataSet* d) {
    // Its upper triangle is held to compare with the rows that follow; a
    // matrix of more variables than any model fits is not looked at.
    constexpr size_t kMostOrder = 500;
    const size_t labels = d->rowLabels ? d->rowLabelColumn : 0;
    const size_t n = d->variables.size() - 1 - labels;
    const auto rows = static_cast<int64_t>(n);
    if (n < 2 || n > kMostOrder || !d->variables[labels].character || d->nObs < rows ||
        d->nObs % rows != 0 || (labels == 0 && d->nObs != rows))
        return MatrixLook::kNoMatrix;
    for (size_t k = labels + 1; k <= labels + n; ++k)
        if (d->variables[k].character) return MatrixLook::kNoMatrix;
    // Symmetric to the digits a writer keeps (R writes 15).
    const auto same = [](double a, double b) { return std::fabs(a - b) <= 1e-12 * std::max(std::fabs(a), std::fabs(b)); };
    std::vector<double> upperPart(n * n);
    bool symmetric = true, unitDiagonal = true;
    RowPosition at = first_position(d), after;
    for (int64_t o = 0; symmetric && o < d->nObs && load_row(d, at, &after); ++o, at = after) {
        const size_t i = static_cast<size_t>(o % rows);
        symmetric = upper(loaded_text(d, static_cast<int>(labels))) == upper(d->variables[labels + 1 + i].name);
        for (size_t j = 0; symmetric && j < n; ++j) {
            const double x = loaded_number(d, static_cast<int>(labels + 1 + j));
            symmetric = !host_is_missing(x) && std::isfinite(x) && (j <= i || (upperPart[i * n + j] = x, true)) &&
                        (j >= i || same(x, upperPart[j * n + i]));
            unitDiagonal = unitDiagonal && (j != i || same(x, 1.0));
        }
    }
    d->loaded = -1;  // the step reads from the first observation
    if (!symmetric) return MatrixLook::kNoMatrix;
    return unitDiagonal ? MatrixLook::kCorrelation : MatrixLook::kCovariance;
}

// The WARNING on a DATA= set without a TYPE that holds a covariance or
// correlation matrix: it is read as raw data, and how to read it as the
// matrix it is.
void warn_of_matrix(HostDataSet* d, bool quoted) {
    const MatrixLook look = matrix_look(d);
    if (look == MatrixLook::kNoMatrix) return;
    const bool corr = look == MatrixLook::kCorrelation;
    const std::string written = quoted ? "\"" + d->name + "\"" : d->name;
    const std::string kind = format_message(kMsgHost, corr ? kMsgHostCorrelation : kMsgHostCovariance);
    if (d->rowLabels && d->rowLabelColumn > 0) {
        const auto order = static_cast<int64_t>(d->variables.size() - 1 - d->rowLabelColumn);
        write_log(format_message(kMsgHost, kMsgHostLooksLikeMatrices, d->name.c_str(), d->nObs / order, kind.c_str(),
                                 static_cast<int32_t>(d->rowLabelColumn + 1), d->nObs, written.c_str(),
                                 corr ? "corr" : "cov"));
        return;
    }
    write_log(format_message(kMsgHost, kMsgHostLooksLikeMatrix, d->name.c_str(), kind.c_str(), d->nObs,
                             written.c_str(), corr ? "corr" : "cov"));
}

// The _TYPE_ values of the rows of a moment data set: its statistic rows
// and its matrix rows (those of a matrix type first).
constexpr const char* kMatrixRowTypes[] = {"CORR", "COV", "UCORR", "UCOV", "SSCP", "SYMATRIX"};
constexpr const char* kStatisticRowTypes[] = {"N", "MEAN", "STD", "USTD", "SUMWGT", "SKEWNESS", "KURTOSIS"};

template <size_t K>
bool one_of(const std::string& value, const char* const (&list)[K]) {
    return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

// A DATA= set without a TYPE whose _TYPE_ values are all those of the rows
// of a moment data set (a matrix whose # TYPE= line was left out): read as
// raw data, its N, STD and matrix rows would be fitted as observations.
// The ERROR that says so and how to read it as the matrix; "" otherwise.
std::string moment_rows_as_raw(HostDataSet* d, bool quoted) {
    const int typeVar = find_variable(d, "_TYPE_");
    if (typeVar < 0 || !d->variables[static_cast<size_t>(typeVar)].character || d->nObs == 0) return "";
    std::vector<std::string> seen;
    RowPosition at = first_position(d), after;
    bool moments = true;
    for (; moments && load_row(d, at, &after); at = after) {
        const std::string t = upper(loaded_text(d, typeVar));
        moments = one_of(t, kMatrixRowTypes) || one_of(t, kStatisticRowTypes);
        if (moments && std::find(seen.begin(), seen.end(), t) == seen.end()) seen.push_back(t);
    }
    d->loaded = -1;  // the step reads from the first observation
    if (!moments) return "";
    std::string types, matrixType = "cov";
    for (auto it = seen.rbegin(); it != seen.rend(); ++it)
        if (one_of(*it, kMatrixRowTypes)) {
            matrixType = *it;
            for (char& c : matrixType) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    for (const std::string& t : seen) types += (types.empty() ? "" : ", ") + t;
    const std::string written = quoted ? "\"" + d->name + "\"" : d->name;
    return format_message(kMsgHost, kMsgHostMomentRowsAsRaw, d->name.c_str(), types.c_str(), d->nObs,
                          written.c_str(), matrixType.c_str());
}

// Whether a statement can name the variable: a letter or underscore, then
// letters, digits and underscores (the reader refuses names longer than a
// statement's 32 characters).
bool statement_name(const std::string& name) {
    const auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
    const auto inner = [&](char c) { return letter(c) || std::isdigit(static_cast<unsigned char>(c)); };
    return !name.empty() && letter(name[0]) && std::all_of(name.begin(), name.end(), inner);
}

// The NOTE on the variables of DATA= that no statement can name (R's
// make.names writes "Wr.Hnd", check.names = FALSE keeps "Life Exp"): the
// model and the lists can reach them only once they are renamed.
void note_unnameable(const HostDataSet* d) {
    std::string names;
    int count = 0;
    for (const DataSetVariable& v : d->variables)
        if (!statement_name(v.name)) names += (count++ > 0 ? ", \"" : "\"") + v.name + "\"";
    if (count == 0) return;
    write_log(format_message(kMsgHost, kMsgHostUnnameable, names.c_str(), d->name.c_str(),
                             format_message(kMsgHost, kMsgHostNameRule, count > 1 ? "them" : "it").c_str()));
}

// Opens a data set's file for reading.  A named pipe is opened without
// waiting for its writer (open would wait in the kernel, deaf to a stop),
// then waited for while no stop is asked for, and left non-blocking for
// its reader.  Null when the file cannot be opened or a stop came first;
// *regular whether it is a regular file.
std::FILE* open_for_reading(const std::string& path, bool* regular) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    *regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (*regular) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = nullptr;
    if ((*regular || !S_ISFIFO(st.st_mode) || wait_readable(fd)) && (file = ::fdopen(fd, "rb")) != nullptr)
        return file;
    ::close(fd);
    return nullptr;
}

// Removes the second name of the earlier file of output `data`, if it
// still has one; the log names one that stays.
void forget_earlier_file(const HostDataSet* data, OutputFile* file) {
    std::string why;
    if (!file->forget_old(&why))
        write_log(format_message(kMsgHost, kMsgHostSecondNameLeft, file->kept_name().c_str(), data->name.c_str(),
                                 why.c_str()));
}

// Puts the written output data sets of a step in place, all or none:
//   give every earlier file a second name (none is replaced yet when one
//     cannot be given one: the file cannot be replaced either);
//   replace the files one by one;
//   when one cannot be replaced, put back those replaced before it;
//   remove the second names.
// Logs why a data set could not take its place and, where even putting
// back fails, each data set whose file was left changed (the earlier one
// then keeps its second name), and each second name that could not be
// removed.  true when every file is in place.
bool put_in_place(const std::vector<HostDataSet*>& ready, std::vector<OutputFile>* files) {
    std::string why;
    size_t kept = 0;
    while (kept < ready.size() && (*files)[kept].keep_old(&why)) ++kept;
    size_t replaced = 0;
    if (kept == ready.size())
        while (replaced < ready.size() && (*files)[replaced].replace(&why)) ++replaced;
    if (replaced == ready.size()) {
        for (size_t k = 0; k < ready.size(); ++k) forget_earlier_file(ready[k], &(*files)[k]);
        return true;
    }
    const HostDataSet* failed = ready[kept < ready.size() ? kept : replaced];
    write_log(format_message(kMsgHost, kMsgHostOutputCannotReplace, failed->name.c_str(), failed->path.c_str(),
                             why.c_str()));
    for (size_t k = 0; k < ready.size(); ++k) {
        OutputFile& f = (*files)[k];
        f.discard();
        const char* name = ready[k]->name.c_str();
        if (k >= kept || f.put_back(&why)) {
            write_log(format_message(kMsgHost, kMsgHostOutputNotWritten, name));
            forget_earlier_file(ready[k], &f);
        } else if (f.kept_name().empty())
            write_log(format_message(kMsgHost, kMsgHostOutputNotRemoved, name, ready[k]->path.c_str(), why.c_str()));
        else
            write_log(format_message(kMsgHost, kMsgHostOutputNotPutBack, name, ready[k]->path.c_str(), why.c_str(),
                                     f.kept_name().c_str()));
    }
    return false;
}

// The log's words for a folder of outputs that cannot be locked, and for
// one whose lock another run holds.
void note_unlocked_folder(const std::string& folder, int error) {
    write_log(format_message(kMsgHost, kMsgHostFolderNotLocked, folder.c_str(), std::strerror(error)));
}
void note_folder_wait(const std::string& folder) {
    write_log(format_message(kMsgHost, kMsgHostWaitingForFolder, folder.c_str()));
}

// Whether two paths name one file (file_identity.h): also two names of
// one file not created yet, which the later rename would make one.
bool same_file(const std::string& a, const std::string& b) { return file_identity(a).same_as(file_identity(b)); }

bool is_one_of(const std::string& type, const auto& types) {
    return std::any_of(std::begin(types), std::end(types), [&](const char* t) { return type == t; });
}

// The data set of the step whose file an output at `path` must not take:
// DATA=, raw data or moments alike (OUTSTAT= over moment data keeps only
// the variables and the partial moments of the model, and a BY group that
// fails loses its rows: the user's matrix would be lost); or another
// output (one of the two would overwrite the other).  Inputs of other
// roles may be replaced by updated ones (estimates, a weight matrix).
// null when none.
const HostDataSet* same_file_taken(const std::string& path) {
    for (const auto& other : step_sets().open) {
        const bool data = !other->output && other->role == kRoleData;
        if ((other->output || data) && same_file(other->path, path)) return other.get();
    }
    return nullptr;
}

// The role as a message names it ("data set" alone outside a statement).
const char* role_of(const std::string& role) { return role.empty() ? "Output" : role.c_str(); }

// The error of an output of `role` named `name` that would replace `other`
// (same_file_taken).
std::string file_taken_error(const std::string& role, const std::string& name, const HostDataSet* other,
                             const std::string& path) {
    const char* role_name = role_of(role);
    if (other->output)
        return format_message(kMsgHost, kMsgHostOutputsShareFile, role_name, name.c_str(), role_of(other->role),
                              other->name.c_str(), path.c_str());
    if (!is_one_of(other->type, kMomentDataTypes))
        return format_message(kMsgHost, kMsgHostOutputReplacesData, role_name, name.c_str(), role_of(other->role),
                              other->name.c_str(), path.c_str());
    return format_message(kMsgHost, kMsgHostOutputReplacesMoments, role_name, name.c_str(), role_of(other->role),
                          other->name.c_str(), other->type.c_str(), path.c_str());
}

// The folders the written outputs `files` are put in.
std::vector<std::string> output_folders(const std::vector<OutputFile>& files) {
    std::vector<std::string> folders;
    for (const OutputFile& f : files) folders.push_back(f.folder());
    return folders;
}

// Whether an output of `role` may be named `name` (quoted: a path): not
// an empty path, nor a folder ("."), which could only fail once the step
// has run; *error says why not.
bool output_name_usable(const std::string& name, bool quoted, const std::string& role, std::string* error) {
    if (quoted && name.empty()) {
        *error = format_message(kMsgHost, kMsgHostOutputEmptyName, role.c_str(), role.c_str(), role.c_str());
        return false;
    }
    const std::filesystem::path path = dataset_path(name, quoted);
    const std::string last = path.filename().string();
    std::error_code ec;
    if (last.empty() || last == "." || last == ".." || std::filesystem::is_directory(path, ec)) {
        const std::string folder = path.lexically_normal().string();
        const std::string inside = (path / "est.csv").lexically_normal().string();
        *error = format_message(kMsgHost, kMsgHostOutputNamesFolder, role.c_str(), name.c_str(), folder.c_str(),
                                role.c_str(), inside.c_str());
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

bool known_type(const std::string& type) {
    const std::string t = upper(type);
    return t == "RAM" || t == "WEIGHT" || one_of(t, kMomentDataTypes);
}

std::string known_types() {
    std::string list;
    for (const char* t : kMomentDataTypes) list += std::string(t) + ", ";
    return list + "RAM and WEIGHT";
}

std::string dataset_path(const std::string& name, bool quoted) {
    if (quoted) return name;
    return (std::filesystem::path(session().libraryDir) / (name + ".csv")).string();
}

HostDataSet* dataset_open_input(const std::string& name, bool quoted,
                                const DataSetOptions& options, std::string* error) {
    auto data = std::make_unique<HostDataSet>();
    data->name = name;
    data->path = dataset_path(name, quoted);
    data->role = options.role;
    bool regular = true;
    std::FILE* file = open_for_reading(data->path, &regular);
    if (file == nullptr) {
        stop_if_asked();
        *error = "Data set " + name + " does not exist (no file " + data->path + ").";
        return nullptr;
    }
    // What is not a regular file (a pipe) cannot be read a second time:
    // it is held whatever its size.
    std::string why;
    // A folder opens, but reads as no text at all.
    if (struct stat st; !regular && ::fstat(::fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        *error = "Data set " + name + " (" + data->path + ") cannot be read: " +
                 format_message(kMsgHost, kMsgHostDataSetIsFolder) + ".";
        return nullptr;
    }
    const bool read = csv_scan(file_lines(file), regular ? hold_limit() : std::numeric_limits<size_t>::max(),
                               options.sums ? &options.by : nullptr, data.get(), &why);
    stop_if_asked();
    // Said also of a file that cannot be read: its names may be the line
    // the comment hides.
    if (!data->commentLine.empty())
        write_log(format_message(kMsgHost, kMsgHostCommentLine, data->commentLineNo,
                                 file_name_of(data->path).c_str(), data->commentLine.c_str()));
    if (!read) {
        *error = "Data set " + name + " (" + data->path + ") cannot be read: " + why + ".";
        return nullptr;
    }
    if (data->rowLabels && data->rowLabelColumn == 0)
        write_log(format_message(kMsgHost, kMsgHostRowLabels, file_name_of(data->path).c_str(),
                                 kRowLabelsName));
    else if (data->rowLabels)
        write_log(format_message(kMsgHost, kMsgHostIndexLabels, static_cast<int32_t>(data->rowLabelColumn + 1),
                                 file_name_of(data->path).c_str(), kRowLabelsName));
    if (options.type.empty() && !data->type.empty() && !known_type(data->type)) {
        *error = "Data set " + name + " (" + data->path + ") cannot be read: " +
                 format_message(kMsgHost, kMsgHostUnknownType, ("its # TYPE= line gives TYPE=" + data->type).c_str(),
                                known_types().c_str());
        return nullptr;
    }
    // Only DATA= is analysed as raw data.
    if (options.role == kRoleData && options.type.empty() && data->type.empty()) {
        if (std::string moments = moment_rows_as_raw(data.get(), quoted); !moments.empty()) {
            *error = moments;
            return nullptr;
        }
        warn_of_matrix(data.get(), quoted);
    }
    if (options.role == kRoleData) note_unnameable(data.get());
    if (!options.type.empty()) data->type = upper(options.type);
    if (!step_sets().byNames.empty()) apply_by(data.get(), step_sets().byNames, true);
    return adopt(std::move(data));
}

HostDataSet* dataset_create_output(const std::string& name, bool quoted,
                                   const DataSetOptions& options, std::string* error) {
    if (!output_name_usable(name, quoted, options.role, error)) return nullptr;
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
    data->spilledRows.place_in(dir.empty() ? "." : dir.string());
    data->role = options.role;
    if (const HostDataSet* other = same_file_taken(data->path)) {
        *error = file_taken_error(data->role, name, other, data->path);
        return nullptr;
    }
    data->type = upper(options.type);
    data->typeGiven = !options.type.empty();
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
    regroup(data);
    step_sets().byNames = names;
    for (const auto& other : step_sets().open)
        if (other.get() != data && !other->output) apply_by(other.get(), names, true);
    return true;
}

bool same_by_value(const ByValue& a, const ByValue& b, bool character) {
    if (character) return a.text == b.text;
    if (host_is_missing(a.number) || host_is_missing(b.number))
        return missing_code(a.number) == missing_code(b.number);
    return a.number == b.number;
}

void dataset_set_hold_limit(size_t bytes) { hold_limit() = bytes; }

size_t dataset_hold_limit() { return hold_limit(); }

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
    std::vector<HostDataSet*> ready;
    for (const auto& d : step_sets().open) {
        if (!d->output || !d->defined || d->written) continue;
        d->written = true;
        if (returnCode < 0 || returnCode > kLevelStepEnds)  // negative: a host status ended the step
            write_log(format_message(kMsgHost, kMsgHostOutputAfterFailure, d->name.c_str(), returnCode));
        else if (d->nObs == 0)
            write_log(format_message(kMsgHost, kMsgHostOutputEmpty, d->name.c_str()));
        else
            ready.push_back(d.get());
    }
    std::vector<OutputFile> files(ready.size());
    bool ok = true;
    for (size_t k = 0; k < ready.size(); ++k) {
        HostDataSet* d = ready[k];
        // The rename would put a file in place of a folder or a device;
        // what is written in place (standard output) could not be taken
        // back when another output fails.
        if (output_place(d->path).kind != OutputPlace::kFile) {
            write_log(format_message(kMsgHost, kMsgHostOutputNotAFile, d->name.c_str(), d->path.c_str()));
            ok = false;
        } else if (!write_file(d, &files[k], std::to_string(k))) {
            ok = false;
        }
    }
    // Another run's commit to the same folders is waited for, and waits
    // for this one: each step's outputs come from one run.
    FolderLocks locks;
    if (ok) ok = locks.take(output_folders(files), {note_unlocked_folder, note_folder_wait});
    // A stop asked for before the renames (during that wait too) leaves
    // every file as it was; one that comes during them waits until all are
    // in place: never a mix (only a kill, which cannot wait, may leave one,
    // each file whole).
    if (stop_signal() != 0) ok = false;
    if (ok && put_in_place(ready, &files)) {
        // The step's return code will say that it was stopped, which
        // otherwise means that it wrote none of its outputs.
        if (stop_signal() != 0 && !ready.empty()) {
            std::string names;
            for (const HostDataSet* d : ready) names += (names.empty() ? "" : ", ") + d->name;
            write_log(format_message(kMsgHost, kMsgHostOutputsInPlaceAtStop, names.c_str()));
        }
        return true;
    }
    if (ok) return false;
    for (size_t k = 0; k < ready.size(); ++k) {
        files[k].discard();
        write_log(format_message(kMsgHost, kMsgHostOutputNotWritten, ready[k]->name.c_str()));
    }
    return false;
}

std::string dataset_by_line(const HostDataSet* data) {
    if (data->byVariables.empty() || !on_group(data)) return "";
    return by_values(data, data->key);
}

void dataset_rewind_group(HostDataSet* data) { xbyrwnd(data, kRewindGroup); }

bool dataset_next_row(HostDataSet* data) { return advance(data); }

const double* dataset_numbers(HostDataSet* data) {
    load_current(data);
    if (data->rows) return data->rows->numbers.data();
    data->heldRow.resize(data->variables.size());
    for (size_t k = 0; k < data->variables.size(); ++k) {
        const DataSetVariable& v = data->variables[k];
        data->heldRow[k] = v.character ? host_missing_value() : v.numbers[data->currentObs];
    }
    return data->heldRow.data();
}

double dataset_number(HostDataSet* data, int variable) {
    load_current(data);
    return loaded_number(data, variable);
}

const std::string& dataset_text(HostDataSet* data, int variable) {
    load_current(data);
    return loaded_text(data, variable);
}

bool dataset_on_group(const HostDataSet* data) { return on_group(data); }

size_t dataset_held_bytes(const HostDataSet* data) {
    const auto text_bytes = [](const std::string& t) { return sizeof t + (t.capacity() > 15 ? t.capacity() + 1 : 0); };
    const auto key_bytes = [&](const ByKey& key) {
        size_t bytes = key.capacity() * sizeof(ByValue);
        for (const ByValue& v : key) bytes += v.text.capacity() > 15 ? v.text.capacity() + 1 : 0;
        return bytes;
    };
    size_t bytes = data->heldRow.capacity() * sizeof(double) + key_bytes(data->key) + key_bytes(data->previousKey);
    for (const DataSetVariable& v : data->variables) {
        bytes += v.numbers.capacity() * sizeof(double) + v.texts.capacity() * sizeof(std::string);
        for (const std::string& t : v.texts) bytes += text_bytes(t) - sizeof t;
    }
    for (const GroupEntry& g : data->groups) bytes += sizeof g + key_bytes(g.key);
    bytes += data->groupOrder.capacity() * sizeof(size_t);
    if (data->scanned) {
        const ScanGroups& g = *data->scanned;
        bytes += (g.byVariables.capacity() + g.place.capacity() + g.variables.capacity()) * sizeof(int);
        for (const ScanMoments& m : g.groups)
            bytes += sizeof m + sizeof(double) * (m.sum.capacity() + m.centre.capacity() + m.crossSum.capacity() +
                                                  m.crossCarry.capacity() + m.residSum.capacity() + m.residCarry.capacity());
    }
    if (data->rows) bytes += data->rows->held_bytes();
    return bytes;
}

namespace {

// Announces the group xbynext has reached: its BY line on the listing and,
// with the values by name, in the step's document.
void announce_by_group(const HostDataSet* data) {
    output_release_finished();  // what the groups before this one left
    dataset_spill_outputs();
    OutItem item;
    item.type = OutItem::Type::ByGroup;
    item.level = static_cast<int32_t>(data->group + 1);
    item.title = OutValue::make_text(dataset_by_line(data));
    for (size_t k = 0; k < data->byVariables.size(); ++k) {
        const DataSetVariable& v = data->variables[data->byVariables[k]];
        set_named(&item.dynamic, v.name,
                  v.character ? OutValue::make_text(data->key[k].text) : OutValue::make_double(data->key[k].number));
    }
    output_enter_by_group(item);
    deliver_item(std::move(item));
}

// Ends the step when the group that xbynext has reached sorts before the
// one it left (a DATA= without NOTSORTED).
void check_sorted(const HostDataSet* data) {
    if (data->group < 1 || data->notSorted || data->byVariables.empty()) return;
    if (compare_keys(data, data->key, data->previousKey) >= 0) return;
    write_log(format_message(kMsgHost, kMsgHostDataSetNotSorted, data->name.c_str(), data->groupBegin.obs + 1,
                             by_values(data, data->key).c_str(), by_values(data, data->previousKey).c_str()));
    xexit(kLevelBadVariables, 0);
}

void blank_copy(char* dst, size_t width, const std::string& src) {
    std::memset(dst, ' ', width);
    std::memcpy(dst, src.data(), std::min(width, src.size()));
}

void label_copy(DataSetLabel* label, const std::string& src) {
    blank_copy(label->text, sizeof label->text, src);
    label->length = static_cast<int16_t>(std::min(src.size(), sizeof label->text));
}

}  // namespace

void dataset_spill_outputs() {
    for (const auto& d : step_sets().open) {
        if (!d->output || !d->defined || d->nObs == d->spilledObs) continue;
        d->spilledRows.append(csv_write_rows(d.get()));
        d->spilledObs = d->nObs;
        for (DataSetVariable& v : d->variables) {
            std::vector<double>().swap(v.numbers);
            std::vector<std::string>().swap(v.texts);
        }
    }
}

void dataset_end_step() {
    auto& s = step_sets();
    s.open.clear();
    s.byNames.clear();
}

}  // namespace velix::platform

using velix::platform::DataSetVariable;
using velix::platform::RowPosition;
using velix::platform::blank_copy;
using velix::platform::label_copy;

int32_t xbynext(HostDataSet* data) {
    namespace p = velix::platform;
    if (!data) return 0;
    // The lines of DATA= from here on belong to the next group, or to none.
    if (data->byLines) p::output_leave_by_group();
    data->currentObs = -1;
    if (data->ended) return 0;
    RowPosition start = p::first_position(data), after;
    if (data->group >= 0) {
        p::find_group_end(data);
        start = data->groupEnd;
    }
    // Without BY variables nothing of the observation is needed.
    if (start.obs >= data->nObs || (!data->byVariables.empty() && !p::load_row(data, start, &after))) {
        data->ended = true;
        return 0;
    }
    data->previousKey = std::move(data->key);
    data->key = p::loaded_key(data);
    ++data->group;
    data->noGroup = false;
    data->groupBegin = data->next = start;
    // Without BY variables the one group is the whole data set.
    data->endKnown = data->byVariables.empty();
    data->groupEnd = RowPosition{data->nObs, 0};
    p::check_sorted(data);
    if (data->byLines) p::announce_by_group(data);
    return 1;
}

int32_t xbysync(HostDataSet* first, HostDataSet* second) {
    namespace p = velix::platform;
    if (!first || !second || !p::on_group(first)) return 2;
    second->currentObs = -1;
    if (!first->byVariables.empty()) {
        if (xbylist(first, second) != 0) return 2;
        if (second->byVariables.size() != first->byVariables.size()) {
            std::vector<std::string> names;
            for (int k : first->byVariables) names.push_back(first->variables[k].name);
            p::apply_by(second, names, true);
        }
    }
    if (!first->byVariables.empty() && p::enter_following_group(second, first->key)) return 0;
    p::list_groups(second);
    const size_t n = second->groups.size();
    if (first->byVariables.empty()) {
        // Every observation of the other data set goes with the one group.
        if (n > 0)
            p::enter_group(second, 0);
        else
            second->noGroup = true;
        return 0;
    }
    // Forward from the current group, then from the start.
    const size_t from = static_cast<size_t>(std::clamp<int64_t>(second->group, 0, static_cast<int64_t>(n)));
    const size_t g = p::find_listed_group(second, first->key, from);
    if (g < n) {
        p::enter_group(second, g);
        return 0;
    }
    second->noGroup = true;
    return 1;
}

int32_t xbyrwnd(HostDataSet* data, int32_t code) {
    if (!data) return kDsBadHandle;
    data->currentObs = -1;
    if (code == kRewindGroup) {
        if (velix::platform::on_group(data)) data->next = data->groupBegin;
        return 0;
    }
    if (code == kRewindFile) {
        data->group = -1;
        data->next = velix::platform::first_position(data);
        data->ended = false;
        data->noGroup = false;
        data->endKnown = false;
        data->key.clear();
        data->previousKey.clear();
        return 0;
    }
    return kDsBadArgument;
}

int32_t xbyvars(HostDataSet* data, int32_t count) {
    if (!data) return kDsBadHandle;
    if (count < 0 || static_cast<size_t>(count) > data->variables.size()) return kDsBadArgument;
    std::vector<std::string> names;
    for (int32_t k = 0; k < count; ++k)
        if (!data->rowLabels || static_cast<size_t>(k) != data->rowLabelColumn)
            names.push_back(data->variables[static_cast<size_t>(k)].name);
    velix::platform::apply_by(data, names, true);
    return 0;
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
    if (!velix::platform::advance(slot->handle)) {
        slot->flags &= ~kSlotReading;
        return 0;
    }
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
        case kInfoLabel:
            label_copy(static_cast<DataSetLabel*>(item), data->label);
            return 0;
        case kInfoFullName:
            label_copy(static_cast<DataSetLabel*>(item), data->name);
            return 0;
        case kInfoByValues:
            label_copy(static_cast<DataSetLabel*>(item), velix::platform::dataset_by_line(data));
            return 0;
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
            *static_cast<int32_t*>(item) = 0;
            if (velix::platform::on_group(data)) {
                velix::platform::find_group_end(data);
                *static_cast<int32_t*>(item) = static_cast<int32_t>(data->groupEnd.obs - data->groupBegin.obs);
            }
            return 0;
        default:
            return kDsBadArgument;
    }
}
