# Reference numbers of model_kind_results_test.cpp,
# ModelKindResults.RamStandardizedPathsOfEndogenousCausesAsLavaan: the
# standardized paths (std.all) of the chain x1 -> x2 -> x3 -> x4 on the
# Holzinger-Swineford data by ML with R's lavaan 0.6.14 (likelihood =
# "wishart", the variance of x1 estimated), beside the sample correlations
# of the pairs, which they equal.
#
#   Rscript tests/e2e/standardized_chain_reference.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
hs <- read.csv(file.path(here, "..", "fixtures", "hs.csv"))
fit <- sem("x2 ~ b21*x1; x3 ~ b32*x2; x4 ~ b43*x3", data = hs, likelihood = "wishart", fixed.x = FALSE)
s <- standardizedSolution(fit)
s <- s[s$op == "~", ]
r <- cor(hs)
cat(sprintf("%s %.10f  r = %.10f\n", s$label, s$est.std, r[cbind(match(s$lhs, names(hs)), match(s$rhs, names(hs)))]), sep = "")
