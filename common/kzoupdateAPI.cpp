#include "kzoupdateAPI.h"

#include <stdlib.h>

#include <exception>

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

} // namespace

// The page's callbacks of the last updatePlugin, shared by the updater and
// every worker it started; any thread, guarded by the mutex.
class kzoupdateAPI::Callbacks {
public:
    void set(const FB::JSObjectPtr& success, const FB::JSObjectPtr& failure,
             const FB::JSObjectPtr& progress)
    {
        boost::mutex::scoped_lock lock(m_mutex);
        m_success = success;
        m_failure = failure;
        m_progress = progress;
    }

    // The callback to report a command's final status to, with its number;
    // empty when there is none to report to.
    FB::JSObjectPtr resultFor(int status, int& code) const
    {
        boost::mutex::scoped_lock lock(m_mutex);
        if (status == 0 && m_success) {
            code = kzoupdateAPI::kResultSuccess;
            return m_success;
        }
        code = kzoupdateAPI::kResultInstallFailed;
        return m_failure;
    }

    // The worker: runs the package manager and reports.
    static void runInstaller(const boost::shared_ptr<Callbacks>& callbacks,
                             const std::string& package);

private:
    mutable boost::mutex m_mutex;
    FB::JSObjectPtr m_success;
    FB::JSObjectPtr m_failure;
    FB::JSObjectPtr m_progress;
};

void kzoupdateAPI::Callbacks::runInstaller(const boost::shared_ptr<Callbacks>& callbacks,
                                           const std::string& package)
{
    try {
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

        int code = 0;
        const FB::JSObjectPtr callback(callbacks->resultFor(status, code));
        if (callback)
            report(callback, code);
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
