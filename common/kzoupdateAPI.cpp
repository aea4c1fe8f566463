#include "kzoupdateAPI.h"

#include <stdlib.h>

#include <exception>
#include <mutex>

#include <boost/bind/bind.hpp>
#include <boost/make_shared.hpp>
#include <boost/thread/mutex.hpp>

#include "JSObject.h"
#include "kzohelpers.h"
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

// One package-manager sequence at a time in the process: concurrent runs
// fight over the package database, and a page could start any number.
// Never destroyed: detached workers may still hold it at exit.
std::mutex& packageManagerMutex()
{
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

} // namespace

// The page's callbacks of the last updatePlugin, shared by the updater and
// every worker it started, until the instance goes (release): then the page
// objects are dropped and nothing more is reported. Any thread, guarded by
// the mutex; release runs on the main thread, so the last reference to a
// page object is never a worker's.
class kzoupdateAPI::Callbacks {
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
    void reportResult(int status) const
    {
        boost::mutex::scoped_lock lock(m_mutex);
        if (status == 0 && m_success)
            report(m_success, kzoupdateAPI::kResultSuccess);
        else if (m_failure)
            report(m_failure, kzoupdateAPI::kResultInstallFailed);
    }

    // The worker: runs the package manager and reports.
    static void runInstaller(const boost::shared_ptr<Callbacks>& callbacks,
                             const std::string& package);

private:
    mutable boost::mutex m_mutex;
    bool m_released;
    FB::JSObjectPtr m_success;
    FB::JSObjectPtr m_failure;
    FB::JSObjectPtr m_progress;
};

namespace {

// Runs the package manager (and the update viewer when it exits 1) and
// gives the last command's wait status. A later worker waits here for the
// running sequence to end.
int runPackageManager(const std::string& package)
{
    std::lock_guard<std::mutex> oneAtATime(packageManagerMutex());
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

void kzoupdateAPI::Callbacks::runInstaller(const boost::shared_ptr<Callbacks>& callbacks,
                                           const std::string& package)
{
    try {
        callbacks->reportResult(runPackageManager(package));
    } catch (const std::exception& e) {
        // Nothing may end the browser: the page just gets no report.
        LOG(LS_INFO) << "Installer worker failed: " << e.what();
    } catch (...) {
        LOG(LS_INFO) << "Installer worker failed";
    }
}

kzoupdateAPI::kzoupdateAPI()
    : m_useMasterVersion(false), m_callbacks(boost::make_shared<Callbacks>())
{
}

kzoupdateAPI::~kzoupdateAPI()
{
    // A running worker keeps its own share of the callbacks.
    if (m_worker.joinable())
        m_worker.detach();
}

void kzoupdateAPI::setHost(const FB::BrowserHostPtr& host)
{
    m_host = host;
}

void kzoupdateAPI::releasePageObjects()
{
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
    m_url = url;
    m_callbacks->set(successCallback, failureCallback, progressCallback);
    m_version = m_useMasterVersion ? getMasterPluginVersion() : getPluginVersion();
    if (progressCallback)
        report(progressCallback, kProgressStarted);

    if (m_worker.joinable())
        m_worker.detach();
    m_worker = boost::thread(
        boost::bind(&Callbacks::runInstaller, m_callbacks, getMasterPluginName()));
}
