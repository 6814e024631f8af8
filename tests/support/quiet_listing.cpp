// Linked into every test executable: the listing of the steps the tests
// run goes nowhere unless a test points it at a stream it reads (the
// fixtures save and restore the session's listing).  Without this the
// printers of every estimation test would write thousands of listing lines
// around the test results.  The log stays on standard error, where it
// explains a failure.
#include <ostream>
#include <streambuf>

#include "platform/session.h"

namespace {

// A stream buffer that accepts every character and keeps none.
class DiscardBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

DiscardBuffer gDiscardBuffer;
std::ostream gDiscard(&gDiscardBuffer);

const bool gQuiet = [] {
    velix::platform::session().listing = &gDiscard;
    return true;
}();

}  // namespace
