// FB::DOM::Window: the page's window - its document, alerts, new script
// arrays and objects, and the page address. Same thread rules and errors as
// FB::DOM::Node.
#ifndef FB_DOM_WINDOW_H
#define FB_DOM_WINDOW_H

#include <string>

#include "Node.h"

namespace FB {
namespace DOM {

class Window : public virtual Node {
public:
    explicit Window(const JSObjectPtr& element);
    ~Window() override;

    virtual DocumentPtr getDocument() const;
    virtual void alert(const std::string& message);
    virtual void alert(const std::wstring& message);
    // New page objects, not wrapped.
    virtual JSObjectPtr createArray();
    virtual JSObjectPtr createObject();
    // The "href" of the window's "location" as written; empty when the
    // window has no location.
    virtual std::string getLocation() const;
};

} // namespace DOM
} // namespace FB

#endif
