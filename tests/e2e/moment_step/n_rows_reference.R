# Reference numbers of the tests of moment data sets without an N row
# (moment_inputs_test.cpp, MomentDataWithoutNRow) from lavaan 0.6.14: the
# three-factor model of hs fitted to the covariance matrix alone
# (sample.cov, sample.nobs), maximum likelihood with the N - 1 convention
# (likelihood = "wishart"), as the moment data sets give it.
# Run from tests/fixtures: Rscript ../e2e/moment_step/n_rows_reference.R
suppressMessages(library(lavaan))
model <- "Fvis =~ 1*x1 + l2*x2 + l3*x3\nFtxt =~ 1*x4 + l5*x5 + l6*x6\nFspd =~ 1*x7 + l8*x8 + l9*x9
Fvis ~~ vvis*Fvis\nFtxt ~~ vtxt*Ftxt\nFspd ~~ vspd*Fspd"
show <- function(tag, s, n) {
  f <- cfa(model, sample.cov = s, sample.nobs = n, likelihood = "wishart")
  pe <- parameterEstimates(f)
  cat(sprintf("%s chisq %.10g\n", tag, fitMeasures(f, "chisq")))
  for (l in c("l2", "vvis")) cat(sprintf("%s %s %.10g se %.10g\n", tag, l, pe$est[pe$label == l], pe$se[pe$label == l]))
}
# The matrix of all 301 pupils with N = 301: the numbers of the raw data
# (hs_cfa_ml.expected.json).
hs <- read.csv("hs.csv")
show("hs", cov(hs), 301)
# The matrix of the 156 pupils of school 1 read with N = 145 (NOBS=145 for
# a BY group of matrices without N rows): the estimates of school 1's raw
# data, the standard errors and chi-square of 145 observations.
by <- read.csv("hs_by.csv")
show("school 1 as 145", cov(by[by$school == 1, -1]), 145)
