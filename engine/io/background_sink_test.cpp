#include "engine/io/background_sink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/io/error.h"
#include "engine/io/threads.h"

namespace halvic {
namespace {

// Keeps what it is handed until it has taken `limit` bytes, then fails.
class CLimitedSink : public CByteSink {
  public:
    explicit CLimitedSink(std::size_t limit) : CByteSink(100), m_nLimit(limit) {}
    // What it took, without handing on its own buffer.
    const std::string& Taken() const { return m_strTaken; }

  protected:
    void Drain(const unsigned char* data, std::size_t size) override {
        if (m_strTaken.size() + size > m_nLimit)
            throw CFailure({"out.qxd", 0, "No space left on device"});
        m_strTaken.append(reinterpret_cast<const char*>(data), size);
    }

  private:
    std::size_t m_nLimit;
    std::string m_strTaken;
};

// Bytes written as single bytes, short and long runs, and handed over whole, so that every path
// of the sink is taken.
std::string WriteMixed(CByteSink& sink, std::size_t total) {
    std::string written;
    for (std::size_t i = 0; written.size() < total; ++i) {
        std::string run(i % 7 == 0 ? 3000 : i % 13, static_cast<char>('a' + i % 26));
        written += run;
        if (run.size() == 1) {
            sink.Put(static_cast<unsigned char>(run[0]));
        } else if (i % 11 == 0) {
            // Handed over whole: the buffer comes back empty.
            COwnedBytes owned;
            owned.Resize(run.size());
            if (!run.empty()) std::memcpy(owned.Data(), run.data(), run.size());
            sink.Hand(owned);
            EXPECT_EQ(owned.Size(), 0u);
        } else {
            sink.Write(run);
        }
    }
    return written;
}

TEST(BackgroundSinkTest, HandsEveryByteOnInOrder) {
    for (std::size_t capacity : {1, 64, 1000, 1 << 18}) {
        for (std::size_t total : {0, 10, 5000, 300000}) {
            CMemorySink target(100);
            CBackgroundSink sink(target, capacity, capacity == 64 ? 1 : 4);
            std::string written = WriteMixed(sink, total);
            sink.Finish();
            EXPECT_EQ(target.Bytes(), written) << "capacity " << capacity << " total " << total;
            EXPECT_EQ(sink.BytesWritten(), written.size());
        }
    }
}

TEST(BackgroundSinkTest, RaisesTheTargetsFailureLater) {
    CMemorySink whole(100);
    WriteMixed(whole, 200000);
    for (std::size_t depth : {1, 4}) {
        CLimitedSink target(50000);
        CBackgroundSink sink(target, 1000, depth);
        try {
            WriteMixed(sink, 200000);
            sink.Finish();
            FAIL() << "the target's failure was lost";
        } catch (const CFailure& failure) {
            EXPECT_EQ(failure.Error().Message(), "out.qxd: No space left on device");
        }
        // Every later call fails the same way.
        EXPECT_THROW(sink.Finish(), CFailure);
        // Nothing queued after the failed write was written: the target holds a start of the
        // bytes, with no gap.
        const std::string& taken = target.Taken();
        EXPECT_EQ(taken, whole.Bytes().substr(0, taken.size())) << "depth " << depth;
    }
}

// A conversion that fails drops its sink unfinished: what reaches the target is still in order.
TEST(BackgroundSinkTest, EndsWithoutFinishing) {
    CMemorySink target(100);
    std::string written;
    {
        CBackgroundSink sink(target, 64);
        written = WriteMixed(sink, 10000);
    }
    EXPECT_EQ(target.Bytes(), written.substr(0, target.Bytes().size()));
}

// No thread to be had: the calling thread writes each buffer itself, in the same order, and a
// failure of the target comes out of the call that wrote.
TEST(BackgroundSinkTest, WritesOnTheCallingThreadWhenNoThreadStarts) {
    SetThreadStartsAllowedForTesting(0);
    for (std::size_t capacity : {1, 64, 1 << 18}) {
        CMemorySink target(100);
        CBackgroundSink sink(target, capacity);
        std::string written = WriteMixed(sink, 300000);
        sink.Finish();
        EXPECT_EQ(target.Bytes(), written) << "capacity " << capacity;
    }
    CLimitedSink limited(50000);
    CBackgroundSink sink(limited, 1000);
    EXPECT_THROW(
        {
            WriteMixed(sink, 200000);
            sink.Finish();
        },
        CFailure);
    SetThreadStartsAllowedForTesting(-1);
}

}  // namespace
}  // namespace halvic
