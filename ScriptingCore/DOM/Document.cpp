#include "Document.h"

#include "HostWrapped.h"

namespace FB {
namespace DOM {

Document::Document(const JSObjectPtr& element) : Node(element), Element(element) {}

Document::~Document() {}

WindowPtr Document::getWindow() const
{
    return hostWrapped(m_element->getProperty("window").convertToJSObject(),
                       &BrowserHost::wrapWindow);
}

ElementPtr Document::getBody() const
{
    return hostWrapped(m_element->getProperty("body").convertToJSObject(),
                       &BrowserHost::wrapElement);
}

ElementPtr Document::createElement(const std::string& tag)
{
    return hostWrapped(
        m_element->invoke("createElement", makeVariantList(variant(tag))).convertToJSObject(),
        &BrowserHost::wrapElement);
}

} // namespace DOM
} // namespace FB
