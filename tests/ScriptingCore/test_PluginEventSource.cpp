// Event delivery from a source to its sinks: attach order, the handled answer,
// weak observers, sinks that attach, detach or drop things from inside a
// handler, and the observer lock across threads.
#include <algorithm>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/bind/bind.hpp>
#include <boost/function.hpp>
#include <boost/make_shared.hpp>
#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include "PluginEventSource.h"
#include "PluginEvents/AttachedEvent.h"
#include "PluginEvents/DetachedEvent.h"
#include "PluginEvents/MouseEvents.h"
#include "PluginEvents/WindowEvents.h"
#include "Watchdog.h"

namespace {

// One line per received event: "<sink>:<kind>".
typedef std::vector<std::string> EventLog;

std::string kindOf(FB::PluginEvent* evt)
{
    if (dynamic_cast<FB::AttachedEvent*>(evt))
        return "attached";
    if (dynamic_cast<FB::DetachedEvent*>(evt))
        return "detached";
    if (dynamic_cast<FB::MouseDownEvent*>(evt))
        return "mousedown";
    if (dynamic_cast<FB::MouseEvent*>(evt))
        return "mouse";
    return "other";
}

class RecordingSink : public FB::PluginEventSink {
public:
    typedef boost::function<void(FB::PluginEvent*, FB::PluginEventSource*)> Action;

    RecordingSink(const std::string& name, EventLog* log, bool answer = false)
        : name(name), log(log), answer(answer) {}

    bool HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource* source) override
    {
        log->push_back(name + ":" + kindOf(evt));
        lastSource = source;
        if (action && !dynamic_cast<FB::AttachedEvent*>(evt) &&
            !dynamic_cast<FB::DetachedEvent*>(evt))
            action(evt, source);
        return answer;
    }

    std::string name;
    EventLog* log;
    bool answer;
    Action action;
    FB::PluginEventSource* lastSource = nullptr;
};

typedef boost::shared_ptr<RecordingSink> RecordingSinkPtr;

class EventSourceTest : public ::testing::Test {
protected:
    RecordingSinkPtr makeSink(const std::string& name, bool answer = false)
    {
        return boost::make_shared<RecordingSink>(name, &log, answer);
    }

    // The events delivered since the last call, attach and detach notices
    // included.
    EventLog take()
    {
        EventLog out;
        out.swap(log);
        return out;
    }

    bool send()
    {
        FB::MouseMoveEvent evt(1, 2, 0);
        return source->SendEvent(&evt);
    }

    EventLog log;
    FB::PluginEventSourcePtr source = boost::make_shared<FB::PluginEventSource>();
};

struct DeliveryCase {
    const char* name;
    bool answers[3];
    bool handled;
    EventLog delivered;
};

class DeliveryOrderTest : public EventSourceTest,
                          public ::testing::WithParamInterface<DeliveryCase> {};

TEST_P(DeliveryOrderTest, OffersInAttachOrderUntilOneHandles)
{
    const DeliveryCase& c = GetParam();
    std::vector<RecordingSinkPtr> sinks;
    const char* names[] = {"a", "b", "c"};
    for (int i = 0; i < 3; ++i) {
        sinks.push_back(makeSink(names[i], c.answers[i]));
        source->AttachObserver(sinks.back());
    }
    take();
    EXPECT_EQ(c.handled, send());
    EXPECT_EQ(c.delivered, take());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DeliveryOrderTest,
    ::testing::Values(
        DeliveryCase{"none", {false, false, false}, false, {"a:mouse", "b:mouse", "c:mouse"}},
        DeliveryCase{"second", {false, true, false}, true, {"a:mouse", "b:mouse"}},
        DeliveryCase{"first", {true, true, true}, true, {"a:mouse"}},
        DeliveryCase{"last", {false, false, true}, true, {"a:mouse", "b:mouse", "c:mouse"}}),
    [](const ::testing::TestParamInfo<DeliveryCase>& info) { return std::string(info.param.name); });

TEST_F(EventSourceTest, AttachedEventArrivesBeforeAttachReturns)
{
    RecordingSinkPtr a = makeSink("a");
    source->AttachObserver(a);
    EXPECT_EQ(EventLog{"a:attached"}, take());
    EXPECT_EQ(source.get(), a->lastSource);
}

TEST_F(EventSourceTest, NoSinksMeansNotHandled)
{
    EXPECT_FALSE(send());
}

TEST_F(EventSourceTest, SinksAreHeldWeakly)
{
    RecordingSinkPtr a = makeSink("a", true);
    boost::weak_ptr<RecordingSink> weak(a);
    source->AttachObserver(a);
    a.reset();
    EXPECT_TRUE(weak.expired()) << "attaching must not keep the sink alive";
    take();
    EXPECT_FALSE(send());
    EXPECT_TRUE(take().empty());
}

TEST_F(EventSourceTest, ExpiredEntriesAreSkippedAndLaterSinksStillServed)
{
    RecordingSinkPtr a = makeSink("a", true);
    RecordingSinkPtr b = makeSink("b", true);
    source->AttachObserver(a);
    source->AttachObserver(b);
    a.reset();
    take();
    EXPECT_TRUE(send());
    EXPECT_EQ(EventLog{"b:mouse"}, take());
}

TEST_F(EventSourceTest, SinkAttachedTwiceIsServedTwiceAndDetachedTwice)
{
    RecordingSinkPtr a = makeSink("a");
    RecordingSinkPtr b = makeSink("b");
    source->AttachObserver(a);
    source->AttachObserver(b);
    source->AttachObserver(a);
    EXPECT_EQ((EventLog{"a:attached", "b:attached", "a:attached"}), take());

    EXPECT_FALSE(send());
    EXPECT_EQ((EventLog{"a:mouse", "b:mouse", "a:mouse"}), take());

    source->DetachObserver(a);
    EXPECT_EQ((EventLog{"a:detached", "a:detached"}), take());
    send();
    EXPECT_EQ(EventLog{"b:mouse"}, take());
}

TEST_F(EventSourceTest, SinkThatHandlesStopsItsOwnSecondEntry)
{
    RecordingSinkPtr a = makeSink("a", true);
    source->AttachObserver(a);
    source->AttachObserver(a);
    take();
    EXPECT_TRUE(send());
    EXPECT_EQ(EventLog{"a:mouse"}, take());
}

TEST_F(EventSourceTest, DetachingASinkThatIsNotAttachedSendsNothing)
{
    RecordingSinkPtr a = makeSink("a");
    RecordingSinkPtr stranger = makeSink("x");
    source->AttachObserver(a);
    take();
    source->DetachObserver(stranger);
    EXPECT_TRUE(take().empty());
    send();
    EXPECT_EQ(EventLog{"a:mouse"}, take());
}

TEST_F(EventSourceTest, RawPointerFormsUseTheSinksOwnSharedPointer)
{
    RecordingSinkPtr a = makeSink("a");
    source->AttachObserver(a.get());
    send();
    source->DetachObserver(a.get());
    send();
    EXPECT_EQ((EventLog{"a:attached", "a:mouse", "a:detached"}), take());
}

TEST_F(EventSourceTest, RawPointerToUnownedSinkThrowsBadWeakPtrAndChangesNothing)
{
    RecordingSink unowned("u", &log);
    EXPECT_THROW(source->AttachObserver(&unowned), boost::bad_weak_ptr);
    EXPECT_THROW(source->DetachObserver(&unowned), boost::bad_weak_ptr);
    EXPECT_FALSE(send());
    EXPECT_TRUE(take().empty());
}

// The raw forms go through the virtual table, so an override of the shared
// form sees every attach and detach.
class CountingSource : public FB::PluginEventSource {
public:
    using FB::PluginEventSource::AttachObserver;
    using FB::PluginEventSource::DetachObserver;
    void AttachObserver(const FB::PluginEventSinkPtr& sink) override
    {
        ++attaches;
        FB::PluginEventSource::AttachObserver(sink);
    }
    void DetachObserver(const FB::PluginEventSinkPtr& sink) override
    {
        ++detaches;
        FB::PluginEventSource::DetachObserver(sink);
    }
    int attaches = 0;
    int detaches = 0;
};

TEST_F(EventSourceTest, RawPointerFormsDispatchToTheSharedOverride)
{
    boost::shared_ptr<CountingSource> counting = boost::make_shared<CountingSource>();
    RecordingSinkPtr a = makeSink("a");
    counting->AttachObserver(a.get());
    counting->DetachObserver(a.get());
    EXPECT_EQ(1, counting->attaches);
    EXPECT_EQ(1, counting->detaches);
}

TEST_F(EventSourceTest, SinkAttachedDuringDeliveryGetsOnlyLaterEvents)
{
    RecordingSinkPtr late = makeSink("late");
    RecordingSinkPtr a = makeSink("a");
    bool attached = false;
    a->action = [&](FB::PluginEvent*, FB::PluginEventSource* src) {
        if (!attached) {
            attached = true;
            src->AttachObserver(late);
        }
    };
    source->AttachObserver(a);
    take();
    send();
    EXPECT_EQ((EventLog{"a:mouse", "late:attached"}), take());
    send();
    EXPECT_EQ((EventLog{"a:mouse", "late:mouse"}), take());
}

TEST_F(EventSourceTest, SinksDetachingThemselvesDoNotDisturbTheDelivery)
{
    RecordingSinkPtr a = makeSink("a");
    RecordingSinkPtr b = makeSink("b");
    RecordingSinkPtr c = makeSink("c");
    a->action = [&](FB::PluginEvent*, FB::PluginEventSource* src) { src->DetachObserver(a); };
    b->action = [&](FB::PluginEvent*, FB::PluginEventSource* src) { src->DetachObserver(b); };
    source->AttachObserver(a);
    source->AttachObserver(b);
    source->AttachObserver(c);
    take();
    EXPECT_FALSE(send());
    EXPECT_EQ((EventLog{"a:mouse", "a:detached", "b:mouse", "b:detached", "c:mouse"}), take());
    send();
    EXPECT_EQ(EventLog{"c:mouse"}, take());
}

TEST_F(EventSourceTest, SinkMayDropItsLastReferenceInsideItsHandler)
{
    RecordingSinkPtr a = makeSink("a", true);
    a->action = [&](FB::PluginEvent*, FB::PluginEventSource* src) {
        src->DetachObserver(a);
        a.reset();
    };
    source->AttachObserver(a);
    take();
    EXPECT_TRUE(send());
    EXPECT_FALSE(a);
    EXPECT_EQ((EventLog{"a:mouse", "a:detached"}), take());
}

TEST_F(EventSourceTest, HandlerMayDropTheLastReferenceToTheSource)
{
    boost::weak_ptr<FB::PluginEventSource> weakSource(source);
    RecordingSinkPtr a = makeSink("a");
    RecordingSinkPtr b = makeSink("b", true);
    a->action = [&](FB::PluginEvent*, FB::PluginEventSource*) { source.reset(); };
    boost::shared_ptr<FB::PluginEventSource> held(source);
    held->AttachObserver(a);
    held->AttachObserver(b);
    held.reset();
    take();
    EXPECT_TRUE(send());
    EXPECT_TRUE(weakSource.expired());
    EXPECT_EQ((EventLog{"a:mouse", "b:mouse"}), take());
}

TEST_F(EventSourceTest, ExceptionFromASinkReachesTheSenderAndStopsTheDelivery)
{
    RecordingSinkPtr a = makeSink("a");
    RecordingSinkPtr b = makeSink("b");
    a->action = [](FB::PluginEvent*, FB::PluginEventSource*) { throw std::runtime_error("boom"); };
    source->AttachObserver(a);
    source->AttachObserver(b);
    take();
    EXPECT_THROW(send(), std::runtime_error);
    EXPECT_EQ(EventLog{"a:mouse"}, take());

    // The lock was released: another thread can deliver.
    a->action = RecordingSink::Action();
    bool handledElsewhere = true;
    std::future<bool> other = std::async(std::launch::async, [&] { return send(); });
    ASSERT_EQ(std::future_status::ready, other.wait_for(std::chrono::seconds(5)));
    handledElsewhere = other.get();
    EXPECT_FALSE(handledElsewhere);
    EXPECT_EQ((EventLog{"a:mouse", "b:mouse"}), take());
}

TEST_F(EventSourceTest, AnotherThreadWaitsUntilTheDeliveryEnds)
{
    testbed::Watchdog watchdog(20);
    boost::mutex m;
    boost::condition_variable cv;
    bool inHandler = false;
    bool release = false;
    int entered = 0;
    int maxInside = 0;
    int inside = 0;

    RecordingSinkPtr a = makeSink("a");
    a->action = [&](FB::PluginEvent*, FB::PluginEventSource*) {
        boost::unique_lock<boost::mutex> lock(m);
        ++inside;
        maxInside = std::max(maxInside, inside);
        if (++entered == 1) {
            inHandler = true;
            cv.notify_all();
            while (!release)
                cv.wait(lock);
        }
        --inside;
    };
    source->AttachObserver(a);

    boost::thread first([&] { send(); });
    {
        boost::unique_lock<boost::mutex> lock(m);
        while (!inHandler)
            cv.wait(lock);
    }
    boost::thread second([&] { send(); });
    // The second delivery cannot enter while the first holds the source.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        boost::unique_lock<boost::mutex> lock(m);
        EXPECT_EQ(1, entered);
        release = true;
        cv.notify_all();
    }
    first.join();
    second.join();
    EXPECT_EQ(2, entered);
    EXPECT_EQ(1, maxInside);
}

} // namespace
