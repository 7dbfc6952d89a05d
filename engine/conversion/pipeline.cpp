#include "engine/conversion/pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <thread>

#include "engine/io/threads.h"

namespace halvic {

namespace {

// The largest part a source may give: what the caller allows, and what a part can hold.
// The least a stream is asked for at a time.
constexpr std::size_t kReadBlock = std::size_t{1} << 16;

std::size_t LargestPart(const CPartSizes& sizes) {
    return std::min(sizes.m_nLargestPart, CPart::kLargest);
}

}  // namespace

CMappedParts::CMappedParts(std::string_view input, const CPartSizes& sizes,
                           std::function<void(std::size_t, std::size_t)> release,
                           std::function<void(std::size_t)> reached)
    : m_input(input), m_sizes(sizes), m_release(std::move(release)), m_reached(std::move(reached)) {
    m_sizes.m_nPartSize = std::max<std::size_t>(m_sizes.m_nPartSize, 1);
}

CPartSource::EResult CMappedParts::Next(CPartBytes& part) {
    std::size_t start = m_nNext;
    if (start == m_input.size()) return kEnd;
    std::size_t end = m_input.size();
    if (end - start > m_sizes.m_nPartSize) {
        // Looked for no further than a part may reach: an input without group starts is not read
        // through (and its pages not brought in) only to find that it cannot be cut.
        std::size_t reach = start + std::min(end - start, LargestPart(m_sizes));
        end = FindPartStart(m_input.substr(0, reach), start + m_sizes.m_nPartSize);
        if (end == reach && reach < m_input.size()) {
            if (m_release) m_release(start, reach);
            return kTooFar;
        }
    }
    part.m_bytes = m_input.substr(start, end - start);
    part.m_nEnd = end;
    m_nNext = end;
    return kPart;
}

void CMappedParts::Done(CPartBytes& part) {
    if (m_release) {
        std::size_t begin = static_cast<std::size_t>(part.m_bytes.data() - m_input.data());
        m_release(begin, begin + part.m_bytes.size());
    }
}

std::size_t CMappedParts::CRest::Read(unsigned char* buffer, std::size_t capacity) {
    std::string_view piece = Lend();
    std::size_t n = std::min(capacity, piece.size());
    std::memcpy(buffer, piece.data(), n);
    m_parts.m_nNext -= piece.size() - n;
    return n;
}

std::string_view CMappedParts::CRest::Lend() {
    // The reader may still hold views of the piece before; the one before that goes.
    constexpr std::size_t kPiece = std::size_t{1} << 21;
    std::size_t begin = m_parts.m_nNext;
    if (m_parts.m_reached) m_parts.m_reached(begin);
    if (m_parts.m_release && begin >= 2 * kPiece)
        m_parts.m_release(begin - 2 * kPiece, begin - kPiece);
    std::size_t n = std::min(kPiece, m_parts.m_input.size() - begin);
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
        std::size_t n = m_source.Read(
            reinterpret_cast<unsigned char*>(buffer.m_data.get() + buffer.m_nSize), want);
        buffer.m_nSize += n;
        if (n == 0) m_bEof = true;
    }
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
    return m_parts.m_source.Read(buffer, capacity);
}

namespace {

// Parts converted on up to CPipelineOptions::m_nThreads threads and joined in order by whichever
// thread hands in the part that is next: at most one part more than there are threads is
// converted but not yet joined, so memory stays bounded.
class CPipeline {
  public:
    CPipeline(CPartSource& source, CJoinedConversion& joined, const std::string& name,
              const CPipelineOptions& options)
        : m_source(source), m_joined(joined), m_strName(name), m_options(options) {}

    void Run();

  private:
    struct CWork {
        CPartBytes m_bytes;
        CPart m_part;
    };

    // Converts parts and joins them while there are any; a failure (out of memory) ends the
    // conversion instead of the thread.
    void WorkSafely();
    void Work();
    // Takes the next part from the source; false when there is none, or the conversion ended.
    bool Take(std::unique_ptr<CWork>& work, std::size_t& index);
    // Joins the parts that are next in order and ready, unless another thread is joining.
    void JoinReady(std::unique_lock<std::mutex>& lock);
    void StartHelpers();

    CPartSource& m_source;
    CJoinedConversion& m_joined;
    const std::string& m_strName;
    const CPipelineOptions& m_options;
    unsigned m_nThreads = 1;

    std::mutex m_readMutex;  // the source's: parts are read one at a time, in order
    std::size_t m_nRead = 0;
    bool m_bSourceDone = false;
    bool m_bTooFar = false;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_nTaken = 0;                    // parts taken, or being taken, from the source
    std::size_t m_nJoined = 0;                   // parts joined
    std::deque<std::unique_ptr<CWork>> m_ready;  // from part m_nJoined on; null: not yet
    bool m_bJoining = false;
    bool m_bEnded = false;  // a stop or a failure: nothing more is converted or joined
    std::exception_ptr m_failure;
    std::vector<std::unique_ptr<CWork>> m_spare;  // joined parts, to use again
    bool m_bHelpersStarted = false;
    std::vector<std::thread> m_helpers;
};

void CPipeline::Run() {
    m_nThreads = std::max(1u, m_options.m_nThreads);
    WorkSafely();
    for (std::thread& helper : m_helpers)
        helper.join();
    if (m_failure) std::rethrow_exception(m_failure);
    if (m_bTooFar && !m_joined.Stopped()) {
        CTagFile reader(m_source.Rest(), m_strName);
        m_joined.ConvertRest(reader);
    }
}

void CPipeline::StartHelpers() {
    m_bHelpersStarted = true;
    for (unsigned i = 1; i < m_nThreads; ++i) {
        std::thread helper;
        // No more threads to be had: the work is shared by fewer, at least this one.
        if (!TryStartThread(helper, &CPipeline::WorkSafely, this)) break;
        m_helpers.push_back(std::move(helper));
    }
}

void CPipeline::WorkSafely() {
    try {
        Work();
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_failure) m_failure = std::current_exception();
        m_bEnded = true;
        m_changed.notify_all();
    }
}

bool CPipeline::Take(std::unique_ptr<CWork>& work, std::size_t& index) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_bEnded || m_nTaken <= m_nJoined + m_nThreads; });
        if (m_bEnded) return false;
        ++m_nTaken;
        if (m_spare.empty()) {
            work = std::make_unique<CWork>();
        } else {
            work = std::move(m_spare.back());
            m_spare.pop_back();
            work->m_part.Clear();
        }
    }
    CPartSource::EResult result = CPartSource::kEnd;
    bool ended = false;
    {
        std::lock_guard<std::mutex> read(m_readMutex);
        if (!m_bSourceDone) {
            index = m_nRead;
            try {
                result = m_source.Next(work->m_bytes);
            } catch (...) {
                // Raised in its place in the input: after the failures of the parts before it.
                work->m_part.m_failure = std::current_exception();
                result = CPartSource::kPart;
                m_bSourceDone = true;
            }
            if (result == CPartSource::kPart) ++m_nRead;
            if (result != CPartSource::kPart) m_bSourceDone = true;
            if (result == CPartSource::kTooFar) m_bTooFar = true;
            ended = m_bSourceDone || m_source.Ended();
        }
    }
    if (result != CPartSource::kPart) {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_nTaken;
        m_spare.push_back(std::move(work));
        m_changed.notify_all();
        return false;
    }
    if (!ended && !m_bHelpersStarted) StartHelpers();
    return true;
}

void CPipeline::Work() {
    for (;;) {
        std::unique_ptr<CWork> work;
        std::size_t index = 0;
        if (!Take(work, index)) return;
        if (!work->m_part.m_failure) {
            try {
                ConvertPart(work->m_bytes.m_bytes, m_strName, work->m_part);
            } catch (...) {
                work->m_part.m_failure = std::current_exception();
            }
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_bEnded) return;
        std::size_t slot = index - m_nJoined;
        if (m_ready.size() <= slot) m_ready.resize(slot + 1);
        m_ready[slot] = std::move(work);
        JoinReady(lock);
    }
}

void CPipeline::JoinReady(std::unique_lock<std::mutex>& lock) {
    if (m_bJoining) return;
    m_bJoining = true;
    while (!m_bEnded && !m_ready.empty() && m_ready.front()) {
        // The emptied slot stays until the part is joined: slots count from part m_nJoined.
        std::unique_ptr<CWork> work = std::move(m_ready.front());
        lock.unlock();
        std::exception_ptr failure;
        try {
            m_joined.Join(work->m_part);
            if (m_options.m_joined) m_options.m_joined(work->m_bytes.m_nEnd);
        } catch (...) {
            failure = std::current_exception();
        }
        m_source.Done(work->m_bytes);
        lock.lock();
        m_ready.pop_front();
        ++m_nJoined;
        if (failure) m_failure = failure;
        if (failure || m_joined.Stopped()) m_bEnded = true;
        m_spare.push_back(std::move(work));
        m_changed.notify_all();
    }
    m_bJoining = false;
}

}  // namespace

void ConvertParts(CPartSource& source, CJoinedConversion& joined, const std::string& name,
                  const CPipelineOptions& options) {
    CPipeline(source, joined, name, options).Run();
}

CConvertSummary ConvertInParts(std::string_view input, const std::string& name, CByteSink& records,
                               CValueTables& tables, std::vector<CWarning>& warnings,
                               const CPartSizes& sizes, unsigned threads, std::size_t streamStep) {
    CJoinedConversion joined(name, records, tables);
    CPipelineOptions options;
    options.m_nThreads = threads;
    if (streamStep == 0) {
        CMappedParts parts(input, sizes);
        ConvertParts(parts, joined, name, options);
    } else {
        CMemorySource source(input, streamStep);
        CStreamParts parts(source, sizes);
        ConvertParts(parts, joined, name, options);
    }
    return joined.Finish(warnings);
}

}  // namespace halvic
