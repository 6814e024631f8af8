# Reference of model_readers_test.cpp, LineqsStatements.
# ACovariancePairGivenAgainTakesTheLaterEntry: the model of
# examples/default.vx with the covariances of its three factors given as
# one block, cov(Fvis, Fspd) then fixed at 0 by a later entry; R's lavaan
# 0.6.14, ML with likelihood = "wishart" (N - 1 convention) on
# tests/fixtures/hs.csv (the same data as examples/hs.csv).
#
#   Rscript tests/e2e/cov_entry_reference.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
hs <- read.csv(file.path(here, "..", "fixtures", "hs.csv"))
m <- '
  Fvis =~ 1*x1 + l2*x2 + l3*x3
  Ftxt =~ 1*x4 + l5*x5 + l6*x6
  Fspd =~ 1*x7 + l8*x8 + l9*x9
  Fvis ~~ cf1*Ftxt; Ftxt ~~ cf3*Fspd; Fvis ~~ 0*Fspd'
fit <- cfa(m, data = hs, likelihood = "wishart")
cat(sprintf("chisq %.8f df %d\n", fitMeasures(fit, "chisq"), fitMeasures(fit, "df")))
