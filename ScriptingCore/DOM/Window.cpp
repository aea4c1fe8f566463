#include "Window.h"

#include "../utf8_tools.h"
#include "HostWrapped.h"

namespace FB {
namespace DOM {

Window::Window(const JSObjectPtr& element) : Node(element) {}

Window::~Window() {}

DocumentPtr Window::getDocument() const
{
    return hostWrapped(m_element->getProperty("document").convertToJSObject(),
                       &BrowserHost::wrapDocument);
}

void Window::alert(const std::string& message)
{
    m_element->invoke("alert", makeVariantList(variant(message)));
}

void Window::alert(const std::wstring& message)
{
    alert(wideToUtf8(message));
}

JSObjectPtr Window::createArray()
{
    return m_element->invoke("Array", VariantList()).convertToJSObject();
}

JSObjectPtr Window::createObject()
{
    return m_element->invoke("Object", VariantList()).convertToJSObject();
}

std::string Window::getLocation() const
{
    const NodePtr location(getNode("location"));
    if (!location)
        return std::string();
    return location->getJSObject()->getProperty("href").convertToString();
}

} // namespace DOM
} // namespace FB
