// The platform's two text destinations: the log and the listing.  Both take
// text of one or more lines ('\n' separates them; a final '\n' ends the last
// line rather than opening an empty one).  The listing counts its lines so
// that the print services can tell how much of a page is left.
#pragma once

#include <cstdint>
#include <string>

namespace velix::platform {

// The log.  Every ERROR and WARNING line also becomes a message of the
// current step's document, so that a reader of the document alone sees
// what the log says went wrong; a numbered message (group and number not
// 0) is recorded whatever its severity.
void write_log(const std::string& text, int32_t group = 0, int32_t number = 0);
void write_listing(const std::string& text);

// Listing line and page sizes from the LINESIZE and PAGESIZE options.
int32_t listing_line_size();
int32_t listing_page_size();

// The horizontal rule character: the second character of FORMCHAR.
char rule_character();

}  // namespace velix::platform
