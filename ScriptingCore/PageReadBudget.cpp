#include "PageReadBudget.h"

namespace FB {

// The default TLS model: a library that browsers load late must not count
// on room in the static TLS block.
thread_local PageReadBudget::Total PageReadBudget::s_total;

PageReadBudget::PageReadBudget() noexcept : m_total(s_total), m_opened(!m_total.open)
{
    if (m_opened) {
        m_total.open = true;
        m_total.left = kMaxEntries;
    }
}

PageReadBudget::~PageReadBudget()
{
    if (m_opened)
        m_total.open = false;
}

bool PageReadBudget::take(std::size_t count) noexcept
{
    if (count > m_total.left)
        return false;
    m_total.left -= count;
    return true;
}

} // namespace FB
