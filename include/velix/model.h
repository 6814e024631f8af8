// The model in its one internal form: terms of typed model matrices
// (ModelMatrixTable with its TermTable), the element pattern that says
// which matrix positions hold which parameter, and the column names.
// Filled once per step by the model readers; read by every later subsystem.
#pragma once

#include <cstdint>

#include "velix/types.h"

// Matrix forms.
enum MatrixForm : int16_t {
    kFormNone = 0,
    kFormInverse = 1,
    kFormIMinusInverse = 2,
};

// Parallel arrays indexed by the matrix number 1..m (entry 0 unused), and
// two arrays by term.
struct ModelMatrixTable {
    int16_t* termTable = nullptr;      // [terms+1]: entry t = first matrix of term t+1
    int32_t* termDefiniteness = nullptr;  // [terms+1]: written after estimation
    int16_t* parmNameWidth = nullptr;  // longest parameter name of the matrix's elements
    int16_t* form = nullptr;           // MatrixForm
    int16_t* type = nullptr;           // MatrixTypeCode 1..14
    int16_t* sameName = nullptr;       // nearest earlier matrix of the same name, 0 none
    uint16_t* inverseReuse = nullptr;  // first matrix of the term whose slot may be overwritten
    NameRecord* name = nullptr;
    int16_t* inverseValid = nullptr;   // evaluation's mark: the stored inverse is current
    int16_t* constant = nullptr;       // 1: no free parameter
    int32_t* rows = nullptr;
    int32_t* columns = nullptr;
    int32_t* firstColumnName = nullptr;  // 1-based entry in the ColumnNameTable
    int32_t* inverseOffset = nullptr;    // 1-based offset in doubles into the InverseStore, 0 none
    int32_t* firstElement = nullptr;     // index into the ElementPattern
    int32_t* elementCount = nullptr;
};

// One entry per stored element.
struct ElementPattern {
    int32_t* parameter = nullptr;  // 1-based parameter number, 0 fixed, negative dependent
    int32_t* row = nullptr;        // 0-based
    int32_t* column = nullptr;     // 0-based
    double* value = nullptr;       // fixed value, start value, then the current estimate
};

// The element record on the main utility file, field order and widths kept
// (50 bytes, no padding).
#pragma pack(push, 1)
struct PatternRecord {
    int32_t row;
    int32_t column;
    int16_t nameLength;  // 0: fixed element
    char name[32];       // blank-padded
    double value;        // the host missing value when none was given
};
// An added-parameter record (PARAMETERS), appended after the element records.
struct AddedParameterRecord {
    int16_t nameLength;
    char name[32];
    double value;
};
#pragma pack(pop)
static_assert(sizeof(PatternRecord) == 50, "PatternRecord is 50 bytes");
static_assert(sizeof(AddedParameterRecord) == 42, "AddedParameterRecord is 42 bytes");
