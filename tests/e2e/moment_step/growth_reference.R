# Reference numbers of the tests of a linear growth model with means
# (augmented_moments_test.cpp) from lavaan 0.6.14: the intercept and slope
# of lavaan's Demo.growth (t1-t4, N = 400) with the time scores 0 to 3,
# maximum likelihood with the N convention (likelihood = "normal", lavaan's
# default for growth()), which an AUGMENT analysis follows: chi-square
# N F, and under VARDEF=N the same variances.  The data are
# tests/fixtures/demo_growth.csv, written by the first line below.
# Run from tests/fixtures: Rscript ../e2e/moment_step/growth_reference.R
suppressMessages(library(lavaan))
# write.csv(Demo.growth, "demo_growth.csv", row.names = FALSE, quote = FALSE)
d <- read.csv("demo_growth.csv")[, c("t1", "t2", "t3", "t4")]
model <- "i =~ 1*t1 + 1*t2 + 1*t3 + 1*t4\ns =~ 0*t1 + 1*t2 + 2*t3 + 3*t4"
f <- growth(model, data = d)
cat(sprintf("chisq %.10g df %d\n", fitMeasures(f, "chisq"), fitMeasures(f, "df")))
pe <- parameterEstimates(f)
for (k in which(pe$se > 0))
  cat(sprintf("%s%s%s %.10g se %.10g\n", pe$lhs[k], pe$op[k], pe$rhs[k], pe$est[k], pe$se[k]))
