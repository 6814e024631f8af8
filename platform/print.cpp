// Print services: the log and listing writers, line and page sizes, print
// destinations and their options, pages and the print-line description.
// The listing is plain text; a new page is an empty line that restarts the
// page's line count (no form feeds, so the listing reads well in a terminal).
#include "platform/print.h"

#include <cstring>
#include <map>
#include <ostream>

#include "platform/output_document.h"
#include "platform/session.h"
#include "velix/host.h"

namespace velix::platform {
namespace {

constexpr int32_t kDestinationLog = -1;
constexpr int32_t kDestinationListing = 0;

struct PrintState {
    int32_t linesOnPage = 0;
    int32_t destination = kDestinationListing;
    std::map<int32_t, std::map<int32_t, int32_t>> destinationOptions;
    PrintLineDescription description;
};

PrintState& state() {
    static PrintState s;
    return s;
}

void reset_state() {
    PrintState& s = state();
    s.destination = kDestinationListing;
    s.destinationOptions.clear();
    s.description = PrintLineDescription{};
}

const StepHooks kPrintHooks("print", reset_state, reset_state);

int32_t option_in_range(const char* name, int32_t lo, int32_t hi, int32_t fallback) {
    double v = 0.0;
    if (xoptngt(name, &v) != 0 || !(v >= lo && v <= hi)) return fallback;
    return static_cast<int32_t>(v);
}

// Writes text as lines, each ended by a line break (a text that ends with
// one, other than the empty text, has its last line ended already), in one
// write; returns the number of lines written.
int32_t write_lines(std::ostream* out, const std::string& text) {
    if (out == nullptr) return 0;
    int32_t lines = 0;
    for (const char* p = text.data(), *end = p + text.size();
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr; ++p)
        ++lines;
    if (!text.empty() && text.back() == '\n') {
        out->write(text.data(), static_cast<std::streamsize>(text.size()));
        return lines;
    }
    static std::string ended;  // kept between calls: the listing writes a line at a time
    ended.assign(text).push_back('\n');
    out->write(ended.data(), static_cast<std::streamsize>(ended.size()));
    return lines + 1;
}

}  // namespace

void write_log(const std::string& text, int32_t group, int32_t number) {
    // The first line of a BY group follows the line that names the group.
    const std::string byLine = by_group_log_line();
    if (!byLine.empty()) write_lines(session().log, byLine);
    if (text.rfind("ERROR:", 0) == 0) ++session().errorLines;
    // Each line reaches the log at once: the user may follow it, and a run
    // that is killed leaves every line it wrote.
    if (write_lines(session().log, text) > 0) session().log->flush();
    // Every numbered message and every line with a severity (the NOTE on
    // the observations a step did not use among them) is a message of the
    // step in the JSON document, as it is a line of the log.
    if (group != 0 || number != 0 || !severity_of(text).empty()) record_message(group, number, text);
}

void write_listing(const std::string& text) {
    flush_listing();
    PrintState& s = state();
    s.linesOnPage += write_lines(session().listing, text);
    const int32_t page = listing_page_size();
    if (s.linesOnPage >= page) s.linesOnPage %= page;
}

int32_t listing_line_size() {
    return option_in_range("LINESIZE", kLineSizeMin, kLineSizeMax, kLineSizeDefault);
}

int32_t listing_page_size() {
    return option_in_range("PAGESIZE", kPageSizeMin, kPageSizeMax, kPageSizeDefault);
}

char rule_character() {
    char formchar[64] = {};
    return xoptcgt("FORMCHAR", formchar, sizeof formchar) >= 2 ? formchar[1] : '-';
}

}  // namespace velix::platform

using namespace velix::platform;

int32_t xpopen(void* printFile) { return 0; }

// xinit hands over the print block's description area.
static_assert(sizeof(PrintLineDescription) <= sizeof(PrintBlock::outputDescription));

PrintLineDescription* xpoutl(void* printFile, void* outputDescription) {
    PrintLineDescription& d = state().description;
    d.lineWidth = listing_line_size();
    d.pageLength = listing_page_size();
    d.linesLeft = d.pageLength - state().linesOnPage;
    if (outputDescription != nullptr) *static_cast<PrintLineDescription*>(outputDescription) = d;
    return &d;
}

int32_t xpprnl(int32_t zero) { return listing_line_size(); }
int32_t xplogl(int32_t zero) { return listing_line_size(); }
int32_t xpmsgl(int32_t zero) { return listing_line_size(); }
int32_t xppagel(int32_t zero) { return listing_page_size(); }

int32_t xpselec(int32_t zero, int32_t destination) {
    // -2 (the default destination) and 0 both select the listing.
    const int32_t previous = state().destination;
    state().destination = destination == kDestinationLog ? kDestinationLog : kDestinationListing;
    return previous;
}

int32_t xpopset(int32_t zero, int32_t option, int32_t value) {
    state().destinationOptions[state().destination][option] = value;
    return 0;
}

void xppage(int32_t zero) {
    flush_listing();
    if (state().linesOnPage > 0) write_listing("");
    state().linesOnPage = 0;
}

void xpskip(int32_t lines) {
    for (int32_t i = 0; i < lines; ++i) {
        if (state().destination == kDestinationLog)
            write_log("");
        else
            write_listing("");
    }
}

void xpoflsh() {
    flush_listing();
    if (session().listing != nullptr) session().listing->flush();
    if (session().log != nullptr) session().log->flush();
}
