# Reference of messages_test.cpp, ANegativeVarianceIsNamedWithItsVariable:
# one factor of variance 1 on three variables correlated .8, .9 and .9
# (N = 200) fits the correlations exactly with the unique variance of x3
# 1 - .9 .9 / .8 = -0.0125 (the same model as LINEQS, RAM and FACTOR
# n=1).  R's lavaan 0.6.14 (likelihood = "wishart")
# gives the same estimate and warns that an estimated variance is negative.
#
#   Rscript tests/e2e/negative_variance_reference.R
suppressMessages(library(lavaan))
R <- matrix(c(1, .8, .9, .8, 1, .9, .9, .9, 1), 3, 3,
            dimnames = list(paste0("x", 1:3), paste0("x", 1:3)))
m <- 'F1 =~ l1*x1 + l2*x2 + l3*x3; F1 ~~ 1*F1
      x1 ~~ ve1*x1; x2 ~~ ve2*x2; x3 ~~ ve3*x3'
fit <- cfa(m, sample.cov = R, sample.nobs = 200, likelihood = "wishart", std.lv = TRUE)
pe <- parameterEstimates(fit)
pe <- pe[pe$label != "", ]
for (i in seq_len(nrow(pe))) cat(sprintf('%s %.10g\n', pe$label[i], pe$est[i]))
