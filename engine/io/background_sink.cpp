#include "engine/io/background_sink.h"

#include "engine/io/threads.h"

namespace halvic {

CBackgroundSink::CBackgroundSink(CByteSink& target, std::size_t capacity)
    : CByteSink(capacity), m_target(target), m_spare(new unsigned char[Capacity()]) {}

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
    m_changed.wait(lock, [this] { return m_pPending == nullptr; });
    if (m_failure) std::rethrow_exception(m_failure);
}

bool CBackgroundSink::Started() {
    if (m_thread.joinable()) return true;
    if (!m_bNoThread && TryStartThread(m_thread, &CBackgroundSink::Run, this)) return true;
    m_bNoThread = true;
    return false;
}

void CBackgroundSink::Drain(const unsigned char* data, std::size_t size) {
    Wait();
    if (!Started()) {
        m_target.Write(data, size);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pPending = data;
        m_nPending = size;
    }
    m_changed.notify_all();
    if (data == Buffer()) {
        // The thread writes the full buffer; the spare one, written before, is filled meanwhile.
        SwapBuffer(m_spare);
    } else {
        // A large write straight from the caller's bytes, which are not ours to keep.
        Wait();
    }
}

void CBackgroundSink::DrainOwned(COwnedBytes& bytes) {
    Wait();
    if (!Started()) {
        m_target.Write(bytes.Data(), bytes.Size());
        bytes.Clear();
        return;
    }
    m_handed.Swap(bytes);
    bytes.Clear();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pPending = m_handed.Data();
        m_nPending = m_handed.Size();
    }
    m_changed.notify_all();
}

void CBackgroundSink::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_pPending != nullptr || m_bStopping; });
        if (m_pPending == nullptr) return;
        const unsigned char* data = m_pPending;
        std::size_t size = m_nPending;
        lock.unlock();
        std::exception_ptr failure;
        try {
            m_target.Write(data, size);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure) m_failure = failure;
        m_pPending = nullptr;
        m_changed.notify_all();
    }
}

}  // namespace halvic
