# Reference of moment_inputs_test.cpp, MomentData.EveryMomentFormSweepsOut
# ThePartialVariablesAsRawDataDo: two correlated factors of x1-x8 of
# tests/fixtures/hs.csv with x9 partialled out, and the same model in each
# school of tests/fixtures/hs_by.csv.  R's lavaan 0.6.14, ML with
# likelihood = "wishart", fitted to the partial covariance matrix: the
# residuals of x1-x8 on x9 (lm, with an intercept) over N - 2, with N - 1
# observations, so that the chi-square is (N - 2) F.
#
#   Rscript tests/e2e/moment_step/partial_reference.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "..", "fixtures")
model <- "F1 =~ 1*x1 + l2*x2 + l3*x3 + l7*x7
          F2 =~ 1*x4 + l5*x5 + l6*x6 + l8*x8"
fit_partial <- function(d) {
  n <- nrow(d)
  e <- resid(lm(as.matrix(d[, paste0("x", 1:8)]) ~ d$x9))
  cfa(model, sample.cov = crossprod(e) / (n - 2), sample.nobs = n - 1, likelihood = "wishart")
}
fit <- fit_partial(read.csv(file.path(fixtures, "hs.csv")))
pe <- parameterEstimates(fit)
cat(sprintf("hs: F %.10f chisq %.8f df %d l2 %.8f se %.8f\n", fitMeasures(fit, "fmin") * 2,
            fitMeasures(fit, "chisq"), fitMeasures(fit, "df"), pe$est[pe$label == "l2"], pe$se[pe$label == "l2"]))
by <- read.csv(file.path(fixtures, "hs_by.csv"))
for (s in unique(by$school)) {
  f <- fit_partial(by[by$school == s, ])
  cat(sprintf("school %d: F %.10f\n", s, fitMeasures(f, "fmin") * 2))
}
