// The KYR output manager driven through the module's dispatcher exactly as
// the procedure drives it: a whole data table, a factoid, matrix tables (in
// one call and in pieces), notes and groups, checked in the parsed JSON
// document and in the listing; the protocol's order is enforced, injected
// failures stop a call before it does anything, and step records keep their
// return codes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "host/object_dispatch.h"
#include "platform/messages.h"
#include "platform/output.h"
#include "platform/output_document.h"
#include "platform/spill.h"
#include "tests/support/open_files.h"
#include "tests/support/session_fixture.h"
#include "velix/host.h"
#include "velix/types.h"

namespace {

using velix::platform::kKyrBadArgument;
using velix::platform::kKyrClosed;
using velix::platform::kKyrWrongOrder;
using velix::test::JsonValue;

int32_t call(HostObject* object, uint32_t method, std::vector<KyrArg>* args) {
    return wobmth(object, nullptr, method, static_cast<int32_t>(args->size()), args->data());
}

int32_t call(HostObject* object, uint32_t method) { return wobmth(object, nullptr, method, 0, nullptr); }

// Closes an object through its class's close descriptor, as the module does.
int32_t close_object(HostObject* o) {
    return o->cls->closeDescriptor->function(o, o->cls->closeDatum, 4, 0, nullptr);
}

KyrArg counted(uint16_t attr, const char* s) {
    return kyr_counted(attr, s, static_cast<int32_t>(std::strlen(s)));
}

class OutputManager : public PlatformStep {
protected:
    void SetUp() override {
        PlatformStep::SetUp();
        ASSERT_EQ(xobinit(&anchor_, 0), 0);
        std::vector<KyrArg> a = {counted(143, "kyr"), counted(146, "manager"), kyr_object(144, nullptr),
                                 kyr_int(383, 352)};
        ASSERT_EQ(call(anchor_, 147, &a), 0);
        manager_ = a[2].object;
        ASSERT_NE(manager_, nullptr);
    }

    HostObject* create(const char* cls, const char* name, int32_t title, const char* path = nullptr) {
        std::vector<KyrArg> a = {counted(143, "kyr"), counted(146, cls), kyr_object(144, nullptr)};
        if (name != nullptr) {
            a.push_back(kyr_int(148, -1));
            if (path != nullptr) a.push_back(kyr_text(339, kyrtxt(path, -1)));
            a.push_back(kyr_text(138, kyrtxt(name, -1)));
            a.push_back(kyr_text(296, kyrmsg(352, title)));
        }
        EXPECT_EQ(call(manager_, 147, &a), 0);
        return a[2].object;
    }

    HostObject* open_group(const char* name, int32_t label) {
        std::vector<KyrArg> g = {kyr_object(144, nullptr), kyr_word2(435, 0), counted(138, name),
                                 kyr_text(296, kyrmsg(352, label))};
        EXPECT_EQ(call(manager_, 300, &g), 0);
        return g[0].object;
    }

    // The items of the current (only) step.
    JsonValue items() const { return document()["steps"][0]["output"]; }

    HostObject* anchor_ = nullptr;
    HostObject* manager_ = nullptr;
};

TEST_F(OutputManager, WholeDataTableInProtocolOrder) {
    std::vector<KyrArg> title = {KyrArg{}, kyr_int(440, 1), kyr_word2(2558, 1), kyr_int(148, -1),
                                 kyr_text(577, kyrmsg(352, 539))};
    ASSERT_EQ(call(manager_, 439, &title), 0);
    HostObject* group = open_group("ModelingStat", 720);
    ASSERT_NE(group, nullptr);

    HostObject* table = create("data", "SumSqDif", 744);
    ASSERT_NE(table, nullptr);
    // A method of the tables' parent class, found through the class chain.
    std::vector<KyrArg> dyn = {kyr_text(311, kyrtxt("titletext", -1)), kyr_text(287, kyrtxt("Before", -1))};
    ASSERT_EQ(call(table, 316, &dyn), 0);

    // The bound cells: a text handle, a double read through a pointer cell,
    // an integer and an 8-character field.
    HostText* labelCell = nullptr;
    const double values[3] = {0.1 + 0.2, host_missing_value(), -1.0 / 3.0};
    const double* valueCell = values;
    int32_t countCell = 0;
    char kindCell[8];
    std::vector<std::vector<KyrArg>> columns = {
        {kyr_int(103, 66), kyr_counted(138, "Label", 5), kyr_address(285, kKyrCell, &labelCell)},
        {kyr_int(103, 5), kyr_text(138, kyrtxt("SumSqDif", -1)), kyr_address(343, kKyrCell, &valueCell)},
        {kyr_int(103, 1), counted(138, "Count"), kyr_address(285, kKyrCell, &countCell)},
        {kyr_int(103, 20), counted(138, "Kind"), kyr_address(285, kKyrCell, kindCell), kyr_int(289, 8)},
    };
    for (auto& c : columns) ASSERT_EQ(call(table, 338, &c), 0);
    ASSERT_EQ(call(table, 298), 0);

    std::vector<KyrArg> bind = {kyr_object(0, nullptr), kyr_object(0, table),
                                kyr_text(339, kyrtxt("Tesk.Velix.SumSqDif", -1)),
                                kyr_text(311, kyrtxt("titletext", -1)), kyr_text(287, kyrtxt("After", -1))};
    ASSERT_EQ(call(manager_, 422, &bind), 0);
    HostObject* output = bind[0].object;
    ASSERT_NE(output, nullptr);

    const char* labels[3] = {"First", "Second \"quoted\"", "Third"};
    const char* kinds[3] = {"COV     ", "CORR    ", "MEAN\0xyz"};
    for (int i = 0; i < 3; ++i) {
        labelCell = kyrtxt(labels[i], -1);
        countCell = 10 * (i + 1);
        std::memcpy(kindCell, kinds[i], 8);
        ASSERT_EQ(call(table, 329), 0);
        ++valueCell;  // the cell advances after each row, as the two-column writer does
    }
    ASSERT_EQ(call(table, 299), 0);
    std::vector<KyrArg> deliver = {kyr_object(0, output)};
    ASSERT_EQ(call(manager_, 428, &deliver), 0);
    ASSERT_EQ(close_object(group), 0);

    const JsonValue out = items();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0]["type"].str(), "title");
    EXPECT_EQ(out[0]["text"].str(), velix::platform::message_text(352, 539));
    EXPECT_EQ(out[1]["type"].str(), "groupOpen");
    EXPECT_EQ(out[1]["name"].str(), "ModelingStat");
    EXPECT_EQ(out[1]["labelMessage"]["number"].number(), 720);
    EXPECT_EQ(out[3]["type"].str(), "groupClose");
    EXPECT_EQ(out[3]["name"].str(), "ModelingStat");

    const JsonValue& t = out[2];
    EXPECT_EQ(t["type"].str(), "table");
    EXPECT_EQ(t["name"].str(), "SumSqDif");
    EXPECT_EQ(t["path"].str(), "Tesk.Velix.SumSqDif");
    EXPECT_EQ(t["title"].str(), velix::platform::message_text(352, 744));
    EXPECT_EQ(t["titleMessage"]["group"].number(), 352);
    EXPECT_EQ(t["titleMessage"]["number"].number(), 744);
    EXPECT_EQ(t["dynamic"]["titletext"].str(), "After") << "the bind's pair replaces the earlier value";
    ASSERT_EQ(t["columns"].size(), 4u);
    const char* names[4] = {"Label", "SumSqDif", "Count", "Kind"};
    const int kindsExpected[4] = {66, 5, 1, 20};
    for (size_t j = 0; j < 4; ++j) {
        EXPECT_EQ(t["columns"][j]["name"].str(), names[j]);
        EXPECT_EQ(t["columns"][j]["kind"].number(), kindsExpected[j]);
    }
    EXPECT_EQ(t["columns"][3]["width"].number(), 8);
    const JsonValue& rows = t["rows"];
    ASSERT_EQ(rows.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i][0].str(), labels[i]);
        EXPECT_EQ(rows[i][2].number(), 10.0 * static_cast<double>(i + 1));
    }
    // Doubles read back to the same bits; the missing value is null.
    EXPECT_EQ(rows[0][1].number(), values[0]);
    EXPECT_TRUE(rows[1][1].is_null());
    EXPECT_EQ(rows[2][1].number(), values[2]);
    EXPECT_EQ(rows[0][3].str(), "COV");
    EXPECT_EQ(rows[1][3].str(), "CORR");
    EXPECT_EQ(rows[2][3].str(), "MEAN") << "a character cell ends at its NUL";

    // The listing: the title, a section for the group, the table's title,
    // its header and rows in order, the missing value as ".".
    const std::string l = listing();
    const size_t posTitle = l.find(velix::platform::message_text(352, 539));
    const size_t posGroup = l.find(velix::platform::message_text(352, 720));
    const size_t posTable = l.find(velix::platform::message_text(352, 744));
    const size_t posFirst = l.find("First");
    const size_t posThird = l.find("Third");
    ASSERT_NE(posTitle, std::string::npos);
    EXPECT_LT(posTitle, posGroup);
    EXPECT_LT(posGroup, posTable);
    EXPECT_LT(posTable, posFirst);
    const size_t posSubtitle = l.find("After");
    EXPECT_LT(posTable, posSubtitle) << "the dynamic title text is a subtitle";
    EXPECT_LT(posSubtitle, posFirst);
    EXPECT_LT(posFirst, posThird);
    std::istringstream lines(l);
    std::string line, header, secondRow;
    while (std::getline(lines, line)) {
        if (line.find("Label") != std::string::npos && line.find("SumSqDif") != std::string::npos) header = line;
        if (line.find("Second") != std::string::npos) secondRow = line;
    }
    ASSERT_FALSE(header.empty()) << l;
    ASSERT_FALSE(secondRow.empty()) << l;
    // Numbers are right-aligned under their header: the missing "." ends
    // where the header "SumSqDif" ends.
    EXPECT_EQ(secondRow.find(" . "), header.find("SumSqDif") + std::strlen("SumSqDif") - 2) << l;
}

TEST_F(OutputManager, TwoColumnTableWithoutRowsIsStillDelivered) {
    HostObject* table = create("data", "Empty", 744);
    HostText* labelCell = nullptr;
    const double* valueCell = nullptr;
    std::vector<KyrArg> c1 = {kyr_int(103, 66), counted(138, "Label"), kyr_address(285, kKyrCell, &labelCell)};
    std::vector<KyrArg> c2 = {kyr_int(103, 5), counted(138, "Value"), kyr_address(343, kKyrCell, &valueCell)};
    ASSERT_EQ(call(table, 338, &c1), 0);
    ASSERT_EQ(call(table, 338, &c2), 0);
    ASSERT_EQ(call(table, 298), 0);
    std::vector<KyrArg> bind = {kyr_object(0, nullptr), kyr_object(0, table), kyr_text(339, kyrtxt("Tesk.Velix.Empty", -1))};
    ASSERT_EQ(call(manager_, 422, &bind), 0);
    ASSERT_EQ(call(table, 299), 0);
    std::vector<KyrArg> deliver = {kyr_object(0, bind[0].object)};
    ASSERT_EQ(call(manager_, 428, &deliver), 0);
    const JsonValue t = items()[0];
    EXPECT_EQ(t["columns"].size(), 2u);
    EXPECT_EQ(t["rows"].size(), 0u);
    EXPECT_TRUE(t["rows"].is_array());
}

TEST_F(OutputManager, FactoidEntriesEndWithTheRows) {
    HostObject* f = create("factoid", "Fit", 744, "Tesk.Velix.Fit");
    std::vector<KyrArg> e1 = {kyr_text(296, kyrmsg(352, 720)), kyr_double(287, 12.345678), kyr_int(272, 10), kyr_int(270, 4)};
    std::vector<KyrArg> e2 = {kyr_text(296, kyrtxt("Observations", -1)), kyr_int(287, 301), kyr_int(272, 8), kyr_int(270, 0)};
    std::vector<KyrArg> e3 = {kyr_text(296, kyrtxt("Missing", -1)), kyr_double(287, host_missing_value())};
    ASSERT_EQ(call(f, 164, &e1), 0);
    ASSERT_EQ(call(f, 164, &e2), 0);
    ASSERT_EQ(call(f, 164, &e3), 0);
    ASSERT_EQ(call(f, 299), 0);
    ASSERT_EQ(close_object(f), 0);
    const JsonValue out = items();
    ASSERT_EQ(out.size(), 1u) << "closing after the rows ended delivers nothing more";
    const JsonValue& j = out[0];
    EXPECT_EQ(j["type"].str(), "factoid");
    EXPECT_EQ(j["path"].str(), "Tesk.Velix.Fit");
    ASSERT_EQ(j["entries"].size(), 3u);
    EXPECT_EQ(j["entries"][0]["labelMessage"]["number"].number(), 720);
    EXPECT_EQ(j["entries"][0]["value"].number(), 12.345678);
    EXPECT_EQ(j["entries"][1]["label"].str(), "Observations");
    EXPECT_EQ(j["entries"][1]["value"].number(), 301);
    EXPECT_TRUE(j["entries"][2]["value"].is_null());
    const std::string l = listing();
    EXPECT_NE(l.find("12.3457"), std::string::npos) << "four decimals as the entry asks\n" << l;
    EXPECT_NE(l.find("Observations"), std::string::npos);
}

// A number too large for its field is written in E notation: a %.2f
// directive of a note's text, which the listing and the JSON document
// both carry (the factoid fields: the whole-program units test).
TEST_F(OutputManager, HugeNumbersInNoteTextsPrintInENotation) {
    std::vector<KyrArg> note = {kyr_text(577, kyrmsgs(352, 3, 2.5e300)), kyr_int(371, 1), kyr_char(273, 'l')};
    ASSERT_EQ(call(manager_, 358, &note), 0);
    EXPECT_NE(items()[0]["text"].str().find(" 2.50E+300 seconds"), std::string::npos) << items()[0]["text"].str();
    EXPECT_NE(listing().find(" 2.50E+300 seconds"), std::string::npos) << listing();
}

// Element (i, j) of the symmetric test matrix.
double sym(int i, int j) { return 10.0 * std::max(i, j) + std::min(i, j) + 0.25; }

TEST_F(OutputManager, MatrixInOneCallUnpacksEachStorage) {
    constexpr int n = 3;
    std::vector<double> packed;  // lower triangle by rows
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) packed.push_back(sym(i, j));
    NameRecord names[n];
    const char* nm[n] = {"x1", "x2", "visual"};
    for (int i = 0; i < n; ++i) {
        names[i].length = static_cast<int16_t>(std::strlen(nm[i]));
        std::memcpy(names[i].text, nm[i], std::strlen(nm[i]));
    }
    std::vector<KyrArg> m = {kyr_text(339, kyrtxt("Tesk.Velix.InCov", -1)), kyr_text(138, kyrtxt("InCov", -1)),
                             kyr_text(296, kyrmsg(352, 726)), kyr_address(389, kKyrDoubles, packed.data()),
                             kyr_int(390, n), kyr_int(391, n), kyr_address(412, kKyrRowLabels, names),
                             kyr_address(402, kKyrRowLabels, names), counted(105, "sc"), kyr_int(278, 8),
                             kyr_int(280, 1), kyr_int(371, 1)};
    ASSERT_EQ(call(manager_, 388, &m), 0);

    // A 2 x 3 matrix by columns with fixed-width generated names.
    const double byColumns[6] = {1, 4, 2, 5, 3, 6};  // rows (1 2 3) and (4 5 6)
    const char rowNames[] = "Parms   Grad    ";
    std::vector<KyrArg> c = {kyr_text(339, kyrtxt("Orvo.NLP.Grad", -1)), kyr_text(138, kyrtxt("Grad", -1)),
                             kyr_text(296, kyrmsg(352, 744)), kyr_address(389, kKyrDoubles, byColumns),
                             kyr_int(390, 2), kyr_int(391, 3), kyr_address(409, kKyrNames, rowNames),
                             kyr_int(410, 8), counted(105, "cc")};
    ASSERT_EQ(call(manager_, 388, &c), 0);

    const JsonValue out = items();
    ASSERT_EQ(out.size(), 2u);
    const JsonValue& s = out[0];
    EXPECT_EQ(s["type"].str(), "matrix");
    EXPECT_EQ(s["storage"].str(), "sc");
    EXPECT_EQ(s["path"].str(), "Tesk.Velix.InCov");
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(s["rowLabels"][static_cast<size_t>(i)].str(), nm[i]);
        EXPECT_EQ(s["columnLabels"][static_cast<size_t>(i)].str(), nm[i]);
        for (int j = 0; j < n; ++j)
            EXPECT_EQ(s["values"][static_cast<size_t>(i)][static_cast<size_t>(j)].number(), sym(i, j))
                << i << "," << j;
    }
    const JsonValue& g = out[1];
    EXPECT_EQ(g["rowLabels"][0].str(), "Parms");
    EXPECT_EQ(g["rowLabels"][1].str(), "Grad");
    EXPECT_TRUE(g["columnLabels"].is_null());
    for (size_t i = 0; i < 2; ++i)
        for (size_t j = 0; j < 3; ++j) EXPECT_EQ(g["values"][i][j].number(), static_cast<double>(3 * i + j + 1));
    EXPECT_NE(listing().find("visual"), std::string::npos);
    EXPECT_NE(listing().find("22.2500"), std::string::npos) << listing();

    // An unknown storage code and a non-square symmetric matrix are refused.
    std::vector<KyrArg> bad = {kyr_address(389, kKyrDoubles, byColumns), kyr_int(390, 2), kyr_int(391, 3), counted(105, "zz")};
    EXPECT_EQ(call(manager_, 388, &bad), kKyrBadArgument);
    bad[3] = counted(105, "sb");
    EXPECT_EQ(call(manager_, 388, &bad), kKyrBadArgument);
    EXPECT_EQ(items().size(), 2u);
}

TEST_F(OutputManager, MatrixObjectCollectsPiecesBeforePublishing) {
    HostObject* m = create("matrix", nullptr, 0);
    ASSERT_NE(m, nullptr);
    const double est[4] = {1.5, 0.0, 0.25, 2.0};
    const double se[4] = {0.1, host_missing_value(), 0.05, 0.2};
    HostText* cellLabels[4] = {kyrtxt("[b1]", -1), nullptr, kyrtxt("<d>", -1), kyrtxt("[b2]", -1)};
    const char cols[] = "F1      F2      ";
    NameRecord rows[2];
    rows[0].length = 2;
    std::memcpy(rows[0].text, "y1", 2);
    rows[1].length = 2;
    std::memcpy(rows[1].text, "y2", 2);
    std::vector<KyrArg> main = {kyr_address(389, kKyrDoubles, est), kyr_int(390, 2), kyr_int(391, 2),
                                kyr_address(412, kKyrRowLabels, rows), kyr_address(399, kKyrNames, cols),
                                kyr_int(400, 8), counted(105, "raf"), kyr_int(393, 98)};
    std::vector<KyrArg> pieceS = {kyr_address(389, kKyrDoubles, se), kyr_int(390, 2), kyr_int(391, 2),
                                  counted(105, "raf"), kyr_int(393, 98), counted(471, "S")};
    std::vector<KyrArg> pieceN = {kyr_address(464, 67, cellLabels), kyr_int(390, 2), kyr_int(391, 2),
                                  counted(105, "ra"), counted(471, "N")};
    ASSERT_EQ(call(m, 462, &main), 0);
    ASSERT_EQ(call(m, 462, &pieceS), 0);
    ASSERT_EQ(call(m, 462, &pieceN), 0);
    std::vector<KyrArg> wrongShape = {kyr_address(389, kKyrDoubles, se), kyr_int(390, 1), kyr_int(391, 4),
                                      counted(105, "raf"), counted(471, "T")};
    EXPECT_EQ(call(m, 462, &wrongShape), kKyrBadArgument);
    std::vector<KyrArg> publish = {kyr_text(339, kyrtxts("Tesk.Velix.%s", -1, "EstParms")),
                                   kyr_text(138, kyrtxt("EstParms", -1)), kyr_text(296, kyrmsg(352, 744)),
                                   kyr_int(278, 9), kyr_text(311, kyrtxt("flow", -1)), kyr_word2(287, 0)};
    ASSERT_EQ(call(m, 388, &publish), 0);
    EXPECT_EQ(call(m, 462, &main), kKyrWrongOrder) << "no pieces after publishing";
    ASSERT_EQ(close_object(m), 0);
    EXPECT_EQ(call(m, 388, &publish), kKyrClosed);

    const JsonValue j = items()[0];
    EXPECT_EQ(j["name"].str(), "EstParms");
    EXPECT_EQ(j["path"].str(), "Tesk.Velix.EstParms");
    EXPECT_EQ(j["columnLabels"][1].str(), "F2");
    EXPECT_EQ(j["rowLabels"][0].str(), "y1");
    EXPECT_EQ(j["values"][1][0].number(), 0.25);
    EXPECT_EQ(j["dynamic"]["flow"].number(), 0);
    ASSERT_EQ(j["pieces"].size(), 2u);
    EXPECT_EQ(j["pieces"][0]["label"].str(), "S");
    EXPECT_TRUE(j["pieces"][0]["values"][0][1].is_null());
    EXPECT_EQ(j["pieces"][0]["values"][1][1].number(), 0.2);
    EXPECT_EQ(j["pieces"][1]["label"].str(), "N");
    EXPECT_EQ(j["pieces"][1]["values"][0][0].str(), "[b1]");
    EXPECT_TRUE(j["pieces"][1]["values"][0][1].is_null());
}

TEST_F(OutputManager, NotesAndNestedGroups) {
    HostObject* outer = open_group("Optimization", 720);
    HostObject* inner = open_group("ModificationIndex", 860);
    std::vector<KyrArg> centred = {kyr_text(577, kyrtxt("Centred note", -1)), kyr_int(280, 1), kyr_int(371, 1), kyr_char(273, 'c')};
    std::vector<KyrArg> left = {kyr_text(577, kyrmsg(352, 3)), kyr_int(371, 1), kyr_char(273, 'l')};
    ASSERT_EQ(call(manager_, 358, &centred), 0);
    ASSERT_EQ(call(manager_, 358, &left), 0);
    ASSERT_EQ(close_object(inner), 0);
    ASSERT_EQ(close_object(outer), 0);
    EXPECT_EQ(close_object(outer), kKyrClosed) << "a group closes once";

    const JsonValue out = items();
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0]["depth"].number(), 0);
    EXPECT_EQ(out[1]["depth"].number(), 1);
    EXPECT_EQ(out[2]["justify"].str(), "c");
    EXPECT_EQ(out[3]["justify"].str(), "l");
    EXPECT_EQ(out[3]["textMessage"]["number"].number(), 3);
    EXPECT_EQ(out[4]["name"].str(), "ModificationIndex");
    EXPECT_EQ(out[5]["name"].str(), "Optimization");

    std::istringstream lines(listing());
    std::string line;
    bool centredSeen = false;
    while (std::getline(lines, line)) {
        if (line.find("Centred note") != std::string::npos) {
            centredSeen = true;
            EXPECT_GT(line.find("Centred note"), 10u) << "a centred note starts inside the line";
        }
    }
    EXPECT_TRUE(centredSeen);
}

TEST_F(OutputManager, ProtocolOrderIsEnforced) {
    HostObject* table = create("data", "T", 744);
    double v = 1.0;
    std::vector<KyrArg> col = {kyr_int(103, 5), counted(138, "V"), kyr_address(285, kKyrCell, &v)};
    EXPECT_EQ(call(table, 329), kKyrWrongOrder) << "no rows before the columns end";
    std::vector<KyrArg> bindEarly = {kyr_object(0, nullptr), kyr_object(0, table), kyr_text(339, kyrtxt("p", -1))};
    EXPECT_EQ(call(manager_, 422, &bindEarly), kKyrWrongOrder);
    ASSERT_EQ(call(table, 338, &col), 0);
    ASSERT_EQ(call(table, 298), 0);
    EXPECT_EQ(call(table, 329), kKyrWrongOrder) << "no rows before the bind";
    EXPECT_EQ(call(table, 338, &col), kKyrWrongOrder) << "no columns after they end";
    std::vector<KyrArg> bind = {kyr_object(0, nullptr), kyr_object(0, table), kyr_text(339, kyrtxt("p", -1))};
    ASSERT_EQ(call(manager_, 422, &bind), 0);
    EXPECT_EQ(call(manager_, 422, &bind), kKyrWrongOrder) << "a table is bound once";
    ASSERT_EQ(call(table, 329), 0);
    std::vector<KyrArg> deliver = {kyr_object(0, bind[0].object)};
    EXPECT_EQ(call(manager_, 428, &deliver), kKyrWrongOrder) << "no delivery before the rows end";
    ASSERT_EQ(call(table, 299), 0);
    EXPECT_EQ(call(table, 329), kKyrWrongOrder);
    ASSERT_EQ(call(manager_, 428, &deliver), 0);
    EXPECT_EQ(call(manager_, 428, &deliver), kKyrWrongOrder) << "a table is delivered once";
    EXPECT_EQ(items().size(), 1u);

    // Methods a class does not have, and malformed entries.
    EXPECT_EQ(call(table, 164), kNoSuchMethod);
    EXPECT_EQ(call(manager_, 329), kNoSuchMethod);
    std::vector<KyrArg> badClass = {counted(143, "kyr"), counted(146, "chart"), kyr_object(144, nullptr)};
    EXPECT_EQ(call(manager_, 147, &badClass), kKyrBadArgument);
    EXPECT_EQ(badClass[2].object, nullptr);
    std::vector<KyrArg> badFamily = {counted(143, "abc"), counted(146, "data"), kyr_object(144, nullptr)};
    EXPECT_EQ(call(manager_, 147, &badFamily), kKyrBadArgument);
    HostObject* other = create("data", "U", 744);
    std::vector<KyrArg> badKind = {kyr_int(103, 99), counted(138, "V"), kyr_address(285, kKyrCell, &v)};
    EXPECT_EQ(call(other, 338, &badKind), kKyrBadArgument);
    std::vector<KyrArg> noCell = {kyr_int(103, 5), counted(138, "V")};
    EXPECT_EQ(call(other, 338, &noCell), kKyrBadArgument);
    EXPECT_EQ(wobmth(other, nullptr, 338, 2, nullptr), kKyrBadArgument);
    ASSERT_EQ(close_object(other), 0);
    EXPECT_EQ(call(other, 298), kKyrClosed);
    EXPECT_EQ(other->cls->closeDescriptor->function(table, nullptr, 3, 0, nullptr), kKyrBadArgument)
        << "only operation 4 closes";
}

TEST_F(OutputManager, InjectedFailuresStopTheNthCall) {
    velix::platform::inject_method_failure(147, 1, -5);
    std::vector<KyrArg> a = {counted(143, "kyr"), counted(146, "data"), kyr_object(144, nullptr)};
    EXPECT_EQ(call(manager_, 147, &a), -5);
    EXPECT_EQ(a[2].object, nullptr) << "a failed create writes no handle";
    ASSERT_EQ(call(manager_, 147, &a), 0) << "only the first call fails";
    HostObject* table = a[2].object;

    int32_t cell = 0;
    std::vector<KyrArg> col = {kyr_int(103, 3), counted(138, "N"), kyr_address(285, kKyrCell, &cell)};
    ASSERT_EQ(call(table, 338, &col), 0);
    ASSERT_EQ(call(table, 298), 0);
    std::vector<KyrArg> bind = {kyr_object(0, nullptr), kyr_object(0, table), kyr_text(339, kyrtxt("p", -1))};
    ASSERT_EQ(call(manager_, 422, &bind), 0);
    velix::platform::inject_method_failure(329, 2, static_cast<int32_t>(0x80001234u));
    for (cell = 1; cell <= 3; ++cell) {
        const int32_t rc = call(table, 329);
        EXPECT_EQ(rc, cell == 2 ? static_cast<int32_t>(0x80001234u) : 0) << "row " << cell;
    }
    ASSERT_EQ(call(table, 299), 0);
    std::vector<KyrArg> deliver = {kyr_object(0, bind[0].object)};
    ASSERT_EQ(call(manager_, 428, &deliver), 0);
    const JsonValue rows = items()[0]["rows"];
    ASSERT_EQ(rows.size(), 2u) << "the failed call added no row";
    EXPECT_EQ(rows[0][0].number(), 1);
    EXPECT_EQ(rows[1][0].number(), 3);

    velix::platform::clear_injected_failures();
    velix::platform::inject_method_failure(358, 1, -1);
    std::vector<KyrArg> note = {kyr_text(577, kyrtxt("lost", -1)), kyr_char(273, 'l')};
    EXPECT_EQ(call(manager_, 358, &note), -1);
    EXPECT_EQ(listing().find("lost"), std::string::npos);
    EXPECT_EQ(items().size(), 1u);
}

// The messages of a step that wait beyond the memory they may take wait
// in an unnamed file in the folder of the document's scratch file, not in
// the system's temporary folder (often a small memory file system).
TEST_F(OutputManager, MessagesThatWaitForTheDocumentWaitInItsFolder) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("velix_doc_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ostringstream document;
    velix::platform::output_stream_json(&document, folder.string());
    velix::platform::output_begin_step(1);
    const std::string line = "NOTE: " + std::string(200, 'x');
    for (size_t held = 0; held <= 2 * velix::platform::Spill::kHeldBytes; held += line.size())
        velix::platform::record_message(0, 0, line);
    EXPECT_TRUE(velix::test::holds_file_in(folder.string())) << "no file of this process is open in " << folder;
    velix::platform::output_keep_json();
    std::filesystem::remove_all(folder);
}

// Text that could not wait beyond the memory it may take (no folder for
// its file) is lost in part: what came after the loss was still written
// out, the head of a document cut from its middle.  None of it is now.
TEST(Spill, TextLostInPartIsNotWrittenAtAll) {
    velix::platform::Spill spill;
    spill.place_in("/nonexistent-velix-folder");
    const std::string piece(velix::platform::Spill::kHeldBytes / 4, 'x');
    for (int k = 0; k < 6; ++k) spill.append(piece);
    spill.append("tail");
    std::ostringstream out;
    int reason = 0;
    EXPECT_FALSE(spill.move_to(&out, &reason));
    EXPECT_EQ(out.str().size(), 0u) << "written: ..." << out.str().substr(out.str().size() > 20 ? out.str().size() - 20 : 0);
    EXPECT_EQ(reason, ENOENT);
}

TEST_F(OutputManager, StepsKeepTheirReturnCodesAndMessages) {
    std::vector<KyrArg> note = {kyr_text(577, kyrtxt("step one", -1)), kyr_char(273, 'l')};
    ASSERT_EQ(call(manager_, 358, &note), 0);
    xpmlog(352, 1, "INEST=", "INEST=");
    velix::platform::output_end_step(1008);
    velix::platform::end_step();
    velix::platform::begin_step();
    velix::platform::output_begin_step(2);
    HostObject* anchor = nullptr;
    ASSERT_EQ(xobinit(&anchor, 0), 0);
    EXPECT_EQ(xobinit(nullptr, 0), kKyrBadArgument);

    const JsonValue doc = document();
    ASSERT_EQ(doc["steps"].size(), 2u);
    EXPECT_EQ(doc["steps"][0]["step"].number(), 1);
    EXPECT_EQ(doc["steps"][0]["returnCode"].number(), 1008);
    EXPECT_EQ(doc["steps"][0]["output"][0]["text"].str(), "step one");
    EXPECT_EQ(doc["steps"][0]["messages"][0]["number"].number(), 1);
    EXPECT_EQ(doc["steps"][1]["step"].number(), 2);
    EXPECT_TRUE(doc["steps"][1]["returnCode"].is_null()) << "still running";
    EXPECT_EQ(doc["steps"][1]["output"].size(), 0u);
}

TEST_F(OutputManager, JsonEscapesTextsAndKeepsDoublesExact) {
    const std::string nasty = std::string("quote\" back\\ slash/ tab\t nl\n cr\r bell\x07 ") + "\xc3\xa9t\xc3\xa9";
    std::vector<KyrArg> note = {kyr_text(577, kyrtxt(nasty.c_str(), -1)), kyr_char(273, 'l')};
    ASSERT_EQ(call(manager_, 358, &note), 0);
    // Bytes that are not UTF-8 (a Latin-1 label, a stray byte) keep the
    // document valid: each becomes the code point of its value.
    const std::string latin1 = "caf\xe9 \xff\xfe \xc3\xa9 \xed\xa0\x80";
    std::vector<KyrArg> latin = {kyr_text(577, kyrtxt(latin1.c_str(), -1)), kyr_char(273, 'l')};
    ASSERT_EQ(call(manager_, 358, &latin), 0);
    const std::string json = velix::platform::output_json();
    EXPECT_EQ(json.find('\xe9'), std::string::npos) << "no raw Latin-1 byte in the document";
    EXPECT_EQ(json.find('\xff'), std::string::npos);
    HostObject* f = create("factoid", "Numbers", 744, "p");
    const double samples[] = {0.1, 1.0 / 3.0, 4.9406564584124654e-324, 1.7976931348623157e308, -0.0,
                              123456789.123456789, std::numeric_limits<double>::infinity()};
    for (const double d : samples) {
        std::vector<KyrArg> e = {kyr_text(296, kyrtxt("x", -1)), kyr_double(287, d)};
        ASSERT_EQ(call(f, 164, &e), 0);
    }
    ASSERT_EQ(call(f, 299), 0);
    const JsonValue out = items();
    EXPECT_EQ(out[0]["text"].str(), nasty);
    EXPECT_EQ(out[1]["text"].str(), "caf\xc3\xa9 \xc3\xbf\xc3\xbe \xc3\xa9 \xc3\xad\xc2\xa0\xc2\x80")
        << "a surrogate's encoding is not UTF-8 either";
    const JsonValue& entries = out[2]["entries"];
    ASSERT_EQ(entries.size(), std::size(samples));
    for (size_t i = 0; i < std::size(samples); ++i) {
        const double back = entries[i]["value"].number();
        EXPECT_EQ(std::memcmp(&back, &samples[i], sizeof back), 0) << "sample " << i << ": " << back;
    }
}

}  // namespace
