# The minimum of the ML discrepancy of the 120-variable model
# (tests/fixtures/large/large_cfa_ml.vx) to full precision, for the
# whole-program test: lavaan's own run (large_cfa_ml.expected.json) stops
# about 1e-10 (relative F) above the minimum, where some factor variances
# are still 2e-5 (relative) from it, and a tighter nlminb tolerance ends in
# false convergence.  Fisher scoring in closed form for this CFA,
#   Sigma = L Phi L' + Theta,  F = log|Sigma| + tr(S Sigma^-1) - log|S| - p,
# started at lavaan's estimates, until the largest gradient element is
# below 1e-13; standard errors from the expected information with the N-1
# convention, SE = sqrt(diag(2/(N-1) H^-1)).
#   Rscript tests/procedure/estimation/large_minimum.R tests/fixtures/large \
#       tests/fixtures/large_cfa_ml.minimum.json
library(jsonlite)
args <- commandArgs(trailingOnly = TRUE)
d <- as.matrix(read.csv(file.path(args[1], "large.csv")))
ref <- fromJSON(file.path(args[1], "large_cfa_ml.expected.json"))
n <- nrow(d); p <- 120; m <- 12
S <- cov(d)
names <- names(ref$params)
theta <- sapply(names, function(k) ref$params[[k]]$est)
kind <- sub("[0-9_]+$", "", names)
num <- function(k) as.integer(strsplit(sub("^[a-z]+", "", k), "_")[[1]])
unpack <- function(theta) {
  L <- matrix(0, p, m); Phi <- matrix(0, m, m); Th <- numeric(p)
  for (f in 1:m) L[10 * (f - 1) + 1, f] <- 1
  for (k in seq_along(names)) {
    i <- num(names[k])
    if (kind[k] == "l") L[i, (i - 1) %/% 10 + 1] <- theta[k]
    if (kind[k] == "ve") Th[i] <- theta[k]
    if (kind[k] == "vf") Phi[i, i] <- theta[k]
    if (kind[k] == "c") Phi[i[1], i[2]] <- Phi[i[2], i[1]] <- theta[k]
  }
  list(L = L, Phi = Phi, Th = Th)
}
# dSigma/dtheta_k, each column a vec of p x p.
derivs <- function(u) {
  D <- matrix(0, p * p, length(names))
  LP <- u$L %*% u$Phi
  for (k in seq_along(names)) {
    i <- num(names[k]); M <- matrix(0, p, p)
    if (kind[k] == "l") { f <- (i - 1) %/% 10 + 1; M[i, ] <- LP[, f]; M <- M + t(M) }
    if (kind[k] == "ve") M[i, i] <- 1
    if (kind[k] == "vf") M <- u$L[, i] %o% u$L[, i]
    if (kind[k] == "c") { M <- u$L[, i[1]] %o% u$L[, i[2]]; M <- M + t(M) }
    D[, k] <- as.vector(M)
  }
  D
}
for (it in 1:50) {
  u <- unpack(theta)
  Sigma <- u$L %*% u$Phi %*% t(u$L) + diag(u$Th)
  W <- solve(Sigma)
  D <- derivs(u)
  g <- as.vector(crossprod(D, as.vector(W %*% (Sigma - S) %*% W)))
  WD <- apply(D, 2, function(col) as.vector(W %*% matrix(col, p, p) %*% W))
  H <- crossprod(WD, D)
  if (max(abs(g)) < 1e-13) break
  theta <- theta - solve(H, g)
}
Fmin <- log(det(Sigma)) + sum(diag(S %*% W)) - log(det(S)) - p
se <- sqrt(diag(2 / (n - 1) * solve(H)))
cat("iterations", it, "max gradient", max(abs(g)), "F", format(Fmin, digits = 15), "\n")
rows <- sprintf('  "%s": {"est": %.15g, "se": %.15g}', names, theta, se)
writeLines(c("{", sprintf(' "fmin": %.15g,', Fmin), ' "params": {', paste(rows, collapse = ",\n"), " }", "}"), args[2])
