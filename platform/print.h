// The platform's two text destinations: the log and the listing.  Both take
// text of one or more lines ('\n' separates them; a final '\n' ends the last
// line rather than opening an empty one).  The listing counts its lines so
// that the print services can tell how much of a page is left.
#pragma once

#include <cstdint>
#include <string>

namespace velix::platform {

// The log.  Every ERROR, WARNING and NOTE line also becomes a message of
// the current step's document, so that a reader of the document alone
// sees what the log says; a numbered message (group and number not 0) is
// recorded whatever its severity.
void write_log(const std::string& text, int32_t group = 0, int32_t number = 0);
void write_listing(const std::string& text);

// The valid ranges of the LINESIZE and PAGESIZE options (characters,
// lines); the defaults are those of the option table.
constexpr int32_t kLineSizeMin = 64, kLineSizeMax = 256, kLineSizeDefault = 132;
constexpr int32_t kPageSizeMin = 15, kPageSizeMax = 32767, kPageSizeDefault = 60;

// Listing line and page sizes from the LINESIZE and PAGESIZE options; a
// value outside its range takes the default.
int32_t listing_line_size();
int32_t listing_page_size();

// The horizontal rule character: the second character of FORMCHAR.
char rule_character();

}  // namespace velix::platform
