#include "reliable_search.hpp"

#include <algorithm>
#include <bit>
#include <optional>

#include "../phase_hvec/algebra.hpp"

namespace verrakin {
namespace {

using Answer = std::vector<FactorResult>;
using Parts = std::vector<std::vector<std::size_t>>;  // entry positions per codebook

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

    // Every choice of halves, at most `sweeps` sweeps per call; the first
    // answer that resolves.
    Expected<std::optional<Answer>, PhaseFailure> halves(const PhaseHVec& target, std::span<const Codebook> books,
                                                         std::uint64_t sweeps) {
        for (const Parts& parts : choices_of_halves(books)) {
            std::vector<Codebook> sub(books.size());
            for (std::size_t k = 0; k < books.size(); ++k) {
                for (std::size_t j : parts[k]) sub[k].push_back(books[k][j].view());
            }
            Answer answer;
            VK_TRY_ASSIGN(answer, call(target, sub, sweeps));
            for (std::size_t k = 0; k < answer.size(); ++k) answer[k].index = parts[k][answer[k].index];
            std::optional<Answer> found;
            VK_TRY_ASSIGN(found, resolve(target, books, std::move(answer)));
            if (found) return found;
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

    // Entry positions per codebook: every choice of halves by index bit 0, then
    // bit 1, ..., in lexicographic order of sides with the first codebook
    // leading; choices that empty a codebook or cut none are left out.
    static std::vector<Parts> choices_of_halves(std::span<const Codebook> books) {
        std::vector<Parts> out;
        std::size_t largest = 0;
        for (const Codebook& book : books) largest = std::max(largest, book.size());
        const std::size_t factors = books.size();
        for (std::size_t bit = 0; bit < std::bit_width(largest); ++bit) {
            for (std::uint64_t sides = 0; sides < (std::uint64_t{1} << factors); ++sides) {
                Parts parts(factors);
                bool all_nonempty = true, any_smaller = false;
                for (std::size_t k = 0; k < factors; ++k) {
                    const std::uint64_t side = (sides >> (factors - 1 - k)) & 1;
                    for (std::size_t j = 0; j < books[k].size(); ++j) {
                        if (((j >> bit) & 1) == side) parts[k].push_back(j);
                    }
                    all_nonempty = all_nonempty && !parts[k].empty();
                    any_smaller = any_smaller || parts[k].size() < books[k].size();
                }
                if (all_nonempty && any_smaller) out.push_back(std::move(parts));
            }
        }
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
    // Halves, first with a short sweep cap, then with max_iter (one tier when
    // max_iter is no more than the cap).
    const std::uint64_t tiers[] = {std::min(kQuickSweeps, max_iter), max_iter};
    for (std::size_t tier = max_iter <= kQuickSweeps ? 1 : 0; tier < 2 && !found; ++tier) {
        VK_TRY_ASSIGN(found, search.halves(composite, codebooks, tiers[tier]));
    }
    return ReliableAnswer{found ? std::move(*found) : std::move(first), search.calls};
}

}  // namespace verrakin
