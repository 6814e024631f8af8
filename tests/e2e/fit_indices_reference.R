# Reference numbers of the fit indices that lavaan's own reference files do
# not hold, for the three reference programs (tests/fixtures/*.vx) fitted by
# R's lavaan 0.6.14 with likelihood = "wishart" (the N - 1 convention), used
# by tests/e2e/estimation_test.cpp and tests/procedure/results/fit_indices_test.cpp:
#
# - pnfi: lavaan's parsimonious NFI, df / df0 times the NFI;
# - hoelter: lavaan's critical N at 0.05, qchisq(0.95, df) / F + 1 with
#   F = chisq / (N - 1), rounded up to a whole number of observations;
# - caic: Bozdogan's consistent AIC in its chi-square form,
#   chisq - (ln N + 1) df (lavaan has none);
# - centrality: McDonald's centrality exp(-(chisq - df) / (2 N)), with N
#   (lavaan's mfi divides by N - 1 under "wishart");
# - ecvi: Browne and Cudeck's expected cross-validation index of a maximum
#   likelihood fit with the multiplier n_e = N - 1 - p - 1 (p manifest
#   variables, q free parameters): F + 2 q / n_e (lavaan's ecvi takes
#   n_e = N - 1).
#
# For hs_cfa_ml also the 95% and 80% intervals of RMSEA (lavaan's,
# rmsea.ci.level = 0.95 and 0.80) and the 95% interval of ECVI (the
# noncentralities l at which n_e F is the 2.5% and 97.5% point of the
# noncentral chi-square, (l + q + p*) / n_e).  Case
# hs_bound: the same model with the loading of x9 held at 0.9, its chi-square
# and, for the model with the held loading counted as a free parameter (df
# 24, q 21, case hs_bound_noadjdf) and as a fixed one (df 25, q 20), df, the
# p value, RMSEA and ECVI.
#
#   Rscript tests/e2e/fit_indices_reference.R   (writes tests/fixtures/fit_indices_reference.csv)
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "fixtures")
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)

hs <- read.csv(file.path(fixtures, "hs.csv"))
poldem <- read.csv(file.path(fixtures, "poldem.csv"))
ability <- read.csv(file.path(fixtures, "ability.csv"), comment.char = "#")
ability <- ability[ability$X_TYPE_ == "COV", ]
S <- as.matrix(ability[, -(1:2)])
rownames(S) <- colnames(S)

hs_model <- function(x9) paste0('
  Fvis =~ x1 + x2 + x3
  Ftxt =~ x4 + x5 + x6
  Fspd =~ x7 + x8 + ', x9, 'x9')
fits <- list(
  hs_cfa_ml = cfa(hs_model(""), data = hs, likelihood = "wishart"),
  poldem_ml = sem('
    Find60 =~ x1 + x2 + x3
    Fdem60 =~ y1 + y2 + y3 + y4
    Fdem65 =~ y5 + y6 + y7 + y8
    Fdem60 ~ Find60
    Fdem65 ~ Find60 + Fdem60
    y1 ~~ y5; y2 ~~ y4; y2 ~~ y6; y3 ~~ y7; y4 ~~ y8; y6 ~~ y8',
    data = poldem, likelihood = "wishart"),
  ability_ml = cfa('
    Fg =~ general + picture + blocks + maze
    Fv =~ reading + vocab', sample.cov = S, sample.nobs = 112, likelihood = "wishart"))

ecvi_ne <- function(N, p) N - 1 - p - 1
# The noncentrality at which x is the `prob` point of chi2_df(l).
noncentrality <- function(x, df, prob)
  uniroot(function(l) pchisq(x, df, ncp = l) - prob, c(0, 10 * x + 100), tol = 1e-14)$root

for (case in names(fits)) {
  fm <- unclass(fitMeasures(fits[[case]]))
  N <- fm[["ntotal"]]; T <- fm[["chisq"]]; df <- fm[["df"]]; q <- fm[["npar"]]
  p <- nrow(lavInspect(fits[[case]], "sampstat")$cov)
  put(case, "pnfi", fm[["pnfi"]])
  put(case, "hoelter", ceiling(fm[["cn_05"]]))
  put(case, "caic", T - (log(N) + 1) * df)
  put(case, "centrality", exp(-(T - df) / (2 * N)))
  put(case, "ecvi", T / (N - 1) + 2 * q / ecvi_ne(N, p))
}

fit <- fits$hs_cfa_ml
fm <- unclass(fitMeasures(fit))
ci <- unclass(fitMeasures(fit, c("rmsea.ci.lower", "rmsea.ci.upper"), fm.args = list(rmsea.ci.level = 0.95)))
put("hs_cfa_ml", "rmsea_lo95", ci[["rmsea.ci.lower"]])
put("hs_cfa_ml", "rmsea_hi95", ci[["rmsea.ci.upper"]])
ci <- unclass(fitMeasures(fit, c("rmsea.ci.lower", "rmsea.ci.upper"), fm.args = list(rmsea.ci.level = 0.80)))
put("hs_cfa_ml", "rmsea_lo80", ci[["rmsea.ci.lower"]])
put("hs_cfa_ml", "rmsea_hi80", ci[["rmsea.ci.upper"]])
ne <- ecvi_ne(fm[["ntotal"]], 9)
te <- ne * fm[["chisq"]] / (fm[["ntotal"]] - 1)
put("hs_cfa_ml", "ecvi_lo95", (noncentrality(te, fm[["df"]], 0.975) + fm[["npar"]] + 45) / ne)
put("hs_cfa_ml", "ecvi_hi95", (noncentrality(te, fm[["df"]], 0.025) + fm[["npar"]] + 45) / ne)

held <- cfa(hs_model("0.9*"), data = hs, likelihood = "wishart")
fm <- unclass(fitMeasures(held))
N <- fm[["ntotal"]]; T <- fm[["chisq"]]
for (counted in c(FALSE, TRUE)) {
  case <- if (counted) "hs_bound_noadjdf" else "hs_bound"
  df <- fm[["df"]] - counted
  q <- fm[["npar"]] + counted
  put(case, "chisq", T)
  put(case, "df", df)
  put(case, "pvalue", pchisq(T, df, lower.tail = FALSE))
  put(case, "rmsea", sqrt(max(T - df, 0) / ((N - 1) * df)))
  put(case, "ecvi", T / (N - 1) + 2 * q / ecvi_ne(N, 9))
}
stopifnot(abs(fm[["rmsea"]] - sqrt((T - 25) / ((N - 1) * 25))) < 1e-12)

# Cases hs_n100000_ml and hs_n100000_gls: the hs model with NOBS=100000
# (N - 1 = 99999 times the same F), by ML and by GLS, chi-squares of 28,000
# and 25,000 whose RMSEA and ECVI limits sit at noncentralities in the tens
# of thousands: the chi-square, the 90% limits of RMSEA and ECVI by the
# inversion above, and the probability of close fit,
# pchisq(T, df, ncp = (N - 1) df 0.05^2, lower.tail = FALSE).  F is that
# of the fits to the 301 rows: lavaan's chisq / (N - 1) for ML, and for
# GLS 0.5 tr(((S - C) S^-1)^2) from lavaan's S and implied C (its divisor
# of S does not matter: C is fitted to that S, and F is the same for cS
# and cC).
gls <- cfa(hs_model(""), data = hs, estimator = "GLS")
S <- lavInspect(gls, "sampstat")$cov
R <- (S - lavInspect(gls, "implied")$cov) %*% solve(S)
f_of <- list(ml = fitMeasures(fits$hs_cfa_ml, "chisq")[[1]] / (nrow(hs) - 1), gls = 0.5 * sum(diag(R %*% R)))
N <- 100000; df <- 24; q <- 21; pstar <- 45
for (method in names(f_of)) {
  case <- paste0("hs_n100000_", method)
  f <- f_of[[method]]
  T <- (N - 1) * f
  ne <- if (method == "ml") ecvi_ne(N, 9) else N - 1
  put(case, "chisq", T)
  put(case, "rmsea_lo90", sqrt(noncentrality(T, df, 0.95) / ((N - 1) * df)))
  put(case, "rmsea_hi90", sqrt(noncentrality(T, df, 0.05) / ((N - 1) * df)))
  put(case, "ecvi_lo90", (noncentrality(ne * f, df, 0.95) + q + pstar) / ne)
  put(case, "ecvi_hi90", (noncentrality(ne * f, df, 0.05) + q + pstar) / ne)
  put(case, "closefit", pchisq(T, df, ncp = (N - 1) * df * 0.05^2, lower.tail = FALSE))
}

out <- do.call(rbind, rows)
write.csv(out, file.path(fixtures, "fit_indices_reference.csv"), row.names = FALSE, quote = FALSE)
