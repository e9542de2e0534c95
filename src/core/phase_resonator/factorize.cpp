#include "factorize.hpp"

#include <algorithm>
#include <cstdint>
#include <map>

#include "../fatal.hpp"
#include "../phase_hvec/snap.hpp"
#include "level_kernels.hpp"
#include "phasor.hpp"

namespace verrakin {
namespace {

// One codebook read in place: its entries' levels, in entry order, cut into
// runs of consecutive entries that share a grid (entries may differ in n).
struct LevelBook {
    struct Run {
        std::size_t first;
        std::size_t count;
        const GridPhasors* grid;
    };
    std::vector<const std::uint16_t*> entries;
    std::vector<Run> runs;

    std::size_t size() const noexcept { return entries.size(); }
};

LevelBook level_book(const Codebook& book, const std::map<std::uint32_t, GridPhasors>& grids) {
    LevelBook out;
    out.entries.reserve(book.size());
    for (const PhaseHVec& entry : book) {
        const GridPhasors* grid = &grids.at(entry.n);
        if (out.runs.empty() || out.runs.back().grid != grid) out.runs.push_back({out.entries.size(), 0, grid});
        ++out.runs.back().count;
        out.entries.push_back(entry.phases.data());
    }
    return out;
}

// out[j] = the raw dot of entry j with b, for every entry.
void book_dots(const LevelBook& book, const PhasorVec& b, std::vector<double>& out) {
    out.resize(book.size());
    for (const LevelBook::Run& run : book.runs) {
        level_dots(book.entries.data() + run.first, run.count, *run.grid, b.re.data(), b.im.data(), b.size(),
                   out.data() + run.first);
    }
}

// Weights and superposition fused: entries go in chunks small enough to stay
// in the core's cache between their weighing and their superposition, so each
// entry comes from memory once per factor update. A chunk's weights depend only
// on the target, and the chunks are superposed in entry order. Given the
// target together with the estimate being replaced (`with_replaced`), the
// entries' raw dots with that estimate come into `replaced_dots` from the same
// reads as the weights.
constexpr std::size_t kChunkBytes = std::size_t{512} << 10;

void book_weigh_and_superpose(const LevelBook& book, const PhasorVec& target, const DotVectors* with_replaced,
                              std::vector<double>& replaced_dots, std::vector<double>& weights,
                              std::vector<double>& acc_re, std::vector<double>& acc_im) {
    weights.resize(book.size());
    if (with_replaced != nullptr) replaced_dots.resize(book.size());
    const std::size_t length = target.size();
    const std::size_t fit = length == 0 ? book.size() : kChunkBytes / (2 * length) / 16 * 16;
    const std::size_t chunk = fit < 16 ? 16 : fit;
    for (const LevelBook::Run& run : book.runs) {
        for (std::size_t first = run.first; first < run.first + run.count; first += chunk) {
            const std::size_t count = std::min(chunk, run.first + run.count - first);
            const std::uint16_t* const* entries = book.entries.data() + first;
            if (with_replaced != nullptr) {
                level_dots_twice(entries, count, *run.grid, *with_replaced, length, weights.data() + first,
                                 replaced_dots.data() + first);
            } else {
                level_dots(entries, count, *run.grid, target.re.data(), target.im.data(), length,
                           weights.data() + first);
            }
            level_superpose(entries, count, *run.grid, weights.data() + first, length, acc_re.data(), acc_im.data());
        }
    }
}

// acc += entry j * weights[j], entries in order.
void book_superpose(const LevelBook& book, const std::vector<double>& weights, std::vector<double>& acc_re,
                    std::vector<double>& acc_im) {
    for (const LevelBook::Run& run : book.runs) {
        level_superpose(book.entries.data() + run.first, run.count, *run.grid, weights.data() + run.first,
                        acc_re.size(), acc_re.data(), acc_im.data());
    }
}

// Entry lengths, checked in the order the run would first touch them: a short
// entry fails while the initial estimates are summed, factor by factor and
// entry by entry, at its own end; otherwise a long one fails at its first
// comparison, which runs past the end of a vector of the composite's length.
// Every entry is compared at least once, so no long entry escapes.
void check_entry_lengths(std::span<const Codebook> codebooks, std::uint64_t length) {
    for (const Codebook& book : codebooks) {
        for (const PhaseHVec& entry : book) {
            if (entry.phases.size() < length) index_out_of_bounds(entry.phases.size(), entry.phases.size());
        }
    }
    for (const Codebook& book : codebooks) {
        for (const PhaseHVec& entry : book) {
            if (entry.phases.size() > length) index_out_of_bounds(length, length);
        }
    }
}

struct Match {
    std::uint64_t index;
    double similarity;
};

// The best of `count` entries' raw dots with a vector of `length` positions.
// Ties go to the highest index: a later entry wins on >=.
Match best_of_dots(const std::vector<double>& dots, std::size_t count, std::size_t length) {
    if (count == 0) return {0, 0.0};
    Match best{0, similarity_from_dot(dots[0], length)};
    for (std::size_t j = 1; j < count; ++j) {
        const double s = similarity_from_dot(dots[j], length);
        if (s >= best.similarity) best = {j, s};
    }
    return best;
}

Match best_match(const LevelBook& book, const PhasorVec& estimate, std::vector<double>& dots) {
    if (book.size() == 0) return {0, 0.0};
    book_dots(book, estimate, dots);
    return best_of_dots(dots, book.size(), estimate.size());
}

// Reads the phasor of every level on `grid` into re/im. A tabled grid is read
// directly (the same values phasor() returns), keeping the loop free of calls.
void read_phasors(const std::uint16_t* levels, std::size_t length, const GridPhasors& grid, double* re,
                  double* im) {
    if (grid.tabled()) {
        const double* cos = grid.cosines();
        const double* sin = grid.sines();
        for (std::size_t i = 0; i < length; ++i) {
            re[i] = cos[levels[i]];
            im[i] = sin[levels[i]];
        }
    } else {
        for (std::size_t i = 0; i < length; ++i) grid.phasor(levels[i], re[i], im[i]);
    }
}

// (re, im) *= conj(e_re, e_im): one position's unbinding.
inline void unbind_phasor(double& re, double& im, double e_re, double e_im) {
    const double r = re;
    re = r * e_re + im * e_im;
    im = im * e_re - r * e_im;
}

// target *= conj(estimate): subtracts the estimate's phasors (e_re, e_im).
void unbind_estimate(PhasorVec& target, const double* e_re, const double* e_im) {
    const std::size_t length = target.re.size();
    for (std::size_t i = 0; i < length; ++i) unbind_phasor(target.re[i], target.im[i], e_re[i], e_im[i]);
}

// read_phasors of the composite and unbind_estimate of each other estimate in
// turn, as one pass over the positions for a tabled grid: per position the
// same operations in the same order, without the intermediate arrays. With
// `replaced` (the levels of the estimate being replaced), its phasors go to
// r_re, r_im and, with the target's, to `interleaved` (see DotVectors).
void build_target_tabled(const std::uint16_t* composite, const std::uint16_t* const* others, std::size_t other_count,
                         const std::uint16_t* replaced, const GridPhasors& grid, std::size_t length, double* t_re,
                         double* t_im, double* r_re, double* r_im, double* interleaved) {
    const double* cos = grid.cosines();
    const double* sin = grid.sines();
    for (std::size_t i = 0; i < length; ++i) {
        double re = cos[composite[i]];
        double im = sin[composite[i]];
        for (std::size_t m = 0; m < other_count; ++m) {
            const std::uint16_t level = others[m][i];
            unbind_phasor(re, im, cos[level], sin[level]);
        }
        t_re[i] = re;
        t_im[i] = im;
        if (replaced != nullptr) {
            const double b_re = cos[replaced[i]];
            const double b_im = sin[replaced[i]];
            r_re[i] = b_re;
            r_im[i] = b_im;
            interleaved[4 * i] = re;
            interleaved[4 * i + 1] = im;
            interleaved[4 * i + 2] = b_re;
            interleaved[4 * i + 3] = b_im;
        }
    }
}

// Grid tables take 16 bytes per level, and codebooks may mix many resolutions:
// 400 entries of 400 different n near 65536 would need 400 MiB of tables. The
// tables of one call therefore share a budget of max(4 MiB, 4 bytes per
// codebook level). The composite's grid, read most, is tabled first; then the
// grids with the most lookups per table level. A grid left out of the budget
// computes each phasor when it is read: the same bits, more time.
constexpr std::uint64_t kTableBytesPerLevel = 16;
constexpr std::uint64_t kMinTableBudget = std::uint64_t{4} << 20;
constexpr std::uint64_t kTableBudgetPerCodebookLevel = 4;

std::map<std::uint32_t, GridPhasors> build_grids(const std::map<std::uint32_t, std::uint64_t>& lookups,
                                                 std::uint32_t composite_n, std::uint64_t codebook_levels) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> order(lookups.begin(), lookups.end());
    const auto reads_per_level = [](const std::pair<std::uint32_t, std::uint64_t>& grid) {
        return static_cast<double>(grid.second) / static_cast<double>(grid.first);
    };
    std::stable_sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
        if ((a.first == composite_n) != (b.first == composite_n)) return a.first == composite_n;
        return reads_per_level(a) > reads_per_level(b);
    });
    std::uint64_t budget = std::max(kMinTableBudget, kTableBudgetPerCodebookLevel * codebook_levels);
    std::map<std::uint32_t, GridPhasors> grids;
    for (const auto& [n, count] : order) {
        const std::uint64_t bytes = kTableBytesPerLevel * n;
        const bool tabled = GridPhasors::worth_tabling(n, count) && bytes <= budget;
        if (tabled) budget -= bytes;
        grids.emplace(n, GridPhasors(n, tabled ? count : 0));
    }
    return grids;
}

using Levels = std::vector<std::uint16_t>;

// Working arrays of one call, each of the composite's length (weights: of the
// largest codebook), reused by every factor update.
struct Scratch {
    PhasorVec target;
    PhasorVec phasors;
    PhasorVec replaced;  // the estimate an update replaces, when its best match comes with the update
    std::vector<double> acc_re;
    std::vector<double> acc_im;
    std::vector<double> weights;
    std::vector<double> interleaved_storage;  // target and replaced per position, see DotVectors
    std::vector<const std::uint16_t*> others;  // the estimates unbound from the composite

    // Room for 4 * length doubles, 32-byte aligned.
    double* interleaved(std::size_t length) {
        interleaved_storage.resize(4 * length + 4);
        const auto address = reinterpret_cast<std::uintptr_t>(interleaved_storage.data());
        return interleaved_storage.data() + (32 - address % 32) % 32 / sizeof(double);
    }
};

void clear_accumulators(Scratch& s, std::size_t length) {
    s.acc_re.assign(length, 0.0);
    s.acc_im.assign(length, 0.0);
}

// New estimate of factor k: the codebook weighted by its raw match with the
// composite from which every other factor's estimate has been unbound.
// Estimates are kept as levels on the composite's grid; `phasors` takes each
// one's phasors in turn. With `replaced_match`, the best match of the estimate
// being replaced goes there, its dots read together with the weights.
void update_factor(std::size_t k, const PhaseHVec& composite, const std::vector<LevelBook>& books,
                   std::vector<Levels>& estimates, const GridPhasors& grid, Scratch& s, Match* replaced_match,
                   std::vector<double>& dots) {
    const std::size_t length = composite.phases.size();
    s.target.re.resize(length);
    s.target.im.resize(length);
    double* interleaved = nullptr;
    if (replaced_match != nullptr) {
        s.replaced.re.resize(length);
        s.replaced.im.resize(length);
        interleaved = s.interleaved(length);
    }
    if (grid.tabled()) {
        s.others.clear();
        for (std::size_t m = 0; m < estimates.size(); ++m) {
            if (m != k) s.others.push_back(estimates[m].data());
        }
        build_target_tabled(composite.phases.data(), s.others.data(), s.others.size(),
                            replaced_match != nullptr ? estimates[k].data() : nullptr, grid, length,
                            s.target.re.data(), s.target.im.data(), s.replaced.re.data(), s.replaced.im.data(),
                            interleaved);
    } else {
        s.phasors.re.resize(length);
        s.phasors.im.resize(length);
        read_phasors(composite.phases.data(), length, grid, s.target.re.data(), s.target.im.data());
        for (std::size_t m = 0; m < estimates.size(); ++m) {
            if (m == k) continue;
            read_phasors(estimates[m].data(), length, grid, s.phasors.re.data(), s.phasors.im.data());
            unbind_estimate(s.target, s.phasors.re.data(), s.phasors.im.data());
        }
        if (replaced_match != nullptr) {
            read_phasors(estimates[k].data(), length, grid, s.replaced.re.data(), s.replaced.im.data());
            interleave_dot_vectors(s.target.re.data(), s.target.im.data(), s.replaced.re.data(),
                                   s.replaced.im.data(), length, interleaved);
        }
    }
    const DotVectors with_replaced{s.target.re.data(), s.target.im.data(), s.replaced.re.data(),
                                   s.replaced.im.data(), interleaved};
    clear_accumulators(s, length);
    book_weigh_and_superpose(books[k], s.target, replaced_match != nullptr ? &with_replaced : nullptr, dots,
                             s.weights, s.acc_re, s.acc_im);
    if (replaced_match != nullptr) *replaced_match = best_of_dots(dots, books[k].size(), length);
    snap_levels(s.acc_im.data(), s.acc_re.data(), estimates[k].data(), length, grid.resolution());
}

// best_match against an estimate kept as levels; `phasors` is scratch.
Match best_match(const LevelBook& book, const Levels& estimate, const GridPhasors& grid, PhasorVec& phasors,
                 std::vector<double>& dots) {
    if (book.size() == 0) return {0, 0.0};
    phasors.re.resize(estimate.size());
    phasors.im.resize(estimate.size());
    read_phasors(estimate.data(), estimate.size(), grid, phasors.re.data(), phasors.im.data());
    return best_match(book, phasors, dots);
}

}  // namespace

std::vector<FactorResult> factorize(const PhaseHVec& composite, std::span<const Codebook> codebooks,
                                    std::uint64_t max_iter) {
    return std::move(factorize(composite, codebooks, max_iter, CancelCheck{})).value();
}

namespace {

Expected<std::vector<FactorResult>, Cancelled> run_resonator(const PhaseHVec& composite,
                                                             std::span<const Codebook> codebooks,
                                                             std::uint64_t max_iter, const CancelCheck& cancel) {
    const std::size_t factors = codebooks.size();
    if (factors == 0) return std::vector<FactorResult>{};
    const std::size_t length = composite.phases.size();
    check_entry_lengths(codebooks, length);

    // Grid tables pay off once a grid serves at least 2n lookups: the composite's
    // grid per factor update the composite and every estimate, and per sweep every
    // estimate once more for its best match; an entry's grid three reads of the
    // entry per sweep (weight, superposition, best match).
    const std::uint64_t sweeps_to_table = max_iter < 4 ? max_iter + 1 : 5;
    std::map<std::uint32_t, std::uint64_t> lookups{
        {composite.n, length * (1 + factors * (factors + 1) * sweeps_to_table)}};
    for (const Codebook& book : codebooks) {
        for (const PhaseHVec& entry : book) lookups[entry.n] += entry.phases.size() * (1 + 3 * sweeps_to_table);
    }
    std::uint64_t codebook_levels = 0;
    for (const Codebook& book : codebooks) {
        for (const PhaseHVec& entry : book) codebook_levels += entry.phases.size();
    }
    const std::map<std::uint32_t, GridPhasors> grids = build_grids(lookups, composite.n, codebook_levels);
    const GridPhasors& grid = grids.at(composite.n);

    std::vector<LevelBook> books;
    books.reserve(factors);
    std::size_t largest = 0;
    for (const Codebook& book : codebooks) {
        books.push_back(level_book(book, grids));
        largest = std::max(largest, book.size());
    }

    // Initial estimates: each codebook's plain superposition (weights of 1.0).
    Scratch scratch;
    scratch.weights.reserve(largest);
    std::vector<Levels> estimates(factors, Levels(length));
    {
        const std::vector<double> ones(largest, 1.0);
        for (std::size_t k = 0; k < factors; ++k) {
            clear_accumulators(scratch, length);
            book_superpose(books[k], ones, scratch.acc_re, scratch.acc_im);
            snap_levels(scratch.acc_im.data(), scratch.acc_re.data(), estimates[k].data(), length, grid.resolution());
        }
    }

    // Every sweep ends with each factor's best match against its final estimate
    // of that sweep; the answer reuses the last sweep's matches, since no
    // estimate changes after it. When a sweep's matches cannot end the run (the
    // match sets have not yet been equal twice in a row, and sweeps remain),
    // they come with the next sweep's weights instead: each factor's update
    // reads its codebook once for both, against the estimate it replaces.
    std::vector<double> dots;
    std::vector<Match> matches(factors);
    std::uint64_t sweeps = 0;
    bool converged = false;
    if (max_iter == 0) {
        for (std::size_t k = 0; k < factors; ++k) {
            matches[k] = best_match(books[k], estimates[k], grid, scratch.phasors, dots);
        }
    } else {
        std::vector<std::uint64_t> previous(factors, ~std::uint64_t{0});
        std::vector<std::uint64_t> current(factors);
        std::int32_t stable = 0;
        // Compares one sweep's matches with the last; true when the run ends.
        const auto settle = [&](std::uint64_t sweep) {
            for (std::size_t k = 0; k < factors; ++k) current[k] = matches[k].index;
            if (current == previous) {
                if (stable > 1) {
                    converged = true;
                    return true;
                }
                ++stable;
            } else {
                stable = 0;
            }
            previous.swap(current);
            return sweep == max_iter;
        };
        // Work of one factor update and of one best match, in level reads; a
        // sweep of tiny vectors still counts for something.
        CancelPacer pacer(cancel);
        const auto work = [&](std::size_t k) { return length * (books[k].size() + factors) + 64; };
        bool matches_pending = false;  // the last sweep's matches come with this sweep's updates
        for (;;) {
            ++sweeps;
            for (std::size_t k = 0; k < factors; ++k) {
                update_factor(k, composite, books, estimates, grid, scratch, matches_pending ? &matches[k] : nullptr,
                              dots);
                if (pacer.after(matches_pending ? 2 * work(k) : work(k))) return unexpected(Cancelled{});
            }
            if (matches_pending) settle(sweeps - 1);  // cannot end the run: that is why they waited
            matches_pending = stable <= 1 && sweeps < max_iter;
            if (matches_pending) continue;
            for (std::size_t k = 0; k < factors; ++k) {
                matches[k] = best_match(books[k], estimates[k], grid, scratch.phasors, dots);
                if (pacer.after(work(k))) return unexpected(Cancelled{});
            }
            if (settle(sweeps)) break;
        }
    }

    std::vector<FactorResult> results;
    results.reserve(factors);
    for (std::size_t k = 0; k < factors; ++k) {
        results.push_back({k, matches[k].index, matches[k].similarity, sweeps, converged});
    }
    return results;
}

}  // namespace

Expected<std::vector<FactorResult>, Cancelled> factorize(const PhaseHVec& composite,
                                                         std::span<const Codebook> codebooks,
                                                         std::uint64_t max_iter, const CancelCheck& cancel) {
    // Per position: the target, the phasors, the replaced estimate's phasors and
    // the accumulators (eight doubles), the target and the replaced estimate
    // interleaved (four more) and one level per factor estimate. Grid tables
    // name themselves.
    const std::uint64_t length = composite.phases.size();
    const std::uint64_t bytes = length * (96 + 2 * codebooks.size());
    return naming_allocation(bytes, length, "resonator working positions",
                             [&] { return run_resonator(composite, codebooks, max_iter, cancel); });
}

}  // namespace verrakin
