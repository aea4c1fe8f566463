#include "CrossThreadCall.h"

#include <exception>
#include <memory>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/weak_ptr.hpp>

#include "bad_variant_cast.h"
#include "logging.h"
#include "script_error.h"

namespace FB {

namespace {

typedef boost::weak_ptr<CrossThreadCall> CallToken;

// A waiter that the main thread never answers still sees the host's shutdown
// at its next step.
const boost::posix_time::milliseconds kWaitStep(10);

} // namespace

CrossThreadCall::CrossThreadCall(const boost::shared_ptr<FunctorCall>& funct)
    : m_funct(funct), m_returned(false)
{
}

CrossThreadCall::~CrossThreadCall() {}

void CrossThreadCall::carrySync(const BrowserHostPtr& host,
                                const boost::shared_ptr<FunctorCall>& funct)
{
    const boost::shared_ptr<CrossThreadCall> call(new CrossThreadCall(funct));
    std::unique_ptr<CallToken> token(new CallToken(call));
    // The record's mutex is taken only after the hand-off: scheduling takes
    // the call manager's mutex, which shutdown holds while it runs this very
    // call, and the run needs the record's mutex.
    if (!host->scheduleAsyncCall(&CrossThreadCall::runSyncCall, token.get()))
        throw script_error("Could not marshal to main thread");
    token.release();

    boost::unique_lock<boost::mutex> lock(call->m_mutex);
    for (;;) {
        if (host->isShutDown())
            throw script_error("Shutting down");
        if (call->m_returned)
            break;
        call->m_cond.timed_wait(lock, kWaitStep);
    }
    lock.unlock();

    if (call->m_result.is_of_type<ScriptErrorPtr>())
        throw script_error(call->m_result.cast<ScriptErrorPtr>()->what());
}

void CrossThreadCall::carryAsync(const BrowserHostPtr& host,
                                 const boost::shared_ptr<FunctorCall>& funct)
{
    std::unique_ptr<CrossThreadCall> call(new CrossThreadCall(funct));
    if (host->scheduleAsyncCall(&CrossThreadCall::runAsyncCall, call.get()))
        call.release();
}

void CrossThreadCall::runSyncCall(void* data)
{
    const std::unique_ptr<CallToken> token(static_cast<CallToken*>(data));
    const boost::shared_ptr<CrossThreadCall> call(token->lock());
    if (!call)
        return;
    // Whatever the call throws goes back to the waiter, which would otherwise
    // wait until the host shuts down.
    try {
        call->m_funct->call();
    } catch (const std::exception& e) {
        call->m_result = ScriptErrorPtr(new script_error(e.what()));
    } catch (...) {
        call->m_result = ScriptErrorPtr(new script_error("Unknown exception"));
    }
    boost::mutex::scoped_lock lock(call->m_mutex);
    call->m_returned = true;
    call->m_cond.notify_one();
}

void CrossThreadCall::runAsyncCall(void* data)
{
    const std::unique_ptr<CrossThreadCall> call(static_cast<CrossThreadCall*>(data));
    try {
        call->m_funct->call();
    } catch (const script_error&) {
    } catch (const bad_variant_cast&) {
    } catch (const std::exception& e) {
        FBLOG_ERROR("CrossThreadCall", "Asynchronous call failed: " << e.what());
    } catch (...) {
        FBLOG_ERROR("CrossThreadCall", "Asynchronous call failed");
    }
}

} // namespace FB
