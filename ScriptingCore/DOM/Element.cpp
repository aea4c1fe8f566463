#include "Element.h"

#include <boost/make_shared.hpp>

#include "../utf8_tools.h"
#include "HostWrapped.h"

namespace FB {
namespace DOM {

namespace {

// getElement's answers are plain elements, made here rather than by a host.
ElementPtr directElement(const JSObjectPtr& object)
{
    if (!object)
        return ElementPtr();
    return boost::make_shared<Element>(object);
}

} // namespace

Element::Element(const JSObjectPtr& element) : Node(element) {}

Element::~Element() {}

ElementPtr Element::create(const JSObjectPtr& element)
{
    return hostWrapped(element, &BrowserHost::wrapElement);
}

std::string Element::getInnerHTML() const
{
    return m_element->getProperty("innerHTML").convertToString();
}

void Element::setInnerHTML(const std::string& html)
{
    setProperty("innerHTML", variant(html));
}

int Element::getWidth() const
{
    return m_element->getProperty("width").convertToInt();
}

void Element::setWidth(int width)
{
    setProperty("width", variant(width));
}

int Element::getScrollWidth() const
{
    return m_element->getProperty("scrollWidth").convertToInt();
}

int Element::getHeight() const
{
    return m_element->getProperty("height").convertToInt();
}

void Element::setHeight(int height)
{
    setProperty("height", variant(height));
}

int Element::getScrollHeight() const
{
    return m_element->getProperty("scrollHeight").convertToInt();
}

int Element::getChildNodeCount() const
{
    const NodePtr children(getNode("childNodes"));
    if (!children)
        return 0;
    return children->getJSObject()->getProperty("length").convertToInt();
}

ElementPtr Element::getChildNode(int index) const
{
    const ElementPtr children(getElement("childNodes"));
    if (!children)
        return ElementPtr();
    return children->getElement(index);
}

ElementPtr Element::getParentNode() const
{
    return getElement("parentNode");
}

ElementPtr Element::getElement(const std::string& name) const
{
    return directElement(m_element->getProperty(name).convertToJSObject());
}

ElementPtr Element::getElement(int index) const
{
    return directElement(m_element->getPropertyByIndex(index).convertToJSObject());
}

std::string Element::getStringAttribute(const std::string& name) const
{
    return m_element->invoke("getAttribute", makeVariantList(variant(name))).convertToString();
}

ElementPtr Element::getElementById(const std::string& id) const
{
    return create(m_element->invoke("getElementById", makeVariantList(variant(id))).convertToJSObject());
}

std::vector<ElementPtr> Element::getElementsByTagName(const std::string& tag) const
{
    const std::vector<JSObjectPtr> objects(
        m_element->invoke("getElementsByTagName", makeVariantList(variant(tag))).convertToObjectList());
    std::vector<ElementPtr> out;
    out.reserve(objects.size());
    for (std::vector<JSObjectPtr>::const_iterator it = objects.begin(); it != objects.end(); ++it)
        out.push_back(hostWrapped(*it, &BrowserHost::wrapElement));
    return out;
}

std::vector<ElementPtr> Element::getElementsByTagName(const std::wstring& tag) const
{
    return getElementsByTagName(wideToUtf8(tag));
}

} // namespace DOM
} // namespace FB
