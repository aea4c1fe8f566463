#include "ScriptDriver.h"

#include <limits>
#include <map>
#include <memory>

#include "FakeBrowser.h"
#include "FuzzInput.h"

namespace fuzz {

namespace {

using namespace fakebrowser;

// Members every framework object offers, and names no object has.
const char* const kCommonNames[] = {"valid", "value", "toString", "getAttribute", "setAttribute",
                                    "getLastException", "addEventListener", "removeEventListener",
                                    "attachEvent", "detachEvent", "length", "", "0", "constructor"};

const size_t kMaxObjects = 24;
const size_t kMaxArguments = 8;
const int kMaxDepth = 3;

// What "length" a page object that is no array may claim: lengths past
// what one call may read, half of it (so that a list of such lists is
// past it), numbers no index reaches, and a few small ones.
const double kClaimedLengths[] = {2147483647.0, 4294967295.0, 65537.0, 32768.0, 1e9,
                                  9007199254740992.0, 1e300, -1e300, -1.0, 1.5, 0.0, 2.0,
                                  std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};

// The reads of one page object that one step (or one call back into the
// plugin from a page function) may cause: what a call may read in all
// (65,536 entries) four times over, room enough for the lengths and names
// read beside the entries and for the driver's own reads. A plugin that
// believes a claimed length reads past it.
const size_t kReadsPerStep = 4 * 65536;

class Driver {
public:
    Driver(const ScriptTarget& target, const uint8_t* data, size_t size)
        : m_target(target), m_in(data, size), m_browser(target.pluginPath)
    {
        for (const std::string& name : target.names)
            m_names.push_back(name);
        for (const char* name : kCommonNames)
            m_names.push_back(name);
    }

    void run()
    {
        m_browser.setCallLogEnabled(false);
        FUZZ_CHECK(m_browser.initialize() == NPERR_NO_ERROR, "NP_Initialize failed");
        const std::string url = m_target.pageUrl(m_in);
        m_instance = &m_browser.createInstance(m_target.mimeType, {}, url);
        if (m_instance->newResult() == NPERR_NO_ERROR) {
            keep(m_instance->scriptableObject());
            keep(m_instance->window());
            for (size_t steps = 0; !m_in.empty() && steps < 64; ++steps)
                step();
        }
        finish();
    }

private:
    void keep(const ObjectRef& object)
    {
        if (!object)
            return;
        if (m_objects.size() < kMaxObjects)
            m_objects.push_back(object);
        else
            m_objects[m_in.below(kMaxObjects - 2) + 2] = object;  // the root and window stay
    }

    void keepResult(const CallResult& result)
    {
        if (result.value.isObject())
            keep(result.value.asObject());
    }

    // A reference of the step's own: making the arguments may replace the
    // pool entry it came from.
    ObjectRef object()
    {
        return m_objects.empty() ? ObjectRef() : m_objects[m_in.below(m_objects.size())];
    }

    NPObject* root() { return m_objects.empty() ? nullptr : m_objects[0].get(); }

    std::string nameText()
    {
        const uint8_t pick = m_in.byte();
        if (pick < 0xe0)
            return m_names[pick % m_names.size()];
        if (pick < 0xe8 && !m_target.laterNames.empty())
            return m_target.laterNames[m_in.below(m_target.laterNames.size())];
        return m_in.text(40);
    }

    NPIdentifier name(std::string* text)
    {
        if (m_in.byte() >= 0xf0) {
            const int32_t index = static_cast<int32_t>(m_in.integral<int16_t>());
            *text = std::to_string(index);
            return intIdentifier(index);
        }
        *text = nameText();
        return stringIdentifier(*text);
    }

    bool forbidden(const std::string& member) const
    {
        for (const std::string& name : m_target.forbiddenNames)
            if (name == member)
                return true;
        return false;
    }

    // Whether a member may run (once more) in this input.
    bool allowed(const std::string& member)
    {
        if (forbidden(member))
            return false;
        for (const std::string& rare : m_target.rareNames)
            if (rare == member)
                return m_rareCalls[member]++ == 0;
        return true;
    }

    bool allowedFunction(NPObject* function)
    {
        const std::map<NPObject*, std::string>::const_iterator it = m_functionNames.find(function);
        return it == m_functionNames.end() || allowed(it->second);
    }

    Value value(int depth)
    {
        switch (m_in.byte() % 12) {
        case 0: return Value();
        case 1: return Value::null();
        case 2: return Value(m_in.flag());
        case 3: return Value(m_in.integral<int32_t>());
        case 4: return Value(static_cast<int32_t>(m_in.byte()) - 8);
        case 5: return Value(m_in.floating<double>());
        case 6: return Value(static_cast<double>(m_in.integral<int16_t>()) / 4);
        case 7:
        case 8: return Value(m_in.text());
        case 9:
            return Value(object());
        case 10: {
            if (depth >= kMaxDepth)
                return Value();
            const std::vector<Value> elements = arguments(depth + 1);
            const ObjectRef made = pageStructure(m_in.byte(), elements);
            keep(made);
            return Value(made);
        }
        default: {
            const ObjectRef function = pageFunction();
            keep(function);
            return Value(function);
        }
        }
    }

    // A page array or plain object made of elements, as the shape byte
    // says: bit 0 an array or an object; bits 1 to 3 claiming a "length" of
    // the table above (1, an object only), holding itself (2), or plain
    // (the elements as entries, or as named properties); bits 4 up pick the
    // length or the names.
    ObjectRef pageStructure(uint8_t shape, const std::vector<Value>& elements)
    {
        const bool array = (shape & 1) != 0;
        const unsigned kind = (shape >> 1) % 8;
        const unsigned pick = shape >> 4;
        const ObjectRef made = array ? m_browser.newArray(elements, m_instance->npp())
                                     : m_browser.newObject(m_instance->npp());
        PageObject* page = asPageObject(made.get());
        if (!array) {
            for (size_t i = 0; i < elements.size(); ++i) {
                const std::string key =
                    kind == 1 ? std::to_string(i) : m_names[(pick + i) % m_names.size()];
                page->properties[key] = elements[i];
            }
            if (kind == 1) {
                const size_t lengths = sizeof kClaimedLengths / sizeof kClaimedLengths[0];
                page->properties["length"] = Value(kClaimedLengths[pick % lengths]);
            }
        }
        if (kind == 2) {
            // A reference of its own: a cycle only the collector breaks.
            if (array)
                page->elements.push_back(Value(made));
            else
                page->properties[pick % 2 ? "self" : m_names[pick % m_names.size()]] = Value(made);
        }
        page->readLimit = kReadsPerStep;
        m_made.push_back(made.get());
        return made;
    }

    std::vector<Value> arguments(int depth)
    {
        std::vector<Value> args;
        const size_t count = m_in.below(kMaxArguments + 1);
        for (size_t i = 0; i < count && depth < kMaxDepth; ++i)
            args.push_back(value(depth));
        return args;
    }

    // A page function: answers an argument, throws, or calls a member of
    // the root again with its own arguments.
    ObjectRef pageFunction()
    {
        const uint8_t kind = m_in.byte() % 4;
        const std::string member = m_target.reentrantNames.empty() || kind != 3
                                       ? std::string()
                                       : m_target.reentrantNames[m_in.below(m_target.reentrantNames.size())];
        const size_t index = m_in.below(4);
        Driver* self = this;
        return m_browser.newFunction(
            [self, kind, member, index](const Value&, const std::vector<Value>& args) -> Value {
                if (kind == 1)
                    throw ScriptError("page function threw");
                if (kind == 3 && !member.empty())
                    return self->reenter(member, args);
                return index < args.size() ? args[index] : Value();
            },
            m_instance->npp());
    }

    Value reenter(const std::string& member, const std::vector<Value>& args)
    {
        NPObject* target = root();
        if (!target || m_depth >= kMaxDepth || !m_instance->alive() || !allowed(member))
            return Value();
        ++m_depth;
        boundReads();
        const CallResult result = m_browser.callMember(target, member, args);
        --m_depth;
        return result.value;
    }

    // A member of an object read as a property: a function object for a
    // method name (and for the framework's extra members).
    ObjectRef functionObject(const ObjectRef& target, std::string* member)
    {
        *member = nameText();
        if (!target || forbidden(*member))
            return ObjectRef();
        const CallResult result = m_browser.getProperty(target.get(), stringIdentifier(*member));
        if (!result.value.isObject())
            return ObjectRef();
        m_functionNames[result.value.object()] = *member;
        keep(result.value.asObject());
        return result.value.asObject();
    }

    // The page stores a value on a function object the plugin handed out:
    // often the object the function came from, which holds the function.
    void storeOnFunction()
    {
        const ObjectRef target = object();
        std::string member, attribute;
        const ObjectRef function = functionObject(target, &member);
        const NPIdentifier id = name(&attribute);
        const Value v = m_in.flag() ? Value(target) : value(0);
        if (function)
            m_browser.setProperty(function.get(), id, v);
    }

    // "apply" of a function object with a page list (or anything), or
    // "call" with the arguments one by one.
    void applyFunction()
    {
        const ObjectRef target = object();
        std::string member;
        const ObjectRef function = functionObject(target, &member);
        const bool apply = m_in.flag();
        std::vector<Value> args;
        args.push_back(value(0));
        if (apply) {
            args.push_back(value(0));
        } else {
            for (const Value& v : arguments(0))
                args.push_back(v);
        }
        if (function && allowed(member))
            keepResult(m_browser.callMember(function.get(), apply ? "apply" : "call", args));
    }

    // Each step may read a page object a bounded number of times more.
    void boundReads()
    {
        std::vector<NPObject*> live;
        for (NPObject* made : m_made) {
            if (!m_browser.objects().knows(made))
                continue;
            // The address may hold another page object by now: bounded too.
            if (PageObject* page = asPageObject(made))
                page->readLimit = page->reads + kReadsPerStep;
            live.push_back(made);
        }
        m_made.swap(live);
    }

    void step()
    {
        boundReads();
        std::string member;
        switch (m_in.byte() % 14) {
        case 0:
        case 1: {
            const ObjectRef target = object();
            NPObject* o = target.get();
            const NPIdentifier id = name(&member);
            const std::vector<Value> args = arguments(0);
            if (o && allowed(member))
                keepResult(m_browser.invoke(o, id, args));
            break;
        }
        case 2:
        case 3: {
            const ObjectRef target = object();
            NPObject* o = target.get();
            member = nameText();
            const std::vector<Value> args = arguments(0);
            if (o && allowed(member))
                keepResult(m_browser.callMember(o, member, args));
            break;
        }
        case 4: {
            const ObjectRef target = object();
            NPObject* o = target.get();
            const std::vector<Value> args = arguments(0);
            if (o && allowedFunction(o))
                keepResult(m_browser.invokeDefault(o, args));
            break;
        }
        case 5: {
            const ObjectRef target = object();
            NPObject* o = target.get();
            const NPIdentifier id = name(&member);
            if (!o || forbidden(member))
                break;
            const CallResult result = m_browser.getProperty(o, id);
            if (result.value.isObject())
                m_functionNames[result.value.object()] = member;
            keepResult(result);
            break;
        }
        case 6: {
            const ObjectRef target = object();
            NPObject* o = target.get();
            const NPIdentifier id = name(&member);
            const Value v = value(0);
            if (o)
                m_browser.setProperty(o, id, v);
            break;
        }
        case 7: {
            const ObjectRef target = object();
            NPObject* o = target.get();
            const NPIdentifier id = name(&member);
            if (o)
                m_browser.removeProperty(o, id);
            break;
        }
        case 8: {
            const ObjectRef target = object();
            NPObject* o = target.get();
            const NPIdentifier id = name(&member);
            if (o) {
                m_browser.hasMethod(o, id);
                m_browser.hasProperty(o, id);
            }
            break;
        }
        case 9: {
            const ObjectRef target = object();
            NPObject* o = target.get();
            std::vector<std::string> names;
            if (o)
                m_browser.enumerate(o, &names);
            break;
        }
        case 10: {
            const ObjectRef target = object();
            NPObject* o = target.get();
            const std::vector<Value> args = arguments(0);
            if (o)
                keepResult(m_browser.construct(o, args));
            break;
        }
        case 11:
            m_browser.runAsyncCalls();
            m_browser.runTimers(m_in.byte() * 4u);
            break;
        case 12:
            if (m_objects.size() > 2)
                m_objects.erase(m_objects.begin() + 2 + static_cast<std::ptrdiff_t>(m_in.below(m_objects.size() - 2)));
            break;
        default: {
            const uint8_t pick = m_in.byte();
            // A page removes the plugin element but keeps its objects.
            if (pick < 0x10 && m_instance->alive())
                m_instance->destroy();
            else if (pick < 0x18)
                storeOnFunction();
            else if (pick < 0x20)
                applyFunction();
            break;
        }
        }
    }

    void finish()
    {
        m_objects.clear();
        endSession(m_browser, m_instance);
    }

    const ScriptTarget& m_target;
    FuzzInput m_in;
    FakeBrowser m_browser;
    Instance* m_instance = nullptr;
    std::vector<ObjectRef> m_objects;
    // The page arrays and objects the driver made, for their read bounds;
    // not held: they go when the page and the plugin let them go.
    std::vector<NPObject*> m_made;
    std::vector<std::string> m_names;
    std::map<std::string, int> m_rareCalls;
    std::map<NPObject*, std::string> m_functionNames;
    int m_depth = 0;
};

} // namespace

void runScriptProgram(const ScriptTarget& target, const uint8_t* data, size_t size)
{
    Driver(target, data, size).run();
}

void endSession(FakeBrowser& browser, Instance* instance)
{
    if (instance && instance->alive())
        instance->destroy();
    // Page objects may hold each other (and the plugin's objects) in cycles
    // that only a script engine's collector would free.
    for (const ObjectRecord& record : browser.objects().snapshot())
        if (browser.objects().knows(record.object))
            if (PageObject* page = asPageObject(record.object))
                page->clear();
    browser.shutdown();
    const std::string problems = browser.ledgerProblems();
    FUZZ_CHECK(problems.empty(), problems);
}

} // namespace fuzz
