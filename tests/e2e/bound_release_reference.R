# Reference numbers of results_test.cpp, BoundTestHoldsTheOtherActive* and
# BoundOnATiedParameterHasTheReferenceTest: the score test of releasing the
# loading of x2 held at 0.4 while the other active restrictions stay, of
# releasing it at 0.5 with the tie l2 = l3 kept, and of releasing vd2 >= 0.3
# of the political democracy model under three linear rows and b1 b3 <= 1
# (all active), made with R's lavaan 0.6.14.  Each restriction
# is an equality constraint of lavaan's model; lavTestScore()'s univariate
# test of one constraint keeps the others.  The same test is formed here
# from lavaan's gradient g and information I at its estimates, with V* the
# leading block of the inverse of [I A'; A 0] (A the Jacobian of the other
# constraints): LM = n g'V*g and change = -(V* g)_l2, and the script stops
# when the two disagree.  Scales: for ML (likelihood = "wishart") the rows
# carry lavaan's statistic times (N - 1) / N, the scale of the program's
# T = (N - 1) F; for GLS and WLS lavaan's statistic times N / (N - 1).
#
#   Rscript tests/e2e/bound_release_reference.R   (writes tests/fixtures/bound_release_reference.csv)
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "fixtures")
source(file.path(here, "reference_models.R"))
data <- list(hs = read.csv(file.path(fixtures, "hs.csv")), poldem = read.csv(file.path(fixtures, "poldem.csv")))
models <- list(hs = hs_lavaan, poldem = poldem_lavaan)
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)

# Constraint k released, the others kept, from the bordered information.
released <- function(fit, k, n) {
  g <- lavInspect(fit, "gradient")
  I <- lavInspect(fit, "information")
  A <- fit@Model@ceq.JAC[-k, , drop = FALSE]
  q <- length(g)
  V <- solve(rbind(cbind(I, t(A)), cbind(A, matrix(0, nrow(A), nrow(A)))))[1:q, 1:q, drop = FALSE]
  list(lm = n * drop(t(g) %*% V %*% g), change = -drop(V %*% g))
}

cases <- list(
  list(case = "ml", estimator = "ML", constraints = c("l2 == 0.4", "l3 == 0.9")),
  list(case = "ml_alone", estimator = "ML", constraints = "l2 == 0.4"),
  list(case = "ml_sum", estimator = "ML", constraints = c("l2 == 0.4", "l2 + l3 == 1.3")),
  list(case = "ml_tie", estimator = "ML", constraints = c("l2 == 0.5", "l2 - l3 == 0")),
  list(case = "gls", estimator = "GLS", constraints = c("l2 == 0.4", "l3 == 0.9")),
  list(case = "wls", estimator = "WLS", constraints = c("l2 == 0.4", "l3 == 0.9")),
  list(case = "poldem", model = "poldem", estimator = "ML",
       constraints = c("vd2 == 0.3", "l5 == l9", "l6 == l10", "l7 == l11", "b1 * b3 == 1")))
for (c in cases) {
  name <- if (is.null(c$model)) "hs" else c$model
  N <- nrow(data[[name]])
  ml <- c$estimator == "ML"
  args <- list(model = paste0(models[[name]], "\n", paste(c$constraints, collapse = "\n")), data = data[[name]],
               estimator = c$estimator)
  if (ml) args$likelihood <- "wishart"
  # poldem from the minimum without restrictions: lavaan's own start
  # reaches another stationary point under the nonlinear row.
  if (name == "poldem") args$start <- do.call("cfa", modifyList(args, list(model = models[[name]])))
  fit <- do.call("cfa", args)
  scale <- if (ml) (N - 1) / N else N / (N - 1)
  uni <- lavTestScore(fit)$uni$X2
  put(c$case, "chisq", fitMeasures(fit, "chisq"))
  for (k in seq_along(c$constraints)) {
    # The rows of the parameters held at a value (the bounds).
    if (!grepl("^[a-z0-9]+ == [0-9.]+$", c$constraints[k])) next
    parameter <- sub(" == .*", "", c$constraints[k])
    put(c$case, paste0("score:", parameter), uni[k] * scale)
    # Under a nonlinear row lavaan's fit stops about 1e-4 from the minimum
    # (constrained_corpus.R), where its gradient is no combination of the
    # rows: only lavTestScore's test, from the multipliers, is kept.
    if (any(grepl("*", c$constraints, fixed = TRUE))) next
    r <- released(fit, k, lavInspect(fit, "nobs"))
    if (abs(r$lm - uni[k]) > 1e-6 * uni[k]) stop("bordered test ", r$lm, " against lavTestScore ", uni[k])
    put(c$case, paste0("change:", parameter), r$change[[parameter]])
  }
}
out <- do.call(rbind, rows)
write.csv(out, file.path(fixtures, "bound_release_reference.csv"), row.names = FALSE, quote = FALSE)
