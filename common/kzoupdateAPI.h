// kzoupdateAPI: carries out a page's request to update the vendor's main
// plugin. updatePlugin reads the main plugin's version and hands the call to
// the process's package-manager queue (kzoupdatequeue), whose one worker
// thread runs "yum -y update vudiriveze" (and "gpk-update-viewer" when yum
// exits 1) through the shell. Once the queue accepted the call, the updater
// stores the page's callbacks and reports progress 100; when the call's
// sequence ended, success 0 or failure 16. A call made while a sequence runs
// shares the one pending sequence, and its result, with every other call
// made meanwhile in the process.
//
// Reports reach the page only through FB::JSObject::invokeAsync, so they
// always arrive later, on the browser's main thread. A call's result goes
// through the callbacks stored when it is reported (a later updatePlugin
// replaces them); the queue owns those callbacks jointly with the updater,
// so a running sequence may outlive the updater. When the instance goes,
// releasePageObjects takes its calls out of the pending sequence and drops
// the page's callbacks on the main thread: a sequence still running then
// reports nothing, and a later updatePlugin is refused.
// The constructor, setHost, setUseMasterVersion, updatePlugin,
// releasePageObjects and the destructor run on the browser's main thread.
#ifndef KZOUPDATEAPI_H
#define KZOUPDATEAPI_H

#include <string>

#include <boost/shared_ptr.hpp>

#include "APITypes.h"
#include "kzoupdatequeue.h"

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

    // Returns once the call is accepted. Any callback may be empty. Throws
    // FB::script_error (kzoupdatequeue::kNotAccepted), having reported
    // nothing, when the queue cannot take the call or the page objects were
    // released; an error of the progress report takes the call out again.
    void updatePlugin(const std::string& url, const FB::JSObjectPtr& successCallback,
                      const FB::JSObjectPtr& failureCallback,
                      const FB::JSObjectPtr& progressCallback);

    // The instance is going: its calls leave the pending sequence, the
    // page's callbacks go here, and nothing reports afterwards.
    void releasePageObjects();

    // The process's one queue of package-manager sequences; never destroyed.
    static kzoupdatequeue& packageManagerQueue();

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
};

#endif
