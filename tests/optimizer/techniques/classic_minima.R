# The local minima that classic_problems_test.cpp accepts besides the
# published optima of Hock and Schittkowski's problems, each verified as a
# strict local minimum here with base R: feasible, the multipliers of
# g = A'lambda over the active constraints of the right signs (positive for
# an inequality), and the Hessian of the Lagrange function positive on the
# null space of the active constraints (a vertex, where that space is
# empty, needs only the multipliers); HS44's flat face at -3, where that
# Hessian is 0, by its multipliers and the feasible points around it.
# Run: Rscript classic_minima.R
grad <- function(f, x, h = 1e-6) sapply(seq_along(x), function(i) {
  e <- replace(numeric(length(x)), i, h); (f(x + e) - f(x - e)) / (2 * h) })
hess <- function(f, x, h = 1e-4) {
  n <- length(x); H <- matrix(0, n, n)
  for (i in 1:n) for (j in 1:n) {
    ei <- replace(numeric(n), i, h); ej <- replace(numeric(n), j, h)
    H[i, j] <- (f(x + ei + ej) - f(x + ei - ej) - f(x - ei + ej) + f(x - ei - ej)) / (4 * h * h)
  }
  H
}
# Rows of A: the active constraints' gradients (c(x) >= 0 or = 0);
# ineq: which are inequalities; lagr: the Lagrange function for the
# second-order test.
verify <- function(name, f, x, A = NULL, ineq = logical(0), cons = list()) {
  g <- grad(f, x)
  ok <- TRUE
  lambda <- numeric(0)
  if (!is.null(A)) {
    lambda <- qr.solve(t(A), g)
    ok <- ok && max(abs(t(A) %*% lambda - g)) < 1e-6 && all(lambda[ineq] > 1e-6)
  } else {
    ok <- ok && max(abs(g)) < 1e-6
  }
  L <- function(y) f(y) - if (length(cons)) sum(lambda[seq_along(cons)] * sapply(cons, function(c) c(y))) else 0
  Z <- if (is.null(A)) diag(length(x)) else MASS::Null(t(A))
  curv <- if (ncol(Z) > 0) min(eigen(t(Z) %*% hess(L, x) %*% Z, symmetric = TRUE)$values) else Inf
  cat(sprintf("%-6s f = %.12f  multipliers %s  least reduced curvature %s  %s\n", name, f(x),
              paste(sprintf("%.6g", lambda), collapse = " "), format(curv, digits = 6),
              if (ok && curv > 1e-6) "strict local minimum" else "NOT VERIFIED"))
}

# HS5: sin(x1 + x2) + (x1 - x2)^2 - 1.5 x1 + 2.5 x2 + 1 on -1.5 <= x1 <= 4,
# -3 <= x2 <= 3: interior stationary points at x1 - x2 = 1 with
# cos(x1 + x2) = -1/2; at x1 + x2 = 4 pi / 3, f = 2 pi / 3 - sqrt(3) / 2.
hs5 <- function(x) sin(x[1] + x[2]) + (x[1] - x[2])^2 - 1.5 * x[1] + 2.5 * x[2] + 1
verify("HS5", hs5, c((4 * pi / 3 + 1) / 2, (4 * pi / 3 - 1) / 2))
cat(sprintf("       2 pi / 3 - sqrt(3) / 2 = %.12f\n", 2 * pi / 3 - sqrt(3) / 2))

# HS7: log(1 + x1^2) - x2 on (1 + x1^2)^2 + x2^2 = 4: (0, -sqrt(3)), f = sqrt(3).
hs7 <- function(x) log(1 + x[1]^2) - x[2]
c7 <- function(x) (1 + x[1]^2)^2 + x[2]^2 - 4
x7 <- c(0, -sqrt(3))
verify("HS7", hs7, x7, rbind(grad(c7, x7)), FALSE, list(c7))

# HS15: Rosenbrock on x1 x2 >= 1, x1 + x2^2 >= 0, x1 <= 0.5: on x1 x2 = 1
# with x1 < 0 the minimum of f(x1, 1 / x1).
rosen <- function(x) 100 * (x[2] - x[1]^2)^2 + (1 - x[1])^2
a <- optimize(function(u) rosen(c(u, 1 / u)), c(-2, -0.1), tol = 1e-14)$minimum
x15 <- c(a, 1 / a)
c15 <- function(x) x[1] * x[2] - 1
verify("HS15", rosen, x15, rbind(grad(c15, x15)), TRUE, list(c15))

# HS44 at the vertex (3, 0, 4, 0): rows x1 + 2 x2 <= 8, 4 x1 + x2 <= 12,
# 3 x1 + 4 x2 <= 12, 2 x3 + x4 <= 8, x3 + 2 x4 <= 8, x3 + x4 <= 5, x >= 0.
hs44 <- function(x) x[1] - x[2] - x[3] - x[1] * x[3] + x[1] * x[4] + x[2] * x[3] - x[2] * x[4]
x44 <- c(3, 0, 4, 0)
A44 <- rbind(c(-4, -1, 0, 0), c(0, 1, 0, 0), c(0, 0, -2, -1), c(0, 0, 0, 1))  # 4x1+x2<=12, x2>=0, 2x3+x4<=8, x4>=0
verify("HS44", hs44, x44, A44, rep(TRUE, 4))

# HS44 on the face x3 = 3, x4 = 2 of the rows 2 x3 + x4 <= 8 and
# x3 + x4 <= 5: f = (x3 - x4 - 1)(x2 - x1) - x3 = -3 for every x1, x2
# there, and with d = x2 - x1 in (1/3, 1/2) the rows' multipliers 1 - 2 d
# and 3 d - 1 are positive and f rises off the face.  A local minimum, but
# not a strict one (f is flat along the face): checked at a point where a
# run ended by its multipliers and by the least f of feasible points
# around it.
x44f <- c(0.549027, 1, 3, 2)
A44f <- rbind(c(0, 0, -2, -1), c(0, 0, -1, -1))
lambda <- qr.solve(t(A44f), grad(hs44, x44f))
set.seed(44)
near <- replicate(1e5, {
  y <- x44f + runif(4, -1e-3, 1e-3)
  if (2 * y[3] + y[4] <= 8 && y[3] + y[4] <= 5) hs44(y) else Inf
})
cat(sprintf("HS44   f = %.12f  multipliers %s  least f of feasible points within 1e-3 %.12f  %s\n", hs44(x44f),
            paste(sprintf("%.6g", lambda), collapse = " "), min(near),
            if (all(lambda > 1e-6) && min(near) >= hs44(x44f) - 1e-12) "local minimum (not strict)" else "NOT VERIFIED"))

# HS71: x1 x4 (x1 + x2 + x3) + x3 on 1 <= x <= 5, x1 x2 x3 x4 >= 25,
# sum x^2 = 40: the vertices with one parameter at 1, one at 5 and the
# others r - 1 and r + 1 (r = sqrt(6)) that random starts reach, each
# given with the parameter at its lower bound, the one at its upper bound
# and f in closed form.
hs71 <- function(x) x[1] * x[4] * (x[1] + x[2] + x[3]) + x[3]
c71a <- function(x) sum(x^2) - 40
c71b <- function(x) prod(x) - 25
r <- sqrt(6)
for (v in list(list(c(1, 5, r - 1, r + 1), 1, 2, 10 + 7 * r), list(c(1, r - 1, 5, r + 1), 1, 3, 16 + 6 * r),
              list(c(1, r - 1, r + 1, 5), 1, 4, 6 + 11 * r), list(c(5, 1, r - 1, r + 1), 2, 1, 54 + 31 * r),
              list(c(5, r - 1, 1, r + 1), 3, 1, 56 + 30 * r))) {
  x <- v[[1]]
  lower <- replace(numeric(4), v[[2]], 1)    # x_k - 1 >= 0
  upper <- -replace(numeric(4), v[[3]], 1)   # 5 - x_k >= 0
  A <- rbind(lower, upper, grad(c71a, x), grad(c71b, x))
  verify("HS71", hs71, x, A, c(TRUE, TRUE, FALSE, TRUE))
  cat(sprintf("       closed form %.12f\n", v[[4]]))
}
