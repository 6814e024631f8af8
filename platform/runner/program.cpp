// Program splitting: a small scanner over statements (text up to ";"
// outside quotes and comments) that recognises the statements that frame
// the procedure's steps.  The statements inside a step are left to the
// procedure's own parser.
#include "platform/runner/program.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/format.h"
#include "platform/stop_signals.h"

namespace velix::platform {
namespace {

struct Statement {
    std::string text;     // the statement without its ";", comments blanked
    size_t begin = 0;     // offset of its first non-blank character
    size_t end = 0;       // offset just past its ";" (or the end of the text)
    int line = 1;         // line of its first non-blank character
    // An unclosed comment or quoted text runs to the end of the file: what
    // it is (0 when the statement has none) and the line where it opens.
    const char* unclosed = nullptr;
    int unclosedLine = 0;
};

constexpr const char* kUnclosedComment = "A comment begun with \"/*\" is not closed.";
constexpr const char* kUnclosedQuote = "A quoted text is not closed.";

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Splits into statements.  Comments become blanks so that offsets and line
// numbers are kept; quoted texts may contain ";".
std::vector<Statement> statements(const std::string& src) {
    std::vector<Statement> out;
    size_t i = 0;
    int line = 1;
    const size_t n = src.size();
    while (i < n) {
        // Skip blanks and comments before a statement.
        while (i < n) {
            if (src[i] == '\n') {
                ++line;
                ++i;
            } else if (std::isspace(static_cast<unsigned char>(src[i]))) {
                ++i;
            } else if (src.compare(i, 2, "/*") == 0) {
                size_t e = src.find("*/", i + 2);
                if (e == std::string::npos) {
                    // The rest of the file is an unclosed comment: kept as a
                    // statement of its own so that it is reported, not lost.
                    Statement open;
                    open.begin = i;
                    open.end = n;
                    open.line = line;
                    open.unclosed = kUnclosedComment;
                    open.unclosedLine = line;
                    out.push_back(open);
                    return out;
                }
                e += 2;
                for (size_t k = i; k < e; ++k)
                    if (src[k] == '\n') ++line;
                i = e;
            } else {
                break;
            }
        }
        if (i >= n) break;
        Statement st;
        st.begin = i;
        st.line = line;
        bool comment_statement = src[i] == '*';
        char quote = 0;
        int quoteLine = 0;
        while (i < n) {
            char c = src[i];
            if (c == '\n') ++line;
            if (quote) {
                if (c == quote) quote = 0;
                st.text += c;
                ++i;
                continue;
            }
            if (!comment_statement && (c == '\'' || c == '"')) {
                quote = c;
                quoteLine = line;
                st.text += c;
                ++i;
                continue;
            }
            if (!comment_statement && src.compare(i, 2, "/*") == 0) {
                size_t e = src.find("*/", i + 2);
                if (e == std::string::npos) {
                    st.unclosed = kUnclosedComment;
                    st.unclosedLine = line;
                }
                e = (e == std::string::npos) ? n : e + 2;
                for (size_t k = i + 1; k < e; ++k)
                    if (src[k] == '\n') ++line;
                st.text += ' ';
                i = e;
                continue;
            }
            ++i;
            if (c == ';') break;
            st.text += c;
        }
        st.end = i;
        if (quote) {
            st.unclosed = kUnclosedQuote;
            st.unclosedLine = quoteLine;
        }
        if (!comment_statement) out.push_back(st);
    }
    return out;
}

// The first word of a statement, upper-cased.
std::string first_word(const std::string& text, size_t* after) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    size_t b = i;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_'))
        ++i;
    if (after) *after = i;
    return upper(text.substr(b, i - b));
}

void parse_options(const std::string& rest, ProgramItem* item) {
    size_t i = 0;
    auto skip = [&] {
        while (i < rest.size() && std::isspace(static_cast<unsigned char>(rest[i]))) ++i;
    };
    while (true) {
        skip();
        if (i >= rest.size()) break;
        size_t b = i;
        while (i < rest.size() && !std::isspace(static_cast<unsigned char>(rest[i])) &&
               rest[i] != '=')
            ++i;
        std::string name = upper(rest.substr(b, i - b));
        skip();
        std::string value;
        if (i < rest.size() && rest[i] == '=') {
            ++i;
            skip();
            if (i < rest.size() && (rest[i] == '\'' || rest[i] == '"')) {
                char q = rest[i++];
                size_t e = rest.find(q, i);
                if (e == std::string::npos) e = rest.size();
                value = rest.substr(i, e - i);
                i = (e < rest.size()) ? e + 1 : e;
            } else {
                size_t vb = i;
                while (i < rest.size() && !std::isspace(static_cast<unsigned char>(rest[i]))) ++i;
                value = rest.substr(vb, i - vb);
            }
        }
        if (!name.empty()) item->options.emplace_back(name, value);
    }
}

// The text of a title line: its quoted strings, a doubled quote standing
// for one, joined by a blank (`'A' 'B'` is "A B"); words without quotes
// as they stand.
std::string title_text(const std::string& rest) {
    constexpr const char* kBlanks = " \t\r\n";
    std::string text;
    size_t i = 0;
    while ((i = rest.find_first_not_of(kBlanks, i)) != std::string::npos) {
        if (!text.empty()) text += ' ';
        const char q = rest[i];
        if (q != '\'' && q != '"') {
            const size_t e = std::min(rest.find_first_of("'\"", i), rest.size());
            const size_t last = rest.find_last_not_of(kBlanks, e - 1);
            text += rest.substr(i, last + 1 - i);
            i = e;
            continue;
        }
        for (++i; i < rest.size(); ++i) {
            if (rest[i] != q) {
                text += rest[i];
            } else if (i + 1 < rest.size() && rest[i + 1] == q) {
                text += q;
                ++i;
            } else {
                ++i;
                break;
            }
        }
    }
    return text;
}

// Whether the statement's first word names a title line (TITLE, TITLE2,
// ...); *item receives it, or the error of a line number out of range.
bool title_item(const Statement& st, const std::string& word, size_t after, ProgramItem* item) {
    if (word.rfind("TITLE", 0) != 0 ||
        (word.size() != 5 && word.find_first_not_of("0123456789", 5) != std::string::npos))
        return false;
    item->line = st.line;
    item->kind = ProgramItem::kTitle;
    // More than two digits is no title line (and could overflow).
    item->titleLine = word.size() == 5 ? 1 : word.size() > 7 ? 0 : std::stoi(word.substr(5));
    item->text = title_text(st.text.substr(after));
    if (item->titleLine < 1 || item->titleLine > 10) {
        item->kind = ProgramItem::kError;
        item->text = "TITLE" + word.substr(5) + " is not a title line (1 to 10).";
    }
    return true;
}

}  // namespace

std::vector<ProgramItem> split_program(const std::string& text) {
    // Messages count the lines an editor shows.
    const std::string source = with_lf_line_ends(without_byte_order_mark(text));
    std::vector<ProgramItem> items;
    auto sts = statements(source);
    size_t k = 0;
    while (k < sts.size()) {
        const Statement& st = sts[k];
        size_t after = 0;
        std::string word = first_word(st.text, &after);
        if (word == "PROC") {
            size_t a2 = 0;
            std::string name = first_word(st.text.substr(after), &a2);
            // Collect the step up to RUN; (included), the next PROC, or the end.
            size_t j = k + 1;
            size_t end = st.end;
            while (j < sts.size()) {
                size_t at = 0;
                std::string w = first_word(sts[j].text, &at);
                if (w == "PROC") break;
                // A title line inside the step heads its output too: it is
                // set before the step runs.  The step's parser reads it as
                // well, and places the error of one that is not a quoted
                // text or has a line number out of range.
                ProgramItem title;
                const size_t text = sts[j].text.find_first_not_of(" \t\r\n", at);
                const bool quoted = text == std::string::npos || sts[j].text[text] == '\'' || sts[j].text[text] == '"';
                if (quoted && title_item(sts[j], w, at, &title) && title.kind == ProgramItem::kTitle)
                    items.push_back(std::move(title));
                end = sts[j].end;
                ++j;
                if (w == "RUN" || w == "QUIT") break;
            }
            ProgramItem item;
            item.line = st.line;
            if (name == "VELIX") {
                item.kind = ProgramItem::kStep;
                item.text = source.substr(st.begin, end - st.begin);
            } else {
                // An error, not a warning: a misspelt PROC VELIX would
                // otherwise end the run as a success with nothing run.
                item.kind = ProgramItem::kError;
                item.text = "PROC " + name + " is not known; its step is skipped.";
                item.skippedStep = source.substr(st.begin, end - st.begin);
            }
            items.push_back(std::move(item));
            k = j;
            continue;
        }
        ProgramItem item;
        item.line = st.line;
        if (st.unclosed) {
            // Outside a step nothing else would see it: the rest of the file
            // would vanish without a word.
            item.kind = ProgramItem::kError;
            item.line = st.unclosedLine;
            item.text = st.unclosed;
        } else if (word == "OPTIONS") {
            item.kind = ProgramItem::kOptions;
            parse_options(st.text.substr(after), &item);
        } else if (title_item(st, word, after, &item)) {
            // A title line, or the error of its number.
        } else if (word == "RUN" || word == "QUIT" ||
                   st.text.find_first_not_of(" \t\r\n") == std::string::npos) {
            ++k;
            continue;
        } else if (word.empty()) {
            item.kind = ProgramItem::kError;
            item.text = "A statement outside a PROC VELIX step must begin with a word.";
        } else {
            item.kind = ProgramItem::kError;
            item.text = "Statement " + word + " is not valid outside a PROC VELIX step.";
        }
        items.push_back(std::move(item));
        ++k;
    }
    return items;
}

ProgramRead read_program_file(const std::string& path, std::string* text, int* error) {
    text->clear();
    // Opened without waiting for a named pipe's writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return ProgramRead::kUnreadable;
    }
    struct stat st;
    ProgramRead result = ProgramRead::kWhole;
    if (::fstat(fd, &st) != 0) {
        *error = errno;
        result = ProgramRead::kUnreadable;
    } else if (S_ISDIR(st.st_mode)) {
        *error = EISDIR;
        result = ProgramRead::kUnreadable;
    } else if (S_ISREG(st.st_mode)) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    } else if (S_ISFIFO(st.st_mode) && !wait_readable(fd)) {
        // A named pipe without a writer reads as empty: its writer first.
        result = ProgramRead::kStopped;
    }
    char buf[1 << 16];
    while (result == ProgramRead::kWhole) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got > 0) {
            text->append(buf, static_cast<size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno == EAGAIN) {
            if (!wait_readable(fd)) result = ProgramRead::kStopped;
        } else if (errno != EINTR) {
            *error = errno;
            result = ProgramRead::kUnreadable;
        }
    }
    ::close(fd);
    return result;
}

}  // namespace velix::platform
