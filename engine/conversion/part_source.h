// The input cut into parts, each ending where a reader of the whole input surely starts a group
// (FindPartStart), so that each part can be converted as if it began the input: views of an input
// that lies whole in memory, or buffers read from a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "engine/conversion/part.h"
#include "engine/io/byte_stream.h"

namespace halvic {

struct CPartSizes {
    // A part ends at the first group start found this many bytes or more after its own start.
    std::size_t m_nPartSize = std::size_t{1} << 19;
    // The records of a part wait in memory until it is joined, and a stream is read this far
    // ahead to find where a part ends, so no part is longer than this (nor than CPart::kLargest);
    // where no group starts within it, the plain loop goes on.
    std::size_t m_nLargestPart = std::size_t{2} << 20;
};

// The bytes of one part, and where they end in the input.
struct CPartBytes {
    std::string_view m_bytes;
    std::unique_ptr<char[]> m_owned;  // the buffer m_bytes lies in, for a source that reads
    std::uint64_t m_nEnd = 0;
};

// Cuts an input into parts, in order. Next and Rest are called by one thread at a time; Done may
// be called by another thread meanwhile.
class CPartSource {
  public:
    enum EResult { kPart, kEnd, kTooFar };

    virtual ~CPartSource() = default;
    // The next part: from where the last one ended to the next place where a reader of the whole
    // input surely starts a group (FindPartStart), or to the input's end. kTooFar when no such
    // place lies within the largest part: Rest then reads on from where the last part ended.
    // Throws CFailure when the input cannot be read.
    virtual EResult Next(CPartBytes& part) = 0;
    // Whether the input's end has been reached: Next has no part left to give.
    virtual bool Ended() const = 0;
    // The bytes of `part`, joined, are no longer needed.
    virtual void Done(CPartBytes& part) = 0;
    // The input from the end of the last part, after Next said kTooFar.
    virtual CByteSource& Rest() = 0;

    // The parts up to `end` in the input have been joined.
    virtual void Joined(std::uint64_t end) = 0;

    // `reached` is told how far the input has been read: one in memory as its parts are joined
    // and its rest is lent, a stream as it is read. A failure it throws (the caller cancelling)
    // ends the conversion there, in its place in the input.
    void OnReached(std::function<void(std::uint64_t end)> reached) {
        m_reached = std::move(reached);
    }

  protected:
    void Reached(std::uint64_t end) {
        if (m_reached) m_reached(end);
    }

  private:
    std::function<void(std::uint64_t)> m_reached;
};

// The parts of an input that lies whole in memory: views, never copies.
class CMemoryParts : public CPartSource {
  public:
    CMemoryParts(std::string_view input, const CPartSizes& sizes);
    EResult Next(CPartBytes& part) override;
    bool Ended() const override { return m_nNext == m_input.size(); }
    void Done(CPartBytes& part) override;
    CByteSource& Rest() override { return m_rest; }
    void Joined(std::uint64_t end) override { Reached(end); }

  private:
    // Lends the rest a block at a time.
    class CRest : public CByteSource {
      public:
        explicit CRest(CMemoryParts& parts) : m_parts(parts) {}
        std::size_t Read(unsigned char* buffer, std::size_t capacity) override;
        bool Lends() const override { return true; }
        std::string_view Lend() override;

      private:
        CMemoryParts& m_parts;
    };

    std::string_view m_input;
    CPartSizes m_sizes;
    std::size_t m_nNext = 0;  // where the next part, or the rest, begins
    CRest m_rest{*this};
};

// The parts of an input read from a stream (a file, standard input, a pipe): each read into a
// buffer of its own, cut at a group start, with the bytes after the cut carried into the next
// buffer.
class CStreamParts : public CPartSource {
  public:
    CStreamParts(CByteSource& source, const CPartSizes& sizes);
    EResult Next(CPartBytes& part) override;
    bool Ended() const override { return m_bEof && m_carry.m_nSize == 0; }
    void Done(CPartBytes& part) override;
    CByteSource& Rest() override { return m_rest; }
    // Its bytes were counted as they were read.
    void Joined(std::uint64_t) override {}

  private:
    // The carried bytes, then the stream.
    class CRest : public CByteSource {
      public:
        explicit CRest(CStreamParts& parts) : m_parts(parts) {}
        std::size_t Read(unsigned char* buffer, std::size_t capacity) override;

      private:
        CStreamParts& m_parts;
        std::size_t m_nTaken = 0;  // of the carried bytes
    };

    // A buffer of m_nCapacity bytes, never zeroed, of which the first m_nSize hold input.
    struct CBuffer {
        std::unique_ptr<char[]> m_data;
        std::size_t m_nSize = 0;
    };

    CBuffer TakeBuffer();
    // Reads from the stream, counting what it read.
    std::size_t ReadStream(char* buffer, std::size_t capacity);
    // Reads until `buffer` holds `size` bytes or the stream ends.
    void FillTo(CBuffer& buffer, std::size_t size);

    CByteSource& m_source;
    CPartSizes m_sizes;
    // Room for the largest part and one read more, from the start: buffers that grew as they were
    // read would leave freed pieces of every size behind, and the memory in use would grow with
    // the input.
    std::size_t m_nCapacity;
    bool m_bEof = false;
    std::uint64_t m_nOffset = 0;  // of the carried bytes in the input
    std::uint64_t m_nRead = 0;    // from the stream
    CBuffer m_carry;              // read, not yet in a part
    std::mutex m_spareMutex;      // Done runs on the joining thread
    std::vector<std::unique_ptr<char[]>> m_spare;
    CRest m_rest{*this};
};

}  // namespace halvic
