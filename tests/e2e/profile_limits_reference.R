# Reference profile-likelihood confidence limits of hs_cfa_ml (tests/fixtures/hs_cfa_ml.vx)
# with R's lavaan 0.6.14, ML with the N-1 convention (likelihood = "wishart"):
# for each parameter and level, the parameter is fixed and the model refitted,
# and uniroot solves chisq(theta) - chisq_min = qchisq(1 - alpha, 1).
#   cd tests/e2e && Rscript profile_limits_reference.R ../fixtures/hs.csv > ../fixtures/hs_cfa_ml_profile.csv
library(lavaan)
args <- commandArgs(trailingOnly = TRUE)
hs <- read.csv(if (length(args) > 0) args[1] else "../fixtures/hs.csv")
statements <- c(
  "Fvis =~ 1*x1 + l2*x2 + l3*x3", "Ftxt =~ 1*x4 + l5*x5 + l6*x6", "Fspd =~ 1*x7 + l8*x8 + l9*x9",
  "Fvis ~~ vvis*Fvis", "Ftxt ~~ vtxt*Ftxt", "Fspd ~~ vspd*Fspd",
  "Fvis ~~ cvt*Ftxt", "Fvis ~~ cvs*Fspd", "Ftxt ~~ cts*Fspd",
  sprintf("x%d ~~ ve%d*x%d", 1:9, 1:9, 1:9))
model <- function(fixed = NULL, value = 0) {
  s <- statements
  if (!is.null(fixed)) s <- gsub(paste0("\\b", fixed, "\\*"), sprintf("%.17g*", value), s, perl = TRUE)
  paste(s, collapse = "\n")
}
fit <- function(m) lavaan(m, data = hs, likelihood = "wishart", auto.var = FALSE, auto.fix.first = FALSE,
                          auto.cov.lv.x = FALSE)
full <- fit(model())
chisq0 <- fitMeasures(full, "chisq")
pe <- parameterEstimates(full)
pe <- pe[pe$label != "", ]
cat("param,alpha,lower,upper\n")
for (i in seq_len(nrow(pe))) {
  p <- pe$label[i]; est <- pe$est[i]; se <- pe$se[i]
  for (alpha in c(0.5, 0.1, 0.05, 0.01)) {
    q <- qchisq(1 - alpha, 1)
    f <- function(theta) fitMeasures(fit(model(p, theta)), "chisq") - chisq0 - q
    side <- function(sign) {
      far <- est + sign * 4 * se
      while (f(far) < 0) far <- est + sign * 2 * abs(far - est)
      uniroot(f, sort(c(est, far)), tol = 1e-11)$root
    }
    cat(sprintf("%s,%g,%.10f,%.10f\n", p, alpha, side(-1), side(1)))
  }
}
