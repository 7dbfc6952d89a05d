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

// The rest of an input handed on as it is read, looked at for UTF-8 on the way.
class CUtf8ScanningSource : public CByteSource {
  public:
    explicit CUtf8ScanningSource(CByteSource& source) : m_source(source) {}
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        std::size_t n = m_source.Read(buffer, capacity);
        Look(std::string_view(reinterpret_cast<const char*>(buffer), n));
        return n;
    }
    bool Lends() const override { return m_source.Lends(); }
    std::string_view Lend() override {
        std::string_view block = m_source.Lend();
        Look(block);
        return block;
    }
    const CUtf8Seen& Seen() const { return m_seen; }

  private:
    void Look(std::string_view block) {
        if (m_seen.m_bInvalid) return;
        if (block.empty()) m_scan.Finish();
        std::size_t at = m_scan.Scan(block);
        m_seen.m_bInvalid = m_scan.Invalid();
        if (m_seen.m_bFound) return;
        if (at == SIZE_MAX) {
            m_nLines += static_cast<std::uint64_t>(std::count(block.begin(), block.end(), '\n'));
            return;
        }
        m_seen.Found(block, at, m_nLines);
    }

    CByteSource& m_source;
    CUtf8Scan m_scan;
    CUtf8Seen m_seen;
    std::uint64_t m_nLines = 0;  // before the block looked at
};

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
        if (m_options.m_bLookForUtf8) {
            CUtf8ScanningSource rest(m_source.Rest());
            CTagFile reader(rest, m_strName);
            std::uint64_t linesBefore = m_joined.Lines();
            m_joined.ConvertRest(reader);
            m_joined.JoinUtf8(rest.Seen(), linesBefore);
        } else {
            CTagFile reader(m_source.Rest(), m_strName);
            m_joined.ConvertRest(reader);
        }
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
                if (m_options.m_bLookForUtf8)
                    ScanForUtf8(work->m_bytes.m_bytes, work->m_part.m_utf8);
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
            m_source.Joined(work->m_bytes.m_nEnd);
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
        CMemoryParts parts(input, sizes);
        ConvertParts(parts, joined, name, options);
    } else {
        CMemorySource source(input, streamStep);
        CStreamParts parts(source, sizes);
        ConvertParts(parts, joined, name, options);
    }
    return joined.Finish(warnings);
}

}  // namespace halvic
