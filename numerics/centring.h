// The column at which a text starts when it is centred on the print line.
#pragma once

#include <cstdint>

// 1-based column at which a text of the given width starts when centred
// on the current print line: 1 when the host's centring flag is clear or
// the text is wider than the line, else (line width - width)/2 + 1.
int32_t zcenter(int32_t width);
