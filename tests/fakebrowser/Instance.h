// fakebrowser::Instance: one plugin instance on one small page, created by
// FakeBrowser::createInstance and owned by the FakeBrowser until it goes.
//
// The page is made before NPP_New, as a browser loads the page before it
// instantiates the plugin: a window with "location" (whose "href" is the
// page's address), "document", the native constructors "Array" and "Object",
// optionally "console" (whose "log" records its messages), and the plugin
// element. The NPP_t, the <param> arrays and the last NPWindow stay valid as
// long as the FakeBrowser, so stale pointers in the plugin stay recognisable.
// Main thread of the FakeBrowser only.
#ifndef FAKEBROWSER_INSTANCE_H
#define FAKEBROWSER_INSTANCE_H

#include <memory>
#include <string>
#include <vector>

#include "BrowserStreams.h"
#include "NpapiAbi.h"
#include "Value.h"

namespace fakebrowser {

// One <param> (or attribute) as the browser passes it; either may be null.
struct Param {
    const char* name;
    const char* value;
};

class Instance {
public:
    Instance(FakeBrowser& browser, const std::string& mimeType, const std::vector<Param>& params,
             const std::string& pageUrl);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    NPP npp() { return &m_npp; }
    const std::string& mimeType() const { return m_mimeType; }
    const std::string& pageUrl() const { return m_pageUrl; }
    // NPP_New's answer; the instance lives when it was 0 and NPP_Destroy has not run.
    NPError newResult() const { return m_newResult; }
    bool alive() const { return m_newResult == NPERR_NO_ERROR && !m_creating && !m_destroyed; }
    bool destroyed() const { return m_destroyed; }
    // The plugin may call the browser for this instance: inside NPP_New, and
    // from a successful NPP_New until NPP_Destroy has returned.
    bool usable() const { return m_creating || alive(); }

    // The page.
    const ObjectRef& window() const { return m_window; }
    const ObjectRef& document() const { return m_document; }
    const ObjectRef& location() const { return m_location; }
    const ObjectRef& element() const { return m_element; }
    // Adds window.console with a recording "log" method.
    void addConsole();
    const std::vector<std::string>& consoleMessages() const { return m_consoleMessages; }
    // Scripts given to NPN_Evaluate for this instance, in order.
    const std::vector<std::string>& scripts() const { return m_scripts; }

    // Plugin calls, each through the plugin's function table; each answers
    // NPERR_INVALID_INSTANCE_ERROR (event: 0) without calling when the
    // instance is not usable or the plugin left the entry empty.
    // setWindow keeps a copy of the NPWindow for the plugin; its ws_info must
    // stay valid as long as the plugin may read it.
    NPError setWindow(const NPWindow& window);
    const NPWindow& lastWindow() const { return m_window_struct; }
    NPError destroy();
    NPError getValue(NPPVariable variable, void* value);
    NPError setValue(NPNVariable variable, void* value);
    int16_t handleEvent(void* event);
    // NPP_GetValue(NPPVariable pluginScriptableNPObject): the reference the
    // plugin hands over becomes the test's (an ObjectRef); empty on failure.
    ObjectRef scriptableObject(NPError* error = nullptr);

    // Streams, as the browser drives them. newStream makes a stream record
    // (kept as long as the FakeBrowser) and calls NPP_NewStream with it; it
    // answers null, with the error in *result, when the instance cannot be
    // called. The calls on a record answer like the calls above, and -1 for
    // byte counts; calls on a record after its NPP_DestroyStream, or after
    // NPP_NewStream failed, record a violation, as no browser makes them.
    StreamRecord* newStream(const StreamSpec& spec, NPError* result, uint16_t* streamType = nullptr);
    int32_t writeReady(StreamRecord& stream);
    // NPP_Write with a buffer of exactly max(len, 0) bytes copied from data
    // (never read for len <= 0), so a read past it is caught by AddressSanitizer.
    int32_t write(StreamRecord& stream, int32_t offset, int32_t len, const void* data);
    int32_t write(StreamRecord& stream, int32_t offset, const std::string& data)
    {
        return write(stream, offset, static_cast<int32_t>(data.size()), data.data());
    }
    // NPP_Write of a chunk announced as len bytes of which the buffer holds
    // only held (a chunk too large to hold, of which the plugin may take no
    // more than its NPP_WriteReady answer); a read past held is caught by
    // AddressSanitizer.
    int32_t writePartlyHeld(StreamRecord& stream, int32_t offset, int32_t len, const std::string& held);
    // As a browser delivers a body from offset: NPP_WriteReady, then an
    // NPP_Write of at most that many bytes, until the body is taken or the
    // plugin takes nothing more. Answers the bytes taken; *writes counts
    // the NPP_Write calls.
    std::size_t deliver(StreamRecord& stream, const std::string& body, int32_t offset = 0,
                        std::size_t* writes = nullptr);
    void streamAsFile(StreamRecord& stream, const char* fileName);
    NPError destroyStream(StreamRecord& stream, NPReason reason);
    void urlNotify(const std::string& url, NPReason reason, void* notifyData);
    // The record of an NPStream this instance's browser made, or null.
    StreamRecord* findStream(NPStream* stream);

private:
    friend class FakeBrowser;
    friend struct BrowserFunctions;

    void create(uint16_t mode);
    void defineHelper(const std::string& name);
    bool streamUsable(StreamRecord& stream, const char* call);
    // NPP_Write of len with a buffer of exactly size bytes copied from data.
    int32_t writeBuffer(StreamRecord& stream, int32_t offset, int32_t len, const void* data, std::size_t size);

    FakeBrowser& m_browser;
    NPP_t m_npp{};
    std::string m_mimeType;
    std::string m_pageUrl;
    std::vector<std::unique_ptr<char[]>> m_strings;  // the <param> texts
    std::vector<char*> m_argn;
    std::vector<char*> m_argv;
    NPError m_newResult = NPERR_GENERIC_ERROR;
    bool m_creating = false;
    bool m_destroyed = false;
    NPWindow m_window_struct{};
    std::vector<std::unique_ptr<StreamRecord>> m_streams;

    ObjectRef m_window;
    ObjectRef m_document;
    ObjectRef m_location;
    ObjectRef m_element;
    std::vector<std::string> m_consoleMessages;
    std::vector<std::string> m_scripts;
};

} // namespace fakebrowser

#endif
