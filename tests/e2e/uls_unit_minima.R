# Reference minima of convergence_claims_test.cpp,
# EveryModelKindReachesItsMinimumInAnyUnitOfAVariable: unweighted least
# squares, F = 0.5 ||S - Sigma||^2 over the full matrix, of the
# three-factor model of hs.csv with x1 multiplied by c.  In the parameters
# of the unscaled units the residuals of x1 carry the weight c^2
# (covariances) and c^4 (its variance), so that as c -> 0 the fit ignores
# x1 and as c -> inf it reproduces x1's row exactly; the minima at c = 1e-8
# and 1e-4 (1e4 and 1e8) differ from those limits by O(c^2) (O(1/c^2)),
# below 1e-7 of them.  The limits are fitted here with the x1 row dropped
# or solved for; F at c = 1e-2, 1 and 1e2 directly.  R's optim, BFGS.
#
#   Rscript tests/e2e/uls_unit_minima.R
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
S <- cov(read.csv(file.path(here, "..", "fixtures", "hs.csv")))
sigma <- function(p) {
  L <- matrix(0, 9, 3); L[1, 1] <- 1; L[2, 1] <- p[1]; L[3, 1] <- p[2]
  L[4, 2] <- 1; L[5, 2] <- p[3]; L[6, 2] <- p[4]; L[7, 3] <- 1; L[8, 3] <- p[5]; L[9, 3] <- p[6]
  P <- matrix(c(p[7], p[10], p[11], p[10], p[8], p[12], p[11], p[12], p[9]), 3)
  L %*% P %*% t(L) + diag(p[13:21])
}
fit <- function(f, start) {
  o <- optim(start, f, method = "BFGS", control = list(maxit = 10000, reltol = 1e-16))
  optim(o$par, f, method = "BFGS", control = list(maxit = 10000, reltol = 1e-16))$value
}
for (c in c(1e-2, 1, 1e2)) {
  D <- diag(c(c, rep(1, 8)))
  cat(sprintf("c = %g: F = %.10f\n", c,
              fit(function(p) 0.5 * sum((D %*% (S - sigma(p)) %*% D)^2), c(rep(1, 6), 1, 1, 1, .3, .3, .3, rep(.5, 9)))))
}
# c -> inf: x1's row reproduced; vvis, vtxt, vspd, cts, ve2-ve9 free.
big <- function(q) {
  v <- q[1]; cvt <- S[1, 4]; cvs <- S[1, 7]
  p <- c(S[1, 2] / v, S[1, 3] / v, S[1, 5] / cvt, S[1, 6] / cvt, S[1, 8] / cvs, S[1, 9] / cvs,
         v, q[2], q[3], cvt, cvs, q[4], S[1, 1] - v, q[5:12])
  0.5 * sum(((S - sigma(p))[2:9, 2:9])^2)
}
cat(sprintf("c -> inf: F = %.10f\n", fit(big, c(.8, 1, .4, .2, rep(.5, 8)))))
# c -> 0: x1 carries no weight; Fvis's scale set by its variance.
small <- function(q) 0.5 * sum(((S - sigma(c(q[1:6], 1, q[7:11], 0, q[12:19])))[2:9, 2:9])^2)
cat(sprintf("c -> 0: F = %.10f\n", fit(small, c(rep(.8, 6), 1, 1, .3, .3, .3, rep(.5, 8)))))
