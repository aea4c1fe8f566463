// FB::PageReadBudget: how many entries one call may read from page arrays
// and objects, all together.
//
// A page chooses an array's "length" and an object's member names freely,
// and each entry costs a browser call; without a bound one argument can keep
// the browser's thread busy for good. The first budget made on a thread
// opens the thread's total of kMaxEntries for its scope; budgets made while
// it is open join it, so every read of the call (nested lists, the method's
// own conversions, a page call that comes back into the plugin) draws from
// the one total. Whoever starts a call opens one: the browser object's entry
// points, the method wrappers, a function object's apply; a conversion
// outside any call opens its own.
// take() is asked before anything is read, and a refusal takes nothing.
// Per thread, no lock: a budget is used on the thread that made it and is
// never shared.
#ifndef FB_PAGEREADBUDGET_H
#define FB_PAGEREADBUDGET_H

#include <cstddef>

#include <boost/noncopyable.hpp>

namespace FB {

class PageReadBudget : private boost::noncopyable {
public:
    // As many arguments as script engines pass to one call.
    static constexpr std::size_t kMaxEntries = 65536;

    PageReadBudget() noexcept;
    ~PageReadBudget();

    // Takes count entries from the open total; false, taking nothing, when
    // fewer are left.
    bool take(std::size_t count) noexcept;

private:
    // A thread's total: open while the budget that opened it lives.
    struct Total {
        bool open = false;
        std::size_t left = 0;
    };
    static thread_local Total s_total;

    // The thread's total, looked up once: finding it costs a call.
    Total& m_total;
    bool m_opened;
};

} // namespace FB

#endif
