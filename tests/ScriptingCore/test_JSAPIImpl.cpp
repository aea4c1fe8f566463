// The scriptable-object base: security zones and their lock, the zone guard,
// event handlers and interfaces, firing, and proxies.
#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "ArgumentList.h"
#include "BackgroundCall.h"
#include "RecordingPageObject.h"
#include "JSAPIImpl.h"
#include "ZoneGuard.h"
#include "script_error.h"
#include "variant.h"

namespace {

using testbed::list;

// JSAPIImpl with trivial members, and a view of its tables.
class PlainImpl : public FB::JSAPIImpl {
public:
    PlainImpl() {}
    explicit PlainImpl(int zone) : FB::JSAPIImpl(zone) {}

    void getMemberNames(std::vector<std::string>& names) const override { names.clear(); }
    size_t getMemberCount() const override { return 0; }
    bool hasMethod(const std::string&) const override { return false; }
    bool hasProperty(const std::string&) const override { return false; }
    bool hasPropertyByIndex(int) const override { return false; }
    FB::variant getProperty(const std::string&) override { return FB::variant(); }
    void setProperty(const std::string&, const FB::variant&) override {}
    FB::variant getPropertyByIndex(int) override { return FB::variant(); }
    void setPropertyByIndex(int, const FB::variant&) override {}
    void removeProperty(const std::string&) override {}
    void removePropertyByIndex(int) override {}
    FB::variant invoke(const std::string&, const FB::VariantList&) override { return FB::variant(); }
    FB::variant construct(const FB::VariantList&) override { return FB::variant(); }

    size_t handlerCount(void* context, const std::string& name) {
        EventContextMap::const_iterator it = eventHandlers.find(context);
        return it == eventHandlers.end() ? 0 : it->second.count(name);
    }
    size_t interfaceCount(void* context) {
        EventIfaceContextMap::const_iterator it = eventInterfaces.find(context);
        return it == eventInterfaces.end() ? 0 : it->second.size();
    }
    size_t proxyCount() { return proxies.size(); }
    // Recorded calls may hold this object: forget the page objects so that
    // the two can go.
    void dropAll() {
        eventHandlers.clear();
        eventInterfaces.clear();
        proxies.clear();
    }
};
typedef boost::shared_ptr<PlainImpl> PlainImplPtr;

bool same(const FB::variant& a, const FB::variant& b) { return !(a < b) && !(b < a); }


// Zones ----------------------------------------------------------------------

TEST(Zones, BaseAndCurrentFollowTheStack) {
    PlainImpl impl(2);
    EXPECT_EQ(2, impl.getBaseZone());
    EXPECT_EQ(2, impl.getCurrentZone());
    impl.enterZone(5);
    EXPECT_EQ(2, impl.getBaseZone());
    EXPECT_EQ(5, impl.getCurrentZone());
    impl.setBaseZone(1);
    EXPECT_EQ(1, impl.getBaseZone());
    EXPECT_EQ(5, impl.getCurrentZone());
    impl.leaveZone();
    EXPECT_EQ(1, impl.getBaseZone());
    EXPECT_EQ(1, impl.getCurrentZone());
}

TEST(Zones, DefaultConstructionIsZoneZero) {
    PlainImpl impl;
    EXPECT_EQ(0, impl.getBaseZone());
    EXPECT_EQ(0, impl.getCurrentZone());
}

TEST(Zones, AnEnteredZoneKeepsOtherThreadsOutUntilLeft) {
    PlainImpl impl(1);
    impl.enterZone(4);
    impl.enterZone(6);
    std::atomic<int> seen(-1);
    BackgroundCall other([&] { seen = impl.getCurrentZone(); });
    EXPECT_FALSE(other.finishedWithin(100));
    impl.leaveZone();
    EXPECT_FALSE(other.finishedWithin(50));
    impl.leaveZone();
    ASSERT_TRUE(other.finishedWithin(5000));
    EXPECT_EQ(1, seen);
}

TEST(Zones, OneLeaveTooManyChangesNothing) {
    PlainImpl impl(2);
    impl.enterZone(5);
    impl.leaveZone();
    impl.leaveZone();
    EXPECT_EQ(2, impl.getBaseZone());
    EXPECT_EQ(2, impl.getCurrentZone());
    // The lock is free for another thread, and still usable here.
    BackgroundCall other([&] {
        impl.enterZone(7);
        impl.leaveZone();
    });
    ASSERT_TRUE(other.finishedWithin(5000));
    impl.enterZone(3);
    EXPECT_EQ(3, impl.getCurrentZone());
    impl.leaveZone();
    EXPECT_EQ(2, impl.getCurrentZone());
}

TEST(Zones, ALeaveFromAnotherThreadNeitherLeavesNorUnlocks) {
    PlainImpl impl(2);
    impl.enterZone(5);
    BackgroundCall intruder([&] { impl.leaveZone(); });
    EXPECT_FALSE(intruder.finishedWithin(50));
    EXPECT_EQ(5, impl.getCurrentZone());
    impl.leaveZone();
    ASSERT_TRUE(intruder.finishedWithin(5000));
    EXPECT_EQ(2, impl.getBaseZone());
    EXPECT_EQ(2, impl.getCurrentZone());

    // Entered again, the zone still excludes other threads.
    impl.enterZone(5);
    BackgroundCall reader([&] { impl.getCurrentZone(); });
    EXPECT_FALSE(reader.finishedWithin(50));
    impl.leaveZone();
    EXPECT_TRUE(reader.finishedWithin(5000));
}

// Zone guard -----------------------------------------------------------------

TEST(ZoneGuard, SharedFormKeepsTheObjectAliveUntilTheZoneIsLeft) {
    PlainImplPtr impl = boost::make_shared<PlainImpl>(1);
    boost::weak_ptr<PlainImpl> weak(impl);
    {
        FB::ZoneGuard guard(FB::JSAPIPtr(impl), 3);
        impl.reset();
        ASSERT_FALSE(weak.expired());
        EXPECT_EQ(3, weak.lock()->getCurrentZone());
    }
    EXPECT_TRUE(weak.expired());
}

TEST(ZoneGuard, SharedFormCopiesANamedReferenceAndTakesOverATemporaryOne) {
    PlainImplPtr impl = boost::make_shared<PlainImpl>(1);
    FB::JSAPIPtr named(impl);
    {
        FB::ZoneGuard guard(named, 2);
        EXPECT_TRUE(named);
        EXPECT_EQ(3, impl.use_count());
        EXPECT_EQ(2, impl->getCurrentZone());
    }
    EXPECT_EQ(2, impl.use_count());
    {
        FB::ZoneGuard guard(std::move(named), 5);
        EXPECT_FALSE(named);
        EXPECT_EQ(2, impl.use_count());
        EXPECT_EQ(5, impl->getCurrentZone());
    }
    EXPECT_EQ(1, impl.use_count());
    EXPECT_EQ(1, impl->getCurrentZone());
}

TEST(ZoneGuard, PlainFormEntersAndLeavesWithoutKeepingAReference) {
    PlainImplPtr impl = boost::make_shared<PlainImpl>(1);
    {
        FB::ZoneGuard guard(impl.get(), 4);
        EXPECT_EQ(4, impl->getCurrentZone());
        EXPECT_EQ(1, impl.use_count());
    }
    EXPECT_EQ(1, impl->getCurrentZone());
}

TEST(ZoneGuard, LeavesTheZoneWhenTheScopeThrows) {
    PlainImplPtr impl = boost::make_shared<PlainImpl>(1);
    EXPECT_THROW(
        {
            FB::ZoneGuard guard(FB::JSAPIPtr(impl), 6);
            throw std::runtime_error("fails inside the zone");
        },
        std::runtime_error);
    EXPECT_EQ(1, impl->getCurrentZone());
    BackgroundCall other([&] { impl->enterZone(2); impl->leaveZone(); });
    EXPECT_TRUE(other.finishedWithin(5000));
}

// Handlers and interfaces ------------------------------------------------------

int contextA, contextB;

TEST(EventHandlers, OneEntryPerIdentityAndName) {
    PlainImpl impl;
    RecordingPageObjectPtr h = RecordingPageObject::make(&contextA);
    RecordingPageObjectPtr sameIdentity = RecordingPageObject::make(&contextA);
    sameIdentity->identity = h.get();
    impl.addEventHandler("load", h);
    impl.addEventHandler("load", h);
    impl.addEventHandler("load", sameIdentity);
    EXPECT_EQ(1u, impl.handlerCount(&contextA, "load"));
    impl.addEventHandler(std::wstring(L"unload"), h);
    EXPECT_EQ(1u, impl.handlerCount(&contextA, "unload"));
    impl.addEventHandler("load", RecordingPageObject::make(&contextA));
    EXPECT_EQ(2u, impl.handlerCount(&contextA, "load"));
}

TEST(EventHandlers, RemoveTakesTheFirstEntryOfTheSameIdentity) {
    PlainImplPtr owned = boost::make_shared<PlainImpl>();
    PlainImpl& impl = *owned;
    RecordingPageObjectPtr h = RecordingPageObject::make(&contextA);
    RecordingPageObjectPtr other = RecordingPageObject::make(&contextA);
    impl.addEventHandler("load", h);
    impl.addEventHandler("load", other);

    impl.removeEventHandler("load", RecordingPageObject::make(&contextA));
    impl.removeEventHandler("unload", h);
    impl.removeEventHandler("load", RecordingPageObject::make(&contextB));
    EXPECT_EQ(2u, impl.handlerCount(&contextA, "load"));

    RecordingPageObjectPtr alias = RecordingPageObject::make(&contextA);
    alias->identity = h.get();
    impl.removeEventHandler(std::wstring(L"load"), alias);
    EXPECT_EQ(1u, impl.handlerCount(&contextA, "load"));
    impl.fireEvent("load", FB::VariantList());
    EXPECT_TRUE(h->asyncCalls.empty());
    EXPECT_EQ(1u, other->asyncCalls.size());
}

TEST(EventHandlers, NullHandlersAndInterfacesAreInvalidArguments) {
    PlainImpl impl;
    const std::vector<std::function<void()> > operations = {
        [&] { impl.addEventHandler("e", FB::JSObjectPtr()); },
        [&] { impl.removeEventHandler("e", FB::JSObjectPtr()); },
        [&] { impl.addEventInterface(FB::JSObjectPtr()); },
        [&] { impl.removeEventInterface(FB::JSObjectPtr()); },
    };
    for (size_t i = 0; i < operations.size(); ++i) {
        SCOPED_TRACE(i);
        try {
            operations[i]();
            ADD_FAILURE() << "no error";
        } catch (const FB::invalid_arguments& e) {
            EXPECT_STREQ("Invalid Arguments", e.what());
        }
    }
    EXPECT_EQ(0u, impl.interfaceCount(NULL));
}

TEST(EventInterfaces, StoredOncePerObjectAndRemovedByObject) {
    PlainImplPtr owned = boost::make_shared<PlainImpl>();
    PlainImpl& impl = *owned;
    RecordingPageObjectPtr i1 = RecordingPageObject::make(&contextA);
    RecordingPageObjectPtr i2 = RecordingPageObject::make(&contextA);
    impl.addEventInterface(i1);
    impl.addEventInterface(i1);
    impl.addEventInterface(i2);
    EXPECT_EQ(2u, impl.interfaceCount(&contextA));
    impl.removeEventInterface(RecordingPageObject::make(&contextA));
    EXPECT_EQ(2u, impl.interfaceCount(&contextA));
    impl.removeEventInterface(i1);
    EXPECT_EQ(1u, impl.interfaceCount(&contextA));
    impl.fireEvent("ping", list(FB::variant(1)));
    EXPECT_TRUE(i1->asyncCalls.empty());
    ASSERT_EQ(1u, i2->asyncCalls.size());
    EXPECT_EQ("ping", i2->asyncCalls[0].name);
}

// Firing -----------------------------------------------------------------------

class Firing : public ::testing::Test {
protected:
    RecordingPageObjectPtr handler(bool valid, bool batching, void* context = &contextA) {
        RecordingPageObjectPtr h = RecordingPageObject::make(context);
        h->valid = valid;
        h->batching = batching;
        impl->addEventHandler("e", h);
        made.push_back(h);
        return h;
    }
    RecordingPageObjectPtr iface(bool valid, bool batching, void* context = &contextA) {
        RecordingPageObjectPtr i = RecordingPageObject::make(context);
        i->valid = valid;
        i->batching = batching;
        impl->addEventInterface(i);
        made.push_back(i);
        return i;
    }
    static size_t received(const RecordingPageObjectPtr& p) {
        return p->asyncCalls.size() + p->batches.size();
    }

    void TearDown() override {
        impl->dropAll();
        for (const RecordingPageObjectPtr& p : made)
            p->forget();
    }

    std::vector<RecordingPageObjectPtr> made;
    PlainImplPtr impl = boost::make_shared<PlainImpl>();
    FB::VariantList args = list(FB::variant(1), FB::variant(std::string("x")));
};

TEST_F(Firing, TheFirstValidHandlerThatCannotBatchMeansOneCallPerValidHandler) {
    RecordingPageObjectPtr h1 = handler(false, true);
    RecordingPageObjectPtr h2 = handler(true, false);
    RecordingPageObjectPtr h3 = handler(true, true);
    RecordingPageObjectPtr i1 = iface(true, false);
    impl->fireEvent("e", args);

    EXPECT_EQ(0u, received(h1));
    for (const RecordingPageObjectPtr& h : {h2, h3}) {
        ASSERT_EQ(1u, h->asyncCalls.size());
        EXPECT_EQ("", h->asyncCalls[0].name);
        EXPECT_TRUE(same(FB::variant(args), FB::variant(h->asyncCalls[0].args)));
        EXPECT_TRUE(h->batches.empty());
    }
    ASSERT_EQ(1u, i1->asyncCalls.size());
    EXPECT_EQ("e", i1->asyncCalls[0].name);
    EXPECT_TRUE(same(FB::variant(args), FB::variant(i1->asyncCalls[0].args)));
}

TEST_F(Firing, AFirstValidHandlerThatCanBatchDeliversTheWholeContextAtOnce) {
    RecordingPageObjectPtr h0 = handler(false, false);
    RecordingPageObjectPtr h1 = handler(true, true);
    RecordingPageObjectPtr h2 = handler(true, false);
    RecordingPageObjectPtr h3 = handler(false, true);
    RecordingPageObjectPtr i1 = iface(true, true);
    RecordingPageObjectPtr i2 = iface(false, false);
    impl->fireEvent("e", args);

    ASSERT_EQ(1u, h1->batches.size());
    EXPECT_TRUE(h1->asyncCalls.empty());
    const RecordingPageObject::Batch& batch = h1->batches[0];
    EXPECT_EQ("e", batch.name);
    EXPECT_TRUE(same(FB::variant(args), FB::variant(batch.args)));
    std::vector<FB::JSObjectPtr> handlers = {h0, h1, h2, h3};
    EXPECT_EQ(handlers, batch.handlers);
    ASSERT_EQ(2u, batch.interfaces.size());
    EXPECT_EQ(std::min(i1.get(), i2.get()), batch.interfaces[0].get());
    EXPECT_EQ(std::max(i1.get(), i2.get()), batch.interfaces[1].get());
    for (const RecordingPageObjectPtr& p : {h0, h2, h3, i1, i2})
        EXPECT_EQ(0u, received(p));
}

TEST_F(Firing, ContextsAreDecidedSeparately) {
    RecordingPageObjectPtr batchingA = handler(true, true, &contextA);
    RecordingPageObjectPtr plainB = handler(true, false, &contextB);
    RecordingPageObjectPtr ifaceA = iface(true, false, &contextA);
    RecordingPageObjectPtr ifaceB = iface(true, false, &contextB);
    RecordingPageObjectPtr ifaceB2 = iface(true, false, &contextB);
    // Interfaces are walked in address order; the first one can batch.
    RecordingPageObjectPtr first = ifaceB.get() < ifaceB2.get() ? ifaceB : ifaceB2;
    RecordingPageObjectPtr second = first == ifaceB ? ifaceB2 : ifaceB;
    first->batching = true;
    impl->fireEvent("e", args);

    EXPECT_EQ(1u, batchingA->batches.size());
    EXPECT_EQ(0u, received(ifaceA));
    EXPECT_EQ(1u, plainB->asyncCalls.size());
    // Context B had no batch of handlers: its first interface takes all of
    // them, with no handlers.
    ASSERT_EQ(1u, first->batches.size());
    EXPECT_TRUE(first->asyncCalls.empty());
    EXPECT_TRUE(first->batches[0].handlers.empty());
    EXPECT_EQ(2u, first->batches[0].interfaces.size());
    EXPECT_EQ(0u, received(second));
}

TEST_F(Firing, InvalidInterfacesAreCalledAnyway) {
    RecordingPageObjectPtr i = iface(false, true);
    impl->fireEvent("e", args);
    ASSERT_EQ(1u, i->asyncCalls.size());
    EXPECT_EQ("e", i->asyncCalls[0].name);
}

TEST_F(Firing, OtherEventNamesAreNotCalled) {
    RecordingPageObjectPtr h = handler(true, false);
    impl->fireEvent("other", args);
    impl->fireEventObject("other", FB::VariantMap(), args);
    EXPECT_EQ(0u, received(h));
}

TEST_F(Firing, TheWideFormFiresUnderTheUtf8Name) {
    RecordingPageObjectPtr h = RecordingPageObject::make(&contextA);
    made.push_back(h);
    impl->addEventHandler("caf\xc3\xa9", h);
    impl->fireEvent(std::wstring(L"caf\u00e9"), args);
    ASSERT_EQ(1u, h->asyncCalls.size());
    EXPECT_TRUE(same(FB::variant(args), FB::variant(h->asyncCalls[0].args)));
}

TEST_F(Firing, AnInvalidatedObjectFiresNothingNotEvenToProxies) {
    RecordingPageObjectPtr h = handler(true, false);
    RecordingPageObjectPtr i = iface(true, false);
    PlainImplPtr proxy = boost::make_shared<PlainImpl>();
    RecordingPageObjectPtr proxyHandler = RecordingPageObject::make();
    proxy->addEventHandler("e", proxyHandler);
    impl->addProxy(proxy);

    impl->invalidate();
    impl->fireEvent("e", args);
    impl->fireEvent(std::wstring(L"e"), args);
    impl->fireEventObject("e", FB::VariantMap(), args);
    impl->fireEventObject("e", FB::VariantMap());
    impl->fireEventObject("e", args);
    for (const RecordingPageObjectPtr& p : {h, i, proxyHandler})
        EXPECT_EQ(0u, received(p));
}

TEST_F(Firing, AScriptErrorOfAHandlerIsDroppedAndEndsTheDelivery) {
    RecordingPageObjectPtr failing = handler(true, false);
    failing->failure = RecordingPageObject::ScriptError;
    RecordingPageObjectPtr later = handler(true, false);
    EXPECT_NO_THROW(impl->fireEvent("e", args));
    EXPECT_EQ(1u, failing->asyncCalls.size());
    EXPECT_EQ(0u, received(later));
}

TEST_F(Firing, OtherErrorsOfAPageObjectReachTheCaller) {
    RecordingPageObjectPtr i = iface(false, false);
    i->failure = RecordingPageObject::RuntimeError;
    try {
        impl->fireEvent("e", args);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Cannot invoke asynchronously", e.what());
    }
    i->failure = RecordingPageObject::ScriptError;
    EXPECT_THROW(impl->fireEventObject("e", FB::VariantMap(), args), FB::script_error);
}

TEST(FiringUnowned, NeedsASharedOwnerAndDeliversNothingWithout) {
    PlainImpl impl;
    RecordingPageObjectPtr h = RecordingPageObject::make();
    impl.addEventHandler("e", h);
    EXPECT_THROW(impl.fireEvent("e", FB::VariantList()), boost::bad_weak_ptr);
    EXPECT_THROW(impl.fireEventObject("e", FB::VariantMap(), FB::VariantList()), boost::bad_weak_ptr);
    EXPECT_TRUE(h->asyncCalls.empty());
}

TEST_F(Firing, EventObjectsGoToEveryHandlerAndEachInterfaceOnce) {
    RecordingPageObjectPtr invalid = handler(false, true);
    RecordingPageObjectPtr batching = handler(true, true, &contextB);
    RecordingPageObjectPtr ia = iface(true, true, &contextA);
    RecordingPageObjectPtr ib = iface(false, false, &contextB);
    FB::VariantMap members;
    members["detail"] = FB::variant(9);
    impl->fireEventObject("e", members, args);

    for (const RecordingPageObjectPtr& h : {invalid, batching}) {
        ASSERT_EQ(1u, h->asyncCalls.size());
        EXPECT_TRUE(h->batches.empty());
        EXPECT_EQ("", h->asyncCalls[0].name);
        ASSERT_EQ(1u, h->asyncCalls[0].args.size());
        FB::VariantMap event = h->asyncCalls[0].args[0].cast<FB::VariantMap>();
        EXPECT_EQ("e", event["type"].cast<std::string>());
        EXPECT_EQ(FB::JSAPIPtr(impl), event["target"].cast<FB::JSAPIPtr>());
        EXPECT_EQ(9, event["detail"].cast<int>());
        EXPECT_TRUE(same(FB::variant(args), event["arguments"]));
    }
    for (const RecordingPageObjectPtr& i : {ia, ib}) {
        ASSERT_EQ(1u, i->asyncCalls.size());
        EXPECT_EQ("e", i->asyncCalls[0].name);
        EXPECT_TRUE(i->batches.empty());
    }
}

TEST_F(Firing, ShortEventObjectFormsFillInTheMissingPart) {
    RecordingPageObjectPtr h = handler(true, false);
    FB::VariantMap members;
    members["detail"] = FB::variant(9);
    impl->fireEventObject("e", members);
    impl->fireEventObject("e", args);
    ASSERT_EQ(2u, h->asyncCalls.size());
    FB::VariantMap first = h->asyncCalls[0].args[0].cast<FB::VariantMap>();
    EXPECT_TRUE(first["arguments"].cast<FB::VariantList>().empty());
    EXPECT_EQ(9, first["detail"].cast<int>());
    FB::VariantMap second = h->asyncCalls[1].args[0].cast<FB::VariantMap>();
    EXPECT_TRUE(same(FB::variant(args), second["arguments"]));
    EXPECT_EQ(0u, second.count("detail"));
}

// Proxies ------------------------------------------------------------------------

class Proxies : public ::testing::Test {
protected:
    void TearDown() override {
        impl->dropAll();
        for (const PlainImplPtr& p : made)
            p->dropAll();
    }
    PlainImplPtr proxyObject() {
        made.push_back(boost::make_shared<PlainImpl>());
        return made.back();
    }

    std::vector<PlainImplPtr> made;
    PlainImplPtr impl = boost::make_shared<PlainImpl>();
    RecordingPageObjectPtr ownHandler = RecordingPageObject::make();
};

TEST_F(Proxies, ReceiveTheEventWithThisObjectReplacedByTheProxy) {
    PlainImplPtr proxy = proxyObject();
    RecordingPageObjectPtr proxyHandler = RecordingPageObject::make();
    proxy->addEventHandler("e", proxyHandler);
    impl->addEventHandler("e", ownHandler);
    impl->addProxy(proxy);

    FB::JSAPIPtr self(impl);
    FB::JSAPIPtr stranger = boost::make_shared<PlainImpl>();
    FB::JSObjectPtr page = RecordingPageObject::make();
    FB::VariantMap nestedMap;
    nestedMap["me"] = FB::variant(self);
    nestedMap["n"] = FB::variant(3);
    FB::VariantList args;
    args.push_back(FB::variant(self));
    args.push_back(FB::variant(list(FB::variant(self), FB::variant(1))));
    args.push_back(FB::variant(nestedMap));
    args.push_back(FB::variant(stranger));
    args.push_back(FB::variant(page));
    args.push_back(FB::variant(FB::JSAPIWeakPtr(self)));
    impl->fireEvent("e", args);

    ASSERT_EQ(1u, proxyHandler->asyncCalls.size());
    const FB::VariantList& got = proxyHandler->asyncCalls[0].args;
    ASSERT_EQ(args.size(), got.size());
    FB::JSAPIPtr proxyPtr(proxy);
    EXPECT_EQ(proxyPtr, got[0].cast<FB::JSAPIPtr>());
    FB::VariantList nested = got[1].cast<FB::VariantList>();
    EXPECT_EQ(proxyPtr, nested[0].cast<FB::JSAPIPtr>());
    EXPECT_EQ(1, nested[1].cast<int>());
    FB::VariantMap gotMap = got[2].cast<FB::VariantMap>();
    EXPECT_EQ(proxyPtr, gotMap["me"].cast<FB::JSAPIPtr>());
    EXPECT_EQ(3, gotMap["n"].cast<int>());
    EXPECT_EQ(stranger, got[3].cast<FB::JSAPIPtr>());
    EXPECT_EQ(page, got[4].cast<FB::JSObjectPtr>());
    EXPECT_EQ(self, got[5].cast<FB::JSAPIWeakPtr>().lock());

    ASSERT_EQ(1u, ownHandler->asyncCalls.size());
    EXPECT_TRUE(same(FB::variant(args), FB::variant(ownHandler->asyncCalls[0].args)));
}

TEST_F(Proxies, ReceiveEventObjectsWithRewrittenMembersAndTheirOwnTarget) {
    PlainImplPtr proxy = proxyObject();
    RecordingPageObjectPtr proxyHandler = RecordingPageObject::make();
    proxy->addEventHandler("e", proxyHandler);
    impl->addProxy(proxy);
    FB::VariantMap members;
    members["who"] = FB::variant(FB::JSAPIPtr(impl));
    impl->fireEventObject("e", members, list(FB::variant(FB::JSAPIPtr(impl))));

    ASSERT_EQ(1u, proxyHandler->asyncCalls.size());
    FB::VariantMap event = proxyHandler->asyncCalls[0].args[0].cast<FB::VariantMap>();
    FB::JSAPIPtr proxyPtr(proxy);
    EXPECT_EQ(proxyPtr, event["target"].cast<FB::JSAPIPtr>());
    EXPECT_EQ(proxyPtr, event["who"].cast<FB::JSAPIPtr>());
    EXPECT_EQ(proxyPtr, event["arguments"].cast<FB::VariantList>()[0].cast<FB::JSAPIPtr>());
}

TEST_F(Proxies, ExpiredProxiesArePrunedByEachWalk) {
    const std::vector<std::pair<const char*, std::function<void(PlainImpl&, const PlainImplPtr&)> > >
        walks = {
            {"fireEvent", [](PlainImpl& i, const PlainImplPtr&) { i.fireEvent("e", FB::VariantList()); }},
            {"fireEventObject",
             [](PlainImpl& i, const PlainImplPtr&) { i.fireEventObject("e", FB::VariantMap()); }},
            {"removeProxy", [](PlainImpl& i, const PlainImplPtr& other) { i.removeProxy(other); }},
        };
    for (size_t w = 0; w < walks.size(); ++w) {
        SCOPED_TRACE(walks[w].first);
        PlainImplPtr owner = boost::make_shared<PlainImpl>();
        PlainImplPtr live = boost::make_shared<PlainImpl>();
        PlainImplPtr unrelated = boost::make_shared<PlainImpl>();
        {
            PlainImplPtr doomed = boost::make_shared<PlainImpl>();
            owner->addProxy(doomed);
            owner->addProxy(live);
            owner->addProxy(doomed);
        }
        EXPECT_EQ(3u, owner->proxyCount());
        walks[w].second(*owner, unrelated);
        EXPECT_EQ(1u, owner->proxyCount());
    }
}

TEST_F(Proxies, RemoveProxyRemovesEveryEntryOfIt) {
    PlainImplPtr proxy = boost::make_shared<PlainImpl>();
    PlainImplPtr other = boost::make_shared<PlainImpl>();
    impl->addProxy(proxy);
    impl->addProxy(other);
    impl->addProxy(proxy);
    EXPECT_EQ(3u, impl->proxyCount());
    impl->removeProxy(proxy);
    EXPECT_EQ(1u, impl->proxyCount());
    RecordingPageObjectPtr otherHandler = RecordingPageObject::make();
    other->addEventHandler("e", otherHandler);
    impl->fireEvent("e", FB::VariantList());
    EXPECT_EQ(1u, otherHandler->asyncCalls.size());
}

TEST_F(Proxies, AnObjectIsRefusedAsItsOwnProxy) {
    EXPECT_THROW(impl->addProxy(impl), FB::invalid_arguments);
    EXPECT_EQ(0u, impl->proxyCount());
    impl->addEventHandler("e", ownHandler);
    impl->fireEvent("e", FB::VariantList());
    EXPECT_EQ(1u, ownHandler->asyncCalls.size());
}

TEST_F(Proxies, AProxysErrorReachesTheCallerAndReleasesTheProxyLock) {
    PlainImplPtr proxy = boost::make_shared<PlainImpl>();
    RecordingPageObjectPtr failing = RecordingPageObject::make();
    failing->failure = RecordingPageObject::RuntimeError;
    proxy->addEventInterface(failing);
    impl->addProxy(proxy);
    impl->addEventHandler("e", ownHandler);
    EXPECT_THROW(impl->fireEvent("e", FB::VariantList()), std::runtime_error);
    EXPECT_TRUE(ownHandler->asyncCalls.empty());
    BackgroundCall other([&] { impl->addProxy(boost::make_shared<PlainImpl>()); });
    EXPECT_TRUE(other.finishedWithin(5000));
}

} // namespace
