// The script event object built for handlers of fired event objects.
#include <gtest/gtest.h>

#include "EventObject.h"
#include "RecordingPageObject.h"
#include "variant.h"

namespace {

FB::VariantList args12() {
    FB::VariantList args;
    args.push_back(FB::variant(1));
    args.push_back(FB::variant(2));
    return args;
}

TEST(MakeEventObject, SetsTheStandardMembersAndKeepsThemFromTheCaller) {
    FB::JSAPIPtr object = RecordingPageObject::make();
    FB::VariantMap members;
    members["type"] = FB::variant(std::string("other"));
    members["k"] = FB::variant(5);
    members["bubbles"] = FB::variant(true);

    FB::VariantMap event = FB::makeEventObject(object, "load", members, args12());

    ASSERT_EQ(9u, event.size());
    EXPECT_EQ("load", event["type"].cast<std::string>());
    EXPECT_EQ(object, event["target"].cast<FB::JSAPIPtr>());
    EXPECT_EQ(object, event["currentTarget"].cast<FB::JSAPIPtr>());
    EXPECT_EQ(2, event["eventPhase"].cast<int>());
    EXPECT_FALSE(event["bubbles"].cast<bool>());
    EXPECT_FALSE(event["cancelable"].cast<bool>());
    EXPECT_EQ("load", event["namespaceURI"].cast<std::string>());
    EXPECT_EQ(5, event["k"].cast<int>());
    FB::VariantList args = event["arguments"].cast<FB::VariantList>();
    ASSERT_EQ(2u, args.size());
    EXPECT_EQ(1, args[0].cast<int>());
    EXPECT_EQ(2, args[1].cast<int>());
}

TEST(MakeEventObject, AMemberNamedArgumentsIsReplacedByTheArgumentList) {
    FB::VariantMap members;
    members["arguments"] = FB::variant(std::string("mine"));
    FB::VariantMap event = FB::makeEventObject(RecordingPageObject::make(), "e", members, args12());
    EXPECT_EQ(2u, event["arguments"].cast<FB::VariantList>().size());
}

TEST(MakeEventObject, AnEmptyObjectIsStoredAsNull) {
    FB::VariantMap event = FB::makeEventObject(FB::JSAPIPtr(), "e", FB::VariantMap(), FB::VariantList());
    EXPECT_TRUE(event["target"].isNull());
    EXPECT_TRUE(event["currentTarget"].isNull());
    EXPECT_TRUE(event["arguments"].cast<FB::VariantList>().empty());
}

TEST(MakeEventObject, ShortFormsUseNoMembersOrNoArguments) {
    FB::JSAPIPtr object = RecordingPageObject::make();
    FB::VariantMap withArgs = FB::makeEventObject(object, "e", args12());
    EXPECT_EQ(8u, withArgs.size());
    EXPECT_EQ(2u, withArgs["arguments"].cast<FB::VariantList>().size());

    FB::VariantMap members;
    members["k"] = FB::variant(5);
    FB::VariantMap withMembers = FB::makeEventObject(object, "e", members);
    EXPECT_EQ(9u, withMembers.size());
    EXPECT_TRUE(withMembers["arguments"].cast<FB::VariantList>().empty());
    EXPECT_EQ(5, withMembers["k"].cast<int>());
}

} // namespace
