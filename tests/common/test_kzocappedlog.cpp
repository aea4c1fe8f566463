// The log file's cap: writes pass while they fit with room for the closing
// notice; the first that does not is replaced by the notice, and everything
// after it is dropped but reported as written.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../talk/base/logcapture.h"
#include "kzocappedlog.h"

namespace {

const std::string kNotice = "Log file size limit reached; further lines are dropped.\n";

struct CapCase {
    const char* what;
    size_t cap;
    std::vector<std::string> writes;
    std::string file;
};

TEST(CappedLogStream, PassesWhatFitsThenOneNoticeThenNothing)
{
    const std::string ten = "0123456789";
    const size_t room = kNotice.size();
    const CapCase cases[] = {
        {"far below the cap", 1000, {"a\n", "b\n"}, "a\nb\n"},
        {"exactly up to the cap", room + 20, {ten, ten, "x"}, ten + ten + kNotice},
        {"one byte over", room + 19, {ten, ten, "x"}, ten + kNotice},
        {"a short line after the notice is dropped too", room + 15, {ten, ten, "x"},
         ten + kNotice},
        {"a cap below the notice gives the notice alone", 10, {"a", "b"}, kNotice},
        {"a cap of the notice's size holds the notice alone", room, {"", "a"}, kNotice},
    };
    for (const CapCase& c : cases) {
        SCOPED_TRACE(c.what);
        CaptureSink sink;
        {
            CappedLogStream stream(new CaptureStream(&sink), c.cap);
            for (const std::string& write : c.writes) {
                size_t written = 12345;
                EXPECT_EQ(talk_base::SR_SUCCESS,
                          stream.WriteAll(write.data(), write.size(), &written, nullptr));
                EXPECT_EQ(write.size(), written) << "dropped writes count as done";
            }
            EXPECT_EQ(c.file.size(), stream.bytesWritten());
            EXPECT_EQ(c.file.find(kNotice) != std::string::npos, stream.dropping());
        }
        EXPECT_EQ(c.file, sink.text);
        EXPECT_TRUE(sink.deleted) << "the stream owns the file";
    }
}

TEST(CappedLogStream, TheDefaultCapIsTenMebibytes)
{
    EXPECT_EQ(10u * 1024 * 1024, CappedLogStream::kDefaultCap);
}

} // namespace
