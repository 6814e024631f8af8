# Reference numbers of moment_checks_test.cpp from lavaan 0.6.14: the
# two-factor model of x1-x8 of hs with x9 partialled out, fitted to the
# partial covariance matrix of the raw data, the residuals of x1-x8 on x9
# (lm, with an intercept) over N - 2, as the raw data and every moment form
# (TYPE=SYMATRIX included) give it: with N - 1 observations, and under
# DFREDUCE=5 with N - 6 (the matrix is the same: the partial variable's
# divisor is that of the data's N).  ML with likelihood = "wishart" and
# ULS.  Without PARTIAL, DFREDUCE=5 moves the covariance matrix of x1-x6
# to the divisor N - 6 (one-factor models of x1-x3 and x4-x6 in one CFA).
# Run from tests/fixtures: Rscript ../e2e/moment_step/moment_checks_reference.R
suppressMessages(library(lavaan))
d <- read.csv("hs.csv")
n <- nrow(d)
model <- "F1 =~ 1*x1 + l2*x2 + l3*x3 + l7*x7\nF2 =~ 1*x4 + l5*x5 + l6*x6 + l8*x8
F1 ~~ v1*F1\nF2 ~~ v2*F2\nF1 ~~ c12*F2"
e <- resid(lm(as.matrix(d[, paste0("x", 1:8)]) ~ d$x9))
p <- crossprod(e) / (n - 2)
for (est in c("ML", "ULS")) for (nobs in c(n - 1, n - 6)) {
  f <- cfa(model, sample.cov = p, sample.nobs = nobs, estimator = est,
           likelihood = if (est == "ML") "wishart" else "default")
  pe <- parameterEstimates(f)
  cat(sprintf("partial %s N %d:", est, nobs))
  for (l in c("l2", "l5", "v1", "c12")) cat(sprintf(" %s %.10g", l, pe$est[pe$label == l]))
  cat(sprintf(" chisq %.10g\n", fitMeasures(f, "chisq")))
}
