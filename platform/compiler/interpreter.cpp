// The stack-code interpreter with forward-mode automatic differentiation
// (Griewank and Walther, "Evaluating Derivatives", 2nd ed., section 3.1):
// beside every value on the stack and in every slot it carries the tangent
// vector of the value's derivatives with respect to the requested
// variables, and applies the chain rule at each operation.  Because the
// tangents follow the path the run takes, derivatives are exact through
// branches and loops; the derivative of a comparison, a logical operation,
// a subscript or a piecewise-constant function is 0.
//
// Missing values: an arithmetic operation or function with a missing
// operand gives the missing value "." and is counted at its place;
// comparisons order the missing values below every number; AND, OR and NOT
// take a missing value as false.  An invalid operation (division by 0,
// LOG of a nonpositive number, an overflow, ...) gives "." and is counted as
// an error at its place.  The tangent of a missing value is meaningless and
// never read: the derivative areas show the missing value instead.
//
// Every backward jump (a loop iteration) is counted: past
// kMaxLoopIterations, or once the time limit has passed, the run stops
// with an execution fault at the loop's place instead of hanging.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/compiler/functions.h"
#include "platform/compiler/program.h"
#include "velix/host.h"

namespace velix::compiler {
namespace {

// LINK may nest this deep; deeper means a LINK loop without RETURN.
constexpr size_t kMaxLinkDepth = 1000;

bool truth(double v) { return !host_is_missing(v) && v != 0.0; }

}  // namespace

void Program::prepare_tangents() {
    symTangent_.assign(static_cast<size_t>(nSlots_) * static_cast<size_t>(nd_), 0.0);
    stackTangent_.assign(static_cast<size_t>(std::max(maxDepth_, 1)) * static_cast<size_t>(nd_), 0.0);
    for (int32_t k = 0; k < nd_; ++k)
        symTangent_[static_cast<size_t>(adSlots_[static_cast<size_t>(k)]) * nd_ + k] = 1.0;
}

void Program::set_time_limit(double seconds) {
    timeLimited_ = std::isfinite(seconds) && seconds > 0.0;
    if (timeLimited_)
        deadline_ = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(std::min(seconds, 1e9)));
}

int32_t Program::run(bool derivatives) {
    for (int32_t k = 0; k < nSlots_; ++k) {
        CmpSymbol* s = slotSymbol_[k];
        cells_[k] = s && s->value ? s->value : &own_[k];
    }
    std::fill(errorCount_.begin(), errorCount_.end(), 0);
    std::fill(missingCount_.begin(), missingCount_.end(), 0);
    errorTotal_ = 0;
    missingTotal_ = 0;
    fault_ = kFaultNone;
    linkStack_.clear();
    bool ad = derivatives && nd_ > 0;
    int32_t result;
    if (ad) {
        prepare_tangents();
        result = execute<true>();
        for (const auto& req : requests_) {
            for (size_t t = 0; t < req->exprSlot.size(); ++t) {
                int32_t slot = req->exprSlot[t];
                double v = *cells_[slot];
                req->values[t] = host_is_missing(v)
                                     ? missing_
                                     : symTangent_[static_cast<size_t>(slot) * nd_ + req->tangentIdx[t]];
            }
        }
    } else {
        result = execute<false>();
    }
    return result;
}

template <bool AD>
int32_t Program::execute() {
    double* st = stack_.data();
    const int32_t nd = nd_;
    double* T = AD ? stackTangent_.data() : nullptr;
    double* S = AD ? symTangent_.data() : nullptr;
    double* partials = partials_.data();
    int32_t sp = 0;
    const Instr* code = code_.data();
    const int32_t end = static_cast<int32_t>(code_.size());
    int32_t pc = 0;

    auto tan = [&](int32_t pos) { return T + static_cast<size_t>(pos) * nd; };
    auto note_missing = [&](int32_t where) {
        ++missingCount_[static_cast<size_t>(where)];
        ++missingTotal_;
    };
    auto note_error = [&](int32_t where) {
        ++errorCount_[static_cast<size_t>(where)];
        ++errorTotal_;
    };
    auto fault = [&](FaultCode f, int32_t where) {
        fault_ = f;
        faultPlace_ = places_[static_cast<size_t>(where)];
        return static_cast<int32_t>(kCmpRunFault);
    };
    // The element slot of an array subscript, or -1.
    auto element = [&](int32_t array, double index) -> int32_t {
        const std::vector<int32_t>& e = arrays_[static_cast<size_t>(array)];
        if (host_is_missing(index) || !(index >= 1.0) || index >= static_cast<double>(e.size()) + 1.0)
            return -1;
        return e[static_cast<size_t>(index) - 1];
    };

    // A jump to `target` from the current instruction: a backward one is a
    // loop iteration, counted against the cap and, every 1024 iterations
    // (the clock is slow beside an instruction), the time limit.
    int64_t iterations = 0;
    auto jump = [&](int32_t target, int32_t where) -> int32_t {
        if (target <= pc) {
            ++iterations;
            if (iterations > kMaxLoopIterations) return fault(kFaultLoopCap, where);
            if (timeLimited_ && iterations % 1024 == 1 && std::chrono::steady_clock::now() > deadline_)
                return fault(kFaultTimeLimit, where);
        }
        pc = target;
        return kCmpRunEnd;
    };

    while (pc < end) {
        const Instr& in = code[pc];
        switch (in.op) {
            case Op::PushK:
                st[sp] = in.k;
                if constexpr (AD) std::fill_n(tan(sp), nd, 0.0);
                ++sp;
                break;
            case Op::Load:
                st[sp] = *cells_[in.a];
                if constexpr (AD) std::memcpy(tan(sp), S + static_cast<size_t>(in.a) * nd, sizeof(double) * nd);
                ++sp;
                break;
            case Op::LoadA: {
                int32_t slot = element(in.a, st[sp - 1]);
                if (slot < 0) return fault(kFaultSubscript, in.where);
                st[sp - 1] = *cells_[slot];
                if constexpr (AD) std::memcpy(tan(sp - 1), S + static_cast<size_t>(slot) * nd, sizeof(double) * nd);
                break;
            }
            case Op::Neg:
                if (host_is_missing(st[sp - 1])) {
                    note_missing(in.where);
                    st[sp - 1] = missing_;
                } else {
                    st[sp - 1] = -st[sp - 1];
                    if constexpr (AD) {
                        double* t = tan(sp - 1);
                        for (int32_t k = 0; k < nd; ++k) t[k] = -t[k];
                    }
                }
                break;
            case Op::Not:
                st[sp - 1] = truth(st[sp - 1]) ? 0.0 : 1.0;
                if constexpr (AD) std::fill_n(tan(sp - 1), nd, 0.0);
                break;
            case Op::Add: case Op::Sub: case Op::Mul: case Op::Div: case Op::Pow: {
                --sp;
                double a = st[sp - 1], b = st[sp];
                if (host_is_missing(a) || host_is_missing(b)) {
                    note_missing(in.where);
                    st[sp - 1] = missing_;
                    break;
                }
                double v = 0.0, da = 0.0, db = 0.0;  // value and partials
                bool ok = true;
                switch (in.op) {
                    case Op::Add: v = a + b; da = 1.0; db = 1.0; break;
                    case Op::Sub: v = a - b; da = 1.0; db = -1.0; break;
                    case Op::Mul: v = a * b; da = b; db = a; break;
                    case Op::Div:
                        if (b == 0.0) {
                            ok = false;
                            break;
                        }
                        v = a / b;
                        da = 1.0 / b;
                        db = -v / b;
                        break;
                    default:  // Pow
                        if ((a == 0.0 && b < 0.0) || (a < 0.0 && b != std::trunc(b))) {
                            ok = false;
                            break;
                        }
                        v = std::pow(a, b);
                        da = b == 0.0 ? 0.0 : b * std::pow(a, b - 1.0);
                        // d/db a**b = a**b ln a, defined for a > 0; its limit
                        // at a = 0 (b > 0) is 0.
                        db = a > 0.0 ? v * std::log(a) : 0.0;
                        break;
                }
                if (!ok || !std::isfinite(v)) {
                    note_error(in.where);
                    st[sp - 1] = missing_;
                    break;
                }
                st[sp - 1] = v;
                if constexpr (AD) {
                    double* ta = tan(sp - 1);
                    const double* tb = tan(sp);
                    for (int32_t k = 0; k < nd; ++k) {
                        double r = 0.0;
                        if (ta[k] != 0.0) r += da * ta[k];
                        if (tb[k] != 0.0) r += db * tb[k];
                        ta[k] = r;
                    }
                }
                break;
            }
            case Op::Eq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt: case Op::Ge: {
                --sp;
                int32_t c = compare(st[sp - 1], st[sp]);
                bool r = false;
                switch (in.op) {
                    case Op::Eq: r = c == 0; break;
                    case Op::Ne: r = c != 0; break;
                    case Op::Lt: r = c < 0; break;
                    case Op::Le: r = c <= 0; break;
                    case Op::Gt: r = c > 0; break;
                    default: r = c >= 0; break;
                }
                st[sp - 1] = r ? 1.0 : 0.0;
                if constexpr (AD) std::fill_n(tan(sp - 1), nd, 0.0);
                break;
            }
            case Op::And: case Op::Or: {
                --sp;
                bool a = truth(st[sp - 1]), b = truth(st[sp]);
                st[sp - 1] = (in.op == Op::And ? (a && b) : (a || b)) ? 1.0 : 0.0;
                if constexpr (AD) std::fill_n(tan(sp - 1), nd, 0.0);
                break;
            }
            case Op::In: {
                sp -= in.n;
                double x = st[sp - 1];
                bool found = false;
                for (int32_t k = 0; k < in.n && !found; ++k) found = compare(x, st[sp + k]) == 0;
                st[sp - 1] = found ? 1.0 : 0.0;
                if constexpr (AD) std::fill_n(tan(sp - 1), nd, 0.0);
                break;
            }
            case Op::Call: {
                sp -= in.n;
                double v = 0.0;
                FnStatus s = eval_function(in.a, st + sp, in.n, &v, partials);
                if (s != FnStatus::kOk) {
                    if (s == FnStatus::kMissing)
                        note_missing(in.where);
                    else
                        note_error(in.where);
                    st[sp] = missing_;
                    ++sp;
                    break;
                }
                if constexpr (AD) {
                    double* t0 = tan(sp);
                    for (int32_t k = 0; k < nd; ++k) {
                        double r = 0.0;
                        for (int32_t j = 0; j < in.n; ++j) {
                            double tj = tan(sp + j)[k];
                            if (tj != 0.0 && partials[j] != 0.0) r += partials[j] * tj;
                        }
                        t0[k] = r;
                    }
                }
                st[sp] = v;
                ++sp;
                break;
            }
            case Op::Store:
                --sp;
                *cells_[in.a] = st[sp];
                if constexpr (AD) std::memcpy(S + static_cast<size_t>(in.a) * nd, tan(sp), sizeof(double) * nd);
                break;
            case Op::StoreA: {
                sp -= 2;
                int32_t slot = element(in.a, st[sp]);
                if (slot < 0) return fault(kFaultSubscript, in.where);
                *cells_[slot] = st[sp + 1];
                if constexpr (AD) std::memcpy(S + static_cast<size_t>(slot) * nd, tan(sp + 1), sizeof(double) * nd);
                break;
            }
            case Op::Jf: case Op::Jt:
                --sp;
                if (truth(st[sp]) == (in.op == Op::Jt)) {
                    if (jump(in.a, in.where) != kCmpRunEnd) return kCmpRunFault;
                    continue;
                }
                break;
            case Op::Jmp:
                if (jump(in.a, in.where) != kCmpRunEnd) return kCmpRunFault;
                continue;
            case Op::Link:
                if (linkStack_.size() >= kMaxLinkDepth) return fault(kFaultLinkDepth, in.where);
                linkStack_.push_back(pc + 1);
                pc = in.a;
                continue;
            case Op::Ret:
                if (linkStack_.empty()) return kCmpRunEnd;
                pc = linkStack_.back();
                linkStack_.pop_back();
                continue;
            case Op::Stop:
                endPlace_ = places_[static_cast<size_t>(in.where)];
                return kCmpRunStop;
            case Op::Abort:
                endPlace_ = places_[static_cast<size_t>(in.where)];
                return kCmpRunAbort;
            case Op::DoTest: {
                sp -= 2;
                double i = st[sp - 1], e = st[sp], by = st[sp + 1];
                if (host_is_missing(i) || host_is_missing(e) || host_is_missing(by) || by == 0.0)
                    return fault(kFaultDoControl, in.where);
                st[sp - 1] = (by > 0.0 ? i <= e : i >= e) ? 1.0 : 0.0;
                if constexpr (AD) std::fill_n(tan(sp - 1), nd, 0.0);
                break;
            }
            case Op::Fault:
                return fault(static_cast<FaultCode>(in.a), in.where);
        }
        ++pc;
    }
    return kCmpRunEnd;
}

template int32_t Program::execute<true>();
template int32_t Program::execute<false>();

}  // namespace velix::compiler
