// Variables and bindings: lookup, descriptors, the variable lists of a
// step, typed get of an observation into cells, and output rows made from
// cells (with the BY variables of DATA=) read back as a data set.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dataset_fixture.h"
#include "velix/types.h"

namespace {

using velix::platform::dataset_set_by;
using velix::platform::testing::DataSetTest;

std::string field(const char* p, size_t n) { return std::string(p, n); }

TEST_F(DataSetTest, FindIgnoresCaseAndTrailingBlanks) {
    write("v", "_TYPE_,Height,w\nA,1,2\n");
    HostDataSet* d = open("v");
    int16_t number = -1;
    EXPECT_EQ(xvfind(d, "HEIGHT  ", 8, &number, 0), 0);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(xvfind(d, "_type_", 6, &number, 0), 0);
    EXPECT_EQ(number, 1);
    const int32_t r = xvfind(d, "Intercept", 9, &number, 0);
    EXPECT_NE(r & static_cast<int32_t>(0x803FFFFFu), 0) << "not found sets a bit of 0x803FFFFF";
    EXPECT_EQ(number, 0);
    EXPECT_NE(xvfind(nullptr, "w", 1, &number, 0) & static_cast<int32_t>(0x803FFFFFu), 0);
}

TEST_F(DataSetTest, DescriptorsDescribeTheVariables) {
    write("v", "# CHAR=_NAME_:32\n_NAME_,x\nab,1\n");
    HostDataSet* d = open("v");
    const HostVariableDescriptor* desc = nullptr;
    ASSERT_EQ(xvname(d, 1, &desc), 0);
    EXPECT_EQ(field(desc->name, desc->nameLength), "_NAME_");
    EXPECT_EQ(desc->type, kVarCharacter);
    EXPECT_EQ(desc->length, 32);
    EXPECT_EQ(desc->storedLength, desc->length);
    ASSERT_EQ(xvname(d, 2, &desc), 0);
    EXPECT_EQ(desc->type, kVarNumeric);
    EXPECT_EQ(desc->length, 8);
    EXPECT_EQ(xvname(d, 3, &desc), kDsBadArgument);
    EXPECT_EQ(xvname(d, 0, &desc), kDsBadArgument);

    HostVariableDescriptor init;
    init.type = kVarCharacter;
    init.nameLength = 5;
    xvnamei(&init);
    EXPECT_EQ(init.type, kVarNumeric);
    EXPECT_EQ(init.nameLength, 0);
    EXPECT_EQ(init.name, nullptr);
    EXPECT_EQ(field(init.attributeName[0], 8), "        ");
    EXPECT_EQ(init.attributeWord[1], 0);
}

TEST_F(DataSetTest, VariableListsDefaultToTheNumericVariablesNoListNames) {
    write("l", "g,name,a,b,wt,c,p\n1,x,1,2,3,4,5\n");
    HostDataSet* d = open("l");
    int16_t by[] = {1};
    int16_t weight[] = {5};
    int16_t partial[] = {7};
    VariableListRecord lists;
    lists.entry[kHostListBy] = {1, by};
    lists.entry[kHostListWeight] = {1, weight};
    lists.entry[kHostListPartial] = {1, partial};
    ASSERT_EQ(xvdflst(d, &lists), 0);
    const VariableList& var = lists.entry[kHostListVar];
    EXPECT_EQ(std::vector<int16_t>(var.numbers, var.numbers + var.count),
              (std::vector<int16_t>{3, 4, 6}));
    const VariableList& read = lists.entry[kHostListRead];
    EXPECT_EQ(std::vector<int16_t>(read.numbers, read.numbers + read.count),
              (std::vector<int16_t>{3, 4, 6, 7}));

    int16_t given[] = {6, 3};
    VariableListRecord explicitList;
    explicitList.entry[kHostListVar] = {2, given};
    ASSERT_EQ(xvdflst(d, &explicitList), 0);
    const VariableList& r2 = explicitList.entry[kHostListRead];
    EXPECT_EQ(std::vector<int16_t>(r2.numbers, r2.numbers + r2.count), (std::vector<int16_t>{6, 3}));

    int16_t wrong[] = {8};
    VariableListRecord bad;
    bad.entry[kHostListFreq] = {1, wrong};
    EXPECT_EQ(xvdflst(d, &bad), kDsBadArgument);
}

// Without an analysis list, a variable of raw data that is numbers but
// for an infinity is analysed (reading it is the error that names the
// value); one that a word made character is not, with a NOTE that names
// the word, unless another list names it or it holds no number.
TEST_F(DataSetTest, DefaultListTakesInfinitiesAndNamesTheWordsItLeavesOut) {
    write("w", "g,a,inf,word,name\n1,1,2,3,x\n2,2,-Inf,n/a,y\nz,3,4,5,z\n");
    HostDataSet* d = open("w");
    int16_t by[] = {1};
    VariableListRecord lists;
    lists.entry[kHostListBy] = {1, by};
    ASSERT_EQ(xvdflst(d, &lists), 0);
    const VariableList& var = lists.entry[kHostListVar];
    EXPECT_EQ(std::vector<int16_t>(var.numbers, var.numbers + var.count), (std::vector<int16_t>{2, 3}));
    EXPECT_EQ(log(), "NOTE: Variable word of data set w holds numbers but is character, and is not analysed: line 3 "
                     "of w.csv holds n/a.\n");
}

TEST_F(DataSetTest, TypedGetFillsNumericAndPaddedCharacterCells) {
    write("t", "_TYPE_,_NAME_,x,y\nCOV,longer_than_eight,1.5,.\nN,,3,4\n");
    HostDataSet* d = open("t");
    HostBinding* b = nullptr;
    ASSERT_EQ(xvgeti(d, 4, 0, &b), 0);
    char type[8];
    char name[32];
    char shortName[4];
    double x = 0.0, y = 0.0;
    ASSERT_EQ(xvgetd(b, 1, 0, type, 8, 'c', 0, 0), 0);
    ASSERT_EQ(xvgetd(b, 2, 0, name, 32, 'c', 0, 0), 0);
    ASSERT_EQ(xvgetd(b, 2, 0, shortName, 4, 'c', 0, 0), 0);
    ASSERT_EQ(xvgetd(b, 3, 0, &x, 8, 'f', 0, 0), 0);
    ASSERT_EQ(xvgetd(b, 4, 0, &y, 8, 8, 0, 0), 0);
    EXPECT_EQ(xvgetd(b, 1, 0, &x, 8, 'f', 0, 0), kDsWrongType);
    EXPECT_EQ(xvgetd(b, 3, 0, name, 8, 'c', 0, 0), kDsWrongType);
    EXPECT_EQ(xvgetd(b, 5, 0, &x, 8, 'f', 0, 0), kDsBadArgument);
    ASSERT_EQ(xvgete(b), 0);
    EXPECT_EQ(xyvget(b, 0), kDsNoObservation) << "no observation read yet";

    DataSetSlot slot;
    slot.handle = d;
    ASSERT_EQ(xbynext(d), 1);
    ASSERT_EQ(xybyget(&slot), 1);
    EXPECT_EQ(slot.flags & kSlotReading, kSlotReading);
    ASSERT_EQ(xyvget(b, 0), 0);
    EXPECT_EQ(field(type, 8), "COV     ");
    EXPECT_EQ(field(name, 32), "longer_than_eight               ");
    EXPECT_EQ(field(shortName, 4), "long");
    EXPECT_EQ(x, 1.5);
    EXPECT_TRUE(host_is_missing(y));
    ASSERT_EQ(xybyget(&slot), 1);
    ASSERT_EQ(xyvget(b, 0), 0);
    EXPECT_EQ(field(type, 8), "N       ");
    EXPECT_EQ(field(name, 32), std::string(32, ' '));
    EXPECT_EQ(y, 4.0);
    EXPECT_EQ(xybyget(&slot), 0);
    EXPECT_EQ(slot.flags & kSlotReading, 0u);

    ASSERT_EQ(xvgett(b), 0);
    EXPECT_TRUE(d->bindings.empty()) << "a released list leaves nothing with its data set";
    EXPECT_EQ(xvputi(d, 1, 0, &b), kDsReadOnly);
}

TEST_F(DataSetTest, OutputRowsFromCellsCarryTheByValuesOfData) {
    write("data", "grp,x\nA,1\nA,2\nB,3\n");
    HostDataSet* data = open("data");
    std::string error;
    ASSERT_TRUE(dataset_set_by(data, {"grp"}, false, &error));
    HostDataSet* out = create("stat");
    ASSERT_EQ(xoinfo(out, kInfoSetType, const_cast<char*>("CORR    ")), 0);

    HostBinding* b = nullptr;
    ASSERT_EQ(xvputi(out, 4, 0, &b), 0);
    int16_t by[] = {1};
    ASSERT_EQ(xvputcv(b, data, by, 1, 0), 0);
    OutputRowBuffer row;
    double value = 0.0;
    HostVariableDescriptor desc;
    xvnamei(&desc);
    desc.name = "_TYPE_";
    desc.nameLength = 6;
    desc.type = kVarCharacter;
    desc.length = desc.storedLength = 8;
    ASSERT_EQ(xvputd(b, &desc, 0, row.type, 0, 0, 0), 0);
    xvnamei(&desc);
    desc.name = "_NAME_";
    desc.nameLength = 6;
    desc.type = kVarCharacter;
    ASSERT_EQ(xvputd(b, &desc, 0, row.name.text, 32, 0, 0), 0);
    EXPECT_EQ(xvputd(b, &desc, 0, row.name.text, 32, 0, 0), kDsBadArgument) << "name taken";
    const HostVariableDescriptor* xdesc = nullptr;
    ASSERT_EQ(xvname(data, 2, &xdesc), 0);
    ASSERT_EQ(xvputd(b, xdesc, 0, &value, 0, 0, 0), 0);
    ASSERT_EQ(xvpute(b), 0);

    auto put = [&](const char* type, const char* name, double v) {
        std::memset(row.type, ' ', 8);
        std::memcpy(row.type, type, std::strlen(type));
        std::memset(row.name.text, ' ', 32);
        std::memcpy(row.name.text, name, std::strlen(name));
        value = v;
        EXPECT_EQ(xyvput(b, 0), 0);
    };
    ASSERT_EQ(xbynext(data), 1);
    put("MEAN", "", 1.5);
    put("CORR", "x", 1.0);
    ASSERT_EQ(xbynext(data), 1);
    put("MEAN", "", 3.0);
    put("N", "", host_special_missing(2));
    EXPECT_TRUE(velix::platform::dataset_commit_outputs(0));
    velix::platform::dataset_end_step();

    EXPECT_EQ(read("stat"),
              "# TYPE=CORR\n# CHAR=grp:1,_TYPE_:8,_NAME_:32\ngrp,_TYPE_,_NAME_,x\n"
              "A,MEAN,,1.5\nA,CORR,x,1\nB,MEAN,,3\nB,N,,.A\n");
}

TEST_F(DataSetTest, RowErrorsAreReportedWithTheDataSetName) {
    write("rep", "x\n1\n");
    DataSetSlot slot;
    slot.handle = open("rep");
    xofprc(&slot, -7, 4);
    EXPECT_EQ(slot.status, -7);
    EXPECT_NE(log_.str().find("rep"), std::string::npos);
    EXPECT_NE(log_.str().find("-7"), std::string::npos);
}

}  // namespace
