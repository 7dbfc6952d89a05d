// A sink that hands its full buffers to a second thread, which writes them on while the
// conversion goes on: writing the record file then costs the conversion next to no time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/io/byte_stream.h"

namespace halvic {

// Writes into `target` in the background, in the order written. A failure of the target is
// raised in the writing thread by a later Write, Put or Finish. The thread starts with the first
// full buffer, so a small output never starts one; when no thread can be started, the buffers are
// written by the calling thread instead.
class CBackgroundSink : public CByteSink {
  public:
    explicit CBackgroundSink(CByteSink& target, std::size_t capacity = 1 << 18);
    // Waits for the write under way, if any, and ends the thread; never throws.
    ~CBackgroundSink() override;

    // Hands everything written on to the target and waits until it has taken it (throws CFailure
    // as the target did). The target's own buffer is not flushed.
    void Finish();

  protected:
    void Drain(const unsigned char* data, std::size_t size) override;
    // The thread writes the buffer itself; the caller gets the one it wrote before.
    void DrainOwned(COwnedBytes& bytes) override;

  private:
    void Wait();
    void Run();
    void Stop() noexcept;
    // Whether the thread is running, starting it if need be; false when it cannot be started.
    bool Started();

    CByteSink& m_target;
    std::unique_ptr<unsigned char[]> m_spare;  // the buffer not being filled
    COwnedBytes m_handed;                      // the last bytes handed over whole
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const unsigned char* m_pPending = nullptr;  // bytes the thread is to write or is writing
    std::size_t m_nPending = 0;
    bool m_bStopping = false;
    bool m_bNoThread = false;      // a start was refused: the calling thread writes
    std::exception_ptr m_failure;  // the target's failure, raised again on every later call
};

}  // namespace halvic
