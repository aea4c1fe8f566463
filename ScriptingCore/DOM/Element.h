// FB::DOM::Element: a page element - its markup, sizes, attributes, children
// and descendants by id or tag name.
//
// The setters go through the node's virtual setProperty; the getters read the
// page object directly. getElement (and with it getParentNode and
// getChildNode) always makes a plain FB::DOM::Element; the other element
// answers are made by the page object's host. Same thread rules and errors
// as FB::DOM::Node.
#ifndef FB_DOM_ELEMENT_H
#define FB_DOM_ELEMENT_H

#include <string>
#include <vector>

#include "Node.h"

namespace FB {
namespace DOM {

class Element : public virtual Node {
public:
    explicit Element(const JSObjectPtr& element);
    ~Element() override;

    // Empty for an empty page object, else made by the object's host.
    static ElementPtr create(const JSObjectPtr& element);

    virtual std::string getInnerHTML() const;
    virtual void setInnerHTML(const std::string& html);
    virtual int getWidth() const;
    virtual void setWidth(int width);
    virtual int getScrollWidth() const;
    virtual int getHeight() const;
    virtual void setHeight(int height);
    virtual int getScrollHeight() const;

    // 0 when the element has no "childNodes".
    virtual int getChildNodeCount() const;
    // Empty when the element has no "childNodes" or no such child.
    virtual ElementPtr getChildNode(int index) const;
    virtual ElementPtr getParentNode() const;

    virtual ElementPtr getElement(const std::string& name) const;
    virtual ElementPtr getElement(int index) const;

    virtual std::string getStringAttribute(const std::string& name) const;
    virtual ElementPtr getElementById(const std::string& id) const;
    // One entry per entry of the page's answer, empty ones included.
    virtual std::vector<ElementPtr> getElementsByTagName(const std::string& tag) const;
    virtual std::vector<ElementPtr> getElementsByTagName(const std::wstring& tag) const;
};

} // namespace DOM
} // namespace FB

#endif
