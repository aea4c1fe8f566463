// kzoupdateAPI: carries out a page's request to update the vendor's main
// plugin. updatePlugin stores the page's callbacks, reads the main plugin's
// version, reports progress 100 and starts a worker thread that runs
// "yum -y update vudiriveze" (and "gpk-update-viewer" when yum exits 1)
// through the shell, then reports success 0 or failure 16 to the page.
//
// Reports reach the page only through FB::JSObject::invokeAsync, so they
// always arrive later, on the browser's main thread. A worker reports through
// the callbacks stored when it reaches its report (a later updatePlugin
// replaces them); it owns those callbacks jointly with the updater, so it may
// outlive the updater, and it is detached, never joined. An exception that
// leaves a worker is logged and dropped. Workers of the whole process run
// their package-manager sequences one at a time: a later one waits for the
// running one to end. When the instance goes, releasePageObjects drops the
// page's callbacks on the main thread; workers still running then report
// nothing.
// The constructor, setHost, setUseMasterVersion, updatePlugin,
// releasePageObjects and the destructor run on the browser's main thread.
#ifndef KZOUPDATEAPI_H
#define KZOUPDATEAPI_H

#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>

#include "APITypes.h"

class kzoupdateAPI {
public:
    // The numbers the page's callbacks receive.
    static const int kProgressStarted = 100;
    static const int kResultSuccess = 0;
    static const int kResultInstallFailed = 16;

    kzoupdateAPI();
    virtual ~kzoupdateAPI();

    void setHost(const FB::BrowserHostPtr& host);
    // When true, updatePlugin reads the main plugin's version; else it takes
    // this plugin's own.
    void setUseMasterVersion(bool useMasterVersion);

    // Returns once the worker is started. Any callback may be empty; an
    // error of the progress report leaves before the worker starts.
    void updatePlugin(const std::string& url, const FB::JSObjectPtr& successCallback,
                      const FB::JSObjectPtr& failureCallback,
                      const FB::JSObjectPtr& progressCallback);

    // The instance is going: lets go of the page's callbacks here, and no
    // worker reports afterwards.
    void releasePageObjects();

    // What updatePlugin stored last.
    const std::string& url() const { return m_url; }
    const std::string& version() const { return m_version; }

    kzoupdateAPI(const kzoupdateAPI&) = delete;
    kzoupdateAPI& operator=(const kzoupdateAPI&) = delete;

private:
    class Callbacks;

    bool m_useMasterVersion;
    boost::shared_ptr<Callbacks> m_callbacks;
    FB::BrowserHostPtr m_host;
    std::string m_url;
    std::string m_version;
    boost::thread m_worker;
};

#endif
