#include "engine/conversion/part_source.h"

#include <algorithm>
#include <cstring>

#include "engine/text/tag_file.h"

namespace halvic {

namespace {

// The least a stream is asked for at a time.
constexpr std::size_t kReadBlock = std::size_t{1} << 16;
// What the rest of an input in memory is lent at a time.
constexpr std::size_t kRestBlock = std::size_t{1} << 21;

// The largest part a source may give: what the caller allows, and what a part can hold.
std::size_t LargestPart(const CPartSizes& sizes) {
    return std::min(sizes.m_nLargestPart, CPart::kLargest);
}

}  // namespace

CMemoryParts::CMemoryParts(std::string_view input, const CPartSizes& sizes)
    : m_input(input), m_sizes(sizes) {
    m_sizes.m_nPartSize = std::max<std::size_t>(m_sizes.m_nPartSize, 1);
}

CPartSource::EResult CMemoryParts::Next(CPartBytes& part) {
    std::size_t start = m_nNext;
    if (start == m_input.size()) return kEnd;
    std::size_t end = m_input.size();
    if (end - start > m_sizes.m_nPartSize) {
        // Looked for no further than a part may reach: an input without group starts is not read
        // through only to find that it cannot be cut.
        std::size_t reach = start + std::min(end - start, LargestPart(m_sizes));
        end = FindPartStart(m_input.substr(0, reach), start + m_sizes.m_nPartSize);
        if (end == reach && reach < m_input.size()) return kTooFar;
    }
    part.m_bytes = m_input.substr(start, end - start);
    part.m_nEnd = end;
    m_nNext = end;
    return kPart;
}

void CMemoryParts::Done(CPartBytes& part) {
    part.m_bytes = {};
}

std::size_t CMemoryParts::CRest::Read(unsigned char* buffer, std::size_t capacity) {
    std::string_view block = Lend();
    std::size_t n = std::min(capacity, block.size());
    std::memcpy(buffer, block.data(), n);
    m_parts.m_nNext -= block.size() - n;
    return n;
}

std::string_view CMemoryParts::CRest::Lend() {
    std::size_t begin = m_parts.m_nNext;
    m_parts.Reached(begin);
    std::size_t n = std::min(kRestBlock, m_parts.m_input.size() - begin);
    m_parts.m_nNext += n;
    return m_parts.m_input.substr(begin, n);
}

namespace {

// A start after the part's size is told only by what follows it (the chunk of its content): a
// little more than the part's size is read.
constexpr std::size_t kLookAhead = CTagFile::kChunkFlush + 8;

}  // namespace

CStreamParts::CStreamParts(CByteSource& source, const CPartSizes& sizes)
    : m_source(source), m_sizes(sizes) {
    m_sizes.m_nPartSize = std::max<std::size_t>(m_sizes.m_nPartSize, 1);
    m_nCapacity = std::max(LargestPart(m_sizes), m_sizes.m_nPartSize + kLookAhead) + kReadBlock;
}

CStreamParts::CBuffer CStreamParts::TakeBuffer() {
    CBuffer buffer;
    {
        std::lock_guard<std::mutex> lock(m_spareMutex);
        if (!m_spare.empty()) {
            buffer.m_data = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    if (!buffer.m_data) buffer.m_data.reset(new char[m_nCapacity]);
    return buffer;
}

void CStreamParts::FillTo(CBuffer& buffer, std::size_t size) {
    while (!m_bEof && buffer.m_nSize < size) {
        // Read in blocks of a pipe's size at least, so that a small part size makes no small reads.
        std::size_t want =
            std::min(std::max(size - buffer.m_nSize, kReadBlock), m_nCapacity - buffer.m_nSize);
        std::size_t n = ReadStream(buffer.m_data.get() + buffer.m_nSize, want);
        buffer.m_nSize += n;
        if (n == 0) m_bEof = true;
    }
}

std::size_t CStreamParts::ReadStream(char* buffer, std::size_t capacity) {
    std::size_t n = m_source.Read(reinterpret_cast<unsigned char*>(buffer), capacity);
    m_nRead += n;
    Reached(m_nRead);
    return n;
}

CPartSource::EResult CStreamParts::Next(CPartBytes& part) {
    CBuffer buffer = TakeBuffer();
    // The carried bytes begin the part.
    if (m_carry.m_nSize != 0)
        std::memcpy(buffer.m_data.get(), m_carry.m_data.get(), m_carry.m_nSize);
    buffer.m_nSize = m_carry.m_nSize;
    m_carry.m_nSize = 0;
    std::size_t partSize = m_sizes.m_nPartSize;
    std::size_t largest = LargestPart(m_sizes);
    FillTo(buffer, partSize + kLookAhead);
    if (buffer.m_nSize == 0) {
        std::lock_guard<std::mutex> lock(m_spareMutex);
        m_spare.push_back(std::move(buffer.m_data));
        return kEnd;
    }
    std::size_t end = buffer.m_nSize;
    std::size_t from = partSize;
    while (!(m_bEof && buffer.m_nSize <= partSize)) {
        std::string_view bytes(buffer.m_data.get(), buffer.m_nSize);
        end = FindPartStart(bytes, from);
        if (end < bytes.size() || m_bEof) break;
        if (bytes.size() >= largest) {
            m_carry = std::move(buffer);
            return kTooFar;
        }
        // A start near the end may have been passed over only for want of what follows it.
        from = std::max(partSize, bytes.size() - std::min(bytes.size(), kLookAhead + 3));
        FillTo(buffer, std::min(largest, bytes.size() * 2));
    }
    if (!m_carry.m_data) m_carry.m_data.reset(new char[m_nCapacity]);
    m_carry.m_nSize = buffer.m_nSize - end;
    std::memcpy(m_carry.m_data.get(), buffer.m_data.get() + end, m_carry.m_nSize);
    m_nOffset += end;
    part.m_owned = std::move(buffer.m_data);
    part.m_bytes = std::string_view(part.m_owned.get(), end);
    part.m_nEnd = m_nOffset;
    return kPart;
}

void CStreamParts::Done(CPartBytes& part) {
    std::lock_guard<std::mutex> lock(m_spareMutex);
    m_spare.push_back(std::move(part.m_owned));
    part.m_bytes = {};
}

std::size_t CStreamParts::CRest::Read(unsigned char* buffer, std::size_t capacity) {
    const CBuffer& carried = m_parts.m_carry;
    if (m_nTaken < carried.m_nSize) {
        std::size_t n = std::min(capacity, carried.m_nSize - m_nTaken);
        std::memcpy(buffer, carried.m_data.get() + m_nTaken, n);
        m_nTaken += n;
        return n;
    }
    return m_parts.ReadStream(reinterpret_cast<char*>(buffer), capacity);
}

}  // namespace halvic
