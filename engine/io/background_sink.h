// A sink that hands its full buffers to a second thread, which writes them on while the
// conversion goes on: writing the record file then costs the conversion next to no time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/io/byte_stream.h"

namespace halvic {

// Writes into `target` in the background, in the order written. Up to `depth` buffers wait for
// the thread, so that a writer that runs ahead for a while is not held up by a write that waits
// for the processor. A failure of the target is raised in the writing thread by a later Write, Put
// or Finish; what was queued after it is not written. The thread starts with the first full
// buffer, so a small output never starts one; when no thread can be started, the buffers are
// written by the calling thread instead.
class CBackgroundSink : public CByteSink {
  public:
    explicit CBackgroundSink(CByteSink& target, std::size_t capacity = 1 << 18,
                             std::size_t depth = 4);
    // Waits for the write under way, if any, and ends the thread, dropping what waits; never
    // throws.
    ~CBackgroundSink() override;

    // Hands everything written on to the target and waits until it has taken it (throws CFailure
    // as the target did). The target's own buffer is not flushed.
    void Finish();

  protected:
    void Drain(const unsigned char* data, std::size_t size) override;
    // The thread writes the bytes themselves; the caller gets a buffer written before, if any.
    void DrainOwned(COwnedBytes& bytes) override;

  private:
    // Bytes the thread is to write: a full buffer of ours, bytes handed over whole, or (neither
    // set) the caller's bytes, which it waits for.
    struct CJob {
        const unsigned char* m_pData = nullptr;
        std::size_t m_nSize = 0;
        std::unique_ptr<unsigned char[]> m_buffer;
        COwnedBytes m_owned;
    };

    // Waits until everything queued is written.
    void Wait();
    // Waits for room in the queue (a lock on m_mutex held), then queues `job`.
    void Queue(std::unique_lock<std::mutex>& lock, CJob job);
    void Run();
    void Stop() noexcept;
    // Whether the thread is running, starting it if need be; false when it cannot be started.
    bool Started();

    CByteSink& m_target;
    const std::size_t m_nDepth;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<CJob> m_jobs;  // the first one is being written
    // Written storage, to be filled again: buffers of Capacity(), and owned bytes.
    std::vector<std::unique_ptr<unsigned char[]>> m_spareBuffers;
    std::vector<COwnedBytes> m_spareOwned;
    bool m_bStopping = false;
    bool m_bNoThread = false;      // a start was refused: the calling thread writes
    std::exception_ptr m_failure;  // the target's failure, raised again on every later call
};

}  // namespace halvic
