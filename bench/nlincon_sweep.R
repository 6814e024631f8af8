# Reference minima of bench/nlincon_sweep.py: each model of the sweep under
# its restriction, fitted by lavaan 0.6.14 from its own start and from the
# unconstrained minimum; the lower F = chi-square / (N - 1) of the fits
# that converged (likelihood = "wishart" for ML, the N - 1 convention of
# the program for every method), written as model,F rows to
# bench/nlincon_sweep_reference.csv.
#
#   Rscript bench/nlincon_sweep.R
suppressMessages(library(lavaan))
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
fixtures <- file.path(here, "..", "tests", "fixtures")
source(file.path(here, "..", "tests", "e2e", "reference_models.R"))
reference <- reference_data(fixtures)
data <- reference$data
forms <- reference$forms
models <- list(
  hs_lineqs_ml_act = list("hs", "ML", "l5*l6 > 1.5"),
  hs_ram_ml_eq = list("hs", "ML", "l8 == l9*l9"),
  hs_cosan_ml_act = list("hs", "ML", "l2/l3 > 0.9"),
  hs_factor_ml_ina = list("hs", "ML", "vvis*vtxt > 0.1"),
  hs_lineqs_gls_eq = list("hs", "GLS", "l2*l2 + l3*l3 == 1.0"),
  hs_lineqs_dwls_act = list("hs", "DWLS", "l8*l9 < 1.0"),
  poldem_lineqs_ml_act = list("poldem", "ML", "b1*b3 < 1.0"),
  poldem_lineqs_gls_eq = list("poldem", "GLS", "l6*l10 == 1.2"),
  ability_lineqs_ml_eq = list("ability", "ML", "l2*l3 - l4 == 0"),
  ability_lineqs_gls_ina = list("ability", "GLS", "l2*l6 < 10"),
  wheaton_lineqs_ml_act = list("wheaton", "ML", "b2*b2 < 0.3"))
fit <- function(k, restriction, start = "default") {
  a <- c(list(model = paste(forms[[k[[1]]]], restriction, sep = "\n"), estimator = k[[2]], start = start),
         data[[k[[1]]]])
  if (k[[2]] == "ML") a$likelihood <- "wishart"
  suppressWarnings(do.call("sem", a))
}
rows <- lapply(names(models), function(name) {
  k <- models[[name]]
  free <- fit(k, "")
  fs <- Filter(function(f) lavInspect(f, "converged"), list(fit(k, k[[3]]), fit(k, k[[3]], free)))
  stopifnot(length(fs) > 0)
  data.frame(model = name, F = min(sapply(fs, function(f) fitMeasures(f, "chisq")[[1]] / (lavInspect(f, "nobs") - 1))))
})
write.csv(do.call(rbind, rows), file.path(here, "nlincon_sweep_reference.csv"), row.names = FALSE, quote = FALSE)
