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
//   anything else                   a working plugin
// The root object records what the core saw ("events") and offers methods
// that exercise values, page objects, worker threads and events.
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "CrossThreadCall.h"
#include "DOM/Window.h"
#include "FactoryBase.h"
#include "JSAPIAuto.h"
#include "JSObject.h"
#include "NpapiPluginModule.h"
#include "PluginCore.h"
#include "PluginEvents/AttachedEvent.h"
#include "PluginEvents/DetachedEvent.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/MouseEvents.h"
#include "method_wrappers.h"
#include "script_error.h"
#include "variant.h"

namespace {

class TestCore;

// What the core saw, shared with its root object (which may outlive it).
struct EventRecord {
    boost::mutex mutex;
    std::vector<std::string> events;

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

class Child : public FB::JSAPIAuto {
public:
    Child() : FB::JSAPIAuto("<child>") { addAttribute("kind", FB::variant("child"), true); }
};

class TestRoot : public FB::JSAPIAuto {
public:
    TestRoot(const FB::BrowserHostPtr& host, const boost::shared_ptr<EventRecord>& record)
        : FB::JSAPIAuto("<test root>"), m_host(host), m_record(record)
    {
        addMethod("echo", FB::bindMethod(this, &TestRoot::echo));
        addMethod("add", FB::bindMethod(this, &TestRoot::add));
        addMethod("fail", FB::bindMethod(this, &TestRoot::fail));
        addMethod("failStd", FB::bindMethod(this, &TestRoot::failStd));
        addMethod("callPage", FB::bindMethod(this, &TestRoot::callPage));
        addMethod("callPageAsync", FB::bindMethod(this, &TestRoot::callPageAsync));
        addMethod("callPageFromWorker", FB::bindMethod(this, &TestRoot::callPageFromWorker));
        addMethod("holdInWorker", FB::bindMethod(this, &TestRoot::holdInWorker));
        addMethod("releaseWorker", FB::bindMethod(this, &TestRoot::releaseWorker));
        addMethod("workerResult", FB::bindMethod(this, &TestRoot::workerResult));
        addMethod("fire", FB::bindMethod(this, &TestRoot::fire));
        addMethod("makeChild", FB::bindMethod(this, &TestRoot::makeChild));
        addMethod("makeList", FB::bindMethod(this, &TestRoot::makeList));
        addMethod("makeMap", FB::bindMethod(this, &TestRoot::makeMap));
        addMethod("wideNumbers", FB::bindMethod(this, &TestRoot::wideNumbers));
        addMethod("nothing", FB::bindMethod(this, &TestRoot::nothing));
        addMethod("location", FB::bindMethod(this, &TestRoot::location));
        addMethod("events", FB::bindMethod(this, &TestRoot::events));
        addMethod("sameObject", FB::bindMethod(this, &TestRoot::sameObject));
        addMethod("readMember", FB::bindMethod(this, &TestRoot::readMember));
    }

    ~TestRoot() override { joinWorker(); }

    FB::variant echo(const FB::variant& value) { return value; }
    int add(int a, int b) { return a + b; }
    void fail(const std::string& message) { throw FB::script_error(message); }
    void failStd() { throw std::runtime_error("not for the page"); }

    FB::variant callPage(const FB::JSObjectPtr& func, const FB::variant& arg)
    {
        return func->invoke("", FB::makeVariantList(arg));
    }
    void callPageAsync(const FB::JSObjectPtr& func, const FB::variant& arg)
    {
        func->invokeAsync("", FB::makeVariantList(arg));
    }
    FB::variant readMember(const FB::JSObjectPtr& object, const std::string& name)
    {
        return object->getProperty(name);
    }

    // A worker calls the page function synchronously (carried to the main
    // thread) and keeps the answer or the error text for workerResult.
    void callPageFromWorker(const FB::JSObjectPtr& func, const FB::variant& arg)
    {
        joinWorker();
        const boost::shared_ptr<Outcome> outcome(m_outcome = boost::make_shared<Outcome>());
        m_worker = boost::thread([func, arg, outcome] {
            std::string text;
            try {
                text = func->invoke("", FB::makeVariantList(arg)).convert_cast<std::string>();
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
        joinWorker();
        const boost::shared_ptr<Gate> gate(m_gate = boost::make_shared<Gate>());
        FB::JSObjectPtr held(object);
        m_worker = boost::thread([gate, held]() mutable {
            boost::mutex::scoped_lock lock(gate->mutex);
            while (!gate->open)
                gate->cond.wait(lock);
            held.reset();
        });
    }
    void releaseWorker() { joinWorker(); }

    void fire(const std::string& name, const FB::variant& arg)
    {
        fireEvent("on" + name, FB::makeVariantList(arg));
    }
    FB::JSAPIPtr makeChild() { return boost::make_shared<Child>(); }
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
    FB::variant nothing() { return FB::variant(); }
    std::string location() { return m_host->getDOMWindow()->getLocation(); }
    FB::VariantList events() { return m_record->list(); }
    bool sameObject(const FB::JSObjectPtr& object)
    {
        return object && object->getJSAPI().get() == this;
    }

private:
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

    void joinWorker()
    {
        if (m_gate) {
            {
                boost::mutex::scoped_lock lock(m_gate->mutex);
                m_gate->open = true;
            }
            m_gate->cond.notify_all();
            m_gate.reset();
        }
        if (m_worker.joinable())
            m_worker.join();
    }

    FB::BrowserHostPtr m_host;
    boost::shared_ptr<EventRecord> m_record;
    boost::shared_ptr<Outcome> m_outcome;
    boost::shared_ptr<Gate> m_gate;
    boost::thread m_worker;
};

class TestCore : public FB::PluginCore {
public:
    explicit TestCore(bool refuseWindow)
        : m_refuseWindow(refuseWindow), m_record(boost::make_shared<EventRecord>())
    {
    }

    bool HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource*) override
    {
        if (dynamic_cast<FB::AttachedEvent*>(evt)) {
            m_record->add("attached");
            if (m_refuseWindow)
                throw FB::script_error("window refused");
        } else if (dynamic_cast<FB::DetachedEvent*>(evt)) {
            m_record->add("detached");
        } else if (FB::MouseDownEvent* down = dynamic_cast<FB::MouseDownEvent*>(evt)) {
            m_record->add("mousedown " + std::to_string(down->button));
        } else if (FB::KeyDownEvent* key = dynamic_cast<FB::KeyDownEvent*>(evt)) {
            m_record->add("keydown " + std::to_string(key->nativeKey));
        }
        return false;
    }

    FB::JSAPIPtr createJSAPI() override
    {
        return boost::make_shared<TestRoot>(getHost(), m_record);
    }

    void onPluginReady(bool onloadScheduled) override
    {
        m_record->add(onloadScheduled ? "ready onload" : "ready");
    }

private:
    const bool m_refuseWindow;
    boost::shared_ptr<EventRecord> m_record;
};

class TestFactory : public FB::FactoryBase {
public:
    FB::PluginCorePtr createPlugin(const std::string& mimetype) override
    {
        if (mimetype == "application/x-fbtest-throw")
            throw std::runtime_error("x");
        if (mimetype == "application/x-fbtest-refuse")
            throw FB::Npapi::PluginCreateError("refused");
        if (mimetype == "application/x-fbtest-nomemory")
            throw std::bad_alloc();
        return boost::make_shared<TestCore>(mimetype == "application/x-fbtest-refusewin");
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
