# Reference numbers of DataSetReading.MomentRowsWithoutATypeAreRefusedAndReadWithIt
# (tests/e2e/data_set_reading_test.cpp): the regression of anomia71 on
# anomia67 and education fitted by lavaan 0.6 (ML, likelihood = "wishart")
# to the covariance matrix of Wheaton et al. (1977) in tests/fixtures/
# wheaton.csv, with its N of 932 and with 466, the N of the second BY
# group of the test.  The test writes the matrix as correlations with a
# STD row, which give back these covariances.
# Run from the repository: Rscript tests/e2e/moment_types_reference.R
suppressMessages(library(lavaan))
w <- read.csv("tests/fixtures/wheaton.csv", comment.char = "#")
m <- as.matrix(w[w$X_TYPE_ == "COV", -(1:2)])
rownames(m) <- colnames(m)
for (n in c(932, 466)) {
  f <- sem("anomia71 ~ b1*anomia67 + b2*education", sample.cov = m, sample.nobs = n, likelihood = "wishart")
  pe <- parameterEstimates(f)
  for (l in c("b1", "b2"))
    cat(sprintf("N %d %s %.10g se %.10g\n", n, l, pe$est[pe$label == l], pe$se[pe$label == l]))
}
