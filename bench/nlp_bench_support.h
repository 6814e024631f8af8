// What the optimizer benchmarks share: the work arrays of a problem block
// of n parameters, attached to a fresh block for each run, and a log that
// swallows the convergence notes of the runs, which would swamp the timings.
#pragma once

#include <ostream>
#include <sstream>
#include <vector>

#include "platform/session.h"
#include "velix/nlp.h"

namespace velix::bench {

struct NlpWork {
    explicit NlpWork(size_t n)
        : x(n), xBase(n), gradient(n), gradBase(n), direction(n), work(n), work2(n), check(2 * n + 8),
          hessian(n * (n + 1) / 2), counts(20, 0) {}

    // Sizes p for the arrays and points its vectors at them; the check
    // work and the Hessian are the caller's to attach when it wants them.
    void attach(NlpProblem* p) {
        const auto n = static_cast<int32_t>(x.size());
        p->shape.nParams = n;
        p->shape.packedLen = n * (n + 1) / 2;
        p->param.x = x.data();
        p->work.xBase = xBase.data();
        p->work.gradient = gradient.data();
        p->work.gradBase = gradBase.data();
        p->work.direction = direction.data();
        p->work.workN = work.data();
        p->work.workN2 = work2.data();
        p->opt.critCounts = counts.data();
    }

    std::vector<double> x, xBase, gradient, gradBase, direction, work, work2, check, hessian;
    std::vector<int32_t> counts;
};

// Sends the session log to a string for its lifetime; clear() empties it
// between runs so it does not grow.
class QuietLog {
   public:
    QuietLog() : saved_(velix::platform::session().log) { velix::platform::session().log = &quiet_; }
    ~QuietLog() { velix::platform::session().log = saved_; }
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;
    void clear() { quiet_.str(""); }

   private:
    std::ostringstream quiet_;
    std::ostream* saved_;
};

}  // namespace velix::bench
