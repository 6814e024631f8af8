# The R-written file of OddInputs.DataFilesOfOtherProgramsGiveTheEstimates-
# OfTheirPlainForm (tests/e2e/odd_inputs_test.cpp): hs.csv with a text
# column `note` whose first value holds a newline, written by R's default
# write.csv (row names under an empty first name, every text quoted).  The
# test builds the same text: the lines of hs.csv, each after its quoted row
# number and before its quoted note.  lavaan's fit of the three-factor
# model (likelihood = "wishart") on what read.csv reads back: chi-square
# 85.0221 on 24 degrees of freedom, that of hs.csv itself.
# Run from the repository: Rscript tests/e2e/row_names_reference.R
library(lavaan)
hs <- read.csv("tests/fixtures/hs.csv")
hs$note <- c("first\nline", rep("", nrow(hs) - 1))
file <- tempfile(fileext = ".csv")
write.csv(hs, file)
plain <- readLines("tests/fixtures/hs.csv")

built <- c(paste0('"",', paste0('"', names(hs), '"', collapse = ",")),
           paste0('"1",', plain[2], ',"first'), 'line"',
           paste0('"', 2:nrow(hs), '",', plain[-(1:2)], ',""'))
stopifnot(identical(readLines(file), built))
back <- read.csv(file)
stopifnot(identical(back$note, hs$note))
model <- "Fvis =~ x1 + x2 + x3\nFtxt =~ x4 + x5 + x6\nFspd =~ x7 + x8 + x9"
fit <- cfa(model, data = back, likelihood = "wishart")
cat(sprintf("%.10f %d\n", fitMeasures(fit, "chisq"), as.integer(fitMeasures(fit, "df"))))
