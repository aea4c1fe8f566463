// A plugin built from the framework with a factory of its own, for the
// framework's tests through the fake browser. Not installed.
//
// The MIME type picks a behaviour of the factory:
//   application/x-fbtest-nocore     no NPAPI plugin object (NPP_New answers 5)
//   application/x-fbtest-throw      the core's construction throws "x" (1)
//   application/x-fbtest-refuse     PluginCreateError "refused" (8)
//   application/x-fbtest-nomemory   std::bad_alloc (5)
//   application/x-fbtest-refusewin  the core refuses its window with a
//                                   script error when it is attached
//   application/x-fbtest-mousecall  on a mouse press the core calls the page
//                                   function of its "onmouse" param, then
//                                   reads the size of the window the press
//                                   came from ("mouse call=<answer>
//                                   window=<width>x<height>", under
//                                   coreJournal)
//   application/x-fbtest-detachcall when detached from its window the core
//                                   journals whether its host is shut down
//                                   and what calling its "ondetach" param gave
//                                   ("detached shutdown=<0|1> call=<answer or
//                                   error text>", under coreJournal)
//   anything else                   a working plugin
// Every root object offers "shared", one scriptable object for the whole
// process (until NP_Shutdown), with the method "echo".
// The root object records what the core saw ("events": attached, detached,
// mouse and key presses, "resized x y w h", "clip top left bottom right")
// and offers methods that exercise values, page objects, worker threads,
// events and streams.
// Streams and downloads are journalled process-wide by id ("journal"), so
// what happens to a stream after its instance is gone can still be read.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "BrowserHost.h"
#include "BrowserStream.h"
#include "BrowserStreamRequest.h"
#include "CrossThreadCall.h"
#include "DOM/Window.h"
#include "FactoryBase.h"
#include "JSAPIAuto.h"
#include "JSObject.h"
#include "NpapiPluginModule.h"
#include "NpapiStream.h"
#include "PluginCore.h"
#include "PluginEvents/AttachedEvent.h"
#include "PluginEvents/DetachedEvent.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/MouseEvents.h"
#include "PluginEvents/StreamEvents.h"
#include "PluginEvents/WindowEvents.h"
#include "PluginWindow.h"
#include "SimpleStreamHelper.h"
#include "URI.h"
#include "method_wrappers.h"
#include "script_error.h"
#include "variant.h"

namespace {

class TestCore;

// What the core saw, shared with its root object (which may outlive it).
struct EventRecord {
    boost::mutex mutex;
    std::vector<std::string> events;
    // Streams the browser opens by itself: taken with a recording sink
    // (journalled under lastUnsolicited) when acceptStreams is set. Main thread.
    bool acceptStreams = false;
    int lastUnsolicited = -1;
    std::vector<FB::PluginEventSinkPtr> sinks;

    void add(const std::string& event)
    {
        boost::mutex::scoped_lock lock(mutex);
        events.push_back(event);
    }
    FB::VariantList list()
    {
        boost::mutex::scoped_lock lock(mutex);
        return FB::VariantList(events.begin(), events.end());
    }
};

// Stream and download records by id, for the whole process.
class Journal {
public:
    static Journal& get()
    {
        static Journal journal;
        return journal;
    }

    int newId()
    {
        boost::mutex::scoped_lock lock(m_mutex);
        return ++m_lastId;
    }
    void add(int id, const std::string& text)
    {
        boost::mutex::scoped_lock lock(m_mutex);
        m_entries[id].push_back(text);
    }
    FB::VariantList entries(int id)
    {
        boost::mutex::scoped_lock lock(m_mutex);
        const std::vector<std::string>& list = m_entries[id];
        return FB::VariantList(list.begin(), list.end());
    }
    void setStream(int id, const FB::BrowserStreamPtr& stream)
    {
        boost::mutex::scoped_lock lock(m_mutex);
        m_streams[id] = stream;
    }
    // Empty once the stream is gone: nothing here keeps it.
    FB::BrowserStreamPtr stream(int id)
    {
        boost::mutex::scoped_lock lock(m_mutex);
        const std::map<int, boost::weak_ptr<FB::BrowserStream> >::const_iterator it = m_streams.find(id);
        return it == m_streams.end() ? FB::BrowserStreamPtr() : it->second.lock();
    }

private:
    boost::mutex m_mutex;
    int m_lastId = 0;
    std::map<int, std::vector<std::string> > m_entries;
    std::map<int, boost::weak_ptr<FB::BrowserStream> > m_streams;
};

std::string fnv1a(const unsigned char* data, size_t size)
{
    boost::uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(hash));
    return text;
}

std::string headerText(const FB::HeaderMap& headers)
{
    std::string text;
    for (const FB::HeaderMap::value_type& header : headers)
        text += "[" + header.first + ": " + header.second + "]";
    return text;
}

// Journals every event of the streams it observes, as text:
//   "created", "opened", "failed open", "data <offset> <length> <progress> <bytes>",
//   "completed <true|false>", "destroyed". Holds no stream. With askSelf it
// also asks the stream for itself at completion, as a sink that keeps its
// stream does, and journals "self" or "no self".
class RecordingSink : public FB::PluginEventSink {
public:
    explicit RecordingSink(int id, bool askSelf = false) : m_id(id), m_askSelf(askSelf) {}

    bool HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource* source) override
    {
        Journal& journal = Journal::get();
        if (dynamic_cast<FB::AttachedEvent*>(evt)) {
            journal.setStream(m_id, FB::streamFromSource(source)->sharedFromThis());
        } else if (dynamic_cast<FB::StreamCreatedEvent*>(evt)) {
            journal.add(m_id, "created");
        } else if (dynamic_cast<FB::StreamOpenedEvent*>(evt)) {
            journal.add(m_id, "opened");
        } else if (dynamic_cast<FB::StreamFailedOpenEvent*>(evt)) {
            journal.add(m_id, "failed open");
        } else if (FB::StreamDataArrivedEvent* data = dynamic_cast<FB::StreamDataArrivedEvent*>(evt)) {
            std::ostringstream text;
            text << "data " << data->offset << " " << data->length << " " << data->progress << " "
                 << std::string(static_cast<const char*>(data->data), data->length);
            journal.add(m_id, text.str());
        } else if (FB::StreamCompletedEvent* done = dynamic_cast<FB::StreamCompletedEvent*>(evt)) {
            journal.add(m_id, done->success ? "completed true" : "completed false");
            if (m_askSelf)
                journal.add(m_id, askSelf(source) ? "self" : "no self");
        } else if (dynamic_cast<FB::StreamDestroyedEvent*>(evt)) {
            journal.add(m_id, "destroyed");
        }
        return false;
    }

private:
    static bool askSelf(FB::PluginEventSource* source)
    {
        try {
            return static_cast<bool>(FB::streamFromSource(source)->sharedFromThis());
        } catch (const boost::bad_weak_ptr&) {
            return false;
        }
    }

    const int m_id;
    const bool m_askSelf;
};

// The download helper's calls, journalled: "progress <percent>" for each
// chunk, then "done success=<flag> size=<n> fnv=<checksum> headers=<[name: value]...>".
FB::HttpCallback journalledCallback(int id)
{
    return [id](bool success, const FB::HeaderMap& headers,
                const boost::shared_array<unsigned char>& data, size_t size, float progress,
                bool finished) {
        std::ostringstream text;
        if (!finished) {
            text << "progress " << progress;
        } else {
            text << "done success=" << (success ? "true" : "false") << " size=" << size
                 << " fnv=" << (success && data ? fnv1a(data.get(), size) : std::string("-"))
                 << " headers=" << headerText(headers);
        }
        Journal::get().add(id, text.str());
    };
}

class Child : public FB::JSAPIAuto {
public:
    Child() : FB::JSAPIAuto("<child>") { addAttribute("kind", FB::variant("child"), true); }
};

// A child whose member listing fails with a script error.
class UnlistableChild : public Child {
public:
    using Child::getMemberNames;
    void getMemberNames(std::vector<std::string>&) const override
    {
        throw FB::script_error("no listing");
    }
};

// One scriptable object for the whole process, the "shared" property of
// every root object, as an application's process-wide object is: its
// function objects reach the pages of several instances at once. Made on
// first use, dropped when the last module goes. Pages store values on its
// function objects only: nothing would let a value stored on the object
// itself go before the module ends, after the browser's last release.
class SharedObject : public FB::JSAPIAuto {
public:
    SharedObject() : FB::JSAPIAuto("<shared>")
    {
        dynamicAttributes = false;
        addMethod("echo", [](const FB::VariantList& args) { return args.empty() ? FB::variant() : args[0]; });
    }

    using FB::JSAPIAuto::addEventHandler;
    void setAttribute(const std::string&, const FB::variant&) override { refuse(); }
    void addEventHandler(const std::string&, const FB::JSObjectPtr&) override { refuse(); }
    void addEventInterface(const FB::JSObjectPtr&) override { refuse(); }

    static FB::JSAPIPtr get()
    {
        Held& held = process();
        boost::mutex::scoped_lock lock(held.mutex);
        if (!held.object)
            held.object = boost::make_shared<SharedObject>();
        return held.object;
    }
    static void drop()
    {
        // Ends after the lock is let go.
        FB::JSAPIPtr last;
        Held& held = process();
        boost::mutex::scoped_lock lock(held.mutex);
        last.swap(held.object);
    }

private:
    static void refuse() { throw FB::script_error("the shared object keeps no page values"); }

    struct Held {
        boost::mutex mutex;
        FB::JSAPIPtr object;
    };
    static Held& process()
    {
        static Held held;
        return held;
    }
};

class TestRoot : public FB::JSAPIAuto {
public:
    TestRoot(const FB::BrowserHostPtr& host, const boost::weak_ptr<FB::PluginCore>& core,
             const boost::shared_ptr<EventRecord>& record, int coreJournal)
        : FB::JSAPIAuto("<test root>"), m_host(host), m_core(core), m_record(record),
          m_coreJournal(coreJournal)
    {
        addMethod("echo", FB::bindMethod(this, &TestRoot::echo));
        addMethod("add", FB::bindMethod(this, &TestRoot::add));
        addMethod("fail", FB::bindMethod(this, &TestRoot::fail));
        addMethod("failStd", FB::bindMethod(this, &TestRoot::failStd));
        addMethod("callPage", FB::bindMethod(this, &TestRoot::callPage));
        addMethod("callPageAsync", FB::bindMethod(this, &TestRoot::callPageAsync));
        addMethod("callPageFromWorker", FB::bindMethod(this, &TestRoot::callPageFromWorker));
        addMethod("hasIndexFromWorker", FB::bindMethod(this, &TestRoot::hasIndexFromWorker));
        addMethod("holdInWorker", FB::bindMethod(this, &TestRoot::holdInWorker));
        addMethod("releaseWorker", FB::bindMethod(this, &TestRoot::releaseWorker));
        addMethod("holdPastDestroy", FB::bindMethod(this, &TestRoot::holdPastDestroy));
        addMethod("callPageAsyncLoop", FB::bindMethod(this, &TestRoot::callPageAsyncLoop));
        addMethod("param", FB::bindMethod(this, &TestRoot::param));
        addMethod("coreJournal", FB::bindMethod(this, &TestRoot::coreJournal));
        addMethod("workerResult", FB::bindMethod(this, &TestRoot::workerResult));
        addMethod("fire", FB::bindMethod(this, &TestRoot::fire));
        addMethod("makeChild", FB::bindMethod(this, &TestRoot::makeChild));
        addMethod("makeUnlistableChild", FB::bindMethod(this, &TestRoot::makeUnlistableChild));
        addMethod("nextChildInPlace", FB::bindMethod(this, &TestRoot::nextChildInPlace));
        addMethod("childInPlace", FB::bindMethod(this, &TestRoot::childInPlace));
        addMethod("heldChild", FB::bindMethod(this, &TestRoot::heldChild));
        addMethod("makeList", FB::bindMethod(this, &TestRoot::makeList));
        addMethod("makeMap", FB::bindMethod(this, &TestRoot::makeMap));
        addMethod("listLength", FB::bindMethod(this, &TestRoot::listLength));
        addMethod("nestedLength", FB::bindMethod(this, &TestRoot::nestedLength));
        addMethod("mapSize", FB::bindMethod(this, &TestRoot::mapSize));
        addMethod("wideNumbers", FB::bindMethod(this, &TestRoot::wideNumbers));
        addMethod("everyHeldType", FB::bindMethod(this, &TestRoot::everyHeldType));
        addMethod("nothing", FB::bindMethod(this, &TestRoot::nothing));
        addMethod("location", FB::bindMethod(this, &TestRoot::location));
        addMethod("events", FB::bindMethod(this, &TestRoot::events));
        addMethod("sameObject", FB::bindMethod(this, &TestRoot::sameObject));
        addMethod("readMember", FB::bindMethod(this, &TestRoot::readMember));
        addMethod("download", FB::bindMethod(this, &TestRoot::download));
        addMethod("post", FB::bindMethod(this, &TestRoot::post));
        addMethod("openStream", FB::bindMethod(this, &TestRoot::openStream));
        addMethod("readRanges", FB::bindMethod(this, &TestRoot::readRanges));
        addMethod("closeStream", FB::bindMethod(this, &TestRoot::closeStream));
        addMethod("streamAlive", FB::bindMethod(this, &TestRoot::streamAlive));
        addMethod("signalStreamData", FB::bindMethod(this, &TestRoot::signalStreamData));
        addMethod("journal", FB::bindMethod(this, &TestRoot::journal));
        addMethod("acceptStreams", FB::bindMethod(this, &TestRoot::acceptStreams));
        addMethod("lastUnsolicited", FB::bindMethod(this, &TestRoot::lastUnsolicited));
        addMethod("proxy", FB::bindMethod(this, &TestRoot::proxy));
        // Lists a setter reads, with no method wrapper around it: set to a
        // list of lists, it reads back the sum of their lengths.
        PropertyAccessors lists;
        lists.getter = [this] { return FB::variant(m_listsLength); };
        lists.setter = [this](const FB::variant& value) {
            m_listsLength = nestedLength(value.convert_cast<FB::VariantList>());
        };
        addProperty("lists", lists);
        PropertyAccessors shared;
        shared.getter = [] { return FB::variant(SharedObject::get()); };
        addProperty("shared", shared);
    }

    ~TestRoot() override
    {
        joinHolder();
        // Callers' workers end once their page call returns or the host
        // shuts down, which happens before a core drops its root.
        for (boost::thread& worker : m_callers)
            joinOrDetach(worker);
    }

    FB::variant echo(const FB::variant& value) { return value; }
    int add(int a, int b)
    {
        const long long sum = static_cast<long long>(a) + b;
        if (sum < INT_MIN || sum > INT_MAX)
            throw FB::script_error("the sum does not fit in an int");
        return static_cast<int>(sum);
    }
    void fail(const std::string& message) { throw FB::script_error(message); }
    void failStd() { throw std::runtime_error("not for the page"); }

    // A page call; a null function (no page object) is refused.
    FB::variant callPage(const FB::JSObjectPtr& func, const FB::variant& arg)
    {
        if (!func)
            throw FB::script_error("no function");
        return func->invoke("", FB::makeVariantList(arg));
    }
    void callPageAsync(const FB::JSObjectPtr& func, const FB::variant& arg)
    {
        required(func)->invokeAsync("", FB::makeVariantList(arg));
    }
    FB::variant readMember(const FB::JSObjectPtr& object, const std::string& name)
    {
        return required(object)->getProperty(name);
    }

    // A worker calls the page function synchronously (carried to the main
    // thread) and keeps the answer or the error text for workerResult.
    void callPageFromWorker(const FB::JSObjectPtr& func, const FB::variant& arg)
    {
        required(func);
        inWorker([func, arg] { return func->invoke("", FB::makeVariantList(arg)).convert_cast<std::string>(); });
    }
    // A worker asks the page object whether it has the index; "true" or
    // "false" for workerResult.
    void hasIndexFromWorker(const FB::JSObjectPtr& object, int index)
    {
        required(object);
        inWorker([object, index] { return std::string(object->hasPropertyByIndex(index) ? "true" : "false"); });
    }
    // Runs ask on a new worker and keeps its answer, or the error text, for
    // workerResult. The worker is not joined here: it may be waiting for
    // this very thread.
    void inWorker(const std::function<std::string()>& ask)
    {
        const boost::shared_ptr<Outcome> outcome(m_outcome = boost::make_shared<Outcome>());
        m_callers.emplace_back([ask, outcome] {
            std::string text;
            try {
                text = ask();
            } catch (const std::exception& e) {
                text = std::string("error: ") + e.what();
            }
            boost::mutex::scoped_lock lock(outcome->mutex);
            outcome->text = text;
            outcome->done = true;
        });
    }
    FB::variant workerResult()
    {
        if (!m_outcome)
            return FB::variant();
        boost::mutex::scoped_lock lock(m_outcome->mutex);
        return m_outcome->done ? FB::variant(m_outcome->text) : FB::variant();
    }

    // A worker holds the page object until releaseWorker; it drops it on
    // the worker thread.
    void holdInWorker(const FB::JSObjectPtr& object)
    {
        joinHolder();
        const boost::shared_ptr<Gate> gate(m_gate = boost::make_shared<Gate>());
        FB::JSObjectPtr held(object);
        m_holder = boost::thread([gate, held]() mutable {
            boost::mutex::scoped_lock lock(gate->mutex);
            while (!gate->open)
                gate->cond.wait(lock);
            held.reset();
        });
    }
    void releaseWorker() { joinHolder(); }

    // A worker that outlives the instance: it holds the page object (and,
    // with holdCore, the plugin core) until a byte arrives on releaseFd (or
    // the pipe closes), drops them on its own thread, then writes a byte to
    // doneFd. The test owns both pipes.
    void holdPastDestroy(const FB::JSObjectPtr& object, int releaseFd, int doneFd, bool holdCore)
    {
        FB::PluginCorePtr core;
        if (holdCore)
            core = m_core.lock();
        FB::JSObjectPtr held(object);
        std::thread([held, core, releaseFd, doneFd]() mutable {
            char byte = 0;
            while (::read(releaseFd, &byte, 1) < 0 && errno == EINTR) {
            }
            held.reset();
            core.reset();
            while (::write(doneFd, "x", 1) < 0 && errno == EINTR) {
            }
        }).detach();
    }

    // A worker schedules calls of the page function (its argument counts up)
    // as fast as it can, until releaseWorker or the root object's end, for at
    // most 30 s.
    void callPageAsyncLoop(const FB::JSObjectPtr& func)
    {
        joinHolder();
        required(func);
        const boost::shared_ptr<Gate> gate(m_gate = boost::make_shared<Gate>());
        m_holder = boost::thread([gate, func] {
            const std::chrono::steady_clock::time_point end =
                std::chrono::steady_clock::now() + std::chrono::seconds(30);
            for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
                {
                    boost::mutex::scoped_lock lock(gate->mutex);
                    if (gate->open)
                        return;
                }
                try {
                    func->invokeAsync("", FB::makeVariantList(i));
                } catch (const std::exception&) {
                    return;
                }
            }
        });
    }

    // The core's parameter (empty when the core or the name is gone).
    FB::variant param(const std::string& name)
    {
        const FB::PluginCorePtr core(m_core.lock());
        return core ? core->getParamVariant(name) : FB::variant();
    }
    // The core's own journal id; -1 for a core that keeps none.
    int coreJournal() { return m_coreJournal; }

    void fire(const std::string& name, const FB::variant& arg)
    {
        fireEvent("on" + name, FB::makeVariantList(arg));
    }
    FB::JSAPIPtr makeChild() { return boost::make_shared<Child>(); }
    FB::JSAPIPtr makeUnlistableChild() { return boost::make_shared<UnlistableChild>(); }
    // A child made anew in one and the same place on every call, handed out
    // weakly: the page meets scriptable objects that follow one another at
    // one address. The earlier child goes first.
    FB::JSAPIWeakPtr nextChildInPlace()
    {
        const boost::weak_ptr<Child> earlier(m_childInPlace);
        m_childInPlace.reset();
        if (!earlier.expired())
            throw FB::script_error("the child in place is still held");
        m_childInPlace.reset(new (m_childPlace) Child, [](Child* child) { child->~Child(); });
        return m_childInPlace;
    }
    // The child nextChildInPlace made last, as it is.
    FB::JSAPIWeakPtr childInPlace() { return m_childInPlace; }
    // One child that lives as long as this object, handed out through its
    // own owner or through a second, independent owner that keeps the first.
    FB::JSAPIPtr heldChild(bool otherOwner)
    {
        if (!m_heldChild)
            m_heldChild = boost::make_shared<Child>();
        if (!otherOwner)
            return m_heldChild;
        const boost::shared_ptr<Child> keep(m_heldChild);
        return FB::JSAPIPtr(keep.get(), [keep](FB::JSAPI*) {});
    }
    FB::VariantList makeList()
    {
        FB::VariantList inner;
        inner.push_back(FB::variant(2));
        FB::VariantList list;
        list.push_back(FB::variant(1));
        list.push_back(FB::variant(inner));
        list.push_back(FB::variant("three"));
        return list;
    }
    // The page's lists and objects as parameters, and lists read inside the
    // method: each entry of lists read as a list in turn.
    int listLength(const FB::VariantList& list) { return static_cast<int>(list.size()); }
    int nestedLength(const FB::VariantList& lists)
    {
        size_t total = 0;
        for (const FB::variant& entry : lists)
            total += entry.convert_cast<FB::VariantList>().size();
        return static_cast<int>(total);
    }
    int mapSize(const FB::VariantMap& map) { return static_cast<int>(map.size()); }
    FB::VariantMap makeMap()
    {
        FB::VariantMap map;
        map["a"] = FB::variant(1);
        map["b"] = FB::variant(std::string("bee"));
        return map;
    }
    FB::VariantList wideNumbers()
    {
        FB::VariantList list;
        list.push_back(FB::variant(7u));
        list.push_back(FB::variant(8000000000LL));
        list.push_back(FB::variant(9));
        return list;
    }
    // One value of each held type the browser binding converts, and one
    // (signed char) that it does not.
    FB::VariantList everyHeldType()
    {
        FB::VariantList list;
        list.push_back(FB::variant(true));
        list.push_back(FB::variant('A'));
        list.push_back(FB::variant(static_cast<unsigned char>(200)));
        list.push_back(FB::variant(static_cast<short>(-300)));
        list.push_back(FB::variant(static_cast<unsigned short>(60000)));
        list.push_back(FB::variant(-7));
        list.push_back(FB::variant(4000000000u));
        list.push_back(FB::variant(-5000000000L));
        list.push_back(FB::variant(6000000000UL));
        list.push_back(FB::variant(-7000000000LL));
        list.push_back(FB::variant(18000000000000000000ULL));
        list.push_back(FB::variant(0.5f));
        list.push_back(FB::variant(2.25));
        list.push_back(FB::variant(std::string("text")));
        list.push_back(FB::variant(std::wstring(L"\u00e9t\u00e9")));
        list.push_back(FB::variant(FB::variant_detail::null()));
        list.push_back(FB::variant(FB::variant_detail::empty()));
        list.push_back(FB::variant(FB::VariantList(1, FB::variant(1))));
        FB::VariantMap map;
        map["k"] = FB::variant(2);
        list.push_back(FB::variant(map));
        list.push_back(FB::variant(FB::JSAPIPtr(boost::make_shared<Child>())));
        list.push_back(FB::variant(FB::JSAPIWeakPtr(shared_from_this())));
        list.push_back(FB::variant(FB::JSAPIPtr()));
        list.push_back(FB::variant(static_cast<signed char>(1)));
        return list;
    }
    FB::variant nothing() { return FB::variant(); }
    std::string location() { return m_host->getDOMWindow()->getLocation(); }
    FB::VariantList events() { return m_record->list(); }
    bool sameObject(const FB::JSObjectPtr& object)
    {
        return object && object->getJSAPI().get() == this;
    }

    // A download into memory (block size 0 asks for the default); answers
    // its journal id. "not opened" is journalled when no stream could be
    // opened.
    int download(const std::string& url, int blockSize)
    {
        const int id = Journal::get().newId();
        const size_t size = blockSize > 0 ? static_cast<size_t>(blockSize) : 0;
        if (!FB::SimpleStreamHelper::asyncGet(m_host, FB::URI::fromString(url), journalledCallback(id),
                                              false, size))
            Journal::get().add(id, "not opened");
        return id;
    }
    // body: {data, headers}, both optional.
    int post(const std::string& url, const FB::VariantMap& body)
    {
        const int id = Journal::get().newId();
        FB::BrowserStreamRequest request(FB::URI::fromString(url), "POST", true);
        request.postData = option(body, "data", std::string());
        request.postHeaders = option(body, "headers", std::string());
        request.callback = journalledCallback(id);
        if (!FB::SimpleStreamHelper::asyncRequest(m_host, request))
            Journal::get().add(id, "not opened");
        return id;
    }
    // A stream read by a recording sink; answers its journal id. options:
    // {seekable, blockSize, askSelf}, all optional (block size 0: the
    // default). Nothing here holds the stream.
    int openStream(const std::string& url, const FB::VariantMap& options)
    {
        const bool seekable = option(options, "seekable", false);
        const int blockSize = option(options, "blockSize", 0);
        const bool askSelf = option(options, "askSelf", false);
        const int id = Journal::get().newId();
        const FB::PluginEventSinkPtr sink(boost::make_shared<RecordingSink>(id, askSelf));
        m_sinks.push_back(sink);
        FB::BrowserStreamRequest request(FB::URI::fromString(url), "GET", true);
        request.sink = sink;
        request.seekable = seekable;
        if (blockSize > 0)
            request.internalBufferSize = static_cast<size_t>(blockSize);
        if (!m_host->createStream(request, true))
            Journal::get().add(id, "not opened");
        return id;
    }
    // ranges: a list of [start, end] pairs.
    bool readRanges(int id, const FB::VariantList& ranges)
    {
        const FB::BrowserStreamPtr stream(Journal::get().stream(id));
        if (!stream)
            return false;
        std::vector<FB::BrowserStream::Range> list;
        for (const FB::variant& range : ranges) {
            const FB::VariantList pair(range.convert_cast<FB::VariantList>());
            list.push_back(FB::BrowserStream::Range(static_cast<size_t>(pair.at(0).convert_cast<long>()),
                                                    static_cast<size_t>(pair.at(1).convert_cast<long>())));
        }
        return stream->readRanges(list);
    }
    bool closeStream(int id)
    {
        const FB::BrowserStreamPtr stream(Journal::get().stream(id));
        return stream && stream->close();
    }
    bool streamAlive(int id) { return Journal::get().stream(id) != FB::BrowserStreamPtr(); }
    // The stream's data signal called straight, as the plugin adapter calls
    // it, for the chunk [offset, length] with a buffer of one byte; answers
    // what the stream took.
    int signalStreamData(int id, const FB::VariantList& chunk)
    {
        const boost::shared_ptr<FB::Npapi::NpapiStream> stream(
            boost::dynamic_pointer_cast<FB::Npapi::NpapiStream>(Journal::get().stream(id)));
        if (!stream)
            throw FB::script_error("no NPAPI stream");
        const std::unique_ptr<char[]> buffer(new char[1]());
        return stream->signalDataArrived(buffer.get(), chunk.at(1).convert_cast<int32_t>(),
                                         chunk.at(0).convert_cast<int32_t>());
    }
    FB::VariantList journal(int id) { return Journal::get().entries(id); }
    void acceptStreams(bool accept) { m_record->acceptStreams = accept; }
    int lastUnsolicited() { return m_record->lastUnsolicited; }
    // The host's proxy answer for the URL, under "answer", with the map it
    // filled; the map starts with "before" so that an untouched map shows.
    FB::VariantMap proxy(const std::string& url)
    {
        std::map<std::string, std::string> settings;
        settings["before"] = "kept";
        const bool answer = m_host->DetectProxySettings(settings, url);
        FB::VariantMap result(settings.begin(), settings.end());
        result["answer"] = answer;
        return result;
    }

private:
    // A page may pass null or undefined where a function or object belongs.
    static const FB::JSObjectPtr& required(const FB::JSObjectPtr& object)
    {
        if (!object)
            throw FB::invalid_arguments("an object is required");
        return object;
    }

    template <typename T>
    static T option(const FB::VariantMap& options, const char* name, const T& fallback)
    {
        const FB::VariantMap::const_iterator it = options.find(name);
        return it == options.end() ? fallback : it->second.convert_cast<T>();
    }

    struct Outcome {
        boost::mutex mutex;
        std::string text;
        bool done = false;
    };
    struct Gate {
        boost::mutex mutex;
        boost::condition_variable cond;
        bool open = false;
    };

    void joinHolder()
    {
        if (m_gate) {
            {
                boost::mutex::scoped_lock lock(m_gate->mutex);
                m_gate->open = true;
            }
            m_gate->cond.notify_all();
            m_gate.reset();
        }
        joinOrDetach(m_holder);
    }

    // A worker may hold the last reference to this object (a page passed
    // the root itself as an argument); it cannot join itself.
    static void joinOrDetach(boost::thread& worker)
    {
        if (!worker.joinable())
            return;
        if (worker.get_id() == boost::this_thread::get_id())
            worker.detach();
        else
            worker.join();
    }

    FB::BrowserHostPtr m_host;
    boost::weak_ptr<FB::PluginCore> m_core;
    boost::shared_ptr<EventRecord> m_record;
    const int m_coreJournal;
    boost::shared_ptr<Outcome> m_outcome;
    boost::shared_ptr<Gate> m_gate;
    boost::thread m_holder;
    std::vector<boost::thread> m_callers;
    std::vector<FB::PluginEventSinkPtr> m_sinks;
    // Storage for nextChildInPlace; the child goes before its storage.
    alignas(Child) unsigned char m_childPlace[sizeof(Child)];
    boost::shared_ptr<Child> m_childInPlace;
    boost::shared_ptr<Child> m_heldChild;
    int m_listsLength = 0;
};

// What a core does beyond recording, picked by the MIME type.
enum class Behaviour { Plain, RefuseWindow, CallPageOnMouse, CallPageOnDetach };

class TestCore : public FB::PluginCore {
public:
    explicit TestCore(Behaviour behaviour)
        : m_behaviour(behaviour), m_record(boost::make_shared<EventRecord>()),
          m_journal(behaviour == Behaviour::CallPageOnDetach || behaviour == Behaviour::CallPageOnMouse
                        ? Journal::get().newId()
                        : -1)
    {
    }

    bool HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource* source) override
    {
        if (dynamic_cast<FB::AttachedEvent*>(evt)) {
            m_record->add("attached");
            if (m_behaviour == Behaviour::RefuseWindow)
                throw FB::script_error("window refused");
        } else if (dynamic_cast<FB::DetachedEvent*>(evt)) {
            m_record->add("detached");
            if (m_behaviour == Behaviour::CallPageOnDetach)
                Journal::get().add(m_journal, "detached shutdown=" +
                                                  std::to_string(getHost()->isShutDown()) +
                                                  " call=" + callParam("ondetach"));
        } else if (FB::MouseDownEvent* down = dynamic_cast<FB::MouseDownEvent*>(evt)) {
            m_record->add("mousedown " + std::to_string(down->button));
            if (m_behaviour == Behaviour::CallPageOnMouse) {
                const FB::PluginWindow* const window = dynamic_cast<FB::PluginWindow*>(source);
                const std::string answer(callParam("onmouse"));
                m_record->add("onmouse " + answer);
                // The window the press came from is still there for the rest
                // of its event, whatever the page did meanwhile.
                Journal::get().add(m_journal, "mouse call=" + answer + " window=" +
                                                  (window ? std::to_string(window->getWindowWidth()) + "x" +
                                                                std::to_string(window->getWindowHeight())
                                                          : std::string("none")));
            }
        } else if (FB::KeyDownEvent* key = dynamic_cast<FB::KeyDownEvent*>(evt)) {
            m_record->add("keydown " + std::to_string(key->nativeKey));
        } else if (FB::PluginWindow* window = dynamic_cast<FB::PluginWindow*>(source)) {
            if (dynamic_cast<FB::ResizedEvent*>(evt)) {
                const FB::Rect at = window->getWindowPosition();
                m_record->add("resized " + std::to_string(at.left) + " " + std::to_string(at.top) +
                              " " + std::to_string(window->getWindowWidth()) + " " +
                              std::to_string(window->getWindowHeight()));
            } else if (dynamic_cast<FB::ClipChangedEvent*>(evt)) {
                const FB::Rect clip = window->getWindowClipping();
                m_record->add("clip " + std::to_string(clip.top) + " " + std::to_string(clip.left) +
                              " " + std::to_string(clip.bottom) + " " + std::to_string(clip.right));
            }
        }
        return false;
    }

    FB::JSAPIPtr createJSAPI() override
    {
        const boost::weak_ptr<FB::PluginCore> self(
            boost::static_pointer_cast<FB::PluginCore>(shared_from_this()));
        return boost::make_shared<TestRoot>(getHost(), self, m_record, m_journal);
    }

    void onUnsolicitedStream(FB::BrowserStreamRequest& request) override
    {
        std::ostringstream text;
        text << "unsolicited " << request.uri.toString(true) << " seekable=" << request.seekable
             << " lastModified=" << request.lastModified << " headers=" << headerText(request.headers);
        m_record->add(text.str());
        if (!m_record->acceptStreams)
            return;
        const int id = Journal::get().newId();
        const FB::PluginEventSinkPtr sink(boost::make_shared<RecordingSink>(id));
        m_record->sinks.push_back(sink);
        m_record->lastUnsolicited = id;
        request.accepted = true;
        request.sink = sink;
    }

    void onPluginReady(bool onloadScheduled) override
    {
        m_record->add(onloadScheduled ? "ready onload" : "ready");
    }

private:
    // Calls the page function a param named; its answer as text, or
    // "error [<text>]".
    std::string callParam(const std::string& name)
    {
        try {
            const FB::JSObjectPtr func(getParamVariant(name).convert_cast<FB::JSObjectPtr>());
            if (!func)
                return "no function";
            return func->invoke("", FB::VariantList()).convert_cast<std::string>();
        } catch (const std::exception& e) {
            return std::string("error [") + e.what() + "]";
        }
    }

    const Behaviour m_behaviour;
    boost::shared_ptr<EventRecord> m_record;
    const int m_journal;
};

class TestFactory : public FB::FactoryBase {
public:
    void globalPluginDeinitialize() override { SharedObject::drop(); }

    FB::PluginCorePtr createPlugin(const std::string& mimetype) override
    {
        if (mimetype == "application/x-fbtest-throw")
            throw std::runtime_error("x");
        if (mimetype == "application/x-fbtest-refuse")
            throw FB::Npapi::PluginCreateError("refused");
        if (mimetype == "application/x-fbtest-nomemory")
            throw std::bad_alloc();
        static const std::map<std::string, Behaviour> behaviours = {
            {"application/x-fbtest-refusewin", Behaviour::RefuseWindow},
            {"application/x-fbtest-mousecall", Behaviour::CallPageOnMouse},
            {"application/x-fbtest-detachcall", Behaviour::CallPageOnDetach},
        };
        const std::map<std::string, Behaviour>::const_iterator found = behaviours.find(mimetype);
        return boost::make_shared<TestCore>(found == behaviours.end() ? Behaviour::Plain
                                                                      : found->second);
    }

    boost::shared_ptr<FB::Npapi::NpapiPlugin>
    createNpapiPlugin(const boost::shared_ptr<FB::Npapi::NpapiBrowserHost>& host,
                      const std::string& mimetype) override
    {
        if (mimetype == "application/x-fbtest-nocore")
            return boost::shared_ptr<FB::Npapi::NpapiPlugin>();
        return FB::FactoryBase::createNpapiPlugin(host, mimetype);
    }
};

} // namespace

FB::FactoryBasePtr sharedFactoryInstance()
{
    static const FB::FactoryBasePtr factory(boost::make_shared<TestFactory>());
    return factory;
}
