// The numbered messages of the module and of its host, by message group:
// one name for each message number a routine logs or shows, so that no
// routine carries a bare number.  Each name is preceded by the text of its
// message (placeholders in the host's format dialect; titles, labels and the
// pieces a line is built from have no severity).  The groups themselves are
// named in codes.h.
#pragma once

#include <cstdint>

// ---- the host's own lines (kMsgHost) ----
// Logged by platform/ and the step runner only; the module never names them.
// ERROR: Message %i/%i is missing from the message file.
constexpr int32_t kMsgHostMissingMessage = 1;
// ERROR: A host service failed: %s (status 0x%08X).
constexpr int32_t kMsgHostServiceFailed = 2;
// ERROR: A host service failed with status %i (0x%08X).
constexpr int32_t kMsgHostServiceFailedStatus = 3;
// the object has no such method
constexpr int32_t kMsgHostNoSuchMethod = 4;
// an output object was called out of order
constexpr int32_t kMsgHostCalledOutOfOrder = 5;
// an output object was given a missing or malformed entry
constexpr int32_t kMsgHostMalformedEntry = 6;
// an output object was used after it was closed
constexpr int32_t kMsgHostUsedAfterClose = 7;
// memory could not be allocated
constexpr int32_t kMsgHostNoAllocation = 8;
// ERROR: internal error: %s
constexpr int32_t kMsgHostInternalError = 10;
// ERROR: internal error: %s (code %i)
constexpr int32_t kMsgHostInternalErrorCode = 11;
// ERROR: There is not enough memory to continue the step.
constexpr int32_t kMsgHostNoMemoryToContinue = 12;
// ERROR: There is not enough memory for a request of %ld bytes.
constexpr int32_t kMsgHostNoMemoryForRequest = 13;
// ERROR: line %i: %s
constexpr int32_t kMsgHostErrorOutsideStep = 20;
// WARNING: line %i: %s
constexpr int32_t kMsgHostWarningOutsideStep = 21;
// ERROR: The PROC VELIX step failed with return code %i.
constexpr int32_t kMsgHostStepFailed = 22;
// NOTE: The PROC VELIX step ended with return code %i.
constexpr int32_t kMsgHostStepEnded = 23;
// ERROR: The step ran out of memory.
constexpr int32_t kMsgHostStepOutOfMemory = 24;
// ERROR: The run was stopped by %s.
constexpr int32_t kMsgHostRunStopped = 25;
// ERROR: The listing cannot be written to %s; the run stops.
constexpr int32_t kMsgHostListingLost = 26;
// ERROR: The listing cannot be written to %s (%s); the run stops.
constexpr int32_t kMsgHostListingLostWhy = 27;
// NOTE: The listing was not written to %s.
constexpr int32_t kMsgHostListingKept = 28;
// NOTE: The JSON document was not written to %s.
constexpr int32_t kMsgHostJsonKept = 29;
// ERROR: The listing was not written to %s (%s).
constexpr int32_t kMsgHostListingNotWritten = 30;
// ERROR: The JSON document was not written to %s (%s).
constexpr int32_t kMsgHostJsonNotWritten = 31;
// %s in the temporary folder %s
constexpr int32_t kMsgHostReasonInTemporaryFolder = 32;
// ERROR: Data set %s (%s) changed while the step read it: its observations are not those it had when
// it was opened.
constexpr int32_t kMsgHostDataSetChanged = 40;
// ERROR: Data set %s is not sorted in ascending sequence of its BY variables: observation %ld has %s
// after %s. Sort it or give NOTSORTED.
constexpr int32_t kMsgHostDataSetNotSorted = 41;
// ERROR: Reading an observation of data set %s failed with status %i.
constexpr int32_t kMsgHostReadFailed = 42;
// ERROR: Writing an observation to data set %s failed with status %i.
constexpr int32_t kMsgHostWriteFailed = 43;
// NOTE: Output data set %s was not written: the step ended with return code %i.
constexpr int32_t kMsgHostOutputAfterFailure = 44;
// NOTE: Output data set %s has no observations and was not written.
constexpr int32_t kMsgHostOutputEmpty = 45;
// NOTE: Output data set %s was not written.
constexpr int32_t kMsgHostOutputNotWritten = 46;
// ERROR: Output data set %s cannot be written to %s (%s).
constexpr int32_t kMsgHostOutputNotWritable = 47;
// ERROR: Output data set %s left %s changed: its earlier file could not be put back (%s) and is kept
// as %s.
constexpr int32_t kMsgHostOutputNotPutBack = 48;
// ERROR: Output data set %s cannot replace %s, which is not a file.
constexpr int32_t kMsgHostOutputNotAFile = 49;
// ERROR: Output data set %s cannot replace %s: %s.
constexpr int32_t kMsgHostOutputCannotReplace = 50;
// %s: the line of variable names is a single field that holds %s; the fields of a data set are
// separated by commas
constexpr int32_t kMsgHostNamesOneField = 51;
// a semicolon (";")
constexpr int32_t kMsgHostSemicolon = 52;
// a tab
constexpr int32_t kMsgHostTab = 53;
// BY group %i: %s
constexpr int32_t kMsgHostByGroupLine = 54;
// %s: the quoted variable names are separated by %s; the fields of a data set are separated by
// commas
constexpr int32_t kMsgHostQuotedNamesSeparated = 55;
// NOTE: The first column of %s has no name, as R's write.csv writes its row names: it is read as
// the row labels, the character variable %s.
constexpr int32_t kMsgHostRowLabels = 56;
// ERROR: Output data set %s was put in %s, where there was no file, and could not be removed (%s).
constexpr int32_t kMsgHostOutputNotRemoved = 57;
// %s data set %s would replace %s data set %s, the raw data of the step (%s)
constexpr int32_t kMsgHostOutputReplacesData = 58;
// %s data set %s and %s data set %s name the same file %s
constexpr int32_t kMsgHostOutputsShareFile = 59;
// ERROR: An analysis variable is not in data set %s.
constexpr int32_t kMsgHostVariableNotInDataSet = 60;
// ERROR: Analysis variable %s of data set %s is character; it must be numeric.
constexpr int32_t kMsgHostVariableCharacter = 61;
// ERROR: Analysis variable %s of data set %s is not numeric: %s.
constexpr int32_t kMsgHostVariableMadeCharacter = 72;
// ERROR: The values of variable %s of data set %s are too large for its moments: their sums go
// beyond the largest number a double holds (about 1.8e308).
constexpr int32_t kMsgHostMomentsOverflow = 73;
// %s: variable %i of the names holds a NUL byte after "%s"
constexpr int32_t kMsgHostNameHoldsNul = 74;
// it is a folder, not a file
constexpr int32_t kMsgHostDataSetIsFolder = 75;
// %s: the data set has %ld variables, more than the %i a data set can have
constexpr int32_t kMsgHostTooManyVariables = 76;
// WARNING: Data set %s looks like a %s matrix: its first column names its rows after its numeric
// variables, and its numbers are symmetric. Without a TYPE it is read as raw data, %ld
// observations; to analyse it as the matrix, write data=%s(type=%s) and give the number of
// observations with the PROC option NOBS=.
constexpr int32_t kMsgHostLooksLikeMatrix = 77;
// covariance
constexpr int32_t kMsgHostCovariance = 70;
// correlation
constexpr int32_t kMsgHostCorrelation = 71;
// NOTE: Variable %s of data set %s holds numbers but is character, and is not analysed: %s.
constexpr int32_t kMsgHostWordsLeftOut = 78;
// ERROR: The WEIGHT or FREQ variable of data set %s must be a numeric variable of the data set.
constexpr int32_t kMsgHostWeightFreqNotNumeric = 62;
// ERROR: No observation of data set %s has every analysis value with a positive weight and
// frequency.
constexpr int32_t kMsgHostNoUsableObservation = 63;
// ERROR: No observation of data set %s has a value for every analysis variable.
constexpr int32_t kMsgHostNoCompleteObservation = 69;
// NOTE: %ld of the %ld observations of data set %s were not used:%s.
constexpr int32_t kMsgHostRowsNotUsed = 64;
// NOTE: %ld of the %ld observations of data set %s in the BY group %s were not used:%s.
constexpr int32_t kMsgHostGroupRowsNotUsed = 65;
// %ld with a missing value of an analysis variable
constexpr int32_t kMsgHostRowsMissingValue = 66;
// %ld with a WEIGHT value that is missing or not positive
constexpr int32_t kMsgHostRowsBadWeight = 67;
// %ld with a FREQ value that is missing or below 1
constexpr int32_t kMsgHostRowsBadFreq = 68;
// NOTE: %ld observations of data set %s have a FREQ value that is not a whole number; each counts as
// many times as its whole part.
constexpr int32_t kMsgHostFreqTruncated = 39;
// ERROR: %s at line %i, column %i.
constexpr int32_t kMsgHostErrorAt = 80;
// ERROR: The variable %s of the programming statements is never given a value (first used at line
// %i, column %i).
constexpr int32_t kMsgHostNeverGivenValue = 81;
// NOTE: A STOP statement ended the programming statements at line %i, column %i.
constexpr int32_t kMsgHostStopStatement = 82;
// ERROR: An ABORT statement ended the programming statements at line %i, column %i.
constexpr int32_t kMsgHostAbortStatement = 83;
// NOTE: The programming statements ended with result %i.
constexpr int32_t kMsgHostProgramResult = 84;
// NOTE: Invalid operations in the programming statements gave missing values at these places:
constexpr int32_t kMsgHostInvalidOperations = 85;
// NOTE: Operations on missing values in the programming statements gave missing values at these
// places:
constexpr int32_t kMsgHostMissingOperations = 86;
// the programming statements failed
constexpr int32_t kMsgHostFault = 87;
// Array subscript missing or out of range
constexpr int32_t kMsgHostFaultSubscript = 88;
// No WHEN clause of the SELECT group matched
constexpr int32_t kMsgHostFaultNoWhen = 89;
// Missing value or zero step in the DO loop control
constexpr int32_t kMsgHostFaultDoControl = 90;
// LINK statements nested too deeply
constexpr int32_t kMsgHostFaultLinkDepth = 91;
// The programming statements ran more than %ld loop iterations in one evaluation
constexpr int32_t kMsgHostFaultLoopCap = 92;
// The time limit MAXTIME= passed while the programming statements looped
constexpr int32_t kMsgHostFaultTimeLimit = 93;
// expected an option (found "."): a data set is named without ".csv" (%s=%s), or a file by its
// path in quotes (%s="%s")
constexpr int32_t kMsgHostDataSetFileName = 94;
// expected a data-set name (found "%s"): a file is named by its path in quotes (%s="%s")
constexpr int32_t kMsgHostDataSetUnquotedPath = 95;
// a model is written as a LINEQS, RAM, COSAN or FACTOR statement, not with lavaan's operator "%s"
constexpr int32_t kMsgHostLavaanOperator = 99;
// NOTE: No statement can name %s of data set %s: %s.
constexpr int32_t kMsgHostUnnameable = 79;
// LINEQS equations are separated by commas: this ";" ends the LINEQS statement, and the equation
// after it is read as a programming statement
constexpr int32_t kMsgHostLineqsSemicolon = 96;
// %s is not a name: %s, then write %s
constexpr int32_t kMsgHostDottedName = 97;
// a name is a letter or underscore followed by letters, digits and underscores; rename %s in the
// data set (in R: names(d) <- gsub("[. ]", "_", names(d)))
constexpr int32_t kMsgHostNameRule = 98;
// %s data set %s would replace %s data set %s, the TYPE=%s data the step analyses (%s)
constexpr int32_t kMsgHostOutputReplacesMoments = 110;
// WARNING: The second name %s of the earlier file of output data set %s could not be removed (%s).
constexpr int32_t kMsgHostSecondNameLeft = 111;
// NOTE: The output data sets of the step (%s) were put in place: the stop came while they were being
// renamed.
constexpr int32_t kMsgHostOutputsInPlaceAtStop = 112;
// Data set %s has no TYPE, but its rows are those of a moment data set (_TYPE_ %s): read as raw
// data, its %ld rows would be analysed as observations. To analyse its matrix, write
// data=%s(type=%s).
constexpr int32_t kMsgHostMomentRowsAsRaw = 113;
// %s, which is not a TYPE: a data set's TYPE is one of %s (raw data has none)
constexpr int32_t kMsgHostUnknownType = 114;
// Data-set option %s of %s is not known: TYPE= is the one option a data set takes, as in
// %s(type=cov)
constexpr int32_t kMsgHostUnknownDataSetOption = 115;
// NOTE: Line %li of %s, "%s", is a comment: only "# KEY=VALUE" lines before the names say something
// ... numpy's savetxt(header=...) ... comments="" ...
constexpr int32_t kMsgHostCommentLine = 116;
// %s"" names no file: an output data set is named (%sest) or a file by its path in quotes
// (%s"est.csv")
constexpr int32_t kMsgHostOutputEmptyName = 125;
// %s"%s" names the folder %s, not a file: an output data set is a file in it (%s"%s")
constexpr int32_t kMsgHostOutputNamesFolder = 126;
// %s is not a host option (the options are %s)
constexpr int32_t kMsgHostOptionUnknown = 130;
// host option %s takes a whole number from %i to %i, not "%s"
constexpr int32_t kMsgHostOptionValue = 131;
// %s; it is ignored.
constexpr int32_t kMsgHostOptionIgnored = 132;
// ERROR: One file is named by %s and by %s; the run does not start, and no file is written.
constexpr int32_t kMsgHostOneFileTwoRoles = 133;
// the %s file %s
constexpr int32_t kMsgHostCommandFileRole = 134;
// %s data set %s (%s) of step %i
constexpr int32_t kMsgHostDataSetRole = 135;
// the program file %s
constexpr int32_t kMsgHostProgramFileRole = 136;
// ERROR: The quoted text after %s at line %i is not closed, so the file it names cannot be known
// and could be %s; the run does not start, and no file is written.
constexpr int32_t kMsgHostDataSetUnclosedName = 150;
// %s data set %s (%s) of the PROC %s step at line %i, which is skipped
constexpr int32_t kMsgHostSkippedStepDataSetRole = 151;
// the %s on %s
constexpr int32_t kMsgHostStandardStreamRole = 152;
// NOTE: Column %d of %s has no name, as pandas' to_csv writes the unnamed level of a row index
// (df.groupby(...).cov()): it is read as the row labels, the character variable %s.
constexpr int32_t kMsgHostIndexLabels = 140;
// WARNING: Data set %s looks like %ld %s matrices, one after another: column %d names their rows ...
// write data=%s(type=%s), a BY statement of the columns before it, ... NOBS=.
constexpr int32_t kMsgHostLooksLikeMatrices = 141;
// WARNING: The folder %s cannot be locked while the output data sets are put in it (%s): another
// run that writes the same data sets at the same time may mix its files with this step's.
constexpr int32_t kMsgHostFolderNotLocked = 153;
// NOTE: The output data sets wait for the folder %s, which another run is writing (it holds the
// folder's lock).
constexpr int32_t kMsgHostWaitingForFolder = 154;

// ---- BY-group synchronisation of two data sets (kMsgSync) ----
// WARNING: The BY groups of data set %s%s do not match those of data set %s%s.
constexpr int32_t kMsgSyncMismatch = 5;

// ---- the procedure (kMsgProc) ----
// WARNING: The BY groups of the %s data set are out of step with DATA=; the %s data set is used as
// it is.
constexpr int32_t kMsgBySync = 1;
// NOTE: The VELIX procedure used %.2f seconds.
constexpr int32_t kMsgElapsed = 3;
// ERROR: The DATA= data set has no observations.
constexpr int32_t kMsgNoObservations = 4;
// NOTE: The number of observations %g is not greater than the number of variables %i.
constexpr int32_t kMsgTooFewObservations = 5;
// NOTE: The number of observations %g is not greater than the number of variables %i (observations
// read %g, EDF= %g, DFREDUCE= %g).
constexpr int32_t kMsgTooFewObservationsDf = 6;
// NOTE: Variable %.*s is constant among the moments about zero; it acts as the intercept.
constexpr int32_t kMsgConstantIsIntercept = 7;
// NOTE: The covariance matrix with divisor N is not positive definite; weights and kurtosis are
// formed without its inverse.
constexpr int32_t kMsgCovNotPositiveDefinite = 8;
// WARNING: %g observations are too few for the fourth-order moments of the weights; the kurtosis
// is not computed.
constexpr int32_t kMsgTooFewForKurtosis = 9;
// ERROR: The weight matrix could not be formed.
constexpr int32_t kMsgWeightsNotFormed = 10;
// NOTE: The diagonal of the weight matrix is ridged with the factor %g.
constexpr int32_t kMsgWeightsRidged = 11;
// ERROR: The weight matrix is singular.
constexpr int32_t kMsgWeightsSingular = 12;
// ERROR: The weight matrix is not positive definite: a diagonal element is negative.
constexpr int32_t kMsgWeightsNotPositiveDefinite = 191;
// NOTE: The direct effects among the dependent variables have spectral radius %g, above 1: the
// series I + B + B^2 + ... of the total and indirect effects diverges, and the effects shown, from
// (I - B)^-1, are not its sum.
constexpr int32_t kMsgEffectsDiverge = 192;
// ERROR: Variable %s is the %s variable, which weighs the observations: a variable cannot be both
// that and a variable of the model.
constexpr int32_t kMsgWeighingVariableInModel = 193;
// NOTE: No RAM entry of matrix 2 gives the variance of the exogenous latent variable %s; its
// variance is fixed at 0.
constexpr int32_t kMsgRamLatentVarianceZero = 194;
// ERROR: The divisor of the moments under VARDEF=%.*s is not positive: the weights sum to %g, and
// the divisor is their sum less %g.
constexpr int32_t kMsgDivisorNotPositive = 195;
// weight matrix is not positive definite: a diagonal element is negative
constexpr int32_t kMsgWeightsNotPositiveDefiniteText = 196;
// Determinant of the Weight Matrix
constexpr int32_t kMsgWeightsDetLabel = 13;
// ERROR: %g observations are too few for an analysis; the BY group is not analysed.
constexpr int32_t kMsgTooFewForAnalysis = 14;
// ERROR: %g observations are too few to form the weight matrix; the BY group is not analysed.
constexpr int32_t kMsgTooFewForWeights = 15;
// WARNING: The kurtosis is not computed: no observation could be used.
constexpr int32_t kMsgKurtosisNotComputed = 16;
// WARNING: The %i partial variables are not fewer than the %g observations.
constexpr int32_t kMsgTooManyPartials = 17;
// NOTE: The intercept changes the variance divisor to %g.
constexpr int32_t kMsgInterceptDivisor = 18;
// WARNING: Variable %.*s has no positive variance.
constexpr int32_t kMsgNoPositiveVariance = 19;
// ERROR: No variable has a positive variance.
constexpr int32_t kMsgNoVariableVaries = 20;
// NOTE: The moment matrix is ridged to make it positive definite.
constexpr int32_t kMsgMomentsRidgedAuto = 21;
// NOTE: The diagonal of the moment matrix is ridged with the factor %g.
constexpr int32_t kMsgMomentsRidged = 22;
// WARNING: The weights of METHOD=%s cannot be formed; the BY group is analysed by METHOD=ULS only.
constexpr int32_t kMsgWeightsUlsOnly = 23;
// WARNING: The %k; the analysis is by ULS only%k.
constexpr int32_t kMsgSingularUlsOnly = 24;
// ERROR: The %k; METHOD=%s cannot be used%k.
constexpr int32_t kMsgSingularMethod = 25;
// Texts of 24 and 25: " in the BY group %.*s" (BY steps only); "moment
// matrix of data set %.*s is not positive definite: its smallest eigenvalue
// is %g"; "moment matrix of data set %.*s is singular: variable %.*s is
// determined by the other variables"; "weight matrix is singular".
constexpr int32_t kMsgInByGroup = 2;
constexpr int32_t kMsgMomentsIndefinite = 51;
constexpr int32_t kMsgMomentsSingular = 55;
constexpr int32_t kMsgWeightsSingularText = 56;
// ERROR: Invalid operations in the programming statements leave the model without values at the
// start.
constexpr int32_t kMsgProgramNoStartValues = 26;
// ERROR: The variables of the TYPE=SYMATRIX data set do not match the analysis variables.
constexpr int32_t kMsgSymatrixVariables = 29;
// WARNING: The N rows give different values; the smallest is used.
constexpr int32_t kMsgSymatrixNConflict = 30;
// WARNING: The SUMWGT rows give different values; the smallest is used.
constexpr int32_t kMsgSymatrixSumwgtConflict = 31;
// WARNING: The symmetric matrix has more rows than variables; the rest is ignored.
constexpr int32_t kMsgSymatrixTooManyRows = 32;
// NOTE: A row of _TYPE_ %.*s is ignored.
constexpr int32_t kMsgSymatrixRowIgnored = 33;
// WARNING: Elements of the symmetric matrix are missing; they are set to 0.
constexpr int32_t kMsgSymatrixMissing = 34;
// WARNING: The symmetric matrix is not symmetric: its element of %.*s and %.*s is %g in one row and
// %g in the other; the later one is used.
constexpr int32_t kMsgSymatrixNotSymmetric = 202;
// ERROR: The moments of variable %.*s are too large to be represented; the BY group is not
// analysed.
constexpr int32_t kMsgMomentsOverflow = 35;
// ERROR: The weight matrix of INWGT= data set %s is incomplete.
constexpr int32_t kMsgInwgtIncomplete = 36;
// ERROR: INWGT= data set %s has no WEIGHT rows.
constexpr int32_t kMsgInwgtNoWeightRows = 37;
// WARNING: %i WEIGHT rows of INWGT= data set %s match the variables; %i are expected.
constexpr int32_t kMsgInwgtRowCount = 38;
// NOTE: The data set gives no observation numbers; the kurtosis contributions are numbered in
// order.
constexpr int32_t kMsgKurtosisNumbered = 39;
// WARNING: The programming statements gave missing values in this evaluation.
constexpr int32_t kMsgProgramMissing = 45;
// WARNING: The weight matrix of INWGT= data set %s is incomplete.
constexpr int32_t kMsgInwgtIncompleteLs = 48;
// WARNING: INWGT= data set %s has no WEIGHT rows.
constexpr int32_t kMsgInwgtNoWeightRowsLs = 49;
// NOTE: Memory is short for the derivatives of the equality tests; they are kept on a utility file.
constexpr int32_t kMsgLmColumnsToFile = 50;
// Start values of the coefficients were computed by least squares.  (A text of 66.)
constexpr int32_t kMsgLeastSquaresStartText = 57;
// internal error: matrix %s has no product rule without a form.  (A text of 66.)
constexpr int32_t kMsgNoProductText = 58;
// NOTE: The start-value estimators cannot read this model (an inconsistency of the procedure); the
// default start values are used.
constexpr int32_t kMsgStartEstimatorsUnusable = 59;
// ERROR: Matrix %s has the form INVERSE or IMINUSINV but is not square.
constexpr int32_t kMsgNotSquare = 60;
// %*z%k: 66 reports two things, each with its severity (a marker of %*z) and
// its text: least-squares start values (kSeverityNote, 57) and a matrix
// product the model evaluation cannot form (kSeverityError, 58).
constexpr int32_t kMsgSharedReport = 66;
constexpr int32_t kSeverityError = 1;
constexpr int32_t kSeverityNote = 3;
// NOTE: Repeated variables were removed from a variable list.
constexpr int32_t kMsgRepeatedVariables = 69;
// NOTE: %i programming statements are present.
constexpr int32_t kMsgProgramStatements = 70;
// ERROR: No DATA= data set is given.
constexpr int32_t kMsgNoData = 71;
// WARNING: The INRAM= data set is not of TYPE=RAM.
constexpr int32_t kMsgInramNotRam = 72;
// WARNING: The Jacobian mode %i is not valid; 0 is used.
constexpr int32_t kMsgBadJacobianMode = 73;
// WARNING: The start constant START=0 is not valid; 0.5 is used.
constexpr int32_t kMsgBadStartConstant = 74;
// NOTE: Moments are computed about zero (NOINT).
constexpr int32_t kMsgMomentsAboutZero = 75;
// NOTE: The Intercept variable of the DATA= data set is an analysis variable; it is the intercept
// of the augmented moments.
constexpr int32_t kMsgInterceptAnalysed = 76;
// Covariance Structure Analysis: %s
constexpr int32_t kMsgMethodTitle = 77;
// The second title line: the analysed matrix ("Analysis of the Covariance
// Matrix"; "Uncorrected" for moments about zero).
constexpr int32_t kMsgAnalysisUcorr = 298;
constexpr int32_t kMsgAnalysisUcov = 299;
constexpr int32_t kMsgAnalysisCorr = 318;
constexpr int32_t kMsgAnalysisCov = 319;
// Analysis of the Symmetric Matrix as Given (TYPE=SYMATRIX data)
constexpr int32_t kMsgAnalysisSymatrix = 201;
// ERROR: A DATA= data set of TYPE=RAM cannot be analysed; use INRAM=.
constexpr int32_t kMsgDataIsRam = 78;
// NOTE: The input is a symmetric matrix; options of the raw-data moments are ignored.
constexpr int32_t kMsgSymmetricInput = 79;
// WARNING: The method uses no weight matrix; the INWGT= data set is ignored.
constexpr int32_t kMsgInwgtIgnored = 80;
// ERROR: The method needs a weight matrix that this DATA= input cannot give; an INWGT= data set is
// required.
constexpr int32_t kMsgWeightsNeedInwgt = 81;
// WARNING: The INWGT= data set is not of TYPE=WEIGHT.
constexpr int32_t kMsgInwgtNotWeight = 82;
// WARNING: The method uses no weight matrix; the OUTWGT= data set is not written.
constexpr int32_t kMsgOutwgtNotWritten = 83;
// NOTE: The variable list names the Intercept variable: moments are computed about zero.
constexpr int32_t kMsgInterceptListed = 84;
// NOTE: The SSCP input has no variable list: its variables other than the Intercept are analysed.
constexpr int32_t kMsgInterceptIsList = 85;
// ERROR: Variable %s is not in the DATA= data set.
constexpr int32_t kMsgVariableNotInData = 86;
// ERROR: Variable %s is not in the DATA= data set, whose variable "%s" no statement can name: a
// name is a letter or underscore followed by letters, digits and underscores; rename it in the
// data set (in R: names(d) <- gsub("[. ]", "_", names(d))).
constexpr int32_t kMsgVariableCutShort = 190;
// ERROR: Variable %s is not numeric%s%s.
constexpr int32_t kMsgVariableNotNumeric = 87;
// ERROR: The WEIGHT and FREQ statements take one variable each.
constexpr int32_t kMsgWeightFreqOne = 88;
// ERROR: The variable lists do not fit the DATA= data set.
constexpr int32_t kMsgListsDoNotFit = 89;
// WARNING: AUGMENT analyses the correlations of the augmented moments unless COVARIANCE is
// given; a model with fixed time scores or means needs COVARIANCE.
constexpr int32_t kMsgAugmentCorrelations = 90;
// ERROR: The analysis needs %.0f bytes of memory, but only %.0f are available.
constexpr int32_t kMsgNotEnoughMemory = 94;
// ERROR: No variables are left for the analysis.
constexpr int32_t kMsgNoVariablesLeft = 97;
// WARNING: The INEST= data set is not of TYPE=EST.
constexpr int32_t kMsgInestNotEst = 98;
// NOTE: TECHNIQUE=GAUNEW is not available here; the default technique is used.
constexpr int32_t kMsgGaunewUnavailable = 99;
// NOTE: With nonlinear constraints the dual quasi-Newton technique is used.
constexpr int32_t kMsgNlcUsesDualQuasiNewton = 100;
// NOTE: The INRAM= data set has a row of _TYPE_ %s, which is ignored.
constexpr int32_t kMsgInramRowIgnored = 101;
// ERROR: The MODEL rows of the INRAM= data set do not number the matrices 1, 2, ... term by term.
constexpr int32_t kMsgInramBadNumbering = 102;
// ERROR: The model of the INRAM= data set cannot be read.
constexpr int32_t kMsgInramUnreadable = 103;
// ERROR: Matrix %s of the INRAM= data set has a type, form or shape that its model does not allow.
constexpr int32_t kMsgInramBadMatrix = 104;
// ERROR: The INRAM= data set holds no valid LINEQS model.
constexpr int32_t kMsgInramNoLineqs = 105;
// ERROR: Matrix %s of the INRAM= data set has %i column names for %i rows.
constexpr int32_t kMsgInramColumnNames = 106;
// ERROR: The INRAM= data set holds no valid RAM model.
constexpr int32_t kMsgInramNoModel = 107;
// WARNING: An ESTIM row of the INRAM= data set names matrix %i, which the model does not have; the
// row is ignored.
constexpr int32_t kMsgInramUnknownMatrix = 109;
// ERROR: Column %s of the INRAM= model is no analysis variable.
constexpr int32_t kMsgInramColumnNotAnalysed = 110;
// WARNING: Matrix %s of the INRAM= model has %i rows; it takes %i.
constexpr int32_t kMsgInramRowsCorrected = 111;
// WARNING: Central matrix %s of the INRAM= model has %i columns; it takes %i.
constexpr int32_t kMsgInramColumnsCorrected = 112;
// WARNING: Central matrix %s of the INRAM= model has type %i in term %i; it is taken as SYMMETRIC.
constexpr int32_t kMsgInramCentralType = 113;
// WARNING: %i corrections were made to the matrices of the INRAM= model.
constexpr int32_t kMsgInramCorrections = 114;
// NOTE: Laying out the stored inverses term by term would save %i bytes.
constexpr int32_t kMsgInverseLayoutSaving = 116;
// ERROR: An ESTIM row of the INRAM= data set names matrix %i, row %i, column %i, where the model
// has no element.
constexpr int32_t kMsgInramNoElement = 117;
// ERROR: Matrix %s has no elements.
constexpr int32_t kMsgMatrixEmpty = 118;
// NOTE: The type of matrix %.*s is changed to %s.
constexpr int32_t kMsgTypeChanged = 119;
// Number of Endogenous Variables = %i
constexpr int32_t kMsgEndogenousCount = 120;
// Manifest
constexpr int32_t kMsgManifestKind = 121;
// Latent
constexpr int32_t kMsgLatentKind = 122;
// Error
constexpr int32_t kMsgErrorKind = 123;
// Number of Exogenous Variables = %i
constexpr int32_t kMsgExogenousCount = 124;
// NOTE: The FACTOR statement does not change the factor model of the INRAM= data set.
constexpr int32_t kMsgFactorKeepsInram = 125;
// NOTE: No matrix of the model is named %s; its MATRIX statement is not used.
constexpr int32_t kMsgMatrixNotInModel = 128;
// NOTE: The covariance of exogenous variable %.*s is not set from the sample.
constexpr int32_t kMsgExogenousNotSet = 131;
// ERROR: The option value of the covariance of the estimates is not valid.
constexpr int32_t kMsgBadCovarianceOption = 132;
// NOTE: Under AUGMENT the estimates of %s are moments about zero of variables with means, not
// variances or covariances: ...
constexpr int32_t kMsgParametersAboutZero = 135;
// NOTE: The variances and covariances of the exogenous manifest variables are estimated with the
// model as parameters %s, ...: the weights of %s tie them to the other moments, so their sample
// values are not their estimates.
constexpr int32_t kMsgExogenousEstimated = 133;
// ERROR: internal error: matrix %s needs a stored inverse but belongs to no term.
constexpr int32_t kMsgInverseNoTerm = 138;
// ERROR: The fixed element of matrix %s at row %i, column %i has a missing value.
constexpr int32_t kMsgFixedMissing = 139;
// ERROR: Variable %s is not a DATA= variable: the intercept of a model with means is the variable
// Intercept of the PROC VELIX option AUGMENT.
constexpr int32_t kMsgInterceptNeedsAugment = 145;
// ERROR: Column %s of the INRAM= model is no analysis variable: a model with means is read with the
// PROC VELIX option AUGMENT.
constexpr int32_t kMsgInramInterceptNeedsAugment = 146;
// ERROR: Intercept is the constant 1 of the PROC VELIX option AUGMENT, not a random variable: %s
// gives it %s.
constexpr int32_t kMsgInterceptIsConstant = 147;
// NOTE: Memory is short for a copy of the covariance of the estimates; the Lagrange multiplier
// tests read it from a utility file.
constexpr int32_t kMsgLmCovarianceFromFile = 149;
// WARNING: There is not enough memory for the Lagrange multiplier tests; they are not computed.
constexpr int32_t kMsgLmNoMemory = 150;
// first of the matrix type captions, by type from IDENTITY: Identity
constexpr int32_t kMsgTypeIdentity = 152;
// Diagonal
constexpr int32_t kMsgTypeDiagonal = 154;
// Lower Triangular
constexpr int32_t kMsgTypeLowerTriangular = 156;
// Symmetric
constexpr int32_t kMsgTypeSymmetric = 158;
// General
constexpr int32_t kMsgTypeOther = 159;
// ERROR: The variable number %g of RAM item %i is not a whole number from 1 to %i.
constexpr int32_t kMsgRamBadVariable = 176;
// ERROR: Matrix %s needs a whole number of columns from 1 to %i, not %g.
constexpr int32_t kMsgBadColumnCount = 177;
// ERROR: Matrix %s is matrix %i with %i rows and %i columns and matrix %i with %i rows and %i
// columns; every occurrence of a matrix needs the same shape.
constexpr int32_t kMsgNamesakeShapes = 178;
// NOTE: The STRUCTEQ statement is ignored: the default FACTOR model has no structural equations.
constexpr int32_t kMsgFactorNoStructeq = 180;
// NOTE: The PARAMETERS statement is ignored: the default FACTOR model has no added parameters.
constexpr int32_t kMsgFactorNoParameters = 181;
// NOTE: Derivatives are computed analytically; the finite-difference options are ignored.
constexpr int32_t kMsgAnalyticDerivatives = 209;
// WARNING: The added parameter %.*s is empty or repeats a parameter name and is ignored.
constexpr int32_t kMsgAddedRepeated = 210;
// NOTE: The model has no free parameter.
constexpr int32_t kMsgNoFreeParameter = 211;
// WARNING: The model has %i parameters but the moments give only %i values.
constexpr int32_t kMsgTooManyParameters = 212;
// WARNING: The manifest variable %.*s is not reached by the model.
constexpr int32_t kMsgManifestUnreached = 213;
// ERROR: Matrix %s is an identity matrix; a MATRIX statement cannot give its elements.
constexpr int32_t kMsgIdentityElements = 215;
// ERROR: Start values in parentheses must follow parameter names, not fixed values.
constexpr int32_t kMsgStartAfterFixed = 216;
// WARNING: There are more start values than parameter names before them; the extra values are
// dropped.
constexpr int32_t kMsgSurplusStartValues = 217;
// ERROR: An entry of a MATRIX statement has more than %i items.
constexpr int32_t kMsgEntryTooLong = 218;
// WARNING: An entry of the MATRIX statement for %s has no items and is skipped.
constexpr int32_t kMsgEntryEmpty = 219;
// WARNING: A matrix position that holds parameter %s is given again (%s); the later item replaces
// it.
constexpr int32_t kMsgPositionRepeated = 220;
// WARNING: A MATRIX entry lists more items than its positions take; the rest is not placed.
constexpr int32_t kMsgEntryOverflow = 221;
// ERROR: Matrix %s has no column %g that this entry can fill.
constexpr int32_t kMsgNoSuchColumn = 222;
// ERROR: Matrix %s has no row %g that this entry can fill.
constexpr int32_t kMsgNoSuchRow = 223;
// WARNING: A diagonal run of a MATRIX entry passes the edge of the matrix and is cut there.
constexpr int32_t kMsgDiagonalRunCut = 224;
// ERROR: An entry of diagonal matrix %s must start on its diagonal, not at [%g,%g].
constexpr int32_t kMsgDiagonalStartOff = 225;
// ERROR: An entry of lower triangular matrix %s must start on or below its diagonal, not at
// [%g,%g].
constexpr int32_t kMsgLowerStartAbove = 226;
// ERROR: An entry of upper triangular matrix %s must start on or above its diagonal, not at
// [%g,%g].
constexpr int32_t kMsgUpperStartBelow = 227;
// PARAMETERS statement
constexpr int32_t kMsgParametersStatement = 228;
// ERROR: Only one STRUCTEQ statement is allowed.
constexpr int32_t kMsgOneStructeq = 229;
// ERROR: A PARAMETERS statement has too many names.
constexpr int32_t kMsgParametersTooMany = 230;
// NOTE: A PARAMETERS statement has more values than names; the surplus is ignored.
constexpr int32_t kMsgParametersSurplusValues = 231;
// NOTE: A PARAMETERS statement names no parameter.
constexpr int32_t kMsgParametersEmpty = 232;
// NOTE: The intercept is not used by the model and is removed.
constexpr int32_t kMsgInterceptRemoved = 235;
// NOTE: The variables listed above are not used by the model and are removed from the analysis.
constexpr int32_t kMsgUnusedRemoved = 237;
// ERROR: internal error: the number of removed variables is inconsistent.
constexpr int32_t kMsgRemovedCountWrong = 238;
// NOTE: The programming statements define no dependent parameter and no NLINCON value; they are
// not run.
constexpr int32_t kMsgProgramNotRun = 240;
// Programming Statements and Dependent Parameters
constexpr int32_t kMsgProgramWithDependents = 241;
// ERROR: internal error: the dependent and independent parameters of the programming statements
// changed.
constexpr int32_t kMsgProgramParametersChanged = 242;
// ERROR: The variable %.*s of the programming statements must be numeric.
constexpr int32_t kMsgProgramVariableNotNumeric = 243;
// NOTE: No STD entry names the exogenous latent variable %s; its variance is fixed at 0.
constexpr int32_t kMsgLatentVarianceZero = 244;
// NOTE: The added parameter %.*s is not used by the programming statements and is dropped.
constexpr int32_t kMsgAddedUnused = 245;
// ERROR: internal error: %i dependent parameter positions were filled instead of %i.
constexpr int32_t kMsgDependentPositions = 246;
// ERROR: internal error: %i independent parameter positions were filled instead of %i.
constexpr int32_t kMsgIndependentPositions = 247;
// Programming Statements
constexpr int32_t kMsgProgramTitle = 248;
// Analytic Derivatives of the Dependent Parameters
constexpr int32_t kMsgDependentDerivatives = 249;
// ERROR: The programming statements have %i faults.
constexpr int32_t kMsgProgramFaults = 250;
// NOTE: No STD statement is given.
constexpr int32_t kMsgNoStd = 251;
// ERROR: Variable %s is the dependent variable of more than one equation.
constexpr int32_t kMsgDependentTwice = 252;
// ERROR: The dependent variable %s is neither a DATA= variable nor a latent F variable.
constexpr int32_t kMsgBadDependent = 253;
// ERROR: The equation of %s contains its own dependent variable.
constexpr int32_t kMsgOwnDependent = 254;
// ERROR: The equation of %s has more than one error term.
constexpr int32_t kMsgTwoErrorTerms = 255;
// ERROR: Variable %s occurs twice in the equation of %s.
constexpr int32_t kMsgTermTwice = 256;
// ERROR: Variable %s is not a DATA= variable and does not begin with F, E or D.
constexpr int32_t kMsgBadLatentName = 257;
// NOTE: Parameter name %s looks like a generated name of a prefix.
constexpr int32_t kMsgPrefixLookalike = 258;
// ERROR: Variable %s is listed twice in the STD statement.
constexpr int32_t kMsgStdTwice = 259;
// ERROR: The STD variable %s is not exogenous.
constexpr int32_t kMsgStdNotExogenous = 260;
// ERROR: The COV variable %s is not exogenous.
constexpr int32_t kMsgCovNotExogenous = 261;
// NOTE: An entry of a STD or COV statement has more names or values than places; the rest is
// ignored.
constexpr int32_t kMsgVarianceEntryCut = 262;
// NOTE: More start values than names are given in a STD or COV entry; the surplus is ignored.
constexpr int32_t kMsgVarianceSurplusValues = 263;
// NOTE: A COV entry has fewer items than covariances; its last item is repeated.
constexpr int32_t kMsgCovLastRepeated = 264;
// NOTE: A STD entry has fewer items than variances; its last item is repeated.
constexpr int32_t kMsgStdLastRepeated = 265;
// ERROR: The %s variable %s is not a variable of the model.
constexpr int32_t kMsgNotAModelVariable = 266;
// WARNING: The %s statement is ignored: the model is the %s model of the statements before it.
constexpr int32_t kMsgSecondModelKind = 267;
// ERROR: A LINEQS model takes at most one STD and one COV statement.
constexpr int32_t kMsgStdCovOnce = 268;
// ERROR: A second %s statement is given; a model's %s go in one %s statement.
constexpr int32_t kMsgSecondModelStatement = 336;
// NOTE: %s in the equation of %s is the variable of the DATA= data set, not an error term; an
// error term needs a name that no variable of the data set has.
constexpr int32_t kMsgDataVariableAsErrorTerm = 337;
// NOTE: The covariance of %s and %s that the COV entry %s gives is replaced by the one of this
// entry.
constexpr int32_t kMsgCovPairReplaced = 338;
// NOTE: The covariance of %s and %s is given twice in this COV entry; the later item is used.
constexpr int32_t kMsgCovPairTwiceInEntry = 339;
// WARNING: The statement that assigns %s is read as a programming statement, though %s is a
// variable of the DATA= data set: a semicolon ends the LINEQS statement, whose equations are
// separated by commas.
constexpr int32_t kMsgProgramAssignsDataVariable = 340;
// WARNING: The statement that assigns %s is read as a programming statement, though %s is a
// variable of the model: a semicolon ends the LINEQS statement, whose equations are separated by
// commas.
constexpr int32_t kMsgProgramAssignsModelVariable = 341;
// ERROR: internal error: the lists of names, columns, types and forms of the COSAN statement
// differ in length.
constexpr int32_t kMsgCosanListLengths = 269;
// NOTE: The FACTOR model has a BOUNDS statement but no MATRIX statement; its parameters have
// generated names.
constexpr int32_t kMsgFactorBoundsNames = 270;
// ERROR: No model statement is given.
constexpr int32_t kMsgNoModel = 271;
// NOTE: The programming statements are ignored: the default FACTOR model has no MATRIX statement.
constexpr int32_t kMsgFactorNoProgram = 272;
// WARNING: The VARNAMES statement names %s, which is no matrix of the model.
constexpr int32_t kMsgVarnamesNoMatrix = 273;
// WARNING: The VARNAMES statement has items this model does not take; its names are ignored.
constexpr int32_t kMsgVarnamesOtherKind = 274;
// WARNING: The diagonal of matrix %s must be empty; its diagonal elements are removed.
constexpr int32_t kMsgDiagonalRemoved = 275;
// WARNING: The VARNAMES statement names fewer columns of matrix %s than it has (%i of %i).
constexpr int32_t kMsgVarnamesFewer = 276;
// WARNING: The VARNAMES statement gives more names for matrix %s than it has columns (%i for %i);
// the rest are ignored.
constexpr int32_t kMsgVarnamesMore = 277;
// WARNING: Matrices %s and %s have no column names to share.
constexpr int32_t kMsgNoSharedNames = 278;
// NOTE: A %s entry has fewer items than %s; %s share its last name %s.
constexpr int32_t kMsgLastNameShared = 279;
// ERROR: The RAM model has no RAM statement.
constexpr int32_t kMsgNoRamStatement = 280;
// ERROR: The matrix number %g of RAM item %i is neither 1 nor 2.
constexpr int32_t kMsgRamBadMatrix = 281;
// WARNING: The VARNAMES statement of a RAM model names matrix %g; only 1 and 2 are known, so the
// group is ignored.
constexpr int32_t kMsgRamVarnamesMatrix = 282;
// WARNING: The VARNAMES statement of a RAM model takes the matrix numbers 1 and 2 only; its names
// are ignored.
constexpr int32_t kMsgRamVarnamesNumbers = 283;
// NOTE: The VARNAMES statement gives %i names for %i variables; the others keep their generated
// names.
constexpr int32_t kMsgRamVarnamesFewer = 284;
// WARNING: The VARNAMES statement gives %i names for only %i variables; the extra names are
// dropped.
constexpr int32_t kMsgRamVarnamesMore = 285;
// first of the method titles, by METHOD= from NONE: Pattern and Initial Values
constexpr int32_t kMsgPatternTitle = 286;
// Asymptotically Distribution-Free Estimation
constexpr int32_t kMsgAdfTitle = 296;
// Unweighted then Asymptotically Distribution-Free Estimation
constexpr int32_t kMsgUlsAdfTitle = 297;
// Number of Observations
constexpr int32_t kMsgObservationsLabel = 300;
// Number of Manifest Variables
constexpr int32_t kMsgManifestLabel = 301;
// Number of Partial Variables
constexpr int32_t kMsgPartialLabel = 302;
// Number of Moments
constexpr int32_t kMsgMomentsLabel = 303;
// Number of Terms
constexpr int32_t kMsgTermsLabel = 304;
// Number of Matrices
constexpr int32_t kMsgMatricesLabel = 305;
// Observations after the Partial Variables
constexpr int32_t kMsgPartialObservationsLabel = 306;
// Number of Free Parameters
constexpr int32_t kMsgFreeParametersLabel = 307;
// Moments about Zero
constexpr int32_t kMsgMomentsAboutZeroTitle = 309;
// Means and Standard Deviations
constexpr int32_t kMsgMeansStdDevsTitle = 311;
// NOTE: Variable %.*s has no kurtosis.
constexpr int32_t kMsgNoKurtosis = 312;
// Mardia's Multivariate Kurtosis
constexpr int32_t kMsgMardiaLabel = 313;
// Mean Scaled Univariate Kurtosis
constexpr int32_t kMsgMeanScaledLabel = 314;
// Mean Ratio of Fourth Moments less 1
constexpr int32_t kMsgFourthRatioLabel = 315;
// WARNING: The relative multivariate kurtosis is below %g: the data are strongly platykurtic.
constexpr int32_t kMsgPlatykurtic = 316;
// WARNING: The mean scaled univariate kurtosis is below %g.
constexpr int32_t kMsgLowUnivariateKurtosis = 317;
// Fit Function
constexpr int32_t kMsgFitFunction = 365;
// Goodness of Fit Index (GFI)
constexpr int32_t kMsgGfi = 366;
// GFI Adjusted for Degrees of Freedom (AGFI)
constexpr int32_t kMsgAgfi = 367;
// Root Mean Square Residual (RMR)
constexpr int32_t kMsgRmr = 368;
// Parsimonious GFI (Mulaik, 1989)
constexpr int32_t kMsgPgfi = 369;
// Independence Model Chi-Square
constexpr int32_t kMsgIndependenceChiSq = 370;
// Independence Model Chi-Square DF
constexpr int32_t kMsgIndependenceDf = 371;
// Kurtosis-Adjusted Chi-Square
constexpr int32_t kMsgKurtosisAdjustedChiSq = 372;
// Prob > Kurtosis-Adjusted Chi-Square
constexpr int32_t kMsgKurtosisAdjustedProb = 373;
// Probability of Close Fit
constexpr int32_t kMsgCloseFitProb = 374;
// Bentler's Comparative Fit Index
constexpr int32_t kMsgCfi = 375;
// Normal Theory Reweighted LS Chi-Square
constexpr int32_t kMsgReweightedChiSq = 377;
// WARNING: The model asks for %i factors but has only %i manifest variables; it takes as many
// factors as variables.
constexpr int32_t kMsgTooManyFactors = 400;
// Output of the VELIX Procedure
constexpr int32_t kMsgOutputLabel = 409;
// ERROR: The INWGT= data set holds WLS weights over pairs of moments; the method needs a weight
// matrix over the variables.
constexpr int32_t kMsgInwgtPairWeights = 415;
// ERROR: INWGT= data set %.*s holds the weights of %i BY groups (%s), and the step has no BY
// statement: give it the BY statement of the run that wrote them, or the weights of one group.
constexpr int32_t kMsgInwgtSeveralGroups = 866;
// ERROR: The COSAN model has no COSAN statement.
constexpr int32_t kMsgNoCosanStatement = 423;
// ERROR: Term %i of the COSAN statement has no matrix.
constexpr int32_t kMsgTermNoMatrix = 424;
// NOTE: The central matrix %s must be square; its number of columns is corrected.
constexpr int32_t kMsgCentralNotSquare = 425;
// WARNING: The central matrix %s of term %i must be IDENTITY, DIAGONAL, POSDEFINIT or SYMMETRIC;
// it becomes SYMMETRIC.
constexpr int32_t kMsgCentralType = 426;
// NOTE: Matrix %i repeats matrix %i (%s) with other columns, type or form; the earlier definition
// is used.
constexpr int32_t kMsgNamesakeDiffers = 427;
// ERROR: Matrix %s has a type that a COSAN statement cannot use.
constexpr int32_t kMsgCosanBadType = 428;
// NOTE: The PROFILE statement is replaced by the default profile set.
constexpr int32_t kMsgProfileDefault = 442;
// NOTE: No parameter is profiled.
constexpr int32_t kMsgNothingProfiled = 443;
// NOTE: All parameters are profiled.
constexpr int32_t kMsgAllProfiled = 444;
// NOTE: The confidence level %g repeats a level and is ignored.
constexpr int32_t kMsgLevelRepeated = 445;
// NOTE: Parameter %.*s is listed twice in the PROFILE statement.
constexpr int32_t kMsgProfiledTwice = 446;
// NOTE: %.*s is not a parameter and is not profiled.
constexpr int32_t kMsgNotAParameter = 447;
// NOTE: The confidence level %g is not between 0 and 100 and is ignored.
constexpr int32_t kMsgLevelOutOfRange = 448;
// NOTE: %.*s is a dependent parameter and is not profiled.
constexpr int32_t kMsgDependentNotProfiled = 449;
// NOTE: Profile-likelihood confidence limits are computed.
constexpr int32_t kMsgProfileLimits = 450;
// WARNING: The programming statements stopped with an execution fault in this evaluation.
constexpr int32_t kMsgProgramFault = 488;
// ERROR: An ABORT statement of the programming statements ends the step.
constexpr int32_t kMsgProgramAbort = 489;
// ERROR: NLINCON names %.*s, a variable of programming statements that are ignored.
constexpr int32_t kMsgNlinconIgnoredProgram = 470;
// ERROR: WPENALTY= must be positive for METHOD=WLS in a correlation analysis: ...
constexpr int32_t kMsgWlsNoPenalty = 471;
// NOTE: The %g observations are too few for a WLS weight matrix of %g moments: ...
constexpr int32_t kMsgWeightsRankDeficient = 472;
// WARNING: The time limit MAXTIME=%g passed while the weight matrix was formed.
constexpr int32_t kMsgWeightsTimeLimit = 473;
// ERROR: BOUNDS names %.*s, a dependent parameter that the programming statements compute: ...
constexpr int32_t kMsgBoundsOnDependent = 474;
// NOTE: Under ULS the information matrix takes the scale of the variables, ...
constexpr int32_t kMsgUlsScale = 475;
// NOTE: The weight matrix is singular at the moments %s: ...
constexpr int32_t kMsgWeightsDependentMoments = 476;
// WARNING: The estimate %g of %.*s, the variance of %s, is negative: the solution is improper.
constexpr int32_t kMsgNegativeVariance = 494;
// Relative Multivariate Kurtosis
constexpr int32_t kMsgRelativeMultiLabel = 510;
// Normalized Multivariate Kurtosis
constexpr int32_t kMsgNormalizedMultiLabel = 511;
// Mardia Based Kappa
constexpr int32_t kMsgKappaLabel = 512;
// Adjusted Mean Scaled Univariate Kurtosis
constexpr int32_t kMsgAdjustedScaledLabel = 513;
// Ratio of Fourth Moments to their Normal Values less 1
constexpr int32_t kMsgFourthMomentsLabel = 514;
// Hoelter's (1983) Critical N
constexpr int32_t kMsgCriticalN = 529;
// Chi-Square
constexpr int32_t kMsgChiSquare = 530;
// Chi-Square DF
constexpr int32_t kMsgChiSquareDf = 531;
// Pr > Chi-Square
constexpr int32_t kMsgChiSquareProb = 532;
// RMSEA Estimate
constexpr int32_t kMsgRmsea = 533;
// RMSEA %g%% Lower Confidence Limit
constexpr int32_t kMsgRmseaLower = 534;
// RMSEA %g%% Upper Confidence Limit
constexpr int32_t kMsgRmseaUpper = 535;
// ECVI Estimate
constexpr int32_t kMsgEcvi = 536;
// ECVI %g%% Lower Confidence Limit
constexpr int32_t kMsgEcviLower = 537;
// ECVI %g%% Upper Confidence Limit
constexpr int32_t kMsgEcviUpper = 538;
// The VELIX Procedure
constexpr int32_t kMsgProcTitle = 539;
// Natural Log
constexpr int32_t kMsgLogDetLabel = 601;
// Determinant of the Matrix
constexpr int32_t kMsgDeterminantRow = 606;
// Model Specification
constexpr int32_t kMsgModelSpecification = 700;
// Variable Selection
constexpr int32_t kMsgVariableSelection = 701;
// Model Statement
constexpr int32_t kMsgModelStatement = 702;
// Endogenous Variables
constexpr int32_t kMsgEndogenousTable = 703;
// Exogenous Variables
constexpr int32_t kMsgExogenousTable = 704;
// Modeling Statistics
constexpr int32_t kMsgModelingStat = 720;
// Simple Statistics
constexpr int32_t kMsgSimpleStatistics = 721;
// Contributions to Kurtosis
constexpr int32_t kMsgKurtosisContributions = 723;
// Normalized Contribution (the column of "Contributions to Kurtosis")
constexpr int32_t kMsgKurtosisContributionColumn = 733;
// 352/734, the observation number: Observation %i (its rows)
constexpr int32_t kMsgKurtosisObservationRow = 734;
// Symmetric Input Matrix
constexpr int32_t kMsgSymmetricInputTable = 724;
// Weight Matrix
constexpr int32_t kMsgWeightsTable = 727;
// Determinant
constexpr int32_t kMsgDeterminantTitle = 728;
// Cholesky Factor of the Weights
constexpr int32_t kMsgWeightsFactorTable = 729;
// Inverse Diagonal Weights
constexpr int32_t kMsgInverseDiagonalTable = 730;
// General Model Information
constexpr int32_t kMsgModelInfoTable = 731;
// Covariances Set for Exogenous Variables
constexpr int32_t kMsgExogenousCovariances = 732;
// Fit Summary
constexpr int32_t kMsgFitSummary = 751;
// Modification Indices
constexpr int32_t kMsgModificationIndex = 860;

// ---- the moment-data reader (kMsgReader) ----
// ERROR: The BY group of the moment data set has no observations.
constexpr int32_t kMsgReaderNoObservations = 5;
// WARNING: The moment data set has no _TYPE_ variable; every row is a matrix row.
constexpr int32_t kMsgReaderNoTypeVariable = 9;
// WARNING: The moment data set has no _NAME_ variable; the matrix rows are taken in order.
constexpr int32_t kMsgReaderNoNameVariable = 10;
// WARNING: The SUMWGT rows give different values; the smallest is used.
constexpr int32_t kMsgReaderSumwgtConflict = 11;
// WARNING: The N rows give different values; the smallest is used.
constexpr int32_t kMsgReaderNConflict = 12;
// WARNING: A matrix row of the moment data set has an invalid _NAME_.
constexpr int32_t kMsgReaderInvalidName = 13;
// ERROR: The BY group of the moment data set has no complete moment matrix.
constexpr int32_t kMsgReaderNoCompleteMatrix = 15;
// WARNING: The moment matrix has no element of %s and %s.
constexpr int32_t kMsgReaderElementMissing = 16;
// NOTE: The moment data set has no N row; N is set to 10000.
constexpr int32_t kMsgReaderNoNRow = 17;
// WARNING: The correlation matrix is normalised to a unit diagonal.
constexpr int32_t kMsgReaderNormalised = 18;
// ERROR: The moment data set has more matrix rows than analysis variables.
constexpr int32_t kMsgReaderTooManyRows = 21;
// WARNING: A diagonal element of the correlation matrix differs from 1.
constexpr int32_t kMsgReaderDiagonalNotOne = 22;
// WARNING: The moment matrix is not symmetric: its element of %s and %s is %g in the row of %s
// and %g in the row of %s; the later one is used.
constexpr int32_t kMsgReaderElementConflict = 23;
// WARNING: A variance is not positive after the means are removed; its row and column are set to
// 0.
constexpr int32_t kMsgReaderVarianceNotPositive = 24;
// WARNING: The correlation of %.*s and %.*s is %g, beyond 1 in size; it is analysed as given.
constexpr int32_t kMsgReaderCorrelationAboveOne = 25;
// ERROR: A variable with zero variance has nonzero covariances.
constexpr int32_t kMsgReaderZeroVarianceCovaries = 26;
// ERROR: Variable %.*s has a negative variance.
constexpr int32_t kMsgReaderNegativeVariance = 27;
// NOTE: The moment matrix is read from the %s rows of the BY group.
constexpr int32_t kMsgReaderFallbackRows = 28;
// NOTE: The SSCP data set has no INTERCEPT row; it is read without an intercept.
constexpr int32_t kMsgReaderNoInterceptRow = 31;
// ERROR: The INTERCEPT variable of the SSCP data set must be numeric.
constexpr int32_t kMsgReaderInterceptNotNumeric = 32;
// ERROR: _TYPE_ and _NAME_ of the moment data set must be character variables.
constexpr int32_t kMsgReaderSpecialNotCharacter = 33;
// ERROR: The SSCP data set has no INTERCEPT row from which the means follow.
constexpr int32_t kMsgReaderSscpNoMeans = 34;
// ERROR: The TYPE=EST data set has no PARMS row with the means.
constexpr int32_t kMsgReaderEstNoMeans = 35;
// ERROR: The moment data set has no complete MEAN row, which the analysis needs.
constexpr int32_t kMsgReaderNoMeanRow = 36;
// NOTE: The moment data set has no MEAN row; the means are taken as 0.
constexpr int32_t kMsgReaderMeansZero = 38;
// NOTE: Standard deviations of the correlation matrix are missing; they are set to 1.
constexpr int32_t kMsgReaderStdDevsOne = 39;
// ERROR: The moment data set lacks moments of the PARTIAL variables %s.
constexpr int32_t kMsgReaderPartialMissing = 40;
// ERROR: The matrix rows of the moment data set, taken in order for want of a _NAME_ variable, give
// the element of %.*s and %.*s two values, %g and %g: the rows are not in the order of the analysis
// variables. Name each row's variable in a _NAME_ variable.
constexpr int32_t kMsgReaderOrderConflict = 41;
// ERROR: The Intercept x Intercept element of the SSCP data set is %g; the sum of weights of its
// sums must be positive.
constexpr int32_t kMsgReaderInterceptCount = 50;
// ERROR: The SSCP data set gives the sums of its Intercept row but not their count: ... NOBS=.
constexpr int32_t kMsgReaderSscpNoCount = 51;
// NOTE: The SSCP data set has no Intercept column: the means are the sums of its Intercept row
// over the sum of weights %g, from %s.
constexpr int32_t kMsgReaderNoInterceptColumn = 52;
// NOTE: The Intercept x Intercept element of the SSCP data set is missing: ... (as 52).
constexpr int32_t kMsgReaderInterceptCellMissing = 53;
// ERROR: Variable %.*s has the standard deviation %g in the %s row; a standard deviation cannot be
// negative.
constexpr int32_t kMsgReaderNegativeStd = 54;
// ERROR: The N row of the moment data set gives %g; N cannot be negative.
constexpr int32_t kMsgReaderNNegative = 55;
// WARNING: The N row of the moment data set gives %g, which is not a whole number; it is used as
// given.
constexpr int32_t kMsgReaderNNotWhole = 56;
// WARNING: The moment data set has more than one N row (%g, then %g); the last one is used.
constexpr int32_t kMsgReaderSecondNRow = 57;
// ERROR: N = %g of the moment data set is too small: the divisor of its moments under
// VARDEF=%.*s is %g.
constexpr int32_t kMsgReaderNTooSmall = 58;
// ERROR: The MEAN row of the moment data set has no value for %.*s, which the analysis needs.
constexpr int32_t kMsgReaderMeanCellMissing = 59;
// WARNING: The moment matrix has no row of %s.
constexpr int32_t kMsgReaderRowMissing = 60;
// NOTE: Rows of _TYPE_ %s are not moment rows; they are ignored.
constexpr int32_t kMsgReaderOtherRowType = 62;
// WARNING: The moment data set has more than one %s row (the value of %.*s is %g, then %g); the
// last one is used.
constexpr int32_t kMsgReaderSecondStatisticRow = 63;
// WARNING: The moment data set has more than one %s row of %s: its element of %s and %s is %g,
// then %g; the values of the last one are used.
constexpr int32_t kMsgReaderSecondMatrixRow = 64;
// ERROR: The SUMWGT row of the SSCP data set gives the sum of weights %g, but its Intercept x
// Intercept element, the sum of weights of its sums, is %g.
constexpr int32_t kMsgReaderSumwgtIntercept = 65;
// ERROR: Variable %.*s has the mean %g and the second moment about zero %g: its variance about
// the means, %g, is negative.
constexpr int32_t kMsgReaderNegativeCentredVariance = 66;
// NOTE: The MEAN row of the moment data set has no value for %s; the means are taken as 0.
constexpr int32_t kMsgReaderMeanCellsMissing = 67;

// ---- the optimizer library (kMsgNlp) ----
// WARNING: The optimization stopped at the time limit of %g seconds.
constexpr int32_t kMsgNlpTimeLimitStop = 2;
// WARNING: Optimization (%i) of technique %s did not converge.
constexpr int32_t kMsgNlpNotConverged = 4;
// The technique stopped without meeting a convergence criterion
constexpr int32_t kMsgNlpNoCriterionMet = 6;
// The technique stopped: its step could not reduce the objective
constexpr int32_t kMsgNlpStepNoReduction = 8;
// The technique stopped: its model of the objective broke down
constexpr int32_t kMsgNlpModelBrokeDown = 9;
// Nelder-Mead Simplex with Linear Approximations of the Nonlinear Constraints
constexpr int32_t kMsgNlpNmsimpNonlinearTitle = 55;
// Quasi-Newton with Sequential Quadratic Programming
constexpr int32_t kMsgNlpQuanewSqpTitle = 56;
// No Optimization
constexpr int32_t kMsgNlpNoOptimizationStatus = 59;
// first of two, by UPDATE= 1 and 2: Broyden-Fletcher-Goldfarb-Shanno Update of the Inverse Hessian
constexpr int32_t kMsgNlpBfgsUpdate = 76;
// first of two, by UPDATE= 1 and 2: Dual Broyden-Fletcher-Goldfarb-Shanno Update
constexpr int32_t kMsgNlpDualBfgsUpdate = 78;
// first of four, by UPDATE= 1 to 4: Automatic Restart Update (Powell-Beale)
constexpr int32_t kMsgNlpPowellBealeUpdate = 80;
// Hybrid Form %i of the Quasi-Newton Update
constexpr int32_t kMsgNlpHybridUpdateForm = 89;
// first of four, by scaling kind 0 to 3: No Parameter Scaling
constexpr int32_t kMsgNlpNoScaling = 90;
// Lagrange Multiplier Update of the First Form
constexpr int32_t kMsgNlpMultiplierUpdateFirst = 98;
// Lagrange Multiplier Update of the Second Form
constexpr int32_t kMsgNlpMultiplierUpdateSecond = 99;
// Gradient Computed by Finite Differences
constexpr int32_t kMsgNlpFdGradient = 125;
// Jacobian Computed by Finite Differences
constexpr int32_t kMsgNlpFdJacobian = 126;
// Cross-Product Jacobian Computed by Finite Differences
constexpr int32_t kMsgNlpFdCrossProduct = 127;
// Hessian Computed by Finite Differences of Function Values
constexpr int32_t kMsgNlpFdHessianValues = 128;
// Hessian Computed by Finite Differences of Gradients
constexpr int32_t kMsgNlpFdHessianGradients = 129;
// No feasible start point
constexpr int32_t kMsgNlpNoFeasibleStart = 130;
// first of four, by status -1 to -4: The objective or the constraints could not be computed at the
// start point
constexpr int32_t kMsgNlpStartValuesFailed = 131;
// WARNING: The gradient at the solution is large; the point may not be optimal.
constexpr int32_t kMsgNlpLargeFinalGradient = 136;
// NOTE: The feasibility tolerance was raised to %g for the final point.
constexpr int32_t kMsgNlpFeasTolRaised = 137;
// NOTE: The active set changed in the last iterations.
constexpr int32_t kMsgNlpActiveSetChanged = 138;
// Linearly Dependent Gradients of Nonlinear Constraints
constexpr int32_t kMsgNlpDependentNlcGradients = 140;
// Optimization Start
constexpr int32_t kMsgNlpStartTitle = 147;
// Optimization Results
constexpr int32_t kMsgNlpResultsTitle = 148;
// Value of Objective Function = %g
constexpr int32_t kMsgNlpObjectiveValue = 150;
// First and Second Order Lagrange Multipliers
constexpr int32_t kMsgNlpSecondOrderMultipliersTitle = 155;
// First Order Lagrange Multipliers
constexpr int32_t kMsgNlpFirstOrderMultipliersTitle = 156;
// Projected Gradient
constexpr int32_t kMsgNlpProjectedGradientTitle = 159;
// Linear Constraints
constexpr int32_t kMsgNlpLinearConstraintsTitle = 163;
// Linear Constraints Evaluated at Solution
constexpr int32_t kMsgNlpLinearAtSolutionTitle = 164;
// Linearly Dependent Active Linear Constraints
constexpr int32_t kMsgNlpDependentActiveLinear = 165;
// NOTE: Some parameters lie on active boundary constraints.
constexpr int32_t kMsgNlpActiveBoundsNote = 170;
// Equality    /Lower Bound /Upper Bound
constexpr int32_t kMsgNlpConstraintKinds = 171;
// Active      /Violated    /Active      /Violated
constexpr int32_t kMsgNlpConstraintStates = 174;
// Value of Lagrange Function = %g
constexpr int32_t kMsgNlpLagrangeValue = 175;
// Jacobian of the Nonlinear Constraints Computed by Finite Differences
constexpr int32_t kMsgNlpFdConstraintJacobian = 180;
// first of four, by matrix kind 1 to 4: Hessian Matrix
constexpr int32_t kMsgNlpHessianTitle = 194;
// Projected Hessian Matrix
constexpr int32_t kMsgNlpProjectedHessianTitle = 195;
// Crossproduct Jacobian Matrix
constexpr int32_t kMsgNlpCrossProductTitle = 196;
// Projected Crossproduct Jacobian Matrix
constexpr int32_t kMsgNlpProjectedCrossProductTitle = 197;
// NOTE: %i eigenvalues are treated as zero in the generalized inverse.
constexpr int32_t kMsgNlpZeroEigenvalues = 202;
// NOTE: Parameter %.*s has a variance that is practically zero.
constexpr int32_t kMsgNlpZeroVarianceParameter = 204;
// WARNING: All diagonal elements of the matrix are zero; the linear dependencies cannot be
// determined.
constexpr int32_t kMsgNlpZeroDiagonal = 205;
// NOTE: Each row of the following table expresses a parameter as a linear combination of the
// others.
constexpr int32_t kMsgNlpDependencyRows = 206;
// first of three, by FD interval mode 1 to 3: Finite-Difference Intervals of the Objective
// Estimated
constexpr int32_t kMsgNlpFdIntervalsObjective = 207;
// Factor sigma = %g
constexpr int32_t kMsgNlpFactorSigma = 210;
// Linear Term of the Quadratic Objective
constexpr int32_t kMsgNlpLinearTerm = 211;
// Determinant = %g
constexpr int32_t kMsgNlpDeterminant = 212;
// Determinant mantissa = %g (its power of ten is beyond the range of numbers)
constexpr int32_t kMsgNlpDeterminantMantissa = 213;
// Matrix has %i negative and %i zero eigenvalue(s)
constexpr int32_t kMsgNlpNegativeAndZeroEigen = 214;
// Matrix has %i positive and %i zero eigenvalue(s)
constexpr int32_t kMsgNlpPositiveAndZeroEigen = 215;
// Matrix has %i negative eigenvalue(s)
constexpr int32_t kMsgNlpNegativeEigen = 216;
// Matrix has %i positive eigenvalue(s)
constexpr int32_t kMsgNlpPositiveEigen = 217;
// Matrix has %i zero eigenvalue(s)
constexpr int32_t kMsgNlpZeroEigen = 218;
// Matrix has only negative eigenvalues
constexpr int32_t kMsgNlpOnlyNegativeEigen = 219;
// Matrix has only positive eigenvalues
constexpr int32_t kMsgNlpOnlyPositiveEigen = 220;
// WARNING: The second-order optimality condition is violated at the solution.
constexpr int32_t kMsgNlpSecondOrderViolated = 221;
// Jacobian of the Functions
constexpr int32_t kMsgNlpFunctionJacobian = 223;
// Jacobian of the Nonlinear Constraints
constexpr int32_t kMsgNlpConstraintJacobian = 224;
// NOTE: %i nonlinear constraint(s) are marked *?*: violated by more than the tolerance but by at
// most 0.001.
constexpr int32_t kMsgNlpNearlyViolated = 228;
// first of three, by FD interval mode 1 to 3: Intervals for the Objective
constexpr int32_t kMsgNlpIntervalsObjective = 234;
// Approximate Correlation Matrix of Parameter Estimates
constexpr int32_t kMsgNlpApproxCorrelation = 248;
// WARNING: The Hessian at the start point is not positive definite.
constexpr int32_t kMsgNlpStartHessianIndefinite = 252;
// WARNING: The final point violates the constraints even with the largest feasibility tolerance.
constexpr int32_t kMsgNlpInfeasibleAtLargestTol = 253;
// *
constexpr int32_t kMsgNlpBarMark = 257;
// :
constexpr int32_t kMsgNlpColon = 258;
// Asymmetry of the Finite-Difference Hessian
constexpr int32_t kMsgNlpHessianAsymmetry = 264;
// The %i largest asymmetries of the Hessian from gradients are listed.
constexpr int32_t kMsgNlpAsymmetriesListed = 265;
// Asymmetries below %g are not shown.
constexpr int32_t kMsgNlpAsymmetriesHidden = 267;
// One character of the bar stands for %i asymmetries
constexpr int32_t kMsgNlpAsymmetryBarUnit = 268;
// Minimum Iterations
constexpr int32_t kMsgNlpMinIterLabel = 301;
// Maximum Iterations
constexpr int32_t kMsgNlpMaxIterLabel = 302;
// Maximum Function Calls
constexpr int32_t kMsgNlpMaxFuncLabel = 303;
// Iterations Reducing Constraint Violation
constexpr int32_t kMsgNlpNlcIterLabel = 304;
// Maximum Time in Seconds
constexpr int32_t kMsgNlpMaxTimeLabel = 305;
// ABSGCONV Gradient Criterion
constexpr int32_t kMsgNlpAbsGConvLabel = 306;
// GCONV Gradient Criterion
constexpr int32_t kMsgNlpGConvLabel = 307;
// GCONV2 Gradient Criterion
constexpr int32_t kMsgNlpGConv2Label = 308;
// first of eight criteria, ABSFCONV to ABSCONV: ABSFCONV Function Criterion
constexpr int32_t kMsgNlpAbsFConvLabel = 309;
// Initial Simplex Size (INSTEP)
constexpr int32_t kMsgNlpInitialSimplexLabel = 317;
// Singularity Tolerance (SINGULAR)
constexpr int32_t kMsgNlpSingularLabel = 318;
// Line Search Method
constexpr int32_t kMsgNlpLineSearchLabel = 319;
// Maximum Step Factor (MAXSTEP)
constexpr int32_t kMsgNlpMaxStepLabel = 320;
// Line Search Precision (LSPRECISION)
constexpr int32_t kMsgNlpLsPrecisionLabel = 321;
// Starting Step Length (INSTEP)
constexpr int32_t kMsgNlpInStepLabel = 322;
// Damped Steps in Line Search (DAMPSTEP)
constexpr int32_t kMsgNlpDampStepLabel = 323;
// Trust Region Radius Factor (MAXSTEP)
constexpr int32_t kMsgNlpRadiusFactorLabel = 324;
// Initial Hessian Factor (MAXSTEP)
constexpr int32_t kMsgNlpHessianFactorLabel = 325;
// Relative Accuracy of the Objective (FDIGITS)
constexpr int32_t kMsgNlpFDigitsLabel = 326;
// Relative Accuracy of the Constraints (CDIGITS)
constexpr int32_t kMsgNlpCDigitsLabel = 327;
// Feasibility Tolerance (LCEPSILON)
constexpr int32_t kMsgNlpFeasTolLabel = 329;
// Linear Dependence Tolerance (LCSINGULAR)
constexpr int32_t kMsgNlpLinDepTolLabel = 330;
// Multiplier Threshold (LCDEACT)
constexpr int32_t kMsgNlpMultiplierLabel = 331;
// NOTE: The matrix is singular: some parameters are linearly dependent.
constexpr int32_t kMsgNlpDependentParameters = 340;
// [
constexpr int32_t kMsgNlpOpenBracket = 381;
// ]
constexpr int32_t kMsgNlpCloseBracket = 382;
// Iteration History
constexpr int32_t kMsgNlpIterationHistory = 550;
// Optimization Start
constexpr int32_t kMsgNlpIterStartTable = 551;
// Active Constraints
constexpr int32_t kMsgNlpActiveLabel = 552;
// Active Constraints (changed)
constexpr int32_t kMsgNlpActiveChangedLabel = 553;
// Objective Function
constexpr int32_t kMsgNlpObjectiveLabel = 554;
// Max Abs Gradient Element
constexpr int32_t kMsgNlpMaxGradientLabel = 555;
// Radius
constexpr int32_t kMsgNlpRadiusLabel = 556;
// Maximum Constraint Violation
constexpr int32_t kMsgNlpMaxViolationLabel = 558;
// Max Grad of the Lagrange Function
constexpr int32_t kMsgNlpMaxLagrangeGradLabel = 559;
// Optimization Results
constexpr int32_t kMsgNlpIterStopTable = 569;
// Iterations
constexpr int32_t kMsgNlpIterationsLabel = 570;
// Function Calls
constexpr int32_t kMsgNlpFunctionCallsLabel = 571;
// Jacobian Calls
constexpr int32_t kMsgNlpJacobianCallsLabel = 572;
// Gradient Calls
constexpr int32_t kMsgNlpGradientCallsLabel = 573;
// Hessian Calls
constexpr int32_t kMsgNlpHessianCallsLabel = 574;
// Restarts
constexpr int32_t kMsgNlpRestartsLabel = 575;
// Max Projected Gradient
constexpr int32_t kMsgNlpMaxProjGradLabel = 581;
// Value Lagrange Function
constexpr int32_t kMsgNlpLagrangeValueLabel = 582;
// Actual Over Predicted Change (Lambda)
constexpr int32_t kMsgNlpLambdaLabel = 584;
// Simplex Size
constexpr int32_t kMsgNlpNlcSimplexSizeLabel = 585;
// Standard Deviation of the Simplex Values
constexpr int32_t kMsgNlpSimplexStdDevLabel = 586;
// Simplex Size
constexpr int32_t kMsgNlpSimplexSizeLabel = 587;
// Max Abs Gradient Element
constexpr int32_t kMsgNlpSimplexMaxGradientLabel = 588;
// Slope of Search Direction
constexpr int32_t kMsgNlpSlopeLabel = 589;
// Ridge
constexpr int32_t kMsgNlpRidgeLabel = 590;
// Actual Over Predicted Change
constexpr int32_t kMsgNlpRhoLabel = 591;
// Convergence Status
constexpr int32_t kMsgNlpConvergenceStatus = 600;
// WARNING: The optimization stopped before the minimum number of iterations.
constexpr int32_t kMsgNlpBeforeMinIterations = 601;
// The optimization stopped before the minimum number of iterations
constexpr int32_t kMsgNlpBeforeMinIterStatus = 602;
// Maximum time (%i) of %g seconds reached
constexpr int32_t kMsgNlpMaxTimeNumbered = 603;
// Maximum time of %g seconds reached
constexpr int32_t kMsgNlpMaxTime = 604;
// WARNING: Maximum number of iterations (%i) of technique %s reached: %g iterations, %g function
// calls.
constexpr int32_t kMsgNlpMaxIterations = 605;
// Maximum number of iterations or function calls reached
constexpr int32_t kMsgNlpMaxIterStatus = 606;
// NOTE: The optimization stopped while criterion %s was counting successive iterations.
constexpr int32_t kMsgNlpStoppedWhileCounting = 607;
// Stopped while %s was counting
constexpr int32_t kMsgNlpStoppedCountingTitle = 608;
// NOTE: All parameters are fixed by active constraints.
constexpr int32_t kMsgNlpAllParametersFixed = 609;
// All parameters are fixed by active constraints
constexpr int32_t kMsgNlpAllFixedStatus = 610;
// NOTE: Convergence criterion %s satisfied (%i successive iterations).
constexpr int32_t kMsgNlpCriterionSatisfied = 611;
// %s convergence criterion satisfied (%i)
constexpr int32_t kMsgNlpCriterionSatisfiedTitle = 612;
// NOTE: No optimization was done.
constexpr int32_t kMsgNlpNoOptimization = 613;
// The optimization ended without a status
constexpr int32_t kMsgNlpNoStatus = 614;
// Parameters
constexpr int32_t kMsgNlpParametersLabel = 620;
// Functions (Observations)
constexpr int32_t kMsgNlpFunctionsLabel = 621;
// Lower Bounds
constexpr int32_t kMsgNlpLowerBoundsLabel = 622;
// Upper Bounds
constexpr int32_t kMsgNlpUpperBoundsLabel = 623;
// Linear Constraints
constexpr int32_t kMsgNlpLinearConstraintsLabel = 624;
// Nonlinear Constraints
constexpr int32_t kMsgNlpNonlinearConstraintsLabel = 625;
// Nonlinear Equality Constraints
constexpr int32_t kMsgNlpNonlinearEqualitiesLabel = 626;
// Nonzeros of the Sparse Hessian
constexpr int32_t kMsgNlpSparseHessianLabel = 627;
// Elements of the Diagonal Hessian
constexpr int32_t kMsgNlpDiagonalHessianLabel = 628;
// Eigenvalues
constexpr int32_t kMsgNlpEigenvaluesTable = 700;
// Linear Dependencies Between Parameters
constexpr int32_t kMsgNlpLinearDependenciesTable = 701;
// Gradient Test Values
constexpr int32_t kMsgNlpGradientTestTable = 710;
// Distribution of the Hessian Asymmetries
constexpr int32_t kMsgNlpAsymmetryDistributionTable = 711;
// Optimization Options
constexpr int32_t kMsgNlpOptionsTable = 712;
// Problem Description
constexpr int32_t kMsgNlpProblemTable = 713;
// Jacobian Matrix
constexpr int32_t kMsgNlpJacobianTable = 717;
// Hessian Matrix
constexpr int32_t kMsgNlpHessianTable = 718;
// Optimization Start
constexpr int32_t kMsgNlpStartTable = 719;
// Optimization Results
constexpr int32_t kMsgNlpResultsTable = 720;
// Lagrange Multipliers
constexpr int32_t kMsgNlpMultipliersTable = 721;
// Projected Gradient
constexpr int32_t kMsgNlpProjectedGradientTable = 722;
// Finite-Difference Intervals
constexpr int32_t kMsgNlpFdIntervalsTable = 723;
// Linear Constraints Evaluated at Solution
constexpr int32_t kMsgNlpLinearAtSolutionTable = 724;
// Dependent Boundary Constraints
constexpr int32_t kMsgNlpDependentBoundsTable = 725;
// Dependent Nonlinear Constraints
constexpr int32_t kMsgNlpDependentNlcTable = 726;
// Nonlinear Constraints
constexpr int32_t kMsgNlpNonlinearConstraintsTable = 727;
// Largest Asymmetries of the Hessian
constexpr int32_t kMsgNlpLargestAsymmetriesTable = 729;
// Linearly Dependent Linear Constraints
constexpr int32_t kMsgNlpDependentLinearTable = 730;
// Linearly Dependent Nonlinear Constraints
constexpr int32_t kMsgNlpDependentNlcGradTable = 731;
// Symmetry of the Finite-Difference Hessian
constexpr int32_t kMsgNlpHessianSymmetryTable = 803;
// Correlation Matrix
constexpr int32_t kMsgNlpCorrelationTable = 884;
// Parameters and Gradient
constexpr int32_t kMsgNlpGradientTable = 885;
