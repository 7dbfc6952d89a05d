// CConverterApp: the application object of halvic-gui. It asks for one file name,
// converts that file on OK and ends.
#pragma once

#include <wx/app.h>

#include <string>

#include "app/typed_name.h"

namespace halvic::app {

class CConverterApp : public wxApp {
  public:
    // Takes the file named on the command line, if any ("halvic-gui FILE", as a file manager's
    // "Open with" starts it), making its folder the working folder; opens no window; returns
    // true so that OnRun is called.
    bool OnInit() override;
    // The whole program: the dialog, then a conversion; after a failure the dialog again, until a
    // conversion succeeds or Cancel. Returns the exit status: 0 after a conversion that succeeded
    // or after Cancel at once, 1 after Cancel when the last conversion failed.
    int OnRun() override;

  private:
    // Converts `name` on a thread of its own, with a window while it waits for another
    // conversion or takes longer than a second (see CBackgroundConversion).
    CTypedNameOutcome Convert(const std::string& name);

    wxString m_strGivenName;  // the edit box's text when the dialog opens
};

}  // namespace halvic::app

wxDECLARE_APP(halvic::app::CConverterApp);
