// A compiled program with its inputs and outputs bound to cells, for the
// statement-compiler tests: runs it, reads the analytic derivatives of the
// outputs with respect to the inputs, and compares them with central finite
// differences.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/compiler/program.h"

namespace velix::compiler::testing {

class Harness {
public:
    Harness(const std::string& text, const std::vector<std::string>& inputs,
            const std::vector<std::string>& outputs)
        : in(inputs.size(), 0.0), out(outputs.size(), 0.0) {
        CmpSource src;
        src.text = text.c_str();
        src.length = static_cast<int32_t>(text.size());
        ok = program.compile(&src, 1, &errors);
        if (!ok) return;
        for (size_t k = 0; k < inputs.size(); ++k)
            inSyms.push_back(program.bind(inputs[k].c_str(), static_cast<int32_t>(inputs[k].size()), &in[k]));
        for (size_t k = 0; k < outputs.size(); ++k)
            outSyms.push_back(program.bind(outputs[k].c_str(), static_cast<int32_t>(outputs[k].size()), &out[k]));
        program.add_derivatives(&area, outSyms.data(), static_cast<int32_t>(outSyms.size()),
                                inSyms.data(), static_cast<int32_t>(inSyms.size()));
    }

    int32_t run(const std::vector<double>& x, bool derivatives = true) {
        in = x;
        program.reset();
        return program.run(derivatives);
    }

    // The analytic Jacobian (outputs x inputs) at the last run.
    std::vector<std::vector<double>> jacobian() const {
        std::vector<std::vector<double>> j(out.size(), std::vector<double>(in.size(), 0.0));
        for (int32_t t = 0; t < area.count; ++t) j[area.exprIndex[t]][area.varIndex[t]] = area.values[t];
        return j;
    }

    // Checks the analytic derivatives at x against central differences
    // with step h (1 + |x_j|); tol is relative to max(1, |derivative|).
    void check_derivatives(const std::vector<double>& x, double tol = 1e-7, double h = 1e-6) {
        ASSERT_EQ(run(x), kCmpRunEnd);
        std::vector<std::vector<double>> j = jacobian();
        for (size_t v = 0; v < x.size(); ++v) {
            double step = h * (1.0 + std::fabs(x[v]));
            std::vector<double> xp = x, xm = x;
            xp[v] += step;
            xm[v] -= step;
            run(xp, false);
            std::vector<double> fp = out;
            run(xm, false);
            std::vector<double> fm = out;
            for (size_t e = 0; e < out.size(); ++e) {
                double fd = (fp[e] - fm[e]) / (2.0 * step);
                double scale = std::max(1.0, std::fabs(fd));
                EXPECT_NEAR(j[e][v], fd, tol * scale)
                    << "d " << e << " / d " << v << " at x[" << v << "] = " << x[v];
            }
        }
        run(x);  // leave the state of x
    }

    Program program;
    bool ok = false;
    std::vector<Diagnostic> errors;
    std::vector<double> in, out;
    std::vector<CmpSymbol*> inSyms, outSyms;
    CmpDerivArea area;
};

}  // namespace velix::compiler::testing
