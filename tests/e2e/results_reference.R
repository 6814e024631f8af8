# Reference numbers of results_test.cpp: residuals, modification indices,
# score tests of an equality and of a bound, and a stepwise Wald test, made
# with R's lavaan 0.6.14 (likelihood = "wishart", so S and the covariance of
# the estimates use N - 1).  lavaan scales its score statistics by N even
# under "wishart"; the rows below carry them times (N - 1) / N, the scale of
# the chi-square T = (N - 1) F.
#
#   Rscript tests/e2e/results_reference.R      (writes tests/fixtures/results_reference.csv)
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "fixtures")
source(file.path(here, "reference_models.R"))
hs <- read.csv(file.path(fixtures, "hs.csv"))
N <- nrow(hs)
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)
estimates <- function(case, fit) {
  pe <- parameterEstimates(fit)
  pe <- pe[pe$label != "" & !duplicated(pe$label), ]
  for (i in seq_len(nrow(pe))) put(case, paste0("est:", pe$label[i]), pe$est[i])
}
hs_model <- function(loading3 = "l3", fix9 = FALSE, loading2 = "l2", loading6 = "l6", extra = "") paste0('
  Fvis =~ 1*x1 + ', loading2, '*x2 + ', loading3, '*x3
  Ftxt =~ 1*x4 + l5*x5 + ', loading6, '*x6
  Fspd =~ 1*x7 + l8*x8 + l9*x9
  Fvis ~~ vvis*Fvis; Ftxt ~~ vtxt*Ftxt; Fspd ~~ vspd*Fspd
  Fvis ~~ cvt*Ftxt; Fvis ~~ cvs*Fspd; Ftxt ~~ cts*Fspd
  x1 ~~ ve1*x1; x2 ~~ ve2*x2; x3 ~~ ve3*x3; x4 ~~ ve4*x4; x5 ~~ ve5*x5
  x6 ~~ ve6*x6; x7 ~~ ve7*x7; x8 ~~ ve8*x8; x9 ~~ ve9*x9',
  if (fix9) '\n  l9 == 0.9' else '', extra)
scale <- (N - 1) / N

# Stepwise Wald test: drop the parameter whose joint statistic with those
# dropped is smallest; stop at the first increase with p below 0.05.
stepwise_wald <- function(case, fit) {
  pe <- parameterEstimates(fit)
  labels <- unique(pe$label[pe$label != ""])
  dropped <- character(0)
  previous <- 0
  for (step in seq_along(labels)) {
    best <- NA; bestW <- Inf
    for (l in setdiff(labels, dropped)) {
      w <- lavTestWald(fit, constraints = paste(paste0(c(dropped, l), " == 0"), collapse = "\n"))$stat
      if (w < bestW) { bestW <- w; best <- l }
    }
    inc <- max(bestW - previous, 0)
    if (pchisq(inc, 1, lower.tail = FALSE) < 0.05) break
    put(case, paste0("waldstep:", step, ":", best), bestW)
    dropped <- c(dropped, best)
    previous <- bestW
  }
}

# The three-factor model: residuals, indices, Wald statistics.
fit <- cfa(hs_model(), data = hs, likelihood = "wishart", std.lv = FALSE)
estimates("hs", fit)
vars <- paste0("x", 1:9)
sigma <- fitted(fit)$cov
raw <- lavInspect(fit, "sampstat")$cov - sigma
bentler <- resid(fit, type = "cor.bentler")$cov
asym <- lavResiduals(fit, type = "raw", zstat = TRUE, h1.acov = "structured")$cov.z * sqrt(scale)
for (i in 1:9) for (j in 1:i) {
  cellname <- paste0(vars[i], ":", vars[j])
  put("hs", paste0("raw:", cellname), raw[i, j])
  put("hs", paste0("sigma:", cellname), sigma[i, j])
  put("hs", paste0("varstd:", cellname), bentler[i, j])
  if (i != j) put("hs", paste0("asym:", cellname), asym[i, j])
}
mi <- modindices(fit)
for (i in seq_len(nrow(mi))) {
  key <- paste0(mi$lhs[i], mi$op[i], mi$rhs[i])
  put("hs", paste0("mi:", key), mi$mi[i] * scale)
  put("hs", paste0("epc:", key), mi$epc[i])
}
pe <- parameterEstimates(fit)
pe <- pe[pe$label != "", ]
for (i in seq_len(nrow(pe))) put("hs", paste0("wald:", pe$label[i]), (pe$est[i] / pe$se[i])^2)
stepwise_wald("hs", fit)

# An equality tie of the loadings of x2 and x3.
tied <- cfa(hs_model(loading3 = "l2"), data = hs, likelihood = "wishart")
estimates("hs_tied", tied)
put("hs_tied", "score", lavTestScore(tied)$uni$X2[1] * scale)
# What releasing the tie would move each loading by (lavaan's epc, the
# Newton step of the released model; not scaled).
epc <- lavTestScore(tied, epc = TRUE)$epc
for (x in c("x2", "x3")) put("hs_tied", paste0("change:", x), epc$epc[epc$lhs == "Fvis" & epc$rhs == x])

# A tie of three loadings (x2, x3, x6): releasing one from the two others
# is the score test of a == b with the other two still tied.
tie3 <- cfa(hs_model(loading3 = "l2", loading6 = "l2"), data = hs, likelihood = "wishart")
estimates("hs_tie3", tie3)
one <- function(x2, x3, x6) {
  fit <- cfa(hs_model(loading2 = x2, loading3 = x3, loading6 = x6, extra = "\n  a == b"),
             data = hs, likelihood = "wishart")
  lavTestScore(fit)$uni$X2[1] * scale
}
put("hs_tie3", "release:x2", one("a", "b", "b"))
put("hs_tie3", "release:x3", one("b", "a", "b"))
put("hs_tie3", "release:x6", one("b", "b", "a"))

# The loading of x9 held at 0.9 (the active upper bound 0 <= l9 <= 0.9).
held <- cfa(hs_model(fix9 = TRUE), data = hs, likelihood = "wishart")
estimates("hs_bound", held)
put("hs_bound", "score", lavTestScore(held)$uni$X2[1] * scale)

# WLS: the score test of F = r'W r (r = s - sigma, W = lavaan's WLS.V, the
# same W and F as the program's, whose T = (N - 1) F equals lavaan's chisq)
# at lavaan's estimates, for one fixed element each: with g and H = 2 D'W D
# the gradient and the expected Hessian of F over the parameters and the
# element (D the exact Jacobian of the implied moments), the index is
# (N - 1) / 2 times g_e^2 over the element's Schur complement of H and the
# expected change the element's entry of -H^-1 g (the Newton step, which for
# ML is lavaan's epc to 1e-6).  lavaan's modindices() gives (N - 1) / N times
# both for WLS (its information there is N / (N - 1) times the Hessian of
# its fit function); its rows are kept to show that relation.
wls <- cfa(hs_model(), data = hs, estimator = "WLS")
estimates("hs_wls", wls)
W <- lavInspect(wls, "WLS.V")
s <- lav_matrix_vech(lavInspect(wls, "sampstat")$cov)
wls_mi <- modindices(wls)
for (cell in list(c("Fvis", "=~", "x9"), c("Ftxt", "=~", "x1"), c("Fspd", "=~", "x2"),
                  c("x7", "~~", "x8"), c("x1", "~~", "x9"), c("x4", "~~", "x6"))) {
  key <- paste0(cell, collapse = "")
  ext <- cfa(paste0(hs_model(), "\n  ", cell[1], " ", cell[2], " newp*", cell[3]), data = hs,
             estimator = "WLS", do.fit = FALSE)
  theta <- coef(ext)
  for (nm in names(theta)) theta[nm] <- if (nm %in% names(coef(wls))) coef(wls)[nm] else 0
  model <- lav_model_set_parameters(ext@Model, theta)
  D <- lavaan:::computeDelta(lavmodel = model)[[1]]
  r <- s - lav_matrix_vech(lav_model_implied(model)$cov[[1]])
  g <- -2 * t(D) %*% W %*% r
  H <- 2 * t(D) %*% W %*% D
  e <- which(names(theta) == "newp")
  schur <- H[e, e] - H[e, -e] %*% solve(H[-e, -e], H[-e, e])
  put("hs_wls", paste0("mi:", key), (N - 1) / 2 * g[e]^2 / drop(schur))
  put("hs_wls", paste0("epc:", key), -solve(H, g)[e])
  row <- wls_mi[wls_mi$lhs == cell[1] & wls_mi$op == cell[2] & wls_mi$rhs == cell[3], ]
  put("hs_wls", paste0("lavmi:", key), row$mi)
  put("hs_wls", paste0("lavepc:", key), row$epc)
}

# Political democracy: its stepwise Wald test drops parameters.
poldem <- read.csv(file.path(fixtures, "poldem.csv"))
pd <- sem(poldem_lavaan, data = poldem, likelihood = "wishart")
estimates("poldem", pd)
stepwise_wald("poldem", pd)

# Its effects in the LINEQS form at lavaan's estimates: with A the direct
# effects among all variables (loadings and structural paths, A[i, j] the
# effect of j on i), the total effects are (I - A)^-1 - I and the indirect
# ones the total less A.  The column of an endogenous variable is the effect
# of its error term, which reaches the others only through the variable.
# Only the entries above rounding are written.
est <- lavInspect(pd, "est")
lv <- colnames(est$lambda)
all <- c(rownames(est$lambda), lv)
A <- matrix(0, length(all), length(all), dimnames = list(all, all))
A[rownames(est$lambda), lv] <- est$lambda
A[lv, lv] <- est$beta
total <- solve(diag(length(all)) - A) - diag(length(all))
dimnames(total) <- dimnames(A)
for (kind in c("total", "indirect")) {
  m <- if (kind == "total") total else total - A
  for (i in all) for (j in all)
    if (abs(m[i, j]) > 1e-12) put("poldem", paste0("lineqs_", kind, ":", i, ":", j), m[i, j])
}

# The same model by R's sem package as a RAM list: its estimates and its
# total and indirect effects.
suppressMessages(library(sem))
ram_model <- specifyModel(text = "
Find60 -> x1, NA, 1
Find60 -> x2, l2, NA
Find60 -> x3, l3, NA
Fdem60 -> y1, NA, 1
Fdem60 -> y2, l5, NA
Fdem60 -> y3, l6, NA
Fdem60 -> y4, l7, NA
Fdem65 -> y5, NA, 1
Fdem65 -> y6, l9, NA
Fdem65 -> y7, l10, NA
Fdem65 -> y8, l11, NA
Find60 -> Fdem60, b1, NA
Find60 -> Fdem65, b2, NA
Fdem60 -> Fdem65, b3, NA
Find60 <-> Find60, vind60, NA
Fdem60 <-> Fdem60, vd1, NA
Fdem65 <-> Fdem65, vd2, NA
x1 <-> x1, ve1, NA
x2 <-> x2, ve2, NA
x3 <-> x3, ve3, NA
y1 <-> y1, ve4, NA
y2 <-> y2, ve5, NA
y3 <-> y3, ve6, NA
y4 <-> y4, ve7, NA
y5 <-> y5, ve8, NA
y6 <-> y6, ve9, NA
y7 <-> y7, ve10, NA
y8 <-> y8, ve11, NA
y1 <-> y5, c15, NA
y2 <-> y4, c24, NA
y2 <-> y6, c26, NA
y3 <-> y7, c37, NA
y4 <-> y8, c48, NA
y6 <-> y8, c68, NA
", quiet=TRUE)
ram_fit <- sem(ram_model, S = cov(poldem), N = nrow(poldem))
for (n in names(coef(ram_fit))) put("poldem_ram", paste0("est:", n), coef(ram_fit)[[n]])
eff <- effects(ram_fit)
for (kind in c("Total", "Indirect")) {
  m <- eff[[kind]]
  for (i in rownames(m)) for (j in colnames(m))
    if (m[i, j] != 0) put("poldem_ram", paste0(tolower(kind), ":", i, ":", j), m[i, j])
}

# The two-factor model of x1-x6 (hs6) under the methods with forms of their
# own, on the covariances with divisor N - 1:
# - hs6_gls_inwgt: GLS weighed by the inverse of the INWGT= matrix V, the
#   covariances of the first 150 pupils (written to hs6_weights.csv as
#   TYPE=WEIGHT rows), fitted to all 301: F = 0.5 tr((V^-1 (S - Sigma))^2),
#   lavaan's WLS with that normal-theory weight; GFI = 1 - G / D with
#   G = tr((V^-1 (S - Sigma))^2), D = tr((V^-1 S)^2), AGFI = 1 - (21 / 8) G / D;
# - hs6_kurtosis: the chi-squares T = (N - 1) F of GLS (W = S^-1) and ML
#   over the relative multivariate kurtosis b2,p / (p (p + 2)), Mardia's
#   b2,p with divisor N, and their p values on 8 df;
# - hs6_dwls: the variance standardized residuals (s_ij - sigma_ij) /
#   sqrt(s_ii s_jj) at lavaan's DWLS estimates (the program's).
hs6 <- hs[, paste0("x", 1:6)]
S6 <- cov(hs6)
model6 <- 'Fvis =~ x1 + x2 + x3
           Ftxt =~ x4 + x5 + x6'
p6 <- which(lower.tri(S6, diag = TRUE), arr.ind = TRUE)
p6 <- p6[order(p6[, 2], p6[, 1]), ]
V <- cov(hs6[1:150, ])
write.csv(data.frame(`_TYPE_` = "WEIGHT", `_NAME_` = colnames(V), V, check.names = FALSE),
          file.path(fixtures, "hs6_weights.csv"), row.names = FALSE, quote = FALSE)
Vi <- solve(V)
# The weight of 0.5 tr((V^-1 r)^2) over vech r.
Wv <- outer(seq_len(nrow(p6)), seq_len(nrow(p6)), Vectorize(function(u, w) {
  i <- p6[u, 1]; j <- p6[u, 2]; k <- p6[w, 1]; l <- p6[w, 2]
  (if (i == j) 1 else 2) * (if (k == l) 1 else 2) * (Vi[i, k] * Vi[j, l] + Vi[i, l] * Vi[j, k]) / 4 }))
inwgt <- lavaan::cfa(model6, sample.cov = S6, sample.nobs = N, estimator = "WLS", WLS.V = Wv, NACOV = solve(Wv),
             sample.cov.rescale = FALSE)
R6 <- Vi %*% (S6 - lavInspect(inwgt, "implied")$cov)
ratio <- sum(diag(R6 %*% R6)) / sum(diag((Vi %*% S6) %*% (Vi %*% S6)))
put("hs6_gls_inwgt", "gfi", 1 - ratio)
put("hs6_gls_inwgt", "agfi", 1 - 21 / 8 * ratio)
Z6 <- scale(as.matrix(hs6), scale = FALSE)
b2p <- mean(rowSums((Z6 %*% solve(S6 * (N - 1) / N)) * Z6)^2)
relative <- b2p / (6 * 8)
gls6 <- lavaan::cfa(model6, sample.cov = S6, sample.nobs = N, estimator = "GLS", sample.cov.rescale = FALSE)
Rg <- solve(S6) %*% (S6 - lavInspect(gls6, "implied")$cov)
ml6 <- lavaan::cfa(model6, data = hs6, likelihood = "wishart")
for (m in list(list("gls", (N - 1) * 0.5 * sum(diag(Rg %*% Rg))), list("ml", fitMeasures(ml6, "chisq")[[1]]))) {
  put("hs6_kurtosis", paste0(m[[1]], ":adjchisq"), m[[2]] / relative)
  put("hs6_kurtosis", paste0(m[[1]], ":p"), pchisq(m[[2]] / relative, 8, lower.tail = FALSE))
}
dwls6 <- lavaan::cfa(model6, data = hs6, estimator = "DWLS")
sigma6 <- lavInspect(dwls6, "implied")$cov
for (u in seq_len(nrow(p6))) {
  i <- p6[u, 1]; j <- p6[u, 2]
  put("hs6_dwls", paste0("varstd:x", i, ":x", j), (S6[i, j] - sigma6[i, j]) / sqrt(S6[i, i] * S6[j, j]))
}

out <- do.call(rbind, rows)
write.csv(out, file.path(fixtures, "results_reference.csv"), row.names = FALSE, quote = FALSE)
