# Reference numbers of exogenous_block_test.cpp: the path model
#   x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4
# on x1-x4 of hs.csv with part of the exogenous block of x2 and x3 fixed
# (the variance of x2 at 1, or their covariance at 0.3) and the rest of it
# estimated (fixed.x = FALSE), by ML (N - 1 convention) and GLS, from
# lavaan 0.6.14.  Labels e1 and e2 are the block's free elements in the
# order the model numbers them (x2 with x2, x3 with x2, x3 with x3).
# Below, the block left wholly to the defaults, by ML, GLS, WLS and DWLS.
#
#   Rscript tests/e2e/exogenous_block_reference.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
hs <- read.csv(file.path(here, "..", "fixtures", "hs.csv"))
path <- "x1 ~ b2*x2 + b3*x3\nx4 ~ c1*x1\nx1 ~~ ve1*x1\nx4 ~~ ve4*x4\n"
blocks <- list(variance = "x2 ~~ 1*x2\nx2 ~~ e1*x3\nx3 ~~ e2*x3",
               covariance = "x2 ~~ e1*x2\nx2 ~~ 0.3*x3\nx3 ~~ e2*x3")
for (b in names(blocks)) for (est in c("ML", "GLS")) {
  m <- paste0(path, blocks[[b]])
  f <- if (est == "ML") sem(m, hs, likelihood = "wishart", fixed.x = FALSE)
       else sem(m, hs, estimator = "GLS", fixed.x = FALSE)
  fm <- fitMeasures(f, c("chisq", "df"))
  pe <- parameterEstimates(f)
  cat(sprintf('{"%s", "%s", %.10g, %d, {', b, tolower(est), fm[["chisq"]], as.integer(fm[["df"]])))
  for (l in c("b2", "c1", "e1", "e2"))
    cat(sprintf('{%.10g, %.10g}, ', pe$est[pe$label == l], pe$se[pe$label == l]))
  cat("}},\n")
}

# The same path model with the whole block left to the defaults.  ML and
# GLS keep it at the sample values (fixed.x = TRUE); under WLS and DWLS it
# is estimated (fixed.x = FALSE, labels e1-e3 in the block's order).
cat("\n")
for (est in c("ML", "GLS", "WLS", "DWLS")) {
  fourth <- est %in% c("WLS", "DWLS")
  m <- if (fourth) paste0(path, "x2 ~~ e1*x2\nx2 ~~ e2*x3\nx3 ~~ e3*x3") else path
  f <- if (est == "ML") sem(m, hs, likelihood = "wishart", fixed.x = TRUE)
       else sem(m, hs, estimator = est, fixed.x = !fourth)
  pe <- parameterEstimates(f)
  cat(sprintf('{"%s", %.10g, {', tolower(est), fitMeasures(f, "chisq")[["chisq"]]))
  for (l in c("b2", "c1", if (fourth) c("e1", "e2", "e3")))
    cat(sprintf('{%.10g, %.10g}, ', pe$est[pe$label == l], pe$se[pe$label == l]))
  cat("}},\n")
}
