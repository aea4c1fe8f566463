// FB::FunctorCall: one bound call that is carried to the browser's main
// thread and run there once (FB::CrossThreadCall).
//
// FB::FunctorCallImpl holds the bound call (a function object with copies of
// every argument, taken on the calling thread), optionally a shared pointer
// that keeps an object alive until the functor is destroyed (bool as the
// kept type keeps nothing), and, for a non-void result, the result. call()
// catches nothing. The thread that runs call() and the thread that reads the
// result are ordered by the carrying code, not here.
#ifndef FB_FUNCTORCALL_H
#define FB_FUNCTORCALL_H

#include <boost/shared_ptr.hpp>

#include "logging.h"

namespace FB {

class FunctorCall {
public:
    virtual ~FunctorCall() {}
    virtual void call() = 0;
};

template <class Functor, class C, class RT>
class FunctorCallImpl : public FunctorCall {
public:
    FunctorCallImpl(const Functor& func, const boost::shared_ptr<C>& keep)
        : m_func(func), m_keep(keep), m_result() {}
    ~FunctorCallImpl() override
    {
        FBLOG_TRACE("FunctorCall", "Destroying FunctorCall object (non-void)");
    }

    void call() override { m_result = m_func(); }
    RT getResult() const { return m_result; }

private:
    Functor m_func;
    boost::shared_ptr<C> m_keep;
    RT m_result;
};

template <class Functor, class C>
class FunctorCallImpl<Functor, C, void> : public FunctorCall {
public:
    FunctorCallImpl(const Functor& func, const boost::shared_ptr<C>& keep)
        : m_func(func), m_keep(keep) {}
    ~FunctorCallImpl() override
    {
        FBLOG_TRACE("FunctorCall", "Destroying FunctorCall object (void)");
    }

    void call() override { m_func(); }
    void getResult() const {}

private:
    Functor m_func;
    boost::shared_ptr<C> m_keep;
};

} // namespace FB

#endif
