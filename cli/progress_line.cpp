#include "cli/progress_line.h"

#include <chrono>
#include <cstdio>
#include <ostream>

#include "engine/io/file.h"

namespace halvic::cli {

namespace {

std::string Megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

std::string ProgressText(std::uint64_t read, std::uint64_t total, double seconds) {
    double rate = seconds > 0 ? static_cast<double>(read) / seconds : 0;
    char speed[32];
    std::snprintf(speed, sizeof speed, rate < 1e7 ? "%.1f MB/s" : "%.0f MB/s", rate / 1e6);
    std::string text =
        Megabytes(read) + (total > 0 ? " of " + Megabytes(total) : " read") + ", " + speed;
    if (total > read && rate > 0) {
        auto left = static_cast<std::uint64_t>(static_cast<double>(total - read) / rate + 0.5);
        text += ", " + (left >= 60 ? std::to_string(left / 60) + " min " : std::string()) +
                std::to_string(left % 60) + " s left";
    }
    return text;
}

CProgressLine::CProgressLine(std::ostream& terminal, const CConvertProgress& progress)
    : m_terminal(terminal), m_progress(progress) {
    try {
        m_thread = std::thread(&CProgressLine::Run, this);
    } catch (const std::system_error&) {
        // No thread, no progress line: the conversion itself does not need one.
    }
}

CProgressLine::~CProgressLine() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_stopped.notify_all();
    if (m_thread.joinable()) m_thread.join();
    if (m_bShown) m_terminal << "\r\033[K" << std::flush;
    SetLineShown(false);
}

void CProgressLine::Run() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    // A conversion that ends within a second shows nothing.
    if (m_stopped.wait_until(lock, start + std::chrono::seconds(1), [this] { return m_bStop; })) {
        return;
    }
    do {
        std::uint64_t read = m_progress.m_nRead;
        if (read == 0) continue;  // still waiting for another conversion, or for input
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        m_terminal << "\rhalvic: " << ProgressText(read, m_progress.m_nTotal, seconds) << "\033[K"
                   << std::flush;
        m_bShown = true;
        SetLineShown(true);
    } while (!m_stopped.wait_for(lock, std::chrono::milliseconds(200), [this] { return m_bStop; }));
}

}  // namespace halvic::cli
