# Reference standard errors of standard_errors_test.cpp,
# HeldParameterHasOneStandardError: ability_ml with the loading of maze
# held at its upper bound 0.35, fitted by R's lavaan 0.6.14 as the model
# with that loading fixed (likelihood = "wishart": N - 1 convention,
# expected information).
#
#   Rscript tests/e2e/bound_reference.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
rows <- read.csv(file.path(here, "..", "fixtures", "ability.csv"), comment.char = "#")
rows <- rows[rows$X_TYPE_ == "COV", ]
S <- as.matrix(rows[, -(1:2)])
rownames(S) <- colnames(S)
m <- '
  Fg =~ 1*general + l2*picture + l3*blocks + 0.35*maze
  Fv =~ 1*reading + l6*vocab
  Fg ~~ vg*Fg; Fv ~~ vv*Fv; Fg ~~ cgv*Fv
  general ~~ ve1*general; picture ~~ ve2*picture; blocks ~~ ve3*blocks
  maze ~~ ve4*maze; reading ~~ ve5*reading; vocab ~~ ve6*vocab'
fit <- sem(m, sample.cov = S, sample.nobs = 112, likelihood = "wishart")
pe <- parameterEstimates(fit)
pe <- pe[pe$label != "", ]
for (i in seq_len(nrow(pe))) cat(sprintf('{"%s", %.9g},\n', pe$label[i], pe$se[i]))
