// Shared types of the procedure: codes, names, statement nodes and the
// output row.
#pragma once

#include <cstdint>

struct HostDataSet;

// The estimation method.
enum MethodCode : int32_t {
    kMethodNone = 1,
    kMethodUls = 2,
    kMethodGls = 3,
    kMethodMl = 4,
    kMethodUlsGls = 5,
    kMethodUlsMl = 6,
    kMethodWls = 7,
    kMethodDwls = 8,
    kMethodUlsWls = 9,
    kMethodUlsDwls = 10
};

// The optimizer technique.
enum TechniqueCode : int32_t {
    kTechNone = 1,
    kTechTrureg = 2,
    kTechNewrap = 3,
    kTechNrridg = 4,
    kTechNrlins = 5,
    kTechOldrap = 6,  // named in summaries, never run
    kTechGaunew = 7,
    kTechLevmar = 8,
    kTechDbldog = 9,
    kTechQuanew = 10,
    kTechDualQuanew = 11,
    kTechHyquan = 12,
    kTechCongra = 13,
    kTechNmsimp = 14,
    kTechNmsim2 = 15,
    kTechQuadas = 16,
    kTechVmcwd = 21
};

// The data-set roles, in slot order.
enum DataSetRole : int {
    kRoleData = 0,
    kRoleOutstat = 1,
    kRoleInram = 2,
    kRoleOutram = 3,
    kRoleInwgt = 4,
    kRoleOutwgt = 5,
    kRoleInest = 6,
    kRoleOutest = 7,
    kRoleCount = 8
};

// The type of a model matrix, 1 to 14.
enum MatrixTypeCode : int32_t {
    kMatIdentity = 1,
    kMatZerIdentity = 2,
    kMatDiagonal = 3,
    kMatZerDiagonal = 4,
    kMatLower = 5,
    kMatUpper = 6,
    kMatPosDefinit = 7,
    kMatSymmetric = 8,
    kMatGeneral = 9,
    kMatBeta = 10,
    kMatPermutation = 11,
    kMatSelection = 12,
    kMatEqsBeta = 13,
    kMatEqsGamma = 14
};

// A name of up to 32 characters with its length.
struct NameRecord {
    int16_t length = 0;
    char text[32] = {};
};

// A node of the parsed statement list.
struct StatementNode {
    StatementNode* next = nullptr;
    char keyword[8] = {};     // blank-padded
    void* payload = nullptr;  // the statement's payload (by keyword)
    uint8_t flags[6] = {};    // flag bytes 12..17: the statement's boolean options
    int32_t line = 0;         // line and column of the statement's keyword
    int32_t column = 0;
};

// The one output row every data-set writer fills.
struct OutputRowBuffer {
    char type[8] = {};      // _TYPE_, blank-padded
    NameRecord name;        // _NAME_
    NameRecord name2;       // _NAM2_
    NameRecord name3;       // _NAM3_
};
