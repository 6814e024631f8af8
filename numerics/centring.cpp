// The column at which a text starts when it is centred on the print line
// (the host's centring flag of the print-line description).
#include "numerics/centring.h"

#include "velix/host.h"

int32_t zcenter(int32_t width) {
    const PrintLineDescription* d = xpoutl(nullptr, nullptr);
    if (d == nullptr || d->centre == 0 || width > d->lineWidth) return 1;
    return (d->lineWidth - width) / 2 + 1;
}
