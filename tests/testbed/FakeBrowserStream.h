// testbed::FakeBrowserStream: a browser stream without a browser, driven by
// the test the way the NPAPI binding drives its stream.
//
// Event order as the binding sends it: open() (or failOpen()), then
// deliver() for each chunk, then one completion - complete(success), or
// close() on a stream not yet completed, which reports failure. A seekable
// stream's successful completion leaves it open for range reads. Chunks of a
// closed stream send nothing; deliver() answers the bytes taken (at most the
// internal buffer size). readRanges and write are recorded; their answers
// are set by the test. close() can be made to throw after it has completed
// the stream, as a failing sink or browser would, or to send nothing.
// Made by testbed::FakeBrowserHost::_createStream or directly with
// boost::make_shared. Main thread, like every stream.
#ifndef TESTBED_FAKEBROWSERSTREAM_H
#define TESTBED_FAKEBROWSERSTREAM_H

#include <cstddef>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "BrowserStream.h"

namespace testbed {

class FakeBrowserStream;
typedef boost::shared_ptr<FakeBrowserStream> FakeBrowserStreamPtr;

class FakeBrowserStream : public FB::BrowserStream {
public:
    FakeBrowserStream(const std::string& url, bool cache, bool seekable, size_t internalBufferSize);
    ~FakeBrowserStream() override;

    // The browser's side.
    void open();
    void failOpen();
    // Sends the chunk at the offset; progress as the binding computes it
    // (percent of the stream's length, 0 when the length is unknown).
    size_t deliver(const void* data, size_t length, size_t offset);
    size_t deliver(const std::string& bytes, size_t offset);
    // Does nothing for a completed stream, and for a seekable stream's
    // successful end.
    void complete(bool success);

    // FB::BrowserStream
    bool readRanges(const std::vector<Range>& ranges) override;
    bool write(const char* data, size_t length, size_t& written) override;
    bool close() override;

    // What the plugin asked for.
    std::vector<std::vector<Range> > rangeRequests;
    std::string written;
    int closes;
    // The browser's answers.
    bool acceptReads;
    bool closeFails;
    // close() only counts itself and sends nothing, as a browser that drops
    // a stream without a word.
    bool silentClose;

private:
    // completed := true, open := false, then the one completion event.
    void finish(bool success);
};

} // namespace testbed

#endif
