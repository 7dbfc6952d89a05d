// Completes file names in the edit box as they are typed (CompleteFileName, in wxWidgets' terms).
#pragma once

#include <wx/textcompleter.h>

namespace halvic::app {

class CFileNameCompleter : public wxTextCompleterSimple {
  public:
    void GetCompletions(const wxString& prefix, wxArrayString& res) override;
};

}  // namespace halvic::app
