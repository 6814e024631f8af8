# Reference of standard_errors_test.cpp, DependentParameters,
# IndirectEffectAsLavaan: the mediation of R's datasets::attitude,
# learning on complaints (a) and rating on complaints (cp) and learning
# (b), with the indirect effect ind = a b, which no path carries.  R's
# lavaan 0.6.14, ML with likelihood = "wishart" (N - 1 convention,
# expected information); the delta-method standard error of ind.  The
# covariances are those the test writes as its TYPE=COV data set.
#
#   Rscript tests/e2e/indirect_effect_reference.R
suppressMessages(library(lavaan))
d <- datasets::attitude[, c("complaints", "learning", "rating")]
S <- cov(d)
for (i in 1:3) cat(sprintf("COV,%s,%s\n", colnames(S)[i], paste(sprintf("%.17g", S[i, ]), collapse = ",")))
m <- '
  learning ~ a*complaints
  rating ~ cp*complaints + b*learning
  ind := a*b'
fit <- sem(m, data = d, likelihood = "wishart")
pe <- parameterEstimates(fit)
pe <- pe[pe$label == "ind", ]
cat(sprintf("ind %.10f se %.10f z %.10f\n", pe$est, pe$se, pe$z))
