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

# Two path models whose exogenous block WLS and DWLS estimate, for the
# two-stage methods (TwoStageMethodsReachTheWeightedMinimum): Demo.growth
# (N = 400) and R's datasets::attitude (N = 30, written here as
# tests/fixtures/attitude_raw.csv), fixed.x = FALSE.  lavaan's DWLS does
# not converge on attitude; that case compares LSDWLS with DWLS alone.
cat("\n")
write.csv(datasets::attitude, file.path(here, "..", "fixtures", "attitude_raw.csv"), row.names = FALSE,
          quote = FALSE)
growth <- read.csv(file.path(here, "..", "fixtures", "demo_growth.csv"))
paths <- list(growth = "t1 ~ b1*x1 + b2*x2\nt4 ~ c1*t1 + c2*x1",
              attitude = "rating ~ b1*complaints + b2*learning\nadvance ~ c1*rating + c2*complaints")
for (d in names(paths)) for (est in c("WLS", "DWLS")) {
  if (d == "attitude" && est == "DWLS") next
  f <- sem(paths[[d]], if (d == "growth") growth else datasets::attitude, estimator = est, fixed.x = FALSE)
  cat(sprintf('{"%s", "%s", %.10g, %d, {', d, tolower(est), fitMeasures(f, "chisq")[["chisq"]], nobs(f)))
  cat(paste(sprintf("%.10g", coef(f)[c("b1", "b2", "c1", "c2")]), collapse = ", "), "}},\n")
}

# x1-x3 of lavaan's HolzingerSwineford1939 with the pupils' sex (1, 2) and
# grade (7, 8; one missing), written as tests/fixtures/hs_covariates.csv:
# the square of a variable with two values is one of the variable and the
# constant, so under AUGMENT their fourth-order moments are dependent.
write.csv(HolzingerSwineford1939[, c("x1", "x2", "x3", "sex", "grade")],
          file.path(here, "..", "fixtures", "hs_covariates.csv"), row.names = FALSE, quote = FALSE, na = "")
