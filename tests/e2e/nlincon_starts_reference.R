# Reference minimum of nlincon_starts_test.cpp's two-factor COSAN model of
# ten poldem variables (y1-y5 on F1, y6-y8, x1, x2 on F2, unit factor
# variances) under l1 l6 = 2: lavaan 0.6.14 (likelihood = "wishart", so
# that F = chi-square / (N - 1)) from its own start; and a one-factor GLS
# model of y2-y4 and x2, whose unrestricted minimum is a Heywood case
# (the error variance of y4 at -0.02), under l4 l4 >= 0.6, from the
# unrestricted minimum; and the hs model under l2 l2 >= 0.5 from its own
# start; and Wheaton's alienation model (wheaton.csv, its covariances) with
# alien71 on alien67 only, under b1 b2 >= -0.5, which does not bind; written as case,key,value rows (F, est:<label>) to
# tests/fixtures/nlincon_starts_reference.csv.  The hs model under
# l2 l3 >= 0.6 is the case hs_ml_N1 of constrained_corpus.csv.
#
#   Rscript tests/e2e/nlincon_starts_reference.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "fixtures")
poldem <- read.csv(file.path(fixtures, "poldem.csv"))
hs <- read.csv(file.path(fixtures, "hs.csv"))
source(file.path(here, "reference_models.R"))
wh <- read.csv(file.path(fixtures, "wheaton.csv"), comment.char = "#")
wheaton <- as.matrix(wh[wh$X_TYPE_ == "COV", -(1:2)])
rownames(wheaton) <- colnames(wheaton)
alienation <- '
  ses =~ 1*education + l6*sei
  alien67 =~ 1*anomia67 + l2*powerless67
  alien71 =~ 1*anomia71 + l4*powerless71
  alien67 ~ b1*ses
  alien71 ~ b2*alien67
  ses ~~ vses*ses; alien67 ~~ vd1*alien67; alien71 ~~ vd2*alien71
  anomia67 ~~ ve1*anomia67; powerless67 ~~ ve2*powerless67; anomia71 ~~ ve3*anomia71
  powerless71 ~~ ve4*powerless71; education ~~ ve5*education; sei ~~ ve6*sei
  anomia67 ~~ c13*anomia71; powerless67 ~~ c24*powerless71'
two <- '
  F1 =~ l1*y1 + l2*y2 + l3*y3 + l4*y4 + l5*y5
  F2 =~ l6*y6 + l7*y7 + l8*y8 + l9*x1 + l10*x2
  F1 ~~ 1*F1; F2 ~~ 1*F2; F1 ~~ phi*F2
  y1 ~~ u1*y1; y2 ~~ u2*y2; y3 ~~ u3*y3; y4 ~~ u4*y4; y5 ~~ u5*y5
  y6 ~~ u6*y6; y7 ~~ u7*y7; y8 ~~ u8*y8; x1 ~~ u9*x1; x2 ~~ u10*x2'
one <- '
  F =~ l1*y2 + l2*y3 + l3*y4 + l4*x2
  F ~~ 1*F
  y2 ~~ ve1*y2; y3 ~~ ve2*y3; y4 ~~ ve3*y4; x2 ~~ ve4*x2'
rows <- function(case, f) {
  stopifnot(lavInspect(f, "converged"))
  pe <- parameterEstimates(f)
  pe <- pe[pe$label != "" & !(pe$op %in% c("==", ">", "<")) & !duplicated(pe$label), ]
  rbind(data.frame(case = case, key = "F", value = fitMeasures(f, "chisq")[[1]] / (lavInspect(f, "nobs") - 1)),
        data.frame(case = case, key = paste0("est:", pe$label), value = pe$est))
}
free <- sem(one, data = poldem, estimator = "GLS", std.lv = TRUE)
out <- rbind(rows("cosan_two", sem(paste(two, "l1 * l6 == 2", sep = "\n"), data = poldem, likelihood = "wishart",
                                   std.lv = TRUE)),
             rows("heywood_gls", sem(paste(one, "l4 * l4 > 0.6", sep = "\n"), data = poldem, estimator = "GLS",
                                     std.lv = TRUE, start = free)),
             rows("hs_l2_squared", sem(paste(hs_lavaan, "l2 * l2 > 0.5", sep = "\n"), data = hs,
                                       likelihood = "wishart")),
             rows("wheaton_alienation", sem(paste(alienation, "b1 * b2 > -0.5", sep = "\n"), sample.cov = wheaton,
                                            sample.nobs = 932, likelihood = "wishart")))
write.csv(out, file.path(fixtures, "nlincon_starts_reference.csv"), row.names = FALSE, quote = FALSE)
