// halvic-gui on Windows: the dialog from the resource script, run modally; what it does with the
// name is shared with the other systems' dialog (typed_name.h).
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>

#include "app/dialog_resources.h"
#include "app/typed_name.h"
#include "engine/file.h"
#include "engine/windows_text.h"

namespace {

using halvic::Utf16;
using halvic::Utf8;

std::string CurrentFolder() {
    wchar_t folder[32768];
    DWORD n = ::GetCurrentDirectoryW(32768, folder);
    return n > 0 && n < 32768 ? Utf8(std::wstring_view(folder, n)) : std::string(".");
}

std::string EditText(HWND edit) {
    int length = ::GetWindowTextLengthW(edit);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int n = ::GetWindowTextW(edit, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(n));
    return Utf8(text);
}

struct CDialogState {
    std::string m_strName;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            HINSTANCE instance = ::GetModuleHandleW(nullptr);
            for (int size : {ICON_SMALL, ICON_BIG}) {
                int pixels = ::GetSystemMetrics(size == ICON_SMALL ? SM_CXSMICON : SM_CXICON);
                HANDLE icon = ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_HALVIC), IMAGE_ICON,
                                           pixels, pixels, LR_DEFAULTCOLOR);
                ::SendMessageW(dialog, WM_SETICON, size, reinterpret_cast<LPARAM>(icon));
            }
            HWND edit = ::GetDlgItem(dialog, IDC_FILENAME);
            // File names complete as they are typed; without it the box still works.
            ::SHAutoComplete(edit, SHACF_FILESYSTEM);
            ::DragAcceptFiles(dialog, TRUE);
            // The default button holds the focus when the dialog opens.
            ::SetFocus(::GetDlgItem(dialog, IDOK));
            return FALSE;  // the focus has been set
        }
        case WM_DROPFILES: {
            HDROP drop = reinterpret_cast<HDROP>(wParam);
            UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
            std::wstring path(length + 1, L'\0');
            ::DragQueryFileW(drop, 0, path.data(), length + 1);
            ::DragFinish(drop);
            path.resize(length);
            HWND edit = ::GetDlgItem(dialog, IDC_FILENAME);
            ::SetWindowTextW(edit, path.c_str());
            ::SendMessageW(edit, EM_SETSEL, length, length);  // the end, the file's name, shows
            return TRUE;
        }
        case WM_HELP:
            ::MessageBoxW(dialog, Utf16(halvic::app::HelpText(CurrentFolder())).c_str(),
                          Utf16(halvic::app::kHelpTitle).c_str(), MB_OK | MB_ICONINFORMATION);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK: {
                    auto* state =
                        reinterpret_cast<CDialogState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
                    state->m_strName = EditText(::GetDlgItem(dialog, IDC_FILENAME));
                    ::EndDialog(dialog, IDOK);
                    return TRUE;
                }
                case IDCANCEL:  // Cancel, Escape and the close box
                    ::EndDialog(dialog, IDCANCEL);
                    return TRUE;
            }
            break;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    // SHAutoComplete needs COM in this thread.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    halvic::CleanUpOnInterrupt();

    CDialogState state;
    INT_PTR answer = ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_FILENAME), nullptr,
                                       DialogProc, reinterpret_cast<LPARAM>(&state));
    if (answer != IDOK) return 0;  // Cancel, Escape or the close box: nothing asked for

    halvic::app::CTypedNameOutcome outcome = halvic::app::ConvertTypedName(state.m_strName);
    if (!outcome.m_strMessage.empty()) {
        ::MessageBoxW(nullptr, Utf16(outcome.m_strMessage).c_str(),
                      Utf16(halvic::app::kFailureTitle).c_str(), MB_OK | MB_ICONERROR);
    }
    ::CoUninitialize();
    return outcome.m_nExitCode;
}
