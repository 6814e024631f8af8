// The host's message file: every numbered message text, by group and number.
// Groups: 100 the host's own lines (those platform/ and the step runner
// write, never the module), 153 BY-group synchronisation, 230 the moment
// matrix reader, 352 the procedure, 549 the optimizer library.  Logged
// messages start with their severity; titles, labels and the pieces another
// line is built from do not.  Placeholders use the host's format dialect
// (platform/format.h) and must match the arguments the callers pass.  Keep
// the table sorted by group, then number.
#include "platform/messages.h"

#include "velix/codes.h"

namespace velix::platform {

const MessageRow kMessageCatalogue[] = {
    // The host's own lines, by the part of the host that writes them:
    // 1-19 the message and host services, memory and internal errors,
    // 20-39 the step runner, 40-59 data sets and their observations, 60-79
    // the moments of a data set (and, from 72, more of the data sets and
    // their variables), 80-99 the statement parser and the
    // compiler of programming statements, 110-119 and 150-159 more of the output data
    // sets.  The callers format them with
    // format_message and log them as plain lines, without their number: the
    // output document records them as it records any line of the log.
    // 100/1: the group and number of the missing message.
    {kMsgHost, 1, "ERROR: Message %i/%i is missing from the message file."},
    // 100/2: the text of the status (one of 4-8), the status; 100/3: the
    // status, twice.
    {kMsgHost, 2, "ERROR: A host service failed: %s (status 0x%08X)."},
    {kMsgHost, 3, "ERROR: A host service failed with status %i (0x%08X)."},
    {kMsgHost, 4, "the object has no such method"},
    {kMsgHost, 5, "an output object was called out of order"},
    {kMsgHost, 6, "an output object was given a missing or malformed entry"},
    {kMsgHost, 7, "an output object was used after it was closed"},
    {kMsgHost, 8, "memory could not be allocated"},
    // 100/10, 11: what is inconsistent, and its code.
    {kMsgHost, 10, "ERROR: internal error: %s"},
    {kMsgHost, 11, "ERROR: internal error: %s (code %i)"},
    {kMsgHost, 12, "ERROR: There is not enough memory to continue the step."},
    {kMsgHost, 13, "ERROR: There is not enough memory for a request of %ld bytes."},
    // 100/20, 21: the program line and what is wrong with it.
    {kMsgHost, 20, "ERROR: line %i: %s"},
    {kMsgHost, 21, "WARNING: line %i: %s"},
    {kMsgHost, 22, "ERROR: The PROC VELIX step failed with return code %i."},
    {kMsgHost, 23, "NOTE: The PROC VELIX step ended with return code %i."},
    {kMsgHost, 24, "ERROR: The step ran out of memory."},
    // 100/25: the name of the signal.
    {kMsgHost, 25, "ERROR: The run was stopped by %s."},
    // 100/26-31: where the file goes and, in 27, 30 and 31, why it failed.
    {kMsgHost, 26, "ERROR: The listing cannot be written to %s; the run stops."},
    {kMsgHost, 27, "ERROR: The listing cannot be written to %s (%s); the run stops."},
    {kMsgHost, 28, "NOTE: The listing was not written to %s."},
    {kMsgHost, 29, "NOTE: The JSON document was not written to %s."},
    {kMsgHost, 30, "ERROR: The listing was not written to %s (%s)."},
    {kMsgHost, 31, "ERROR: The JSON document was not written to %s (%s)."},
    // 100/32: why a file was not written (a full disk) and the temporary
    // folder where that happened, as the reason in 30, 31 and 47.
    {kMsgHost, 32, "%s in the temporary folder %s"},
    // 100/39: the observations and the data set.
    {kMsgHost, 39, "NOTE: %ld observations of data set %s have a FREQ value that is not a whole number; each counts as many times as its whole part."},
    // 100/40: name and file.
    {kMsgHost, 40, "ERROR: Data set %s (%s) changed while the step read it: its observations are not those it had when it was opened."},
    // 100/41: name, the observation, its BY values, those of the group before.
    {kMsgHost, 41, "ERROR: Data set %s is not sorted in ascending sequence of its BY variables: observation %ld has %s after %s. Sort it or give NOTSORTED."},
    // 100/42, 43: name and status.
    {kMsgHost, 42, "ERROR: Reading an observation of data set %s failed with status %i."},
    {kMsgHost, 43, "ERROR: Writing an observation to data set %s failed with status %i."},
    // 100/44-50: name, then the return code (44), the file (47-50) and why
    // it could not be written (47), be put back (48, then the second name
    // of the earlier file) or take its place (50).
    {kMsgHost, 44, "NOTE: Output data set %s was not written: the step ended with return code %i."},
    {kMsgHost, 45, "NOTE: Output data set %s has no observations and was not written."},
    {kMsgHost, 46, "NOTE: Output data set %s was not written."},
    {kMsgHost, 47, "ERROR: Output data set %s cannot be written to %s (%s)."},
    {kMsgHost, 48, "ERROR: Output data set %s left %s changed: its earlier file could not be put back (%s) and is kept as %s."},
    {kMsgHost, 49, "ERROR: Output data set %s cannot replace %s, which is not a file."},
    {kMsgHost, 50, "ERROR: Output data set %s cannot replace %s: %s."},
    // 100/51: the line of the names ("line 1 of hs.csv") and what it holds
    // (52 or 53), a piece of the line that says why a data set cannot be
    // read.
    {kMsgHost, 51, "%s: the line of variable names is a single field that holds %s; the fields of a data set are separated by commas"},
    {kMsgHost, 52, "a semicolon (\";\")"},
    {kMsgHost, 53, "a tab"},
    // 100/54: the number of the BY group and its BY line; logged before the
    // first line of the group.
    {kMsgHost, 54, "BY group %i: %s"},
    // 100/55: as 51, for names in quotes with another separator between.
    {kMsgHost, 55, "%s: the quoted variable names are separated by %s; the fields of a data set are separated by commas"},
    // 100/56: the file and the name its first column is given.
    {kMsgHost, 56, "NOTE: The first column of %s has no name, as R's write.csv writes its row names: it is read as the row labels, the character variable %s."},
    // 100/57: name, file and why the new file could not be removed.
    {kMsgHost, 57, "ERROR: Output data set %s was put in %s, where there was no file, and could not be removed (%s)."},
    // 100/58, 59: the role and name of the output, the role and name of
    // the other data set, and the file they both name; pieces of an error
    // at the output's name.
    {kMsgHost, 58, "%s data set %s would replace %s data set %s, the raw data of the step (%s)"},
    {kMsgHost, 59, "%s data set %s and %s data set %s name the same file %s"},
    // 100/60-63: the data set (61: the variable first).
    {kMsgHost, 60, "ERROR: An analysis variable is not in data set %s."},
    {kMsgHost, 61, "ERROR: Analysis variable %s of data set %s is character; it must be numeric."},
    {kMsgHost, 62, "ERROR: The WEIGHT or FREQ variable of data set %s must be a numeric variable of the data set."},
    {kMsgHost, 63, "ERROR: No observation of data set %s has every analysis value with a positive weight and frequency."},
    // 100/64, 65: the observations not used, those of the group, the data
    // set, (65) its BY group, and the reasons: 66-68 with their counts, the
    // first after a blank, the others after a comma.
    {kMsgHost, 64, "NOTE: %ld of the %ld observations of data set %s were not used:%s."},
    {kMsgHost, 65, "NOTE: %ld of the %ld observations of data set %s in the BY group %s were not used:%s."},
    {kMsgHost, 66, "%ld with a missing value of an analysis variable"},
    {kMsgHost, 67, "%ld with a WEIGHT value that is missing or not positive"},
    {kMsgHost, 68, "%ld with a FREQ value that is missing or below 1"},
    // 100/69: no observation is complete (no WEIGHT or FREQ given; 63 with them).
    {kMsgHost, 69, "ERROR: No observation of data set %s has a value for every analysis variable."},
    // 100/70, 71: the kinds of matrix of 58.
    {kMsgHost, 70, "covariance"},
    {kMsgHost, 71, "correlation"},
    // 100/72: as 61, with the value that made the variable character and
    // its line, as in 59.
    {kMsgHost, 72, "ERROR: Analysis variable %s of data set %s is not numeric: %s."},
    // 100/73: the variable and the data set.
    {kMsgHost, 73, "ERROR: The values of variable %s of data set %s are too large for its moments: their sums go beyond the largest number a double holds (about 1.8e308)."},
    // 100/74: the line of the names, the place of the variable among them
    // and its name up to the NUL, a piece of the line that says why a data
    // set cannot be read.
    {kMsgHost, 74, "%s: variable %i of the names holds a NUL byte after \"%s\""},
    // 100/75: why an input data set cannot be read.
    {kMsgHost, 75, "it is a folder, not a file"},
    // 100/76: the line of the names ("line 1 of w.csv"), the number of
    // variables and the most there can be, a piece of the line that says
    // why a data set cannot be read.
    {kMsgHost, 76, "%s: the data set has %ld variables, more than the %i a data set can have"},
    // 100/77: the name, the kind of matrix (70 or 71), the observations,
    // the name as the program writes it and the TYPE to give.
    {kMsgHost, 77, "WARNING: Data set %s looks like a %s matrix: its first column names its rows after its numeric variables, and its numbers are symmetric. Without a TYPE it is read as raw data, %ld observations; to analyse it as the matrix, write data=%s(type=%s) and give the number of observations with the PROC option NOBS=."},
    // 100/78: the variable, the data set and the value that made it
    // character, with its line ("line 38 of hs.csv holds n/a").
    {kMsgHost, 78, "NOTE: Variable %s of data set %s holds numbers but is character, and is not analysed: %s."},
    // 100/79: the variables as a list of quoted names, the data set and
    // the rule of 98 with "them".
    {kMsgHost, 79, "NOTE: No statement can name %s of data set %s: %s."},
    // 100/80: what is wrong (a syntax error, a statement the compiler
    // refuses, or the fault of a run, 87-93), its line and column.
    {kMsgHost, 80, "ERROR: %s at line %i, column %i."},
    // 100/81: the variable, the line and column of its first use; 82, 83:
    // the line and column of the statement.
    {kMsgHost, 81, "ERROR: The variable %s of the programming statements is never given a value (first used at line %i, column %i)."},
    {kMsgHost, 82, "NOTE: A STOP statement ended the programming statements at line %i, column %i."},
    {kMsgHost, 83, "ERROR: An ABORT statement ended the programming statements at line %i, column %i."},
    // 100/84: the result code of the run.
    {kMsgHost, 84, "NOTE: The programming statements ended with result %i."},
    // 100/85, 86: before the table of the places.
    {kMsgHost, 85, "NOTE: Invalid operations in the programming statements gave missing values at these places:"},
    {kMsgHost, 86, "NOTE: Operations on missing values in the programming statements gave missing values at these places:"},
    {kMsgHost, 87, "the programming statements failed"},
    {kMsgHost, 88, "Array subscript missing or out of range"},
    {kMsgHost, 89, "No WHEN clause of the SELECT group matched"},
    {kMsgHost, 90, "Missing value or zero step in the DO loop control"},
    {kMsgHost, 91, "LINK statements nested too deeply"},
    // 100/92: the most loop iterations of one evaluation.
    {kMsgHost, 92, "The programming statements ran more than %ld loop iterations in one evaluation"},
    {kMsgHost, 93, "The time limit MAXTIME= passed while the programming statements looped"},
    // 100/94: the option, the name before the ".", the option, the file
    // name as written.
    {kMsgHost, 94, "expected an option (found \".\"): a data set is named without \".csv\" (%s=%s), or a file by its path in quotes (%s=\"%s\")"},
    // 100/95: the token found, the option, the path as written (with
    // ".csv" when it has no extension).
    {kMsgHost, 95, "expected a data-set name (found \"%s\"): a file is named by its path in quotes (%s=\"%s\")"},
    // 100/96: a LINEQS statement ended by ";" before an equation.
    {kMsgHost, 96, "LINEQS equations are separated by commas: this \";\" ends the LINEQS statement, and the equation after it is read as a programming statement"},
    // 100/97: the name as written with its ".", the rule of 98 with the
    // name, and the name with "_" for ".".
    {kMsgHost, 97, "%s is not a name: %s, then write %s"},
    // 100/98: what a name is and how to rename what (the variable, or
    // "them"): a piece of 79, 97 and 352/190.
    {kMsgHost, 98, "a name is a letter or underscore followed by letters, digits and underscores; rename %s in the data set (in R: names(d) <- gsub(\"[. ]\", \"_\", names(d)))"},
    // 100/99: the operator as written.
    {kMsgHost, 99, "a model is written as a LINEQS, RAM, COSAN or FACTOR statement, not with lavaan's operator \"%s\""},
    // 100/110: as 58, with the TYPE of DATA= before its file.
    {kMsgHost, 110, "%s data set %s would replace %s data set %s, the TYPE=%s data the step analyses (%s)"},
    // 100/111: the second name, the data set, why it could not be removed.
    {kMsgHost, 111, "WARNING: The second name %s of the earlier file of output data set %s could not be removed (%s)."},
    // 100/112: the output data sets of the step, separated by ", ".
    {kMsgHost, 112, "NOTE: The output data sets of the step (%s) were put in place: the stop came while they were being renamed."},
    // 100/113: the data set, its _TYPE_ values, its rows, its name as written, the TYPE to give.
    {kMsgHost, 113, "Data set %s has no TYPE, but its rows are those of a moment data set (_TYPE_ %s): read as raw data, its %ld rows would be analysed as observations. To analyse its matrix, write data=%s(type=%s)."},
    // 100/114: what gives the TYPE and the TYPE, the TYPEs.
    {kMsgHost, 114, "%s, which is not a TYPE: a data set's TYPE is one of %s (raw data has none)"},
    // 100/115: the option as written, the data set, twice.
    {kMsgHost, 115, "Data-set option %s of %s is not known: TYPE= is the one option a data set takes, as in %s(type=cov)"},
    // 100/116: the line's number, the file, the line.
    {kMsgHost, 116, "NOTE: Line %li of %s, \"%s\", is a comment: only \"# KEY=VALUE\" lines before the names line say something of the data set, and the names are read from the first line without '#'. numpy's savetxt(header=...) writes its names so; give it comments=\"\" to write a names line."},
    // 100/125: the role (with its "="), three times.
    {kMsgHost, 125, "%s\"\" names no file: an output data set is named (%sest) or a file by its path in quotes (%s\"est.csv\")"},
    // 100/126: the role (with its "="), the name, the folder, the role, a file in the folder.
    {kMsgHost, 126, "%s\"%s\" names the folder %s, not a file: an output data set is a file in it (%s\"%s\")"},
    // 100/130-132: the command's own files and options.  130: the option
    // as written and the names of the options; 131: the option, the range
    // of its whole numbers and the value as written; 132: 130 or 131, as
    // the text of a WARNING of an OPTIONS statement.
    {kMsgHost, 130, "%s is not a host option (the options are %s)"},
    {kMsgHost, 131, "host option %s takes a whole number from %i to %i, not \"%s\""},
    {kMsgHost, 132, "%s; it is ignored."},
    // 100/133: two of 134-136, the files that are one.  134: the option
    // and the path; 135: the role, the name and the path of a data set,
    // and its step; 136: the path.
    {kMsgHost, 133, "ERROR: One file is named by %s and by %s; the run does not start, and no file is written."},
    {kMsgHost, 134, "the %s file %s"},
    {kMsgHost, 135, "%s data set %s (%s) of step %i"},
    {kMsgHost, 136, "the program file %s"},
    // 100/140: the column's number, the file and the name the column is given.
    {kMsgHost, 140, "NOTE: Column %d of %s has no name, as pandas' to_csv writes the unnamed level of a row index (df.groupby(...).cov()): it is read as the row labels, the character variable %s."},
    // 100/141: data set, count, kind, the labels' column, observations, the name to write and the TYPE.
    {kMsgHost, 141, "WARNING: Data set %s looks like %ld %s matrices, one after another: column %d names their rows after its numeric variables, and their numbers are symmetric. Without a TYPE it is read as raw data, %ld observations; to analyse them as the matrices, write data=%s(type=%s), a BY statement of the columns before it, and give the number of observations with the PROC option NOBS=."},
    // 100/150: a data set's option and the line of its name, and one of
    // 134 or 152; 151: 135 for a step that is skipped, with the PROC's
    // name and its line; 152: the listing or the log, and the standard
    // stream it goes to.
    {kMsgHost, 150, "ERROR: The quoted text after %s at line %i is not closed, so the file it names cannot be known and could be %s; the run does not start, and no file is written."},
    {kMsgHost, 151, "%s data set %s (%s) of the PROC %s step at line %i, which is skipped"},
    {kMsgHost, 152, "the %s on %s"},
    // 100/153: the folder of output data sets and the system's reason.
    {kMsgHost, 153, "WARNING: The folder %s cannot be locked while the output data sets are put in it (%s): another run that writes the same data sets at the same time may mix its files with this step's."},
    // 100/154: the folder whose lock another process holds.
    {kMsgHost, 154, "NOTE: The output data sets wait for the folder %s, which another run is writing (it holds the folder's lock)."},

    // BY-group synchronisation: name and label (" (label)", or empty) of
    // DATA=, then of the other data set.
    {kMsgSync, 5, "WARNING: The BY groups of data set %s%s do not match those of data set %s%s."},

    // The moment matrix reader.
    {kMsgReader, 5, "ERROR: The moment data set has no observations."},
    {kMsgReader, 9, "WARNING: The moment data set has no _TYPE_ variable; every row is a matrix row."},
    {kMsgReader, 10, "WARNING: The moment data set has no _NAME_ variable; the matrix rows are taken in order."},
    {kMsgReader, 11, "WARNING: The SUMWGT rows give different values; the smallest is used."},
    {kMsgReader, 12, "WARNING: The N rows give different values; the smallest is used."},
    {kMsgReader, 13, "WARNING: A matrix row of the moment data set has an invalid _NAME_."},
    {kMsgReader, 15, "ERROR: The moment data set has no complete moment matrix."},
    {kMsgReader, 16, "WARNING: The moment matrix has no element of %s and %s."},
    {kMsgReader, 17, "NOTE: The moment data set has no N row; N is set to 10000."},
    {kMsgReader, 18, "WARNING: The correlation matrix is normalised to a unit diagonal."},
    {kMsgReader, 21, "ERROR: The moment data set has more matrix rows than analysis variables."},
    {kMsgReader, 22, "WARNING: A diagonal element of the correlation matrix differs from 1."},
    {kMsgReader, 23, "WARNING: The moment matrix is not symmetric: its element of %s and %s is %g in the row of %s and %g in the row of %s; the later one is used."},
    {kMsgReader, 24, "WARNING: A variance is not positive after the means are removed; its row and column are set to 0."},
    {kMsgReader, 25, "WARNING: The correlation of %.*s and %.*s is %g, beyond 1 in size; it is analysed as given."},
    {kMsgReader, 26, "ERROR: A variable with zero variance has nonzero covariances."},
    {kMsgReader, 27, "ERROR: Variable %.*s has a negative variance."},
    {kMsgReader, 28, "NOTE: The moment matrix is read from the %s rows of the data set."},
    {kMsgReader, 31, "NOTE: The SSCP data set has no INTERCEPT row; it is read without an intercept."},
    {kMsgReader, 32, "ERROR: The INTERCEPT variable of the SSCP data set must be numeric."},
    {kMsgReader, 33, "ERROR: _TYPE_ and _NAME_ of the moment data set must be character variables."},
    {kMsgReader, 34, "ERROR: The SSCP data set has no INTERCEPT row from which the means follow."},
    {kMsgReader, 35, "ERROR: The TYPE=EST data set has no PARMS row with the means."},
    {kMsgReader, 36, "ERROR: The moment data set has no complete MEAN row, which the analysis needs."},
    {kMsgReader, 38, "NOTE: The moment data set has no MEAN row; the means are taken as 0."},
    {kMsgReader, 39, "NOTE: Standard deviations of the correlation matrix are missing; they are set to 1."},
    // 230/40: the names of the partial variables, separated by blanks.
    {kMsgReader, 40, "ERROR: The moment data set lacks moments of the PARTIAL variables %s."},
    {kMsgReader, 41, "ERROR: The matrix rows of the moment data set, taken in order for want of a _NAME_ variable, give the element of %.*s and %.*s two values, %g and %g: the rows are not in the order of the analysis variables. Name each row's variable in a _NAME_ variable."},
    {kMsgReader, 50, "ERROR: The Intercept x Intercept element of the SSCP data set is %g; the sum of weights of its sums must be positive."},
    {kMsgReader, 51, "ERROR: The SSCP data set gives the sums of its Intercept row but not their count: it has no Intercept x Intercept element and no N row, so the means cannot be formed. State N with NOBS=."},
    // 230/52, 53: the sum of weights; where it came from ("its N row", ...).
    {kMsgReader, 52, "NOTE: The SSCP data set has no Intercept column: the means are the sums of its Intercept row over the sum of weights %g, from %s."},
    {kMsgReader, 53, "NOTE: The Intercept x Intercept element of the SSCP data set is missing: the means are the sums of its Intercept row over the sum of weights %g, from %s."},
    {kMsgReader, 54, "ERROR: Variable %.*s has the standard deviation %g in the %s row; a standard deviation cannot be negative."},
    {kMsgReader, 55, "ERROR: The N row of the moment data set gives %g; N cannot be negative."},
    {kMsgReader, 56, "WARNING: The N row of the moment data set gives %g, which is not a whole number of observations; it is used as given."},
    {kMsgReader, 57, "WARNING: The moment data set has more than one N row (%g, then %g); the last one is used."},
    {kMsgReader, 58, "ERROR: N = %g of the moment data set is too small: the divisor of its moments under VARDEF=%.*s is %g."},
    {kMsgReader, 59, "ERROR: The MEAN row of the moment data set has no value for %.*s, which the analysis needs."},
    {kMsgReader, 60, "WARNING: The moment matrix has no row of %s."},
    {kMsgReader, 62, "NOTE: Rows of _TYPE_ %s are not moment rows; they are ignored."},
    // 230/63: the row type, the first variable whose two values differ,
    // the earlier and the later value.
    {kMsgReader, 63, "WARNING: The moment data set has more than one %s row (the value of %.*s is %g, then %g); the last one is used."},
    // 230/64: the row type, its variable, the element and its two values.
    {kMsgReader, 64, "WARNING: The moment data set has more than one %s row of %s: its element of %s and %s is %g, then %g; the values of the last one are used."},
    {kMsgReader, 65, "ERROR: The SUMWGT row of the SSCP data set gives the sum of weights %g, but its Intercept x Intercept element, the sum of weights of its sums, is %g."},
    // 230/66: the variable, its mean, its moment about zero and the
    // variance about the means they give.
    {kMsgReader, 66, "ERROR: Variable %.*s has the mean %g and the second moment about zero %g: its variance about the means, %g, is negative."},
    // 230/67: the variables whose means are missing.
    {kMsgReader, 67, "NOTE: The MEAN row of the moment data set has no value for %s; the means are taken as 0."},

    // The procedure.  352/1: the option text of the role, twice.
    {kMsgProc, 1, "WARNING: The BY groups of the %s data set are out of step with DATA=; the %s data set is used as it is."},
    // 352/2: the BY values of the group (a text of 24 and 25).
    {kMsgProc, 2, " in the BY group %.*s"},
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
    {kMsgProc, 14, "ERROR: %g observations are too few for an analysis; the model is not fitted."},
    {kMsgProc, 15, "ERROR: %g observations are too few to form the weight matrix; the model is not fitted."},
    {kMsgProc, 16, "WARNING: The kurtosis is not computed: no observation could be used."},
    {kMsgProc, 17, "WARNING: The %i partial variables are not fewer than the %g observations."},
    {kMsgProc, 18, "NOTE: The intercept changes the variance divisor to %g."},
    {kMsgProc, 19, "WARNING: Variable %.*s has no positive variance."},
    {kMsgProc, 20, "ERROR: No variable has a positive variance."},
    {kMsgProc, 21, "NOTE: The moment matrix is ridged to make it positive definite."},
    {kMsgProc, 22, "NOTE: The diagonal of the moment matrix is ridged with the factor %g."},
    {kMsgProc, 23, "WARNING: The weights of METHOD=%s cannot be formed; the model is fitted by METHOD=ULS only."},
    // 352/24 and 25: what is wrong with the matrix (the texts 51, 55 and
    // 56), the method (25) and where (the text 2 in a BY step, else none).
    {kMsgProc, 24, "WARNING: The %k; the analysis is by ULS only%k."},
    {kMsgProc, 25, "ERROR: The %k; METHOD=%s cannot be used%k."},
    {kMsgProc, 26, "ERROR: Invalid operations in the programming statements leave the model without values at the start."},
    {kMsgProc, 27, "NOTE: The pattern of the Jacobian cannot be found; the Jacobian is formed densely."},
    {kMsgProc, 28, "NOTE: The Jacobian of the moments is sparse: %i of its %ld entries can be nonzero."},
    {kMsgProc, 29, "ERROR: The variables of the TYPE=SYMATRIX data set do not match the analysis variables."},
    {kMsgProc, 30, "WARNING: The N rows give different values; the smallest is used."},
    {kMsgProc, 31, "WARNING: The SUMWGT rows give different values; the smallest is used."},
    {kMsgProc, 32, "WARNING: The symmetric matrix has more rows than variables; the rest is ignored."},
    {kMsgProc, 33, "NOTE: A row of _TYPE_ %.*s is ignored."},
    {kMsgProc, 34, "WARNING: Elements of the symmetric matrix are missing; they are set to 0."},
    {kMsgProc, 35, "ERROR: The moments of variable %.*s are too large to be represented; the model is not fitted."},
    {kMsgProc, 36, "ERROR: The weight matrix of INWGT= data set %s is incomplete."},
    {kMsgProc, 37, "ERROR: INWGT= data set %s has no WEIGHT rows."},
    {kMsgProc, 38, "WARNING: %i WEIGHT rows of INWGT= data set %s match the variables; %i are expected."},
    {kMsgProc, 39, "NOTE: The data set gives no observation numbers; the kurtosis contributions are numbered in order."},
    // 352/40-47: model evaluation.  352/40: matrix name.
    {kMsgProc, 40, "ERROR: Matrix %s cannot be inverted at the current parameter values."},
    {kMsgProc, 41, "NOTE: The inverse forms of the model matrices cannot be computed at this point."},
    {kMsgProc, 42, "ERROR: The implied covariance matrix is not positive definite at the current parameter values."},
    {kMsgProc, 43, "NOTE: The maximum likelihood discrepancy cannot be computed at this point."},
    {kMsgProc, 44, "WARNING: The discrepancy function is negative; it is set to zero."},
    // 352/45: before the report of the invalid operations or missing values
    // of a run of the programming statements.
    {kMsgProc, 45, "WARNING: The programming statements gave missing values in this evaluation."},
    {kMsgProc, 46, "NOTE: The parameters were perturbed to continue the evaluation."},
    {kMsgProc, 47, "NOTE: No parameter can be perturbed to continue the evaluation."},
    // 352/48 and 49: 36 and 37 for an LS method, which goes on by ULS.
    {kMsgProc, 48, "WARNING: The weight matrix of INWGT= data set %s is incomplete."},
    {kMsgProc, 49, "WARNING: INWGT= data set %s has no WEIGHT rows."},
    {kMsgProc, 50, "NOTE: Memory is short for the derivatives of the equality tests; they are kept on a utility file."},
    // 352/51, 55 and 56: texts of 24 and 25 (the data set, its smallest
    // eigenvalue, a variable the others determine).
    {kMsgProc, 51, "moment matrix of data set %.*s is not positive definite: its smallest eigenvalue is %g"},
    {kMsgProc, 52, "ERROR: The information matrix cannot be computed at the solution."},
    // 352/53: the names of the parameters in the null space.
    {kMsgProc, 53, "WARNING: The information matrix is singular: the model may not be identified. The standard errors of %s are missing."},
    {kMsgProc, 54, "WARNING: The generalized inverse of the information matrix cannot be computed."},
    {kMsgProc, 55, "moment matrix of data set %.*s is singular: variable %.*s is determined by the other variables"},
    {kMsgProc, 56, "weight matrix is singular"},
    // 352/58: name.  352/59-68 but 60-62: the start-value estimators (notes
    // on what they found).
    // 352/57 and 58: the texts of 66.
    {kMsgProc, 57, "Start values of the coefficients were computed by least squares."},
    {kMsgProc, 58, "internal error: matrix %s has no product rule without a form."},
    {kMsgProc, 59, "NOTE: The start-value estimators cannot read this model (an inconsistency of the procedure); the default start values are used."},
    // 352/60: name.
    {kMsgProc, 60, "ERROR: Matrix %s has the form INVERSE or IMINUSINV but is not square."},
    // 352/61: name.
    {kMsgProc, 61, "NOTE: The sparse inverse of matrix %s cannot be formed; its dense inverse is used from now on."},
    // 352/62: name.
    {kMsgProc, 62, "ERROR: internal error: matrix %s has a form or type the model evaluation cannot apply."},
    {kMsgProc, 63, "WARNING: The memory for the start-value estimators is not available; the default start values are used."},
    {kMsgProc, 64, "NOTE: Start values of the latent variables were computed by instrumental variables."},
    {kMsgProc, 65, "NOTE: Start values of the loadings were computed by principal factors."},
    // 352/66: a severity marker and a text, 57 (a note) or 58 (an error).
    {kMsgProc, 66, "%*z%k"},
    {kMsgProc, 67, "NOTE: Start values of the coefficients were computed by two-stage least squares."},
    {kMsgProc, 68, "NOTE: Some start values could not be computed; the default start values are used for them."},
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
    {kMsgProc, 85, "NOTE: The SSCP input has no variable list: its variables other than the Intercept are analysed."},
    // 352/86, 87: the variable; 87 then ": " and the value that made it
    // character with its line ("line 38 of hs.csv holds n/a"), or two
    // empty texts.
    {kMsgProc, 86, "ERROR: Variable %s is not in the DATA= data set."},
    {kMsgProc, 87, "ERROR: Variable %s is not numeric%s%s."},
    {kMsgProc, 88, "ERROR: The WEIGHT and FREQ statements take one variable each."},
    {kMsgProc, 89, "ERROR: The variable lists do not fit the DATA= data set."},
    {kMsgProc, 90, "WARNING: AUGMENT analyses the correlations of the augmented moments unless COVARIANCE is given; a model with fixed time scores or means needs COVARIANCE."},
    // 352/94: bytes needed, bytes available.
    {kMsgProc, 94, "ERROR: The analysis needs %.0f bytes of memory, but only %.0f are available."},
    {kMsgProc, 97, "ERROR: No variables are left for the analysis."},
    {kMsgProc, 98, "WARNING: The INEST= data set is not of TYPE=EST."},
    {kMsgProc, 99, "NOTE: TECHNIQUE=GAUNEW is not available here; the default technique is used."},
    {kMsgProc, 100, "NOTE: With nonlinear constraints the dual quasi-Newton technique is used."},
    // 352/101: the row kind.
    {kMsgProc, 101, "NOTE: The INRAM= data set has a row of _TYPE_ %s, which is ignored."},
    {kMsgProc, 102, "ERROR: The MODEL rows of the INRAM= data set do not number the matrices 1, 2, ... term by term."},
    {kMsgProc, 103, "ERROR: The model of the INRAM= data set cannot be read."},
    // 352/104: the matrix.
    {kMsgProc, 104, "ERROR: Matrix %s of the INRAM= data set has a type, form or shape that its model does not allow."},
    {kMsgProc, 105, "ERROR: The INRAM= data set holds no valid LINEQS model."},
    // 352/106: the matrix, the names given, its rows.
    {kMsgProc, 106, "ERROR: Matrix %s of the INRAM= data set has %i column names for %i rows."},
    {kMsgProc, 107, "ERROR: The INRAM= data set holds no valid RAM model."},
    {kMsgProc, 108, "ERROR: The INRAM= data set holds no valid FACTOR model."},
    // 352/109: the matrix number.
    {kMsgProc, 109, "WARNING: An ESTIM row of the INRAM= data set names matrix %i, which the model does not have; the row is ignored."},
    // 352/110: the column name.
    {kMsgProc, 110, "ERROR: Column %s of the INRAM= model is no analysis variable."},
    // 352/111: the matrix, its rows, the rows it takes.
    {kMsgProc, 111, "WARNING: Matrix %s of the INRAM= model has %i rows; it takes %i."},
    // 352/112: the central matrix, its columns, the columns it takes.
    {kMsgProc, 112, "WARNING: Central matrix %s of the INRAM= model has %i columns; it takes %i."},
    // 352/113: the central matrix, its type code, the term.
    {kMsgProc, 113, "WARNING: Central matrix %s of the INRAM= model has type %i in term %i; it is taken as SYMMETRIC."},
    // 352/114: the number of corrections.
    {kMsgProc, 114, "WARNING: %i corrections were made to the matrices of the INRAM= model."},
    // 352/116: bytes.
    {kMsgProc, 116, "NOTE: Laying out the stored inverses term by term would save %i bytes."},
    // 352/117: matrix, row and column.
    {kMsgProc, 117, "ERROR: An ESTIM row of the INRAM= data set names matrix %i, row %i, column %i, where the model has no element."},
    // 352/118: the matrix.
    {kMsgProc, 118, "ERROR: Matrix %s has no elements."},
    // 352/119: the matrix (length, text) and the reason.
    {kMsgProc, 119, "NOTE: The type of matrix %.*s is changed to %s."},
    // 352/120, 124: the number of equations, of exogenous variables.
    {kMsgProc, 120, "Number of Endogenous Variables = %i"},
    {kMsgProc, 121, "Manifest"},
    {kMsgProc, 122, "Latent"},
    {kMsgProc, 123, "Error"},
    {kMsgProc, 124, "Number of Exogenous Variables = %i"},
    // 352/128: name.
    {kMsgProc, 125, "NOTE: The FACTOR statement does not change the factor model of the INRAM= data set."},
    {kMsgProc, 128, "NOTE: No matrix of the model is named %s; its MATRIX statement is not used."},
    {kMsgProc, 131, "NOTE: The covariance of exogenous variable %.*s is not set from the sample."},
    {kMsgProc, 132, "ERROR: The option value of the covariance of the estimates is not valid."},
    // 352/133: the first of the parameters, the method (WLS or DWLS).
    {kMsgProc, 133, "NOTE: The variances and covariances of the exogenous manifest variables are estimated with the model as parameters %s, ...: the weights of %s tie them to the other moments, so their sample values are not their estimates."},
    // 352/137: name.
    // 352/134: the density in percent.
    {kMsgProc, 134, "NOTE: %g percent of the Jacobian of the moments can be nonzero."},
    // 352/135: the parameters.
    {kMsgProc, 135, "NOTE: Under AUGMENT the estimates of %s are moments about zero of variables with means, not variances or covariances: the covariance of x and y is their moment less the constant's moment times the product of their means. For the variance itself write the variable as an equation on Intercept with a disturbance (x = m Intercept + Dx with std Dx = v)."},
    {kMsgProc, 137, "ERROR: internal error: a product with matrix %s does not conform."},
    // 352/138: name.
    {kMsgProc, 138, "ERROR: internal error: matrix %s needs a stored inverse but belongs to no term."},
    // 352/139: matrix name, row, column.
    {kMsgProc, 139, "ERROR: The fixed element of matrix %s at row %i, column %i has a missing value."},
    // 352/145, 352/146: the name, as the model or INRAM= spells it.
    {kMsgProc, 145, "ERROR: Variable %s is not a DATA= variable: the intercept of a model with means is the variable Intercept of the PROC VELIX option AUGMENT."},
    {kMsgProc, 146, "ERROR: Column %s of the INRAM= model is no analysis variable: a model with means is read with the PROC VELIX option AUGMENT."},
    // 352/147: the statement and what it gives the constant.
    {kMsgProc, 147, "ERROR: Intercept is the constant 1 of the PROC VELIX option AUGMENT, not a random variable: %s gives it %s."},
    {kMsgProc, 149, "NOTE: Memory is short for a copy of the covariance of the estimates; the Lagrange multiplier tests read it from a utility file."},
    {kMsgProc, 150, "WARNING: There is not enough memory for the Lagrange multiplier tests; they are not computed."},
    {kMsgProc, 151, "WARNING: The covariance matrix of the estimates is not available; no Lagrange multiplier or Wald tests are computed."},
    // 352/152 to 164: the type of a model matrix and its form, in the notes
    // of a changed type and the captions of the model-matrix tables.
    {kMsgProc, 152, "Identity"},
    {kMsgProc, 153, "Zero-Identity"},
    {kMsgProc, 154, "Diagonal"},
    {kMsgProc, 155, "Zero-Diagonal"},
    {kMsgProc, 156, "Lower Triangular"},
    {kMsgProc, 157, "Upper Triangular"},
    {kMsgProc, 158, "Symmetric"},
    {kMsgProc, 159, "General"},
    {kMsgProc, 160, "Inverse Form"},
    {kMsgProc, 161, "Constant Matrix"},
    {kMsgProc, 162, "Inverse Form of a Constant Matrix"},
    {kMsgProc, 163, "I Minus Inverse Form"},
    {kMsgProc, 164, "I Minus Inverse Form of a Constant Matrix"},
    {kMsgProc, 166, "Rank Order of the %i Largest Lagrange Multipliers in %s"},
    // 352/176: number, item, largest.
    {kMsgProc, 176, "ERROR: The variable number %g of RAM item %i is not a whole number from 1 to %i."},
    // 352/177: matrix, largest, number.
    {kMsgProc, 177, "ERROR: Matrix %s needs a whole number of columns from 1 to %i, not %g."},
    // 352/178: name, its number, rows, columns, the earlier number, rows, columns.
    {kMsgProc, 178, "ERROR: Matrix %s is matrix %i with %i rows and %i columns and matrix %i with %i rows and %i columns; every occurrence of a matrix needs the same shape."},
    {kMsgProc, 179, "NOTE: The information of a released equality constraint is singular; its row shows no statistic."},
    {kMsgProc, 180, "NOTE: The STRUCTEQ statement is ignored: the default FACTOR model has no structural equations."},
    {kMsgProc, 181, "NOTE: The PARAMETERS statement is ignored: the default FACTOR model has no added parameters."},
    {kMsgProc, 186, "NOTE: A matrix of the stepwise Wald test is singular; the parameters that needed it were not tested."},
    {kMsgProc, 187, "Each * Represents %i Residuals"},
    {kMsgProc, 188, "NOTE: The covariance matrix of the estimates is a generalized inverse; the residuals are normalized instead of asymptotically standardized."},
    {kMsgProc, 189, "NOTE: The covariance matrix of the estimates is not available; the residuals are normalized instead of asymptotically standardized."},
    // 352/190: the name as the list gives it and the variable it cut short.
    {kMsgProc, 190, "ERROR: Variable %s is not in the DATA= data set, whose variable \"%s\" no statement can name: a name is a letter or underscore followed by letters, digits and underscores; rename it in the data set (in R: names(d) <- gsub(\"[. ]\", \"_\", names(d)))."},
    {kMsgProc, 191, "ERROR: The weight matrix is not positive definite: a diagonal element is negative."},
    // 352/192: the spectral radius.
    {kMsgProc, 192, "NOTE: The direct effects among the dependent variables have spectral radius %g, above 1: the series I + B + B^2 + ... of the total and indirect effects diverges, and the effects shown, from (I - B)^-1, are not its sum."},
    // 352/193: the variable and its statement (WEIGHT or FREQ).
    {kMsgProc, 193, "ERROR: Variable %s is the %s variable, which weighs the observations: a variable cannot be both that and a variable of the model."},
    // 352/194: the latent variable's name.
    {kMsgProc, 194, "NOTE: No RAM entry of matrix 2 gives the variance of the exogenous latent variable %s; its variance is fixed at 0."},
    // 352/195: the VARDEF kind, the sum of the weights and what the kind
    // takes off it.
    {kMsgProc, 195, "ERROR: The divisor of the moments under VARDEF=%.*s is not positive: the weights sum to %g, and the divisor is their sum less %g."},
    // 352/196: a text of 24 and 25, as 56.
    {kMsgProc, 196, "weight matrix is not positive definite: a diagonal element is negative"},
    {kMsgProc, 197, "WARNING: The largest absolute diagonal residual of the correlation matrix is %g."},
    {kMsgProc, 201, "Analysis of the Symmetric Matrix as Given"},
    {kMsgProc, 202, "WARNING: The symmetric matrix is not symmetric: its element of %.*s and %.*s is %g in one row and %g in the other; the later one is used."},
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
    {kMsgProc, 228, "PARAMETERS statement"},
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
    // 352/244: name.
    {kMsgProc, 244, "NOTE: No STD entry names the exogenous latent variable %s; its variance is fixed at 0."},
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
    // 352/266: STD or COV, name.
    {kMsgProc, 266, "ERROR: The %s variable %s is not a variable of the model."},
    // 352/267: the statement, the kind of the model in force.
    {kMsgProc, 267, "WARNING: The %s statement is ignored: the model is the %s model of the statements before it."},
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
    // 352/279: STD or COV, variances or covariances, the variables (pairs
    // for COV) that share the last name, that name.
    {kMsgProc, 279, "NOTE: A %s entry has fewer items than %s; %s share its last name %s."},
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
    {kMsgProc, 298, "Analysis of the Uncorrected Correlation Matrix"},
    {kMsgProc, 299, "Analysis of the Uncorrected Covariance Matrix"},
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
    {kMsgProc, 318, "Analysis of the Correlation Matrix"},
    {kMsgProc, 319, "Analysis of the Covariance Matrix"},
    {kMsgProc, 321, "Manifest Variable Equations with Initial Estimates"},
    {kMsgProc, 322, "Latent Variable Equations with Initial Estimates"},
    {kMsgProc, 323, "Manifest Variable Equations with Estimates"},
    {kMsgProc, 324, "Latent Variable Equations with Estimates"},
    {kMsgProc, 325, "Manifest Variable Equations with Standardized Estimates"},
    {kMsgProc, 326, "Latent Variable Equations with Standardized Estimates"},
    // 352/336: the statement, what of a model it holds, the statement.
    {kMsgProc, 336, "ERROR: A second %s statement is given; a model's %s go in one %s statement."},
    // 352/337: the variable, the dependent variable of its equation.
    {kMsgProc, 337, "NOTE: %s in the equation of %s is the variable of the DATA= data set, not an error term; an error term needs a name that no variable of the data set has."},
    // 352/338: the two variables and the variables of the earlier entry;
    // 352/339: the two variables.
    {kMsgProc, 338, "NOTE: The covariance of %s and %s that the COV entry %s gives is replaced by the one of this entry."},
    {kMsgProc, 339, "NOTE: The covariance of %s and %s is given twice in this COV entry; the later item is used."},
    // 352/340, 341: the name the programming statement assigns, twice.
    {kMsgProc, 340, "WARNING: The statement that assigns %s is read as a programming statement, though %s is a variable of the DATA= data set: a semicolon ends the LINEQS statement, whose equations are separated by commas."},
    {kMsgProc, 341, "WARNING: The statement that assigns %s is read as a programming statement, though %s is a variable of the model: a semicolon ends the LINEQS statement, whose equations are separated by commas."},
    {kMsgProc, 344, "Std Err"},
    {kMsgProc, 345, "t Value"},
    {kMsgProc, 347, "NOTE: The determination of the manifest variables cannot be computed."},
    {kMsgProc, 349, "NOTE: The factors are correlated; the loadings are not rotated."},
    {kMsgProc, 350, "NOTE: The loadings of a model with matrices given by MATRIX statements are rotated."},
    {kMsgProc, 351, "WARNING: The rotation of the factor loadings failed; no further results are given."},
    {kMsgProc, 352, "NOTE: The model has more factors than variables: the FCORR and TRANSFOR rows of OUTSTAT= are left out."},
    {kMsgProc, 354, "NOTE: The predicted covariance of the manifest variables is singular; no latent score coefficients are given."},
    {kMsgProc, 358, "NOTE: The determination of all equations cannot be computed."},
    {kMsgProc, 359, "NOTE: The determination of the structural equations cannot be computed."},
    {kMsgProc, 363, "ERROR: The model could not be evaluated at the estimates; no fit summary is given."},
    {kMsgProc, 365, "Fit Function"},
    {kMsgProc, 366, "Goodness of Fit Index (GFI)"},
    {kMsgProc, 367, "GFI Adjusted for Degrees of Freedom (AGFI)"},
    {kMsgProc, 368, "Root Mean Square Residual (RMR)"},
    {kMsgProc, 369, "Parsimonious GFI (Mulaik, 1989)"},
    {kMsgProc, 370, "Independence Model Chi-Square"},
    {kMsgProc, 371, "Independence Model Chi-Square DF"},
    {kMsgProc, 372, "Kurtosis-Adjusted Chi-Square"},
    {kMsgProc, 373, "Prob > Kurtosis-Adjusted Chi-Square"},
    {kMsgProc, 374, "Probability of Close Fit"},
    {kMsgProc, 375, "Bentler's Comparative Fit Index"},
    {kMsgProc, 377, "Normal Theory Reweighted LS Chi-Square"},
    {kMsgProc, 378, "Akaike's Information Criterion"},
    {kMsgProc, 379, "Bozdogan's (1987) CAIC"},
    {kMsgProc, 380, "Schwarz's Bayesian Criterion"},
    {kMsgProc, 386, "Matrix Entry:"},
    {kMsgProc, 387, "Matrix Entry (negative):"},
    {kMsgProc, 388, "Additional Parameter"},
    {kMsgProc, 389, "Dependent Parameter"},
    {kMsgProc, 390, "Gradient of the Objective Function"},
    {kMsgProc, 391, "First Derivatives"},
    {kMsgProc, 392, "t Values"},
    {kMsgProc, 393, "Standard Errors"},
    {kMsgProc, 394, "Parameter Estimates"},
    {kMsgProc, 395, "Initial Estimates"},
    {kMsgProc, 396, "%i Dependent Parameters"},
    {kMsgProc, 397, "ERROR: Parameter %i stands in no model matrix element."},
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
    // 352/429, 430: matrix name.
    {kMsgProc, 429, "Initial Values of Matrix %s"},
    {kMsgProc, 430, "Estimates of Matrix %s"},
    {kMsgProc, 431, "The matrix has no parameter and is not shown."},
    {kMsgProc, 432, "with Standard Errors and t Values"},
    {kMsgProc, 434, "ERROR: The objective function cannot be evaluated at the start point; the estimation stops. The start values (table \"Optimization Start\") may be too far from a solution: give start values nearer to it in parentheses after the parameter names of the model statements (ve1 (2.5)) or in an INEST= data set."},
    {kMsgProc, 435, "WARNING: Technique %i cannot have its work space; the estimation is repeated with technique %i."},
    {kMsgProc, 436, "ERROR: No optimization technique can have its work space; the model is not estimated."},
    {kMsgProc, 437, "ERROR: The optimization ended without a usable solution (status %i); no results are printed."},
    {kMsgProc, 438, "ERROR: The constraint names %.*s, which is not a parameter of the model."},
    {kMsgProc, 439, "ERROR: The bounds of parameter %.*s are empty: lower bound %g above upper bound %g."},
    {kMsgProc, 440, "ERROR: NLINCON names %.*s, which is not a numeric variable of the programming statements."},
    {kMsgProc, 441, "ERROR: The optimization ended at a point that violates the nonlinear constraints by %g; no results are printed."},
    {kMsgProc, 442, "NOTE: The PROFILE statement is replaced by the default profile set."},
    {kMsgProc, 443, "NOTE: No parameter is profiled."},
    {kMsgProc, 444, "NOTE: All parameters are profiled."},
    // 352/445, 448: the level; 446, 447, 449: the name (length, text).
    {kMsgProc, 445, "NOTE: The confidence level %g repeats a level and is ignored."},
    {kMsgProc, 446, "NOTE: Parameter %.*s is listed twice in the PROFILE statement."},
    {kMsgProc, 447, "NOTE: %.*s is not a parameter and is not profiled."},
    {kMsgProc, 448, "NOTE: The confidence level %g is not between 0 and 100 and is ignored."},
    // 352/449: 447 for a parameter that the programming statements define.
    {kMsgProc, 449, "NOTE: %.*s is a dependent parameter and is not profiled."},
    {kMsgProc, 450, "NOTE: Profile-likelihood confidence limits are computed."},
    {kMsgProc, 470, "ERROR: NLINCON names %.*s, a variable of programming statements that are ignored."},
    {kMsgProc, 471, "ERROR: WPENALTY= must be positive for METHOD=WLS in a correlation analysis: without it the variances have no weight and the weight matrix is singular."},
    {kMsgProc, 472, "NOTE: The %g observations are too few for a WLS weight matrix of %g moments: it is singular unless N - 1 is at least the number of moments."},
    {kMsgProc, 473, "WARNING: The time limit MAXTIME=%g passed while the weight matrix was formed."},
    {kMsgProc, 474, "ERROR: BOUNDS names %.*s, a dependent parameter that the programming statements compute: bounds take independent parameters only. Bound it as a constraint instead: NLINCON %.*s >= lower, or lower <= %.*s <= upper."},
    {kMsgProc, 475, "NOTE: Under ULS the information matrix takes the scale of the variables, whose variances range from %g (%s) to %g (%s): an identified model can look singular so. Rescale the variables, or fit by ML, GLS or WLS."},
    {kMsgProc, 476, "NOTE: The weight matrix is singular at the moments %s: over the observations each is constant or a linear combination of the moments before it (the square of a variable with two values is one of the variable and the constant)."},
    {kMsgProc, 488, "WARNING: The programming statements stopped with an execution fault in this evaluation."},
    {kMsgProc, 489, "ERROR: An ABORT statement of the programming statements ends the step."},
    // 352/491-493: the name of the central matrix.
    {kMsgProc, 491, "WARNING: Matrix %s has negative and negligible pivots: it is not positive definite."},
    {kMsgProc, 492, "WARNING: Matrix %s has negative pivots: it is not positive definite."},
    {kMsgProc, 493, "WARNING: Matrix %s has negligible pivots: it is singular."},
    // 352/494: the estimate, its parameter and the variable (or element) whose variance it is.
    {kMsgProc, 494, "WARNING: The estimate %g of %.*s, the variance of %s, is negative: the solution is improper."},
    {kMsgProc, 510, "Relative Multivariate Kurtosis"},
    {kMsgProc, 511, "Normalized Multivariate Kurtosis"},
    {kMsgProc, 512, "Mardia Based Kappa"},
    {kMsgProc, 513, "Adjusted Mean Scaled Univariate Kurtosis"},
    {kMsgProc, 514, "Ratio of Fourth Moments to their Normal Values less 1"},
    {kMsgProc, 520, "NOTE: The chi-square quantile for Hoelter's critical N is not available."},
    {kMsgProc, 521, "NOTE: The independence model could not be solved; the diagonal of the moment matrix is used."},
    {kMsgProc, 522, "McDonald's (1989) Centrality"},
    {kMsgProc, 523, "Bentler & Bonett's (1980) Non-normed Index"},
    {kMsgProc, 524, "Bentler & Bonett's (1980) NFI"},
    {kMsgProc, 525, "James, Mulaik, & Brett (1982) Parsimonious NFI"},
    {kMsgProc, 526, "Z-Test of Wilson & Hilferty (1931)"},
    {kMsgProc, 527, "Bollen (1986) Normed Index Rho1"},
    {kMsgProc, 528, "Bollen (1988) Non-normed Index Delta2"},
    {kMsgProc, 529, "Hoelter's (1983) Critical N"},
    {kMsgProc, 530, "Chi-Square"},
    {kMsgProc, 531, "Chi-Square DF"},
    {kMsgProc, 532, "Pr > Chi-Square"},
    {kMsgProc, 533, "RMSEA Estimate"},
    {kMsgProc, 534, "RMSEA %g%% Lower Confidence Limit"},
    {kMsgProc, 535, "RMSEA %g%% Upper Confidence Limit"},
    {kMsgProc, 536, "ECVI Estimate"},
    {kMsgProc, 537, "ECVI %g%% Lower Confidence Limit"},
    {kMsgProc, 538, "ECVI %g%% Upper Confidence Limit"},
    {kMsgProc, 539, "The VELIX Procedure"},
    {kMsgProc, 601, "Natural Log"},
    {kMsgProc, 603, "All Equations"},
    {kMsgProc, 604, "Structural Equations"},
    {kMsgProc, 605, "Manifest Variables"},
    {kMsgProc, 606, "Determinant of the Matrix"},
    {kMsgProc, 610, "Average Absolute Residual"},
    {kMsgProc, 611, "Average Absolute Normalized Residual"},
    {kMsgProc, 612, "Average Absolute Standardized Residual"},
    {kMsgProc, 613, "Average Off-diagonal Absolute Residual"},
    {kMsgProc, 614, "Average Off-diagonal Absolute Normalized Residual"},
    {kMsgProc, 615, "Average Off-diagonal Absolute Standardized Residual"},
    {kMsgProc, 616, "Stability Coefficient"},
    {kMsgProc, 700, "Model Specification"},
    {kMsgProc, 701, "Variable Selection"},
    {kMsgProc, 702, "Model Statement"},
    {kMsgProc, 703, "Endogenous Variables"},
    {kMsgProc, 704, "Exogenous Variables"},
    {kMsgProc, 705, "Manifest Variable Equations"},
    {kMsgProc, 706, "Latent Variable Equations"},
    {kMsgProc, 707, "Variances of Exogenous Variables"},
    {kMsgProc, 708, "Covariances among Exogenous Variables"},
    {kMsgProc, 709, "RAM List"},
    // 352/710, 791: matrix name.
    {kMsgProc, 710, "Initial Matrix %s"},
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
    {kMsgProc, 733, "Normalized Contribution"},
    // 352/734: the observation number.
    {kMsgProc, 734, "Observation %i"},
    {kMsgProc, 740, "Optimization"},
    {kMsgProc, 741, "Information Matrix"},
    {kMsgProc, 742, "Initial Estimates"},
    {kMsgProc, 744, "Sum of Squared Differences"},
    // 352/745: the name of the model matrix.
    {kMsgProc, 745, "Jacobian Pattern of Matrix %s"},
    {kMsgProc, 750, "Fit Summary"},
    {kMsgProc, 751, "Fit Summary"},
    {kMsgProc, 752, "Predicted Model Matrix"},
    {kMsgProc, 760, "Residuals"},
    {kMsgProc, 761, "Raw Residual Matrix"},
    {kMsgProc, 762, "Averages of the Raw Residuals"},
    {kMsgProc, 763, "Rank Order of the %i Largest Raw Residuals"},
    {kMsgProc, 764, "Distribution of the Raw Residuals"},
    {kMsgProc, 765, "Normalized Residual Matrix"},
    {kMsgProc, 766, "Averages of the Normalized Residuals"},
    {kMsgProc, 767, "Rank Order of the %i Largest Normalized Residuals"},
    {kMsgProc, 768, "Distribution of the Normalized Residuals"},
    {kMsgProc, 769, "Variance Standardized Residual Matrix"},
    {kMsgProc, 770, "Averages of the Variance Standardized Residuals"},
    {kMsgProc, 771, "Rank Order of the %i Largest Variance Standardized Residuals"},
    {kMsgProc, 772, "Distribution of the Variance Standardized Residuals"},
    {kMsgProc, 773, "Asymptotically Standardized Residual Matrix"},
    {kMsgProc, 774, "Averages of the Asymptotically Standardized Residuals"},
    {kMsgProc, 775, "Rank Order of the %i Largest Asymptotically Standardized Residuals"},
    {kMsgProc, 776, "Distribution of the Asymptotically Standardized Residuals"},
    {kMsgProc, 780, "Estimation Results"},
    {kMsgProc, 781, "Dependent Parameters"},
    {kMsgProc, 782, "Gradient"},
    {kMsgProc, 783, "First Derivatives"},
    {kMsgProc, 784, "t Values"},
    {kMsgProc, 785, "Standard Errors"},
    {kMsgProc, 786, "Parameter Estimates"},
    {kMsgProc, 791, "Estimated Matrix %s"},
    {kMsgProc, 792, "Additional Parameters"},
    {kMsgProc, 793, "Rotation Matrix"},
    {kMsgProc, 794, "Rotated Factor Loadings"},
    {kMsgProc, 800, "Supplementary Results"},
    {kMsgProc, 803, "Standardized Path Coefficients"},
    {kMsgProc, 804, "Squared Multiple Correlations"},
    {kMsgProc, 805, "Correlations among Exogenous Variables"},
    {kMsgProc, 806, "Correlations Among Factors"},
    {kMsgProc, 807, "Standardized Factor Loadings"},
    {kMsgProc, 821, "Coefficients of Determination"},
    {kMsgProc, 822, "Variables of the Structural Equations"},
    {kMsgProc, 823, "Stability Coefficient of Reciprocal Causation"},
    {kMsgProc, 824, "Total Effects"},
    {kMsgProc, 825, "Indirect Effects"},
    {kMsgProc, 826, "Latent Variable Score Regression Coefficients"},
    {kMsgProc, 827, "Factor Score Regression Coefficients"},
    {kMsgProc, 830, "Predicted Moments of Latent Variables"},
    {kMsgProc, 832, "Predicted Moments between Manifest and Latent Variables"},
    {kMsgProc, 860, "Modification Indices"},
    {kMsgProc, 861, "Lagrange Multiplier and Wald Test Indices for %s"},
    {kMsgProc, 862, "Rank Order of the Largest Lagrange Multipliers"},
    {kMsgProc, 863, "Lagrange Multiplier Tests for Releasing Equality Constraints"},
    {kMsgProc, 864, "Lagrange Multiplier Tests for Active Boundary Constraints"},
    {kMsgProc, 865, "Stepwise Multivariate Wald Test"},
    // 352/866: the INWGT= name (length, text), the number of its groups and
    // the BY values of the first few.
    {kMsgProc, 866, "ERROR: INWGT= data set %.*s holds the weights of %i BY groups (%s), and the step has no BY statement: give it the BY statement of the run that wrote them, or the weights of one group."},

    // The optimizer library.  549/202: the count of eigenvalues treated as
    // zero; 549/204: a parameter name (length, text).
    // The optimizer core.  Arguments: 2 maxTime; 4 a number and the
    // technique name; 46 the feasibility tolerance; 89 the variant; 137 the
    // tolerance; 603 the level and maxTime; 604 maxTime; 605 the level, the
    // technique name, maxIter and maxFunc; 607, 608 a criterion name; 611,
    // 612 a criterion name and its required count; 262 a parameter number;
    // 265 a count; 267 a threshold; 268 a count per bar character; 901
    // and 902 a technique code; 50, 51 a count; 903 a
    // bound, a parameter number and a bound; 904 a constraint number; 905 none.
    {kMsgNlp, 2, "WARNING: The optimization stopped at the time limit of %g seconds."},
    {kMsgNlp, 4, "WARNING: Optimization (%i) of technique %s did not converge."},
    {kMsgNlp, 6, "NOTE: The technique stopped without meeting a convergence criterion."},
    {kMsgNlp, 8, "NOTE: The technique stopped: its step could not reduce the objective."},
    {kMsgNlp, 9, "NOTE: The technique stopped: its model of the objective broke down."},
    {kMsgNlp, 10, "NOTE: The start point was moved to be feasible for the boundary and linear constraints."},
    {kMsgNlp, 40, "NOTE: The step length reached its upper limit (the objective may be unbounded below)."},
    {kMsgNlp, 41, "NOTE: The step length reached its upper limit (the objective may be unbounded above)."},
    {kMsgNlp, 42, "-"},
    {kMsgNlp, 43, "d"},
    {kMsgNlp, 46, "ERROR: No feasible start point was found with the feasibility tolerance %g."},
    {kMsgNlp, 47, "WARNING: The analytic derivative of a function differs from its finite-difference estimate."},
    {kMsgNlp, 48, "WARNING: The analytic derivative of a nonlinear constraint differs from its finite-difference estimate."},
    {kMsgNlp, 49, "WARNING: The objective does not reproduce its value at the same point."},
    {kMsgNlp, 50, "NOTE: %i linear constraint(s) repeating an earlier one were removed."},
    {kMsgNlp, 51, "NOTE: %i linear equality constraint(s) depending linearly on earlier ones were removed."},
    {kMsgNlp, 53, "Removed Repeated Linear Constraints"},
    {kMsgNlp, 54, "Removed Linearly Dependent Linear Constraints"},
    {kMsgNlp, 55, "Nelder-Mead Simplex with Linear Approximations of the Nonlinear Constraints"},
    {kMsgNlp, 56, "Quasi-Newton with Sequential Quadratic Programming"},
    {kMsgNlp, 59, "No Optimization"},
    {kMsgNlp, 60, "Trust Region Optimization"},
    {kMsgNlp, 61, "Newton-Raphson Ridge Optimization"},
    {kMsgNlp, 62, "Newton-Raphson Optimization with Line Search"},
    {kMsgNlp, 63, "Newton-Raphson Optimization (old form)"},
    {kMsgNlp, 64, "Levenberg-Marquardt Optimization"},
    {kMsgNlp, 65, "Gauss-Newton Optimization"},
    {kMsgNlp, 66, "Double Dogleg Optimization"},
    {kMsgNlp, 67, "Hybrid Quasi-Newton Least-Squares Optimization"},
    {kMsgNlp, 68, "Quasi-Newton Optimization"},
    {kMsgNlp, 69, "Dual Quasi-Newton Optimization"},
    {kMsgNlp, 70, "Conjugate-Gradient Optimization"},
    {kMsgNlp, 71, "Nelder-Mead Simplex Optimization"},
    {kMsgNlp, 72, "Nelder-Mead Simplex Optimization (second form)"},
    {kMsgNlp, 73, "Active Set Quadratic Optimization"},
    {kMsgNlp, 74, "Newton-Raphson Ridge Optimization (separate engine)"},
    {kMsgNlp, 75, "Active Set Quadratic Optimization with Sparse Constraint Factor"},
    {kMsgNlp, 76, "Broyden-Fletcher-Goldfarb-Shanno Update of the Inverse Hessian"},
    {kMsgNlp, 77, "Davidon-Fletcher-Powell Update of the Inverse Hessian"},
    {kMsgNlp, 78, "Dual Broyden-Fletcher-Goldfarb-Shanno Update"},
    {kMsgNlp, 79, "Dual Davidon-Fletcher-Powell Update"},
    {kMsgNlp, 80, "Automatic Restart Update (Powell-Beale)"},
    {kMsgNlp, 81, "Fletcher-Reeves Update"},
    {kMsgNlp, 82, "Polak-Ribiere Update"},
    {kMsgNlp, 83, "Conjugate Descent Update"},
    {kMsgNlp, 89, "Hybrid Form %i of the Quasi-Newton Update"},
    {kMsgNlp, 90, "No Parameter Scaling"},
    {kMsgNlp, 91, "Parameter Scaling by the Running Maximum"},
    {kMsgNlp, 92, "Damped Parameter Scaling"},
    {kMsgNlp, 93, "Parameter Scaling by the Latest Values"},
    {kMsgNlp, 98, "Lagrange Multiplier Update of the First Form"},
    {kMsgNlp, 99, "Lagrange Multiplier Update of the Second Form"},
    {kMsgNlp, 125, "Gradient Computed by Finite Differences"},
    {kMsgNlp, 126, "Jacobian Computed by Finite Differences"},
    {kMsgNlp, 127, "Cross-Product Jacobian Computed by Finite Differences"},
    {kMsgNlp, 128, "Hessian Computed by Finite Differences of Function Values"},
    {kMsgNlp, 129, "Hessian Computed by Finite Differences of Gradients"},
    {kMsgNlp, 130, "No feasible start point"},
    {kMsgNlp, 131, "The objective or the constraints could not be computed at the start point"},
    {kMsgNlp, 132, "The derivatives could not be computed at the start point"},
    {kMsgNlp, 133, "The objective or the constraints could not be computed at the final point"},
    {kMsgNlp, 134, "The derivatives could not be computed at the final point"},
    {kMsgNlp, 136, "WARNING: The gradient at the solution is large; the point may not be optimal."},
    {kMsgNlp, 137, "NOTE: The feasibility tolerance was raised to %g for the final point."},
    {kMsgNlp, 138, "NOTE: The active set changed in the last iterations."},
    {kMsgNlp, 140, "Linearly Dependent Gradients of Nonlinear Constraints"},
    {kMsgNlp, 147, "Optimization Start"},
    {kMsgNlp, 148, "Optimization Results"},
    {kMsgNlp, 150, "Value of Objective Function = %g"},
    {kMsgNlp, 155, "First and Second Order Lagrange Multipliers"},
    {kMsgNlp, 156, "First Order Lagrange Multipliers"},
    {kMsgNlp, 159, "Projected Gradient"},
    {kMsgNlp, 163, "Linear Constraints"},
    {kMsgNlp, 164, "Linear Constraints Evaluated at Solution"},
    {kMsgNlp, 165, "Linearly Dependent Active Linear Constraints"},
    {kMsgNlp, 170, "NOTE: Some parameters lie on active boundary constraints."},
    {kMsgNlp, 171, "Equality    /Lower Bound /Upper Bound "},
    {kMsgNlp, 174, "Active      /Violated    /Active      /Violated    "},
    {kMsgNlp, 175, "Value of Lagrange Function = %g"},
    {kMsgNlp, 180, "Jacobian of the Nonlinear Constraints Computed by Finite Differences"},
    {kMsgNlp, 181, "WARNING: The gradient check found differences to the finite-difference gradient."},
    {kMsgNlp, 182, "WARNING: The Jacobian check found differences to the finite-difference Jacobian."},
    {kMsgNlp, 183, "WARNING: The constraint-Jacobian check found differences to the finite-difference Jacobian."},
    {kMsgNlp, 184, "NOTE: The variance factor of the least-squares covariance is not used for this COV type."},
    {kMsgNlp, 185, "NOTE: The covariance matrix is formed from the Hessian of the Lagrange function."},
    {kMsgNlp, 186, "WARNING: The covariance matrix of the estimates could not be computed."},
    {kMsgNlp, 187, "NOTE: All parameters are at active constraints: no covariance matrix is computed."},
    {kMsgNlp, 188, "WARNING: Not enough memory for the covariance matrix of the estimates."},
    {kMsgNlp, 189, "WARNING: The matrix is singular and too large for a generalized inverse; no covariance matrix is formed."},
    {kMsgNlp, 190, "WARNING: The generalized inverse of the singular matrix failed."},
    {kMsgNlp, 191, "NOTE: The covariance matrix is computed from a generalized inverse."},
    {kMsgNlp, 192, "WARNING: The Jacobian or the cross-product Jacobian could not be evaluated at the final point."},
    {kMsgNlp, 193, "WARNING: The Hessian could not be evaluated at the final point."},
    {kMsgNlp, 194, "Hessian Matrix"},
    {kMsgNlp, 195, "Projected Hessian Matrix"},
    {kMsgNlp, 196, "Crossproduct Jacobian Matrix"},
    {kMsgNlp, 197, "Projected Crossproduct Jacobian Matrix"},
    {kMsgNlp, 198, "Covariance Matrix 1: Sandwich Form with the Squared Residuals (Least Squares)"},
    {kMsgNlp, 199, "Covariance Matrix 2: Inverse Hessian (Least Squares)"},
    {kMsgNlp, 200, "Covariance Matrix 3: Inverse Crossproduct Jacobian (Least Squares)"},
    {kMsgNlp, 202, "NOTE: %i eigenvalues are treated as zero in the generalized inverse."},
    {kMsgNlp, 204, "NOTE: Parameter %.*s has a variance that is practically zero."},
    {kMsgNlp, 205, "WARNING: All diagonal elements of the matrix are zero; the linear dependencies cannot be determined."},
    {kMsgNlp, 206, "NOTE: Each row of the following table expresses a parameter as a linear combination of the others."},
    {kMsgNlp, 207, "Finite-Difference Intervals of the Objective Estimated"},
    {kMsgNlp, 208, "Finite-Difference Intervals of the Constraints Estimated"},
    {kMsgNlp, 209, "Finite-Difference Intervals of the Objective and the Constraints Estimated"},
    {kMsgNlp, 210, "Factor sigma = %g"},
    {kMsgNlp, 211, "Linear Term of the Quadratic Objective"},
    {kMsgNlp, 212, "Determinant = %g"},
    {kMsgNlp, 213, "Determinant mantissa = %g (its power of ten is beyond the range of numbers)"},
    {kMsgNlp, 214, "Matrix has %i negative and %i zero eigenvalue(s)"},
    {kMsgNlp, 215, "Matrix has %i positive and %i zero eigenvalue(s)"},
    {kMsgNlp, 216, "Matrix has %i negative eigenvalue(s)"},
    {kMsgNlp, 217, "Matrix has %i positive eigenvalue(s)"},
    {kMsgNlp, 218, "Matrix has %i zero eigenvalue(s)"},
    {kMsgNlp, 219, "Matrix has only negative eigenvalues"},
    {kMsgNlp, 220, "Matrix has only positive eigenvalues"},
    {kMsgNlp, 221, "WARNING: The second-order optimality condition is violated at the solution."},
    {kMsgNlp, 222, "WARNING: The Jacobian could not be read for printing."},
    {kMsgNlp, 223, "Jacobian of the Functions"},
    {kMsgNlp, 224, "Jacobian of the Nonlinear Constraints"},
    {kMsgNlp, 225, "Hessian of the Lagrange Function"},
    {kMsgNlp, 228, "NOTE: %i nonlinear constraint(s) are marked *?*: violated by more than the tolerance but by at most 0.001."},
    {kMsgNlp, 229, "WARNING: The Lagrangian form of a matrix could not be evaluated at the final point."},
    {kMsgNlp, 234, "Intervals for the Objective"},
    {kMsgNlp, 235, "Intervals for the Constraints"},
    {kMsgNlp, 236, "Intervals for the Objective and the Constraints"},
    {kMsgNlp, 237, "NOTE: No free dimension is left: the projected matrices are not printed."},
    {kMsgNlp, 238, "Covariance Matrix 4: Sandwich Form with the Crossproduct Jacobian (Least Squares)"},
    {kMsgNlp, 239, "Covariance Matrix 5: Inverse of the Second Crossproduct Matrix (Least Squares)"},
    {kMsgNlp, 240, "Covariance Matrix 6: Crossproduct Sandwich (Least Squares)"},
    {kMsgNlp, 241, "Covariance Matrix 1: Sandwich Form with the Crossproduct Jacobian"},
    {kMsgNlp, 242, "Covariance Matrix 2: Inverse Hessian"},
    {kMsgNlp, 243, "Covariance Matrix 3: Inverse of the Second Crossproduct Matrix"},
    {kMsgNlp, 244, "Covariance Matrix 4: Sandwich Form with the Second Crossproduct Matrix"},
    {kMsgNlp, 245, "Covariance Matrix 5: Inverse Crossproduct Jacobian"},
    {kMsgNlp, 246, "Covariance Matrix 6: Crossproduct Sandwich"},
    {kMsgNlp, 247, "Covariance Matrix of the Estimates"},
    {kMsgNlp, 248, "Approximate Correlation Matrix of Parameter Estimates"},
    {kMsgNlp, 249, "Projected Hessian of the Lagrange Function"},
    {kMsgNlp, 250, "Cross-Product Jacobian of the Lagrange Function"},
    {kMsgNlp, 251, "Projected Cross-Product Jacobian of the Lagrange Function"},
    {kMsgNlp, 252, "WARNING: The Hessian at the start point is not positive definite."},
    {kMsgNlp, 253, "WARNING: The final point violates the constraints even with the largest feasibility tolerance."},
    {kMsgNlp, 255, "NOTE: The covariance matrix is formed from the cross-product matrix of the Lagrange function."},
    {kMsgNlp, 256, "NOTE: The covariance matrix is formed from the Hessian and the cross-product matrix of the Lagrange function."},
    {kMsgNlp, 257, "*"},
    {kMsgNlp, 258, ":"},
    {kMsgNlp, 261, "WARNING: The gradient analysis could not evaluate the objective or the gradient."},
    {kMsgNlp, 262, "NOTE: The gradient element of parameter %i is zero at every test point."},
    {kMsgNlp, 264, "Asymmetry of the Finite-Difference Hessian"},
    {kMsgNlp, 265, "The %i largest asymmetries of the Hessian from gradients are listed."},
    {kMsgNlp, 267, "Asymmetries below %g are not shown."},
    {kMsgNlp, 268, "One character of the bar stands for %i asymmetries"},
    // The confidence limits.  271 and 284 a value; 281, 285, 286 a
    // parameter name (length, text).
    {kMsgNlp, 271, "ERROR: The chi-square quantile of level %g cannot be computed: no profile limits."},
    {kMsgNlp, 277, "Wald and Profile-Likelihood Confidence Limits"},
    {kMsgNlp, 280, "NOTE: Profile-likelihood limits need a technique with derivatives: none are computed."},
    {kMsgNlp, 281, "End of the profile optimization for %.*s"},
    {kMsgNlp, 282, "NOTE: Without standard errors there are no Wald confidence limits."},
    {kMsgNlp, 284, "ERROR: The deviance factor %g of the profile limits is not positive: no limits are computed."},
    {kMsgNlp, 285, "Profile optimization with %.*s free"},
    {kMsgNlp, 286, "Profile optimization with %.*s fixed"},
    {kMsgNlp, 287, "WARNING: The %s profile-likelihood limit of %.*s at alpha %g is missing: the refits with the parameter fixed did not meet the target."},
    {kMsgNlp, 288, "WARNING: The %s profile-likelihood limit of %.*s at alpha %g is missing: the trace does not reach the target and the augmented system was not solved."},
    {kMsgNlp, 301, "Minimum Iterations"},
    {kMsgNlp, 302, "Maximum Iterations"},
    {kMsgNlp, 303, "Maximum Function Calls"},
    {kMsgNlp, 304, "Iterations Reducing Constraint Violation"},
    {kMsgNlp, 305, "Maximum Time in Seconds"},
    {kMsgNlp, 306, "ABSGCONV Gradient Criterion"},
    {kMsgNlp, 307, "GCONV Gradient Criterion"},
    {kMsgNlp, 308, "GCONV2 Gradient Criterion"},
    {kMsgNlp, 309, "ABSFCONV Function Criterion"},
    {kMsgNlp, 310, "FCONV Function Criterion"},
    {kMsgNlp, 311, "FCONV2 Function Criterion"},
    {kMsgNlp, 312, "FSIZE Parameter"},
    {kMsgNlp, 313, "ABSXCONV Parameter Change Criterion"},
    {kMsgNlp, 314, "XCONV Parameter Change Criterion"},
    {kMsgNlp, 315, "XSIZE Parameter"},
    {kMsgNlp, 316, "ABSCONV Function Criterion"},
    {kMsgNlp, 317, "Initial Simplex Size (INSTEP)"},
    {kMsgNlp, 318, "Singularity Tolerance (SINGULAR)"},
    {kMsgNlp, 319, "Line Search Method"},
    {kMsgNlp, 320, "Maximum Step Factor (MAXSTEP)"},
    {kMsgNlp, 321, "Line Search Precision (LSPRECISION)"},
    {kMsgNlp, 322, "Starting Step Length (INSTEP)"},
    {kMsgNlp, 323, "Damped Steps in Line Search (DAMPSTEP)"},
    {kMsgNlp, 324, "Trust Region Radius Factor (MAXSTEP)"},
    {kMsgNlp, 325, "Initial Hessian Factor (MAXSTEP)"},
    {kMsgNlp, 326, "Relative Accuracy of the Objective (FDIGITS)"},
    {kMsgNlp, 327, "Relative Accuracy of the Constraints (CDIGITS)"},
    {kMsgNlp, 329, "Feasibility Tolerance (LCEPSILON)"},
    {kMsgNlp, 330, "Linear Dependence Tolerance (LCSINGULAR)"},
    {kMsgNlp, 331, "Multiplier Threshold (LCDEACT)"},
    {kMsgNlp, 340, "NOTE: The matrix is singular: some parameters are linearly dependent."},
    {kMsgNlp, 381, "["},
    {kMsgNlp, 382, "]"},
    {kMsgNlp, 550, "Iteration History"},
    {kMsgNlp, 551, "Optimization Start"},
    {kMsgNlp, 552, "Active Constraints"},
    {kMsgNlp, 553, "Active Constraints (changed)"},
    {kMsgNlp, 554, "Objective Function"},
    {kMsgNlp, 555, "Max Abs Gradient Element"},
    {kMsgNlp, 556, "Radius"},
    {kMsgNlp, 558, "Maximum Constraint Violation"},
    {kMsgNlp, 559, "Max Grad of the Lagrange Function"},
    {kMsgNlp, 569, "Optimization Results"},
    {kMsgNlp, 570, "Iterations"},
    {kMsgNlp, 571, "Function Calls"},
    {kMsgNlp, 572, "Jacobian Calls"},
    {kMsgNlp, 573, "Gradient Calls"},
    {kMsgNlp, 574, "Hessian Calls"},
    {kMsgNlp, 575, "Restarts"},
    {kMsgNlp, 581, "Max Projected Gradient"},
    {kMsgNlp, 582, "Value Lagrange Function"},
    {kMsgNlp, 584, "Actual Over Predicted Change (Lambda)"},
    {kMsgNlp, 585, "Simplex Size"},
    {kMsgNlp, 586, "Standard Deviation of the Simplex Values"},
    {kMsgNlp, 587, "Simplex Size"},
    {kMsgNlp, 588, "Max Abs Gradient Element"},
    {kMsgNlp, 589, "Slope of Search Direction"},
    {kMsgNlp, 590, "Ridge"},
    {kMsgNlp, 591, "Actual Over Predicted Change"},
    {kMsgNlp, 600, "Convergence Status"},
    {kMsgNlp, 601, "WARNING: The optimization stopped before the minimum number of iterations."},
    {kMsgNlp, 602, "The optimization stopped before the minimum number of iterations"},
    {kMsgNlp, 603, "Maximum time (%i) of %g seconds reached"},
    {kMsgNlp, 604, "Maximum time of %g seconds reached"},
    {kMsgNlp, 605, "WARNING: Optimization (%i) of technique %s stopped at its limit of %g iterations or %g function calls."},
    {kMsgNlp, 606, "Maximum number of iterations or function calls reached"},
    {kMsgNlp, 607, "NOTE: The optimization stopped while criterion %s was counting successive iterations."},
    {kMsgNlp, 608, "Stopped while %s was counting"},
    {kMsgNlp, 609, "NOTE: All parameters are fixed by active constraints."},
    {kMsgNlp, 610, "All parameters are fixed by active constraints"},
    {kMsgNlp, 611, "NOTE: Convergence criterion %s satisfied (%i successive iterations)."},
    {kMsgNlp, 612, "%s convergence criterion satisfied (%i)"},
    {kMsgNlp, 613, "NOTE: No optimization was done."},
    {kMsgNlp, 614, "The optimization ended without a status"},
    {kMsgNlp, 620, "Parameters"},
    {kMsgNlp, 621, "Functions (Observations)"},
    {kMsgNlp, 622, "Lower Bounds"},
    {kMsgNlp, 623, "Upper Bounds"},
    {kMsgNlp, 624, "Linear Constraints"},
    {kMsgNlp, 625, "Nonlinear Constraints"},
    {kMsgNlp, 626, "Nonlinear Equality Constraints"},
    {kMsgNlp, 627, "Nonzeros of the Sparse Hessian"},
    {kMsgNlp, 628, "Elements of the Diagonal Hessian"},
    {kMsgNlp, 700, "Eigenvalues"},
    {kMsgNlp, 701, "Linear Dependencies Between Parameters"},
    {kMsgNlp, 710, "Gradient Test Values"},
    {kMsgNlp, 711, "Distribution of the Hessian Asymmetries"},
    {kMsgNlp, 712, "Optimization Options"},
    {kMsgNlp, 713, "Problem Description"},
    {kMsgNlp, 715, "Wald Confidence Limits"},
    {kMsgNlp, 716, "Confidence Limits"},
    {kMsgNlp, 717, "Jacobian Matrix"},
    {kMsgNlp, 718, "Hessian Matrix"},
    {kMsgNlp, 719, "Optimization Start"},
    {kMsgNlp, 720, "Optimization Results"},
    {kMsgNlp, 721, "Lagrange Multipliers"},
    {kMsgNlp, 722, "Projected Gradient"},
    {kMsgNlp, 723, "Finite-Difference Intervals"},
    {kMsgNlp, 724, "Linear Constraints Evaluated at Solution"},
    {kMsgNlp, 725, "Dependent Boundary Constraints"},
    {kMsgNlp, 726, "Dependent Nonlinear Constraints"},
    {kMsgNlp, 727, "Nonlinear Constraints"},
    {kMsgNlp, 729, "Largest Asymmetries of the Hessian"},
    {kMsgNlp, 730, "Linearly Dependent Linear Constraints"},
    {kMsgNlp, 731, "Linearly Dependent Nonlinear Constraints"},
    {kMsgNlp, 803, "Symmetry of the Finite-Difference Hessian"},
    {kMsgNlp, 867, "Covariance Matrix"},
    {kMsgNlp, 884, "Correlation Matrix"},
    {kMsgNlp, 885, "Parameters and Gradient"},
    {kMsgNlp, 901, "ERROR: Technique %i of the optimizer is not available."},
    {kMsgNlp, 902, "ERROR: Technique %i of the optimizer does not take general linear or nonlinear constraints."},
    {kMsgNlp, 903, "ERROR: The lower bound %g of parameter %i is above its upper bound %g."},
    {kMsgNlp, 904, "ERROR: The linear equality constraint %i depends on earlier ones but contradicts them: the constraints are infeasible."},
    {kMsgNlp, 905, "WARNING: The covariance hook has no matrix file: no matrices are stored."},
    {kMsgNlp, 906, "ERROR: The optimizer option %s=%g is out of range: it must be %s."},
};

const size_t kMessageCatalogueSize = sizeof kMessageCatalogue / sizeof kMessageCatalogue[0];

}  // namespace velix::platform
