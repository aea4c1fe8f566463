// FB::DOM::Node: a typed view of one page object, the base of the DOM
// wrappers.
//
// Each operation is one or two script accesses on the wrapped page object by
// fixed member names; answers that are page objects come back wrapped by the
// page object's own host (FB::BrowserHost::wrapNode and its siblings), so the
// browser binding decides the class that is made. Nothing is cached, locked
// or carried across threads here: a wrapper may be used on any thread on
// which its page object may be used. Errors of the page object and of the
// conversions pass to the caller; a page object whose host is gone gives
// boost::bad_weak_ptr where a wrapper must be made.
// Always owned through FB::DOM::NodePtr; the wide-string forms convert and
// call the virtual string forms.
#ifndef FB_DOM_NODE_H
#define FB_DOM_NODE_H

#include <string>

#include <boost/enable_shared_from_this.hpp>

#include "../APITypes.h"
#include "../JSObject.h"
#include "../variant.h"
#include "DOMTypes.h"

namespace FB {
namespace DOM {

class Node : public boost::enable_shared_from_this<Node> {
public:
    explicit Node(const JSObjectPtr& element);
    virtual ~Node();

    virtual JSObjectPtr getJSObject() const;

    // The named or indexed member as a node; empty for null or undefined.
    virtual NodePtr getNode(const std::wstring& name) const;
    virtual NodePtr getNode(const std::string& name) const;
    virtual NodePtr getNode(int index) const;

    virtual void setProperty(const std::wstring& name, const variant& value);
    virtual void setProperty(const std::string& name, const variant& value);
    virtual void setProperty(int index, const variant& value);

    // An empty node goes to the page as null.
    virtual NodePtr appendChild(const NodePtr& node);

    // The named member converted to T (FB::variant::convert_cast).
    template <class T>
    T getProperty(const std::string& name) const
    {
        return m_element->getProperty(name).convert_cast<T>();
    }

protected:
    JSObjectPtr m_element;
};

} // namespace DOM
} // namespace FB

#endif
