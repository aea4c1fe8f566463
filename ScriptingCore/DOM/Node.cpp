#include "Node.h"

#include "../utf8_tools.h"
#include "HostWrapped.h"

namespace FB {
namespace DOM {

Node::Node(const JSObjectPtr& element) : m_element(element) {}

Node::~Node() {}

JSObjectPtr Node::getJSObject() const
{
    return m_element;
}

NodePtr Node::getNode(const std::wstring& name) const
{
    return getNode(wideToUtf8(name));
}

NodePtr Node::getNode(const std::string& name) const
{
    return hostWrapped(m_element->getProperty(name).convertToJSObject(), &BrowserHost::wrapNode);
}

NodePtr Node::getNode(int index) const
{
    return hostWrapped(m_element->getPropertyByIndex(index).convertToJSObject(),
                       &BrowserHost::wrapNode);
}

void Node::setProperty(const std::wstring& name, const variant& value)
{
    setProperty(wideToUtf8(name), value);
}

void Node::setProperty(const std::string& name, const variant& value)
{
    m_element->setProperty(name, value);
}

void Node::setProperty(int index, const variant& value)
{
    m_element->setPropertyByIndex(index, value);
}

NodePtr Node::appendChild(const NodePtr& node)
{
    // An empty child reference is stored as the null marker.
    const variant child(node ? node->getJSObject() : JSObjectPtr());
    return hostWrapped(m_element->invoke("appendChild", makeVariantList(child)).convertToJSObject(),
                       &BrowserHost::wrapNode);
}

} // namespace DOM
} // namespace FB
