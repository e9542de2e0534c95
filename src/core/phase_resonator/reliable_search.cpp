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

    Expected<Answer, PhaseFailure> call(const PhaseHVec& target, std::span<const Codebook> books) {
        ++calls;
        auto answer = factorize(target, books, max_iter_, cancel_);
        if (!answer) return unexpected(PhaseFailure{Cancelled{}});
        return std::move(answer).value();
    }

    // An answer whose entries bind to `target`, or none. At the top the whole
    // problem's answer is known already and halves follow it; a peeled problem
    // (no `whole_answer`) gets the whole problem only.
    Expected<std::optional<Answer>, PhaseFailure> run(const PhaseHVec& target, std::span<const Codebook> books,
                                                    std::optional<Answer> whole_answer) {
        const bool nested = !whole_answer.has_value();
        for (const Parts& parts : subproblems(books, nested)) {
            Answer reported;
            if (whole_answer) {
                reported = std::move(*whole_answer);
                whole_answer.reset();
            } else {
                std::vector<Codebook> sub(books.size());
                for (std::size_t k = 0; k < books.size(); ++k) {
                    for (std::size_t j : parts[k]) sub[k].push_back(books[k][j].view());
                }
                VK_TRY_ASSIGN(reported, call(target, sub));
            }
            Answer answer = reported;
            for (std::size_t k = 0; k < answer.size(); ++k) answer[k].index = parts[k][reported[k].index];
            if (accepted(target, books, answer)) return std::optional<Answer>(std::move(answer));
            std::vector<std::size_t> sure, rest;
            for (std::size_t k = 0; k < answer.size(); ++k) {
                (answer[k].similarity >= kConfident ? sure : rest).push_back(k);
            }
            if (sure.empty() || rest.empty()) continue;
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
            auto found = run(remainder, rest_books, std::nullopt);
            if (!found) return unexpected(found.error());
            if (const std::optional<Answer>& rest_answer = found.value()) {
                for (std::size_t r = 0; r < rest.size(); ++r) {
                    answer[rest[r]].index = (*rest_answer)[r].index;
                    answer[rest[r]].similarity = (*rest_answer)[r].similarity;
                }
                return std::optional<Answer>(std::move(answer));
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

    // First all positions, then (except inside a peeled problem, small enough
    // for one call) every choice of halves by index bit 0, then bit 1, ...; the
    // choices in lexicographic order of sides, the first codebook leading.
    static std::vector<Parts> subproblems(std::span<const Codebook> books, bool nested) {
        std::vector<Parts> out;
        Parts all(books.size());
        std::size_t largest = 0;
        for (std::size_t k = 0; k < books.size(); ++k) {
            for (std::size_t j = 0; j < books[k].size(); ++j) all[k].push_back(j);
            largest = std::max(largest, books[k].size());
        }
        out.push_back(std::move(all));
        if (nested) return out;
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
    VK_TRY_ASSIGN(first, search.call(composite, codebooks));
    const bool searchable = !codebooks.empty() &&
                            std::none_of(codebooks.begin(), codebooks.end(), [](const Codebook& b) { return b.empty(); });
    if (!searchable) return ReliableAnswer{std::move(first), search.calls};
    auto found = search.run(composite, codebooks, first);
    if (!found) return unexpected(found.error());
    std::optional<Answer>& answer = found.value();
    return ReliableAnswer{answer ? std::move(*answer) : std::move(first), search.calls};
}

}  // namespace verrakin
