# Reference numbers of the asymptotically standardized residuals for
# tests/e2e/residual_variance_test.cpp, from R's lavaan 0.6.14: the
# estimates and the derivatives Delta of the fitted moments come from
# lavaan, the residual variances are computed here from their definition
#   r / sqrt(var(s) - (Delta V Delta')_rr),
# var(s) the variance of the sample moment under the method's weight and V
# the covariance of the estimates under the same weight:
#
# - exogenous blocks (ML): a MIMIC model of hs (F by x4-x6 on x1-x3), the
#   path model x1 on x2 x3, x4 on x1 of hs, and lavaan's Demo.growth curve
#   (t1-t4 on Fi Fs, Fi Fs on x1 x2) without and with means, each with the
#   covariances (and means) of the exogenous observed variables estimated
#   (fixed.x = FALSE), whose maximum likelihood estimates are the sample
#   values: var(s) normal-theory at the fitted moments, V lavaan's vcov
#   (likelihood "wishart", divisor N - 1; with means "normal", divisor N,
#   the scale on which the test's moments about zero are fitted);
# - GLS and WLS (hs x1-x9, three factors): lavaan fitted to the covariance
#   matrix with divisor N - 1 as it is (sample.cov.rescale = FALSE), GLS
#   with var(s) = (s_ii s_jj + s_ij^2) / (N - 1), WLS with the fourth-order
#   moments Gamma = m_ijkl - s_ij s_kl (divisor N) as its weight (NACOV,
#   WLS.V = Gamma^-1) and var(s) = Gamma_rr / (N - 1); V = (Delta' Gamma^-1
#   Delta)^-1 / (N - 1), Gamma the normal-theory one at S for GLS;
# - GLS with the exogenous block at its sample values (the MIMIC model and
#   the growth curve above, fixed.x = TRUE, on the moments with divisor
#   N - 1): the estimates from lavaan; the derivatives J of the moments by
#   the free parameters and K by the block, both from lavaan's Delta of the
#   same model with the block free, evaluated at those estimates and the
#   sample's block; then by the delta method for the estimator itself
#   r = M (s - sigma), M = (I - J A)(I - K P), A = (J' W J)^-1 J' W with
#   W = Gamma^-1 (normal theory at S), P the selection of the block, and
#   var(r) = M Gamma M' / (N - 1).  lavaan's own residuals(type =
#   "standardized") of these fits agree to within about 3% (a variance
#   of its own making, not reproduced here), e.g. (t4, x2) -1.7359
#   against -1.7217 here;
# - the same for the growth curve with means (growth_x_gls_means): GLS
#   weighs the moments about zero M (the constant's moment c = N / (N - 1))
#   by M^-1, where lavaan's GLS with means weighs the covariances and the
#   means apart, so the model is written out here and
#   0.5 tr((M^-1 (M - M(theta)))^2) minimised by nlminb and optim (the
#   raw residuals are the run's to 4 digits); J and K by central
#   differences, the estimator linearized on the moments about zero
#   (A_u = (J_u' W_u J_u)^-1 J_u' W_u, W_u the weight of the packed
#   moments), Gamma the normal-theory covariance of the covariances and
#   means, (s_ik s_jl + s_il s_jk) / N and s_ij / (c N): the inverse of the
#   weight over N, the count the run takes for moments about zero.
#
# Keys: case, then ares_a_b (covariance of a and b) or ares_a_mean.
#   Rscript tests/e2e/residual_variance_reference.R
#   (writes tests/fixtures/residual_variance_reference.csv)
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "fixtures")
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)

hs <- read.csv(file.path(fixtures, "hs.csv"))
growth <- read.csv(file.path(fixtures, "demo_growth.csv"))[, c("t1", "t2", "t3", "t4", "x1", "x2")]
growth_model <- 'Fi =~ 1*t1 + 1*t2 + 1*t3 + 1*t4
                 Fs =~ 0*t1 + 1*t2 + 2*t3 + 3*t4
                 Fi ~ x1 + x2
                 Fs ~ x1 + x2'

# The residuals of every covariance (and mean) of a fit: sample moments S,
# xbar, fitted Sigma, mu, normal-theory variances at Sigma over nn.
put_normal <- function(case, fit, nn) {
  S <- lavInspect(fit, "sampstat")$cov
  implied <- lavInspect(fit, "implied")
  sigma <- implied$cov
  Delta <- lavInspect(fit, "delta")
  acov <- Delta %*% vcov(fit) %*% t(Delta)
  names <- rownames(S)
  for (a in seq_along(names))
    for (b in seq_len(a)) {
      r <- S[a, b] - sigma[a, b]
      v <- (sigma[a, a] * sigma[b, b] + sigma[a, b]^2) / nn
      key <- paste0(names[b], "~~", names[a])
      if (!key %in% rownames(acov)) key <- paste0(names[a], "~~", names[b])
      put(case, paste0("ares_", names[a], "_", names[b]), if (abs(r) < 1e-6) 0 else r / sqrt(v - acov[key, key]))
    }
  if (is.null(implied$mean)) return(invisible())
  xbar <- lavInspect(fit, "sampstat")$mean
  for (a in names) {
    r <- xbar[[a]] - implied$mean[[a]]
    d <- acov[paste0(a, "~1"), paste0(a, "~1")]
    put(case, paste0("ares_", a, "_mean"), if (abs(r) < 1e-6) 0 else r / sqrt(sigma[a, a] / nn - d))
  }
}

N <- nrow(hs)
put_normal("mimic", sem('F =~ x4 + x5 + x6
                         F ~ x1 + x2 + x3', data = hs, fixed.x = FALSE, likelihood = "wishart"), N - 1)
put_normal("path", sem('x1 ~ x2 + x3
                        x4 ~ x1', data = hs[, paste0("x", 1:4)], fixed.x = FALSE, likelihood = "wishart"), N - 1)
G <- nrow(growth)
put_normal("growth_x", sem(growth_model, data = growth, fixed.x = FALSE, likelihood = "wishart",
                           meanstructure = FALSE), G - 1)
put_normal("growth_x_means", growth(paste(growth_model, "x1 ~ 1", "x2 ~ 1", "x1 ~~ x2", sep = "\n"), data = growth,
                                     fixed.x = FALSE, likelihood = "normal"), G)

# GLS and WLS of the three-factor model on the moments with divisor N - 1.
three <- 'F1 =~ x1 + x2 + x3
          F2 =~ x4 + x5 + x6
          F3 =~ x7 + x8 + x9'
S <- cov(hs)
p <- ncol(S)
pairs <- which(lower.tri(S, diag = TRUE), arr.ind = TRUE)  # lavaan's vech order
pairs <- pairs[order(pairs[, 2], pairs[, 1]), ]
moment_names <- paste0(colnames(S)[pairs[, 2]], "~~", colnames(S)[pairs[, 1]])
gamma_normal <- outer(seq_len(nrow(pairs)), seq_len(nrow(pairs)), Vectorize(function(u, w) {
  i <- pairs[u, 1]; j <- pairs[u, 2]; k <- pairs[w, 1]; l <- pairs[w, 2]
  S[i, k] * S[j, l] + S[i, l] * S[j, k]
}))
Z <- scale(as.matrix(hs), scale = FALSE)
products <- t(apply(Z, 1, function(z) (z %o% z)[pairs]))
SN <- S * (N - 1) / N
gamma_adf <- crossprod(products) / N - tcrossprod(SN[pairs])
fits <- list(
  gls = list(fit = cfa(three, sample.cov = S, sample.nobs = N, estimator = "GLS", sample.cov.rescale = FALSE),
             gamma = gamma_normal),
  wls = list(fit = cfa(three, sample.cov = S, sample.nobs = N, estimator = "WLS", sample.cov.rescale = FALSE,
                       NACOV = gamma_adf, WLS.V = solve(gamma_adf)),
             gamma = gamma_adf))
for (case in names(fits)) {
  fit <- fits[[case]]$fit
  gamma <- fits[[case]]$gamma
  Delta <- lavInspect(fit, "delta")[moment_names, ]
  sigma <- lavInspect(fit, "implied")$cov
  info <- t(Delta) %*% solve(gamma, Delta)
  w <- diag(gamma - Delta %*% solve(info, t(Delta))) / (N - 1)
  for (u in seq_len(nrow(pairs))) {
    a <- pairs[u, 1]; b <- pairs[u, 2]
    put(case, paste0("ares_", colnames(S)[a], "_", colnames(S)[b]), (S[a, b] - sigma[a, b]) / sqrt(w[u]))
  }
}

# GLS with the block of the exogenous observed variables xs fixed at the
# sample's moments.
put_gls_fixed <- function(case, model, data, xs) {
  S <- cov(data)
  n <- nrow(data)
  fit <- sem(model, sample.cov = S, sample.nobs = n, estimator = "GLS", sample.cov.rescale = FALSE, fixed.x = TRUE)
  ov <- lavNames(fit, "ov")
  S <- S[ov, ov]
  pairs <- which(lower.tri(S, diag = TRUE), arr.ind = TRUE)
  pairs <- pairs[order(pairs[, 2], pairs[, 1]), ]
  names <- paste0(ov[pairs[, 2]], "~~", ov[pairs[, 1]])
  # The same model with the block free, at the estimates and the sample's block.
  pt <- parTable(sem(model, sample.cov = S, sample.nobs = n, fixed.x = FALSE, do.fit = FALSE))
  est <- parTable(fit)
  for (r in seq_len(nrow(pt))) {
    m <- est$lhs == pt$lhs[r] & est$op == pt$op[r] & est$rhs == pt$rhs[r]
    pt$start[r] <- if (any(m)) est$est[m][1] else S[pt$lhs[r], pt$rhs[r]]
  }
  pt$est <- pt$start
  at <- sem(pt, sample.cov = S, sample.nobs = n, fixed.x = FALSE, do.fit = FALSE)
  Delta <- lavInspect(at, "delta")[names, ]
  sigma <- lavInspect(at, "implied")$cov[ov, ov]
  block <- with(pt, paste0(lhs, op, rhs)[free > 0 & op == "~~" & lhs %in% xs & rhs %in% xs])
  K <- Delta[, colnames(Delta) %in% block, drop = FALSE]
  J <- Delta[, !colnames(Delta) %in% block, drop = FALSE]
  swapped <- function(b) paste(rev(strsplit(b, "~~")[[1]]), collapse = "~~")
  P <- t(sapply(colnames(K), function(b) as.numeric(names == b | names == swapped(b))))
  gamma <- outer(seq_len(nrow(pairs)), seq_len(nrow(pairs)), Vectorize(function(u, w) {
    i <- pairs[u, 1]; j <- pairs[u, 2]; k <- pairs[w, 1]; l <- pairs[w, 2]
    S[i, k] * S[j, l] + S[i, l] * S[j, k]
  }))
  W <- solve(gamma)
  I <- diag(nrow(pairs))
  M <- (I - J %*% solve(t(J) %*% W %*% J, t(J) %*% W)) %*% (I - K %*% P)
  v <- diag(M %*% gamma %*% t(M)) / (n - 1)
  for (u in seq_len(nrow(pairs))) {
    a <- pairs[u, 1]; b <- pairs[u, 2]
    r <- S[a, b] - sigma[a, b]
    put(case, paste0("ares_", ov[a], "_", ov[b]), if (abs(r) < 1e-6) 0 else r / sqrt(v[u]))
  }
}
put_gls_fixed("mimic_gls", 'F =~ x4 + x5 + x6
                            F ~ x1 + x2 + x3', hs[, paste0("x", 1:6)], c("x1", "x2", "x3"))
put_gls_fixed("growth_x_gls", growth_model, growth, c("x1", "x2"))

# The growth curve with means written out: t = L eta + e, eta = alpha + B x
# + zeta; th = (B by rows, alpha, the error variances, var and covariance
# of zeta), the covariances (vech, lavaan's order) and then the means.
growth_moments <- function(th, sxx, mx) {
  L <- cbind(1, 0:3)
  B <- matrix(th[1:4], 2, 2, byrow = TRUE)
  psi <- matrix(c(th[11], th[13], th[13], th[12]), 2)
  sig <- matrix(0, 6, 6)
  sig[5:6, 5:6] <- sxx
  sig[1:4, 1:4] <- L %*% (B %*% sxx %*% t(B) + psi) %*% t(L) + diag(th[7:10])
  sig[1:4, 5:6] <- L %*% B %*% sxx
  sig[5:6, 1:4] <- t(sig[1:4, 5:6])
  list(sigma = sig, mu = c(L %*% (th[5:6] + B %*% mx), mx))
}
# The moments: c the covariances (vech) and the means, u the moments about
# zero with the constant (its own left out); the estimator solves
# J_u' W_u (u(s) - u(sigma)) = 0, so r = M (c(s) - c(sigma)) with
# M = I - J_c A_u (D - K_u P) - K_c P, D = du/dc at the sample's means.
put_gls_growth_means <- function(case) {
  S <- cov(growth); n <- nrow(growth); xbar <- colMeans(growth); cc <- n / (n - 1)
  about_zero <- function(sig, mu) rbind(cbind(sig + cc * mu %o% mu, cc * mu), c(cc * mu, cc))
  Mw <- solve(about_zero(S, xbar)); sxx <- S[5:6, 5:6]; mx <- xbar[5:6]
  discrepancy <- function(th) { m <- growth_moments(th, sxx, mx)
    R <- Mw %*% (about_zero(S, xbar) - about_zero(m$sigma, m$mu)); 0.5 * sum(diag(R %*% R)) }
  th <- nlminb(c(0.5, 0.5, 0.2, 0.2, 0.6, 1, rep(0.5, 5), 0.1, 0.05), discrepancy,
               control = list(rel.tol = 1e-15, eval.max = 5000, iter.max = 5000))$par
  th <- optim(th, discrepancy, method = "BFGS", control = list(reltol = 1e-16, maxit = 5000))$par
  pairs <- which(lower.tri(S, diag = TRUE), arr.ind = TRUE); pairs <- pairs[order(pairs[, 2], pairs[, 1]), ]
  p7 <- which(lower.tri(diag(7), diag = TRUE), arr.ind = TRUE); p7 <- p7[order(p7[, 2], p7[, 1]), ]
  p7 <- p7[!(p7[, 1] == 7 & p7[, 2] == 7), ]
  cen <- function(sig, mu) c(sig[pairs], mu)
  unc <- function(sig, mu) about_zero(sig, mu)[p7]
  blockv <- c(sxx[1, 1], sxx[2, 1], sxx[2, 2], mx)
  mk <- function(th, b) growth_moments(th, matrix(c(b[1], b[2], b[2], b[3]), 2), b[4:5])
  central <- function(f, at) sapply(seq_along(at), function(i) {
    h <- 1e-5 * max(1, abs(at[i])); e <- replace(numeric(length(at)), i, h); (f(at + e) - f(at - e)) / (2 * h) })
  Jc <- central(function(a) { m <- mk(a, blockv); cen(m$sigma, m$mu) }, th)
  Kc <- central(function(a) { m <- mk(th, a); cen(m$sigma, m$mu) }, blockv)
  Ju <- central(function(a) { m <- mk(a, blockv); unc(m$sigma, m$mu) }, th)
  Ku <- central(function(a) { m <- mk(th, a); unc(m$sigma, m$mu) }, blockv)
  sv <- c(S[pairs], xbar)
  tosig <- function(v) { sg <- matrix(0, 6, 6); sg[pairs] <- v[1:21]; sg[pairs[, 2:1]] <- v[1:21]; sg }
  Dm <- central(function(v) unc(tosig(v), v[22:27]), sv)
  # weight of 0.5 tr((W r)^2) on the packed r (off-diagonal twice)
  q7 <- nrow(p7)
  Wu <- outer(seq_len(q7), seq_len(q7), Vectorize(function(u, w) {
    i <- p7[u, 1]; j <- p7[u, 2]; k <- p7[w, 1]; l <- p7[w, 2]
    f <- (if (i == j) 1 else 2) * (if (k == l) 1 else 2) / 2
    f * (Mw[i, k] * Mw[j, l] + Mw[i, l] * Mw[j, k]) / 2 }))
  q <- 21
  P <- matrix(0, 5, 27)
  P[cbind(1:5, c(which(pairs[, 1] == 5 & pairs[, 2] == 5), which(pairs[, 1] == 6 & pairs[, 2] == 5),
                 which(pairs[, 1] == 6 & pairs[, 2] == 6), q + 5, q + 6))] <- 1
  gamma <- matrix(0, 27, 27)
  gamma[1:q, 1:q] <- outer(seq_len(q), seq_len(q), Vectorize(function(u, w) {
    i <- pairs[u, 1]; j <- pairs[u, 2]; k <- pairs[w, 1]; l <- pairs[w, 2]
    S[i, k] * S[j, l] + S[i, l] * S[j, k] })) / n
  gamma[q + 1:6, q + 1:6] <- S / (cc * n)
  Au <- solve(t(Ju) %*% Wu %*% Ju, t(Ju) %*% Wu)
  M <- diag(27) - Jc %*% Au %*% (Dm - Ku %*% P) - Kc %*% P
  v <- diag(M %*% gamma %*% t(M))
  r <- sv - { m <- mk(th, blockv); cen(m$sigma, m$mu) }
  keys <- c(paste0("ares_", colnames(S)[pairs[, 1]], "_", colnames(S)[pairs[, 2]]),
            paste0("ares_", colnames(S), "_mean"))
  for (u in seq_along(r)) put(case, keys[u], if (abs(r[u]) < 1e-6) 0 else r[u] / sqrt(v[u]))
}
put_gls_growth_means("growth_x_gls_means")

# WLS with means (growth_x_wls_means, and _n under VARDEF=N): the growth
# curve on x1 and x2 written out with the covariates' covariances and means
# free (WLS estimates them), fitted to the moments about zero M of (x, 1)
# (divisor d, the constant's moment N / d) by r' Gamma_0^-1 r, Gamma_0 the
# covariance (divisor N) of the products of (x, 1), the constant's own
# product given the weight 1; V = (J_u' Gamma_0^-1 J_u)^-1 / N (N' = N
# with means).  The residuals are those of the covariances (divisor d) and
# means, each over sqrt(v / N - (J V J')_rr) with v its own fourth-order
# moment: the variance (divisor N) of the product (x_i - xbar_i)(x_j -
# xbar_j), or of x_i - xbar_i for a mean.
put_wls_growth_means <- function(case, d) {
  X <- as.matrix(growth); n <- nrow(X); cc <- n / d
  Z <- cbind(X, 1)
  p7 <- which(lower.tri(diag(7), diag = TRUE), arr.ind = TRUE)
  pu <- t(apply(Z, 1, function(z) (z %o% z)[p7]))
  gamma0 <- crossprod(pu) / n - tcrossprod(colMeans(pu))
  own <- which(p7[, 1] == 7 & p7[, 2] == 7)
  gamma0[own, ] <- 0; gamma0[, own] <- 0; gamma0[own, own] <- 1
  W <- solve(gamma0)
  M <- crossprod(Z) / d
  # th: B by rows, alpha, the error variances, var and covariance of zeta,
  # then the covariates' variances and covariance and their means.
  moments <- function(th) c(growth_moments(th[1:13], matrix(c(th[14], th[15], th[15], th[16]), 2), th[17:18]))
  about_zero <- function(m) rbind(cbind(m$sigma + cc * m$mu %o% m$mu, cc * m$mu), c(cc * m$mu, cc))[p7]
  discrepancy <- function(th) { r <- M[p7] - about_zero(moments(th)); sum(r * (W %*% r)) }
  S <- crossprod(sweep(X, 2, colMeans(X))) / d; xbar <- colMeans(X)
  th <- nlminb(c(0.5, 0.5, 0.2, 0.2, 0.6, 1, rep(0.5, 5), 0.1, 0.05, S[5, 5], S[6, 5], S[6, 6], xbar[5:6]), discrepancy,
               control = list(rel.tol = 1e-15, eval.max = 10000, iter.max = 10000))$par
  th <- optim(th, discrepancy, method = "BFGS", control = list(reltol = 1e-16, maxit = 10000))$par
  central <- function(f, at) sapply(seq_along(at), function(i) {
    h <- 1e-5 * max(1, abs(at[i])); e <- replace(numeric(length(at)), i, h); (f(at + e) - f(at - e)) / (2 * h) })
  pairs <- which(lower.tri(S, diag = TRUE), arr.ind = TRUE); pairs <- pairs[order(pairs[, 2], pairs[, 1]), ]
  centred <- function(m) c(m$sigma[pairs], m$mu)
  Ju <- central(function(a) about_zero(moments(a)), th)
  Jc <- central(function(a) centred(moments(a)), th)
  V <- solve(t(Ju) %*% W %*% Ju) / n
  z <- sweep(X, 2, xbar)
  tc <- cbind(t(apply(z, 1, function(v) (v %o% v)[pairs])), z)
  v <- diag(crossprod(tc) / n - tcrossprod(colMeans(tc)))
  w <- v / n - diag(Jc %*% V %*% t(Jc))
  r <- c(S[pairs], xbar) - centred(moments(th))
  keys <- c(paste0("ares_", colnames(X)[pairs[, 1]], "_", colnames(X)[pairs[, 2]]), paste0("ares_", colnames(X), "_mean"))
  for (u in seq_along(r)) put(case, keys[u], r[u] / sqrt(w[u]))
}
put_wls_growth_means("growth_x_wls_means", nrow(growth) - 1)
put_wls_growth_means("growth_x_wls_means_n", nrow(growth))

out <- do.call(rbind, rows)
write.csv(out, file.path(fixtures, "residual_variance_reference.csv"), row.names = FALSE, quote = FALSE)
