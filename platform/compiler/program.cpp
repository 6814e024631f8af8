// The compiled program's symbols, cells and derivative structure.
//
// Derivative structure: which (expression, variable) pairs can have a
// nonzero derivative.  It is a flow-insensitive data-flow analysis of the
// stack code (Aho et al., "Compilers", 2nd ed., section 9.2): every store
// makes its target depend on the slots that its value was computed from
// (through arithmetic and functions, not through comparisons, logical
// operators, subscripts or the piecewise-constant functions, whose
// derivatives are 0); the transitive closure then gives, for every slot,
// the variables it can depend on.  Ignoring the order of the statements can
// only add pairs, never lose one, so every nonzero derivative has an entry.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/compiler/functions.h"
#include "platform/compiler/program.h"
#include "velix/host.h"

namespace velix::compiler {
namespace {

uint64_t bits_of(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Name equality without regard to case, trailing blanks of `b` ignored.
bool same_name(const CmpSymbol* s, const char* b, int32_t length) {
    while (length > 0 && b[length - 1] == ' ') --length;
    if (s->nameLength != length) return false;
    for (int32_t k = 0; k < length; ++k)
        if (std::toupper(static_cast<unsigned char>(s->name[k])) !=
            std::toupper(static_cast<unsigned char>(b[k])))
            return false;
    return true;
}

// Functions whose derivative is 0 wherever it exists.
bool piecewise_constant(int32_t function) {
    const char* name = function_spec(function).name;
    return std::strcmp(name, "INT") == 0 || std::strcmp(name, "ROUND") == 0 ||
           std::strcmp(name, "SIGN") == 0;
}

using Bits = std::vector<uint64_t>;

void set_bit(Bits* b, int32_t k) { (*b)[static_cast<size_t>(k) >> 6] |= uint64_t{1} << (k & 63); }
bool test_bit(const Bits& b, int32_t k) { return (b[static_cast<size_t>(k) >> 6] >> (k & 63)) & 1u; }
bool merge(Bits* into, const Bits& from) {
    bool changed = false;
    for (size_t w = 0; w < into->size(); ++w) {
        uint64_t n = (*into)[w] | from[w];
        changed |= n != (*into)[w];
        (*into)[w] = n;
    }
    return changed;
}

}  // namespace

Program::Program() {
    missing_ = host_missing_value();
    // The order of the missing values: "._" lowest, then ".", then ".A" to
    // ".Z" (codes 1, 0, 2 .. 27 of the host).
    missingOrder_.push_back(bits_of(host_special_missing(1)));
    missingOrder_.push_back(bits_of(host_special_missing(0)));
    for (int code = 2; code <= 27; ++code) missingOrder_.push_back(bits_of(host_special_missing(code)));
}

Program::~Program() = default;

CmpSymbol* Program::new_symbol(const std::string& name) {
    names_.push_back(std::make_unique<std::string>(name));
    records_.push_back(std::make_unique<CmpSymbol>());
    CmpSymbol* s = records_.back().get();
    s->name = names_.back()->data();
    s->nameLength = static_cast<int16_t>(name.size());
    if (tail_)
        tail_->next = s;
    else
        head_ = s;
    tail_ = s;
    return s;
}

int32_t Program::new_slot(CmpSymbol* symbol) {
    slotSymbol_.push_back(symbol);
    return nSlots_++;
}

void Program::finish_slots() {
    own_ = std::make_unique<double[]>(static_cast<size_t>(std::max(nSlots_, 1)));
    for (int32_t k = 0; k < nSlots_; ++k) {
        own_[k] = missing_;
        CmpSymbol* s = slotSymbol_[k];
        if (s && s->binding != 'a') s->value = &own_[k];
    }
    cells_.assign(static_cast<size_t>(nSlots_), nullptr);
    stack_.assign(static_cast<size_t>(std::max(maxDepth_, 1)), 0.0);
    partials_.assign(static_cast<size_t>(std::max(maxArgs_, 1)), 0.0);
    errorCount_.assign(places_.size(), 0);
    missingCount_.assign(places_.size(), 0);
    reset();
}

CmpSymbol* Program::find(const char* name, int32_t length) const {
    for (CmpSymbol* s = head_; s; s = s->next)
        if (same_name(s, name, length)) return s;
    return nullptr;
}

CmpSymbol* Program::bind(const char* name, int32_t length, double* cell) {
    CmpSymbol* s = find(name, length);
    if (!s) {
        while (length > 0 && name[length - 1] == ' ') --length;
        s = new_symbol(std::string(name, static_cast<size_t>(length)));
    }
    s->value = cell;
    s->binding = 'a';
    return s;
}

double Program::value(const CmpSymbol* symbol) const {
    if (symbol->valueType != 'n' || !symbol->value) return missing_;
    return *symbol->value;
}

bool Program::has_initial_value(const CmpSymbol* symbol) const {
    for (size_t a = 0; a < arrays_.size(); ++a)
        for (size_t e = 0; e < arrayInit_[a].size(); ++e)
            if (arrays_[a][e] == symbol->slot) return true;
    return false;
}

Place Program::first_use(const CmpSymbol* symbol) const {
    for (const Instr& ins : code_) {
        bool uses = ((ins.op == Op::Load || ins.op == Op::Store) && ins.a == symbol->slot);
        if (!uses && (ins.op == Op::LoadA || ins.op == Op::StoreA)) {
            const std::vector<int32_t>& e = arrays_[static_cast<size_t>(ins.a)];
            uses = std::find(e.begin(), e.end(), symbol->slot) != e.end();
        }
        if (uses) return places_[static_cast<size_t>(ins.where)];
    }
    return Place();
}

int32_t Program::compare(double a, double b) const {
    bool ma = host_is_missing(a), mb = host_is_missing(b);
    if (!ma && !mb) return a < b ? -1 : (a > b ? 1 : 0);
    if (ma != mb) return ma ? -1 : 1;
    auto rank = [this](double v) {
        auto it = std::find(missingOrder_.begin(), missingOrder_.end(), bits_of(v));
        return it == missingOrder_.end() ? 1 : static_cast<int32_t>(it - missingOrder_.begin());
    };
    int32_t ra = rank(a), rb = rank(b);
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

void Program::reset() {
    for (int32_t k = 0; k < nSlots_; ++k) {
        CmpSymbol* s = slotSymbol_[k];
        if (!s || s->binding != 'a') own_[k] = missing_;
    }
    // Arrays with initial values start every run from them, so that a run
    // depends only on its inputs.
    for (size_t a = 0; a < arrays_.size(); ++a) {
        const std::vector<double>& init = arrayInit_[a];
        for (size_t e = 0; e < init.size(); ++e) {
            int32_t slot = arrays_[a][e];
            CmpSymbol* s = slotSymbol_[slot];
            if (s->binding != 'a') own_[slot] = init[e];
        }
    }
    std::fill(errorCount_.begin(), errorCount_.end(), 0);
    std::fill(missingCount_.begin(), missingCount_.end(), 0);
    errorTotal_ = 0;
    missingTotal_ = 0;
}

void Program::add_derivatives(CmpDerivArea* area, CmpSymbol* const* exprs, int32_t nExpr,
                              CmpSymbol* const* vars, int32_t nVar) {
    // Direct dependencies of every slot, from a symbolic run of the stack
    // code: each stack entry is the set of slots its value derives from.
    const size_t words = (static_cast<size_t>(nSlots_) + 63) / 64;
    std::vector<Bits> direct(static_cast<size_t>(nSlots_), Bits(words, 0));
    std::vector<Bits> stack;
    Bits none(words, 0);
    for (const Instr& ins : code_) {
        switch (ins.op) {
            case Op::PushK: stack.push_back(none); break;
            case Op::Load: {
                Bits b(words, 0);
                set_bit(&b, ins.a);
                stack.push_back(b);
                break;
            }
            case Op::LoadA: {
                Bits b(words, 0);
                for (int32_t s : arrays_[static_cast<size_t>(ins.a)]) set_bit(&b, s);
                stack.back() = b;  // the subscript carries no derivative
                break;
            }
            case Op::Neg: break;
            case Op::Not: stack.back() = none; break;
            case Op::Add: case Op::Sub: case Op::Mul: case Op::Div: case Op::Pow: {
                Bits r = stack.back();
                stack.pop_back();
                merge(&stack.back(), r);
                break;
            }
            case Op::Eq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt: case Op::Ge:
            case Op::And: case Op::Or:
                stack.pop_back();
                stack.back() = none;
                break;
            case Op::In:
                stack.resize(stack.size() - ins.n);
                stack.back() = none;
                break;
            case Op::Call: {
                Bits r(words, 0);
                for (int32_t k = 0; k < ins.n; ++k) {
                    merge(&r, stack.back());
                    stack.pop_back();
                }
                stack.push_back(piecewise_constant(ins.a) ? none : r);
                break;
            }
            case Op::Store:
                merge(&direct[static_cast<size_t>(ins.a)], stack.back());
                stack.pop_back();
                break;
            case Op::StoreA:
                for (int32_t s : arrays_[static_cast<size_t>(ins.a)])
                    merge(&direct[static_cast<size_t>(s)], stack.back());
                stack.pop_back();
                stack.pop_back();
                break;
            case Op::Jf: case Op::Jt: stack.pop_back(); break;
            case Op::DoTest:
                stack.resize(stack.size() - 2);
                stack.back() = none;
                break;
            default: break;
        }
    }
    // Transitive closure: reach(s) = direct(s) + reach of each slot in it.
    std::vector<Bits> reach = direct;
    for (bool changed = true; changed;) {
        changed = false;
        for (int32_t s = 0; s < nSlots_; ++s)
            for (int32_t t = 0; t < nSlots_; ++t)
                if (t != s && test_bit(reach[s], t)) changed |= merge(&reach[s], reach[t]);
    }

    auto req = std::make_unique<Request>();
    req->area = area;
    // Tangent directions: the union of the variables of all requests.
    std::vector<int32_t> dirOfVar(static_cast<size_t>(nVar), -1);
    for (int32_t v = 0; v < nVar; ++v) {
        int32_t slot = vars[v] ? vars[v]->slot : -1;
        if (slot < 0) continue;
        auto it = std::find(adSlots_.begin(), adSlots_.end(), slot);
        if (it == adSlots_.end()) {
            adSlots_.push_back(slot);
            dirOfVar[v] = static_cast<int32_t>(adSlots_.size()) - 1;
        } else {
            dirOfVar[v] = static_cast<int32_t>(it - adSlots_.begin());
        }
    }
    nd_ = static_cast<int32_t>(adSlots_.size());
    std::vector<int16_t> ex, va;
    for (int32_t e = 0; e < nExpr; ++e) {
        int32_t es = exprs[e] ? exprs[e]->slot : -1;
        if (es < 0) continue;
        for (int32_t v = 0; v < nVar; ++v) {
            int32_t vs = vars[v] ? vars[v]->slot : -1;
            if (vs < 0) continue;
            if (vs == es || test_bit(reach[es], vs)) {
                req->exprSlot.push_back(es);
                req->tangentIdx.push_back(dirOfVar[v]);
                ex.push_back(static_cast<int16_t>(e));
                va.push_back(static_cast<int16_t>(v));
            }
        }
    }
    size_t n = ex.size();
    req->values = std::make_unique<double[]>(std::max<size_t>(n, 1));
    req->exprIndex = std::make_unique<int16_t[]>(std::max<size_t>(n, 1));
    req->varIndex = std::make_unique<int16_t[]>(std::max<size_t>(n, 1));
    for (size_t t = 0; t < n; ++t) {
        req->values[t] = 0.0;
        req->exprIndex[t] = ex[t];
        req->varIndex[t] = va[t];
    }
    area->count = static_cast<int32_t>(n);
    area->values = req->values.get();
    area->exprIndex = req->exprIndex.get();
    area->varIndex = req->varIndex.get();
    area->nExpr = nExpr;
    area->nVar = nVar;
    requests_.push_back(std::move(req));
}

}  // namespace velix::compiler
