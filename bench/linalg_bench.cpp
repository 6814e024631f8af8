// Timings of the packed Cholesky factor (the bordering one and the blocked
// one of the optimizer's steps), the packed inverse from that factor and
// the symmetric eigen driver against LAPACK's dpotrf, dpotri and dsyev on
// the same matrices, at orders 10, 50, 200 and 500; the blocked factor and
// inverse and the UDU' inverse also at order 2000.  Each
// iteration copies its input into a work buffer first, for both sides
// alike (O(n^2) against the O(n^3) work timed).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "numerics/cholesky.h"
#include "numerics/eigen.h"
#include "numerics/packed.h"
#include "numerics/udu.h"

extern "C" {
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);
void dpotri_(const char* uplo, const int* n, double* a, const int* lda, int* info);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info);
}

namespace {

// A = B B' + n I for a seeded random B: well-conditioned and positive
// definite, row-major n x n.
std::vector<double> spd(int n) {
    std::mt19937 gen(12345u + static_cast<unsigned>(n));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> b(static_cast<size_t>(n) * n), a(static_cast<size_t>(n) * n);
    for (double& v : b) v = u(gen);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double s = i == j ? n : 0.0;
            for (int k = 0; k < n; ++k) s += b[i * n + k] * b[j * n + k];
            a[i * n + j] = s;
        }
    return a;
}

std::vector<double> packed(const std::vector<double>& a, int n) {
    std::vector<double> p;
    p.reserve(static_cast<size_t>(n) * (n + 1) / 2);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) p.push_back(a[i * n + j]);
    return p;
}

void BM_CholeskyVelix(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> a = packed(spd(n), n);
    std::vector<double> w(a.size());
    double logdet = 0.0;
    for (auto _ : state) {
        w = a;
        benchmark::DoNotOptimize(coscdec(n, 0.0, &logdet, w.data()));
    }
}

// The blocked factor of the trust-region and Newton steps (its own output
// array: the input is not overwritten).
void BM_BlockedCholeskyVelix(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> a = packed(spd(n), n);
    std::vector<double> l(a.size());
    for (auto _ : state) benchmark::DoNotOptimize(velix::detail::packed_cholesky(n, a.data(), 0.0, 0.0, l.data()));
}

void BM_CholeskyLapack(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    const std::vector<double> a = spd(n);
    std::vector<double> w(a.size());
    int info = 0;
    for (auto _ : state) {
        w = a;
        dpotrf_("U", &n, w.data(), &n, &info);
        benchmark::DoNotOptimize(info);
    }
}

void BM_PackedInverseVelix(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<double> l = packed(spd(n), n);
    double logdet = 0.0;
    coscdec(n, 0.0, &logdet, l.data());
    std::vector<double> w(l.size());
    for (auto _ : state) {
        w = l;
        benchmark::DoNotOptimize(coscinv(n, w.data()));
    }
}

// The blocked inverse from a blocked factor, which coschin and zcovinv
// take for positive definite matrices from order 64.
void BM_BlockedInverseVelix(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<double> l = packed(spd(n), n);
    velix::detail::packed_cholesky(n, l.data(), 0.0, 0.0, l.data());
    std::vector<double> out(l.size()), work(static_cast<size_t>(velix::detail::packed_inverse_work(n)));
    for (auto _ : state) velix::detail::packed_factor_inverse(n, l.data(), out.data(), work.data());
}

// The UDU' decomposition and its inverse, which zcovinv keeps for
// matrices that are not positive definite.
void BM_UduInverseVelix(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> a = packed(spd(n), n);
    std::vector<double> w(a.size()), work(n);
    std::vector<int32_t> kpvt(n);
    for (auto _ : state) {
        w = a;
        zududec(n, 0.0, nullptr, w.data(), kpvt.data());
        zuduinv(n, w.data(), kpvt.data(), work.data());
    }
}

void BM_PackedInverseLapack(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::vector<double> l = spd(n);
    int info = 0;
    dpotrf_("U", &n, l.data(), &n, &info);
    std::vector<double> w(l.size());
    for (auto _ : state) {
        w = l;
        dpotri_("U", &n, w.data(), &n, &info);
        benchmark::DoNotOptimize(info);
    }
}

// All eigenvalues and all eigenvectors.
void BM_EigenVelix(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> a = packed(spd(n), n);
    std::vector<double> w(a.size()), ev(n), z(static_cast<size_t>(n) * n), work(9 * static_cast<size_t>(n));
    for (auto _ : state) {
        w = a;
        benchmark::DoNotOptimize(zeigen2(n, w.data(), ev.data(), n, z.data(), work.data()));
    }
}

// dsyev with the given job ("V" vectors, "N" values only), its work size
// queried once outside the timing.
void run_dsyev(benchmark::State& state, const char* job) {
    int n = static_cast<int>(state.range(0));
    const std::vector<double> a = spd(n);
    std::vector<double> w(a), ev(n);
    int lwork = -1, info = 0;
    double query = 0.0;
    dsyev_(job, "U", &n, w.data(), &n, ev.data(), &query, &lwork, &info);
    lwork = static_cast<int>(query);
    std::vector<double> work(static_cast<size_t>(lwork));
    for (auto _ : state) {
        w = a;
        dsyev_(job, "U", &n, w.data(), &n, ev.data(), work.data(), &lwork, &info);
        benchmark::DoNotOptimize(info);
    }
}

void BM_EigenLapack(benchmark::State& state) { run_dsyev(state, "V"); }

// Eigenvalues only.
void BM_EigenvaluesVelix(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> a = packed(spd(n), n);
    std::vector<double> w(a.size()), ev(n), work(9 * static_cast<size_t>(n));
    for (auto _ : state) {
        w = a;
        benchmark::DoNotOptimize(zeigen2(n, w.data(), ev.data(), 0, nullptr, work.data()));
    }
}

void BM_EigenvaluesLapack(benchmark::State& state) { run_dsyev(state, "N"); }

}  // namespace

#define VELIX_ORDERS ->Arg(10)->Arg(50)->Arg(200)->Arg(500)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_CholeskyVelix) VELIX_ORDERS;
BENCHMARK(BM_BlockedCholeskyVelix) VELIX_ORDERS->Arg(2000);
BENCHMARK(BM_CholeskyLapack) VELIX_ORDERS;
BENCHMARK(BM_PackedInverseVelix) VELIX_ORDERS;
BENCHMARK(BM_PackedInverseLapack) VELIX_ORDERS;
BENCHMARK(BM_BlockedInverseVelix) VELIX_ORDERS->Arg(2000);
BENCHMARK(BM_UduInverseVelix) VELIX_ORDERS->Arg(2000);
BENCHMARK(BM_EigenVelix) VELIX_ORDERS;
BENCHMARK(BM_EigenLapack) VELIX_ORDERS;
BENCHMARK(BM_EigenvaluesVelix) VELIX_ORDERS;
BENCHMARK(BM_EigenvaluesLapack) VELIX_ORDERS;
