# Reference profile-likelihood limits of ability_ml under bounds and linear
# constraints: each parameter fixed at a trial value, the ML discrepancy
# (N - 1 convention) minimised over the others under the constraints, and
# uniroot solving chisq(theta) - chisq_min = qchisq(1 - alpha, 1).
# A linear inequality between two free parameters is kept by writing one of
# them as the other plus a nonnegative slack, so that every constraint is a
# bound of nlminb.
#   cd tests/e2e && Rscript constrained_profile_reference.R ../fixtures/ability.csv > ../fixtures/ability_constrained_profile.csv
args <- commandArgs(trailingOnly = TRUE)
rows <- read.csv(if (length(args) > 0) args[1] else "../fixtures/ability.csv", comment.char = "#")
N <- as.numeric(rows[rows$X_TYPE_ == "N", 3])
S <- as.matrix(rows[rows$X_TYPE_ == "COV", 3:8])
names <- c("l2", "l3", "l4", "l6", "vg", "cgv", "vv", paste0("ve", 1:6))
sigma <- function(p) {
  L <- matrix(0, 6, 2)
  L[, 1] <- c(1, p[["l2"]], p[["l3"]], p[["l4"]], 0, 0)
  L[, 2] <- c(0, 0, 0, 0, 1, p[["l6"]])
  Phi <- matrix(c(p[["vg"]], p[["cgv"]], p[["cgv"]], p[["vv"]]), 2)
  L %*% Phi %*% t(L) + diag(unlist(p[paste0("ve", 1:6)]))
}
logdetS <- determinant(S)$modulus
chisq <- function(p) {
  C <- sigma(p)
  ch <- tryCatch(chol(C), error = function(e) NULL)
  if (is.null(ch)) return(1e10)
  (N - 1) * (2 * sum(log(diag(ch))) - logdetS + sum(diag(S %*% chol2inv(ch))) - 6)
}
# A problem: `fixed` (name -> value), `upper`/`lower` (name -> bound) and
# `slack`: list(dep, base, sign, const) meaning dep = const + sign * base + s
# with s >= 0 stored in dep's slot.
minimise <- function(start, fixed = list(), lower = list(), upper = list(), slack = list()) {
  free <- setdiff(names, names(fixed))
  to_p <- function(u) {
    p <- as.list(start); p[names(fixed)] <- fixed; p[free] <- u
    for (sl in slack) p[[sl$dep]] <- sl$const + sl$sign * p[[sl$base]] + sl$dir * p[[sl$dep]]
    p
  }
  u0 <- unlist(start[free])
  for (sl in slack) {
    base <- if (!is.null(fixed[[sl$base]])) fixed[[sl$base]] else start[[sl$base]]
    u0[[sl$dep]] <- max(sl$dir * (start[[sl$dep]] - sl$const - sl$sign * base), 0)
  }
  lo <- rep(-Inf, length(free)); hi <- rep(Inf, length(free)); names(lo) <- names(hi) <- free
  for (sl in slack) lo[[sl$dep]] <- 0
  for (n in names(lower)) lo[[n]] <- lower[[n]]
  for (n in names(upper)) hi[[n]] <- upper[[n]]
  u0 <- pmin(pmax(u0, lo), hi)
  o <- nlminb(u0, function(u) chisq(to_p(u)), lower = lo, upper = hi,
              control = list(rel.tol = 1e-15, x.tol = 1e-12, eval.max = 5000, iter.max = 2000))
  list(value = o$objective, p = to_p(o$par))
}
# The constraint sets, given the parameter fixed (NULL for none).
bounded <- function(fix) list(upper = list(l4 = 0.45))
linear <- function(fix, theta) {
  r <- list(lower = list(), upper = list(), slack = list())
  # l2 - l4 >= 0.05
  if (identical(fix, "l2")) r$upper$l4 <- theta - 0.05
  else if (identical(fix, "l4")) r$lower$l2 <- theta + 0.05
  else r$slack[[1]] <- list(dep = "l2", base = "l4", sign = 1, const = 0.05, dir = 1)
  # ve2 + ve4 <= 14
  if (identical(fix, "ve2")) r$upper$ve4 <- 14 - theta
  else r$slack[[length(r$slack) + 1]] <- list(dep = "ve4", base = "ve2", sign = -1, const = 14, dir = -1)
  r
}
start <- as.list(setNames(c(0.4, 2.4, 0.4, 1.5, 15, 15, 44, 9.6, 4, 60, 10, 10, 60), names))
limits <- function(label, cons, params, alpha) {
  c0 <- do.call(minimise, c(list(start), cons(NULL, 0)))
  for (k in params) {
    est <- c0$p[[k]]
    q <- qchisq(1 - alpha, 1)
    f <- function(theta) {
      fixed <- list(); fixed[[k]] <- theta
      do.call(minimise, c(list(c0$p, fixed), cons(k, theta)))$value - c0$value - q
    }
    side <- function(sign) {
      step <- 0.1 * max(abs(est), 1)
      far <- est + sign * step
      while (f(far) < 0) far <- est + sign * 2 * abs(far - est)
      uniroot(f, sort(c(est, far)), tol = 1e-11)$root
    }
    cat(sprintf("%s,%s,%g,%.10f,%.10f\n", label, k, alpha, side(-1), side(1)))
  }
}
cat("case,param,alpha,lower,upper\n")
limits("bound", function(fix, theta) bounded(fix), "l2", 0.01)
limits("linear", linear, c("l2", "l4", "ve2"), 0.05)
