#include "kzoupdateAPI.h"

#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <boost/thread/mutex.hpp>

#include "JSObject.h"
#include "kzohelpers.h"
#include "script_error.h"
#include "talk/base/logging.h"
#include "variant.h"

namespace {

const char kUpdateCommand[] = "yum -y update ";
const char kViewerCommand[] = "gpk-update-viewer";
// The wait status of a command that exited with code 1.
const int kStatusExitedOne = 256;

void report(const FB::JSObjectPtr& callback, int code)
{
    callback->invokeAsync("", FB::makeVariantList(FB::variant(code)));
}

} // namespace

// The page's callbacks of the last updatePlugin, shared by the updater and
// the update queue, which holds them for each call of this updater until
// its sequence ended, until the instance goes (release): then the page
// objects are dropped and nothing more is reported. Any thread, guarded by
// the mutex; release runs on the main thread, so the last reference to a
// page object is never the worker's.
class kzoupdateAPI::Callbacks : public kzoupdatequeue::Waiter {
public:
    Callbacks() : m_released(false) {}

    void set(const FB::JSObjectPtr& success, const FB::JSObjectPtr& failure,
             const FB::JSObjectPtr& progress)
    {
        boost::mutex::scoped_lock lock(m_mutex);
        if (m_released)
            return;
        m_success = success;
        m_failure = failure;
        m_progress = progress;
    }

    bool released() const
    {
        boost::mutex::scoped_lock lock(m_mutex);
        return m_released;
    }

    void release()
    {
        FB::JSObjectPtr success, failure, progress;
        {
            boost::mutex::scoped_lock lock(m_mutex);
            m_released = true;
            success.swap(m_success);
            failure.swap(m_failure);
            progress.swap(m_progress);
        }
        // The references go here, on the caller's (main) thread.
    }

    // Reports a command's final status: success to the success callback,
    // anything else (or success without one) as failure to the failure
    // callback; nothing without a callback or once released. The report is
    // queued under the lock, so release never leaves it half done.
    void sequenceEnded(int status) override
    {
        boost::mutex::scoped_lock lock(m_mutex);
        if (status == 0 && m_success)
            report(m_success, kzoupdateAPI::kResultSuccess);
        else if (m_failure)
            report(m_failure, kzoupdateAPI::kResultInstallFailed);
    }

private:
    mutable boost::mutex m_mutex;
    bool m_released;
    FB::JSObjectPtr m_success;
    FB::JSObjectPtr m_failure;
    FB::JSObjectPtr m_progress;
};

namespace {

// Runs the package manager (and the update viewer when it exits 1) and
// gives the last command's wait status. The worker of the update queue.
int runPackageManager()
{
    const std::string package = getMasterPluginName();
    std::string command = kUpdateCommand + package;
    LOG(LS_INFO) << "Installer command: " << command;
    int status = system(command.c_str());
    if (status == kStatusExitedOne) {
        LOG(LS_INFO) << "Installer command: " << command << ". Failed with return code:"
                     << kStatusExitedOne;
        command = kViewerCommand;
        status = system(command.c_str());
    }
    LOG(LS_INFO) << "Installer command: " << command << ". Return code: " << status;
    return status;
}

} // namespace

kzoupdatequeue& kzoupdateAPI::packageManagerQueue()
{
    // Never destroyed: a sequence may still run at process exit.
    static kzoupdatequeue* const queue = new kzoupdatequeue(&runPackageManager);
    return *queue;
}

kzoupdateAPI::kzoupdateAPI()
    : m_useMasterVersion(false), m_callbacks(boost::make_shared<Callbacks>())
{
}

kzoupdateAPI::~kzoupdateAPI()
{
    // The queue keeps its own share of the callbacks for the calls it holds.
}

void kzoupdateAPI::setHost(const FB::BrowserHostPtr& host)
{
    m_host = host;
}

void kzoupdateAPI::releasePageObjects()
{
    packageManagerQueue().leave(m_callbacks.get());
    m_callbacks->release();
}

void kzoupdateAPI::setUseMasterVersion(bool useMasterVersion)
{
    m_useMasterVersion = useMasterVersion;
}

void kzoupdateAPI::updatePlugin(const std::string& url, const FB::JSObjectPtr& successCallback,
                                const FB::JSObjectPtr& failureCallback,
                                const FB::JSObjectPtr& progressCallback)
{
    // The instance is gone: nothing may run or reach its page any more.
    if (m_callbacks->released())
        throw FB::script_error(kzoupdatequeue::kNotAccepted);
    m_url = url;
    m_version = m_useMasterVersion ? getMasterPluginVersion() : getPluginVersion();
    // A call that is not accepted changes where earlier calls report to no
    // more than it reports itself.
    packageManagerQueue().join(m_callbacks, [&] {
        m_callbacks->set(successCallback, failureCallback, progressCallback);
        if (progressCallback)
            report(progressCallback, kProgressStarted);
    });
}
