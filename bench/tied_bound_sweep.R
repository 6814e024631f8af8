# Cases and reference minima of bench/tied_bound_sweep.py: random models
# with a bound on a parameter that a LINCON or NLINCON row ties to another
# of its kind (two loadings, two unique variances, two paths ...), the bound
# placed between the tied minimum and the rest of the line, so that it is
# active at the constrained minimum with a positive multiplier.  Made with
# lavaan 0.6.14.
#
# For each case: the tied model (the two parameters under one label) gives
# the tied value v of the bounded parameter a; the bound goes 5% to 30% of
# max(|v|, 0.2) to one side of v (rounded to 4 decimals).  At the minimum
# under the bound both parameters stand at it, so the reference is the model
# with both fixed at the bound (no constraint left for lavaan's optimizer to
# approximate).  The bound is active when fixing both 0.01 further into the
# feasible side raises the chi-square; a case whose bound is not, whose fits
# do not converge or which has a negative variance is drawn again.  F is
# chi-square / (N - 1) (likelihood = "wishart" for ML), the program's F for
# ML, GLS and WLS.  The first two cases are the README's model with
# l2 <= 0.5 tied to l3 by LINCON and by NLINCON.
#
#   Rscript bench/tied_bound_sweep.R   (writes bench/tied_bound_sweep_reference.csv)
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "tests", "fixtures")
source(file.path(here, "..", "tests", "e2e", "reference_models.R"))
reference <- reference_data(fixtures)
data <- reference$data
forms <- reference$forms
raw <- c("hs", "poldem")  # WLS needs the raw data
# The free parameters of each model by kind: a tie joins two of a kind.
kinds <- list(
  hs = list(loading = c("l2", "l3", "l5", "l6", "l8", "l9"), unique = paste0("ve", 1:9),
            factor = c("vvis", "vtxt", "vspd"), covariance = c("cvt", "cvs", "cts")),
  poldem = list(loading = c("l2", "l3", "l5", "l6", "l7", "l9", "l10", "l11"), unique = paste0("ve", 1:11),
                path = c("b1", "b2", "b3")),
  ability = list(loading = c("l2", "l3", "l4", "l6"), unique = paste0("ve", 1:6)),
  wheaton = list(loading = c("l2", "l4", "l6"), unique = paste0("ve", 1:6), path = c("b1", "b2", "b3")))

# lavaan's fit of `model` (a key of forms) with labels replaced: `set` maps
# a label to a number (fixed there) or to another label (tied to it).
fit <- function(model, estimator, set = list()) {
  text <- forms[[model]]
  for (label in names(set)) {
    to <- set[[label]]
    text <- gsub(paste0("\\b", label, "\\*"), paste0(if (is.numeric(to)) sprintf("%.17g", to) else to, "*"), text,
                 perl = TRUE)
  }
  a <- c(list(model = text, estimator = estimator), data[[model]])
  if (estimator == "ML") a$likelihood <- "wishart"
  f <- tryCatch(suppressWarnings(do.call("sem", a)), error = function(e) NULL)
  if (is.null(f) || !lavInspect(f, "converged")) return(NULL)
  pt <- parameterEstimates(f)
  if (any(pt$op == "~~" & pt$lhs == pt$rhs & pt$est < 0)) return(NULL)
  f
}
F_of <- function(f) fitMeasures(f, "chisq")[[1]] / (lavInspect(f, "nobs") - 1)

# The case, or NULL when it does not qualify.
make_case <- function(model, form, estimator, a, b, tie, side, share = NULL, bound = NULL) {
  tied <- fit(model, estimator, setNames(list(a), b))
  if (is.null(tied)) return(NULL)
  v <- coef(tied)[[a]]
  delta <- if (is.null(bound)) share * max(abs(v), 0.2) else 0
  if (is.null(bound)) bound <- round(if (side == "<=") v - delta else v + delta, 4)
  if ((side == "<=") != (bound < v)) return(NULL)
  if (startsWith(a, "v") && bound <= 0.01) return(NULL)
  at <- fit(model, estimator, setNames(list(bound, bound), c(a, b)))
  inside <- bound + if (side == "<=") -0.01 else 0.01
  further <- fit(model, estimator, setNames(list(inside, inside), c(a, b)))
  if (is.null(at) || is.null(further) || !(fitMeasures(further, "chisq") > fitMeasures(at, "chisq"))) return(NULL)
  data.frame(model = model, form = form, method = tolower(estimator), a = a, b = b, tie = tie, side = side,
             bound = bound, F = sprintf("%.15g", F_of(at)))
}

set.seed(68)
rows <- list(make_case("hs", "lineqs", "ML", "l2", "l3", "lincon", "<=", bound = 0.5),
             make_case("hs", "lineqs", "ML", "l2", "l3", "nlincon", "<=", bound = 0.5))
while (length(rows) < 48) {
  model <- sample(c("hs", "hs", "poldem", "ability", "wheaton"), 1)
  form <- if (model == "hs") sample(c("lineqs", "ram"), 1) else "lineqs"
  estimator <- sample(if (model %in% raw) c("ML", "GLS", "WLS") else c("ML", "GLS"), 1)
  kind <- kinds[[model]][[sample(names(kinds[[model]]), 1)]]
  pair <- sample(kind, 2)
  tie <- sample(c("lincon", "nlincon"), 1)
  side <- sample(c("<=", ">="), 1)
  case <- make_case(model, form, estimator, pair[1], pair[2], tie, side, share = runif(1, 0.05, 0.3))
  if (!is.null(case)) rows[[length(rows) + 1]] <- case
}
out <- do.call(rbind, rows)
out <- cbind(case = sprintf("t%02d_%s_%s_%s", seq_len(nrow(out)), out$model, out$form, out$method), out)
write.csv(out, file.path(here, "tied_bound_sweep_reference.csv"), row.names = FALSE, quote = FALSE)
