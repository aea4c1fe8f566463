// The copy of the browser's table: by the browser's version, and never past
// the browser's own size.
#include <cstring>

#include <gtest/gtest.h>

#include "NpapiBrowserFuncs.h"

namespace {

// A table whose every entry holds a distinct non-null value.
NPNetscapeFuncs fullTable(uint16_t version, uint16_t size = sizeof(NPNetscapeFuncs))
{
    NPNetscapeFuncs table;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&table);
    for (size_t i = 0; i < sizeof(table); ++i)
        bytes[i] = static_cast<unsigned char>(i | 1);
    table.size = size;
    table.version = version;
    return table;
}

template <class F>
bool copied(F entry)
{
    return entry != nullptr;
}

struct VersionCase {
    uint16_t version;
    bool popups, enumerate, threadCall, urlInfo, timers;
};

class CopyByVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(CopyByVersion, CopiesTheEntriesOfTheVersion)
{
    const VersionCase c = GetParam();
    const NPNetscapeFuncs source = fullTable(c.version);
    NPNetscapeFuncs copy;
    std::memset(&copy, 0xff, sizeof(copy));
    FB::Npapi::copyBrowserFuncs(&copy, &source);

    EXPECT_EQ(source.size, copy.size);
    EXPECT_EQ(c.version, copy.version);
    // Entries of every version.
    EXPECT_EQ(source.geturl, copy.geturl);
    EXPECT_EQ(source.memalloc, copy.memalloc);
    EXPECT_EQ(source.getvalue, copy.getvalue);
    EXPECT_EQ(source.invoke, copy.invoke);
    EXPECT_EQ(source.setexception, copy.setexception);
    EXPECT_EQ(source.construct, copy.construct);
    // Never copied.
    EXPECT_FALSE(copied(copy.getJavaEnv));
    EXPECT_FALSE(copied(copy.getJavaPeer));
    EXPECT_FALSE(copied(copy.popupcontextmenu));
    EXPECT_FALSE(copied(copy.urlredirectresponse));
    // By version.
    EXPECT_EQ(c.popups, copied(copy.pushpopupsenabledstate));
    EXPECT_EQ(c.popups, copied(copy.poppopupsenabledstate));
    EXPECT_EQ(c.enumerate, copied(copy.enumerate));
    EXPECT_EQ(c.threadCall, copied(copy.pluginthreadasynccall));
    EXPECT_EQ(c.urlInfo, copied(copy.getvalueforurl));
    EXPECT_EQ(c.urlInfo, copied(copy.setvalueforurl));
    EXPECT_EQ(c.urlInfo, copied(copy.getauthenticationinfo));
    EXPECT_EQ(c.timers, copied(copy.scheduletimer));
    EXPECT_EQ(c.timers, copied(copy.unscheduletimer));
}

INSTANTIATE_TEST_SUITE_P(Versions, CopyByVersion,
                         ::testing::Values(VersionCase{13, false, false, false, false, false},
                                           VersionCase{16, true, false, false, false, false},
                                           VersionCase{18, true, true, false, false, false},
                                           VersionCase{19, true, true, true, false, false},
                                           VersionCase{20, true, true, true, false, false},
                                           VersionCase{21, true, true, true, true, false},
                                           VersionCase{22, true, true, true, true, false},
                                           VersionCase{23, true, true, true, true, true},
                                           VersionCase{27, true, true, true, true, true}));

TEST(CopyBySize, AShorterTableIsNeverReadPastItsEnd)
{
    // A browser of a new version whose table ends right after setexception:
    // the bytes after it belong to someone else.
    const uint16_t size = offsetof(NPNetscapeFuncs, pushpopupsenabledstate);
    struct {
        NPNetscapeFuncs table;
    } buffer;
    buffer.table = fullTable(27, size);
    NPNetscapeFuncs copy;
    FB::Npapi::copyBrowserFuncs(&copy, &buffer.table);

    EXPECT_EQ(buffer.table.setexception, copy.setexception);
    EXPECT_FALSE(copied(copy.pushpopupsenabledstate));
    EXPECT_FALSE(copied(copy.enumerate));
    EXPECT_FALSE(copied(copy.pluginthreadasynccall));
    EXPECT_FALSE(copied(copy.construct));
    EXPECT_FALSE(copied(copy.scheduletimer));
}

TEST(CopyBySize, AnEntryCutInHalfIsNotCopied)
{
    const uint16_t size = offsetof(NPNetscapeFuncs, enumerate) + 4;
    const NPNetscapeFuncs source = fullTable(27, size);
    NPNetscapeFuncs copy;
    FB::Npapi::copyBrowserFuncs(&copy, &source);
    EXPECT_EQ(source.poppopupsenabledstate, copy.poppopupsenabledstate);
    EXPECT_FALSE(copied(copy.enumerate));
}

TEST(CopyBySize, NoSourceGivesAnEmptyTable)
{
    NPNetscapeFuncs copy;
    std::memset(&copy, 0xff, sizeof(copy));
    FB::Npapi::copyBrowserFuncs(&copy, nullptr);
    EXPECT_EQ(0, copy.size);
    EXPECT_FALSE(copied(copy.geturl));
    EXPECT_FALSE(copied(copy.memfree));
}

} // namespace
