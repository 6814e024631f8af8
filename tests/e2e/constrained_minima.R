# Reference minima of techniques_test.cpp, ConstrainedMinimumWithEveryTechnique:
#   1. ability.csv, general and picture: picture = b General + E2 under
#      b <= 0.1, v1 <= 10, v2 >= 8 (ML on the covariances, N - 1): the
#      minimum of F by R's optim (L-BFGS-B) and in closed form at the vertex
#      (0.1, 10, 8) where all three bounds hold;
#   2. hs.csv, the three-factor model of hs_cfa_ml.vx with l2 + l3 = 2.5:
#      lavaan 0.6.14 (likelihood = "wishart"), F = 2 fmin.
#
#   Rscript tests/e2e/constrained_minima.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "fixtures")
source(file.path(here, "reference_models.R"))
rows <- read.csv(file.path(fixtures, "ability.csv"), comment.char = "#")
rows <- rows[rows$X_TYPE_ == "COV", ]
S <- as.matrix(rows[1:2, c("general", "picture")])
f <- function(t) {
  Sig <- matrix(c(t[2], t[1] * t[2], t[1] * t[2], t[1]^2 * t[2] + t[3]), 2)
  log(det(Sig)) + sum(diag(S %*% solve(Sig))) - log(det(S)) - 2
}
o <- optim(c(0.05, 5, 12), f, method = "L-BFGS-B", lower = c(-Inf, 1e-6, 8), upper = c(0.1, 10, Inf),
           control = list(factr = 1e-2, pgtol = 0))
cat(sprintf("ability optim: %.12g at (%s); closed form at the vertex: %.12g\n", o$value,
            paste(format(o$par, digits = 10), collapse = ", "), f(c(0.1, 10, 8))))
hs <- read.csv(file.path(fixtures, "hs.csv"))
m <- paste0(hs_lavaan, "\n  l2 + l3 == 2.5")
fit <- sem(m, data = hs, likelihood = "wishart")
cat(sprintf("hs with l2 + l3 = 2.5: F = %.12g\n", 2 * fitMeasures(fit, "fmin")))
# 3. ability_ml.vx with l2 held at 0.35 by equal bounds under
#    l2 - l4 >= 0.05 and ve2 + ve4 <= 14: both rows hold at the minimum, so
#    lavaan fits them as equalities (its inequality search stops early),
#    F = 2 fmin.
ab <- read.csv(file.path(fixtures, "ability.csv"), comment.char = "#")
ab <- ab[ab$X_TYPE_ == "COV", ]
A <- as.matrix(ab[, -(1:2)])
rownames(A) <- colnames(A)
m3 <- '
  Fg =~ 1*general + 0.35*picture + l3*blocks + 0.30*maze
  Fv =~ 1*reading + l6*vocab
  Fg ~~ vg*Fg; Fv ~~ vv*Fv; Fg ~~ cgv*Fv
  general ~~ ve1*general; picture ~~ ve2*picture; blocks ~~ ve3*blocks
  maze ~~ ve4*maze; reading ~~ ve5*reading; vocab ~~ ve6*vocab
  ve2 + ve4 == 14'
fit3 <- sem(m3, sample.cov = A, sample.nobs = 112, likelihood = "wishart")
cat(sprintf("ability with l2 = 0.35: F = %.12g\n", 2 * fitMeasures(fit3, "fmin")))
# 4. poldem_ml.vx with l2 + l3 = 2.5 and b1 <= 1.2: the bound holds at the
#    minimum, so lavaan fits b1 fixed at 1.2; F = 2 fmin.
poldem <- read.csv(file.path(fixtures, "poldem.csv"))
pd <- sem('
  Find60 =~ 1*x1 + l2*x2 + l3*x3
  Fdem60 =~ 1*y1 + l5*y2 + l6*y3 + l7*y4
  Fdem65 =~ 1*y5 + l9*y6 + l10*y7 + l11*y8
  Fdem60 ~ 1.2*Find60
  Fdem65 ~ b2*Find60 + b3*Fdem60
  Find60 ~~ vind60*Find60; Fdem60 ~~ vd1*Fdem60; Fdem65 ~~ vd2*Fdem65
  x1 ~~ ve1*x1; x2 ~~ ve2*x2; x3 ~~ ve3*x3
  y1 ~~ ve4*y1; y2 ~~ ve5*y2; y3 ~~ ve6*y3; y4 ~~ ve7*y4
  y5 ~~ ve8*y5; y6 ~~ ve9*y6; y7 ~~ ve10*y7; y8 ~~ ve11*y8
  y1 ~~ c15*y5; y2 ~~ c24*y4; y2 ~~ c26*y6; y3 ~~ c37*y7; y4 ~~ c48*y8; y6 ~~ c68*y8
  l2 + l3 == 2.5', data = poldem, likelihood = "wishart")
cat(sprintf("poldem with l2 + l3 = 2.5, b1 <= 1.2: F = %.12g\n", 2 * fitMeasures(pd, "fmin")))
