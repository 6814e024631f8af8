# Reference standard errors of identification_test.cpp, FactorWithTwoIndicators:
# the hs model with Fvis measured by x1 and x2 only, uncorrelated with the
# other factors, and x3 on Ftxt; l2 fixed at 1 identifies it and fits the
# three moments of x1 and x2 exactly, so the other parameters are those of
# the model with l2 free.  R's lavaan 0.6.14, likelihood = "wishart"
# (N - 1 convention), expected information.
#
#   Rscript tests/e2e/identification_reference.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
hs <- read.csv(file.path(here, "..", "fixtures", "hs.csv"))
m <- '
  Fvis =~ 1*x1 + 1*x2
  Ftxt =~ 1*x4 + l5*x5 + l6*x6 + l3*x3
  Fspd =~ 1*x7 + l8*x8 + l9*x9
  Fvis ~~ vvis*Fvis; Ftxt ~~ vtxt*Ftxt; Fspd ~~ vspd*Fspd
  Fvis ~~ 0*Ftxt; Fvis ~~ 0*Fspd; Ftxt ~~ cts*Fspd
  x1 ~~ ve1*x1; x2 ~~ ve2*x2; x3 ~~ ve3*x3; x4 ~~ ve4*x4; x5 ~~ ve5*x5
  x6 ~~ ve6*x6; x7 ~~ ve7*x7; x8 ~~ ve8*x8; x9 ~~ ve9*x9'
fit <- sem(m, hs, likelihood = "wishart")
pe <- parameterEstimates(fit)
pe <- pe[pe$label != "", ]
for (i in seq_len(nrow(pe))) cat(sprintf('{"%s", %.9g},\n', pe$label[i], pe$se[i]))
