// FB::DOM::Document: the page's document - its window, its body and new
// elements. Same thread rules and errors as FB::DOM::Node.
#ifndef FB_DOM_DOCUMENT_H
#define FB_DOM_DOCUMENT_H

#include <string>

#include "Element.h"

namespace FB {
namespace DOM {

class Document : public virtual Element {
public:
    explicit Document(const JSObjectPtr& element);
    ~Document() override;

    virtual WindowPtr getWindow() const;
    virtual ElementPtr getBody() const;
    virtual ElementPtr createElement(const std::string& tag);
};

} // namespace DOM
} // namespace FB

#endif
