# Reference numbers of the BY-group, read-back and stored-model tests
# (by_groups_test.cpp, read_back_test.cpp, stored_model_test.cpp,
# moment_step/moment_inputs_test.cpp) from lavaan 0.6.14; run from
# tests/fixtures: Rscript ../e2e/single_run_reference.R
# Maximum likelihood with the N - 1 convention (likelihood = "wishart") for
# moments about the means; moments about zero (NOINT, UCOV) use N.
suppressMessages(library(lavaan))
show <- function(tag, f, labels = character()) {
  fm <- fitMeasures(f, c("chisq", "df", "pvalue"))
  cat(sprintf("%s chisq %.10g df %d p %.10g\n", tag, fm[["chisq"]], as.integer(fm[["df"]]), fm[["pvalue"]]))
  pe <- parameterEstimates(f)
  for (l in labels) cat(sprintf("%s %s %.10g se %.10g\n", tag, l, pe$est[pe$label == l], pe$se[pe$label == l]))
}
hs <- read.csv("hs.csv")
by <- read.csv("hs_by.csv")

# A path model on each school of hs_by: x1 on x2 and x3, x4 on x1; the
# covariances of x2 and x3 are those of the sample (fixed.x).
path <- "x1 ~ b2*x2 + b3*x3\nx4 ~ c1*x1"
for (s in 1:2) {
  f <- sem(path, data = by[by$school == s, ], likelihood = "wishart", fixed.x = TRUE)
  show(paste0("path school ", s), f, c("b2", "c1"))
  cat(sprintf("path school %d n %d\n", s, lavInspect(f, "nobs")))
}

# The covariance of the exogenous x3 and x4 fixed at zero: a restriction.
zero <- "x1 ~ b1*x3 + b2*x4\nx3 ~~ v3*x3\nx4 ~~ v4*x4\nx3 ~~ 0*x4"
show("zero", sem(zero, data = hs, likelihood = "wishart", fixed.x = FALSE), c("b1", "v3"))

# One factor of x1-x4 on the covariances about the means, and on the
# moments about zero X'X / N with N in the chi-square.
one <- "F =~ 1*x1 + l2*x2 + l3*x3 + l4*x4\nF ~~ vf*F"
show("one factor", cfa(one, data = hs, likelihood = "wishart"), c("l2", "vf"))
X <- as.matrix(hs[, 1:4])
show("about zero", cfa(one, sample.cov = crossprod(X) / nrow(X), sample.nobs = nrow(X),
                       sample.cov.rescale = FALSE, likelihood = "normal"), c("l2", "vf"))
