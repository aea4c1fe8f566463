// FB::CrossThreadCall: carries one bound call from any thread to the
// browser's main thread through the host's asynchronous-call path, and for
// the synchronous form its result or its error back.
//
// Synchronous (syncCall, BrowserHost::callOnMainThread): on the main thread
// the call runs at once and its exceptions pass unchanged. Elsewhere the
// caller waits, waking at least every 10 ms, until the main thread has run
// the call or the host shuts down. A refused hand-off fails with
// FB::script_error "Could not marshal to main thread", a host that shuts
// down under the waiting caller with "Shutting down"; an error of the call
// comes back as an FB::script_error with the same message ("Unknown
// exception" for one that is no std::exception), so no waiter is left
// waiting for a call that failed.
// Asynchronous (asyncCall, BrowserHost::scheduleOnMainThread): the caller does
// not wait; the call runs later on the main thread, or never when the host
// refuses it, and whatever it throws there is dropped.
// The record of a synchronous call is owned by the waiting caller and reached
// from the main thread only through a weak token; the record of an
// asynchronous call belongs to its run.
#ifndef FB_CROSSTHREADCALL_H
#define FB_CROSSTHREADCALL_H

#include <boost/make_shared.hpp>
#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/locks.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/shared_mutex.hpp>

#include "BrowserHost.h"
#include "FunctorCall.h"
#include "variant.h"

namespace FB {

class CrossThreadCall : private boost::noncopyable {
public:
    template <class Functor>
    static auto syncCall(const BrowserHostPtr& host, Functor func) -> decltype(func())
    {
        return syncCall(host, boost::shared_ptr<bool>(), func);
    }

    // keep stays alive until the call has run and its caller is done with it.
    template <class C, class Functor>
    static auto syncCall(const BrowserHostPtr& host, const boost::shared_ptr<C>& keep,
                         Functor func) -> decltype(func())
    {
        typedef decltype(func()) RT;
        const boost::shared_ptr<FunctorCallImpl<Functor, C, RT> > funct(
            boost::make_shared<FunctorCallImpl<Functor, C, RT> >(func, keep));
        if (host->isMainThread()) {
            funct->call();
            return funct->getResult();
        }
        carrySync(host, funct);
        return funct->getResult();
    }

    template <class C, class Functor>
    static void asyncCall(const BrowserHostPtr& host, const boost::shared_ptr<C>& keep,
                          Functor func)
    {
        typedef decltype(func()) RT;
        carryAsync(host, boost::make_shared<FunctorCallImpl<Functor, C, RT> >(func, keep));
    }

    virtual ~CrossThreadCall();

protected:
    explicit CrossThreadCall(const boost::shared_ptr<FunctorCall>& funct);

    // Hands the call to the main thread and waits for it; throws as described
    // above. The functor holds the result when this returns.
    static void carrySync(const BrowserHostPtr& host, const boost::shared_ptr<FunctorCall>& funct);
    static void carryAsync(const BrowserHostPtr& host, const boost::shared_ptr<FunctorCall>& funct);

    // The functions handed to BrowserHost::scheduleAsyncCall; main thread.
    static void runSyncCall(void* token);
    static void runAsyncCall(void* call);

    boost::shared_ptr<FunctorCall> m_funct;
    // Holds a captured FB::ScriptErrorPtr when the call failed.
    variant m_result;
    bool m_returned;
    boost::condition_variable m_cond;
    boost::mutex m_mutex;
};

// The strong self reference is taken before the lock, so that it is dropped
// after the unlock: the caller's may be the host's last one and go while the
// call is carried.
template <class Functor>
auto BrowserHost::callOnMainThread(Functor func) -> decltype(func())
{
    const BrowserHostPtr self(shared_from_this());
    boost::shared_lock<boost::shared_mutex> lock(m_xtmutex);
    return CrossThreadCall::syncCall(self, func);
}

template <class C, class Functor>
auto BrowserHost::callOnMainThread(const boost::shared_ptr<C>& keep, Functor func)
    -> decltype(func())
{
    const BrowserHostPtr self(shared_from_this());
    boost::shared_lock<boost::shared_mutex> lock(m_xtmutex);
    return CrossThreadCall::syncCall(self, keep, func);
}

template <class C, class Functor>
void BrowserHost::scheduleOnMainThread(const boost::shared_ptr<C>& keep, Functor func)
{
    const BrowserHostPtr self(shared_from_this());
    boost::shared_lock<boost::shared_mutex> lock(m_xtmutex);
    CrossThreadCall::asyncCall(self, keep, func);
}

} // namespace FB

#endif
