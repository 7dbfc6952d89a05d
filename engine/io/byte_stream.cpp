#include "engine/io/byte_stream.h"

#include <algorithm>

namespace halvic {

std::size_t CMemorySource::Read(unsigned char* buffer, std::size_t capacity) {
    std::size_t n = std::min({capacity, m_nStep, m_bytes.size()});
    std::memcpy(buffer, m_bytes.data(), n);
    m_bytes.remove_prefix(n);
    return n;
}

std::string_view CMemorySource::Lend() {
    std::string_view block = m_bytes.substr(0, m_nStep);
    m_bytes.remove_prefix(block.size());
    return block;
}

void COwnedBytes::Grow(std::size_t size) {
    std::size_t capacity = std::max(size, 2 * m_nCapacity);
    std::unique_ptr<unsigned char[]> data(new unsigned char[capacity]);
    if (m_nSize != 0) std::memcpy(data.get(), m_data.get(), m_nSize);
    m_data = std::move(data);
    m_nCapacity = capacity;
}

CByteSink::CByteSink(std::size_t capacity)
    : m_buffer(new unsigned char[capacity == 0 ? 1 : capacity]),
      m_nCapacity(capacity == 0 ? 1 : capacity) {}

void CByteSink::Flush() {
    if (m_nUsed == 0) return;
    std::size_t n = m_nUsed;
    m_nUsed = 0;
    Drain(m_buffer.get(), n);
    m_nDrained += n;
}

void CByteSink::WriteLarge(const unsigned char* data, std::size_t size) {
    Flush();
    if (size >= m_nCapacity) {
        Drain(data, size);
        m_nDrained += size;
        return;
    }
    std::memcpy(m_buffer.get(), data, size);
    m_nUsed = size;
}

}  // namespace halvic
