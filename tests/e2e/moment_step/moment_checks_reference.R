# Reference numbers of moment_checks_test.cpp from lavaan 0.6.14: the
# two-factor model of x1-x8 of hs fitted to a symmetric matrix alone
# (sample.cov), whose ML estimates do not depend on N: the covariance
# matrix of x1-x9 with x9 partialled out, S11 - S12 S22^-1 S21, as a
# TYPE=SYMATRIX data set with PARTIAL x9 is analysed as given.
# Run from tests/fixtures: Rscript ../e2e/moment_step/moment_checks_reference.R
suppressMessages(library(lavaan))
model <- "F1 =~ 1*x1 + l2*x2 + l3*x3 + l7*x7\nF2 =~ 1*x4 + l5*x5 + l6*x6 + l8*x8
F1 ~~ v1*F1\nF2 ~~ v2*F2\nF1 ~~ c12*F2"
s <- cov(read.csv("hs.csv"))
p <- s[1:8, 1:8] - s[1:8, 9, drop = FALSE] %*% solve(s[9, 9]) %*% s[9, 1:8]
f <- cfa(model, sample.cov = p, sample.nobs = 301, likelihood = "wishart")
pe <- parameterEstimates(f)
for (l in c("l2", "l5", "v1", "c12")) cat(sprintf("partial %s %.10g\n", l, pe$est[pe$label == l]))
