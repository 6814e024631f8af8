# References on R's datasets::attitude: the covariances of complaints,
# learning and rating (N = 30) written as tests/fixtures/attitude.csv
# (TYPE=COV), and two results of the mediation model learning on
# complaints (a), rating on complaints (cp) and learning (b), by ML with
# R's lavaan 0.6.14 (likelihood = "wishart": N - 1 convention, expected
# information):
# - standard_errors_test.cpp, DependentParameters.IndirectEffectAsLavaan:
#   the estimate, delta-method standard error and z of ind = a b, which no
#   path carries, and of the total effect tot = cp + a b, whose variance
#   holds the covariance of cp and b (a and b are uncorrelated here);
# - techniques_test.cpp,
#   Techniques.NoneEvaluatesAtTheGivenValuesUnlessConstraintsAreNonlinear:
#   the ML discrepancy F = ln|Sigma| - ln|S| + tr(S Sigma^-1) - 3 at
#   a = 0.5, b = 0.8 (a b = 0.4), cp = 0.3, var(D1) = 90, var(D2) = 40 and
#   var(complaints) its sample value (where an exogenous manifest
#   variance starts), from Sigma written out and from the implied
#   covariances of lavaan's model with every parameter fixed there; and
#   the minimum of F under the constraint a b = 0.4, with a and b there,
#   by nlminb and BFGS with b = 0.4 / a substituted (lavaan's constrained
#   fit, printed beside it, stops 2.3e-8 above that minimum).
#
#   Rscript tests/e2e/attitude_reference.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
d <- datasets::attitude[, c("complaints", "learning", "rating")]
S <- cov(d)
out <- c("# TYPE=COV", "_TYPE_,_NAME_,complaints,learning,rating", "N,,30,30,30")
for (i in 1:3) out <- c(out, sprintf("COV,%s,%s", colnames(S)[i], paste(sprintf("%.17g", S[i, ]), collapse = ",")))
writeLines(out, file.path(here, "..", "fixtures", "attitude.csv"))

m <- '
  learning ~ a*complaints
  rating ~ cp*complaints + b*learning
  ind := a*b
  tot := cp + a*b'
fit <- sem(m, data = d, likelihood = "wishart")
pe <- parameterEstimates(fit)
pe <- pe[pe$label %in% c("ind", "tot"), ]
cat(sprintf("%s %.10f se %.10f z %.10f\n", pe$label, pe$est, pe$se, pe$z), sep = "")

a <- 0.5; b <- 0.8; cp <- 0.3; vc <- S[1, 1]; vd1 <- 90; vd2 <- 40
B <- matrix(c(0, 0, 0, a, 0, 0, cp, b, 0), 3, 3, byrow = TRUE)
Psi <- diag(c(vc, vd1, vd2))
A <- solve(diag(3) - B)
Sigma <- A %*% Psi %*% t(A)
F <- log(det(Sigma)) - log(det(S)) + sum(diag(S %*% solve(Sigma))) - 3
fixed <- sprintf('
  learning ~ %g*complaints
  rating ~ %g*complaints + %g*learning
  complaints ~~ %.17g*complaints; learning ~~ %g*learning; rating ~~ %g*rating', a, cp, b, vc, vd1, vd2)
at <- sem(fixed, data = d, likelihood = "wishart", fixed.x = FALSE)
L <- lavInspect(at, "implied")$cov[colnames(S), colnames(S)]
FL <- log(det(L)) - log(det(S)) + sum(diag(S %*% solve(L))) - 3
cat(sprintf("F %.12f lavaan %.12f\n", F, FL))

constrained <- sem('
  learning ~ a*complaints
  rating ~ cp*complaints + b*learning
  a*b == 0.4', data = d, likelihood = "wishart", fixed.x = FALSE)
L <- lavInspect(constrained, "implied")$cov[colnames(S), colnames(S)]
FL <- log(det(L)) - log(det(S)) + sum(diag(S %*% solve(L))) - 3
substituted <- function(p) {
  B <- matrix(c(0, 0, 0, p[1], 0, 0, p[2], 0.4 / p[1], 0), 3, 3, byrow = TRUE)
  A <- solve(diag(3) - B)
  Sigma <- A %*% diag(p[3:5]) %*% t(A)
  log(det(Sigma)) - log(det(S)) + sum(diag(S %*% solve(Sigma))) - 3
}
o <- nlminb(coef(constrained)[c("a", "cp", "complaints~~complaints", "learning~~learning", "rating~~rating")],
            substituted, control = list(rel.tol = 1e-15, x.tol = 1e-12, eval.max = 5000, iter.max = 5000))
o <- optim(o$par, substituted, method = "BFGS",
           control = list(reltol = 1e-16, maxit = 10000, parscale = c(1, 1, 100, 100, 100)))
cat(sprintf("constrained F %.12f a %.10f b %.10f (lavaan F %.12f)\n", o$value, o$par[1], 0.4 / o$par[1], FL))
