# Reference minima of constrained_corpus_test.cpp: each model under its
# restrictions fitted by lavaan 0.6.14, written as case,key,value rows (F,
# est:<label>, se:<label>) to tests/fixtures/constrained_corpus.csv; the
# cases without restrictions check each method's conventions in the test,
# and are the unconstrained minima that bench/claims_campaign.py checks its
# own minima against.
#
# Every restriction is active at the constrained minimum, so lavaan is
# given the equality (a bound holds its parameter at the bound, an
# inequality row holds with equality), which has the same minimum; a
# restriction's activity is checked here by refitting with the equality
# moved 0.01 into the feasible side, which must raise the chi-square (a
# restriction that did not bind would lower it).  lavaan's standard errors
# under equality constraints are those of the constrained estimates.
#
# Conventions, checked against the program on the unconstrained model of
# hs_cfa_ml.vx: the program's F equals lavaan's chi-square over N - 1 for
# ML (likelihood = "wishart"), GLS, WLS and DWLS, with the same estimates.
# Its ULS F is 0.5 tr((S - C)^2), each covariance counted twice, where
# lavaan's counts each moment once: the two have the same minimum only
# because every model here fits each variance exactly with a free unique
# variance (peer_conventions.R shows a model where they differ).  Its
# standard errors equal lavaan's for ML, GLS, WLS and DWLS
# (se = "standard": lavaan's own DWLS default is the robust sandwich).  Its
# ULS standard errors scale the inverse cross product by the least-squares
# estimate of sigma^2, which lavaan's do not (0.0271 against 0.0555 for l2),
# so no ULS case has se: rows.
#
#   Rscript tests/e2e/constrained_corpus.R
suppressMessages(library(lavaan))
options(warn = 1)
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "fixtures")
source(file.path(here, "reference_models.R"))
hs <- read.csv(file.path(fixtures, "hs.csv"))
poldem <- read.csv(file.path(fixtures, "poldem.csv"))
ab <- read.csv(file.path(fixtures, "ability.csv"), comment.char = "#")
ability <- as.matrix(ab[ab$X_TYPE_ == "COV", -(1:2)])
rownames(ability) <- colnames(ability)
wh <- read.csv(file.path(fixtures, "wheaton.csv"), comment.char = "#")
wheaton <- as.matrix(wh[wh$X_TYPE_ == "COV", -(1:2)])
rownames(wheaton) <- colnames(wheaton)

models <- list(
  hs = hs_lavaan,
  two = '
    Fvis =~ 1*x1 + l2*x2 + l3*x3
    Ftxt =~ 1*x4 + l5*x5 + l6*x6
    Fvis ~~ vvis*Fvis; Ftxt ~~ vtxt*Ftxt; Fvis ~~ cvt*Ftxt
    x1 ~~ ve1*x1; x2 ~~ ve2*x2; x3 ~~ ve3*x3; x4 ~~ ve4*x4; x5 ~~ ve5*x5; x6 ~~ ve6*x6',
  poldem = poldem_lavaan,
  ability = ability_lavaan,
  wheaton = wheaton_lavaan)

# Restrictions: each c(left side, relation, value); "=" an equality, ">="
# and "<=" an inequality or a bound that binds.
B1 <- list(c("l9", "<=", 0.9))
B2 <- list(c("l2", ">=", 0.7), c("vspd", ">=", 0.5))
L1 <- list(c("l5 - l6", "=", 0))
L2 <- list(c("l3 - l2", "=", 0.1))
L3 <- list(c("l2 + l3", ">=", 1.5))
L4 <- list(c("l8 - l9", "<=", 0))
L5 <- list(c("ve1 + ve2", "<=", 1.5))
N1 <- list(c("l2 * l3", ">=", 0.6))
N2 <- list(c("l2 * l2 + l3 * l3", "<=", 0.7))
N3 <- list(c("l2 * l2 + l3 * l3", "<=", 0.5))
N4 <- list(c("cvt / sqrt(vvis * vtxt)", "<=", 0.4))
N5 <- list(c("l5 * l6", "=", 1))
# A bound on a parameter tied to another: both at the bound.
T1 <- list(c("l2", "<=", 0.5), c("l2 - l3", "=", 0))
X1 <- c(B1, L1, N1)
X2 <- list(c("vspd", ">=", 0.5), c("l2 + l3", ">=", 1.5), c("cvt / sqrt(vvis * vtxt)", "<=", 0.4))

# Each reference case: model, lavaan estimator, restrictions.
cases <- list(
  hs_ml_B1 = list("hs", "ML", B1), hs_ml_B2 = list("hs", "ML", B2),
  hs_ml_L1 = list("hs", "ML", L1), hs_ml_L2 = list("hs", "ML", L2), hs_ml_L3 = list("hs", "ML", L3),
  hs_ml_L4 = list("hs", "ML", L4), hs_ml_L5 = list("hs", "ML", L5),
  hs_ml_N1 = list("hs", "ML", N1), hs_ml_N2 = list("hs", "ML", N2), hs_ml_N4 = list("hs", "ML", N4),
  hs_ml_N5 = list("hs", "ML", N5), hs_ml_X1 = list("hs", "ML", X1), hs_ml_X2 = list("hs", "ML", X2),
  hs_gls_B1 = list("hs", "GLS", B1), hs_gls_L1 = list("hs", "GLS", L1),
  hs_gls_N1 = list("hs", "GLS", N1), hs_gls_X1 = list("hs", "GLS", X1),
  hs_uls_B1 = list("hs", "ULS", B1), hs_uls_L3 = list("hs", "ULS", L3), hs_uls_N3 = list("hs", "ULS", N3),
  hs_ml_T1 = list("hs", "ML", T1), hs_wls_T1 = list("hs", "WLS", T1),
  hs_wls_L1 = list("hs", "WLS", L1), hs_wls_N1 = list("hs", "WLS", N1), hs_wls_X1 = list("hs", "WLS", X1),
  hs_dwls_B1 = list("hs", "DWLS", B1), hs_dwls_N4 = list("hs", "DWLS", N4),
  two_ml_L = list("two", "ML", list(c("l2 - l3", "=", 0))),
  two_ml_N = list("two", "ML", list(c("l5 * l6", "<=", 0.9))),
  two_gls_X = list("two", "GLS", list(c("l3", "<=", 0.6), c("ve1 + ve2", "<=", 1.5),
                                       c("cvt / sqrt(vvis * vtxt)", ">=", 0.5))),
  poldem_ml_B = list("poldem", "ML", list(c("b1", "<=", 1.2))),
  poldem_ml_L = list("poldem", "ML", list(c("l5 - l9", "=", 0), c("l6 - l10", "=", 0), c("l7 - l11", "=", 0))),
  poldem_ml_N = list("poldem", "ML", list(c("b1 * b3", "<=", 1))),
  poldem_ml_X = list("poldem", "ML", list(c("vd2", ">=", 0.3), c("l5 - l9", "=", 0), c("l6 - l10", "=", 0),
                                          c("l7 - l11", "=", 0), c("b1 * b3", "<=", 1))),
  ability_ml_B = list("ability", "ML", list(c("l4", "<=", 0.38))),
  ability_ml_L = list("ability", "ML", list(c("l2 - l4", ">=", 0.05))),
  ability_ml_N = list("ability", "ML", list(c("cgv / sqrt(vg * vv)", ">=", 0.7))),
  hs_ml = list("hs", "ML", list()), hs_gls = list("hs", "GLS", list()), hs_uls = list("hs", "ULS", list()),
  hs_wls = list("hs", "WLS", list()), hs_dwls = list("hs", "DWLS", list()),
  poldem_ml = list("poldem", "ML", list()), ability_ml = list("ability", "ML", list()),
  wheaton_ml = list("wheaton", "ML", list()))

# The model under its restrictions as equalities, restriction `moved` (0:
# none) 0.01 into its feasible side: lavaan's fit, started at the
# unconstrained minimum (its augmented Lagrangian from its own start reaches
# other stationary points, with a negative variance, on some of these), or
# with `at` (a parameter table) its results at those estimates.
fit <- function(model, estimator, restrictions, moved = 0, at = NULL) {
  rows <- vapply(seq_along(restrictions), function(i) {
    r <- restrictions[[i]]
    sprintf("%s == %.17g", r[1], bound(r, i == moved))
  }, "")
  text <- paste(c(models[[model]], rows), collapse = "\n")
  args <- list(model = text, estimator = estimator)
  if (!is.null(at)) {
    args$start <- at
    args$optim.method <- "none"
  } else if (length(restrictions) > 0) {
    args$start <- fit(model, estimator, list())
  }
  if (estimator == "ML") args$likelihood <- "wishart"
  if (estimator == "DWLS") args$se <- "standard"
  if (model == "ability") {
    args$sample.cov <- ability
    args$sample.nobs <- 112
  } else if (model == "wheaton") {
    args$sample.cov <- wheaton
    args$sample.nobs <- 932
  } else {
    args$data <- if (model == "poldem") poldem else hs
  }
  f <- do.call("sem", args)
  stopifnot(is.null(at) || max(abs(coef(f) - at$est[at$free > 0][order(at$free[at$free > 0])])) < 1e-12)
  stopifnot(lavInspect(f, "converged"))
  f
}
bound <- function(r, moved) as.numeric(r[3]) + if (!moved) 0 else if (r[2] == ">=") 0.01 else -0.01

# lavaan's augmented Lagrangian stops 1e-7 to 1e-6 (relative) above the
# minimum under a nonlinear equality, with estimates 1e-4 away: its
# estimates are refined by Newton steps on the Lagrange conditions (its
# analytic gradient, the Hessian by central differences of it, the
# restrictions' Jacobian by central differences) until no step is above
# 1e-11 of max(1, |x|), and lavaan's results are taken at the refined
# estimates.
minimum <- function(model, estimator, restrictions, moved = 0) {
  f <- fit(model, estimator, restrictions, moved)
  if (length(restrictions) == 0) return(f)
  x <- coef(f)
  class(x) <- NULL
  n <- length(x)
  grad <- function(x) {
    m <- lavaan:::lav_model_set_parameters(f@Model, x)
    lavaan:::lav_model_gradient(m, GLIST = NULL, lavsamplestats = f@SampleStats, lavdata = f@Data,
                                lavcache = f@Cache, type = "free")
  }
  cons <- function(x) vapply(seq_along(restrictions), function(i) {
    eval(parse(text = restrictions[[i]][1]), as.list(x)) - bound(restrictions[[i]], i == moved)
  }, 0)
  diffs <- function(fn, x, h) sapply(seq_len(n), function(j) {
    e <- replace(numeric(n), j, h * max(1, abs(x[j])))
    (fn(x + e) - fn(x - e)) / (2 * e[j])
  })
  for (iter in 1:50) {
    H <- diffs(grad, x, 1e-5)
    A <- matrix(diffs(cons, x, 1e-6), ncol = n)
    m <- nrow(A)
    step <- solve(rbind(cbind((H + t(H)) / 2, t(A)), cbind(A, matrix(0, m, m))), c(-grad(x), -cons(x)))
    x <- x + step[1:n]
    if (max(abs(step[1:n]) / pmax(1, abs(x))) < 1e-11) break
  }
  stopifnot(iter < 50, max(abs(cons(x))) < 1e-12)
  at <- parTable(f)
  at$est[at$free > 0] <- x[at$free[at$free > 0]]
  at$start <- at$est
  fit(model, estimator, restrictions, moved, at)
}

rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)
for (name in names(cases)) {
  k <- cases[[name]]
  f <- minimum(k[[1]], k[[2]], k[[3]])
  chisq <- fitMeasures(f, "chisq")[[1]]
  n <- lavInspect(f, "nobs")
  for (i in seq_along(k[[3]])) {
    if (k[[3]][[i]][2] == "=") next
    moved <- minimum(k[[1]], k[[2]], k[[3]], moved = i)
    if (fitMeasures(moved, "chisq")[[1]] <= chisq) stop(name, ": ", k[[3]][[i]][1], " does not bind")
  }
  put(name, "F", chisq / (n - 1))
  pe <- parameterEstimates(f)
  pe <- pe[pe$label != "" & !(pe$op %in% c("==", "<", ">", ":=")) & !duplicated(pe$label), ]
  for (i in seq_len(nrow(pe))) {
    put(name, paste0("est:", pe$label[i]), pe$est[i])
    # A parameter that a restriction holds at a value (a bound) has no
    # standard error in lavaan, and 0 in the program.
    if (k[[2]] != "ULS") put(name, paste0("se:", pe$label[i]), if (is.na(pe$se[i])) 0 else pe$se[i])
  }
}
out <- do.call(rbind, rows)
write.csv(out, file.path(fixtures, "constrained_corpus.csv"), row.names = FALSE, quote = FALSE)
