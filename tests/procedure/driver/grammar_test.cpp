// The keyword table's invariants and the parser's reading of every statement
// form with the procedure's grammar.
#include "procedure/driver/grammar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/support/statement_fixture.h"

using velix::testing::name_of;
using velix::testing::ParsedStep;

namespace {

std::string keyword_at(const GrammarDescriptor* d, int i) {
    const unsigned char* p = d->keywordNames + d->nameOffsets[i];
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

TEST(KeywordTable, HeaderAndSizes) {
    velix::testing::ensure_step_allocator();
    GrammarDescriptor* d = cosang();
    EXPECT_EQ(d->version, 1);
    EXPECT_EQ(d->nSymbols, 536);
    EXPECT_EQ(d->nNames, 535);
    EXPECT_EQ(d->nActions, 14692);
    EXPECT_EQ(d->nTokenClasses, 19);
    // The packed names end with a 0 byte right after the last name.
    int last = kKeywordCount - 1;
    int end = d->nameOffsets[last] + 1 + d->keywordNames[d->nameOffsets[last]];
    EXPECT_EQ(end, kKeywordNameBytes - 1);
    EXPECT_EQ(d->keywordNames[end], 0);
}

TEST(KeywordTable, OffsetsPointAtLengthBytesAndNamesAscend) {
    velix::testing::ensure_step_allocator();
    GrammarDescriptor* d = cosang();
    int expectedOffset = 0;
    for (int i = 0; i < kKeywordCount; ++i) {
        ASSERT_EQ(d->nameOffsets[i], expectedOffset) << "name " << i;
        EXPECT_EQ(keyword_at(d, i), velix::detail::kKeywordNames[i]);
        expectedOffset += 1 + d->keywordNames[expectedOffset];
        EXPECT_EQ(d->nameOrder[i], i + 1);
    }
    for (int i = 19; i < 533; ++i)
        EXPECT_LT(keyword_at(d, i), keyword_at(d, i + 1)) << "at " << i;  // byte order
    EXPECT_EQ(keyword_at(d, 0), "ENDJB");
    EXPECT_EQ(keyword_at(d, 18), "RESERVED5");
    EXPECT_EQ(keyword_at(d, 534), "$$$");
}

TEST(KeywordTable, ClassBytes) {
    velix::testing::ensure_step_allocator();
    GrammarDescriptor* d = cosang();
    for (int i = 0; i < kKeywordCount; ++i) {
        int expected = i < 10 ? 50 : (i == kKeywordCount - 1 ? 127 : 10);
        EXPECT_EQ(d->nameClasses[i], expected) << "name " << i;
    }
}

TEST(KeywordTable, TwoCallsGiveIndependentEqualDescriptors) {
    velix::testing::ensure_step_allocator();
    GrammarDescriptor* a = cosang();
    GrammarDescriptor* b = cosang();
    EXPECT_NE(a, b);
    EXPECT_EQ(std::memcmp(a, b, sizeof *a), 0);
}

// Every word the grammar uses exists in the keyword table, and every alias
// the grammar maps is an alias spelling of the table whose word exists.
TEST(KeywordTable, GrammarUsesOnlyTableWords) {
    std::set<std::string> words, aliases;
    for (int i = 19; i < kKeywordCount; ++i) {
        std::string n = velix::detail::kKeywordNames[i];
        if (n.size() > 1 && n.back() == '$')
            aliases.insert(n.substr(0, n.size() - 1));
        else
            words.insert(n);
    }
    const StatementGrammar* g = velix::detail::proc_grammar();
    auto check_spec = [&](const StatementSpec& s) {
        // The procedure's own name is stored as an alias spelling.
        if (&s == g->procStatement)
            EXPECT_TRUE(aliases.count(s.keyword)) << s.keyword;
        else
            EXPECT_TRUE(words.count(s.keyword)) << s.keyword;
        for (int i = 0; i < s.nOptions; ++i) {
            EXPECT_TRUE(words.count(s.options[i].keyword)) << s.options[i].keyword;
            for (int k = 0; k < s.options[i].nWords; ++k)
                EXPECT_TRUE(words.count(s.options[i].words[k].word)) << s.options[i].words[k].word;
        }
    };
    check_spec(*g->procStatement);
    for (int i = 0; i < g->nStatements; ++i) check_spec(g->statements[i]);
    for (int i = 0; i < g->nAliases; ++i) {
        EXPECT_TRUE(aliases.count(g->aliases[i].alias)) << g->aliases[i].alias;
        EXPECT_TRUE(words.count(g->aliases[i].full)) << g->aliases[i].full;
    }
}

// No two options of one statement share a flag bit or an option cell.
TEST(KeywordTable, OptionTargetsAreDistinct) {
    const StatementGrammar* g = velix::detail::proc_grammar();
    const StatementSpec& p = *g->procStatement;
    std::set<std::pair<int, int>> bits;
    std::set<int> cells;
    for (int i = 0; i < p.nOptions; ++i) {
        const OptionSpec& o = p.options[i];
        if (std::string(o.keyword) == "COV" || std::string(o.keyword) == "ESTDATA") continue;  // synonyms
        if (o.kind == OptionKind::kFlag || o.kind == OptionKind::kFlagNumber || o.kind == OptionKind::kFlagWord) {
            EXPECT_TRUE(bits.insert({o.byte, o.bit}).second) << o.keyword;
        }
        if (o.kind != OptionKind::kFlag && o.kind != OptionKind::kDataSet) {
            EXPECT_TRUE(cells.insert(o.cell).second) << o.keyword;
            EXPECT_LT(o.cell, kOptionCellCount);
        }
    }
}

// Each option cell the grammar fills has its row of default and range, and
// the row names the same keyword; every cell is filled by a keyword.
TEST(KeywordTable, EveryProcCellHasTheRowOfItsKeyword) {
    const StatementSpec& p = *velix::detail::proc_grammar()->procStatement;
    std::set<int> filled;
    for (int i = 0; i < p.nOptions; ++i) {
        const OptionSpec& o = p.options[i];
        if (o.kind == OptionKind::kFlag || o.kind == OptionKind::kDataSet) continue;
        for (int16_t c : {o.cell, o.cell2}) {
            if (c < 0) continue;
            filled.insert(c);
            EXPECT_EQ(kProcCellRows[c].cell, c);
            EXPECT_STREQ(kProcCellRows[c].keyword, o.keyword) << "cell " << c;
        }
    }
    for (int c = 0; c < kProcCellCount; ++c) EXPECT_EQ(filled.count(c), 1u) << "cell " << c;
}

TEST(Parser, ProcOptionsCellsFlagsAndDataSets) {
    ParsedStep s(
        "proc velix data=d(type=cov) outram=r method=gls tech=levmar maxit=50 7 "
        "singular=1e-9 vardef=wdf cov ucorr noprint ridge nomod;\nrun;");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    const ProcOptionRecord* r = s.proc();
    EXPECT_STREQ(r->dataSets[kCellData].name, "d");
    EXPECT_NE(r->dataSets[kCellData].handle, nullptr);
    EXPECT_NE(r->dataSets[kCellOutram].handle, nullptr);
    EXPECT_STREQ(r->dataSets[kCellData].options, "type=cov");
    EXPECT_STREQ(r->dataSets[kCellOutram].name, "r");
    EXPECT_EQ(r->cells[kProcMethod].value, kMethodGls);
    EXPECT_EQ(r->cells[kProcTechnique].value, kTechLevmar);
    EXPECT_EQ(r->cells[kProcMaxIter].value, 50.0);
    EXPECT_EQ(r->cells[kProcMaxIterNlc].value, 7.0);
    EXPECT_EQ(r->cells[kProcSingular].value, 1e-9);
    EXPECT_EQ(std::string(r->cells[kProcVardef].name, 8), "WDF     ");
    const StatementNode* proc = s.result.root;
    EXPECT_EQ(proc->flags[0], 0x40 | 0x20);
    EXPECT_EQ(proc->flags[1], 0x20 | 0x80);
    EXPECT_EQ(proc->flags[4], 0x08);
    EXPECT_FALSE(r->cells[kProcRidge].given);
}

TEST(Parser, DataSetNamesAndQuotedPaths) {
    velix::testing::ensure_test_library();
    const std::string path = velix::platform::session().libraryDir + "/sub/q.csv";
    ParsedStep s("proc velix data='" + path + "' outram=r2 inest=e (type=est);");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    EXPECT_EQ(s.proc()->dataSets[kCellData].name, path);
    EXPECT_EQ(s.proc()->dataSets[kCellData].quoted, 1);
    EXPECT_STREQ(s.proc()->dataSets[kCellOutram].name, "r2");
    EXPECT_STREQ(s.proc()->dataSets[kCellInest].options, "type=est");
}

TEST(Parser, VariableListsRangesAndBy) {
    ParsedStep s("proc velix data=d; var x1-x3 y _numeric_; partial z; by g h notsorted; "
                 "var x01-x10; weight w; freq f;");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    const NameArray& v = s.proc()->lists[kListVar];
    ASSERT_EQ(v.count, 5 + 10);
    EXPECT_EQ(name_of(v.names[0]), "x1");
    EXPECT_EQ(name_of(v.names[2]), "x3");
    EXPECT_EQ(name_of(v.names[4]), "_numeric_");
    EXPECT_EQ(name_of(v.names[5]), "x01");
    EXPECT_EQ(name_of(v.names[14]), "x10");
    EXPECT_EQ(s.proc()->lists[kListBy].count, 2);
    EXPECT_EQ(s.proc()->notSorted, 1);
    EXPECT_EQ(s.proc()->lists[kListPartial].count, 1);
    EXPECT_EQ(s.proc()->lists[kListWeight].count, 1);
    EXPECT_EQ(s.proc()->lists[kListFreq].count, 1);
    EXPECT_EQ(s.result.root->next, nullptr);  // list statements add no node
}

TEST(Parser, LineqsTermKinds) {
    ParsedStep s(
        "proc velix data=d;\n"
        "lineqs y1 = 1.0 F1 + l2 F2 - l3 (0.7) F3 + b__ x1 + E1,\n"
        "       y2 = - 2 * F1 + E2;\n");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    const StatementNode* n = s.find("LINEQS  ");
    ASSERT_NE(n, nullptr);
    auto* p = static_cast<const LineqsPayload*>(n->payload);
    ASSERT_EQ(p->nEquations, 2);
    EXPECT_EQ(name_of(p->dependents[1]), "y2");
    ASSERT_EQ(p->nTerms, 7);
    EXPECT_EQ(p->termEnd[0], 5);
    EXPECT_EQ(p->termEnd[1], 7);
    const int16_t kinds[] = {kTermFixed, kTermNamed, kTermNamedStart, kTermNamed, kTermPlain,
                             kTermFixed, kTermPlain};
    const int16_t signs[] = {1, 1, -1, 1, 1, -1, 1};
    for (int t = 0; t < 7; ++t) {
        EXPECT_EQ(p->kind[t], kinds[t]) << "term " << t;
        EXPECT_EQ(p->sign[t], signs[t]) << "term " << t;
    }
    EXPECT_EQ(p->coef[0], 1.0);
    EXPECT_EQ(p->coef[2], 0.7);
    EXPECT_EQ(p->coef[5], 2.0);
    EXPECT_EQ(p->nameKind[3], kNameKindPrefix);
    EXPECT_EQ(name_of(p->names[p->nameStart[3]]), "b");
    EXPECT_EQ(name_of(p->names[p->nameStart[3] + 1]), "x1");
    EXPECT_EQ(name_of(p->names[p->nameStart[1]]), "l2");
    EXPECT_EQ(name_of(p->names[p->nameStart[4]]), "E1");
    EXPECT_EQ(p->line[1], 3);
}

TEST(Parser, StdAndCovItems) {
    ParsedStep s(
        "proc velix data=d;\n"
        "std E1-E3 = ve1-ve3 (1.0 0.5), F1 = 1.0, E4 E5 = ve__ (.3);\n"
        "cov F1 F2 = c12, E1 E2 * E3 E4 = 0.2 c;\n");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    auto* st = static_cast<const VariancePayload*>(s.find("STD     ")->payload);
    ASSERT_EQ(st->nGroups, 3);
    const VarianceGroup& g0 = st->groups[0];
    EXPECT_EQ(g0.vars1.count, 3);
    ASSERT_EQ(g0.nItems, 2);
    EXPECT_EQ(g0.items[0].code, kItemNames);
    EXPECT_EQ(g0.items[0].count, 3);
    EXPECT_EQ(g0.items[1].code, kItemNameValues);
    EXPECT_EQ(g0.items[1].count, 2);
    EXPECT_EQ(g0.values[1], 0.5);
    EXPECT_EQ(st->groups[1].items[0].code, kItemValues);
    EXPECT_EQ(st->groups[2].items[0].code, kItemPrefix);
    EXPECT_EQ(name_of(st->groups[2].names.names[0]), "ve");
    EXPECT_EQ(st->groups[2].values[0], 0.3);
    auto* cv = static_cast<const VariancePayload*>(s.find("COV     ")->payload);
    ASSERT_EQ(cv->nGroups, 2);
    EXPECT_EQ(cv->groups[0].vars2.count, 0);
    EXPECT_EQ(cv->groups[1].vars1.count, 2);
    EXPECT_EQ(cv->groups[1].vars2.count, 2);
    ASSERT_EQ(cv->groups[1].nItems, 2);
    EXPECT_EQ(cv->groups[1].items[0].code, kItemValues);
    EXPECT_EQ(cv->groups[1].items[1].code, kItemNames);
}

TEST(Parser, RamVarnamesCosanMatrixFactor) {
    ParsedStep s(
        "proc velix data=d;\n"
        "ram 1 1 4 l1, 1 2 4 0.5 l2, 2 4 4 1.0, 2 1 1 ve__;\n"
        "varnames 1 = x1-x2 F1, b = y z;\n"
        "cosan F(3, gen) * P(3, sym) + U(6, dia, inv);\n"
        "matrix F [ ,1] = a1-a3, [2,2] = 1.0, [1, ] = b (0.5) 0;\n"
        "factor n=2 heywood comp;\n");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    auto* ram = static_cast<const RamPayload*>(s.find("RAM     ")->payload);
    ASSERT_EQ(ram->nEntries, 4);
    EXPECT_EQ(ram->entries[1].hasValue, 1);
    EXPECT_EQ(ram->entries[1].value, 0.5);
    EXPECT_EQ(ram->entries[2].nameKind, 0);
    EXPECT_EQ(ram->entries[3].nameKind, kNameKindPrefix);
    auto* vn = static_cast<const VarnamesPayload*>(s.find("VARNAMES")->payload);
    ASSERT_EQ(vn->nGroups, 2);
    EXPECT_EQ(vn->groups[0].matrixNumber, 1.0);
    EXPECT_EQ(vn->groups[0].names.count, 3);
    EXPECT_EQ(name_of(vn->groups[1].matrixName), "b");
    auto* co = static_cast<const CosanPayload*>(s.find("COSAN   ")->payload);
    ASSERT_EQ(co->names.count, 3);
    ASSERT_EQ(co->nTerms, 2);
    EXPECT_EQ(co->termEnds[0], 2);
    EXPECT_EQ(co->termEnds[1], 3);
    EXPECT_EQ(co->types[0], kMatGeneral);
    EXPECT_EQ(co->types[1], kMatSymmetric);
    EXPECT_EQ(co->forms[2], 1.0);
    EXPECT_EQ(co->columns[2], 6.0);
    auto* mx = static_cast<const MatrixPayload*>(s.find("MATRIX  ")->payload);
    ASSERT_EQ(mx->nGroups, 3);
    EXPECT_EQ(mx->groups[0].position, kPosColumn);
    EXPECT_EQ(mx->groups[1].position, kPosElement);
    EXPECT_EQ(mx->groups[2].position, kPosRow);
    EXPECT_EQ(mx->groups[0].names.count, 3);
    const StatementNode* fac = s.find("FACTOR  ");
    auto* fp = static_cast<const FactorPayload*>(fac->payload);
    EXPECT_EQ(fp->hasFactors, 1);
    EXPECT_EQ(fp->nFactors, 2.0);
    EXPECT_EQ(fac->flags[0], 0x10 | 0x20);
}

TEST(Parser, ParametersStructeqAndConstraints) {
    ParsedStep s(
        "proc velix data=d;\n"
        "parameters a b c = 1 2, d = 3;\n"
        "parms;\n"
        "structeq F1 F2;\n"
        "bounds 0 <= ve1-ve3, b1 <= 5, -1 <= r <= 1, q >= 2;\n"
        "lincon b1 + b2 = 1, 2 b3 - b4 >= 0, b5 <= 3 + b6;\n"
        "nlincon c1 >= 0, 0 <= c2 <= 1, c3 = 0;\n"
        "nloptions tech=quanew maxiter=200 gconv=1e-8 phistory;\n"
        "profile a b / 90 95 ffactor=2;\n");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    auto* pa = static_cast<const ParametersPayload*>(s.find("PARAMETE")->payload);
    ASSERT_EQ(pa->names.count, 4);
    ASSERT_EQ(pa->nItems, 4);
    EXPECT_EQ(pa->items[0].kind, -1);
    EXPECT_EQ(pa->items[0].end, 3);
    EXPECT_EQ(pa->items[1].kind, -2);
    EXPECT_EQ(pa->items[1].end - pa->items[1].first, 2);
    auto* empty = static_cast<const ParametersPayload*>(s.find("PARAMETE", 1)->payload);
    EXPECT_EQ(empty->names.count, 0);
    auto* se = static_cast<const NameListPayload*>(s.find("STRUCTEQ")->payload);
    EXPECT_EQ(se->names.count, 2);
    auto* b = static_cast<const BoundsPayload*>(s.find("BOUNDS  ")->payload);
    ASSERT_EQ(b->nEntries, 4);
    EXPECT_TRUE(b->entries[0].hasLower && !b->entries[0].hasUpper);
    EXPECT_EQ(b->entries[0].names.count, 3);
    EXPECT_TRUE(!b->entries[1].hasLower && b->entries[1].hasUpper);
    EXPECT_EQ(b->entries[1].upper, 5.0);
    EXPECT_EQ(b->entries[2].lower, -1.0);
    EXPECT_EQ(b->entries[2].upper, 1.0);
    EXPECT_EQ(b->entries[3].lower, 2.0);
    auto* lc = static_cast<const LinconPayload*>(s.find("LINCON  ")->payload);
    ASSERT_EQ(lc->nConstraints, 3);
    EXPECT_EQ(lc->constraints[0].relation, kRelEq);
    EXPECT_EQ(lc->constraints[0].rhs, 1.0);
    EXPECT_EQ(lc->constraints[1].coefs[0], 2.0);
    EXPECT_EQ(lc->constraints[1].coefs[1], -1.0);
    EXPECT_EQ(lc->constraints[1].relation, kRelGe);
    // b5 <= 3 + b6  is  b5 - b6 <= 3
    EXPECT_EQ(lc->constraints[2].relation, kRelLe);
    EXPECT_EQ(lc->constraints[2].coefs[1], -1.0);
    EXPECT_EQ(lc->constraints[2].rhs, 3.0);
    auto* nl = static_cast<const NlinconPayload*>(s.find("NLINCON ")->payload);
    ASSERT_EQ(nl->nConstraints, 3);
    EXPECT_TRUE(nl->constraints[1].hasLower && nl->constraints[1].hasUpper);
    EXPECT_TRUE(nl->constraints[2].hasLower && nl->constraints[2].hasUpper);
    const StatementNode* nlo = s.find("NLOPTION");
    auto* no = static_cast<const ProcOptionRecord*>(nlo->payload);
    EXPECT_EQ(no->cells[velix::detail::kNlTechnique].value, kTechQuanew);
    EXPECT_EQ(no->cells[velix::detail::kNlMaxIter].value, 200.0);
    EXPECT_EQ(nlo->flags[0], velix::detail::kNlPhistory);
    auto* pr = static_cast<const ProfilePayload*>(s.find("PROFILE ")->payload);
    EXPECT_EQ(pr->names.count, 2);
    ASSERT_EQ(pr->nLevels, 2);
    EXPECT_EQ(pr->levels[1], 95.0);
    EXPECT_EQ(pr->cells[0].value, 2.0);
}

TEST(Parser, ProgrammingStatementsKeptAsText) {
    ParsedStep s(
        "proc velix data=d;\n"
        "lineqs y = l F + E;\n"
        "l3 = 2 * l2;\n"
        "if a > 0 then b = 1; else b = 2;\n"
        "std E = v;\n");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    EXPECT_EQ(s.area2.nProgramStatements, 3);
    ASSERT_NE(s.area2.program, nullptr);
    EXPECT_STREQ(s.area2.program->text, "l3 = 2 * l2");
    EXPECT_EQ(s.area2.program->line, 3);
    EXPECT_STREQ(s.area2.program->next->text, "if a > 0 then b = 1");
    EXPECT_NE(s.find("STD     "), nullptr);
}

TEST(Parser, CommentsAliasesAndCase) {
    ParsedStep s(
        "PROC VELIX DATA=d MET=uls /* a comment; with a semicolon */ MaxIt=3;\n"
        "* a comment statement = 1;\n"
        "PARMS a;\n"
        "run;\n"
        "lineqs this is not read;\n");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    EXPECT_EQ(s.proc()->cells[kProcMethod].value, kMethodUls);
    EXPECT_EQ(s.proc()->cells[kProcMaxIter].value, 3.0);
    EXPECT_NE(s.find("PARAMETE"), nullptr);
    EXPECT_EQ(s.find("LINEQS  "), nullptr);
    EXPECT_EQ(s.area2.nProgramStatements, 0);
}

TEST(Parser, SyntaxErrorNamesLineAndColumnWithCaret) {
    ParsedStep s(
        "proc velix data=d;\n"
        "lineqs y = l F +;\n", 10);
    EXPECT_EQ(s.result.status, 2000);
    EXPECT_EQ(s.result.root, nullptr);
    const std::string log = s.log.str();
    EXPECT_NE(log.find("line 11, column 17"), std::string::npos) << log;
    EXPECT_NE(log.find("lineqs y = l F +;\n                ^"), std::string::npos) << log;
}

TEST(Parser, ErrorsOfEachKind) {
    struct Case {
        const char* text;
        const char* fragment;
    };
    const Case cases[] = {
        {"proc velix data=d method=fast;", "not a value of option METHOD"},
        {"proc velix data=d bogus;", "option BOGUS is not valid"},
        {"proc velix data=d; frobnicate x;", "statement FROBNICATE is not known"},
        {"proc velix data=d; std x3-x1 = v;", "runs backwards"},
        {"proc velix data=d; std x1-y3 = v;", "does not join two numbered names"},
        {"proc velix data=d; factor n=-1;", "whole number 0 or more"},
        {"proc velix data=d; bounds a;", "needs a relation"},
        {"proc velix data=d /* open", "unterminated comment"},
        {"proc velix data=d; lineqs y = ;", "has no term"},
        {"proc velix data=d cov=3;", "takes no value"},
        {"proc velix data=nosuchset;", "nosuchset"},
        {"proc velix data=d; by nosuchvar;", "nosuchvar"},
    };
    for (const Case& c : cases) {
        ParsedStep s(c.text);
        EXPECT_EQ(s.result.status, 2000) << c.text;
        EXPECT_NE(s.log.str().find(c.fragment), std::string::npos) << c.text << "\n" << s.log.str();
    }
}

// What a node carries: its flag bytes and the option cells of its payload
// (PROC and NLOPTIONS records, FACTOR and PROFILE payloads).
std::string node_signature(const StatementNode* n) {
    std::string sig(reinterpret_cast<const char*>(n->flags), sizeof n->flags);
    auto add_cell = [&](const OptionCell& c) {
        sig += std::to_string(c.given) + ":" + std::to_string(c.value) + ":" +
               std::string(c.name, sizeof c.name) + "|";
    };
    std::string kw(n->keyword, 8);
    if (kw == "VELIX   " || kw == "NLOPTION") {
        const auto* r = static_cast<const ProcOptionRecord*>(n->payload);
        for (const OptionCell& c : r->cells) add_cell(c);
    } else if (kw == "FACTOR  ") {
        const auto* f = static_cast<const FactorPayload*>(n->payload);
        sig += std::to_string(f->hasFactors) + ":" + std::to_string(f->nFactors);
    } else if (kw == "PROFILE ") {
        const auto* f = static_cast<const ProfilePayload*>(n->payload);
        for (const OptionCell& c : f->cells) add_cell(c);
    }
    return sig;
}

// The text of a statement that uses option word `word` of `spec` (with a
// value fitting the option's kind, or `value` for a word option), and the
// node keyword to look for.
std::string option_statement(const StatementSpec& spec, const OptionSpec& o,
                             const std::string& word, const std::string& value) {
    std::string use = word;
    switch (o.kind) {
        case OptionKind::kFlag: break;
        case OptionKind::kWord:
        case OptionKind::kFlagWord:
        case OptionKind::kName: use += "=" + value; break;
        default: use += "=3"; break;
    }
    std::string kw = spec.keyword;
    if (kw == "VELIX") return "proc velix data=d " + use + ";";
    if (kw == "PROFILE") return "proc velix data=d; profile a / " + use + ";";
    return "proc velix data=d; " + kw + " " + use + ";";
}

// An alias spelling is accepted wherever its full word is, and does there
// exactly what the full word does: as a statement word, as an option of any
// statement, and as an option's value.
TEST(Parser, EveryAliasActsAsItsFullWordWhereverTheWordStands) {
    const StatementGrammar* g = velix::detail::proc_grammar();
    std::vector<const StatementSpec*> specs = {g->procStatement};
    for (int i = 0; i < g->nStatements; ++i) specs.push_back(&g->statements[i]);
    auto same_parse = [](const std::string& withAlias, const std::string& withFull,
                         const char* node8) {
        ParsedStep a(withAlias), f(withFull);
        ASSERT_EQ(f.result.status, 0) << withFull << "\n" << f.log.str();
        ASSERT_EQ(a.result.status, 0) << withAlias << "\n" << a.log.str();
        const StatementNode* na = node8 ? a.find(node8) : a.result.root;
        const StatementNode* nf = node8 ? f.find(node8) : f.result.root;
        ASSERT_NE(na, nullptr) << withAlias;
        ASSERT_NE(nf, nullptr) << withFull;
        EXPECT_EQ(node_signature(na), node_signature(nf)) << withAlias << " / " << withFull;
    };
    for (int k = 0; k < g->nAliases; ++k) {
        const std::string alias = g->aliases[k].alias, full = g->aliases[k].full;
        int uses = 0;
        for (const StatementSpec* spec : specs) {
            const bool isProc = spec == g->procStatement;
            if (!isProc && full == spec->keyword) {
                ++uses;
                // Statement words: the statement is read alike.
                const char* body = spec->form == StatementForm::kVarnames     ? " 1 = a;"
                                   : spec->form == StatementForm::kParameters ? " p;"
                                   : spec->form == StatementForm::kVarList    ? " x1;"
                                                                              : nullptr;
                ASSERT_NE(body, nullptr) << alias;
                ParsedStep a("proc velix data=d; " + alias + body);
                ParsedStep f("proc velix data=d; " + full + body);
                ASSERT_EQ(a.result.status, 0) << alias << "\n" << a.log.str();
                if (spec->form == StatementForm::kVarList) {
                    EXPECT_EQ(a.proc()->lists[spec->listIndex].count, 1) << alias;
                    EXPECT_EQ(f.proc()->lists[spec->listIndex].count, 1) << full;
                } else {
                    EXPECT_NE(a.find(spec->node), nullptr) << alias;
                }
            }
            for (int i = 0; i < spec->nOptions; ++i) {
                const OptionSpec& o = spec->options[i];
                const char* node8 = isProc ? nullptr : spec->node;
                std::string value = o.nWords > 0 ? o.words[0].word : "";
                if (full == o.keyword && o.kind != OptionKind::kDataSet) {
                    ++uses;
                    same_parse(option_statement(*spec, o, alias, value),
                               option_statement(*spec, o, full, value), node8);
                }
                for (int w = 0; w < o.nWords; ++w) {
                    if (full != o.words[w].word) continue;
                    ++uses;
                    same_parse(option_statement(*spec, o, o.keyword, alias),
                               option_statement(*spec, o, o.keyword, full), node8);
                }
            }
        }
        EXPECT_GT(uses, 0) << alias << " stands for " << full << ", which no statement uses";
    }
}

// Input that would run away or overflow is an error at its place: ranges
// beyond the 16-bit counts, range numbers beyond any integer, title numbers
// with many digits, statements with more names than their tables count.
TEST(Parser, OversizedInputIsAnErrorAtItsPlace) {
    struct Case {
        const char* text;
        const char* fragment;
        const char* place;
    };
    const Case cases[] = {
        {"proc velix data=d; std e1-e40000 = v;", "names more than 32767", "line 1, column 24"},
        {"proc velix data=d; std e1 = v1-v99999999999999999999;", "too large",
         "line 1, column 29"},
        {"proc velix data=d;\ntitle99999999999999999999 'x';", "numbered 1 to 10",
         "line 2, column 1"},
        {"proc velix data=d; parms p1-p20000 q1-q20000;", "at most 32767", "line 1, column 45"},
        {"proc velix data=d maxiter=1e999;", "too large", "line 1, column 27"},
    };
    for (const Case& c : cases) {
        ParsedStep s(c.text);
        EXPECT_EQ(s.result.status, 2000) << c.text;
        EXPECT_NE(s.log.str().find(c.fragment), std::string::npos) << c.text << "\n" << s.log.str();
        EXPECT_NE(s.log.str().find(c.place), std::string::npos) << c.text << "\n" << s.log.str();
    }
    // The widest range that fits is read whole, in order.
    ParsedStep s("proc velix data=d; parms e1-e32767;");
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    const auto* p = static_cast<const ParametersPayload*>(s.find("PARAMETE")->payload);
    ASSERT_EQ(p->names.count, 32767);
    EXPECT_EQ(name_of(p->names.names[32766]), "e32767");
    EXPECT_EQ(p->items[0].end, 32767);
}

// A name far beyond the width is quoted shortened in the message, which
// still gives its place.
TEST(Parser, OverlongNameIsQuotedShortened) {
    const std::string name(5000, 'a');
    ParsedStep s("proc velix data=d;\nlineqs y = " + name + " F + E;");
    EXPECT_EQ(s.result.status, 2000);
    const std::string log = s.log.str();
    const std::string first = log.substr(0, log.find('\n'));
    EXPECT_NE(first.find("longer than 32 characters"), std::string::npos) << first;
    EXPECT_NE(first.find("line 2, column 12"), std::string::npos) << first;
    EXPECT_LT(first.size(), 200u) << first;
}

// A LINEQS statement of ten thousand lines is read whole: every equation
// keeps its dependent, its terms and its line.
TEST(Parser, TenThousandLineLineqs) {
    const int n = 10000;
    std::string text = "proc velix data=d;\nlineqs\n";
    for (int i = 1; i <= n; ++i)
        text += "  y" + std::to_string(i) + " = b" + std::to_string(i) + " F1 + e" +
                std::to_string(i) + (i < n ? ",\n" : ";\n");
    ParsedStep s(text);
    ASSERT_EQ(s.result.status, 0) << s.log.str();
    const auto* p = static_cast<const LineqsPayload*>(s.find("LINEQS  ")->payload);
    ASSERT_EQ(p->nEquations, n);
    EXPECT_EQ(p->nTerms, 2 * n);
    EXPECT_EQ(p->nNames, 3 * n);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(p->termEnd[i], 2 * (i + 1));
        EXPECT_EQ(p->line[i], i + 3);
        EXPECT_EQ(name_of(p->dependents[i]), "y" + std::to_string(i + 1));
    }
}

}  // namespace
