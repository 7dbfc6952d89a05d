#include "app/converter_app.h"

#include <wx/busyinfo.h>
#include <wx/filefn.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include <fstream>
#include <memory>
#include <string>

#include "app/filename_dlg.h"
#include "app/typed_name.h"
#include "app/wx_strings.h"
#include "engine/file.h"
#include "engine/output_set.h"

wxIMPLEMENT_APP(halvic::app::CConverterApp);

namespace halvic::app {

namespace {

// Test hook (tests/gui/gui_test.sh): a message shown to the user is also added to the file
// named by HALVIC_GUI_REPORT, where the dialog has written its layout.
void ReportMessage(const std::string& message) {
    wxString path;
    if (!wxGetEnv("HALVIC_GUI_REPORT", &path) || path.empty()) return;
    std::ofstream(ToFileName(path), std::ios::app) << "message " << message << '\n';
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
    std::string name;
    {
        CFilenameDlg dlg(nullptr, m_strGivenName);
        if (dlg.ShowModal() != wxID_OK) return 0;  // Cancel, Escape or the close box
        name = ToFileName(dlg.Filename());
    }  // the dialog is gone before the conversion starts

    // Another conversion into the same folder goes first; a window says so while it lasts.
    std::unique_ptr<wxBusyInfo> waiting;
    auto onWait = [&waiting] {
        std::string message = WaitingMessage(ToFileName(wxGetCwd()));
        ReportMessage(message);
        message[0] = 'W';
        waiting = std::make_unique<wxBusyInfo>(ToDisplay(message));
        // Drawn now: the wait that follows runs no event loop.
        for (int i = 0; i < 50; ++i) {
            wxTheApp->Yield(true);
            wxMilliSleep(10);
        }
    };
    CTypedNameOutcome outcome = ConvertTypedName(name, onWait);
    waiting.reset();
    if (!outcome.m_strMessage.empty()) {
        ReportMessage(outcome.m_strMessage);
        wxMessageBox(ToDisplay(outcome.m_strMessage), kFailureTitle,
                     wxOK | wxICON_ERROR | wxCENTRE);
    }
    return outcome.m_nExitCode;
}

}  // namespace halvic::app
