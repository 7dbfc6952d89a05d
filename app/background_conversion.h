// A conversion of a typed name on a thread of its own, so that the dialog's thread can show a
// window meanwhile: one that says that it waits for another conversion into the folder, or,
// after a second of reading, one with its progress and a Cancel button. Both dialogs ask it the
// same questions, so that they show the same windows at the same moments.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/typed_name.h"

namespace halvic::app {

class CBackgroundConversion {
  public:
    // Starts converting `typed` (see ConvertTypedName). Where no thread can be started, the
    // conversion runs here, and is done when the constructor returns.
    explicit CBackgroundConversion(const std::string& typed);
    ~CBackgroundConversion();  // waits for the conversion to end
    CBackgroundConversion(const CBackgroundConversion&) = delete;
    CBackgroundConversion& operator=(const CBackgroundConversion&) = delete;

    bool Done() const { return m_bDone; }
    // Waits for another conversion into the same folder (for a second at least), and has not
    // begun to read.
    bool Waiting() const { return m_bWaited && m_progress.m_nRead == 0; }
    // Has been reading its input for a second or more: time for a progress window.
    bool ShowProgress();
    // How far it has read, in thousandths of the input (at most 999); -1 when the input's size
    // is not known, as of a pipe.
    int Permille() const;
    // Stops the conversion at its next part of input; nothing is replaced, and the outcome's
    // message is "Conversion cancelled.".
    void Cancel() { m_progress.m_bCancel = true; }
    // The outcome, once Done().
    const CTypedNameOutcome& Outcome() const { return m_outcome; }

  private:
    void Run(const std::string& typed);

    CConvertProgress m_progress;
    std::atomic<bool> m_bWaited{false};
    std::atomic<bool> m_bDone{false};
    CTypedNameOutcome m_outcome;
    bool m_bReading = false;  // the dialog's thread has seen the reading begin, at m_readingSince
    std::chrono::steady_clock::time_point m_readingSince;
    std::thread m_worker;
};

}  // namespace halvic::app
