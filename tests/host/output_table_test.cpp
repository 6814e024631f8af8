// The output-table calls against a recording manager and table: each call
// reaches its method with the entries the output manager reads, in their
// order and number; the created table and the bound output come back only
// from a call that succeeds; an entry list longer than any call has ends
// the step as an internal error.
#include "host/output_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/session_fixture.h"

namespace {

struct Call {
    HostObject* object;
    uint32_t method;
    std::vector<KyrArg> args;
};

std::vector<Call> calls;
int32_t status = 0;         // what every method answers
int failingCall = -1;       // the call (0-based) that answers -7 instead
HostObject createdTable{};  // what a create writes back
HostObject boundOutput{};   // what a bind writes back

int32_t record(HostObject* object, void* entryDatum, void*, int32_t count, KyrArg* args) {
    const uint32_t method = *static_cast<const uint32_t*>(entryDatum);
    calls.push_back({object, method, std::vector<KyrArg>(args, args + count)});
    if (static_cast<int>(calls.size()) - 1 == failingCall) return -7;
    if (status >= 0 && method == kKyrMethodCreate) args[2].object = &createdTable;
    if (status >= 0 && method == kKyrMethodBind) args[0].object = &boundOutput;
    return status;
}

std::string counted_text(const KyrArg& a) {
    return std::string(static_cast<const char*>(a.address), static_cast<size_t>(a.word));
}

// One class that answers every method of the protocol with `record`.
class OutputTableCalls : public HostStep {
   protected:
    void SetUp() override {
        HostStep::SetUp();
        calls.clear();
        status = 0;
        failingCall = -1;
        const uint32_t numbers[] = {
            kKyrMethodCreate,        kKyrMethodColumn,    kKyrMethodEndColumns,
            kKyrMethodBind,          kKyrMethodAddRow,    kKyrMethodEndRows,
            kKyrMethodDeliver,       kKyrMethodNote,      kKyrMethodFactoidEntry,
            kKyrMethodPublishMatrix, kKyrMethodOpenGroup, kKyrMethodDynamicVariable,
            kKyrMethodMatrixData,    kKyrMethodTitle};
        entries_.resize(std::size(numbers));
        methodNumbers_.assign(std::begin(numbers), std::end(numbers));
        heads_.assign(1, nullptr);
        for (size_t i = 0; i < entries_.size(); ++i) {
            entries_[i] = HostMethodEntry{heads_[0], &methodNumbers_[i], &descriptor_, numbers[i]};
            heads_[0] = &entries_[i];
        }
        cls_.buckets = heads_.data();
        cls_.bucketMask = 0;
        manager_.cls = &cls_;
        table_.cls = &cls_;
        createdTable.cls = &cls_;  // the builders go on with the table a create gives
    }

    HostMethodDescriptor descriptor_{record, nullptr};
    std::vector<uint32_t> methodNumbers_;
    std::vector<HostMethodEntry> entries_;
    std::vector<HostMethodEntry*> heads_;
    HostClass cls_;
    HostObject manager_;
    HostObject table_;
    // Stand-ins for text handles: only their identity is passed on.
    int textA_ = 0, textB_ = 0;
    HostText* title_ = reinterpret_cast<HostText*>(&textA_);
    HostText* name_ = reinterpret_cast<HostText*>(&textB_);
};

TEST_F(OutputTableCalls, CreateSendsTheDataTableEntriesAndGivesTheTable) {
    HostObject* table = nullptr;
    EXPECT_EQ(kyr_table_create(&manager_, "LinDep", title_, &table), 0);
    EXPECT_EQ(table, &createdTable);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].object, &manager_);
    EXPECT_EQ(calls[0].method, 147u);
    const std::vector<KyrArg>& a = calls[0].args;
    ASSERT_EQ(a.size(), 6u);
    const uint16_t attributes[] = {143, 146, 144, 148, 138, 296};
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].attribute, attributes[i]) << "entry " << i;
    EXPECT_EQ(counted_text(a[0]), "kyr");
    EXPECT_EQ(counted_text(a[1]), "data");
    EXPECT_EQ(a[2].type, kKyrObject);
    EXPECT_EQ(a[3].word, -1);
    EXPECT_EQ(a[4].type, kKyrCounted);
    EXPECT_EQ(counted_text(a[4]), "LinDep");
    EXPECT_EQ(a[5].type, kKyrTextHandle);
    EXPECT_EQ(a[5].text, title_);

    // The name as a text handle goes as that handle.
    EXPECT_EQ(kyr_table_create(&manager_, name_, title_, &table), 0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].args[4].type, kKyrTextHandle);
    EXPECT_EQ(calls[1].args[4].text, name_);
}

TEST_F(OutputTableCalls, AFailedCallReturnsItsStatusAndWritesNoOutput) {
    status = -7;
    HostObject* table = &table_;
    HostObject* output = &table_;
    EXPECT_EQ(kyr_table_create(&manager_, "T", title_, &table), -7);
    EXPECT_EQ(kyr_table_bind(&manager_, &table_, "Path.T", &output), -7);
    EXPECT_EQ(table, &table_);
    EXPECT_EQ(output, &table_);
    EXPECT_EQ(calls.size(), 2u);
    // The failure is the caller's to report: nothing is written to the log.
    EXPECT_EQ(log(), "");
}

TEST_F(OutputTableCalls, ColumnsReadTheirCellOrTheAddressInTheirCell) {
    double value = 0.0;
    const double* cursor = &value;
    const KyrArg extra[] = {kyr_int(289, 12), kyr_int(272, 4), kyr_counted(339, "Sign", 4)};
    EXPECT_EQ(kyr_table_column(&table_, 5, "Value", &value), 0);
    EXPECT_EQ(kyr_table_column(&table_, 20, name_, &value, extra, 3), 0);
    EXPECT_EQ(kyr_table_column_at(&table_, 5, name_, &cursor), 0);
    ASSERT_EQ(calls.size(), 3u);
    for (const Call& c : calls) {
        EXPECT_EQ(c.object, &table_);
        EXPECT_EQ(c.method, 338u);
    }
    const std::vector<KyrArg>& plain = calls[0].args;
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain[0].attribute, 103);
    EXPECT_EQ(plain[0].word, 5);
    EXPECT_EQ(plain[1].attribute, 138);
    EXPECT_EQ(counted_text(plain[1]), "Value");
    EXPECT_EQ(plain[2].attribute, 285);
    EXPECT_EQ(plain[2].type, kKyrCell);
    EXPECT_EQ(plain[2].address, &value);

    // The further entries follow the cell as they were given.
    const std::vector<KyrArg>& wide = calls[1].args;
    ASSERT_EQ(wide.size(), 6u);
    EXPECT_EQ(wide[1].text, name_);
    EXPECT_EQ(wide[3].attribute, 289);
    EXPECT_EQ(wide[3].word, 12);
    EXPECT_EQ(wide[4].attribute, 272);
    EXPECT_EQ(wide[4].word, 4);
    EXPECT_EQ(wide[5].attribute, 339);
    EXPECT_EQ(counted_text(wide[5]), "Sign");

    const std::vector<KyrArg>& indirect = calls[2].args;
    ASSERT_EQ(indirect.size(), 3u);
    EXPECT_EQ(indirect[2].attribute, 343);
    EXPECT_EQ(indirect[2].type, kKyrCell);
    EXPECT_EQ(indirect[2].address, &cursor);
}

TEST_F(OutputTableCalls, BindRowsAndDeliverFollowTheProtocol) {
    HostObject* output = nullptr;
    const KyrArg title[] = {kyr_counted(311, "titletext", 9), kyr_text(287, title_)};
    EXPECT_EQ(kyr_table_end_columns(&table_), 0);
    EXPECT_EQ(kyr_table_bind(&manager_, &table_, "Orvo.NLP.LinDep", &output, title, 2), 0);
    EXPECT_EQ(output, &boundOutput);
    EXPECT_EQ(kyr_table_bind(&manager_, &table_, name_, &output), 0);
    EXPECT_EQ(kyr_table_add_row(&table_), 0);
    EXPECT_EQ(kyr_table_end_rows(&table_), 0);
    EXPECT_EQ(kyr_table_deliver(&manager_, &boundOutput), 0);
    ASSERT_EQ(calls.size(), 6u);

    const uint32_t methods[] = {298, 422, 422, 329, 299, 428};
    HostObject* objects[] = {&table_, &manager_, &manager_, &table_, &table_, &manager_};
    const size_t counts[] = {0, 5, 3, 0, 0, 1};
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].method, methods[i]) << "call " << i;
        EXPECT_EQ(calls[i].object, objects[i]) << "call " << i;
        EXPECT_EQ(calls[i].args.size(), counts[i]) << "call " << i;
    }
    const std::vector<KyrArg>& bind = calls[1].args;
    EXPECT_EQ(bind[0].attribute, 0);
    EXPECT_EQ(bind[0].object, nullptr);  // the handle comes back here
    EXPECT_EQ(bind[1].attribute, 0);
    EXPECT_EQ(bind[1].object, &table_);
    EXPECT_EQ(bind[2].attribute, 339);
    EXPECT_EQ(counted_text(bind[2]), "Orvo.NLP.LinDep");
    EXPECT_EQ(counted_text(bind[3]), "titletext");
    EXPECT_EQ(bind[4].attribute, 287);
    EXPECT_EQ(bind[4].text, title_);
    EXPECT_EQ(calls[2].args[2].type, kKyrTextHandle);
    EXPECT_EQ(calls[2].args[2].text, name_);
    EXPECT_EQ(calls[5].args[0].object, &boundOutput);
}

TEST_F(OutputTableCalls, NoteIsOneJustifiedLine) {
    EXPECT_EQ(kyr_note(&manager_, title_, 'c'), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, 358u);
    const std::vector<KyrArg>& a = calls[0].args;
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[0].attribute, 577);
    EXPECT_EQ(a[0].text, title_);
    EXPECT_EQ(a[1].attribute, 280);
    EXPECT_EQ(a[1].word, 1);
    EXPECT_EQ(a[2].attribute, 371);
    EXPECT_EQ(a[2].word, 1);
    EXPECT_EQ(a[3].attribute, 273);
    EXPECT_EQ(a[3].character, 'c');
}

TEST_F(OutputTableCalls, MoreFurtherEntriesThanACallHoldsEndTheStep) {
    std::vector<KyrArg> extra(9, kyr_int(289, 1));
    double cell = 0.0;
    HostObject* output = nullptr;
    EXPECT_EQ(exit_code([&] { kyr_table_column(&table_, 5, "X", &cell, extra.data(), 9); }), 9999);
    EXPECT_EQ(exit_code([&] { kyr_table_bind(&manager_, &table_, "P", &output, extra.data(), 9); }),
              9999);
    EXPECT_EQ(exit_code([&] { kyr_table_column(&table_, 5, "X", &cell, extra.data(), 8); }), -1);
    EXPECT_EQ(calls.size(), 1u) << "only the call within the limit reaches the table";
    EXPECT_NE(log().find("internal error"), std::string::npos) << log();
}

// The builders' one failure rule: the first failed call is reported once
// and abandons the table; no later call reaches the manager.
TEST_F(OutputTableCalls, ABuilderStopsAtItsFirstFailedCall) {
    failingCall = 2;  // create, first column, second column fails
    OutputTable t(&manager_, "T", title_, "Path.T", name_);
    t.text_column("Name", 8);
    t.int_column("Count");
    t.double_column("Value");
    EXPECT_FALSE(t.end_columns());
    t.set_int(1, 3);
    EXPECT_FALSE(t.add_row());
    EXPECT_FALSE(t.deliver());
    EXPECT_FALSE(t.ok());
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].args.size(), 4u) << "a text column states its width";
    EXPECT_EQ(calls[2].args.size(), 3u);
    EXPECT_FALSE(log().empty()) << "the failure is reported";

    // Without a manager nothing is called at all.
    calls.clear();
    OutputTable none(nullptr, "T", title_, "Path.T");
    none.int_column("Count");
    EXPECT_FALSE(none.end_columns() || none.add_row() || none.deliver());
    EXPECT_TRUE(calls.empty());
}

TEST_F(OutputTableCalls, OutputTableBindsWithItsTitleVariableAndDelivers) {
    OutputTable t(&manager_, "T", title_, "Path.T", name_);
    t.double_column("Value");
    ASSERT_TRUE(t.end_columns());
    t.set_double(0, 2.5);
    ASSERT_TRUE(t.add_row());
    ASSERT_TRUE(t.deliver());
    const uint32_t methods[] = {147, 338, 298, 422, 329, 299, 428};
    ASSERT_EQ(calls.size(), std::size(methods));
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].method, methods[i]) << "call " << i;
    // The cell the column reads holds the value set for the row.
    EXPECT_EQ(*static_cast<const double*>(calls[1].args[2].address), 2.5);
    const std::vector<KyrArg>& bind = calls[3].args;
    ASSERT_EQ(bind.size(), 5u);
    EXPECT_EQ(counted_text(bind[3]), "titletext");
    EXPECT_EQ(bind[4].text, name_);
    EXPECT_EQ(calls[6].args[0].object, &boundOutput);
}

TEST_F(OutputTableCalls, FactoidEntriesCarryTheirFormatOnlyWhenGiven) {
    FactoidTable f(&manager_, "Fit", "Path.Fit", title_);
    f.entry(name_, 1.5);
    f.entry(name_, 7.0, 8, 0);
    f.entry(name_, 9.0, 8, 0, 2);
    f.probability_entry(name_, 0.25);
    EXPECT_TRUE(f.end());
    ASSERT_EQ(calls.size(), 6u);
    const std::vector<KyrArg>& create = calls[0].args;
    ASSERT_EQ(create.size(), 7u);
    const uint16_t attributes[] = {143, 146, 144, 148, 339, 138, 296};
    for (size_t i = 0; i < create.size(); ++i) EXPECT_EQ(create[i].attribute, attributes[i]) << "entry " << i;
    EXPECT_EQ(counted_text(create[1]), "factoid");
    EXPECT_EQ(counted_text(create[4]), "Path.Fit");
    EXPECT_EQ(counted_text(create[5]), "Fit");
    const size_t sizes[] = {2, 4, 5};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i + 1].method, 164u);
        EXPECT_EQ(calls[i + 1].object, &createdTable);
        EXPECT_EQ(calls[i + 1].args.size(), sizes[i]) << "entry call " << i;
    }
    EXPECT_EQ(calls[3].args[1].number, 9.0);
    EXPECT_EQ(calls[3].args[4].attribute, 376);
    EXPECT_EQ(calls[3].args[4].word, 2);
    // A probability names its format in place of width and decimals.
    ASSERT_EQ(calls[4].args.size(), 3u);
    EXPECT_EQ(calls[4].args[1].number, 0.25);
    EXPECT_EQ(calls[4].args[2].attribute, 340);
    EXPECT_EQ(calls[5].method, 299u);
}

TEST_F(OutputTableCalls, AMatrixTableIsPublishedInOneCall) {
    const double values[] = {1.0, 0.5, 1.0};
    NameRecord labels[2];
    const char names[] = "obs1    obs2    ";
    MatrixTable m;
    m.templatePath = name_;
    m.name = name_;
    m.title = title_;
    m.values = values;
    m.rows = m.columns = 2;
    m.rowLabels = m.columnLabels = labels;
    EXPECT_EQ(kyr_publish_matrix(&manager_, m), 0);
    m.rowLabels = m.columnLabels = nullptr;
    m.rowNames = names;
    m.rowNameWidth = 8;
    m.storage = "c";
    m.pieceStyle = 98;
    EXPECT_EQ(kyr_publish_matrix(&manager_, m), 0);
    ASSERT_EQ(calls.size(), 2u);
    const std::vector<std::vector<uint16_t>> attributes = {
        {339, 138, 296, 389, 390, 391, 412, 402, 105, 278},
        {339, 138, 296, 389, 390, 391, 409, 410, 105, 278, 393}};
    for (size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(calls[c].method, 388u);
        ASSERT_EQ(calls[c].args.size(), attributes[c].size()) << "call " << c;
        for (size_t i = 0; i < attributes[c].size(); ++i)
            EXPECT_EQ(calls[c].args[i].attribute, attributes[c][i]) << "call " << c << " entry " << i;
    }
    EXPECT_EQ(counted_text(calls[0].args[8]), "sc");
    EXPECT_EQ(counted_text(calls[1].args[8]), "c");
    EXPECT_EQ(calls[1].args[6].address, names);
}

TEST_F(OutputTableCalls, GroupsOpenOnTheManagerAndCloseThroughTheirClass) {
    status = 0;
    HostObject* group = nullptr;
    EXPECT_EQ(kyr_group_open(&manager_, "ModelSpec", title_, &group), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, 300u);
    const uint16_t attributes[] = {144, 435, 138, 296};
    ASSERT_EQ(calls[0].args.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(calls[0].args[i].attribute, attributes[i]);
    EXPECT_EQ(counted_text(calls[0].args[2]), "ModelSpec");
    EXPECT_EQ(kyr_group_close(nullptr), 0);
    EXPECT_EQ(kyr_group_close(&table_), 0) << "a class without a close entry";

    // A failed open is reported and gives no group.
    failingCall = 1;
    EXPECT_EQ(open_output_group(&manager_, "G", title_), nullptr);
    EXPECT_FALSE(log().empty());
    EXPECT_EQ(open_output_group(nullptr, "G", title_), nullptr);
    EXPECT_FALSE(listing_line(nullptr, title_));
}

}  // namespace

TEST_F(OutputTableCalls, CellColumnsAreDefinedAsDeclaredWithTheirFormat) {
    char name[5] = "ab  ";
    int32_t number = 0;
    double value = 1.0;
    const double* cursor = &value;
    OutputTable t(&manager_, "T", title_, "Path.T");
    t.variable("TitleText", name_);
    t.cell_column(kColumnChars, "Name", name, {.width = 4, .columnTemplate = "Sign"});
    ASSERT_EQ(calls.size(), 3u) << "a column is defined when it is declared";
    t.cell_column(kColumnUnsigned, "Number", &number, {.displayWidth = 3});
    t.indirect_column(kColumnDouble, name_, &cursor);
    ASSERT_TRUE(t.end_columns());
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[1].method, 316u);
    EXPECT_EQ(counted_text(calls[1].args[0]), "TitleText");
    EXPECT_EQ(calls[1].args[1].text, name_);
    // A fixed-width character column: kind 20, its width and its template.
    const std::vector<KyrArg>& chars = calls[2].args;
    ASSERT_EQ(chars.size(), 5u);
    EXPECT_EQ(chars[0].word, 20);
    EXPECT_EQ(chars[2].address, name);
    EXPECT_EQ(chars[3].attribute, 289);
    EXPECT_EQ(chars[3].word, 4);
    EXPECT_EQ(chars[4].attribute, 339);
    EXPECT_EQ(counted_text(chars[4]), "Sign");
    // A number states only its display width; an indirect cell goes as 343.
    const std::vector<KyrArg>& count = calls[3].args;
    ASSERT_EQ(count.size(), 4u);
    EXPECT_EQ(count[0].word, 4);
    EXPECT_EQ(count[3].attribute, 272);
    EXPECT_EQ(count[3].word, 3);
    const std::vector<KyrArg>& indirect = calls[4].args;
    ASSERT_EQ(indirect.size(), 3u);
    EXPECT_EQ(indirect[1].text, name_);
    EXPECT_EQ(indirect[2].attribute, 343);
    EXPECT_EQ(indirect[2].address, &cursor);
    EXPECT_EQ(t.output(), &boundOutput);

    // Rows and delivery go on with a table bound elsewhere; a null table
    // calls nothing.
    calls.clear();
    OutputTable later = OutputTable::resume(&manager_, &table_, &boundOutput);
    EXPECT_TRUE(later.add_row() && later.deliver());
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].object, &table_);
    EXPECT_EQ(calls[2].args[0].object, &boundOutput);
    EXPECT_FALSE(OutputTable::resume(&manager_, nullptr, nullptr).add_row());
    EXPECT_EQ(calls.size(), 3u);
}

TEST_F(OutputTableCalls, AnIntegerFactoidEntryCarriesAnInteger) {
    FactoidTable f(&manager_, "IterStop", "Path.IterStop", title_);
    f.int_entry(name_, 42, 12, 0);
    ASSERT_EQ(calls.size(), 2u);
    const std::vector<KyrArg>& e = calls[1].args;
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[1].attribute, 287);
    EXPECT_EQ(e[1].type, kKyrInt);
    EXPECT_EQ(e[1].word, 42);
    EXPECT_EQ(e[2].word, 12);
    EXPECT_EQ(e[3].word, 0);
}

TEST_F(OutputTableCalls, MatrixPiecesGoToTheCreatedMatrixUntilAFailure) {
    KyrArg entries[] = {kyr_int(kAttrRows, 2)};
    MatrixPieces m(&manager_);
    EXPECT_TRUE(m.piece(entries, 1) && m.publish(entries, 1));
    failingCall = 3;
    EXPECT_FALSE(m.piece(entries, 1));
    EXPECT_FALSE(m.publish(entries, 1)) << "the failure abandons the table";
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(counted_text(calls[0].args[1]), "matrix");
    const uint32_t methods[] = {147, 462, 388, 462};
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].method, methods[i]) << "call " << i;
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i].object, &createdTable);
    EXPECT_FALSE(log().empty());
}

TEST_F(OutputTableCalls, OnlyTheProcedureTitleCarriesItsMark) {
    EXPECT_EQ(kyr_title(&manager_, title_, 1), 0);
    EXPECT_EQ(kyr_title(&manager_, title_, 2), 0);
    ASSERT_EQ(calls.size(), 2u);
    const uint16_t procedure[] = {0, 440, 2558, 148, 577};
    const uint16_t section[] = {0, 440, 148, 577};
    ASSERT_EQ(calls[0].args.size(), std::size(procedure));
    ASSERT_EQ(calls[1].args.size(), std::size(section));
    for (size_t i = 0; i < std::size(procedure); ++i)
        EXPECT_EQ(calls[0].args[i].attribute, procedure[i]);
    for (size_t i = 0; i < std::size(section); ++i)
        EXPECT_EQ(calls[1].args[i].attribute, section[i]);
    EXPECT_EQ(calls[1].args[1].word, 2);
    EXPECT_EQ(calls[1].args[3].text, title_);
}
