// A small process-wide cache of tables that are pure functions of the
// resolution n (level tables, cosine tables).
//
// A table is computed by the same libm calls on the same arguments whenever it
// is built, so a cached table gives the same bits as a fresh one. The cache
// holds at most kSlots tables per kind (oldest evicted first), hands them out
// as shared pointers (an evicted table lives on until its last user is done)
// and guards its slots with one mutex that is held only to copy or swap
// pointers: never while a table is built or freed, never across anything that
// can block. A fork handler takes that mutex around fork(), so a child never
// inherits it locked.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

namespace verrakin {

/// The one mutex behind every table cache (fork-safe, see above).
std::mutex& table_cache_mutex() noexcept;

template <class Table>
class TableCache {
public:
    using Ptr = std::shared_ptr<const Table>;

    /// The cached table for n, or null. `asked_before` tells whether n was
    /// looked up earlier without being cached (a hint that it will recur).
    Ptr find(std::uint32_t n, bool* asked_before = nullptr) {
        std::lock_guard<std::mutex> guard(table_cache_mutex());
        for (const Slot& slot : slots_) {
            if (slot.n == n && slot.table) return slot.table;
        }
        if (asked_before != nullptr) {
            *asked_before = false;
            for (std::uint32_t& asked : asked_) {
                if (asked == n) *asked_before = true;
            }
            if (!*asked_before) asked_[next_asked_++ % kSlots] = n;
        }
        return nullptr;
    }

    /// Caches `table` for n unless another thread cached one first; returns the cached one.
    Ptr publish(std::uint32_t n, Ptr table) {
        Ptr evicted;  // freed after the mutex is released
        {
            std::lock_guard<std::mutex> guard(table_cache_mutex());
            for (const Slot& slot : slots_) {
                if (slot.n == n && slot.table) return slot.table;
            }
            Slot& slot = slots_[next_slot_++ % kSlots];
            evicted = std::exchange(slot.table, table);
            slot.n = n;
        }
        return table;
    }

    /// The table for n: cached, or built by `build()` and cached.
    template <class Build>
    Ptr get(std::uint32_t n, Build build) {
        if (Ptr table = find(n)) return table;
        return publish(n, std::make_shared<const Table>(build()));
    }

private:
    static constexpr unsigned kSlots = 4;
    struct Slot {
        std::uint32_t n = 0;
        Ptr table;
    };
    Slot slots_[kSlots];
    std::uint32_t asked_[kSlots] = {};
    unsigned next_slot_ = 0;
    unsigned next_asked_ = 0;
};

}  // namespace verrakin
