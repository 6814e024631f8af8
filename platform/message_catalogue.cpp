// The host's message file: every numbered message text, by group and number.
// Groups: 153 BY-group synchronisation, 230 the moment matrix reader, 352 the
// procedure, 549 the optimizer library.  Logged messages start with their
// severity; titles and labels do not.  Placeholders use the host's format
// dialect (platform/format.h) and must match the arguments the callers pass.
// Keep the table sorted by group, then number.
#include "platform/messages.h"

#include "velix/codes.h"

namespace velix::platform {

const MessageRow kMessageCatalogue[] = {
    // BY-group synchronisation: name (8 characters) and label (length, text)
    // of DATA=, then of the other data set.
    {kMsgSync, 5, "WARNING: The BY groups of data set %.8s %.*s do not match those of data set %.8s %.*s."},

    // The moment matrix reader.
    {kMsgReader, 5, "ERROR: The BY group of the moment data set has no observations."},
    {kMsgReader, 9, "WARNING: The moment data set has no _TYPE_ variable; every row is a matrix row."},
    {kMsgReader, 10, "WARNING: The moment data set has no _NAME_ variable; the matrix rows are taken in order."},
    {kMsgReader, 11, "WARNING: The SUMWGT rows give different values; the smallest is used."},
    {kMsgReader, 12, "WARNING: The N rows give different values; the smallest is used."},
    {kMsgReader, 13, "WARNING: A matrix row of the moment data set has an invalid _NAME_."},
    {kMsgReader, 15, "ERROR: The BY group of the moment data set has no complete moment matrix."},
    {kMsgReader, 16, "WARNING: The moment matrix of the BY group has missing elements."},
    {kMsgReader, 17, "NOTE: The moment data set has no N row; N is set to 10000."},
    {kMsgReader, 18, "WARNING: The correlation matrix is normalised to a unit diagonal."},
    {kMsgReader, 21, "ERROR: The moment data set has more matrix rows than analysis variables."},
    {kMsgReader, 22, "WARNING: A diagonal element of the correlation matrix differs from 1."},
    {kMsgReader, 23, "WARNING: Two rows give different values for the same matrix element; the later one is used."},
    {kMsgReader, 24, "WARNING: A variance is not positive after the means are removed; its row and column are set to 0."},
    {kMsgReader, 25, "WARNING: A correlation of the input matrix exceeds 1 in size."},
    {kMsgReader, 26, "ERROR: A variable with zero variance has nonzero covariances."},
    {kMsgReader, 27, "ERROR: Variable %.*s has a negative variance."},
    {kMsgReader, 28, "NOTE: The moment matrix is read from the %s rows of the BY group."},
    {kMsgReader, 31, "NOTE: The SSCP data set has no INTERCEPT row; it is read without an intercept."},
    {kMsgReader, 32, "ERROR: The INTERCEPT variable of the SSCP data set must be numeric."},
    {kMsgReader, 33, "ERROR: _TYPE_ and _NAME_ of the moment data set must be character variables."},
    {kMsgReader, 34, "ERROR: The SSCP data set has no INTERCEPT row from which the means follow."},
    {kMsgReader, 35, "ERROR: The TYPE=EST data set has no PARMS row with the means."},
    {kMsgReader, 36, "ERROR: The moment data set has no complete MEAN row, which the analysis needs."},
    {kMsgReader, 38, "NOTE: The moment data set has no MEAN row; the means are taken as 0."},
    {kMsgReader, 39, "NOTE: Standard deviations of the correlation matrix are missing; they are set to 1."},

    // The procedure.  352/1: the option text of the role, twice.
    {kMsgProc, 1, "WARNING: The BY groups of the %s data set are out of step with DATA=; the %s data set is used as it is."},
    // 352/3: the elapsed time in seconds.
    {kMsgProc, 3, "NOTE: The VELIX procedure used %.2f seconds."},
    {kMsgProc, 4, "ERROR: The DATA= data set has no observations."},
    {kMsgProc, 5, "NOTE: The number of observations %g is not greater than the number of variables %i."},
    {kMsgProc, 6, "NOTE: The number of observations %g is not greater than the number of variables %i (observations read %g, EDF= %g, DFREDUCE= %g)."},
    {kMsgProc, 7, "NOTE: Variable %.*s is constant among the moments about zero; it acts as the intercept."},
    {kMsgProc, 8, "NOTE: The covariance matrix with divisor N is not positive definite; weights and kurtosis are formed without its inverse."},
    {kMsgProc, 9, "WARNING: %g observations are too few for the fourth-order moments of the weights; the kurtosis is not computed."},
    {kMsgProc, 10, "ERROR: The weight matrix could not be formed."},
    {kMsgProc, 11, "NOTE: The diagonal of the weight matrix is ridged with the factor %g."},
    {kMsgProc, 12, "ERROR: The weight matrix is singular."},
    // 352/13, 606, 601, 728: the determinant tables (row labels and title).
    {kMsgProc, 13, "Determinant of the Weight Matrix"},
    {kMsgProc, 16, "WARNING: The kurtosis is not computed: no observation could be used."},
    {kMsgProc, 17, "WARNING: The %i partial variables are not fewer than the %g observations."},
    {kMsgProc, 18, "NOTE: The intercept changes the variance divisor to %g."},
    {kMsgProc, 19, "WARNING: Variable %.*s has no positive variance."},
    {kMsgProc, 20, "ERROR: No variable has a positive variance."},
    {kMsgProc, 21, "NOTE: The moment matrix is ridged to make it positive definite."},
    {kMsgProc, 22, "NOTE: The diagonal of the moment matrix is ridged with the factor %g."},
    {kMsgProc, 24, "WARNING: The matrix is singular; the BY group is analysed by ULS only."},
    {kMsgProc, 25, "ERROR: The matrix is singular; the method cannot be used for the BY group."},
    {kMsgProc, 29, "ERROR: The variables of the TYPE=SYMATRIX data set do not match the analysis variables."},
    {kMsgProc, 30, "WARNING: The N rows give different values; the smallest is used."},
    {kMsgProc, 31, "WARNING: The SUMWGT rows give different values; the smallest is used."},
    {kMsgProc, 32, "WARNING: The symmetric matrix has more rows than variables; the rest is ignored."},
    {kMsgProc, 33, "NOTE: A row of _TYPE_ %.*s is ignored."},
    {kMsgProc, 34, "WARNING: Elements of the symmetric matrix are missing; they are set to 0."},
    {kMsgProc, 36, "ERROR: The weight matrix of INWGT= data set %s is incomplete."},
    {kMsgProc, 37, "ERROR: INWGT= data set %s has no WEIGHT rows."},
    {kMsgProc, 38, "WARNING: %i WEIGHT rows of INWGT= data set %s match the variables; %i are expected."},
    {kMsgProc, 39, "NOTE: The data set gives no observation numbers; the kurtosis contributions are numbered in order."},
    // 352/45: before the report of the invalid operations or missing values
    // of a run of the programming statements.
    {kMsgProc, 45, "WARNING: The programming statements gave missing values in this evaluation."},
    // 352/60: name.
    {kMsgProc, 60, "ERROR: Matrix %s has the form INVERSE or IMINUSINV but is not square."},
    // 352/69-98: PROC options and data-set roles.
    {kMsgProc, 69, "NOTE: Repeated variables were removed from a variable list."},
    // 352/70: the number of programming statements.
    {kMsgProc, 70, "NOTE: %i programming statements are present."},
    {kMsgProc, 71, "ERROR: No DATA= data set is given."},
    {kMsgProc, 72, "WARNING: The INRAM= data set is not of TYPE=RAM."},
    // 352/73: the requested value.
    {kMsgProc, 73, "WARNING: The Jacobian mode %i is not valid; 0 is used."},
    {kMsgProc, 74, "WARNING: The start constant START=0 is not valid; 0.5 is used."},
    {kMsgProc, 75, "NOTE: Moments are computed about zero (NOINT)."},
    {kMsgProc, 76, "NOTE: The Intercept variable of the DATA= data set is an analysis variable; it is the intercept of the augmented moments."},
    {kMsgProc, 77, "Covariance Structure Analysis: %s"},
    {kMsgProc, 78, "ERROR: A DATA= data set of TYPE=RAM cannot be analysed; use INRAM=."},
    {kMsgProc, 79, "NOTE: The input is a symmetric matrix; options of the raw-data moments are ignored."},
    {kMsgProc, 80, "WARNING: The method uses no weight matrix; the INWGT= data set is ignored."},
    {kMsgProc, 81, "ERROR: The method needs a weight matrix that this DATA= input cannot give; an INWGT= data set is required."},
    {kMsgProc, 82, "WARNING: The INWGT= data set is not of TYPE=WEIGHT."},
    {kMsgProc, 83, "WARNING: The method uses no weight matrix; the OUTWGT= data set is not written."},
    {kMsgProc, 84, "NOTE: The variable list names the Intercept variable: moments are computed about zero."},
    {kMsgProc, 85, "NOTE: The Intercept variable is the variable list of the SSCP input."},
    // 352/86, 87: the variable.
    {kMsgProc, 86, "ERROR: Variable %s is not in the DATA= data set."},
    {kMsgProc, 87, "ERROR: Variable %s is not numeric."},
    {kMsgProc, 88, "ERROR: The WEIGHT and FREQ statements take one variable each."},
    {kMsgProc, 89, "ERROR: The variable lists do not fit the DATA= data set."},
    {kMsgProc, 97, "ERROR: No variables are left for the analysis."},
    {kMsgProc, 98, "WARNING: The INEST= data set is not of TYPE=EST."},
    {kMsgProc, 99, "NOTE: TECHNIQUE=GAUNEW is not available here; the default technique is used."},
    {kMsgProc, 100, "NOTE: With nonlinear constraints the dual quasi-Newton technique is used."},
    // 352/109: the matrix number.
    {kMsgProc, 109, "WARNING: An ESTIM row of the INRAM= data set names matrix %i, which the model does not have; the row is ignored."},
    // 352/116: bytes.
    {kMsgProc, 116, "NOTE: Laying out the stored inverses term by term would save %i bytes."},
    // 352/117: matrix, row and column.
    {kMsgProc, 117, "ERROR: An ESTIM row of the INRAM= data set names matrix %i, row %i, column %i, where the model has no element."},
    // 352/118: the matrix.
    {kMsgProc, 118, "ERROR: Matrix %s has no elements."},
    // 352/119: the matrix (length, text) and the reason.
    {kMsgProc, 119, "NOTE: The type of matrix %.*s is changed: %s"},
    // 352/120, 124: the number of equations, of exogenous variables.
    {kMsgProc, 120, "Number of Endogenous Variables = %i"},
    {kMsgProc, 121, "Manifest"},
    {kMsgProc, 122, "Latent"},
    {kMsgProc, 123, "Error"},
    {kMsgProc, 124, "Number of Exogenous Variables = %i"},
    // 352/128: name.
    {kMsgProc, 128, "NOTE: No matrix of the model is named %s; its MATRIX statement is not used."},
    {kMsgProc, 131, "NOTE: The covariance of exogenous variable %.*s is not set from the sample."},
    {kMsgProc, 132, "ERROR: The option value of the covariance of the estimates is not valid."},
    // 352/138: name.
    {kMsgProc, 138, "ERROR: internal error: matrix %s needs a stored inverse but belongs to no term."},
    // 352/139: matrix name, row, column.
    {kMsgProc, 139, "ERROR: The fixed element of matrix %s at row %i, column %i has a missing value."},
    {kMsgProc, 152, "the matrix has no elements and becomes the identity."},
    {kMsgProc, 154, "its elements are diagonal."},
    {kMsgProc, 155, "its elements lie on a shifted diagonal."},
    {kMsgProc, 156, "its elements lie in the lower triangle."},
    {kMsgProc, 157, "its elements lie in the upper triangle."},
    {kMsgProc, 159, "its elements do not fit the declared type; it becomes GENERAL."},
    // 352/176: number, item, largest.
    {kMsgProc, 176, "ERROR: The variable number %g of RAM item %i is not a whole number from 1 to %i."},
    // 352/177: matrix, largest, number.
    {kMsgProc, 177, "ERROR: Matrix %s needs a whole number of columns from 1 to %i, not %g."},
    // 352/178: name, its number, rows, columns, the earlier number, rows, columns.
    {kMsgProc, 178, "ERROR: Matrix %s is matrix %i with %i rows and %i columns and matrix %i with %i rows and %i columns; every occurrence of a matrix needs the same shape."},
    {kMsgProc, 179, "NOTE: The PARAMETERS statement is ignored: the default FACTOR model has no added parameters."},
    {kMsgProc, 180, "NOTE: The STRUCTEQ statement is ignored: the default FACTOR model has no structural equations."},
    {kMsgProc, 206, "ERROR: Variable %.*s is not in the INEST= data set."},
    {kMsgProc, 207, "ERROR: Variable %.*s of the INEST= data set has the wrong type."},
    {kMsgProc, 208, "ERROR: The BY variables of the INEST= data set differ from those of DATA=."},
    {kMsgProc, 209, "NOTE: Derivatives are computed analytically; the finite-difference options are ignored."},
    // 352/210, 213: the name (length, text).
    {kMsgProc, 210, "WARNING: The added parameter %.*s is empty or repeats a parameter name and is ignored."},
    {kMsgProc, 211, "NOTE: The model has no free parameter."},
    // 352/212: the number of parameters and of distinct moments.
    {kMsgProc, 212, "WARNING: The model has %i parameters but the moments give only %i values."},
    {kMsgProc, 213, "WARNING: The manifest variable %.*s is not reached by the model."},
    // 352/215: name.
    {kMsgProc, 215, "ERROR: Matrix %s is an identity matrix; a MATRIX statement cannot give its elements."},
    {kMsgProc, 216, "ERROR: Start values in parentheses must follow parameter names, not fixed values."},
    {kMsgProc, 217, "WARNING: There are more start values than parameter names before them; the extra values are dropped."},
    // 352/218: capacity.
    {kMsgProc, 218, "ERROR: An entry of a MATRIX statement has more than %i items."},
    // 352/219: name.
    {kMsgProc, 219, "WARNING: An entry of the MATRIX statement for %s has no items and is skipped."},
    // 352/220: the earlier parameter, the later item.
    {kMsgProc, 220, "WARNING: A matrix position that holds parameter %s is given again (%s); the later item replaces it."},
    {kMsgProc, 221, "WARNING: A MATRIX entry lists more items than its positions take; the rest is not placed."},
    // 352/222: matrix, column.
    {kMsgProc, 222, "ERROR: Matrix %s has no column %g that this entry can fill."},
    // 352/223: matrix, row.
    {kMsgProc, 223, "ERROR: Matrix %s has no row %g that this entry can fill."},
    {kMsgProc, 224, "WARNING: A diagonal run of a MATRIX entry passes the edge of the matrix and is cut there."},
    // 352/225: matrix, row, column.
    {kMsgProc, 225, "ERROR: An entry of diagonal matrix %s must start on its diagonal, not at [%g,%g]."},
    // 352/226: matrix, row, column.
    {kMsgProc, 226, "ERROR: An entry of lower triangular matrix %s must start on or below its diagonal, not at [%g,%g]."},
    // 352/227: matrix, row, column.
    {kMsgProc, 227, "ERROR: An entry of upper triangular matrix %s must start on or above its diagonal, not at [%g,%g]."},
    {kMsgProc, 229, "ERROR: Only one STRUCTEQ statement is allowed."},
    {kMsgProc, 230, "ERROR: A PARAMETERS statement has too many names."},
    {kMsgProc, 231, "NOTE: A PARAMETERS statement has more values than names; the surplus is ignored."},
    {kMsgProc, 232, "NOTE: A PARAMETERS statement names no parameter."},
    {kMsgProc, 235, "NOTE: The intercept is not used by the model and is removed."},
    {kMsgProc, 237, "NOTE: The variables listed above are not used by the model and are removed from the analysis."},
    {kMsgProc, 238, "ERROR: internal error: the number of removed variables is inconsistent."},
    // 352/240-250: programming statements and dependent parameters.
    {kMsgProc, 240, "NOTE: The programming statements define no dependent parameter and no NLINCON value; they are not run."},
    {kMsgProc, 241, "Programming Statements and Dependent Parameters"},
    {kMsgProc, 242, "ERROR: internal error: the dependent and independent parameters of the programming statements changed."},
    // 352/243: the symbol (length, text).
    {kMsgProc, 243, "ERROR: The variable %.*s of the programming statements must be numeric."},
    // 352/245: the parameter (length, text).
    {kMsgProc, 245, "NOTE: The added parameter %.*s is not used by the programming statements and is dropped."},
    // 352/246, 247: positions filled, positions expected.
    {kMsgProc, 246, "ERROR: internal error: %i dependent parameter positions were filled instead of %i."},
    {kMsgProc, 247, "ERROR: internal error: %i independent parameter positions were filled instead of %i."},
    {kMsgProc, 248, "Programming Statements"},
    {kMsgProc, 249, "Analytic Derivatives of the Dependent Parameters"},
    // 352/250: the number of faults.
    {kMsgProc, 250, "ERROR: The programming statements have %i faults."},
    // 352/251-272: LINEQS equations and the model kind; names as texts.
    {kMsgProc, 251, "NOTE: No STD statement is given."},
    {kMsgProc, 252, "ERROR: Variable %s is the dependent variable of more than one equation."},
    {kMsgProc, 253, "ERROR: The dependent variable %s is neither a DATA= variable nor a latent F variable."},
    {kMsgProc, 254, "ERROR: The equation of %s contains its own dependent variable."},
    {kMsgProc, 255, "ERROR: The equation of %s has more than one error term."},
    {kMsgProc, 256, "ERROR: Variable %s occurs twice in the equation of %s."},
    {kMsgProc, 257, "ERROR: Variable %s is not a DATA= variable and does not begin with F, E or D."},
    {kMsgProc, 258, "NOTE: Parameter name %s looks like a generated name of a prefix."},
    {kMsgProc, 259, "ERROR: Variable %s is listed twice in the STD statement."},
    {kMsgProc, 260, "ERROR: The STD variable %s is not exogenous."},
    {kMsgProc, 261, "ERROR: The COV variable %s is not exogenous."},
    {kMsgProc, 262, "NOTE: An entry of a STD or COV statement has more names or values than places; the rest is ignored."},
    {kMsgProc, 263, "NOTE: More start values than names are given in a STD or COV entry; the surplus is ignored."},
    {kMsgProc, 264, "NOTE: A COV entry has fewer items than covariances; its last item is repeated."},
    {kMsgProc, 265, "NOTE: A STD entry has fewer items than variances; its last item is repeated."},
    {kMsgProc, 267, "WARNING: Only the first model statement is used; a second model kind is ignored."},
    {kMsgProc, 268, "ERROR: A LINEQS model takes at most one STD and one COV statement."},
    {kMsgProc, 269, "ERROR: internal error: the lists of names, columns, types and forms of the COSAN statement differ in length."},
    {kMsgProc, 270, "NOTE: The FACTOR model has a BOUNDS statement but no MATRIX statement; its parameters have generated names."},
    {kMsgProc, 271, "ERROR: No model statement is given."},
    {kMsgProc, 272, "NOTE: The programming statements are ignored: the default FACTOR model has no MATRIX statement."},
    // 352/273: name.
    {kMsgProc, 273, "WARNING: The VARNAMES statement names %s, which is no matrix of the model."},
    {kMsgProc, 274, "WARNING: The VARNAMES statement has items this model does not take; its names are ignored."},
    // 352/275: name.
    {kMsgProc, 275, "WARNING: The diagonal of matrix %s must be empty; its diagonal elements are removed."},
    // 352/276: matrix, names given, columns.
    {kMsgProc, 276, "WARNING: The VARNAMES statement names fewer columns of matrix %s than it has (%i of %i)."},
    // 352/277: matrix, names given, columns.
    {kMsgProc, 277, "WARNING: The VARNAMES statement gives more names for matrix %s than it has columns (%i for %i); the rest are ignored."},
    // 352/278: the two matrices.
    {kMsgProc, 278, "WARNING: Matrices %s and %s have no column names to share."},
    {kMsgProc, 280, "ERROR: The RAM model has no RAM statement."},
    // 352/281: number, item.
    {kMsgProc, 281, "ERROR: The matrix number %g of RAM item %i is neither 1 nor 2."},
    // 352/282: number.
    {kMsgProc, 282, "WARNING: The VARNAMES statement of a RAM model names matrix %g; only 1 and 2 are known, so the group is ignored."},
    {kMsgProc, 283, "WARNING: The VARNAMES statement of a RAM model takes the matrix numbers 1 and 2 only; its names are ignored."},
    // 352/284: names, variables.
    {kMsgProc, 284, "NOTE: The VARNAMES statement gives %i names for %i variables; the others keep their generated names."},
    // 352/285: names, variables.
    {kMsgProc, 285, "WARNING: The VARNAMES statement gives %i names for only %i variables; the extra names are dropped."},
    {kMsgProc, 286, "Pattern and Initial Values"},
    {kMsgProc, 287, "Unweighted Least-Squares Estimation"},
    {kMsgProc, 288, "Generalized Least-Squares Estimation"},
    {kMsgProc, 289, "Maximum Likelihood Estimation"},
    {kMsgProc, 290, "Unweighted then Generalized Least-Squares Estimation"},
    {kMsgProc, 291, "Unweighted Least-Squares then Maximum Likelihood Estimation"},
    {kMsgProc, 292, "Weighted Least-Squares Estimation"},
    {kMsgProc, 293, "Diagonally Weighted Least-Squares Estimation"},
    {kMsgProc, 294, "Unweighted then Weighted Least-Squares Estimation"},
    {kMsgProc, 295, "Unweighted then Diagonally Weighted Least-Squares Estimation"},
    {kMsgProc, 296, "Asymptotically Distribution-Free Estimation"},
    {kMsgProc, 297, "Unweighted then Asymptotically Distribution-Free Estimation"},
    {kMsgProc, 300, "Number of Observations"},
    {kMsgProc, 301, "Number of Manifest Variables"},
    {kMsgProc, 302, "Number of Partial Variables"},
    {kMsgProc, 303, "Number of Moments"},
    {kMsgProc, 304, "Number of Terms"},
    {kMsgProc, 305, "Number of Matrices"},
    {kMsgProc, 306, "Observations after the Partial Variables"},
    {kMsgProc, 307, "Number of Free Parameters"},
    {kMsgProc, 309, "Moments about Zero"},
    {kMsgProc, 311, "Means and Standard Deviations"},
    {kMsgProc, 312, "NOTE: Variable %.*s has no kurtosis."},
    {kMsgProc, 313, "Mardia's Multivariate Kurtosis"},
    {kMsgProc, 314, "Mean Scaled Univariate Kurtosis"},
    {kMsgProc, 315, "Mean Ratio of Fourth Moments less 1"},
    {kMsgProc, 316, "WARNING: The relative multivariate kurtosis is below %g: the data are strongly platykurtic."},
    {kMsgProc, 317, "WARNING: The mean scaled univariate kurtosis is below %g."},
    // 352/400: factors, variables.
    {kMsgProc, 400, "WARNING: The model asks for %i factors but has only %i manifest variables; it takes as many factors as variables."},
    {kMsgProc, 401, "ERROR: Variable %.*s is not in the TYPE=SYMATRIX data set."},
    {kMsgProc, 402, "ERROR: Variable %.*s of the TYPE=SYMATRIX data set has the wrong type."},
    {kMsgProc, 403, "ERROR: The BY variables of the INRAM= data set differ from those of DATA=."},
    {kMsgProc, 404, "ERROR: Variable %.*s is not in the INRAM= data set."},
    {kMsgProc, 405, "ERROR: Variable %.*s of the INRAM= data set has the wrong type."},
    {kMsgProc, 406, "ERROR: The BY variables of the INWGT= data set differ from those of DATA=."},
    {kMsgProc, 407, "ERROR: Variable %.*s is not in the INWGT= data set."},
    {kMsgProc, 408, "ERROR: Variable %.*s of the INWGT= data set has the wrong type."},
    {kMsgProc, 409, "Output of the VELIX Procedure"},
    {kMsgProc, 410, "Type of Row"},
    {kMsgProc, 411, "Variable Name"},
    {kMsgProc, 412, "Row Variable"},
    {kMsgProc, 413, "Second Variable of the Moment"},
    {kMsgProc, 414, "Column Variable"},
    {kMsgProc, 415, "ERROR: The INWGT= data set holds WLS weights over pairs of moments; the method needs a weight matrix over the variables."},
    {kMsgProc, 418, "COSAN Model Statement"},
    {kMsgProc, 419, "LINEQS Model Statement"},
    {kMsgProc, 420, "RAM Model Statement"},
    {kMsgProc, 421, "FACTOR Model Statement"},
    {kMsgProc, 423, "ERROR: The COSAN model has no COSAN statement."},
    // 352/424: term.
    {kMsgProc, 424, "ERROR: Term %i of the COSAN statement has no matrix."},
    // 352/425: name.
    {kMsgProc, 425, "NOTE: The central matrix %s must be square; its number of columns is corrected."},
    // 352/426: name, term.
    {kMsgProc, 426, "WARNING: The central matrix %s of term %i must be IDENTITY, DIAGONAL, POSDEFINIT or SYMMETRIC; it becomes SYMMETRIC."},
    // 352/427: matrix, earlier matrix, name.
    {kMsgProc, 427, "NOTE: Matrix %i repeats matrix %i (%s) with other columns, type or form; the earlier definition is used."},
    // 352/428: name.
    {kMsgProc, 428, "ERROR: Matrix %s has a type that a COSAN statement cannot use."},
    {kMsgProc, 442, "NOTE: The PROFILE statement is replaced by the default profile set."},
    {kMsgProc, 443, "NOTE: No parameter is profiled."},
    {kMsgProc, 444, "NOTE: All parameters are profiled."},
    // 352/445, 448: the level; 446, 447: the name (length, text).
    {kMsgProc, 445, "NOTE: The confidence level %g repeats a level and is ignored."},
    {kMsgProc, 446, "NOTE: Parameter %.*s is listed twice in the PROFILE statement."},
    {kMsgProc, 447, "NOTE: %.*s is not a parameter and is not profiled."},
    {kMsgProc, 448, "NOTE: The confidence level %g is not between 0 and 100 and is ignored."},
    {kMsgProc, 450, "NOTE: Profile-likelihood confidence limits are computed."},
    {kMsgProc, 488, "WARNING: The programming statements stopped with an execution fault in this evaluation."},
    {kMsgProc, 489, "ERROR: An ABORT statement of the programming statements ends the step."},
    {kMsgProc, 510, "Relative Multivariate Kurtosis"},
    {kMsgProc, 511, "Normalized Multivariate Kurtosis"},
    {kMsgProc, 512, "Mardia Based Kappa"},
    {kMsgProc, 513, "Adjusted Mean Scaled Univariate Kurtosis"},
    {kMsgProc, 514, "Ratio of Fourth Moments to their Normal Values less 1"},
    {kMsgProc, 539, "The VELIX Procedure"},
    {kMsgProc, 601, "Natural Log"},
    {kMsgProc, 606, "Determinant of the Matrix"},
    {kMsgProc, 700, "Model Specification"},
    {kMsgProc, 701, "Variable Selection"},
    {kMsgProc, 702, "Model Statement"},
    {kMsgProc, 703, "Endogenous Variables"},
    {kMsgProc, 704, "Exogenous Variables"},
    {kMsgProc, 720, "Modeling Statistics"},
    {kMsgProc, 721, "Simple Statistics"},
    {kMsgProc, 723, "Contributions to Kurtosis"},
    {kMsgProc, 724, "Symmetric Input Matrix"},
    {kMsgProc, 725, "Input Correlation Matrix"},
    {kMsgProc, 726, "Input Covariance Matrix"},
    {kMsgProc, 727, "Weight Matrix"},
    {kMsgProc, 728, "Determinant"},
    {kMsgProc, 729, "Cholesky Factor of the Weights"},
    {kMsgProc, 730, "Inverse Diagonal Weights"},
    {kMsgProc, 731, "General Model Information"},
    {kMsgProc, 732, "Covariances Set for Exogenous Variables"},
    {kMsgProc, 744, "Sum of Squared Differences"},
    {kMsgProc, 860, "Modification Indices"},

    // The optimizer library.  549/202: the count of eigenvalues treated as
    // zero; 549/204: a parameter name (length, text).
    {kMsgNlp, 202, "NOTE: %i eigenvalues are treated as zero in the generalized inverse."},
    {kMsgNlp, 204, "NOTE: Parameter %.*s has a variance that is practically zero."},
    {kMsgNlp, 205, "WARNING: All diagonal elements of the matrix are zero; the linear dependencies cannot be determined."},
    {kMsgNlp, 206, "NOTE: Each row of the following table expresses a parameter as a linear combination of the others."},
    {kMsgNlp, 258, ":"},
    {kMsgNlp, 340, "NOTE: The matrix is singular: some parameters are linearly dependent."},
    {kMsgNlp, 700, "Eigenvalues"},
    {kMsgNlp, 701, "Linear Dependencies Between Parameters"},
};

const size_t kMessageCatalogueSize = sizeof kMessageCatalogue / sizeof kMessageCatalogue[0];

}  // namespace velix::platform
