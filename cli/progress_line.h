// One updating line on a terminal while a long conversion runs: bytes read (of how many), speed,
// time left. Shown only once the conversion has taken a second, and gone when it ends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>

#include "engine/conversion/convert_file.h"

namespace halvic::cli {

// "12.5 MB of 200.0 MB, 310 MB/s, 1 s left", or "12.5 MB read, 310 MB/s" when the total is not
// known.
std::string ProgressText(std::uint64_t read, std::uint64_t total, double seconds);

class CProgressLine {
  public:
    // Watches `progress` from a thread of its own and writes the line to `terminal`.
    CProgressLine(std::ostream& terminal, const CConvertProgress& progress);
    // Stops and clears the line, if it was shown.
    ~CProgressLine();
    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

  private:
    void Run();

    std::ostream& m_terminal;
    const CConvertProgress& m_progress;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_bStop = false;
    bool m_bShown = false;
    std::thread m_thread;
};

}  // namespace halvic::cli
