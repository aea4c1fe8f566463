// Forward declarations and owning pointer types of the DOM wrappers.
// An empty pointer means no such object. Plain declarations; any thread.
#ifndef FB_DOM_DOMTYPES_H
#define FB_DOM_DOMTYPES_H

#include <boost/shared_ptr.hpp>

namespace FB {
namespace DOM {

class Node;
class Element;
class Document;
class Window;

typedef boost::shared_ptr<Node> NodePtr;
typedef boost::shared_ptr<Element> ElementPtr;
typedef boost::shared_ptr<Document> DocumentPtr;
typedef boost::shared_ptr<Window> WindowPtr;

} // namespace DOM
} // namespace FB

#endif
