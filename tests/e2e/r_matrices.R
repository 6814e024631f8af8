# The R-written matrices of DataSetReading.AMatrixFromRReadAsRawDataIsNamed
# (tests/e2e/data_set_reading_test.cpp): the covariance and correlation
# matrices of x1-x6 of hs.csv as R's default write.csv writes them (the
# row names under an empty first name), and lavaan's chi-square of the
# two-factor model fitted to the covariance matrix with 301 observations
# (likelihood = "wishart"): 24.2803708 on 8 degrees of freedom, that of the
# raw data.  hs_sscp_r.csv is R's crossprod of the same columns with an
# Intercept column of ones (TYPE=SSCP without N or _TYPE_ rows), as
# MomentData.MatrixRowsAreMatchedToTheVariablesByTheirNames
# (tests/e2e/moment_step/moment_inputs_test.cpp) reads it.
# Run from the repository: Rscript tests/e2e/r_matrices.R
library(lavaan)
hs <- read.csv("tests/fixtures/hs.csv")[, 1:6]
write.csv(cov(hs), "tests/fixtures/hs_cov_r.csv")
write.csv(cor(hs), "tests/fixtures/hs_cor_r.csv")
write.csv(crossprod(cbind(Intercept = 1, as.matrix(hs))), "tests/fixtures/hs_sscp_r.csv")
model <- "F1 =~ x1 + x2 + x3\nF2 =~ x4 + x5 + x6"
fit <- cfa(model, sample.cov = cov(hs), sample.nobs = nrow(hs), likelihood = "wishart")
cat(sprintf("%.7f %d\n", fitMeasures(fit, "chisq"), as.integer(fitMeasures(fit, "df"))))
