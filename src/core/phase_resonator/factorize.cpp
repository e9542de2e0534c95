#include "factorize.hpp"

#include <map>

#include "../fatal.hpp"
#include "phasor.hpp"

namespace verrakin {
namespace {

using PhasorBook = std::vector<PhasorVec>;

struct Match {
    std::uint64_t index;
    double similarity;
};

// Ties go to the highest index: a later entry wins on >=. Each similarity is
// phasor_similarity(entry, estimate), with the dots taken four entries at a time.
Match best_match(const PhasorBook& book, const PhasorVec& estimate, std::vector<double>& dots) {
    if (book.empty()) return {0, 0.0};
    phasor_dots(book, estimate, dots);
    Match best{0, similarity_from_dot(dots[0], estimate)};
    for (std::size_t j = 1; j < book.size(); ++j) {
        const double s = similarity_from_dot(dots[j], estimate);
        if (s >= best.similarity) best = {j, s};
    }
    return best;
}

// The plain superposition of the codebook, snapped to the composite's grid.
// Only the first D phases of an entry are read; a shorter entry fails its bounds check.
PhasorVec initial_estimate(const PhasorBook& book, std::size_t length, const GridPhasors& grid) {
    std::vector<double> acc_re(length, 0.0);
    std::vector<double> acc_im(length, 0.0);
    for (const PhasorVec& entry : book) {
        if (entry.size() < length) index_out_of_bounds(entry.size(), entry.size());
        for (std::size_t i = 0; i < length; ++i) {
            acc_re[i] = entry.re[i] + acc_re[i];
            acc_im[i] = entry.im[i] + acc_im[i];
        }
    }
    return snap_to_grid(acc_re, acc_im, grid);
}

// target *= conj(estimate): subtracts the estimate's phases.
void unbind_estimate(PhasorVec& target, const PhasorVec& estimate) {
    const std::size_t length = target.re.size();
    if (estimate.size() < length) index_out_of_bounds(estimate.size(), estimate.size());
    for (std::size_t i = 0; i < length; ++i) {
        const double r = target.re[i];
        const double s = target.im[i];
        target.re[i] = r * estimate.re[i] + s * estimate.im[i];
        target.im[i] = s * estimate.re[i] - r * estimate.im[i];
    }
}

// New estimate of factor k: the codebook weighted by its raw match with the
// composite from which every other factor's estimate has been unbound.
PhasorVec update_factor(std::size_t k, const PhasorVec& composite, const std::vector<PhasorBook>& books,
                        const std::vector<PhasorVec>& estimates, const GridPhasors& grid) {
    PhasorVec target = composite;
    for (std::size_t m = 0; m < estimates.size(); ++m) {
        if (m != k) unbind_estimate(target, estimates[m]);
    }
    const std::size_t length = target.re.size();
    std::vector<double> acc_re(length, 0.0);
    std::vector<double> acc_im(length, 0.0);
    // The weights do not depend on the accumulators, so all are taken first;
    // the superposition still runs in entry order.
    std::vector<double> weights;
    phasor_dots(books[k], target, weights);
    for (std::size_t j = 0; j < books[k].size(); ++j) {
        const PhasorVec& entry = books[k][j];
        const double w = weights[j];
        for (std::size_t i = 0; i < length; ++i) {
            acc_re[i] = entry.re[i] * w + acc_re[i];
            acc_im[i] = entry.im[i] * w + acc_im[i];
        }
    }
    return snap_to_grid(acc_re, acc_im, grid);
}

}  // namespace

std::vector<FactorResult> factorize(const PhaseHVec& composite, std::span<const Codebook> codebooks,
                                    std::uint64_t max_iter) {
    const std::size_t factors = codebooks.size();
    if (factors == 0) return {};
    const std::size_t length = composite.phases.size();
    // The composite's grid serves its conversion, the initial estimates and
    // every sweep's snapping of `factors` estimates of `length` phases.
    const std::uint64_t sweeps_to_table = max_iter < 4 ? max_iter + 1 : 5;
    std::map<std::uint32_t, std::uint64_t> lookups{{composite.n, length * (1 + factors * sweeps_to_table)}};
    for (const Codebook& book : codebooks) {
        for (const PhaseHVec& entry : book) lookups[entry.n] += entry.phases.size();
    }
    std::map<std::uint32_t, GridPhasors> grids;
    for (const auto& [n, count] : lookups) grids.emplace(n, GridPhasors(n, count));
    const GridPhasors& grid = grids.at(composite.n);

    const PhasorVec composite_phasors = to_phasors(composite, grid);
    std::vector<PhasorBook> books(factors);
    for (std::size_t k = 0; k < factors; ++k) {
        books[k].reserve(codebooks[k].size());
        for (const PhaseHVec& entry : codebooks[k]) books[k].push_back(to_phasors(entry, grids.at(entry.n)));
    }
    std::vector<PhasorVec> estimates;
    estimates.reserve(factors);
    for (const PhasorBook& book : books) estimates.push_back(initial_estimate(book, length, grid));

    std::vector<double> dots;
    std::uint64_t sweeps = 0;
    bool converged = false;
    if (max_iter != 0) {
        std::vector<std::uint64_t> previous(factors, ~std::uint64_t{0});
        std::vector<std::uint64_t> current(factors);
        std::int32_t stable = 0;
        for (;;) {
            ++sweeps;
            for (std::size_t k = 0; k < factors; ++k) {
                estimates[k] = update_factor(k, composite_phasors, books, estimates, grid);
            }
            for (std::size_t k = 0; k < factors; ++k) current[k] = best_match(books[k], estimates[k], dots).index;
            if (current == previous) {
                if (stable > 1) {
                    converged = true;
                    break;
                }
                ++stable;
            } else {
                stable = 0;
            }
            previous.swap(current);
            if (sweeps == max_iter) break;
        }
    }

    std::vector<FactorResult> results;
    results.reserve(factors);
    for (std::size_t k = 0; k < factors; ++k) {
        const Match match = best_match(books[k], estimates[k], dots);
        results.push_back({k, match.index, match.similarity, sweeps, converged});
    }
    return results;
}

}  // namespace verrakin
