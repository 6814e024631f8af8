# CPU seconds (user + system, from proc.time) of the peer packages on one
# benchmark workload, measured inside R around the work itself, so that
# starting R and loading the packages are not counted:
#   hs     lavaan, the three-factor model of hs.csv, with standard errors
#   large  lavaan, 12 correlated factors of 10 indicators (large.csv), with
#          standard errors
#   p480   lavaan, the 480-indicator model of scale/p480.lavaan, without
#          standard errors (se = "none")
#   wls36  lavaan WLS on wls36.csv (workloads/wls36.lavaan)
#   by200  a loop of 200 lavaan fits, one per group of by200.csv
#   big1m  data.table's fread of big1m.csv and cov() of its 50 columns
#          (fread with its default threads; their CPU seconds add up)
# Every lavaan fit is ML with the N - 1 convention (likelihood = "wishart")
# unless WLS, as the reference numbers were made.  lavaan's first fit in a
# session prepares its code (about 0.2 s): a fit of the hs model runs
# untimed first, and hs itself is the mean of ten fits.
#
# Usage: Rscript bench/peers.R WORKLOAD DATA_DIR REFERENCE_DIR
#   DATA_DIR       the folder of wls36.csv, by200.csv, big1m.csv, p480.csv
#   REFERENCE_DIR  the shared reference folder (hs.csv, large/, workloads/)
# Prints "WORKLOAD SECONDS".
args <- commandArgs(TRUE)
what <- args[1]; data <- args[2]; ref <- args[3]
cpu <- function(expr) {
  t0 <- proc.time()
  force(expr)
  t <- proc.time() - t0
  unname(t[["user.self"]] + t[["sys.self"]] + t[["user.child"]] + t[["sys.child"]])
}
# k correlated factors of 10 indicators v1, v2, ..., the first of each fixed at 1.
cfa_syntax <- function(k) {
  paste(sapply(1:k, function(f) {
    idx <- ((f - 1) * 10 + 1):(f * 10)
    paste0("F", f, " =~ 1*v", idx[1], " + ", paste0("v", idx[-1], collapse = " + "))
  }), collapse = "\n")
}
hs <- read.csv(file.path(ref, "hs.csv"))
hs_model <- "Fvis =~ x1 + x2 + x3\nFtxt =~ x4 + x5 + x6\nFspd =~ x7 + x8 + x9"
if (what != "big1m") {
  suppressMessages(library(lavaan))
  invisible(cfa(hs_model, data = hs, likelihood = "wishart"))
}
seconds <- switch(what,
  hs = cpu(for (k in 1:10) cfa(hs_model, data = hs, likelihood = "wishart")) / 10,
  large = {
    d <- read.csv(file.path(ref, "large", "large.csv"))
    cpu(cfa(cfa_syntax(12), data = d, likelihood = "wishart"))
  },
  p480 = {
    d <- read.csv(file.path(data, "p480.csv"))
    m <- paste(readLines(file.path(ref, "scale", "p480.lavaan")), collapse = "\n")
    cpu(cfa(m, data = d, likelihood = "wishart", se = "none"))
  },
  wls36 = {
    d <- read.csv(file.path(data, "wls36.csv"))
    m <- paste(readLines(file.path(ref, "workloads", "wls36.lavaan")), collapse = "\n")
    cpu(sem(m, data = d, estimator = "WLS"))
  },
  by200 = {
    d <- read.csv(file.path(data, "by200.csv"))
    m <- paste(readLines(file.path(ref, "workloads", "by200.lavaan")), collapse = "\n")
    groups <- split(d, d$g)
    cpu(for (g in groups) cfa(m, data = g, likelihood = "wishart"))
  },
  big1m = {
    suppressMessages(library(data.table))
    cpu(cov(as.matrix(fread(file.path(data, "big1m.csv")))))
  },
  stop("unknown workload ", what))
cat(what, sprintf("%.3f", seconds), "\n")
