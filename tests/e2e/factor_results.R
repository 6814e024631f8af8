# Reference numbers for the FACTOR results: Harman's 24 ability tests
# (datasets::Harman74.cor, N = 145) as a TYPE=CORR data set, the ML
# four-factor solution of factanal without rotation, and the varimax
# rotations of its loadings with and without row normalization, and the
# quartimax, equamax and parsimax rotations as the Crawford-Ferguson family
# with kappa = gamma / p (GPArotation).
args <- commandArgs(trailingOnly = TRUE)
out <- if (length(args) > 0) args[1] else "."
r <- Harman74.cor$cov
names <- paste0("v", seq_len(ncol(r)))
corr <- data.frame(`_TYPE_` = c("N", rep("CORR", ncol(r))), `_NAME_` = c("", names), check.names = FALSE)
vals <- rbind(rep(145, ncol(r)), unname(r))
colnames(vals) <- names
corr <- cbind(corr, vals)
con <- file(file.path(out, "harman74.csv"), "w")
writeLines("# TYPE=CORR", con)
write.csv(corr, con, row.names = FALSE, quote = FALSE)
close(con)
fa <- factanal(factors = 4, covmat = Harman74.cor, rotation = "none", control = list(opt = list(factr = 1)))
l <- unclass(fa$loadings)
vn <- varimax(l, normalize = TRUE, eps = 1e-14)$loadings
vr <- varimax(l, normalize = FALSE, eps = 1e-14)$loadings
library(GPArotation)
p <- nrow(l); m <- ncol(l)
cf <- function(gamma) unclass(cfT(l, Tmat = diag(m), kappa = gamma / p, normalize = FALSE, eps = 1e-7, maxit = 100000)$loadings)
block <- function(name, x) data.frame(what = name, i = rep(seq_len(nrow(x)), m), j = rep(seq_len(m), each = nrow(x)), value = as.vector(x))
ref <- rbind(data.frame(what = "objective", i = 0, j = 0, value = fa$criteria["objective"]),
             data.frame(what = "uniqueness", i = seq_along(fa$uniquenesses), j = 0, value = unname(fa$uniquenesses)),
             data.frame(what = "varimax_norm", i = rep(seq_len(nrow(l)), 4), j = rep(1:4, each = nrow(l)), value = as.vector(unclass(vn))),
             data.frame(what = "varimax_raw", i = rep(seq_len(nrow(l)), 4), j = rep(1:4, each = nrow(l)), value = as.vector(unclass(vr))),
             block("quartimax", cf(0)), block("equamax", cf(m / 2)), block("parsimax", cf(p * (m - 1) / (p + m - 2))))
write.csv(ref, file.path(out, "harman74_reference.csv"), row.names = FALSE, quote = FALSE)
