#include "app/converter_app.h"

#include <unistd.h>
#include <wx/busyinfo.h>
#include <wx/filefn.h>
#include <wx/msgdlg.h>
#include <wx/progdlg.h>
#include <wx/utils.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/background_conversion.h"
#include "app/filename_dlg.h"
#include "app/gui_command_line.h"
#include "app/gui_report.h"
#include "app/warnings_dlg.h"
#include "app/wx_strings.h"
#include "engine/io/file.h"
#include "engine/set/output_set.h"

// main() is ours: the help and the version are printed before GTK starts, so that they work
// without a display.
wxIMPLEMENT_APP_NO_MAIN(halvic::app::CConverterApp);

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
    halvic::app::EGuiStart start = halvic::app::ParseGuiArguments(arguments);
    if (start != halvic::app::EGuiStart::kDialog) {
        std::fputs(start == halvic::app::EGuiStart::kHelp ? halvic::app::GuiHelpText().c_str()
                                                          : halvic::app::GuiVersionText().c_str(),
                   stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return wxEntry(argc, argv);
}

namespace halvic::app {

namespace {

void ReportMessage(const std::string& message) {
    Report("message", message);
}

}  // namespace

bool CConverterApp::OnInit() {
    // wxApp::OnInit would parse the command line as options; its one argument is a file name,
    // whatever it looks like (main() has answered --help and --version).
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(ToFileName(argv[i]));
    if (!arguments.empty()) {
        // The files go beside FILE; when its folder cannot be entered, FILE stays as given.
        CGivenFile given = SplitGivenFile(arguments.front());
        m_strGivenName = argv[1];
        if (!given.m_strFolder.empty() && ::chdir(given.m_strFolder.c_str()) == 0)
            m_strGivenName = wxString(given.m_strName.c_str(), *wxConvFileName);
    }
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
    CBackgroundConversion conversion(name);
    // Interrupts go to the conversion's thread, which holds them while it replaces the files,
    // rather than to this one, which does not.
    CInterruptsHeld held;
    std::unique_ptr<wxBusyInfo> waiting;
    std::unique_ptr<wxProgressDialog> window;
    while (!conversion.Done()) {
        wxMilliSleep(50);
        if (conversion.Waiting() && !waiting) {
            std::string message = WaitingMessage(ToFileName(wxGetCwd()));
            ReportMessage(message);
            message[0] = 'W';
            waiting = std::make_unique<wxBusyInfo>(ToDisplay(message));
        } else if (!conversion.Waiting()) {
            waiting.reset();
        }
        if (!window && conversion.ShowProgress()) {
            Report("progress", "shown");
            window = std::make_unique<wxProgressDialog>(
                "Halvic", ToDisplay("Converting " + name), 1000, nullptr,
                wxPD_CAN_ABORT | wxPD_APP_MODAL | wxPD_ELAPSED_TIME | wxPD_REMAINING_TIME);
        }
        bool goOn = true;
        if (window) {
            int permille = conversion.Permille();
            goOn = permille >= 0 ? window->Update(permille) : window->Pulse();
        } else {
            wxTheApp->Yield(true);
        }
        if (!goOn) conversion.Cancel();
    }
    return conversion.Outcome();
}

}  // namespace halvic::app
