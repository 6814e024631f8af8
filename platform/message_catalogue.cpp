// The host's message file: every numbered message text, by group and number.
// Groups: 153 BY-group synchronisation, 230 the moment matrix reader, 352 the
// procedure, 549 the optimizer library.  Logged messages start with their
// severity; titles and labels do not.  Placeholders use the host's format
// dialect (platform/format.h) and must match the arguments the callers pass.
// Keep the table sorted by group, then number.
#include "platform/messages.h"

namespace velix::platform {

const MessageRow kMessageCatalogue[] = {
    // BY-group synchronisation: name (8 characters) and label (length, text)
    // of DATA=, then of the other data set.
    {153, 5, "WARNING: The BY groups of data set %.8s %.*s do not match those of data set %.8s %.*s."},

    // The procedure.  352/1: the option text of the role, twice.
    {352, 1, "WARNING: The BY groups of the %s data set are out of step with DATA=; the %s data set is used as it is."},
    // 352/3: the elapsed time in seconds.
    {352, 3, "NOTE: The VELIX procedure used %.2f seconds."},
    // 352/13, 606, 601, 728: the determinant tables (row labels and title).
    {352, 13, "Determinant of the Weight Matrix"},
    // 352/45: before the report of the invalid operations or missing values
    // of a run of the programming statements.
    {352, 45, "WARNING: The programming statements gave missing values in this evaluation."},
    // 352/240-250: programming statements and dependent parameters.
    {352, 240, "NOTE: The programming statements define no dependent parameter and no NLINCON value; they are not run."},
    {352, 241, "Programming Statements and Dependent Parameters"},
    {352, 242, "ERROR: internal error: the dependent and independent parameters of the programming statements changed."},
    // 352/243: the symbol (length, text).
    {352, 243, "ERROR: The variable %.*s of the programming statements must be numeric."},
    // 352/245: the parameter (length, text).
    {352, 245, "NOTE: The added parameter %.*s is not used by the programming statements and is dropped."},
    // 352/246, 247: positions filled, positions expected.
    {352, 246, "ERROR: internal error: %i dependent parameter positions were filled instead of %i."},
    {352, 247, "ERROR: internal error: %i independent parameter positions were filled instead of %i."},
    {352, 248, "Programming Statements"},
    {352, 249, "Analytic Derivatives of the Dependent Parameters"},
    // 352/250: the number of faults.
    {352, 250, "ERROR: The programming statements have %i faults."},
    {352, 488, "WARNING: The programming statements stopped with an execution fault in this evaluation."},
    {352, 489, "ERROR: An ABORT statement of the programming statements ends the step."},
    {352, 539, "The VELIX Procedure"},
    {352, 601, "Natural Log"},
    {352, 606, "Determinant of the Matrix"},
    {352, 700, "Model Specification"},
    {352, 701, "Variable Selection"},
    {352, 720, "Modeling Statistics"},
    {352, 721, "Simple Statistics"},
    {352, 723, "Contributions to Kurtosis"},
    {352, 724, "Symmetric Input Matrix"},
    {352, 725, "Input Correlation Matrix"},
    {352, 726, "Input Covariance Matrix"},
    {352, 727, "Weight Matrix"},
    {352, 728, "Determinant"},
    {352, 730, "Inverse Diagonal Weights"},
    {352, 731, "General Model Information"},
    {352, 732, "Covariances Set for Exogenous Variables"},
    {352, 744, "Sum of Squared Differences"},
    {352, 860, "Modification Indices"},

    // The optimizer library.  549/202: the count of eigenvalues treated as
    // zero; 549/204: a parameter name (length, text).
    {549, 202, "NOTE: %i eigenvalues are treated as zero in the generalized inverse."},
    {549, 204, "NOTE: Parameter %.*s has a variance that is practically zero."},
    {549, 205, "WARNING: All diagonal elements of the matrix are zero; the linear dependencies cannot be determined."},
    {549, 206, "NOTE: Each row of the following table expresses a parameter as a linear combination of the others."},
    {549, 258, ":"},
    {549, 340, "NOTE: The matrix is singular: some parameters are linearly dependent."},
    {549, 700, "Eigenvalues"},
    {549, 701, "Linear Dependencies Between Parameters"},
};

const size_t kMessageCatalogueSize = sizeof kMessageCatalogue / sizeof kMessageCatalogue[0];

}  // namespace velix::platform
