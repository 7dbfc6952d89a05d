// CConverterApp: the application object of halvic-gui. It asks for one file name,
// converts that file on OK and ends.
#pragma once

#include <wx/app.h>

namespace halvic::app {

class CConverterApp : public wxApp {
  public:
    // Takes the file named on the command line, if any ("halvic-gui FILE", as a file manager's
    // "Open with" starts it), and opens no window; returns true so that OnRun is called.
    bool OnInit() override;
    // The whole program: the dialog, then at most one conversion. Returns the exit status: 0
    // after a conversion that succeeded or after Cancel, 1 when nothing could be converted.
    int OnRun() override;

  private:
    wxString m_strGivenName;  // the edit box's text when the dialog opens
};

}  // namespace halvic::app

wxDECLARE_APP(halvic::app::CConverterApp);
