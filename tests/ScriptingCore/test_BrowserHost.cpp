// The browser host: its main thread, hand-offs to the main thread and
// shutdown, the retained scriptable objects and those named for the shutdown
// notice (also by several hosts), the page helper function with
// delayed calls, page logging, the stream front and proxy detection.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/bind/bind.hpp>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "BrowserHost.h"
#include "BrowserStreamRequest.h"
#include "FakeBrowserHost.h"
#include "FakeBrowserStream.h"
#include "NamingHosts.h"
#include "StreamEventLog.h"
#include "bad_variant_cast.h"
#include "script_error.h"

using testbed::FakeBrowserHost;
using testbed::FakeBrowserHostPtr;
using testbed::FakePageObject;
using testbed::FakePageObjectPtr;

namespace {

struct Counter {
    std::atomic<int> runs{0};
    std::atomic<bool> onMainThread{false};
    FB::BrowserHost* host = nullptr;
};

void countRun(void* data)
{
    Counter* counter = static_cast<Counter*>(data);
    ++counter->runs;
    if (counter->host)
        counter->onMainThread = counter->host->isMainThread();
}

// Heap data owned by the call once it is handed out.
struct Payload {
    explicit Payload(std::atomic<int>* frees) : frees(frees) {}
    ~Payload() { ++*frees; }
    std::atomic<int>* frees;
};

void runAndFree(void* data)
{
    delete static_cast<Payload*>(data);
}

std::string helperName(const void* seed)
{
    const unsigned long long p = reinterpret_cast<unsigned long long>(seed);
    return "__FB_CALL_" + std::to_string(p + (p >> 3));
}

class BrowserHostTest : public ::testing::Test {
protected:
    void TearDown() override { host->shutdown(); }

    FakeBrowserHostPtr host = FakeBrowserHost::create();
    Counter counter;
};

TEST_F(BrowserHostTest, MainThreadIsTheCreatingThread)
{
    EXPECT_TRUE(host->isMainThread());
    bool workerIsMain = true;
    std::thread worker([&] { workerIsMain = host->isMainThread(); });
    worker.join();
    EXPECT_FALSE(workerIsMain);
}

TEST_F(BrowserHostTest, AScheduledCallRunsOnTheMainThreadWhenTheBrowserDelivers)
{
    counter.host = host.get();
    bool scheduled = false;
    std::thread worker([&] { scheduled = host->scheduleAsyncCall(&countRun, &counter); });
    worker.join();
    EXPECT_TRUE(scheduled);
    EXPECT_EQ(0, counter.runs);
    EXPECT_EQ(1u, host->pump());
    EXPECT_EQ(1, counter.runs);
    EXPECT_TRUE(counter.onMainThread);
}

TEST_F(BrowserHostTest, ARefusedCallIsNeverRunAndStaysTheCallers)
{
    host->setHandOffMode(FakeBrowserHost::Refuse);
    EXPECT_FALSE(host->scheduleAsyncCall(&countRun, &counter));
    EXPECT_EQ(1, host->refusals());
    host->pump();
    host->shutdown();
    EXPECT_EQ(0, counter.runs);
}

TEST_F(BrowserHostTest, AfterShutdownNothingIsScheduledOrHandedOut)
{
    host->shutdown();
    EXPECT_TRUE(host->isShutDown());
    const int handOffs = host->handOffs();
    EXPECT_FALSE(host->scheduleAsyncCall(&countRun, &counter));
    EXPECT_EQ(handOffs, host->handOffs());
    host->pump();
    EXPECT_EQ(0, counter.runs);
}

TEST_F(BrowserHostTest, ACallPendingAtShutdownRunsDuringShutdownOnItsThread)
{
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    counter.host = host.get();
    std::thread worker([&] { EXPECT_TRUE(host->scheduleAsyncCall(&countRun, &counter)); });
    worker.join();
    EXPECT_EQ(0, counter.runs);
    host->shutdown();
    EXPECT_EQ(1, counter.runs);
    EXPECT_TRUE(counter.onMainThread);
}

// What a call that shutdown runs sees of the host.
struct ShutdownWitness {
    FB::BrowserHost* host;
    bool ran = false;
    bool sawShutDown = false;
};

void witnessShutdown(void* data)
{
    ShutdownWitness* witness = static_cast<ShutdownWitness*>(data);
    witness->ran = true;
    witness->sawShutDown = witness->host->isShutDown();
}

TEST_F(BrowserHostTest, ACallRunDuringShutdownSeesTheHostAlreadyShutDown)
{
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    ShutdownWitness witness{host.get()};
    ASSERT_TRUE(host->scheduleAsyncCall(&witnessShutdown, &witness));
    host->shutdown();
    EXPECT_TRUE(witness.ran);
    EXPECT_TRUE(witness.sawShutDown);
}

TEST_F(BrowserHostTest, ADeliveryAfterShutdownRanTheCallDoesNothing)
{
    host->setHandOffMode(FakeBrowserHost::Deliver);
    ASSERT_TRUE(host->scheduleAsyncCall(&countRun, &counter));
    host->shutdown();
    EXPECT_EQ(1, counter.runs);
    EXPECT_EQ(1u, host->pump()) << "the browser still delivers the stale record";
    EXPECT_EQ(1, counter.runs);
}

TEST_F(BrowserHostTest, AHandOffRefusedAfterShutdownRanTheCallIsNotFreedTwice)
{
    // The browser side refuses only after the host has already shut down and
    // run the registered call.
    host->setHandOffHook([this](FakeBrowserHost::CallFunction, void*) {
        host->shutdown();
        return 0;
    });
    std::atomic<int> frees(0);
    Payload* payload = new Payload(&frees);
    if (!host->scheduleAsyncCall(&runAndFree, payload))
        delete payload;
    EXPECT_EQ(1, frees);
}

// Retained scriptable objects.

TEST_F(BrowserHostTest, RetainingTwiceKeepsOneEntry)
{
    FakePageObjectPtr object = host->newObject();
    host->retainJSAPI(object);
    host->retainJSAPI(object);
    host->shutdown();
    EXPECT_EQ(1u, object->callsOf("shutdown", "").size());
}

TEST_F(BrowserHostTest, ReleasingAnObjectNeverRetainedChangesNothing)
{
    FakePageObjectPtr kept = host->newObject();
    FakePageObjectPtr stranger = host->newObject();
    host->retainJSAPI(kept);
    host->releaseJSAPI(stranger);
    host->shutdown();
    EXPECT_EQ(1u, kept->callsOf("shutdown", "").size());
    EXPECT_TRUE(stranger->callsOf("shutdown", "").empty());
}

TEST_F(BrowserHostTest, ReleaseDropsTheHostsReferenceAndReleasesDeferredObjectsOnTheMainThread)
{
    FakePageObjectPtr object = host->newObject();
    boost::weak_ptr<FakePageObject> weak(object);
    host->retainJSAPI(object);
    object.reset();
    EXPECT_FALSE(weak.expired());

    std::thread worker([&] { host->releaseJSAPI(weak.lock()); });
    worker.join();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(0, host->deferredReleases()) << "deferred objects are released on the main thread only";

    FakePageObjectPtr other = host->newObject();
    host->retainJSAPI(other);
    host->releaseJSAPI(other);
    EXPECT_EQ(1, host->deferredReleases());
}

// Logs its shutdown notice and its destruction.
class NoticeOrderObject : public FakePageObject {
public:
    NoticeOrderObject(const FB::BrowserHostPtr& host, const std::string& name,
                      std::vector<std::string>* log)
        : FakePageObject(host), name(name), log(log) {}
    ~NoticeOrderObject() override { log->push_back("released " + name); }
    void shutdown() override { log->push_back("notice " + name); }

    std::string name;
    std::vector<std::string>* log;
};

// Room for one T at a time at one address. Each is owned by a shared pointer
// that only destroys it, so the next one made here has the address of the one
// before while weak references to that one may be left.
template <class T>
class OneAddress {
public:
    template <class... Args>
    boost::shared_ptr<T> make(Args&&... args)
    {
        return boost::shared_ptr<T>(new (m_storage) T(std::forward<Args>(args)...),
                                    [](T* object) { object->~T(); });
    }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};

// The blocks a counting allocator handed out, and how many it holds out now.
struct Blocks {
    long made = 0;
    long held = 0;
};

// An object made with it by boost::allocate_shared keeps its block while any
// weak reference to it is left: `held` shows every reference a table kept.
template <class T>
struct CountingAllocator {
    typedef T value_type;
    explicit CountingAllocator(Blocks* blocks) : blocks(blocks) {}
    template <class U>
    CountingAllocator(const CountingAllocator<U>& other) : blocks(other.blocks) {}
    T* allocate(std::size_t n)
    {
        ++blocks->made;
        ++blocks->held;
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n)
    {
        --blocks->held;
        std::allocator<T>().deallocate(p, n);
    }

    Blocks* blocks;
};

template <class T, class U>
bool operator==(const CountingAllocator<T>& a, const CountingAllocator<U>& b)
{
    return a.blocks == b.blocks;
}

template <class T, class U>
bool operator!=(const CountingAllocator<T>& a, const CountingAllocator<U>& b)
{
    return !(a == b);
}

// A step of the tables of hosts that name one object: what a host does, or
// Replace - the object at the address dies and a new one is made there.
enum HostAct { Name, Retain, End, Go, Replace };
struct HostStep {
    int host;
    HostAct act;
};

// A row of those tables: the notices heard so far by the object at the
// address, a digit after each step.
struct NamingCase {
    const char* what;
    std::vector<HostStep> steps;
    const char* heard;
};

TEST_F(BrowserHostTest, ShutdownNotifiesEveryRetainedObjectBeforeReleasingAny)
{
    std::vector<std::string> log;
    host->retainJSAPI(boost::make_shared<NoticeOrderObject>(host, "a", &log));
    host->retainJSAPI(boost::make_shared<NoticeOrderObject>(host, "b", &log));
    host->shutdown();
    ASSERT_EQ(4u, log.size()) << "the host held the only references and dropped them";
    EXPECT_EQ("notice a", log[0]);
    EXPECT_EQ("notice b", log[1]);
    EXPECT_EQ("released", log[2].substr(0, 8));
    EXPECT_EQ("released", log[3].substr(0, 8));
    EXPECT_GE(host->deferredReleases(), 1);

    // A second shutdown finds the list empty.
    host->shutdown();
    EXPECT_EQ(4u, log.size());
}

// Objects named for the shutdown notice without being retained (function
// objects the page holds) hear it after the retained ones, once each, and
// are not kept alive meanwhile; one named after the notices went out hears
// it at once, and a second shutdown notifies nobody again.
TEST_F(BrowserHostTest, ObjectsNamedForTheNoticeHearItOnceWithoutBeingKept)
{
    std::vector<std::string> log;
    const auto make = [&](const char* name) {
        return boost::make_shared<NoticeOrderObject>(host, name, &log);
    };
    const boost::shared_ptr<NoticeOrderObject> named = make("named");
    const boost::shared_ptr<NoticeOrderObject> retained = make("retained");
    boost::shared_ptr<NoticeOrderObject> gone = make("gone");
    host->notifyAtShutdown(named);
    host->notifyAtShutdown(retained);
    host->retainJSAPI(retained);
    host->notifyAtShutdown(gone);
    host->notifyAtShutdown(named);
    gone.reset();
    EXPECT_EQ(std::vector<std::string>{"released gone"}, log);

    host->shutdown();
    EXPECT_EQ((std::vector<std::string>{"released gone", "notice retained", "notice named"}), log);

    host->notifyAtShutdown(make("late"));
    EXPECT_EQ((std::vector<std::string>{"released gone", "notice retained", "notice named",
                                        "notice late", "released late"}),
              log);
    host->shutdown();
    EXPECT_EQ(5u, log.size());
}

// Named objects that die are swept out as more are named, never a live one,
// nor one made anew at the address of a gone one.
TEST_F(BrowserHostTest, NamedObjectsThatDieLeaveTheLiveOnesNamed)
{
    std::vector<std::string> log;
    std::vector<boost::shared_ptr<NoticeOrderObject> > kept;
    std::vector<std::string> expected;
    for (int i = 0; i < 1000; ++i) {
        const boost::shared_ptr<NoticeOrderObject> object =
            boost::make_shared<NoticeOrderObject>(host, std::to_string(i), &log);
        host->notifyAtShutdown(object);
        if (i % 97 == 0) {
            kept.push_back(object);
            expected.push_back("notice " + std::to_string(i));
        }
    }
    OneAddress<NoticeOrderObject> place;
    host->notifyAtShutdown(place.make(host, "first", &log));
    const boost::shared_ptr<NoticeOrderObject> second = place.make(host, "second", &log);
    host->notifyAtShutdown(second);
    expected.push_back("notice second");

    log.clear();
    host->shutdown();
    std::sort(expected.begin(), expected.end());
    std::sort(log.begin(), log.end());
    EXPECT_EQ(expected, log);
}

// Named objects that die leave nothing behind once their hosts swept them out
// and shut down, or went without shutting down: neither a host nor the count
// of naming hosts keeps a reference to one of them, so every block they were
// made in is given back.
TEST_F(BrowserHostTest, NamedObjectsThatDieLeaveNothingBehindOnceTheirHostsEnd)
{
    const struct {
        const char* what;
        // How each host ends: End or Go.
        std::vector<HostAct> hosts;
        // Object i is named by this many hosts, from host i % hosts on.
        size_t namers;
    } cases[] = {
        {"one host", {End}, 1},
        {"three hosts in turn", {End, End, End}, 1},
        {"three hosts name each", {End, End, End}, 3},
        {"three hosts name each, one goes without shutting down", {End, Go, End}, 3},
        {"three hosts name each and go without shutting down", {Go, Go, Go}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<FakeBrowserHostPtr> hosts;
        for (size_t h = 0; h < c.hosts.size(); ++h)
            hosts.push_back(FakeBrowserHost::create());
        Blocks blocks;
        for (size_t i = 0; i < 1000; ++i) {
            const FB::JSAPIPtr object(
                boost::allocate_shared<FakePageObject>(CountingAllocator<FakePageObject>(&blocks), host));
            for (size_t n = 0; n < c.namers; ++n)
                hosts[(i + n) % hosts.size()]->notifyAtShutdown(object);
        }
        for (size_t h = 0; h < hosts.size(); ++h) {
            if (c.hosts[h] == End)
                hosts[h]->shutdown();
            hosts[h].reset();
        }
        EXPECT_EQ(1000, blocks.made);
        EXPECT_EQ(0, blocks.held);
    }
}

// Runs the steps over that many fresh hosts with an object of page's made in
// place, and answers the notices heard so far by the object at the address
// after each step, a digit a step (from a Replace on, by the new one). The
// hosts left are shut down afterwards: no entry stays behind for the object.
std::string noticesHeard(const FB::BrowserHostPtr& page, size_t hostCount,
                         const std::vector<HostStep>& steps)
{
    OneAddress<FakePageObject> place;
    FakePageObjectPtr object = place.make(page);
    const FakePageObject* const address = object.get();
    std::vector<FakeBrowserHostPtr> hosts;
    for (size_t h = 0; h < hostCount; ++h)
        hosts.push_back(FakeBrowserHost::create());
    std::string heard;
    for (const HostStep& step : steps) {
        if (step.act == Replace) {
            const boost::weak_ptr<FakePageObject> dead(object);
            object.reset();
            if (!dead.expired()) {
                ADD_FAILURE() << "something else holds the object that should die";
                return heard;
            }
            object = place.make(page);
            EXPECT_EQ(address, object.get());
        } else {
            FakeBrowserHostPtr& by = hosts.at(static_cast<size_t>(step.host));
            switch (step.act) {
            case Name: by->notifyAtShutdown(object); break;
            case Retain: by->retainJSAPI(object); break;
            case End: by->shutdown(); break;
            default: by.reset(); break;
            }
        }
        heard += std::to_string(object->callsOf("shutdown", "").size());
    }
    for (const FakeBrowserHostPtr& other : hosts) {
        if (other)
            other->shutdown();
    }
    EXPECT_FALSE(FB::NamingHosts::isNamed(object)) << "no entry stays behind for it";
    return heard;
}

// The notice when one object is reached through several hosts (a function
// object of a scriptable object that several instances share): each host
// that names it counts once, and the object hears the notice when the last
// live host that named it shuts down, so what a living page stored on it
// stays; a host that goes without shutting down counts no more, and hosts
// that name it after it heard the notice start a new count. A host still
// notifies what it retains without naming it, and names heard after its
// own shutdown (one of the pages it served is gone) count only while
// another host names the object. Once every host has ended, none names it.
TEST_F(BrowserHostTest, AnObjectSeveralHostsNamedHearsTheNoticeFromTheLastOfThem)
{
    enum { A, B, C, D };
    const NamingCase cases[] = {
        {"one host names it", {{A, Name}, {A, End}}, "01"},
        {"one host retains it", {{A, Retain}, {A, End}}, "01"},
        {"one host names and retains it, and shuts down twice",
         {{A, Name}, {A, Retain}, {A, Name}, {A, End}, {A, End}}, "00011"},
        {"named after its only host ended", {{A, End}, {A, Name}}, "01"},
        {"two hosts name it, the first ends first", {{A, Name}, {B, Name}, {A, End}, {B, End}}, "0001"},
        {"two hosts name it, the last ends first", {{A, Name}, {B, Name}, {B, End}, {A, End}}, "0001"},
        {"two hosts name and retain it",
         {{A, Name}, {A, Retain}, {B, Name}, {B, Retain}, {A, End}, {B, End}}, "000001"},
        {"a host naming it twice counts once", {{A, Name}, {A, Name}, {B, Name}, {B, End}, {A, End}},
         "00001"},
        {"named after its host ended while another names it", {{B, Name}, {A, End}, {A, Name}, {B, End}},
         "0001"},
        {"a host that goes without shutting down", {{A, Name}, {B, Name}, {B, Go}, {A, End}}, "0001"},
        {"named anew after it heard the notice",
         {{A, Name}, {B, Name}, {A, End}, {B, End}, {C, Name}, {D, Name}, {C, End}, {D, End}},
         "00011112"},
        {"retained by one host, named by another", {{A, Retain}, {B, Name}, {A, End}, {B, End}}, "0012"},
        {"named again by its only host after it heard the notice from it",
         {{A, Name}, {A, End}, {A, Name}, {A, Name}}, "0123"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.heard, noticesHeard(host, 4, c.steps));
    }
}

// An object made at the address where a named one died has a count of its
// own: it hears the notice when, and only when, the last live host that named
// it shuts down, at once when named by a host that has ended while only the
// dead one is still named, and from a host that retains it whether or not
// that host named the dead one. The dead one's hosts - naming, ending, going -
// never count for it.
TEST_F(BrowserHostTest, AnObjectMadeWhereANamedOneDiedHasACountOfItsOwn)
{
    // Here: the step is the address's, no host's.
    enum { A, B, C, Here };
    const NamingCase cases[] = {
        {"named only by hosts that never named the dead one",
         {{A, Name}, {B, Name}, {Here, Replace}, {C, Name}, {C, End}, {A, End}, {B, End}}, "0000111"},
        {"the dead one's host ends while two others name the new one",
         {{A, Name}, {Here, Replace}, {B, Name}, {C, Name}, {A, End}, {B, End}, {C, End}}, "0000001"},
        {"the dead one's host goes while two others name the new one",
         {{A, Name}, {Here, Replace}, {B, Name}, {C, Name}, {A, Go}, {B, End}, {C, End}}, "0000001"},
        {"named by a host that named the dead one",
         {{A, Name}, {B, Name}, {Here, Replace}, {A, Name}, {B, End}, {A, End}}, "000001"},
        {"named by a host that has ended while the dead one is named",
         {{A, Name}, {Here, Replace}, {B, End}, {B, Name}, {A, End}}, "00011"},
        {"retained by a host that named the dead one",
         {{A, Name}, {B, Name}, {Here, Replace}, {A, Retain}, {A, End}, {B, End}}, "000011"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.heard, noticesHeard(host, 3, c.steps));
    }
}

// Released by address and weak reference (a browser object going away):
// only the very object the reference names, not another object at that
// address.
TEST_F(BrowserHostTest, ReleaseByAddressTakesOnlyTheObjectTheReferenceNames)
{
    FakePageObjectPtr kept = host->newObject();
    FakePageObjectPtr other = host->newObject();
    boost::weak_ptr<FakePageObject> weakKept(kept);
    host->retainJSAPI(kept);
    host->releaseJSAPI(kept.get(), FB::JSAPIWeakPtr(other));
    FakePageObjectPtr gone = host->newObject();
    FB::JSAPIWeakPtr expired(gone);
    gone.reset();
    host->releaseJSAPI(kept.get(), expired);
    kept.reset();
    ASSERT_FALSE(weakKept.expired()) << "still retained";

    host->releaseJSAPI(weakKept.lock().get(), FB::JSAPIWeakPtr(weakKept.lock()));
    EXPECT_TRUE(weakKept.expired());
}

// The notices follow the order of first retention, whatever was released
// and retained again in between: retaining a held object keeps its place, a
// released one retained anew goes last.
TEST_F(BrowserHostTest, ShutdownNoticesFollowTheOrderOfFirstRetention)
{
    std::vector<std::string> log;
    std::vector<boost::shared_ptr<NoticeOrderObject> > objects;
    for (int i = 0; i < 40; ++i) {
        objects.push_back(boost::make_shared<NoticeOrderObject>(host, std::to_string(i), &log));
        host->retainJSAPI(objects.back());
    }
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i) {
        if (i % 3 == 0)
            host->releaseJSAPI(objects[i]);
        else
            expected.push_back("notice " + std::to_string(i));
    }
    host->retainJSAPI(objects[5]);
    host->retainJSAPI(objects[9]);
    host->retainJSAPI(objects[0]);
    expected.push_back("notice 9");
    expected.push_back("notice 0");
    objects.clear();
    host->shutdown();

    std::vector<std::string> notices;
    for (const std::string& entry : log) {
        if (entry.compare(0, 7, "notice ") == 0)
            notices.push_back(entry);
    }
    EXPECT_EQ(expected, notices);
}

// The host drops its references in the order of first retention too, both
// when told to release them all and at shutdown: an object whose last
// reference goes releases its own browser objects, so the order reaches the
// browser.
TEST_F(BrowserHostTest, RetainedObjectsAreDroppedInTheOrderOfFirstRetention)
{
    const struct {
        const char* how;
        std::function<void()> releaseAll;
    } ways[] = {
        {"releaseAllJSAPI", [this] { host->releaseAllJSAPI(); }},
        {"shutdown", [this] { host->shutdown(); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        std::vector<std::string> log;
        std::vector<std::string> expected;
        {
            std::vector<boost::shared_ptr<NoticeOrderObject> > objects;
            for (int i = 0; i < 40; ++i) {
                objects.push_back(boost::make_shared<NoticeOrderObject>(host, std::to_string(i), &log));
                host->retainJSAPI(objects.back());
            }
            // Released and retained anew: it goes last.
            host->releaseJSAPI(objects[7]);
            host->retainJSAPI(objects[7]);
            for (int i = 0; i < 40; ++i) {
                if (i != 7)
                    expected.push_back("released " + std::to_string(i));
            }
            expected.push_back("released 7");
        }
        ASSERT_TRUE(log.empty()) << "the host holds every object";
        way.releaseAll();

        std::vector<std::string> released;
        for (const std::string& entry : log) {
            if (entry.compare(0, 9, "released ") == 0)
                released.push_back(entry);
        }
        EXPECT_EQ(expected, released);
    }
}

class ThrowingShutdownObject : public FakePageObject {
public:
    explicit ThrowingShutdownObject(const FB::BrowserHostPtr& host) : FakePageObject(host) {}
    void shutdown() override { throw std::runtime_error("refuses to shut down"); }
};

TEST_F(BrowserHostTest, AnObjectThatFailsToShutDownDoesNotStopTheHostsShutdown)
{
    host->retainJSAPI(boost::make_shared<ThrowingShutdownObject>(host));
    FakePageObjectPtr after = host->newObject();
    host->retainJSAPI(after);
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    ASSERT_TRUE(host->scheduleAsyncCall(&countRun, &counter));

    EXPECT_NO_THROW(host->shutdown());
    EXPECT_TRUE(host->isShutDown());
    EXPECT_EQ(1u, after->callsOf("shutdown", "").size());
    EXPECT_EQ(1, counter.runs);
}

class SelfReleasingObject : public FakePageObject {
public:
    explicit SelfReleasingObject(const FB::BrowserHostPtr& host) : FakePageObject(host) {}
    void shutdown() override
    {
        FakePageObject::shutdown();
        getHost()->releaseJSAPI(shared_from_this());
    }
};

TEST_F(BrowserHostTest, AnObjectMayReleaseItselfDuringItsShutdownNotice)
{
    boost::shared_ptr<SelfReleasingObject> self = boost::make_shared<SelfReleasingObject>(host);
    boost::weak_ptr<SelfReleasingObject> weakSelf(self);
    FakePageObjectPtr next = host->newObject();
    host->retainJSAPI(self);
    host->retainJSAPI(next);
    self.reset();
    host->shutdown();
    EXPECT_TRUE(weakSelf.expired());
    EXPECT_EQ(1u, next->callsOf("shutdown", "").size());
}

// The page helper function and delayed calls.

const char kHelperScript4608[] =
    "window.__FB_CALL_4608 = function(delay, f, args, fname) {   if (arguments.length == 3)  "
    "     return setTimeout(function() { f.apply(null, args); }, delay);   else       return "
    "setTimeout(function() { f[fname].apply(f, args); }, delay);};";

TEST_F(BrowserHostTest, InstallingTheHelperDefinesItUnderANameFromThePointer)
{
    host->installDelayedCallFunction(reinterpret_cast<const void*>(0x1000));
    ASSERT_EQ(1u, host->scripts().size());
    EXPECT_EQ(kHelperScript4608, host->scripts()[0]);
    EXPECT_TRUE(host->window()->holds("__FB_CALL_4608"));
}

TEST_F(BrowserHostTest, TheFirstDelayedCallInstallsTheHelperUnderTheHostsAddress)
{
    FakePageObjectPtr f = host->newFunction([](const FB::VariantList&) { return FB::variant(); });
    EXPECT_EQ(1, host->InvokeDelayed(250, f, FB::VariantList(), ""));
    ASSERT_EQ(1u, host->window()->helperCalls().size());
    EXPECT_EQ(helperName(host.get()), host->window()->helperCalls()[0].helper);

    // Installed once: the next call reuses it.
    EXPECT_EQ(2, host->InvokeDelayed(0, f, FB::VariantList(), ""));
    EXPECT_EQ(1u, host->scripts().size());
}

TEST_F(BrowserHostTest, WithoutAMethodNameTheHelperGetsThreeArgumentsAndCallsTheFunction)
{
    FB::VariantList seen;
    FakePageObjectPtr f = host->newFunction([&](const FB::VariantList& args) {
        seen = args;
        return FB::variant();
    });
    FB::VariantList args;
    args.push_back(FB::variant(7));
    args.push_back(FB::variant("x"));
    EXPECT_EQ(1, host->InvokeDelayed(250, f, args, ""));

    const auto calls = host->window()->helperCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(3u, calls[0].argCount);
    EXPECT_EQ(250, calls[0].delay);
    EXPECT_EQ(f, calls[0].func);
    EXPECT_EQ(2u, calls[0].args.size());

    EXPECT_TRUE(seen.empty()) << "the page calls f from its timer queue, later";
    EXPECT_EQ(1u, host->window()->runTimers());
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(7, seen[0].convertToInt());
    EXPECT_EQ("x", seen[1].convertToString());
}

TEST_F(BrowserHostTest, WithAMethodNameTheHelperGetsFourArgumentsAndCallsTheMember)
{
    FakePageObjectPtr object = host->newObject();
    int memberCalls = 0;
    object->method("onDone", [&](const FB::VariantList&) {
        ++memberCalls;
        return FB::variant();
    });
    host->InvokeDelayed(0, object, FB::makeVariantList(FB::variant(1)), "onDone");
    const auto calls = host->window()->helperCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(4u, calls[0].argCount);
    EXPECT_EQ("onDone", calls[0].fname);
    host->window()->runTimers();
    EXPECT_EQ(1, memberCalls);
}

TEST_F(BrowserHostTest, WithoutAWindowThereIsNoHelperAndNoDelayedCall)
{
    host->setWindowMode(FakeBrowserHost::WindowMissing);
    EXPECT_FALSE(host->getDelayedCallFunction());
    EXPECT_EQ(-1, host->InvokeDelayed(0, host->newObject(), FB::VariantList(), ""));
    EXPECT_TRUE(host->scripts().empty());
}

TEST_F(BrowserHostTest, AFailingWindowReachesTheCaller)
{
    host->setWindowMode(FakeBrowserHost::WindowThrows);
    EXPECT_THROW(host->InvokeDelayed(0, host->newObject(), FB::VariantList(), ""),
                 std::runtime_error);
}

TEST_F(BrowserHostTest, AHelperThatThePageLostIsInstalledAgain)
{
    FakePageObjectPtr f = host->newObject();
    f->method("", [](const FB::VariantList&) { return FB::variant(); });
    host->InvokeDelayed(0, f, FB::VariantList(), "");
    host->window()->removeProperty(helperName(host.get()));

    EXPECT_EQ(2, host->InvokeDelayed(0, f, FB::VariantList(), ""));
    EXPECT_EQ(2u, host->scripts().size());
}

TEST_F(BrowserHostTest, AHelperNameHoldingNoFunctionIsInstalledAgain)
{
    const std::string name = helperName(host.get());
    host->getDelayedCallFunction();
    host->window()->set(name, FB::variant(42));  // converting it raises bad_variant_cast
    EXPECT_TRUE(host->getDelayedCallFunction());
    EXPECT_EQ(2u, host->scripts().size());
}

TEST_F(BrowserHostTest, AScriptErrorOnTheFirstReadOfTheHelperIsSwallowed)
{
    const std::string name = helperName(host.get());
    int failures = 0;
    host->window()->failOn(name, [&] {
        if (failures++ == 0)
            throw FB::script_error("not yet");
    });
    EXPECT_TRUE(host->getDelayedCallFunction());
    EXPECT_EQ(2u, host->scripts().size());
}

TEST_F(BrowserHostTest, AScriptErrorOnTheSecondReadOfTheHelperReachesTheCaller)
{
    host->window()->failOn(helperName(host.get()), [] { throw FB::script_error("blocked"); });
    try {
        host->getDelayedCallFunction();
        FAIL() << "no error";
    } catch (const FB::script_error& e) {
        EXPECT_STREQ("blocked", e.what());
    }
}

TEST_F(BrowserHostTest, WideScriptsAreEvaluatedAsUtf8)
{
    host->evaluateJavaScript(std::wstring(L"x = '\u00e9';"));
    ASSERT_EQ(1u, host->scripts().size());
    EXPECT_EQ("x = '\xc3\xa9';", host->scripts()[0]);
}

// Page logging.

class HtmlLogTest : public BrowserHostTest {
protected:
    void SetUp() override
    {
        console = host->newObject();
        console->method("log", [](const FB::VariantList&) { return FB::variant(); });
        host->window()->set("console", FB::variant(FB::JSObjectPtr(console)));
    }

    std::string pumpCapturingStdout()
    {
        ::testing::internal::CaptureStdout();
        host->pump();
        return ::testing::internal::GetCapturedStdout();
    }

    FakePageObjectPtr console;
};

TEST_F(HtmlLogTest, TheMessageReachesThePageConsoleFromTheMainThread)
{
    std::thread worker([&] { host->htmlLog("50%s done %d"); });
    worker.join();
    EXPECT_TRUE(console->calls().empty());
    EXPECT_EQ("Logging: 50%s done %d\n", pumpCapturingStdout());
    const auto logs = console->callsOf("invoke", "log");
    ASSERT_EQ(1u, logs.size());
    ASSERT_EQ(1u, logs[0].args.size());
    EXPECT_EQ("50%s done %d", logs[0].args[0].convertToString());
    EXPECT_TRUE(logs[0].onMainThread);
}

TEST_F(HtmlLogTest, DisabledPageLoggingSchedulesNothing)
{
    host->setHtmlLogEnabled(false);
    host->htmlLog("quiet");
    EXPECT_EQ(0, host->handOffs());
    host->setHtmlLogEnabled(true);
    host->htmlLog("loud");
    EXPECT_EQ(1, host->handOffs());
}

TEST_F(HtmlLogTest, AfterShutdownNothingReachesThePage)
{
    host->shutdown();
    host->htmlLog("late");
    EXPECT_EQ("", pumpCapturingStdout());
    EXPECT_TRUE(console->callsOf("invoke", "log").empty());
}

TEST_F(HtmlLogTest, APendingMessageIsLoggedWhenTheHostShutsDown)
{
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    host->htmlLog("last words");
    ::testing::internal::CaptureStdout();
    host->shutdown();
    EXPECT_EQ("Logging: last words\n", ::testing::internal::GetCapturedStdout());
}

TEST_F(HtmlLogTest, APageWithoutConsoleGetsNothing)
{
    host->window()->removeProperty("console");
    host->htmlLog("nobody listens");
    EXPECT_EQ("", pumpCapturingStdout());
    EXPECT_TRUE(console->calls().empty());
}

TEST_F(HtmlLogTest, AConsoleThatIsNullPrintsButCallsNothing)
{
    host->window()->set("console", FB::variant(FB::variant_detail::null()));
    host->htmlLog("null console");
    EXPECT_EQ("Logging: null console\n", pumpCapturingStdout());
    EXPECT_TRUE(console->calls().empty());
}

TEST_F(HtmlLogTest, AFailingConsoleIsSwallowed)
{
    console->failOn("log", [] { throw FB::script_error("console broken"); });
    host->htmlLog("try");
    EXPECT_NO_THROW(pumpCapturingStdout());
    EXPECT_EQ(1u, console->callsOf("invoke", "log").size());

    host->window()->failOn("console", [] { throw FB::script_error("no access"); });
    host->htmlLog("try again");
    EXPECT_EQ("", pumpCapturingStdout());
}

TEST_F(HtmlLogTest, AMissingOrFailingWindowLogsNothing)
{
    host->setWindowMode(FakeBrowserHost::WindowMissing);
    host->htmlLog("a");
    EXPECT_EQ("", pumpCapturingStdout());
    host->setWindowMode(FakeBrowserHost::WindowThrows);
    host->htmlLog("b");
    EXPECT_EQ("", pumpCapturingStdout());
    EXPECT_TRUE(console->calls().empty());
}

TEST(HtmlLogUnowned, AHostWithoutSharedOwnerSwallowsTheFailure)
{
    FakeBrowserHost host;
    EXPECT_NO_THROW(host.htmlLog("nowhere"));
    EXPECT_EQ(0, host.handOffs());
    host.shutdown();
}

} // namespace

// The stream front

namespace {

using testbed::FakeBrowserStream;
using testbed::FakeBrowserStreamPtr;
using testbed::StreamEventLog;
using testbed::StreamEventLogPtr;

typedef std::vector<std::string> Events;

class StreamFrontTest : public BrowserHostTest {
protected:
    StreamEventLogPtr sink = boost::make_shared<StreamEventLog>();
};

TEST_F(StreamFrontTest, AGetStreamWithASinkIsOpenedByTheBindingAndKeptUntilItCompletes)
{
    FB::BrowserStreamPtr opened =
        host->createGetStream("http://127.0.0.1:8080/a?x=1", sink, true, true, 4096);
    ASSERT_TRUE(opened);
    ASSERT_EQ(1u, host->streamRequests().size());
    const FB::BrowserStreamRequest request = host->streamRequests()[0];
    EXPECT_EQ(FB::URI::fromString("http://127.0.0.1:8080/a?x=1"), request.uri);
    EXPECT_EQ("GET", request.method);
    EXPECT_TRUE(request.cache);
    EXPECT_TRUE(request.seekable);
    EXPECT_EQ(4096u, request.internalBufferSize);
    EXPECT_TRUE(request.accepted);
    EXPECT_TRUE(request.postData.empty());
    EXPECT_EQ(Events({"attached", "created"}), sink->events);

    // The manager is the only owner once the caller and the sink let go.
    FakeBrowserStreamPtr stream = host->lastStream();
    EXPECT_EQ(opened, FB::BrowserStreamPtr(stream));
    FakeBrowserStream* raw = stream.get();
    const boost::weak_ptr<FB::BrowserStream> weak(opened);
    opened.reset();
    stream.reset();
    sink->clearStream();
    ASSERT_FALSE(weak.expired());
    raw->open();
    raw->complete(true);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(Events({"attached", "created", "opened", "completed:1", "destroyed"}), sink->events);
}

TEST_F(StreamFrontTest, APostStreamCarriesItsDataWithEmptyPostHeaders)
{
    ASSERT_TRUE(host->createPostStream("http://127.0.0.1/form", sink, "a=1&b=2", false, false, 64));
    const FB::BrowserStreamRequest request = host->streamRequests().at(0);
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ("a=1&b=2", request.postData);
    EXPECT_TRUE(request.postHeaders.empty());
    EXPECT_FALSE(request.cache);
    EXPECT_EQ(64u, request.internalBufferSize);
}

TEST_F(StreamFrontTest, ACallbackWithoutSinkGoesToTheDownloadHelperOnlyWhenAllowed)
{
    std::vector<size_t> finalSizes;
    FB::BrowserStreamRequest request(FB::URI("http://127.0.0.1/d"), "GET", true);
    request.callback = [&](bool, const FB::HeaderMap&, const boost::shared_array<unsigned char>&,
                           size_t size, float, bool finished) {
        if (finished)
            finalSizes.push_back(size);
    };

    const FB::BrowserStreamPtr helped = host->createStream(request, true);
    ASSERT_TRUE(helped);
    const FakeBrowserStreamPtr first = host->lastStream();
    first->open();
    first->deliver(std::string("abc"), 0);
    first->complete(true);
    EXPECT_EQ(std::vector<size_t>({3}), finalSizes);

    const FB::BrowserStreamPtr plain = host->createStream(request, false);
    ASSERT_TRUE(plain);
    const FakeBrowserStreamPtr second = host->lastStream();
    second->open();
    second->deliver(std::string("abcdef"), 0);
    second->complete(true);
    EXPECT_EQ(std::vector<size_t>({3}), finalSizes) << "no helper reads a plain stream";
    EXPECT_EQ(2u, host->streamRequests().size());
}

TEST_F(StreamFrontTest, ARefusedStreamIsNeitherReturnedNorKept)
{
    host->setRefuseStreams(true);
    EXPECT_FALSE(host->createGetStream("http://127.0.0.1/", sink, false, false, 64));
    EXPECT_TRUE(sink->events.empty());
    FB::BrowserStreamRequest request(FB::URI("http://127.0.0.1/"), "GET", true);
    request.callback = [](bool, const FB::HeaderMap&, const boost::shared_array<unsigned char>&,
                          size_t, float, bool) {};
    EXPECT_FALSE(host->createStream(request, true)) << "no helper, no stream";
    EXPECT_EQ(2u, host->streamRequests().size());
}

TEST_F(StreamFrontTest, AnUnsolicitedStreamIsWrappedAndKeptWithoutItsSink)
{
    FB::BrowserStreamRequest request(FB::URI("http://127.0.0.1/pushed"), "GET", false);
    request.sink = sink;
    request.cache = true;
    FB::BrowserStreamPtr stream = host->createUnsolicitedStream(request);
    ASSERT_TRUE(stream);
    EXPECT_FALSE(stream->isCached()) << "the browser's own stream goes to no cache file";
    EXPECT_TRUE(sink->events.empty());
    const boost::weak_ptr<FB::BrowserStream> weak(stream);
    stream.reset();
    EXPECT_FALSE(weak.expired()) << "kept by the stream manager";
}

TEST_F(StreamFrontTest, ShutdownClosesEveryKeptStreamAndThenOpensNoMore)
{
    const FB::BrowserStreamPtr open = host->createGetStream("http://127.0.0.1/1", sink, false, false, 64);
    const StreamEventLogPtr other = boost::make_shared<StreamEventLog>();
    const FB::BrowserStreamPtr waiting =
        host->createGetStream("http://127.0.0.1/2", other, false, false, 64);
    host->stream(0)->open();
    host->shutdown();
    EXPECT_EQ(1, host->stream(0)->closes);
    EXPECT_EQ(1, host->stream(1)->closes);
    EXPECT_EQ("completed:0", sink->events.back());
    EXPECT_EQ("completed:0", other->events.back());

    EXPECT_FALSE(host->createGetStream("http://127.0.0.1/3", sink, false, false, 64));
    FB::BrowserStreamRequest request(FB::URI("http://127.0.0.1/4"), "GET", false);
    EXPECT_FALSE(host->createUnsolicitedStream(request));
    EXPECT_EQ(2u, host->streamRequests().size()) << "the binding was not asked";
}

// Opens a stream from a call that shutdown runs.
struct LateOpener {
    FakeBrowserHost* host;
    StreamEventLogPtr sink;
    FB::BrowserStreamPtr stream;
};

void openLate(void* data)
{
    LateOpener* opener = static_cast<LateOpener*>(data);
    opener->stream = opener->host->createGetStream("http://127.0.0.1/late", opener->sink, false,
                                                   false, 64);
}

TEST_F(StreamFrontTest, AStreamOpenedByACallRunDuringShutdownIsClosedByIt)
{
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    LateOpener opener{host.get(), sink, FB::BrowserStreamPtr()};
    ASSERT_TRUE(host->scheduleAsyncCall(&openLate, &opener));
    host->shutdown();
    ASSERT_TRUE(opener.stream) << "the pending call ran before the manager went";
    EXPECT_EQ(1, host->lastStream()->closes);
    EXPECT_EQ("completed:0", sink->events.back());
}

TEST_F(StreamFrontTest, ProxySettingsComeFromTheSystemDetector)
{
    std::map<std::string, std::string> settings = {{"hostname", "untouched"}};
    EXPECT_FALSE(host->DetectProxySettings(settings, "http://127.0.0.1/"));
    EXPECT_EQ(1u, settings.size());
    EXPECT_EQ("untouched", settings["hostname"]);
}

} // namespace
