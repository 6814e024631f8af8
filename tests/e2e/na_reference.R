# R's reading of the NA file of OddInputs.DataFilesOfOtherProgramsGiveThe-
# EstimatesOfTheirPlainForm (tests/e2e/odd_inputs_test.cpp): hs.csv with x3
# of observation 1 and x7 of observation 4 missing, written by write.csv
# (which writes NA) and read back by read.csv.  Every column stays numeric,
# and lavaan's listwise fit (likelihood = "wishart", 299 observations) is
# the fit of hs.csv without those two observations: l2 = 0.5718.
# Run from the repository: Rscript tests/e2e/na_reference.R
library(lavaan)
hs <- read.csv("tests/fixtures/hs.csv")
hs$x3[1] <- NA
hs$x7[4] <- NA
file <- tempfile(fileext = ".csv")
write.csv(hs, file, row.names = FALSE)
na <- read.csv(file)
stopifnot(all(sapply(na, is.numeric)))
model <- "Fvis =~ x1 + x2 + x3\nFtxt =~ x4 + x5 + x6\nFspd =~ x7 + x8 + x9"
fit <- function(d) coef(cfa(model, data = d, missing = "listwise", likelihood = "wishart"))
stopifnot(isTRUE(all.equal(fit(na), fit(hs[-c(1, 4), ]))))
print(round(fit(na), 4))
