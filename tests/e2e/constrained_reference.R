# Reference standard errors of standard_errors_test.cpp,
# ConstrainedModelsInEveryTable: the three-factor model of hs_cfa_ml.vx
# under one active constraint each, fitted by R's lavaan 0.6.14
# (likelihood = "wishart": N - 1 convention, expected information, whose
# inverse lavaan takes on the null space of the constraints' Jacobian):
#   bound     bounds l5 <= 1.0 (active): l5 == 1.0, held, standard error 0
#   lineq     lincon l5 = l6
#   linineq   lincon l5 - l6 <= 0.1 (active): l5 == l6 + 0.1
#   nleq      nlincon l5 - l6^2 = 0, and l5 the dependent l6^2
#   nlineq    nlincon l5 l6 <= 0.95 (active): l5 * l6 == 0.95
# and the modification index and expected change of the loading of x5 on
# Fvis under the same constraint (keys mi and epc), lavaan's index times
# (N - 1) / N, the scale of the chi-square T = (N - 1) F.
#
#   Rscript tests/e2e/constrained_reference.R   (writes tests/fixtures/constrained_reference.csv)
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "fixtures")
source(file.path(here, "reference_models.R"))
hs <- read.csv(file.path(fixtures, "hs.csv"))
cases <- c(bound = 'l5 == 1.0', lineq = 'l5 == l6', linineq = 'l5 == l6 + 0.1', nleq = 'l5 == l6^2',
           nlineq = 'l5 * l6 == 0.95')
out <- file(file.path(fixtures, "constrained_reference.csv"), "w")
writeLines("case,key,value", out)
for (k in names(cases)) {
  fit <- sem(paste(hs_lavaan, cases[[k]], sep = "\n"), data = hs, likelihood = "wishart")
  pe <- parameterEstimates(fit)
  pe <- pe[pe$label != "" & pe$op != "==", ]
  se <- ifelse(is.na(pe$se), 0, pe$se)  # a parameter held by its constraint alone
  writeLines(sprintf("%s,%s,%.9g", k, pe$label, se), out)
  mi <- modindices(fit)
  mi <- mi[mi$lhs == "Fvis" & mi$op == "=~" & mi$rhs == "x5", ]
  writeLines(sprintf("%s,%s,%.9g", k, c("mi", "epc"), c(mi$mi * (nrow(hs) - 1) / nrow(hs), mi$epc)), out)
}
close(out)
