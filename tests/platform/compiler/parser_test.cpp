// Compiling programs: statement errors with their line and column, the
// symbols and their flags, and the places of pieces given with their own
// positions in the program file.
#include <gtest/gtest.h>

#include <string>

#include "platform/compiler/program.h"

namespace velix::compiler {
namespace {

struct Compiled {
    Program program;
    std::vector<Diagnostic> errors;
    bool ok = false;
    explicit Compiled(const std::string& text, int32_t line = 1, int32_t column = 1) {
        CmpSource s;
        s.text = text.c_str();
        s.length = static_cast<int32_t>(text.size());
        s.line = line;
        s.column = column;
        ok = program.compile(&s, 1, &errors);
    }
};

void expect_error(const std::string& text, int32_t line, int32_t column, const std::string& words) {
    Compiled c(text);
    ASSERT_FALSE(c.ok) << text;
    ASSERT_FALSE(c.errors.empty());
    EXPECT_EQ(c.errors[0].line, line) << text << ": " << c.errors[0].message;
    EXPECT_EQ(c.errors[0].column, column) << text << ": " << c.errors[0].message;
    EXPECT_NE(c.errors[0].message.find(words), std::string::npos) << c.errors[0].message;
}

TEST(Parser, ErrorsCarryLineAndColumn) {
    expect_error("y = a +;\nz = 1;", 1, 8, "expected an expression");
    expect_error("y = 1;\n  z = foo(a);", 2, 7, "unknown function foo");
    expect_error("length c $ 8;\nc = 1;", 2, 1, "assignment to the non-numeric variable c");
    expect_error("length c $ 8;\ny = c + 1;", 2, 5, "non-numeric variable c");
    expect_error("array s{2} $ u v;\ns{1} = 2;", 2, 1, "non-numeric array s");
    expect_error("do i = 1 to 3;\n y = i;", 1, 1, "without a matching END");
    expect_error("y = 1;\ngoto nowhere;", 2, 6, "label NOWHERE is not defined");
    expect_error("end;", 1, 1, "END without");
    expect_error("y = sqrt(1, 2);", 1, 5, "wrong number of arguments");
    expect_error("array v{2} a b;\ny = v{3};", 2, 5, "subscript out of range");
    expect_error("array v{3} a b;", 1, 7, "has 2 elements but dimension 3");
    expect_error("y = 2 $ 3;", 1, 7, "expected ';'");
    expect_error("y = 'text';", 1, 5, "character constant");
    expect_error("y = a # 2;", 1, 7, "unexpected character");
    expect_error("if a then y = 1; else y = 2; else z = 3;", 1, 30, "ELSE without");
}

TEST(Parser, SeveralErrorsAreReported) {
    Compiled c("y = (1;\nz = 2;\nw = exq(1);");
    ASSERT_FALSE(c.ok);
    ASSERT_EQ(c.errors.size(), 2u);
    EXPECT_EQ(c.errors[1].line, 3);
    EXPECT_EQ(c.errors[1].column, 5);
}

TEST(Parser, PiecesKeepTheirPositions) {
    // Two statements handed over separately without their ';', as the step
    // parser keeps them, at their own places of the program file.
    std::string a = "x = 2 * l2", b = "y = bad(x)";
    CmpSource pieces[2];
    pieces[0] = {a.c_str(), static_cast<int32_t>(a.size()), 10, 3};
    pieces[1] = {b.c_str(), static_cast<int32_t>(b.size()), 14, 5};
    Program p;
    std::vector<Diagnostic> errors;
    ASSERT_FALSE(p.compile(pieces, 2, &errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].line, 14);
    EXPECT_EQ(errors[0].column, 9);
    Program q;
    ASSERT_TRUE(q.compile(pieces, 1, &errors));
    EXPECT_EQ(q.statement_count(), 1);
}

TEST(Parser, SymbolFlagsTellAssignedFromReferenced) {
    Compiled c("l3 = 2 * L2;\nt = l3 + t0;\ndo i = 1 to 2; end;\nlength s $ 4;\n");
    ASSERT_TRUE(c.ok) << c.errors[0].message;
    CmpSymbol* l3 = c.program.find("L3", 2);
    CmpSymbol* l2 = c.program.find("l2      ", 8);  // trailing blanks ignored
    ASSERT_NE(l3, nullptr);
    ASSERT_NE(l2, nullptr);
    EXPECT_TRUE(l3->flags & kCmpAssigned);
    EXPECT_FALSE(l2->flags & kCmpAssigned);
    EXPECT_TRUE(l2->flags & kCmpReferenced);
    EXPECT_EQ(std::string(l2->name, l2->nameLength), "L2");  // as first written
    EXPECT_EQ(c.program.find("s", 1)->valueType, 'c');
    EXPECT_EQ(c.program.find("I", 1)->flags & (kCmpAssigned | kCmpReferenced),
              kCmpAssigned | kCmpReferenced);
    EXPECT_EQ(c.program.find("nothere", 7), nullptr);
    // The chain lists the symbols in order of first appearance.
    std::string order;
    for (CmpSymbol* s = c.program.chain(); s; s = s->next) order += std::string(s->name, s->nameLength) + " ";
    EXPECT_EQ(order, "l3 L2 t t0 i s ");
    EXPECT_EQ(c.program.statement_count(), 4);
}

TEST(Parser, KeywordsAreNamesWhenAssigned) {
    Compiled c("end = 2; do = end + 1; if = do * 2;");
    ASSERT_TRUE(c.ok) << c.errors[0].message;
    c.program.run(false);
    EXPECT_EQ(c.program.value(c.program.find("IF", 2)), 6.0);
}

TEST(Parser, StatementTextsForTheListing) {
    Compiled c("/* comment */ y = 1;\nif y > 0 then\n  z = 2;\nelse z = 3;\ndo i = 1 to 2;\n  w = i;\nend;");
    ASSERT_TRUE(c.ok);
    const std::vector<std::string>& t = c.program.statement_texts();
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[0], "y = 1;");
    EXPECT_EQ(t[1], "if y > 0 then");
    EXPECT_EQ(t[2], "ELSE");
    EXPECT_EQ(t[3], "do i = 1 to 2;");
    EXPECT_EQ(t[4], "  w = i;");
    EXPECT_EQ(t[5], "end;");
}

}  // namespace
}  // namespace velix::compiler
