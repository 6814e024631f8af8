// Titles on the listing: the text is split at its line breaks (at most
// ten lines are kept) and each line is printed centred on the print line,
// on a new page when the lines would not fit on this one.
#include "numerics/titles.h"

#include <string>

#include "host/message_text.h"
#include "numerics/centring.h"
#include "velix/host.h"

namespace {

constexpr int kMaxTitleLines = 10;

TitleLines& stored_lines() {
    static TitleLines lines;
    return lines;
}

}  // namespace

int32_t zptiti(int32_t flags, const char* text) {
    TitleLines& t = stored_lines();
    t = TitleLines();
    if (text == nullptr) return 0;
    int32_t position = 0;
    const char* piece = nullptr;
    int32_t length = 0;
    while (t.count < kMaxTitleLines && ztxnext(text, -1, &position, "\n", flags, &piece, &length) != 0) {
        t.start[t.count] = static_cast<int16_t>(piece - text);
        t.length[t.count] = static_cast<int16_t>(length);
        ++t.count;
    }
    return t.count + 1;
}

const TitleLines* zptitle_lines() { return &stored_lines(); }

const char* zptitx(const char* text) {
    const TitleLines& t = stored_lines();
    if (text == nullptr) return text;
    PrintLineDescription* d = xpoutl(nullptr, nullptr);
    if (d != nullptr && d->linesLeft < t.count + 1) xppage(0);
    int32_t savedCentre = d != nullptr ? d->centre : 0;
    if (d != nullptr) d->centre = 1;
    for (int i = 0; i < t.count; ++i) {
        int32_t col = zcenter(t.length[i]);
        std::string line(static_cast<size_t>(col - 1), ' ');
        line.append(text + t.start[i], static_cast<size_t>(t.length[i]));
        xpsout("%s", line.c_str());
    }
    if (d != nullptr) d->centre = savedCentre;
    return text;
}

int32_t zptitle(const char* text) {
    int32_t r = zptiti(kSkipEmptyPieces, text);
    if (r > 0) zptitx(text);
    return r;
}
