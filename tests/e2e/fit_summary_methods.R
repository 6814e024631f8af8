# Reference numbers of tests/e2e/estimation_test.cpp (FitSummaryOfOtherMethods):
# the hs three-factor model fitted by GLS and ULS with lavaan 0.6.14.
# Run: EDITOR=vi Rscript tests/e2e/fit_summary_methods.R
suppressMessages(library(lavaan))
d <- read.csv("tests/fixtures/hs.csv")
m <- 'Fvis =~ x1 + x2 + x3
      Ftxt =~ x4 + x5 + x6
      Fspd =~ x7 + x8 + x9'
f <- cfa(m, data = d, estimator = "GLS")
fm <- fitMeasures(f, c("chisq", "baseline.chisq", "cfi", "tli", "nfi", "rmsea",
                       "rmsea.ci.lower", "rmsea.ci.upper", "gfi", "agfi"))
cat(sprintf("gls %s %.15g\n", names(fm), fm), sep = "")
# ULS: the GFI in its trace form 1 - tr((S - C)^2) / tr(S^2) (off-diagonal
# residuals counted twice), from the package's S and implied C.
u <- cfa(m, data = d, estimator = "ULS")
S <- lavInspect(u, "sampstat")$cov
C <- lavInspect(u, "implied")$cov
g <- 1 - sum((S - C)^2) / sum(S^2)
cat(sprintf("uls gfi %.15g agfi %.15g\n", g, 1 - 45 / 24 * (1 - g)))
