# Reference of stored_model_test.cpp, StoredModel.EachByGroupTakesTheStored
# ModelOfItsByValuesInAnyOrder: MASS's crabs (tests/fixtures/crabs.csv), one
# factor of FL RW CL CW BD in each species, lavaan 0.6.14 fitted to each
# species' covariance matrix: the chi-square by ML (likelihood = "wishart")
# and by GLS.
#
#   Rscript tests/e2e/crabs_groups_reference.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
crabs <- read.csv(file.path(here, "..", "fixtures", "crabs.csv"))
m <- "F =~ FL + RW + CL + CW + BD"
for (est in c("ML", "GLS")) for (s in c("B", "O")) {
  x <- crabs[crabs$sp == s, c("FL", "RW", "CL", "CW", "BD")]
  f <- cfa(m, sample.cov = cov(x), sample.nobs = nrow(x), estimator = est,
           likelihood = if (est == "ML") "wishart" else "default")
  cat(sprintf("%s species %s: chisq %.8f\n", est, s, fitMeasures(f, "chisq")))
}
