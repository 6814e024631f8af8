// The platform's two text destinations: the log and the listing.  Both take
// text of one or more lines ('\n' separates them; a final '\n' ends the last
// line rather than opening an empty one).  The listing counts its lines so
// that the print services can tell how much of a page is left.
#pragma once

#include <cstdint>
#include <string>

namespace velix::platform {

void write_log(const std::string& text);
void write_listing(const std::string& text);

// Listing line and page sizes from the LINESIZE and PAGESIZE options.
int32_t listing_line_size();
int32_t listing_page_size();

// The horizontal rule character: the second character of FORMCHAR.
char rule_character();

}  // namespace velix::platform
