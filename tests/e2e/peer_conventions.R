# Reference numbers of tests/e2e/peer_conventions_test.cpp: the conventions
# in which this program's numbers differ from lavaan 0.6.14's, each checked
# through its conversion (docs/usage.md, "Comparing numbers with other
# programs"), on the nine-variable model of tests/fixtures/hs_cfa_ml.vx:
#
# - vardef_n: lavaan's likelihood = "normal" fit (moments with divisor N,
#   standard errors with N, chi-square N F): its estimates, standard errors
#   and chi-square;
# - gls: lavaan's GLS modification indices (scaled by N) of the fixed
#   loadings and error covariances, keyed as in results_reference.R, and
#   their expected changes (epc:);
# - dwls: lavaan's DWLS fit function (2 fmin) and GFI;
# - fixed_x: the GFI and AGFI of a path model of observed variables (x4 on
#   x1 and x2, x5 on x1 and x3, x6 on x2, the errors correlated as sem()
#   has them) under fixed.x = FALSE and its default TRUE;
# - uls: the model with the three error variances of the first factor
#   equal, which cannot fit every variance; its minimum of 0.5 tr((S - C)^2)
#   (each off-diagonal moment counted twice) as lavaan's WLS with the
#   weights 1 for a variance and 2 for a covariance, on the moments with
#   divisor N - 1; and lavaan's own ULS estimates, which count each moment
#   once.
#
#   Rscript tests/e2e/peer_conventions.R   (writes tests/fixtures/peer_conventions.csv)
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
source(file.path(here, "reference_models.R"))
hs <- read.csv(file.path(here, "..", "fixtures", "hs.csv"))
out <- data.frame(case = character(), key = character(), value = numeric())
put <- function(case, key, value) out[nrow(out) + 1, ] <<- list(case, key, value)

n <- cfa(hs_lavaan, data = hs, likelihood = "normal")
pe <- parameterEstimates(n)
pe <- pe[pe$label != "", ]
for (i in seq_len(nrow(pe))) {
  put("vardef_n", paste0("est:", pe$label[i]), pe$est[i])
  put("vardef_n", paste0("se:", pe$label[i]), pe$se[i])
}
put("vardef_n", "chisq", fitMeasures(n, "chisq"))

g <- cfa(hs_lavaan, data = hs, estimator = "GLS")
mi <- modindices(g)
mi <- mi[mi$op == "=~" | (mi$op == "~~" & grepl("^x", mi$lhs) & grepl("^x", mi$rhs)), ]
for (i in seq_len(nrow(mi))) put("gls", paste0("mi:", mi$lhs[i], mi$op[i], mi$rhs[i]), mi$mi[i])
for (i in seq_len(nrow(mi))) put("gls", paste0("epc:", mi$lhs[i], mi$op[i], mi$rhs[i]), mi$epc[i])

d <- cfa(hs_lavaan, data = hs, estimator = "DWLS")
put("dwls", "f", 2 * fitMeasures(d, "fmin"))
put("dwls", "gfi", fitMeasures(d, "gfi"))

paths <- "x4 ~ x1 + x2\n  x5 ~ x1 + x3\n  x6 ~ x2"
for (fixed in c(FALSE, TRUE)) {
  f <- sem(paths, data = hs, likelihood = "wishart", fixed.x = fixed)
  for (m in c("gfi", "agfi")) put("fixed_x", paste0(m, if (fixed) ":true" else ":false"), fitMeasures(f, m))
}

equal <- paste(hs_lavaan, "\n  ve1 == ve2; ve2 == ve3")
S <- cov(hs[, paste0("x", 1:9)])
W <- diag(ifelse(lav_matrix_vech(diag(9)) == 1, 1, 2))
twice <- sem(equal, sample.cov = S, sample.nobs = nrow(hs), sample.cov.rescale = FALSE,
             estimator = "WLS", WLS.V = W, se = "none", test = "none")
once <- sem(equal, sample.cov = S, sample.nobs = nrow(hs), sample.cov.rescale = FALSE,
            estimator = "ULS", se = "none", test = "none")
C <- lavInspect(twice, "implied")$cov
put("uls", "f", 0.5 * sum((S - C)^2))
for (p in c("l2", "l3", "l5", "vvis", "ve1", "ve4")) {
  put("uls", paste0("est:", p), coef(twice)[[p]])
  put("uls", paste0("once:", p), coef(once)[[p]])
}
out$value <- trimws(format(out$value, digits = 15, scientific = TRUE))
write.csv(out, file.path(here, "..", "fixtures", "peer_conventions.csv"),
          row.names = FALSE, quote = FALSE)
