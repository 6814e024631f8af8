# Reference numbers of models with means (AUGMENT) for
# tests/e2e/mean_structure_test.cpp, from R's lavaan 0.6.14 with
# meanstructure = TRUE and likelihood = "normal":
#
# - hs_means: a two-factor model of x1-x6 of tests/fixtures/hs.csv (Fvis by
#   x1-x3, Ftxt by x4-x6) with a free intercept for every variable, so that
#   the means are saturated;
# - growth: the linear growth curve of t1-t4 of tests/fixtures/demo_growth.csv
#   (lavaan's Demo.growth), intercepts 0, the means of the latent intercept
#   and slope free;
# - growth_x: the same with the latent intercept and slope regressed on the
#   covariates x1 and x2 (fixed.x: their means, variances and covariance
#   are the sample's).
#
# Under the default divisor N - 1 the augmented moments carry the constant's
# moment k = N / (N - 1), and the maximum likelihood fit to them is lavaan's
# "normal" fit with every covariance of the model k times lavaan's (the
# means, the discrepancy and so the chi-square are the same).  The numbers
# that depend on the scale are given on that scale:
#
# - std_*: lavaan's std.all of the loadings, regressions and covariances
#   (std_a_b: the effect of b on a, or their correlation), and the
#   standardized means and intercepts mu / sqrt(k sigma_ii) (the mean over
#   the model's standard deviation);
# - r2_*: lavaan's R-square of each variable;
# - baseline_chisq, baseline_df, cfi, tli, nfi, gfi, agfi: lavaan's
#   fitMeasures (its baseline model has free means and variances and zero
#   covariances);
# - rmr: lavaan's rmr (over the residuals of the covariances and the
#   means), for a fit with VARDEF=N, whose moments are lavaan's;
# - nres_a_b, ares_a_b, vres_a_b: the normalized, asymptotically
#   standardized and variance standardized residuals of the covariance of a
#   and b (b = "mean": the mean of a), from lavaan's fitted moments Sigma and
#   mu, its sample moments S (divisor N) and xbar, its covariance of the
#   estimates V and its derivatives of the moments Delta:
#     covariance  r = s_ab - sigma_ab,  v = (sigma_aa sigma_bb + sigma_ab^2) / N
#     mean        r = xbar_a - mu_a,    v = sigma_aa / N
#     normalized r / sqrt(v), asymptotically standardized
#     r / sqrt(v - (Delta V Delta')_rr), variance standardized
#     r / sqrt(s_aa s_bb) and r / sqrt(k s_aa) (the mean residual over the
#     standard deviation of the moments analysed)
#   (the covariances off the diagonal and the means: both models fit every
#   variance exactly).
#
# For growth_x also, on the scale of k as above (covariances k times
# lavaan's, means as they are):
#
# - pred_a_b, pred_a_mean: lavaan's fitted covariances and means;
# - lat_F_G, lat_F_a, lat_F_mean: its implied covariances of the factors
#   and of the factors with the observed variables (cov.all), and the
#   factor means (mean.lv);
# - score_F_a, score_F_mean: the regression of the factor scores on the
#   observed variables, W = Sigma^-1 cov(x, F), and the intercept that
#   lavPredict's regression scores of the first case add to x W;
# - det_all, det_manifest: the coefficients of determination
#   1 - |Theta| / |Sigma_XX| over the covariances: of the equations of
#   t1-t4, Fi and Fs (Theta their residual covariances, lavaan's theta and
#   psi), which are also the structural equations, and of the observed
#   variables against their sample covariances (Theta the residual
#   covariances of t1-t4 and the covariances of x1 and x2).
#
# growth_wls: the growth curve by WLS, computed here without lavaan (see
# below): its independence model's chi-square, its chi-square, GFI and AGFI.
#
#   Rscript tests/e2e/mean_structure_reference.R
#   (reads tests/fixtures/demo_growth.csv, writes
#   tests/fixtures/mean_structure_reference.csv)
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "fixtures")
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)

hs <- read.csv(file.path(fixtures, "hs.csv"))[, paste0("x", 1:6)]
growth <- read.csv(file.path(fixtures, "demo_growth.csv"))[, c("t1", "t2", "t3", "t4", "x1", "x2")]

fits <- list(
  hs_means = cfa('Fvis =~ x1 + x2 + x3
                  Ftxt =~ x4 + x5 + x6', data = hs, meanstructure = TRUE, likelihood = "normal"),
  growth = growth('Fi =~ 1*t1 + 1*t2 + 1*t3 + 1*t4
                   Fs =~ 0*t1 + 1*t2 + 2*t3 + 3*t4', data = growth, likelihood = "normal"),
  growth_x = growth('Fi =~ 1*t1 + 1*t2 + 1*t3 + 1*t4
                     Fs =~ 0*t1 + 1*t2 + 2*t3 + 3*t4
                     Fi ~ x1 + x2
                     Fs ~ x1 + x2', data = growth, likelihood = "normal"))

for (case in names(fits)) {
  fit <- fits[[case]]
  N <- lavInspect(fit, "ntotal")
  k <- N / (N - 1)
  fm <- unclass(fitMeasures(fit))
  for (key in c("baseline.chisq", "baseline.df", "cfi", "tli", "nfi", "gfi", "agfi", "rmr"))
    put(case, sub(".", "_", key, fixed = TRUE), fm[[key]])
  r2 <- lavInspect(fit, "r2")
  for (v in names(r2)) put(case, paste0("r2_", v), r2[[v]])

  implied <- lavInspect(fit, "implied")
  sigma <- implied$cov
  mu <- implied$mean
  std <- standardizedSolution(fit)
  for (i in which(std$op %in% c("=~", "~") | (std$op == "~~" & std$lhs != std$rhs)))
    put(case, paste0("std_", std$lhs[i], "_", std$rhs[i]), std$est.std[i])
  # The model's means over its standard deviations: those of the observed
  # variables (their intercepts when the model has them) and of the
  # factors.
  est <- parTable(fit)
  phi <- lavInspect(fit, "cov.lv")
  for (i in which(est$op == "~1" & (est$free > 0 | est$exo > 0))) {
    v <- est$lhs[i]
    var <- if (v %in% rownames(sigma)) sigma[v, v] else phi[v, v]
    put(case, paste0("std_", v, "_mean"), est$est[i] / sqrt(k * var))
  }

  if (case == "growth_x") {  # its residuals are not compared
    all <- lavInspect(fit, "cov.all")
    obs <- rownames(sigma)
    lat <- c("Fi", "Fs")
    for (a in seq_along(obs)) {
      for (b in seq_len(a)) put(case, paste0("pred_", obs[a], "_", obs[b]), k * sigma[a, b])
      put(case, paste0("pred_", obs[a], "_mean"), mu[[a]])
    }
    W <- solve(all[obs, obs], all[obs, lat])
    scores <- lavPredict(fit)
    for (f in lat) {
      for (g in c(lat, obs)) put(case, paste0("lat_", f, "_", g), k * all[g, f])
      put(case, paste0("lat_", f, "_mean"), lavInspect(fit, "mean.lv")[[f]])
      for (a in obs) put(case, paste0("score_", f, "_", a), W[a, f])
      put(case, paste0("score_", f, "_mean"), scores[1, f] - sum(unlist(growth[1, obs]) * W[, f]))
    }
    theta <- lavInspect(fit, "est")$theta
    psi <- lavInspect(fit, "est")$psi
    endo <- c("t1", "t2", "t3", "t4", lat)
    resid <- rbind(cbind(theta[1:4, 1:4], 0 * theta[1:4, 1:2]), cbind(0 * psi[lat, 1:4], psi[lat, lat]))
    put(case, "det_all", 1 - det(resid) / det(all[endo, endo]))
    manifest <- theta
    manifest[5:6, 5:6] <- sigma[5:6, 5:6]
    put(case, "det_manifest", 1 - det(manifest) / det(lavInspect(fit, "sampstat")$cov))
    next
  }
  S <- lavInspect(fit, "sampstat")$cov
  xbar <- lavInspect(fit, "sampstat")$mean
  V <- vcov(fit)
  Delta <- lavInspect(fit, "delta")
  acov <- Delta %*% V %*% t(Delta)
  names <- rownames(S)
  # The variances, fitted exactly by both models, have no residual to
  # standardize.
  for (a in seq_along(names))
    for (b in seq_len(a - 1)) {
      r <- S[a, b] - sigma[a, b]
      v <- (sigma[a, a] * sigma[b, b] + sigma[a, b]^2) / N
      d <- acov[paste0(names[b], "~~", names[a]), paste0(names[b], "~~", names[a])]
      put(case, paste0("nres_", names[a], "_", names[b]), r / sqrt(v))
      put(case, paste0("ares_", names[a], "_", names[b]), r / sqrt(v - d))
      put(case, paste0("vres_", names[a], "_", names[b]), r / sqrt(S[a, a] * S[b, b]))
    }
  for (a in names) {
    r <- xbar[[a]] - mu[[a]]
    v <- sigma[a, a] / N
    d <- acov[paste0(a, "~1"), paste0(a, "~1")]
    put(case, paste0("nres_", a, "_mean"), r / sqrt(v))
    # A saturated mean has no residual and no variance.
    put(case, paste0("ares_", a, "_mean"), if (abs(r) < 1e-9) 0 else r / sqrt(v - d))
    put(case, paste0("vres_", a, "_mean"), r / sqrt(k * S[a, a]))
  }
}

# growth_wls: the independence model of the growth curve by WLS, found
# here by optim: free variances v and means mu of t1-t4 and zero
# covariances, fitted to the moments about zero M (divisor N - 1, the
# constant's moment c = N / (N - 1)) by F = r' Gamma^-1 r, Gamma the
# fourth-order moments of the moments about zero less their products
# (divisor N), the constant's own moment, which does not vary, given the
# weight 1; the chi-square is N F.
Z <- cbind(as.matrix(growth[, 1:4]), 1)
N <- nrow(Z)
pairs <- which(lower.tri(diag(5), diag = TRUE), arr.ind = TRUE)
products <- t(apply(Z, 1, function(z) (z %o% z)[pairs]))
zero <- colMeans(products)
gamma <- crossprod(products) / N - tcrossprod(zero)
own <- which(pairs[, 1] == 5 & pairs[, 2] == 5)
gamma[own, ] <- 0
gamma[, own] <- 0
gamma[own, own] <- 1
k <- N / (N - 1)
weight <- solve(gamma)
independence <- function(theta) {
  m <- theta[5:8]
  M0 <- rbind(cbind(diag(theta[1:4]) + k * m %o% m, k * m), c(k * m, k))
  r <- k * zero - M0[pairs]
  sum(r * (weight %*% r))
}
start <- c(apply(growth[, 1:4], 2, var), colMeans(growth[, 1:4]))
o <- optim(start, independence, method = "BFGS", control = list(reltol = 1e-14, maxit = 10000))
o <- optim(o$par, independence, method = "Nelder-Mead", control = list(reltol = 1e-15, maxit = 20000))
o <- optim(o$par, independence, method = "BFGS", control = list(reltol = 1e-16, maxit = 10000))
put("growth_wls", "baseline_chisq", N * o$value)

# The growth curve itself by WLS in the same metric (the moments about zero
# of its covariances L Psi L' + Theta and means L alpha), and its GFI and
# AGFI by their definitions: 1 - G / D with G = x(r)' Gamma^-1 x(r) and
# D = x(s)' Gamma^-1 x(s), x the linear map of covariances V and means v
# to moments about zero at the sample means xbar (V + c (xbar v' + v xbar'),
# c v, and 0 for the constant), r the residuals and s the sample's
# covariances and means; AGFI = 1 - 14 (G / D) / 5.
loadings <- cbind(1, 0:3)
implied <- function(theta) {
  psi <- matrix(c(theta[1], theta[3], theta[3], theta[2]), 2)
  list(cov = loadings %*% psi %*% t(loadings) + diag(theta[4:7]), mean = as.vector(loadings %*% theta[8:9]))
}
about_zero <- function(V, v, at) rbind(cbind(V + k * (at %o% v + v %o% at), k * v), c(k * v, 0))[pairs]
growth_wls <- function(theta) {
  im <- implied(theta)
  m <- im$mean
  r <- k * zero - rbind(cbind(im$cov + k * m %o% m, k * m), c(k * m, k))[pairs]
  sum(r * (weight %*% r))
}
o <- optim(c(1.9, 0.6, 0.1, 0.6, 0.6, 0.6, 0.6, 0.6, 1.0), growth_wls, method = "BFGS",
           control = list(reltol = 1e-15, maxit = 10000))
o <- optim(o$par, growth_wls, method = "Nelder-Mead", control = list(reltol = 1e-16, maxit = 50000))
o <- optim(o$par, growth_wls, method = "BFGS", control = list(reltol = 1e-16, maxit = 10000))
im <- implied(o$par)
xbar <- colMeans(growth[, 1:4])
r <- about_zero(cov(growth[, 1:4]) - im$cov, xbar - im$mean, xbar)
s <- about_zero(cov(growth[, 1:4]), xbar, xbar)
ratio <- sum(r * (weight %*% r)) / sum(s * (weight %*% s))
put("growth_wls", "chisq", N * o$value)
put("growth_wls", "gfi", 1 - ratio)
put("growth_wls", "agfi", 1 - 14 * ratio / 5)

out <- do.call(rbind, rows)
write.csv(out, file.path(fixtures, "mean_structure_reference.csv"), row.names = FALSE, quote = FALSE)
