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
    // 352/69-98: PROC options and data-set roles.
    {352, 69, "NOTE: Repeated variables were removed from a variable list."},
    // 352/70: the number of programming statements.
    {352, 70, "NOTE: %i programming statements are present."},
    {352, 71, "ERROR: No DATA= data set is given."},
    {352, 72, "WARNING: The INRAM= data set is not of TYPE=RAM."},
    // 352/73: the requested value.
    {352, 73, "WARNING: The Jacobian mode %i is not valid; 0 is used."},
    {352, 74, "WARNING: The start constant START=0 is not valid; 0.5 is used."},
    {352, 75, "NOTE: Moments are computed about zero (NOINT)."},
    {352, 78, "ERROR: A DATA= data set of TYPE=RAM cannot be analysed; use INRAM=."},
    {352, 79, "NOTE: The input is a symmetric matrix; options of the raw-data moments are ignored."},
    {352, 80, "WARNING: The method uses no weight matrix; the INWGT= data set is ignored."},
    {352, 81, "ERROR: The method needs a weight matrix that this DATA= input cannot give; an INWGT= data set is required."},
    {352, 82, "WARNING: The INWGT= data set is not of TYPE=WEIGHT."},
    {352, 83, "WARNING: The method uses no weight matrix; the OUTWGT= data set is not written."},
    {352, 84, "NOTE: The variable list names the Intercept variable: moments are computed about zero."},
    {352, 85, "NOTE: The Intercept variable is the variable list of the SSCP input."},
    // 352/86, 87: the variable.
    {352, 86, "ERROR: Variable %s is not in the DATA= data set."},
    {352, 87, "ERROR: Variable %s is not numeric."},
    {352, 88, "ERROR: The WEIGHT and FREQ statements take one variable each."},
    {352, 89, "ERROR: The variable lists do not fit the DATA= data set."},
    {352, 97, "ERROR: No variables are left for the analysis."},
    {352, 98, "WARNING: The INEST= data set is not of TYPE=EST."},
    {352, 99, "NOTE: TECHNIQUE=GAUNEW is not available here; the default technique is used."},
    {352, 100, "NOTE: With nonlinear constraints the dual quasi-Newton technique is used."},
    // 352/118: the matrix.
    {352, 118, "ERROR: Matrix %s has no elements."},
    // 352/119: the matrix (length, text) and the reason.
    {352, 119, "NOTE: The type of matrix %.*s is changed: %s"},
    // 352/120, 124: the number of equations, of exogenous variables.
    {352, 120, "Number of Endogenous Variables = %i"},
    {352, 121, "Manifest"},
    {352, 122, "Latent"},
    {352, 123, "Error"},
    {352, 124, "Number of Exogenous Variables = %i"},
    {352, 132, "ERROR: The option value of the covariance of the estimates is not valid."},
    {352, 152, "the matrix has no elements and becomes the identity."},
    {352, 154, "its elements are diagonal."},
    {352, 155, "its elements lie on a shifted diagonal."},
    {352, 156, "its elements lie in the lower triangle."},
    {352, 157, "its elements lie in the upper triangle."},
    {352, 159, "its elements do not fit the declared type; it becomes GENERAL."},
    {352, 209, "NOTE: Derivatives are computed analytically; the finite-difference options are ignored."},
    // 352/210, 213: the name (length, text).
    {352, 210, "WARNING: The added parameter %.*s is empty or repeats a parameter name and is ignored."},
    {352, 211, "NOTE: The model has no free parameter."},
    // 352/212: the number of parameters and of distinct moments.
    {352, 212, "ERROR: The model has %i parameters but the moments give only %i values."},
    {352, 213, "WARNING: The manifest variable %.*s is not reached by the model."},
    {352, 229, "ERROR: Only one STRUCTEQ statement is allowed."},
    {352, 230, "ERROR: A PARAMETERS statement has too many names."},
    {352, 231, "NOTE: A PARAMETERS statement has more values than names; the surplus is ignored."},
    {352, 232, "NOTE: A PARAMETERS statement names no parameter."},
    {352, 235, "NOTE: The intercept is not used by the model and is removed."},
    {352, 237, "NOTE: The variables listed above are not used by the model and are removed from the analysis."},
    {352, 238, "ERROR: internal error: the number of removed variables is inconsistent."},
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
    // 352/251-272: LINEQS equations and the model kind; names as texts.
    {352, 251, "NOTE: No STD statement is given."},
    {352, 252, "ERROR: Variable %s is the dependent variable of more than one equation."},
    {352, 253, "ERROR: The dependent variable %s is neither a DATA= variable nor a latent F variable."},
    {352, 254, "ERROR: The equation of %s contains its own dependent variable."},
    {352, 255, "ERROR: The equation of %s has more than one error term."},
    {352, 256, "ERROR: Variable %s occurs twice in the equation of %s."},
    {352, 257, "ERROR: Variable %s is not a DATA= variable and does not begin with F, E or D."},
    {352, 258, "NOTE: Parameter name %s looks like a generated name of a prefix."},
    {352, 259, "ERROR: Variable %s is listed twice in the STD statement."},
    {352, 260, "ERROR: The STD variable %s is not exogenous."},
    {352, 261, "ERROR: The COV variable %s is not exogenous."},
    {352, 262, "NOTE: An entry of a STD or COV statement has more names or values than places; the rest is ignored."},
    {352, 263, "NOTE: More start values than names are given in a STD or COV entry; the surplus is ignored."},
    {352, 264, "NOTE: A COV entry has fewer items than covariances; its last item is repeated."},
    {352, 265, "NOTE: A STD entry has fewer items than variances; its last item is repeated."},
    {352, 267, "WARNING: Only the first model statement is used; a second model kind is ignored."},
    {352, 268, "ERROR: A LINEQS model takes at most one STD and one COV statement."},
    {352, 271, "ERROR: No model statement is given."},
    {352, 418, "COSAN Model Statement"},
    {352, 419, "LINEQS Model Statement"},
    {352, 420, "RAM Model Statement"},
    {352, 421, "FACTOR Model Statement"},
    {352, 442, "NOTE: The PROFILE statement is replaced by the default profile set."},
    {352, 443, "NOTE: No parameter is profiled."},
    {352, 444, "NOTE: All parameters are profiled."},
    // 352/445, 448: the level; 446, 447: the name (length, text).
    {352, 445, "NOTE: The confidence level %g repeats a level and is ignored."},
    {352, 446, "NOTE: Parameter %.*s is listed twice in the PROFILE statement."},
    {352, 447, "NOTE: %.*s is not a parameter and is not profiled."},
    {352, 448, "NOTE: The confidence level %g is not between 0 and 100 and is ignored."},
    {352, 450, "NOTE: Profile-likelihood confidence limits are computed."},
    {352, 488, "WARNING: The programming statements stopped with an execution fault in this evaluation."},
    {352, 489, "ERROR: An ABORT statement of the programming statements ends the step."},
    {352, 539, "The VELIX Procedure"},
    {352, 601, "Natural Log"},
    {352, 606, "Determinant of the Matrix"},
    {352, 700, "Model Specification"},
    {352, 701, "Variable Selection"},
    {352, 702, "Model Statement"},
    {352, 703, "Endogenous Variables"},
    {352, 704, "Exogenous Variables"},
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
