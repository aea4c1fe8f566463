// FB::ShareableReference: a counted handle on an object whose lifetime is
// not the handle's own (a browser object freed by the browser).
//
// The owner holds the only strong reference and drops it when it dies;
// others keep weak references and learn from them whether the object still
// exists. Main thread, like the objects it refers to.
#ifndef FB_NPAPI_SHAREABLEREFERENCE_H
#define FB_NPAPI_SHAREABLEREFERENCE_H

#include <boost/enable_shared_from_this.hpp>
#include <boost/noncopyable.hpp>

namespace FB {

template <class T>
class ShareableReference : public boost::enable_shared_from_this<ShareableReference<T> >,
                           private boost::noncopyable {
public:
    explicit ShareableReference(T* object) : m_object(object) {}
    T* getPtr() const { return m_object; }

private:
    T* const m_object;
};

} // namespace FB

#endif
