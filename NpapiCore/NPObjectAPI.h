// FB::Npapi::NPObjectAPI: an object of the page (a callback function, the
// window, the document, an array...) seen from the plugin.
//
// Each FB::JSAPI operation becomes one browser call through the instance's
// host, with values converted by the host. Called off the browser's main
// thread, an operation carries itself to the main thread and waits for the
// answer (the handler batch does not wait); no browser function is ever
// called from another thread. When the browser object is one of the plugin's
// own, the operations go straight to the scriptable object behind it.
// The browser reference is taken only once the page object exists and is
// given back on the main thread: through the host's release queue while the
// host lives, through the module's orphan queue after.
// Any thread; no lock of its own.
#ifndef FB_NPAPI_NPOBJECTAPI_H
#define FB_NPAPI_NPOBJECTAPI_H

#include <string>
#include <vector>

#include "JSObject.h"
#include "NpapiBrowserHost.h"
#include "NpapiTypes.h"

namespace FB {
namespace Npapi {

class NPObjectAPI : public FB::JSObject {
public:
    // Throws std::bad_cast for one of the plugin's own browser objects whose
    // scriptable object is gone; the object is then not retained.
    NPObjectAPI(NPObject* object, const NpapiBrowserHostPtr& host);
    ~NPObjectAPI() override;

    NPObject* getNPObject() const { return m_obj; }
    // Throws std::bad_cast when the host is gone.
    NpapiBrowserHostPtr getNpapiHost() const;

    using JSAPI::getMemberNames;
    using JSAPI::getProperty;
    using JSAPI::hasMethod;
    using JSAPI::hasProperty;
    using JSAPI::invoke;
    using JSAPI::removeProperty;
    using JSAPI::setProperty;

    void invalidate() override;
    void getMemberNames(std::vector<std::string>& names) const override;
    size_t getMemberCount() const override;
    bool hasMethod(const std::string& name) const override;
    bool hasProperty(const std::string& name) const override;
    bool hasPropertyByIndex(int index) const override;
    variant getProperty(const std::string& name) override;
    void setProperty(const std::string& name, const variant& value) override;
    variant getPropertyByIndex(int index) override;
    void setPropertyByIndex(int index, const variant& value) override;
    void removeProperty(const std::string& name) override;
    void removePropertyByIndex(int index) override;
    variant invoke(const std::string& name, const VariantList& args) override;
    variant construct(const VariantList& args) override;

    void* getHandlerIdentity() override;
    void* getHandlerContext() override;
    bool canBatchCalls() override;
    void invokeHandlerBatch(const std::string& name, const VariantList& args,
                            const std::vector<JSObjectPtr>& handlers,
                            const std::vector<JSObjectPtr>& interfaces) override;
    bool isValid() override;
    JSAPIPtr getJSAPI() override;

private:
    boost::shared_ptr<NPObjectAPI> self() const;
    // The plugin's own object behind this one, when there is one.
    JSAPIPtr ownObject() const { return m_isJSAPI ? m_inner.lock() : JSAPIPtr(); }
    variant invokeWith(const NpapiBrowserHostPtr& host, const std::string& name,
                       const VariantList& args, bool construct);
    void callTarget(const NpapiBrowserHostPtr& host, NPObject* helper, const JSObjectPtr& target,
                    NPVariant* params, uint32_t count, const VariantList& args);

    NpapiBrowserHostWeakPtr m_npHost;
    NPObject* const m_obj;
    bool m_isJSAPI;
    JSAPIWeakPtr m_inner;
};

} // namespace Npapi
} // namespace FB

#endif
