# Reference number of shared_matrices_test.cpp, NamedTwiceItIsOneMatrix:
# the implied covariance matrix of the COSAN program
#   A(9, GEN, IMI) * P(9, DIA) + A(9, GEN, IMI) * Q(9, SYM)
# with A[2,1] = 0.5, A[3,1] = 0.4, P = diag(1.5, 1.2, ..., 1.9) and
# Q[2,1] = 0.3, formed by hand as (I - A)^-1 (P + Q) (I - A)^-T, and its ML
# discrepancy from the covariances of hs.csv (divisor N - 1).
#
#   Rscript tests/e2e/shared_matrices_reference.R
args <- commandArgs(FALSE)
here <- dirname(normalizePath(sub("--file=", "", args[grep("--file=", args)])))
hs <- read.csv(file.path(here, "..", "fixtures", "hs.csv"))
S <- cov(hs)
A <- matrix(0, 9, 9); A[2, 1] <- 0.5; A[3, 1] <- 0.4
P <- diag(c(1.5, 1.2, 1.3, 1.4, 1.5, 1.6, 1.7, 1.8, 1.9))
Q <- matrix(0, 9, 9); Q[2, 1] <- Q[1, 2] <- 0.3
B <- solve(diag(9) - A)
C <- B %*% P %*% t(B) + B %*% Q %*% t(B)
F <- log(det(C)) - log(det(S)) + sum(diag(S %*% solve(C))) - 9
cat(sprintf("F %.12g\n", F))
cat(sprintf("C[2,1] %.12g C[3,2] %.12g C[3,3] %.12g\n", C[2, 1], C[3, 2], C[3, 3]))
