// Test support for the start values: a step that reads a model and the
// moments of its first BY group (the start values then run inside the
// moment step), the same start computed from the default constants alone
// for comparison, and the estimation from either start.
#pragma once

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/model_step.h"
#include "host/host_support.h"
#include "platform/output.h"
#include "procedure/procedure.h"
#include "procedure/startvalues/start_moments.h"
#include "velix/packed_index.h"

namespace velix::testing {

// The text of a file ("" when it cannot be read).
inline std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string fixture_text(const std::string& name) {
    return read_file(std::string(VELIX_SOURCE_DIR) + "/tests/fixtures/" + name);
}

// Solves a x = b (a square, well conditioned) by Gaussian elimination.
inline std::vector<double> solve(std::vector<std::vector<double>> a, std::vector<double> b) {
    const size_t n = b.size();
    for (size_t c = 0; c < n; ++c)
        for (size_t r = c + 1; r < n; ++r) {
            const double f = a[r][c] / a[c][c];
            for (size_t j = c; j < n; ++j) a[r][j] -= f * a[c][j];
            b[r] -= f * b[c];
        }
    std::vector<double> x(n);
    for (size_t i = n; i-- > 0;) {
        double v = b[i];
        for (size_t j = i + 1; j < n; ++j) v -= a[i][j] * x[j];
        x[i] = v / a[i][i];
    }
    return x;
}

// A model step through the moment step of its first BY group.  The
// element values and the start vector the readers left are kept, so that
// the start from the default constants alone can be made again.
struct StartValueStep : ModelStep {
    explicit StartValueStep(const std::string& text) : ModelStep(text) {
        // The listing and the log of the step stay with the test.
        auto& session = velix::platform::session();
        savedListing = session.listing;
        savedLog = session.log;
        session.listing = &listing;
        session.log = &log;
        if (exitCode != -1) return;
        if (xobinit(&ctx.output.kyrAnchor, 0) == 0) {
            KyrArg args[] = {kyr_counted(143, "kyr", 3), kyr_counted(146, "manager", 7),
                             kyr_object(144, nullptr), kyr_int(383, 352)};
            if (wobmth(ctx.output.kyrAnchor, nullptr, 147, 4, args) >= 0) ctx.output.kyrManager = args[2].object;
        }
        readValues.assign(ctx.elements.value, ctx.elements.value + ctx.sizes.nElements);
        readStart.assign(nlp.param.x, nlp.param.x + ctx.sizes.nParmAll);
        df = ctx.moments.modelDf;
        try {
            if (xbynext(ctx.dataSets.dataSetHandle[kRoleData]) == 0 || coscorr(&ctx) != 0) return;
            ready = true;
        } catch (const velix::platform::StepExit& e) {
            exitCode = e.code;
        }
    }

    ~StartValueStep() {
        velix::platform::session().listing = savedListing;
        velix::platform::session().log = savedLog;
    }

    // The start the default step alone makes: the values the readers left,
    // the sample covariances of the exogenous manifest variables, then the
    // start constant.
    void constant_start() {
        std::copy(readValues.begin(), readValues.end(), ctx.elements.value);
        std::copy(readStart.begin(), readStart.end(), nlp.param.x);
        ctx.moments.modelDf = df;
        cosiset(&ctx);
        cosinst(&ctx);
    }
    // The estimation from the current start; the iterations it took (-1
    // when it did not reach a usable solution).
    int32_t iterations_to_converge() {
        int32_t rc = -1;
        try {
            rc = cosmini(&ctx);
        } catch (const velix::platform::StepExit& e) {
            exitCode = e.code;
        }
        return rc == 0 ? static_cast<int32_t>(nlp.run.iteration) : -1;
    }
    // The value of the element of matrix k at (row, column).
    double value_at(int32_t k, int32_t row, int32_t column) const {
        const int32_t e = element_at(k, row, column);
        EXPECT_GE(e, 0) << "matrix " << k << " (" << row << ", " << column << ")";
        return e < 0 ? 0.0 : ctx.elements.value[e];
    }
    double start(const std::string& name) const {
        const auto names = parameters();
        for (size_t p = 0; p < names.size(); ++p)
            if (names[p] == name) return nlp.param.x[p];
        ADD_FAILURE() << "no parameter " << name;
        return 0.0;
    }
    double sample(int32_t i, int32_t j) const { return ctx.arrays.momentMatrix[velix::pk(i, j)]; }
    // The sample moments of the manifest variables in `rows` with those in
    // `cols`.
    std::vector<std::vector<double>> block(const std::vector<int32_t>& rows, const std::vector<int32_t>& cols) const {
        std::vector<std::vector<double>> out;
        for (int32_t r : rows) {
            out.emplace_back();
            for (int32_t c : cols) out.back().push_back(sample(r, c));
        }
        return out;
    }
    // The numbers of the notes of group 352 in the listing of the step.
    std::vector<int32_t> notes() const {
        std::vector<int32_t> out;
        const auto& doc = velix::platform::current_step();
        for (size_t i = &doc == DocumentMarks::step ? DocumentMarks::items : 0; i < doc.items.size(); ++i)
            if (const auto& it = doc.items[i]; it.type == velix::platform::OutItem::Type::Note && it.title.messageGroup == 352)
                out.push_back(it.title.messageNumber);
        return out;
    }
    // The element values back to what the readers left.
    void reset_values() {
        std::copy(readValues.begin(), readValues.end(), ctx.elements.value);
        std::copy(readStart.begin(), readStart.end(), nlp.param.x);
    }

    bool ready = false;
    std::ostringstream listing;
    std::ostream* savedListing = nullptr;
    std::ostream* savedLog = nullptr;
    std::vector<double> readValues, readStart;
    int32_t df = 0;
};

}  // namespace velix::testing
