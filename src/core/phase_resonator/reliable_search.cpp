#include "reliable_search.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>

#include "../phase_hvec/algebra.hpp"

namespace verrakin {
namespace {

using Answer = std::vector<FactorResult>;

class Search {
public:
    Search(std::uint64_t max_iter, const CancelCheck& cancel) : max_iter_(max_iter), cancel_(cancel) {}

    std::uint64_t calls = 0;

    Expected<Answer, PhaseFailure> call(const PhaseHVec& target, std::span<const Codebook> books,
                                        std::uint64_t sweeps) {
        ++calls;
        auto answer = factorize(target, books, sweeps, cancel_);
        if (!answer) return unexpected(PhaseFailure{Cancelled{}});
        return std::move(answer).value();
    }

    // `answer` if its entries bind to `target`; else, when some but not all of
    // its factors are confident, theirs completed by solving the rest (one call
    // on the whole remainder, peeling again from its answer); else none.
    Expected<std::optional<Answer>, PhaseFailure> resolve(const PhaseHVec& target, std::span<const Codebook> books,
                                                          Answer answer) {
        if (accepted(target, books, answer)) return std::optional<Answer>(std::move(answer));
        std::vector<std::size_t> sure, rest;
        for (std::size_t k = 0; k < answer.size(); ++k) {
            (answer[k].similarity >= kConfident ? sure : rest).push_back(k);
        }
        if (sure.empty() || rest.empty()) return std::optional<Answer>();
        // Peel the confident factors off and solve the rest; a wrong peel
        // simply finds nothing that binds to the remainder.
        PhaseHVec remainder = target.copy();
        for (std::size_t k : sure) {
            auto next = unbind(remainder, books[k][answer[k].index]);
            if (!next) return unexpected(PhaseFailure{next.error()});
            remainder = std::move(next).value();
        }
        std::vector<Codebook> rest_books;
        for (std::size_t k : rest) rest_books.push_back(views(books[k]));
        Answer reported;
        VK_TRY_ASSIGN(reported, call(remainder, rest_books, max_iter_));
        std::optional<Answer> found;
        VK_TRY_ASSIGN(found, resolve(remainder, rest_books, std::move(reported)));
        if (!found) return std::optional<Answer>();
        for (std::size_t r = 0; r < rest.size(); ++r) {
            answer[rest[r]].index = (*found)[r].index;
            answer[rest[r]].similarity = (*found)[r].similarity;
        }
        return std::optional<Answer>(std::move(answer));
    }

    // Every choice of halves under each split, at most `sweeps` sweeps per
    // call; the first answer that resolves. Choices run in lexicographic order
    // of the codebooks' sides, the first codebook leading; a codebook the split
    // does not cut keeps its one non-empty side, and a split that cuts none is
    // skipped, so only calls are counted, never empty choices.
    Expected<std::optional<Answer>, PhaseFailure> halves(const PhaseHVec& target, std::span<const Codebook> books,
                                                         std::span<const std::uint64_t> splits,
                                                         std::uint64_t sweeps) {
        const std::size_t factors = books.size();
        for (const std::uint64_t split : splits) {
            std::vector<std::array<std::vector<std::size_t>, 2>> sides_of(factors);
            std::vector<std::size_t> cut;  // codebooks with entries on both sides
            for (std::size_t k = 0; k < factors; ++k) {
                for (std::size_t j = 0; j < books[k].size(); ++j) {
                    sides_of[k][std::popcount(static_cast<std::uint64_t>(j) & split) & 1].push_back(j);
                }
                if (!sides_of[k][0].empty() && !sides_of[k][1].empty()) cut.push_back(k);
            }
            if (cut.empty()) continue;
            std::vector<std::size_t> side(factors);
            for (std::size_t k = 0; k < factors; ++k) side[k] = sides_of[k][0].empty() ? 1 : 0;
            // 2^|cut| choices; past 63 cut codebooks the count has no end that
            // a search could reach, and only an answer or `cancel` stops it.
            for (std::uint64_t choice = 0; cut.size() >= 64 || choice >> cut.size() == 0; ++choice) {
                for (std::size_t c = 0; c < cut.size(); ++c) {
                    const std::size_t shift = cut.size() - 1 - c;
                    side[cut[c]] = shift < 64 ? static_cast<std::size_t>((choice >> shift) & 1) : 0;
                }
                std::vector<Codebook> sub(factors);
                for (std::size_t k = 0; k < factors; ++k) {
                    for (std::size_t j : sides_of[k][side[k]]) sub[k].push_back(books[k][j].view());
                }
                Answer answer;
                VK_TRY_ASSIGN(answer, call(target, sub, sweeps));
                for (std::size_t k = 0; k < factors; ++k) answer[k].index = sides_of[k][side[k]][answer[k].index];
                std::optional<Answer> found;
                VK_TRY_ASSIGN(found, resolve(target, books, std::move(answer)));
                if (found) return found;
            }
        }
        return std::optional<Answer>();
    }

private:
    static Codebook views(const Codebook& book) {
        Codebook out;
        out.reserve(book.size());
        for (const PhaseHVec& entry : book) out.push_back(entry.view());
        return out;
    }

    // Whether the chosen entries reproduce `target`; where their shapes differ
    // from it and they cannot be bound to it, whether every factor is confident.
    static bool accepted(const PhaseHVec& target, std::span<const Codebook> books, const Answer& answer) {
        bool same_shapes = true;
        for (std::size_t k = 0; k < answer.size(); ++k) {
            const PhaseHVec& entry = books[k][answer[k].index];
            same_shapes = same_shapes && entry.dim == target.dim && entry.n == target.n;
        }
        if (!same_shapes) {
            return std::all_of(answer.begin(), answer.end(),
                               [](const FactorResult& r) { return r.similarity >= kConfident; });
        }
        PhaseHVec product = books[0][answer[0].index].view();
        for (std::size_t k = 1; k < answer.size(); ++k) product = bind(product, books[k][answer[k].index]).value();
        return similarity(target, product).value() >= kVerified;
    }

    std::uint64_t max_iter_;
    const CancelCheck& cancel_;
};

}  // namespace

Expected<ReliableAnswer, PhaseFailure> factorize_reliably(const PhaseHVec& composite,
                                                         std::span<const Codebook> codebooks, std::uint64_t max_iter,
                                                         const CancelCheck& cancel) {
    Search search(max_iter, cancel);
    Answer first;
    VK_TRY_ASSIGN(first, search.call(composite, codebooks, max_iter));
    const bool searchable =
        !codebooks.empty() &&
        std::none_of(codebooks.begin(), codebooks.end(), [](const Codebook& book) { return book.empty(); });
    if (!searchable) return ReliableAnswer{std::move(first), search.calls};
    std::optional<Answer> found;
    VK_TRY_ASSIGN(found, search.resolve(composite, codebooks, first));
    // Splits by one index bit (bit 0 first), then by the parity of two
    // neighbouring bits (0 and 1 first): the second family gives the few
    // problems whose right one-bit halves did not resonate fresh sub-problems,
    // as cheap ones. (Every pair of bits solved no more problems and doubled
    // the cost where nothing resonates.)
    std::size_t largest = 0;
    for (const Codebook& book : codebooks) largest = std::max(largest, book.size());
    const auto bits = static_cast<std::size_t>(std::bit_width(largest));
    std::vector<std::uint64_t> single, pairs;
    for (std::size_t b = 0; b < bits; ++b) {
        single.push_back(std::uint64_t{1} << b);
        if (b + 1 < bits) pairs.push_back(std::uint64_t{3} << b);
    }
    // Short calls under both families, then the single bits with max_iter
    // (left out when max_iter is no more than the short cap).
    const std::uint64_t quick = std::min(kQuickSweeps, max_iter);
    const struct {
        const std::vector<std::uint64_t>& splits;
        std::uint64_t sweeps;
    } tiers[] = {{single, quick}, {pairs, quick}, {single, max_iter}};
    const std::size_t tier_count = max_iter <= kQuickSweeps ? 2 : 3;
    for (std::size_t tier = 0; tier < tier_count && !found; ++tier) {
        VK_TRY_ASSIGN(found, search.halves(composite, codebooks, tiers[tier].splits, tiers[tier].sweeps));
    }
    return ReliableAnswer{found ? std::move(*found) : std::move(first), search.calls};
}

}  // namespace verrakin
