// Byte sources and buffered byte sinks: the seams between the engine and files, pipes or memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace halvic {

// Something that hands out bytes in blocks. Read returns 0 only at the end of the input and
// throws CFailure when the bytes cannot be read.
class CByteSource {
  public:
    virtual ~CByteSource() = default;
    virtual std::size_t Read(unsigned char* buffer, std::size_t capacity) = 0;

    // A source whose bytes lie in memory for as long as it lives (an input in memory) lends them
    // instead of copying them: Lend hands out the next block of the input, empty at the end. A
    // reader uses either Read or Lend, never both.
    virtual bool Lends() const { return false; }
    virtual std::string_view Lend() { return {}; }

    // A source that can go back and forth (a file, memory) reads on from byte `offset` of its
    // input and returns true; any other returns false and stays where it is. Throws CFailure when
    // the file cannot be repositioned.
    virtual bool Seek(std::uint64_t /*offset*/) { return false; }
};

// Bytes held in memory, handed out at most `step` bytes at a time (tests use small steps to put
// block boundaries everywhere), copied or, when `lends`, lent.
class CMemorySource : public CByteSource {
  public:
    explicit CMemorySource(std::string_view bytes, std::size_t step = SIZE_MAX, bool lends = false)
        : m_whole(bytes), m_bytes(bytes), m_nStep(step == 0 ? 1 : step), m_bLends(lends) {}
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override;
    bool Lends() const override { return m_bLends; }
    std::string_view Lend() override;
    bool Seek(std::uint64_t offset) override {
        m_bytes = m_whole.substr(
            static_cast<std::size_t>(std::min<std::uint64_t>(offset, m_whole.size())));
        return true;
    }

  private:
    std::string_view m_whole;
    std::string_view m_bytes;  // what is not yet handed out
    std::size_t m_nStep;
    bool m_bLends;
};

// Bytes in a buffer of their own, which grows without zeroing what it adds: a writer puts bytes
// straight into it, and a sink can take it whole.
class COwnedBytes {
  public:
    unsigned char* Data() { return m_data.get(); }
    const unsigned char* Data() const { return m_data.get(); }
    std::size_t Size() const { return m_nSize; }
    std::string_view View() const { return {reinterpret_cast<const char*>(m_data.get()), m_nSize}; }
    // Makes the size `size`: bytes kept keep their values, bytes added have none yet.
    void Resize(std::size_t size) {
        if (size > m_nCapacity) Grow(size);
        m_nSize = size;
    }
    // Makes room for `capacity` bytes at once, so that growing to them copies nothing.
    void Reserve(std::size_t capacity) {
        if (capacity > m_nCapacity) Grow(capacity);
    }
    void Clear() { m_nSize = 0; }
    void Swap(COwnedBytes& other) noexcept {
        m_data.swap(other.m_data);
        std::swap(m_nSize, other.m_nSize);
        std::swap(m_nCapacity, other.m_nCapacity);
    }

  private:
    void Grow(std::size_t size);

    std::unique_ptr<unsigned char[]> m_data;
    std::size_t m_nSize = 0;
    std::size_t m_nCapacity = 0;
};

// A write buffer in front of a destination. Put and Write only copy into the buffer; Drain hands a
// full buffer on, so one destination sees few large writes whatever the size of the fields.
class CByteSink {
  public:
    explicit CByteSink(std::size_t capacity = 1 << 16);
    virtual ~CByteSink() = default;
    CByteSink(const CByteSink&) = delete;
    CByteSink& operator=(const CByteSink&) = delete;

    void Put(unsigned char byte) {
        if (m_nUsed == m_nCapacity) Flush();
        m_buffer[m_nUsed++] = byte;
    }
    void Write(const void* data, std::size_t size) {
        if (size <= m_nCapacity - m_nUsed) {
            std::memcpy(m_buffer.get() + m_nUsed, data, size);
            m_nUsed += size;
        } else {
            WriteLarge(static_cast<const unsigned char*>(data), size);
        }
    }
    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }

    // Hands everything buffered on to the destination.
    void Flush();
    // Hands `bytes` on after everything written before, and leaves `bytes` empty: a sink that can
    // take them whole swaps in an emptied buffer of its own instead of copying them.
    void Hand(COwnedBytes& bytes) {
        Flush();
        // An empty buffer may have no storage at all: nothing to hand on.
        if (bytes.Size() == 0) return;
        m_nDrained += bytes.Size();
        DrainOwned(bytes);
    }
    // Bytes accepted so far, buffered or not.
    std::uint64_t BytesWritten() const { return m_nDrained + m_nUsed; }

  protected:
    // Takes `size` bytes; throws CFailure when they cannot be written.
    virtual void Drain(const unsigned char* data, std::size_t size) = 0;
    // Takes the bytes of `bytes` and leaves it empty (with any capacity).
    virtual void DrainOwned(COwnedBytes& bytes) {
        Drain(bytes.Data(), bytes.Size());
        bytes.Clear();
    }

    std::size_t Capacity() const { return m_nCapacity; }
    // The buffer Drain is handed by Flush; a sink that keeps it after Drain returns swaps in
    // another of the same capacity.
    const unsigned char* Buffer() const { return m_buffer.get(); }
    void SwapBuffer(std::unique_ptr<unsigned char[]>& other) { m_buffer.swap(other); }

  private:
    void WriteLarge(const unsigned char* data, std::size_t size);

    std::unique_ptr<unsigned char[]> m_buffer;
    std::size_t m_nCapacity;
    std::size_t m_nUsed = 0;
    std::uint64_t m_nDrained = 0;
};

// A sink that keeps nothing, but counts what it was given.
class CDiscardingSink : public CByteSink {
  public:
    CDiscardingSink() : CByteSink(1 << 12) {}

  protected:
    void Drain(const unsigned char*, std::size_t) override {}
};

// A sink that keeps everything in a string: its own, or one of the caller's that outlives it.
class CMemorySink : public CByteSink {
  public:
    explicit CMemorySink(std::size_t capacity = 1 << 12) : CByteSink(capacity) {}
    CMemorySink(std::string& bytes, std::size_t capacity) : CByteSink(capacity), m_pBytes(&bytes) {}
    // Everything written so far (flushes first).
    const std::string& Bytes() {
        Flush();
        return *m_pBytes;
    }

  protected:
    void Drain(const unsigned char* data, std::size_t size) override {
        m_pBytes->append(reinterpret_cast<const char*>(data), size);
    }

  private:
    std::string m_strBytes;
    std::string* m_pBytes = &m_strBytes;
};

}  // namespace halvic
