# Reference numbers of start_values_test.cpp, from lavaan 0.6.14 (run from
# the top of the tree; writes the data sets into tests/fixtures and the
# numbers into tests/fixtures/start_values_reference.csv).
#
# 1. Growth curves with means fitted from default start values: linear and
#    quadratic, with and without covariates, on the data as given (not
#    centred): nlme's Orthodont (27 children, distance at ages 8 to 14,
#    wide), lavaan's Demo.growth, and Demo.growth with 20 added to every
#    variable.  growth() with its default likelihood (N, as AUGMENT).
# 2. A WLS path model of FacialBurns (N = 77, the exogenous block
#    estimated: fixed.x = FALSE): its estimates, which the test gives as
#    start values, and its chi-square, the fit at that point.
# 3. A WLS path model of iris (the four measures renamed SL SW PL PW, the
#    exogenous block estimated): its chi-square, which WLS reaches from
#    the start of an ML fit.
# 4. The linear curve of Demo.growth with the latent means given as
#    covariances with the constant (cov Fi Intercept = mi): their start,
#    the least-squares intercept and slope of the means of t1-t4 on the
#    time scores times the constant's moment N / (N - 1).
# 5. A two-factor model of ten items of psych's bfi (a1-a5 and c1-c5, the
#    2632 complete rows; the marker a1 is reverse-keyed against a2-a5,
#    and c4 and c5 against the marker c1) by ML (likelihood = "wishart"), GLS,
#    WLS, ULS and DWLS: the program's F (the chi-square over N - 1 for the
#    first four, whose covariances lavaan takes with the divisor N - 1
#    here; 0.5 tr((S - C)^2) for ULS, whose estimates are lavaan's since
#    every variance has its own free unique variance) and the estimates.
#    lavaan starts from its own start values: from the program's former
#    default start (every loading +0.5 in its units, variances 50 s_jj)
#    its ML and DWLS fits do not converge.
library(lavaan)
library(nlme)
library(psych)

o <- as.data.frame(Orthodont)
w <- reshape(o[, c("distance", "age", "Subject", "Sex")], idvar = c("Subject", "Sex"),
             timevar = "age", direction = "wide")
orthodont <- data.frame(d8 = w$distance.8, d10 = w$distance.10, d12 = w$distance.12,
                        d14 = w$distance.14, male = as.integer(w$Sex == "Male"))
write.csv(orthodont, "tests/fixtures/orthodont.csv", row.names = FALSE, quote = FALSE)
growth20 <- Demo.growth[, c("t1", "t2", "t3", "t4", "x1", "x2")] + 20
write.csv(growth20, "tests/fixtures/demo_growth_plus20.csv", row.names = FALSE, quote = FALSE)
write.csv(FacialBurns, "tests/fixtures/facialburns.csv", row.names = FALSE, quote = FALSE)
flowers <- setNames(iris[, 1:4], c("SL", "SW", "PL", "PW"))
write.csv(flowers, "tests/fixtures/iris.csv", row.names = FALSE, quote = FALSE)

curve <- function(y, quadratic) {
  s <- paste0("i =~ ", paste0("1*", y, collapse = " + "),
              "\ns =~ ", paste0(0:3, "*", y, collapse = " + "))
  if (quadratic) s <- paste0(s, "\nq =~ ", paste0(c(0, 1, 4, 9), "*", y, collapse = " + "))
  s
}
rows <- list()
add <- function(name, model, data) {
  fit <- growth(model, data)
  est <- parameterEstimates(fit)
  mean_of <- function(f) est$est[est$lhs == f & est$op == "~1"]
  rows[[length(rows) + 1]] <<- data.frame(case = name, key = c("chisq", "df", "mi", "ms"),
                                          value = c(fitMeasures(fit, c("chisq", "df")), mean_of("i"), mean_of("s")))
}
ty <- c("t1", "t2", "t3", "t4")
dy <- c("d8", "d10", "d12", "d14")
for (d in c("growth", "growth20")) {
  data <- if (d == "growth") Demo.growth else growth20
  add(paste0(d, "_linear"), curve(ty, FALSE), data)
  add(paste0(d, "_linear_x"), paste0(curve(ty, FALSE), "\ni + s ~ x1 + x2"), data)
  add(paste0(d, "_quadratic"), curve(ty, TRUE), data)
  add(paste0(d, "_quadratic_x"), paste0(curve(ty, TRUE), "\ni + s ~ x1 + x2"), data)
}
add("orthodont_linear", curve(dy, FALSE), orthodont)
add("orthodont_linear_x", paste0(curve(dy, FALSE), "\ni + s ~ male"), orthodont)
add("orthodont_quadratic", curve(dy, TRUE), orthodont)

burns <- sem("HADS ~ Age + TBSA + RUM
              Selfesteem ~ HADS + Age + TBSA", FacialBurns, estimator = "WLS", fixed.x = FALSE)
est <- unclass(coef(burns))
rows[[length(rows) + 1]] <- data.frame(case = "burns_wls", key = c("chisq", names(est)),
                                       value = c(fitMeasures(burns, "chisq"), est))
flower_paths <- sem("SL ~ PL + PW
                     SW ~ PW + SL", flowers, estimator = "WLS", fixed.x = FALSE)
rows[[length(rows) + 1]] <- data.frame(case = "iris_wls", key = "chisq", value = fitMeasures(flower_paths, "chisq"))
means <- coef(lm(colMeans(Demo.growth[, ty]) ~ I(0:3)))
rows[[length(rows) + 1]] <- data.frame(case = "growth_constant_cov", key = c("mi", "ms"),
                                       value = unname(means) * nrow(Demo.growth) / (nrow(Demo.growth) - 1))

bfi_items <- bfi[, c(paste0("A", 1:5), paste0("C", 1:5))]
bfi_items <- bfi_items[complete.cases(bfi_items), ]
names(bfi_items) <- tolower(names(bfi_items))
write.csv(bfi_items, "tests/fixtures/bfi_ac.csv", row.names = FALSE, quote = FALSE)
two_traits <- "Fa =~ 1*a1 + l2*a2 + l3*a3 + l4*a4 + l5*a5
               Fc =~ 1*c1 + l7*c2 + l8*c3 + l9*c4 + l10*c5
               Fa ~~ va*Fa; Fc ~~ vc*Fc; Fa ~~ cac*Fc
               a1 ~~ ve1*a1; a2 ~~ ve2*a2; a3 ~~ ve3*a3; a4 ~~ ve4*a4; a5 ~~ ve5*a5
               c1 ~~ ve6*c1; c2 ~~ ve7*c2; c3 ~~ ve8*c3; c4 ~~ ve9*c4; c5 ~~ ve10*c5"
S_items <- cov(bfi_items)
for (estimator in c("ML", "GLS", "WLS", "ULS", "DWLS")) {
  traits <- if (estimator == "ML") sem(two_traits, bfi_items, likelihood = "wishart") else
    sem(two_traits, bfi_items, estimator = estimator)
  stopifnot(lavInspect(traits, "converged"), max(abs(lavInspect(traits, "sampstat")$cov - S_items)) < 1e-12)
  f <- if (estimator == "ULS") 0.5 * sum((S_items - lavInspect(traits, "implied")$cov)^2) else
    fitMeasures(traits, "chisq") / (nrow(bfi_items) - 1)
  est <- unclass(coef(traits))
  rows[[length(rows) + 1]] <- data.frame(case = paste0("bfi_", tolower(estimator)), key = c("F", names(est)),
                                         value = c(f, est))
}
out <- do.call(rbind, rows)
out$value <- sprintf("%.15g", out$value)
write.csv(out, "tests/fixtures/start_values_reference.csv", row.names = FALSE, quote = FALSE)
