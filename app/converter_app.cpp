#include "app/converter_app.h"

#include <wx/busyinfo.h>
#include <wx/filefn.h>
#include <wx/msgdlg.h>
#include <wx/progdlg.h>
#include <wx/utils.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "app/filename_dlg.h"
#include "app/gui_report.h"
#include "app/warnings_dlg.h"
#include "app/wx_strings.h"
#include "engine/io/file.h"
#include "engine/set/output_set.h"

wxIMPLEMENT_APP(halvic::app::CConverterApp);

namespace halvic::app {

namespace {

void ReportMessage(const std::string& message) {
    Report("message", message);
}

}  // namespace

bool CConverterApp::OnInit() {
    // wxApp::OnInit would parse the command line as options; its one argument is a file name,
    // whatever it looks like.
    if (argc > 1) m_strGivenName = argv[1];
    SetAppName("halvic-gui");
    SetAppDisplayName("Halvic");
    CleanUpOnInterrupt();  // an interrupted conversion leaves no temporary file behind
    return true;
}

int CConverterApp::OnRun() {
    wxString typed = m_strGivenName;
    int status = 0;  // nothing asked for, until a conversion fails
    for (bool again = false;; again = true) {
        {
            CFilenameDlg dlg(nullptr, typed, again);
            if (dlg.ShowModal() != wxID_OK) return status;  // Cancel, Escape or the close box
            typed = dlg.Filename();
        }  // the dialog is gone before the conversion starts
        CTypedNameOutcome outcome = Convert(ToFileName(typed));
        if (outcome.m_nExitCode == 0) {
            if (!outcome.m_warnings.empty()) {
                CWarningsDlg box(outcome.m_warnings, ToFileName(wxGetCwd()));
                box.ShowModal();
            }
            return 0;
        }
        ReportMessage(outcome.m_strMessage);
        wxMessageBox(ToDisplay(outcome.m_strMessage), kFailureTitle,
                     wxOK | wxICON_ERROR | wxCENTRE);
        status = outcome.m_nExitCode;
    }
}

CTypedNameOutcome CConverterApp::Convert(const std::string& name) {
    // The conversion runs on a thread of its own, so that a window can say what it does: that it
    // waits for another conversion into the same folder, or, after a second, how far it has got,
    // with a Cancel button.
    CConvertProgress progress;
    std::atomic<bool> waited{false};
    std::atomic<bool> done{false};
    CTypedNameOutcome outcome;
    auto convert = [&] {
        outcome = ConvertTypedName(
            name, [&waited] { waited = true; }, &progress);
        done = true;
    };
    std::thread worker;
    try {
        worker = std::thread(convert);
    } catch (const std::system_error&) {
        convert();  // no thread: the conversion runs here, without a window
    }
    // Interrupts go to the conversion's thread, which holds them while it replaces the files,
    // rather than to this one, which does not.
    CInterruptsHeld held;
    auto start = std::chrono::steady_clock::now();
    bool reading = false;
    std::unique_ptr<wxBusyInfo> waiting;
    std::unique_ptr<wxProgressDialog> window;
    while (!done) {
        wxMilliSleep(50);
        if (waited && !waiting && progress.m_nRead == 0) {
            std::string message = WaitingMessage(ToFileName(wxGetCwd()));
            ReportMessage(message);
            message[0] = 'W';
            waiting = std::make_unique<wxBusyInfo>(ToDisplay(message));
        }
        if (progress.m_nRead > 0 && !reading) {
            waiting.reset();
            reading = true;
            start = std::chrono::steady_clock::now();
        }
        // A second of reading, not of waiting for another conversion.
        if (!window && reading &&
            std::chrono::steady_clock::now() - start >= std::chrono::seconds(1)) {
            Report("progress", "shown");
            window = std::make_unique<wxProgressDialog>(
                "Halvic", ToDisplay("Converting " + name), 1000, nullptr,
                wxPD_CAN_ABORT | wxPD_APP_MODAL | wxPD_ELAPSED_TIME | wxPD_REMAINING_TIME);
        }
        bool goOn = true;
        if (window) {
            std::uint64_t total = progress.m_nTotal;
            goOn = total > 0 ? window->Update(static_cast<int>(
                                   std::min<std::uint64_t>(999, progress.m_nRead * 1000 / total)))
                             : window->Pulse();
        } else {
            wxTheApp->Yield(true);
        }
        if (!goOn) progress.m_bCancel = true;
    }
    if (worker.joinable()) worker.join();
    return outcome;
}

}  // namespace halvic::app
