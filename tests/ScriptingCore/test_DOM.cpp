// The DOM wrappers over the fake page: window, document, elements, nodes and
// the window's location, with the host deciding the wrapper classes.
#include <climits>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>
#include <gtest/gtest.h>

#include "DOM/Document.h"
#include "DOM/Element.h"
#include "DOM/Node.h"
#include "DOM/Window.h"
#include "FakeBrowserHost.h"
#include "bad_variant_cast.h"
#include "script_error.h"

using testbed::FakeBrowserHost;
using testbed::FakePageObject;
using testbed::FakePageObjectPtr;

namespace {

// Wrappers made by the host are of these classes, so a test can tell them
// from the plain elements that getElement makes itself.
class HostElement : public FB::DOM::Element {
public:
    explicit HostElement(const FB::JSObjectPtr& object) : FB::DOM::Node(object), FB::DOM::Element(object) {}
};
class HostNode : public FB::DOM::Node {
public:
    explicit HostNode(const FB::JSObjectPtr& object) : FB::DOM::Node(object) {}
};

class WrappingHost : public FakeBrowserHost {
public:
    FB::DOM::ElementPtr wrapElement(const FB::JSObjectPtr& object) override
    {
        ++elementWraps;
        return boost::make_shared<HostElement>(object);
    }
    FB::DOM::NodePtr wrapNode(const FB::JSObjectPtr& object) override
    {
        ++nodeWraps;
        return boost::make_shared<HostNode>(object);
    }
    FB::DOM::DocumentPtr wrapDocument(const FB::JSObjectPtr& object) override
    {
        ++documentWraps;
        return FakeBrowserHost::wrapDocument(object);
    }
    FB::DOM::WindowPtr wrapWindow(const FB::JSObjectPtr& object) override
    {
        ++windowWraps;
        return FakeBrowserHost::wrapWindow(object);
    }
    int elementWraps = 0;
    int nodeWraps = 0;
    int documentWraps = 0;
    int windowWraps = 0;
};

FB::variant object(const FakePageObjectPtr& o)
{
    return FB::variant(FB::JSObjectPtr(o));
}

FB::variant null()
{
    return FB::variant(FB::variant_detail::null());
}

bool madeByHost(const FB::DOM::ElementPtr& e)
{
    return boost::dynamic_pointer_cast<HostElement>(e) != nullptr;
}

class DOMTest : public ::testing::Test {
protected:
    void TearDown() override { host->shutdown(); }

    // A method of o that records its arguments and answers answer.
    void answers(const FakePageObjectPtr& o, const std::string& name, const FB::variant& answer)
    {
        o->method(name, [answer](const FB::VariantList&) { return answer; });
    }

    // An array-like page object with the given entries.
    FakePageObjectPtr array(const std::vector<FB::variant>& entries)
    {
        FakePageObjectPtr a = host->newObject();
        a->set("length", FB::variant(static_cast<int>(entries.size())));
        for (size_t i = 0; i < entries.size(); ++i)
            a->setIndex(static_cast<int>(i), entries[i]);
        return a;
    }

    boost::shared_ptr<WrappingHost> host = FakeBrowserHost::createAs<WrappingHost>();
    FakePageObjectPtr elementObject = host->newObject();
    FB::DOM::ElementPtr element = boost::make_shared<FB::DOM::Element>(elementObject);
};

// Window.

TEST_F(DOMTest, TheHostHandsOutItsPageWindowDocumentAndElement)
{
    EXPECT_EQ(FB::JSObjectPtr(host->window()), host->getDOMWindow()->getJSObject());
    EXPECT_EQ(FB::JSObjectPtr(host->document()), host->getDOMDocument()->getJSObject());
    EXPECT_EQ(FB::JSObjectPtr(host->element()), host->getDOMElement()->getJSObject());
}

TEST_F(DOMTest, TheWindowsLocationIsItsHrefAsWritten)
{
    FakePageObjectPtr location = host->newObject();
    location->set("href", FB::variant("https://WWW.Example.com/a%20b?x=1#top"));
    host->window()->set("location", object(location));
    const int nodeWraps = host->nodeWraps;
    EXPECT_EQ("https://WWW.Example.com/a%20b?x=1#top", host->getDOMWindow()->getLocation());
    EXPECT_EQ(nodeWraps + 1, host->nodeWraps) << "location is read as a node made by the host";
}

TEST_F(DOMTest, AWindowWithoutLocationHasTheEmptyAddress)
{
    EXPECT_EQ("", host->getDOMWindow()->getLocation());
    host->window()->set("location", null());
    EXPECT_EQ("", host->getDOMWindow()->getLocation());
}

TEST_F(DOMTest, ALocationWhoseHrefIsNoTextFails)
{
    FakePageObjectPtr location = host->newObject();
    location->set("href", FB::variant(FB::VariantList()));
    host->window()->set("location", object(location));
    EXPECT_THROW(host->getDOMWindow()->getLocation(), FB::bad_variant_cast);
}

TEST_F(DOMTest, TheWindowsDocumentIsMadeByTheHost)
{
    const int wraps = host->documentWraps;
    FB::DOM::DocumentPtr document = host->getDOMWindow()->getDocument();
    ASSERT_TRUE(document);
    EXPECT_EQ(FB::JSObjectPtr(host->document()), document->getJSObject());
    EXPECT_EQ(wraps + 1, host->documentWraps);
    host->window()->set("document", FB::variant());
    EXPECT_FALSE(host->getDOMWindow()->getDocument());
}

TEST_F(DOMTest, AlertCallsThePageWithTheTextInBothForms)
{
    answers(host->window(), "alert", FB::variant(true));
    FB::DOM::WindowPtr window = host->getDOMWindow();
    window->alert("hello");
    window->alert(std::wstring(L"caf\u00e9"));
    const auto alerts = host->window()->callsOf("invoke", "alert");
    ASSERT_EQ(2u, alerts.size());
    EXPECT_EQ("hello", alerts[0].args.at(0).cast<std::string>());
    EXPECT_EQ("caf\xc3\xa9", alerts[1].args.at(0).cast<std::string>());
}

TEST_F(DOMTest, NewArraysAndObjectsArePageObjectsNotWrappers)
{
    FakePageObjectPtr newArray = host->newObject();
    FakePageObjectPtr newObject = host->newObject();
    answers(host->window(), "Array", object(newArray));
    answers(host->window(), "Object", object(newObject));
    FB::DOM::WindowPtr window = host->getDOMWindow();
    const int wraps = host->nodeWraps + host->elementWraps;
    EXPECT_EQ(FB::JSObjectPtr(newArray), window->createArray());
    EXPECT_EQ(FB::JSObjectPtr(newObject), window->createObject());
    EXPECT_EQ(wraps, host->nodeWraps + host->elementWraps);
    EXPECT_TRUE(host->window()->callsOf("invoke", "Array").at(0).args.empty());

    answers(host->window(), "Object", null());
    EXPECT_FALSE(window->createObject());
}

// Document.

TEST_F(DOMTest, TheDocumentsBodyWindowAndNewElementsAreMadeByTheHost)
{
    FakePageObjectPtr body = host->newObject();
    FakePageObjectPtr div = host->newObject();
    host->document()->set("body", object(body));
    host->document()->set("window", object(host->window()));
    answers(host->document(), "createElement", object(div));
    FB::DOM::DocumentPtr document = host->getDOMDocument();

    FB::DOM::ElementPtr bodyElement = document->getBody();
    EXPECT_TRUE(madeByHost(bodyElement));
    EXPECT_EQ(FB::JSObjectPtr(body), bodyElement->getJSObject());

    const int windowWraps = host->windowWraps;
    EXPECT_EQ(FB::JSObjectPtr(host->window()), document->getWindow()->getJSObject());
    EXPECT_EQ(windowWraps + 1, host->windowWraps);

    FB::DOM::ElementPtr created = document->createElement("div");
    EXPECT_TRUE(madeByHost(created));
    EXPECT_EQ(FB::JSObjectPtr(div), created->getJSObject());
    EXPECT_EQ("div", host->document()->callsOf("invoke", "createElement").at(0).args.at(0).cast<std::string>());
}

TEST_F(DOMTest, AMissingBodyOrWindowIsAnEmptyPointer)
{
    FB::DOM::DocumentPtr document = host->getDOMDocument();
    EXPECT_FALSE(document->getBody());
    host->document()->set("window", null());
    EXPECT_FALSE(document->getWindow());
    answers(host->document(), "createElement", null());
    EXPECT_FALSE(document->createElement("p"));
}

TEST_F(DOMTest, ADocumentIsAnElement)
{
    host->document()->set("innerHTML", FB::variant("<b>x</b>"));
    FB::DOM::ElementPtr asElement = host->getDOMDocument();
    EXPECT_EQ("<b>x</b>", asElement->getInnerHTML());
}

// Element.

TEST_F(DOMTest, ScalarGettersReadAndConvert)
{
    elementObject->set("innerHTML", FB::variant("<i>hi</i>"));
    elementObject->set("width", FB::variant(640.7));
    elementObject->set("scrollWidth", FB::variant("700"));
    elementObject->set("height", FB::variant(480));
    elementObject->set("scrollHeight", FB::variant(true));
    EXPECT_EQ("<i>hi</i>", element->getInnerHTML());
    EXPECT_EQ(640, element->getWidth());
    EXPECT_EQ(700, element->getScrollWidth());
    EXPECT_EQ(480, element->getHeight());
    EXPECT_EQ(1, element->getScrollHeight());
}

TEST_F(DOMTest, AnUndefinedSizeIsAConversionError)
{
    EXPECT_THROW(element->getWidth(), FB::bad_variant_cast);
    elementObject->set("height", FB::variant("tall"));
    EXPECT_THROW(element->getHeight(), FB::bad_variant_cast);
}

// Counts the setter calls that reach the node's virtual setProperty.
class RecordingElement : public FB::DOM::Element {
public:
    explicit RecordingElement(const FB::JSObjectPtr& object) : FB::DOM::Node(object), FB::DOM::Element(object) {}
    using FB::DOM::Element::setProperty;
    void setProperty(const std::string& name, const FB::variant& value) override
    {
        names.push_back(name);
        FB::DOM::Element::setProperty(name, value);
    }
    std::vector<std::string> names;
};

TEST_F(DOMTest, SettersGoThroughTheVirtualSetProperty)
{
    boost::shared_ptr<RecordingElement> recording = boost::make_shared<RecordingElement>(elementObject);
    recording->setInnerHTML("<p/>");
    recording->setWidth(10);
    recording->setHeight(20);
    recording->setProperty(std::wstring(L"title"), FB::variant("t"));
    EXPECT_EQ((std::vector<std::string>{"innerHTML", "width", "height", "title"}), recording->names);
    EXPECT_EQ("<p/>", elementObject->value("innerHTML").cast<std::string>());
    EXPECT_EQ(10, elementObject->value("width").cast<int>());
    EXPECT_EQ(20, elementObject->value("height").cast<int>());
    EXPECT_EQ("t", elementObject->value("title").cast<std::string>());
}

TEST_F(DOMTest, AttributesAndElementsByIdComeFromPageCalls)
{
    FakePageObjectPtr found = host->newObject();
    answers(elementObject, "getAttribute", FB::variant("submit"));
    answers(elementObject, "getElementById", object(found));
    EXPECT_EQ("submit", element->getStringAttribute("type"));
    EXPECT_EQ("type", elementObject->callsOf("invoke", "getAttribute").at(0).args.at(0).cast<std::string>());

    FB::DOM::ElementPtr byId = element->getElementById("main");
    EXPECT_TRUE(madeByHost(byId));
    EXPECT_EQ(FB::JSObjectPtr(found), byId->getJSObject());

    answers(elementObject, "getElementById", null());
    EXPECT_FALSE(element->getElementById("none"));
}

TEST_F(DOMTest, ParentAndChildrenArePlainElements)
{
    FakePageObjectPtr parent = host->newObject();
    FakePageObjectPtr first = host->newObject();
    FakePageObjectPtr second = host->newObject();
    elementObject->set("parentNode", object(parent));
    elementObject->set("childNodes", object(array({object(first), object(second)})));

    FB::DOM::ElementPtr parentElement = element->getParentNode();
    ASSERT_TRUE(parentElement);
    EXPECT_FALSE(madeByHost(parentElement));
    EXPECT_EQ(FB::JSObjectPtr(parent), parentElement->getJSObject());

    EXPECT_EQ(2, element->getChildNodeCount());
    FB::DOM::ElementPtr child = element->getChildNode(1);
    ASSERT_TRUE(child);
    EXPECT_FALSE(madeByHost(child));
    EXPECT_EQ(FB::JSObjectPtr(second), child->getJSObject());
    EXPECT_FALSE(element->getChildNode(5)) << "past the end reads undefined";
}

TEST_F(DOMTest, AnElementWithoutParentOrChildrenAnswersEmpty)
{
    elementObject->set("parentNode", null());
    EXPECT_FALSE(element->getParentNode());
    EXPECT_EQ(0, element->getChildNodeCount());
    EXPECT_FALSE(element->getChildNode(0));
}

TEST_F(DOMTest, ElementsByTagNameKeepTheArraysLengthAndHoles)
{
    FakePageObjectPtr a = host->newObject();
    FakePageObjectPtr c = host->newObject();
    answers(elementObject, "getElementsByTagName", object(array({object(a), null(), object(c)})));
    const std::vector<FB::DOM::ElementPtr> found = element->getElementsByTagName("input");
    ASSERT_EQ(3u, found.size());
    EXPECT_TRUE(madeByHost(found[0]));
    EXPECT_EQ(FB::JSObjectPtr(a), found[0]->getJSObject());
    EXPECT_FALSE(found[1]);
    EXPECT_EQ(FB::JSObjectPtr(c), found[2]->getJSObject());
    EXPECT_EQ("input",
              elementObject->callsOf("invoke", "getElementsByTagName").at(0).args.at(0).cast<std::string>());

    EXPECT_EQ(3u, element->getElementsByTagName(std::wstring(L"input")).size());
}

struct EmptyAnswerCase {
    const char* name;
    int length;  // -2: the answer itself is null, -3: undefined
};

class ElementsByTagNameEmptyTest : public DOMTest,
                                   public ::testing::WithParamInterface<EmptyAnswerCase> {};

TEST_P(ElementsByTagNameEmptyTest, GivesAnEmptyList)
{
    FB::variant answer;
    if (GetParam().length == -2) {
        answer = null();
    } else if (GetParam().length != -3) {
        FakePageObjectPtr a = host->newObject();
        a->set("length", FB::variant(GetParam().length));
        answer = object(a);
    }
    answers(elementObject, "getElementsByTagName", answer);
    EXPECT_TRUE(element->getElementsByTagName("a").empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, ElementsByTagNameEmptyTest,
                         ::testing::Values(EmptyAnswerCase{"Null", -2}, EmptyAnswerCase{"Undefined", -3},
                                           EmptyAnswerCase{"LengthZero", 0},
                                           EmptyAnswerCase{"NegativeLength", -1}),
                         [](const ::testing::TestParamInfo<EmptyAnswerCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(DOMTest, ElementsByTagNameTakesAListOfPageObjectsAsItIs)
{
    FakePageObjectPtr a = host->newObject();
    std::vector<FB::JSObjectPtr> list;
    list.push_back(a);
    list.push_back(FB::JSObjectPtr());
    answers(elementObject, "getElementsByTagName", FB::variant(list));
    const std::vector<FB::DOM::ElementPtr> found = element->getElementsByTagName("a");
    ASSERT_EQ(2u, found.size());
    EXPECT_EQ(FB::JSObjectPtr(a), found[0]->getJSObject());
    EXPECT_FALSE(found[1]);
}

TEST_F(DOMTest, ElementsByTagNameRefusesAnswersThatAreNoObjects)
{
    answers(elementObject, "getElementsByTagName", FB::variant(5));
    try {
        element->getElementsByTagName("a");
        FAIL() << "no error";
    } catch (const FB::bad_variant_cast& e) {
        EXPECT_STREQ("i", e.from);
        EXPECT_STREQ("N5boost10shared_ptrIN2FB8JSObjectEEE", e.to);
    }
}

TEST_F(DOMTest, ElementsByTagNameRefusesAnArrayTooLongToIndex)
{
    FakePageObjectPtr huge = host->newObject();
    huge->set("length", FB::variant(static_cast<long>(INT_MAX) + 1));
    answers(elementObject, "getElementsByTagName", object(huge));
    EXPECT_THROW(element->getElementsByTagName("a"), FB::bad_variant_cast);
    EXPECT_TRUE(huge->callsOf("get", "0").empty()) << "no entry is read";
}

TEST_F(DOMTest, AScriptErrorReadingAnEntryArrivesAsAPlainScriptError)
{
    FakePageObjectPtr a = array({null(), null()});
    a->failOn("1", [] { throw FB::invalid_member("1"); });
    answers(elementObject, "getElementsByTagName", object(a));
    try {
        element->getElementsByTagName("a");
        FAIL() << "no error";
    } catch (const FB::script_error& e) {
        EXPECT_EQ(nullptr, dynamic_cast<const FB::invalid_member*>(&e));
        EXPECT_STREQ("The specified member does not exist: 1", e.what());
    }
}

TEST_F(DOMTest, AnEntryThatIsNoObjectIsAConversionError)
{
    answers(elementObject, "getElementsByTagName", object(array({FB::variant("text")})));
    EXPECT_THROW(element->getElementsByTagName("a"), FB::bad_variant_cast);
}

// Node.

TEST_F(DOMTest, NodesByNameAndIndexAreMadeByTheHost)
{
    FakePageObjectPtr named = host->newObject();
    FakePageObjectPtr indexed = host->newObject();
    elementObject->set("firstChild", object(named));
    elementObject->setIndex(2, object(indexed));
    FB::DOM::NodePtr byName = element->getNode("firstChild");
    FB::DOM::NodePtr byWideName = element->getNode(std::wstring(L"firstChild"));
    FB::DOM::NodePtr byIndex = element->getNode(2);
    EXPECT_TRUE(boost::dynamic_pointer_cast<HostNode>(byName));
    EXPECT_EQ(FB::JSObjectPtr(named), byName->getJSObject());
    EXPECT_EQ(FB::JSObjectPtr(named), byWideName->getJSObject());
    EXPECT_EQ(FB::JSObjectPtr(indexed), byIndex->getJSObject());
    EXPECT_FALSE(element->getNode("missing"));
    elementObject->set("text", FB::variant("abc"));
    EXPECT_THROW(element->getNode("text"), FB::bad_variant_cast);
}

TEST_F(DOMTest, PropertiesAreWrittenByNameAndByIndex)
{
    element->setProperty("title", FB::variant("x"));
    element->setProperty(3, FB::variant(9));
    EXPECT_EQ("x", elementObject->value("title").cast<std::string>());
    EXPECT_EQ(9, elementObject->value("3").cast<int>());
    FakePageObjectPtr inner = host->newObject();
    elementObject->set("inner", object(inner));
    EXPECT_EQ(FB::JSObjectPtr(inner), element->getProperty<FB::JSObjectPtr>("inner"));
    EXPECT_EQ("x", element->getProperty<std::string>("title"));
}

TEST_F(DOMTest, AppendChildPassesTheChildsPageObjectAndWrapsTheAnswer)
{
    FakePageObjectPtr childObject = host->newObject();
    answers(elementObject, "appendChild", object(childObject));
    FB::DOM::NodePtr child = boost::make_shared<FB::DOM::Node>(childObject);
    FB::DOM::NodePtr appended = element->appendChild(child);
    EXPECT_TRUE(boost::dynamic_pointer_cast<HostNode>(appended));
    EXPECT_EQ(FB::JSObjectPtr(childObject), appended->getJSObject());
    EXPECT_EQ(FB::JSObjectPtr(childObject),
              elementObject->callsOf("invoke", "appendChild").at(0).args.at(0).cast<FB::JSObjectPtr>());

    answers(elementObject, "appendChild", null());
    EXPECT_FALSE(element->appendChild(FB::DOM::NodePtr()));
    EXPECT_TRUE(elementObject->callsOf("invoke", "appendChild").at(1).args.at(0).isNull());
}

TEST_F(DOMTest, ElementsMadeDirectlyKnowTheirOwningPointer)
{
    FB::DOM::NodePtr asNode = element;
    EXPECT_EQ(asNode, element->shared_from_this());
    FB::DOM::ElementPtr made = FB::DOM::Element::create(elementObject);
    EXPECT_EQ(FB::DOM::NodePtr(made), made->shared_from_this());
    EXPECT_FALSE(FB::DOM::Element::create(FB::JSObjectPtr()));
}

TEST(DOMWithoutHost, WrappingAnAnswerNeedsTheObjectsHost)
{
    FakePageObjectPtr page;
    FakePageObjectPtr found;
    {
        testbed::FakeBrowserHostPtr host = FakeBrowserHost::create();
        // Not made through the host, so the host leaves them as they are.
        page = boost::make_shared<FakePageObject>(host);
        found = boost::make_shared<FakePageObject>(host);
        host->shutdown();
    }
    page->method("getElementById", [found](const FB::VariantList&) { return FB::variant(FB::JSObjectPtr(found)); });
    page->set("parentNode", FB::variant(FB::JSObjectPtr(found)));
    FB::DOM::Element element(page);
    EXPECT_THROW(element.getElementById("x"), boost::bad_weak_ptr);
    EXPECT_TRUE(element.getParentNode()) << "plain elements need no host";
    page->clear();
}

} // namespace
