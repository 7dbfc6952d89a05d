#include "engine/io/background_sink.h"

#include <algorithm>
#include <utility>

#include "engine/io/threads.h"

namespace halvic {

CBackgroundSink::CBackgroundSink(CByteSink& target, std::size_t capacity, std::size_t depth)
    : CByteSink(capacity), m_target(target), m_nDepth(std::max<std::size_t>(depth, 1)) {}

CBackgroundSink::~CBackgroundSink() {
    Stop();
}

void CBackgroundSink::Stop() noexcept {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void CBackgroundSink::Finish() {
    Flush();
    Wait();
    Stop();
}

void CBackgroundSink::Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_jobs.empty(); });
    if (m_failure) std::rethrow_exception(m_failure);
}

void CBackgroundSink::Queue(std::unique_lock<std::mutex>& lock, CJob job) {
    m_changed.wait(lock, [this] { return m_jobs.size() < m_nDepth || m_failure; });
    if (m_failure) std::rethrow_exception(m_failure);
    m_jobs.push_back(std::move(job));
    m_changed.notify_all();
}

bool CBackgroundSink::Started() {
    if (m_thread.joinable()) return true;
    if (!m_bNoThread && TryStartThread(m_thread, &CBackgroundSink::Run, this)) return true;
    m_bNoThread = true;
    return false;
}

void CBackgroundSink::Drain(const unsigned char* data, std::size_t size) {
    if (!Started()) {
        m_target.Write(data, size);
        return;
    }
    CJob job;
    job.m_pData = data;
    job.m_nSize = size;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (data != Buffer()) {
        // A large write straight from the caller's bytes, which are not ours to keep.
        Queue(lock, std::move(job));
        lock.unlock();
        Wait();
        return;
    }
    // The thread writes the full buffer; one written before, or a new one, is filled meanwhile.
    std::unique_ptr<unsigned char[]> next;
    if (m_spareBuffers.empty()) {
        next.reset(new unsigned char[Capacity()]);
    } else {
        next = std::move(m_spareBuffers.back());
        m_spareBuffers.pop_back();
    }
    Queue(lock, std::move(job));
    SwapBuffer(next);
    m_jobs.back().m_buffer = std::move(next);
}

void CBackgroundSink::DrainOwned(COwnedBytes& bytes) {
    if (!Started()) {
        m_target.Write(bytes.Data(), bytes.Size());
        bytes.Clear();
        return;
    }
    CJob job;
    job.m_pData = bytes.Data();
    job.m_nSize = bytes.Size();
    std::unique_lock<std::mutex> lock(m_mutex);
    Queue(lock, std::move(job));
    m_jobs.back().m_owned.Swap(bytes);
    if (!m_spareOwned.empty()) {
        bytes.Swap(m_spareOwned.back());
        m_spareOwned.pop_back();
    }
    bytes.Clear();
}

void CBackgroundSink::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_jobs.empty() || m_bStopping; });
        if (m_bStopping) return;
        CJob& job = m_jobs.front();
        const unsigned char* data = job.m_pData;
        std::size_t size = job.m_nSize;
        lock.unlock();
        std::exception_ptr failure;
        try {
            // After a failure nothing more is written: the file would lack the bytes between.
            if (!m_failure) m_target.Write(data, size);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure) m_failure = failure;
        if (job.m_buffer) m_spareBuffers.push_back(std::move(job.m_buffer));
        if (job.m_owned.Data() != nullptr) m_spareOwned.push_back(std::move(job.m_owned));
        m_jobs.pop_front();
        m_changed.notify_all();
    }
}

}  // namespace halvic
