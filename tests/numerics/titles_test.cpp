// Titles centred on the captured listing, p-value formatting under each
// PROBSIG setting, and the normal-equations solve against LAPACK's least
// squares.
#include "numerics/titles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "host/message_text.h"
#include "platform/session.h"
#include "velix/host.h"

extern "C" void dgels_(const char* trans, const int* m, const int* n, const int* nrhs, double* a,
                       const int* lda, double* b, const int* ldb, double* work, const int* lwork,
                       int* info);

namespace {

class ListingCapture : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = velix::platform::session();
        savedListing_ = s.listing;
        savedOptions_ = s.options;
        s.listing = &listing_;
        velix::platform::begin_step();
    }
    void TearDown() override {
        velix::platform::end_step();
        auto& s = velix::platform::session();
        s.listing = savedListing_;
        s.options = savedOptions_;
    }
    std::string format(double p) {
        char out[7] = {};
        zprbfmt(p, out);
        return std::string(out, 6);
    }
    std::ostringstream listing_;
    std::ostream* savedListing_ = nullptr;
    std::map<std::string, std::string> savedOptions_;
};

}  // namespace

TEST_F(ListingCapture, TitleLinesAreSplitAndCentred) {
    velix::platform::session().options["LINESIZE"] = "80";
    EXPECT_EQ(zptitle("Fit Summary\nSecond line"), 3);
    std::istringstream in(listing_.str());
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) lines.push_back(l);
    ASSERT_EQ(lines.size(), 2u);
    // Centred: (80 - width)/2 leading blanks.
    EXPECT_EQ(lines[0], std::string((80 - 11) / 2, ' ') + "Fit Summary");
    EXPECT_EQ(lines[1], std::string((80 - 11) / 2, ' ') + "Second line");
    EXPECT_EQ(zptitle(nullptr), 0);
}

TEST_F(ListingCapture, AtMostTenLinesAreKept) {
    std::string text;
    for (int i = 1; i <= 12; ++i) text += "line " + std::to_string(i) + (i < 12 ? "\n" : "");
    EXPECT_EQ(zptiti(0, text.c_str()), 11);
    const TitleLines* t = zptitle_lines();
    EXPECT_EQ(t->count, 10);
    EXPECT_EQ(std::string(text.c_str() + t->start[9], t->length[9]), "line 10");
}

TEST_F(ListingCapture, SplitFlagsDecideWhetherEmptyLinesCount) {
    const char* text = "First\n\nThird";
    EXPECT_EQ(zptiti(0, text), 4);
    EXPECT_EQ(zptitle_lines()->length[1], 0);
    EXPECT_EQ(zptiti(kSkipEmptyPieces, text), 3);
    const TitleLines* t = zptitle_lines();
    EXPECT_EQ(std::string(text + t->start[1], t->length[1]), "Third");
    // zptitle drops the empty line: two printed lines, result 3.
    EXPECT_EQ(zptitle(text), 3);
    EXPECT_EQ(zptitle_lines()->count, 2);
}

TEST_F(ListingCapture, CentringColumnFollowsTheFlag) {
    velix::platform::session().options["LINESIZE"] = "100";
    PrintLineDescription* d = xpoutl(nullptr, nullptr);
    d->centre = 0;
    EXPECT_EQ(zcenter(20), 1);
    d->centre = 1;
    EXPECT_EQ(zcenter(20), 41);
    EXPECT_EQ(zcenter(101), 1);
    d->centre = 0;
}

TEST_F(ListingCapture, TitleNearThePageEndStartsANewPage) {
    auto& opts = velix::platform::session().options;
    opts["PAGESIZE"] = "15";
    xppage(0);  // start from the top of a page
    for (int i = 0; i < 13; ++i) xpsout("filler");
    const int before = xpoutl(nullptr, nullptr)->linesLeft;
    ASSERT_LT(before, 4);
    zptitle("A\nB\nC");
    // After the page break the three title lines are the first of the page.
    EXPECT_EQ(xpoutl(nullptr, nullptr)->linesLeft, 15 - 3);
}

TEST_F(ListingCapture, ProbabilityFormatsUnderProbsig) {
    auto& opts = velix::platform::session().options;
    const double missing = host_missing_value();
    opts["PROBSIG"] = "0";
    EXPECT_EQ(format(0.00005), "<.0001");
    EXPECT_EQ(format(-0.1), "0.0   ");
    EXPECT_EQ(format(0.0123), "0.0123");
    EXPECT_EQ(format(missing), " .    ");
    opts["PROBSIG"] = "1";
    EXPECT_EQ(format(0.00005), "5.0E-5");
    EXPECT_EQ(format(-0.1), "0.0   ");
    EXPECT_EQ(format(0.5), "0.5000");
    EXPECT_EQ(format(missing), " .    ");
    opts["PROBSIG"] = "2";
    EXPECT_EQ(format(0.0005), ".00050");
    EXPECT_EQ(format(-0.1), ".0    ");
    EXPECT_EQ(format(missing), ".     ");
    EXPECT_EQ(format(0.25), "0.2500");
}

TEST(NormalEquations, MatchesLapackLeastSquares) {
    const int m = 7, n = 3;
    std::vector<double> a(m * n), b(m * n);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < m; ++i) {
            a[j * m + i] = std::sin(1.3 * i + 0.7 * j) + (i == j ? 2.0 : 0.0);
            b[j * m + i] = std::cos(0.4 * i * (j + 1));
        }
    std::vector<double> x(n * n), work(n * (n + 1) / 2 + n);
    ASSERT_EQ(zprcrst(m, n, a.data(), b.data(), x.data(), work.data()), 0);
    std::vector<double> aa = a, bb = b, lw(256);
    int mm = m, nn = n, nr = n, lwork = 256, info = 0;
    dgels_("N", &mm, &nn, &nr, aa.data(), &mm, bb.data(), &mm, lw.data(), &lwork, &info);
    ASSERT_EQ(info, 0);
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j) EXPECT_NEAR(x[k * n + j], bb[k * m + j], 1e-10) << j << " " << k;
}
