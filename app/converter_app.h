// CConverterApp: the application object of halvic-gui. It asks for one file name,
// converts that file on OK and ends.
#pragma once

#include <wx/app.h>

namespace halvic::app {

class CConverterApp : public wxApp {
  public:
    // Takes no command line and opens no window; returns true so that OnRun is called.
    bool OnInit() override;
    // The whole program: the dialog, then at most one conversion. Returns the exit status: 0
    // after a conversion that succeeded or after Cancel, 1 when nothing could be converted.
    int OnRun() override;
};

}  // namespace halvic::app

wxDECLARE_APP(halvic::app::CConverterApp);
