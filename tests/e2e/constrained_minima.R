# Reference minima of techniques_test.cpp, ConstrainedMinimumWithEveryTechnique
# (1 to 4), and of convergence_claims_test.cpp (5 to 9):
#   1. ability.csv, general and picture: picture = b General + E2 under
#      b <= 0.1, v1 <= 10, v2 >= 8 (ML on the covariances, N - 1): the
#      minimum of F by R's optim (L-BFGS-B) and in closed form at the vertex
#      (0.1, 10, 8) where all three bounds hold;
#   2. hs.csv, the three-factor model of hs_cfa_ml.vx with l2 + l3 = 2.5:
#      lavaan 0.6.14 (likelihood = "wishart"), F = 2 fmin.
#   5. hs.csv, the three-factor model under an active nonlinear
#      constraint: l2 l3 = 0.6 (the row l2 l3 >= 0.6 holds at the minimum),
#      l2^2 + l3^2 = 0.7 (the row <= 0.7 holds), and l2 l3 >= 0.6 with
#      l5 - l6 >= 0.25 and ve1 >= 0.7, all three holding at the minimum;
#      x1-x6 with two factors under l3 - l2 = 0.1 (F = 2 fmin);
#   6. poldem.csv by DWLS and wheaton.csv (Wheaton's alienation model) by
#      GLS: lavaan's fmin is half of F with the N divisor, F = 2 fmin N /
#      (N - 1); neither changes with the units of a variable, nor GLS with
#      NOBS=;
#   7. hs by ULS and DWLS (DWLS does not change with the units of a
#      variable); by ULS with NOBS=1e7 the moments are those of hs times
#      c = 300 / (1e7 - 1), and F* is c^2 times the ULS minimum of hs: the
#      substituted model (lavaan's own ULS fit at that scale stops early,
#      on absolute criteria, with negative variances);
#   8. klein.csv, Klein's model I with X and P as given (no identities):
#      three equations with correlated errors, F = 2 fmin; ML does not
#      change with the units of C.
#   9. hs.csv, the three-factor model with ve1 >= 0.7: lavaan's fit under
#      ve1 > 0.7 holds the bound, so the minimum is that of the model with
#      ve1 fixed at 0.7, brought from where nlminb stops (estimates about
#      1e-5 short) to the rounding by Newton steps on lavaan's own gradient
#      and Hessian; F = 2 fmin, every estimate.
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
m3 <- paste0(sub("l2*picture + l3*blocks + l4*maze", "0.35*picture + l3*blocks + 0.30*maze", ability_lavaan,
                 fixed = TRUE), "\n  ve2 + ve4 == 14")
fit3 <- sem(m3, sample.cov = A, sample.nobs = 112, likelihood = "wishart")
cat(sprintf("ability with l2 = 0.35: F = %.12g\n", 2 * fitMeasures(fit3, "fmin")))
# 4. poldem_ml.vx with l2 + l3 = 2.5 and b1 <= 1.2: the bound holds at the
#    minimum, so lavaan fits b1 fixed at 1.2; F = 2 fmin.
poldem <- read.csv(file.path(fixtures, "poldem.csv"))
pd <- sem(paste0(sub("b1*Find60", "1.2*Find60", poldem_lavaan, fixed = TRUE), "\n  l2 + l3 == 2.5"), data = poldem,
          likelihood = "wishart")
cat(sprintf("poldem with l2 + l3 = 2.5, b1 <= 1.2: F = %.12g\n", 2 * fitMeasures(pd, "fmin")))
# 5. (the three-factor model of 2 without its row)
three <- sub("l2 + l3 == 2.5", "", m, fixed = TRUE)
ml <- function(model, restriction) {
  2 * fitMeasures(sem(paste(model, restriction, sep = "\n"), data = hs, likelihood = "wishart"), "fmin")
}
cat(sprintf("hs with l2 l3 = 0.6: F = %.12g\n", ml(three, "l2*l3 == 0.6")))
cat(sprintf("hs with l2^2 + l3^2 = 0.7: F = %.12g\n", ml(three, "l2^2 + l3^2 == 0.7")))
cat(sprintf("hs with l2 l3 >= 0.6, l5 - l6 >= 0.25, ve1 >= 0.7: F = %.12g\n",
            ml(three, "l2*l3 > 0.6\n l5 - l6 > 0.25\n ve1 > 0.7")))
cat(sprintf("x1-x6 with l3 - l2 = 0.1: F = %.12g\n",
            ml("F1 =~ 1*x1 + l2*x2 + l3*x3\n F2 =~ 1*x4 + l5*x5 + l6*x6\n F1 ~~ F2", "l3 - l2 == 0.1")))
# 6.
other <- function(fit, n) 2 * fitMeasures(fit, "fmin") * n / (n - 1)
cat(sprintf("poldem by DWLS: F = %.12g\n",
            other(sem(poldem_lavaan, data = poldem, estimator = "DWLS"), nrow(poldem))))
w <- read.csv(file.path(fixtures, "wheaton.csv"), comment.char = "#")
W <- as.matrix(w[w$X_TYPE_ == "COV", -(1:2)])
rownames(W) <- colnames(W)
cat(sprintf("wheaton by GLS: F = %.12g\n",
            other(sem(wheaton_lavaan, sample.cov = W, sample.nobs = 932, estimator = "GLS"), 932)))
# 7.
uls <- other(sem(three, data = hs, estimator = "ULS"), nrow(hs))
cat(sprintf("hs by ULS: F = %.12g, with NOBS=1e7: %.12g\n", uls, uls * (300 / (1e7 - 1))^2))
cat(sprintf("hs by DWLS: F = %.12g\n", other(sem(three, data = hs, estimator = "DWLS"), nrow(hs))))
# 8.
klein <- read.csv(file.path(fixtures, "klein.csv"))
kfit <- sem('
  C ~ a1*P + a2*Plag + a3*Wp + a4*Wg
  I ~ b1*P + b2*Plag + b3*Klag
  Wp ~ c1*X + c2*Xlag + c3*A
  C ~~ I + Wp
  I ~~ Wp', data = klein, likelihood = "wishart")
cat(sprintf("klein without identities: F = %.12g\n", 2 * fitMeasures(kfit, "fmin")))
# 9.
held <- sem(paste(three, "ve1 > 0.7", sep = "\n"), data = hs, likelihood = "wishart")
cat(sprintf("hs with ve1 >= 0.7: lavaan's bounded fit has ve1 = %.10g\n", coef(held)["ve1"]))
fixed <- sem(sub("x1 ~~ ve1*x1", "x1 ~~ 0.7*x1", three, fixed = TRUE), data = hs, likelihood = "wishart")
pt <- parTable(fixed)
at_x <- function(x) {
  pt$est[pt$free > 0] <- x
  sem(pt, data = hs, likelihood = "wishart", do.fit = FALSE)
}
x <- coef(fixed)
for (k in 1:3) {
  at <- at_x(x)
  x <- x - solve(lavTech(at, "hessian"), lavTech(at, "optim.gradient"))
}
at <- at_x(x)
cat(sprintf("hs with ve1 >= 0.7: F = %.15g, largest gradient element %.2g\n", 2 * lavTech(at, "optim")$fx,
            max(abs(lavTech(at, "optim.gradient")))))
cat(sprintf("{\"%s\", %.12g}", names(x), x), sep = ", ", fill = 110)
