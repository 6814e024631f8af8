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

    // The moment matrix reader.
    {230, 5, "ERROR: The BY group of the moment data set has no observations."},
    {230, 9, "WARNING: The moment data set has no _TYPE_ variable; every row is a matrix row."},
    {230, 10, "WARNING: The moment data set has no _NAME_ variable; the matrix rows are taken in order."},
    {230, 11, "WARNING: The SUMWGT rows give different values; the smallest is used."},
    {230, 12, "WARNING: The N rows give different values; the smallest is used."},
    {230, 13, "WARNING: A matrix row of the moment data set has an invalid _NAME_."},
    {230, 15, "ERROR: The BY group of the moment data set has no complete moment matrix."},
    {230, 16, "WARNING: The moment matrix of the BY group has missing elements."},
    {230, 17, "NOTE: The moment data set has no N row; N is set to 10000."},
    {230, 18, "WARNING: The correlation matrix is normalised to a unit diagonal."},
    {230, 21, "ERROR: The moment data set has more matrix rows than analysis variables."},
    {230, 22, "WARNING: A diagonal element of the correlation matrix differs from 1."},
    {230, 23, "WARNING: Two rows give different values for the same matrix element; the later one is used."},
    {230, 24, "WARNING: A variance is not positive after the means are removed; its row and column are set to 0."},
    {230, 25, "WARNING: A correlation of the input matrix exceeds 1 in size."},
    {230, 26, "ERROR: A variable with zero variance has nonzero covariances."},
    {230, 27, "ERROR: Variable %.*s has a negative variance."},
    {230, 28, "NOTE: The moment matrix is read from the %s rows of the BY group."},
    {230, 31, "NOTE: The SSCP data set has no INTERCEPT row; it is read without an intercept."},
    {230, 32, "ERROR: The INTERCEPT variable of the SSCP data set must be numeric."},
    {230, 33, "ERROR: _TYPE_ and _NAME_ of the moment data set must be character variables."},
    {230, 34, "ERROR: The SSCP data set has no INTERCEPT row from which the means follow."},
    {230, 35, "ERROR: The TYPE=EST data set has no PARMS row with the means."},
    {230, 36, "ERROR: The moment data set has no complete MEAN row, which the analysis needs."},
    {230, 38, "NOTE: The moment data set has no MEAN row; the means are taken as 0."},
    {230, 39, "NOTE: Standard deviations of the correlation matrix are missing; they are set to 1."},

    // The procedure.  352/1: the option text of the role, twice.
    {352, 1, "WARNING: The BY groups of the %s data set are out of step with DATA=; the %s data set is used as it is."},
    // 352/3: the elapsed time in seconds.
    {352, 3, "NOTE: The VELIX procedure used %.2f seconds."},
    {352, 4, "ERROR: The DATA= data set has no observations."},
    {352, 5, "NOTE: The number of observations %g is not greater than the number of variables %i."},
    {352, 6, "NOTE: The number of observations %g is not greater than the number of variables %i (observations read %g, EDF= %g, DFREDUCE= %g)."},
    {352, 7, "NOTE: Variable %.*s is constant among the moments about zero; it acts as the intercept."},
    {352, 8, "NOTE: The covariance matrix with divisor N is not positive definite; weights and kurtosis are formed without its inverse."},
    {352, 9, "WARNING: %g observations are too few for the fourth-order moments of the weights; the kurtosis is not computed."},
    {352, 10, "ERROR: The weight matrix could not be formed."},
    {352, 11, "NOTE: The diagonal of the weight matrix is ridged with the factor %g."},
    {352, 12, "ERROR: The weight matrix is singular."},
    // 352/13, 606, 601, 728: the determinant tables (row labels and title).
    {352, 13, "Determinant of the Weight Matrix"},
    {352, 16, "WARNING: The kurtosis is not computed: no observation could be used."},
    {352, 17, "WARNING: The %i partial variables are not fewer than the %g observations."},
    {352, 18, "NOTE: The intercept changes the variance divisor to %g."},
    {352, 19, "WARNING: Variable %.*s has no positive variance."},
    {352, 20, "ERROR: No variable has a positive variance."},
    {352, 21, "NOTE: The moment matrix is ridged to make it positive definite."},
    {352, 22, "NOTE: The diagonal of the moment matrix is ridged with the factor %g."},
    {352, 24, "WARNING: The matrix is singular; the BY group is analysed by ULS only."},
    {352, 25, "ERROR: The matrix is singular; the method cannot be used for the BY group."},
    {352, 29, "ERROR: The variables of the TYPE=SYMATRIX data set do not match the analysis variables."},
    {352, 30, "WARNING: The N rows give different values; the smallest is used."},
    {352, 31, "WARNING: The SUMWGT rows give different values; the smallest is used."},
    {352, 32, "WARNING: The symmetric matrix has more rows than variables; the rest is ignored."},
    {352, 33, "NOTE: A row of _TYPE_ %.*s is ignored."},
    {352, 34, "WARNING: Elements of the symmetric matrix are missing; they are set to 0."},
    {352, 36, "ERROR: The weight matrix of INWGT= data set %s is incomplete."},
    {352, 37, "ERROR: INWGT= data set %s has no WEIGHT rows."},
    {352, 38, "WARNING: %i WEIGHT rows of INWGT= data set %s match the variables; %i are expected."},
    {352, 39, "NOTE: The data set gives no observation numbers; the kurtosis contributions are numbered in order."},
    // 352/40-47: model evaluation.  352/40: matrix name.
    {352, 40, "ERROR: Matrix %s cannot be inverted at the current parameter values."},
    {352, 41, "NOTE: The inverse forms of the model matrices cannot be computed at this point."},
    {352, 42, "ERROR: The implied covariance matrix is not positive definite at the current parameter values."},
    {352, 43, "NOTE: The maximum likelihood discrepancy cannot be computed at this point."},
    {352, 44, "WARNING: The discrepancy function is negative; it is set to zero."},
    // 352/45: before the report of the invalid operations or missing values
    // of a run of the programming statements.
    {352, 45, "WARNING: The programming statements gave missing values in this evaluation."},
    {352, 46, "NOTE: The parameters were perturbed to continue the evaluation."},
    {352, 47, "NOTE: No parameter can be perturbed to continue the evaluation."},
    {352, 52, "ERROR: The information matrix cannot be computed at the solution."},
    {352, 54, "WARNING: The generalized inverse of the information matrix cannot be computed."},
    // 352/60: name.
    {352, 60, "ERROR: Matrix %s has the form INVERSE or IMINUSINV but is not square."},
    // 352/62, 352/66: name.
    {352, 62, "ERROR: internal error: matrix %s has a form or type the model evaluation cannot apply."},
    {352, 66, "ERROR: internal error: matrix %s has no product rule without a form."},
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
    {352, 76, "NOTE: The Intercept variable of the DATA= data set is an analysis variable; it is the intercept of the augmented moments."},
    {352, 77, "Covariance Structure Analysis: %s"},
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
    // 352/109: the matrix number.
    {352, 109, "WARNING: An ESTIM row of the INRAM= data set names matrix %i, which the model does not have; the row is ignored."},
    // 352/116: bytes.
    {352, 116, "NOTE: Laying out the stored inverses term by term would save %i bytes."},
    // 352/117: matrix, row and column.
    {352, 117, "ERROR: An ESTIM row of the INRAM= data set names matrix %i, row %i, column %i, where the model has no element."},
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
    // 352/128: name.
    {352, 128, "NOTE: No matrix of the model is named %s; its MATRIX statement is not used."},
    {352, 131, "NOTE: The covariance of exogenous variable %.*s is not set from the sample."},
    {352, 132, "ERROR: The option value of the covariance of the estimates is not valid."},
    // 352/137: name.
    {352, 137, "ERROR: internal error: a product with matrix %s does not conform."},
    // 352/138: name.
    {352, 138, "ERROR: internal error: matrix %s needs a stored inverse but belongs to no term."},
    // 352/139: matrix name, row, column.
    {352, 139, "ERROR: The fixed element of matrix %s at row %i, column %i has a missing value."},
    {352, 152, "the matrix has no elements and becomes the identity."},
    {352, 154, "its elements are diagonal."},
    {352, 155, "its elements lie on a shifted diagonal."},
    {352, 156, "its elements lie in the lower triangle."},
    {352, 157, "its elements lie in the upper triangle."},
    {352, 159, "its elements do not fit the declared type; it becomes GENERAL."},
    // 352/176: number, item, largest.
    {352, 176, "ERROR: The variable number %g of RAM item %i is not a whole number from 1 to %i."},
    // 352/177: matrix, largest, number.
    {352, 177, "ERROR: Matrix %s needs a whole number of columns from 1 to %i, not %g."},
    // 352/178: name, its number, rows, columns, the earlier number, rows, columns.
    {352, 178, "ERROR: Matrix %s is matrix %i with %i rows and %i columns and matrix %i with %i rows and %i columns; every occurrence of a matrix needs the same shape."},
    {352, 179, "NOTE: The PARAMETERS statement is ignored: the default FACTOR model has no added parameters."},
    {352, 180, "NOTE: The STRUCTEQ statement is ignored: the default FACTOR model has no structural equations."},
    {352, 206, "ERROR: Variable %.*s is not in the INEST= data set."},
    {352, 207, "ERROR: Variable %.*s of the INEST= data set has the wrong type."},
    {352, 208, "ERROR: The BY variables of the INEST= data set differ from those of DATA=."},
    {352, 209, "NOTE: Derivatives are computed analytically; the finite-difference options are ignored."},
    // 352/210, 213: the name (length, text).
    {352, 210, "WARNING: The added parameter %.*s is empty or repeats a parameter name and is ignored."},
    {352, 211, "NOTE: The model has no free parameter."},
    // 352/212: the number of parameters and of distinct moments.
    {352, 212, "WARNING: The model has %i parameters but the moments give only %i values."},
    {352, 213, "WARNING: The manifest variable %.*s is not reached by the model."},
    // 352/215: name.
    {352, 215, "ERROR: Matrix %s is an identity matrix; a MATRIX statement cannot give its elements."},
    {352, 216, "ERROR: Start values in parentheses must follow parameter names, not fixed values."},
    {352, 217, "WARNING: There are more start values than parameter names before them; the extra values are dropped."},
    // 352/218: capacity.
    {352, 218, "ERROR: An entry of a MATRIX statement has more than %i items."},
    // 352/219: name.
    {352, 219, "WARNING: An entry of the MATRIX statement for %s has no items and is skipped."},
    // 352/220: the earlier parameter, the later item.
    {352, 220, "WARNING: A matrix position that holds parameter %s is given again (%s); the later item replaces it."},
    {352, 221, "WARNING: A MATRIX entry lists more items than its positions take; the rest is not placed."},
    // 352/222: matrix, column.
    {352, 222, "ERROR: Matrix %s has no column %g that this entry can fill."},
    // 352/223: matrix, row.
    {352, 223, "ERROR: Matrix %s has no row %g that this entry can fill."},
    {352, 224, "WARNING: A diagonal run of a MATRIX entry passes the edge of the matrix and is cut there."},
    // 352/225: matrix, row, column.
    {352, 225, "ERROR: An entry of diagonal matrix %s must start on its diagonal, not at [%g,%g]."},
    // 352/226: matrix, row, column.
    {352, 226, "ERROR: An entry of lower triangular matrix %s must start on or below its diagonal, not at [%g,%g]."},
    // 352/227: matrix, row, column.
    {352, 227, "ERROR: An entry of upper triangular matrix %s must start on or above its diagonal, not at [%g,%g]."},
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
    {352, 269, "ERROR: internal error: the lists of names, columns, types and forms of the COSAN statement differ in length."},
    {352, 270, "NOTE: The FACTOR model has a BOUNDS statement but no MATRIX statement; its parameters have generated names."},
    {352, 271, "ERROR: No model statement is given."},
    {352, 272, "NOTE: The programming statements are ignored: the default FACTOR model has no MATRIX statement."},
    // 352/273: name.
    {352, 273, "WARNING: The VARNAMES statement names %s, which is no matrix of the model."},
    {352, 274, "WARNING: The VARNAMES statement has items this model does not take; its names are ignored."},
    // 352/275: name.
    {352, 275, "WARNING: The diagonal of matrix %s must be empty; its diagonal elements are removed."},
    // 352/276: matrix, names given, columns.
    {352, 276, "WARNING: The VARNAMES statement names fewer columns of matrix %s than it has (%i of %i)."},
    // 352/277: matrix, names given, columns.
    {352, 277, "WARNING: The VARNAMES statement gives more names for matrix %s than it has columns (%i for %i); the rest are ignored."},
    // 352/278: the two matrices.
    {352, 278, "WARNING: Matrices %s and %s have no column names to share."},
    {352, 280, "ERROR: The RAM model has no RAM statement."},
    // 352/281: number, item.
    {352, 281, "ERROR: The matrix number %g of RAM item %i is neither 1 nor 2."},
    // 352/282: number.
    {352, 282, "WARNING: The VARNAMES statement of a RAM model names matrix %g; only 1 and 2 are known, so the group is ignored."},
    {352, 283, "WARNING: The VARNAMES statement of a RAM model takes the matrix numbers 1 and 2 only; its names are ignored."},
    // 352/284: names, variables.
    {352, 284, "NOTE: The VARNAMES statement gives %i names for %i variables; the others keep their generated names."},
    // 352/285: names, variables.
    {352, 285, "WARNING: The VARNAMES statement gives %i names for only %i variables; the extra names are dropped."},
    {352, 286, "Pattern and Initial Values"},
    {352, 287, "Unweighted Least-Squares Estimation"},
    {352, 288, "Generalized Least-Squares Estimation"},
    {352, 289, "Maximum Likelihood Estimation"},
    {352, 290, "Unweighted then Generalized Least-Squares Estimation"},
    {352, 291, "Unweighted Least-Squares then Maximum Likelihood Estimation"},
    {352, 292, "Weighted Least-Squares Estimation"},
    {352, 293, "Diagonally Weighted Least-Squares Estimation"},
    {352, 294, "Unweighted then Weighted Least-Squares Estimation"},
    {352, 295, "Unweighted then Diagonally Weighted Least-Squares Estimation"},
    {352, 296, "Asymptotically Distribution-Free Estimation"},
    {352, 297, "Unweighted then Asymptotically Distribution-Free Estimation"},
    {352, 300, "Number of Observations"},
    {352, 301, "Number of Manifest Variables"},
    {352, 302, "Number of Partial Variables"},
    {352, 303, "Number of Moments"},
    {352, 304, "Number of Terms"},
    {352, 305, "Number of Matrices"},
    {352, 306, "Observations after the Partial Variables"},
    {352, 307, "Number of Free Parameters"},
    {352, 309, "Moments about Zero"},
    {352, 311, "Means and Standard Deviations"},
    {352, 312, "NOTE: Variable %.*s has no kurtosis."},
    {352, 313, "Mardia's Multivariate Kurtosis"},
    {352, 314, "Mean Scaled Univariate Kurtosis"},
    {352, 315, "Mean Ratio of Fourth Moments less 1"},
    {352, 316, "WARNING: The relative multivariate kurtosis is below %g: the data are strongly platykurtic."},
    {352, 317, "WARNING: The mean scaled univariate kurtosis is below %g."},
    // 352/400: factors, variables.
    {352, 400, "WARNING: The model asks for %i factors but has only %i manifest variables; it takes as many factors as variables."},
    {352, 401, "ERROR: Variable %.*s is not in the TYPE=SYMATRIX data set."},
    {352, 402, "ERROR: Variable %.*s of the TYPE=SYMATRIX data set has the wrong type."},
    {352, 403, "ERROR: The BY variables of the INRAM= data set differ from those of DATA=."},
    {352, 404, "ERROR: Variable %.*s is not in the INRAM= data set."},
    {352, 405, "ERROR: Variable %.*s of the INRAM= data set has the wrong type."},
    {352, 406, "ERROR: The BY variables of the INWGT= data set differ from those of DATA=."},
    {352, 407, "ERROR: Variable %.*s is not in the INWGT= data set."},
    {352, 408, "ERROR: Variable %.*s of the INWGT= data set has the wrong type."},
    {352, 409, "Output of the VELIX Procedure"},
    {352, 410, "Type of Row"},
    {352, 411, "Variable Name"},
    {352, 412, "Row Variable"},
    {352, 413, "Second Variable of the Moment"},
    {352, 414, "Column Variable"},
    {352, 415, "ERROR: The INWGT= data set holds WLS weights over pairs of moments; the method needs a weight matrix over the variables."},
    {352, 418, "COSAN Model Statement"},
    {352, 419, "LINEQS Model Statement"},
    {352, 420, "RAM Model Statement"},
    {352, 421, "FACTOR Model Statement"},
    {352, 423, "ERROR: The COSAN model has no COSAN statement."},
    // 352/424: term.
    {352, 424, "ERROR: Term %i of the COSAN statement has no matrix."},
    // 352/425: name.
    {352, 425, "NOTE: The central matrix %s must be square; its number of columns is corrected."},
    // 352/426: name, term.
    {352, 426, "WARNING: The central matrix %s of term %i must be IDENTITY, DIAGONAL, POSDEFINIT or SYMMETRIC; it becomes SYMMETRIC."},
    // 352/427: matrix, earlier matrix, name.
    {352, 427, "NOTE: Matrix %i repeats matrix %i (%s) with other columns, type or form; the earlier definition is used."},
    // 352/428: name.
    {352, 428, "ERROR: Matrix %s has a type that a COSAN statement cannot use."},
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
    {352, 510, "Relative Multivariate Kurtosis"},
    {352, 511, "Normalized Multivariate Kurtosis"},
    {352, 512, "Mardia Based Kappa"},
    {352, 513, "Adjusted Mean Scaled Univariate Kurtosis"},
    {352, 514, "Ratio of Fourth Moments to their Normal Values less 1"},
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
    {352, 729, "Cholesky Factor of the Weights"},
    {352, 730, "Inverse Diagonal Weights"},
    {352, 731, "General Model Information"},
    {352, 732, "Covariances Set for Exogenous Variables"},
    {352, 741, "Information Matrix"},
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
