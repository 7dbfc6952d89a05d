// halvic-gui on Windows: the dialog from the resource script, run modally; what it does with the
// name is shared with the other systems' dialog (typed_name.h).
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "app/background_conversion.h"
#include "app/dialog_resources.h"
#include "app/gui_command_line.h"
#include "app/gui_report.h"
#include "app/typed_name.h"
#include "app/warnings_windows.h"
#include "engine/io/file.h"
#include "engine/io/windows_text.h"
#include "engine/set/output_set.h"

namespace {

using halvic::Utf16;
using halvic::Utf8;
using halvic::app::Report;

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

std::string Pair(long a, long b) {
    return std::to_string(a) + " " + std::to_string(b);
}

// The dialog-unit base (the pixels of 4 x 8 units), the size the template asks for and the one
// the dialog has, each control's rectangle in the dialog, and where the focus is.
void ReportLayout(HWND dialog) {
    RECT base{0, 0, 4, 8};
    ::MapDialogRect(dialog, &base);
    RECT expected{0, 0, 185, 50};
    ::MapDialogRect(dialog, &expected);
    RECT client;
    ::GetClientRect(dialog, &client);
    Report("dlgunit_base", Pair(base.right, base.bottom));
    Report("dialog_expected", Pair(expected.right, expected.bottom));
    Report("client", Pair(client.right, client.bottom));
    const struct {
        const char* name;
        int id;
    } controls[] = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"label", -1}, {"edit", IDC_FILENAME}};
    HWND child = ::GetWindow(dialog, GW_CHILD);
    for (const auto& control : controls) {
        // The label has no identifier of its own: the controls are taken in the template's order.
        RECT rect;
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        Report(
            control.name,
            Pair(rect.left, rect.top) + " " + Pair(rect.right - rect.left, rect.bottom - rect.top) +
                (::GetDlgCtrlID(child) == control.id || control.id == -1 ? "" : " (out of order)"));
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
    LRESULT defaultId = ::SendMessageW(dialog, DM_GETDEFID, 0, 0);
    Report("default", LOWORD(defaultId) == IDOK ? "ok" : "other");
    Report("focus", ::GetFocus() == ::GetDlgItem(dialog, IDOK) ? "ok" : "other");
}

struct CDialogState {
    std::string m_strName;  // the edit box's text: when the dialog opens, and as it ends with OK
    // The dialog opens again after a failure: the focus in the edit box, its text selected, so
    // that a mistyped name is corrected or replaced at once.
    bool m_bAgain = false;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            const auto* state = reinterpret_cast<const CDialogState*>(lParam);
            HINSTANCE instance = ::GetModuleHandleW(nullptr);
            for (int size : {ICON_SMALL, ICON_BIG}) {
                int pixels = ::GetSystemMetrics(size == ICON_SMALL ? SM_CXSMICON : SM_CXICON);
                HANDLE icon = ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_HALVIC), IMAGE_ICON,
                                           pixels, pixels, LR_DEFAULTCOLOR);
                ::SendMessageW(dialog, WM_SETICON, size, reinterpret_cast<LPARAM>(icon));
            }
            HWND edit = ::GetDlgItem(dialog, IDC_FILENAME);
            ::SetWindowTextW(edit, Utf16(state->m_strName).c_str());
            // File names complete as they are typed; without it the box still works.
            ::SHAutoComplete(edit, SHACF_FILESYSTEM);
            ::DragAcceptFiles(dialog, TRUE);
            if (state->m_bAgain) {
                ::SetFocus(edit);
                ::SendMessageW(edit, EM_SETSEL, 0, -1);
                return FALSE;  // the report holds the layout of the first showing
            }
            // The default button holds the focus when the dialog opens.
            ::SetFocus(::GetDlgItem(dialog, IDOK));
            ReportLayout(dialog);
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

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) {  // the button, Escape and the close box
                reinterpret_cast<halvic::app::CBackgroundConversion*>(
                    ::GetWindowLongPtrW(dialog, DWLP_USER))
                    ->Cancel();
                ::EnableWindow(::GetDlgItem(dialog, IDCANCEL), FALSE);
                return TRUE;
            }
            break;
    }
    return FALSE;
}

// Converts `name` on a thread of its own. While another conversion into the same folder goes
// first, a window says so; after a second of reading, a window shows how far it has got, with a
// Cancel button.
halvic::app::CTypedNameOutcome Convert(HINSTANCE instance, const std::string& name) {
    halvic::app::CBackgroundConversion conversion(name);
    HWND waiting = nullptr;
    HWND window = nullptr;
    while (!conversion.Done()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (window == nullptr || !::IsDialogMessageW(window, &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        if (conversion.Waiting() && waiting == nullptr) {
            std::string message = halvic::WaitingMessage(CurrentFolder());
            Report("message", message);
            message[0] = 'W';
            waiting =
                ::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_WAITING), nullptr, nullptr, 0);
            if (waiting != nullptr) {
                ::SetDlgItemTextW(waiting, IDC_WAITING, Utf16(message).c_str());
                ::ShowWindow(waiting, SW_SHOW);
            }
        } else if (!conversion.Waiting() && waiting != nullptr) {
            ::DestroyWindow(waiting);
            waiting = nullptr;
        }
        if (window == nullptr && conversion.ShowProgress()) {
            Report("progress", "shown");
            window = ::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                          ProgressProc, reinterpret_cast<LPARAM>(&conversion));
            if (window != nullptr) {
                ::SetDlgItemTextW(window, IDC_PROGRESS_TEXT, Utf16("Converting " + name).c_str());
                HWND bar = ::GetDlgItem(window, IDC_PROGRESS_BAR);
                ::SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
                if (conversion.Permille() < 0) {  // of a pipe: how far is not known
                    ::SetWindowLongPtrW(bar, GWL_STYLE,
                                        ::GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
                    ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, 50);
                }
                ::ShowWindow(window, SW_SHOW);
            }
        }
        if (window != nullptr && conversion.Permille() >= 0) {
            ::SendDlgItemMessageW(window, IDC_PROGRESS_BAR, PBM_SETPOS,
                                  static_cast<WPARAM>(conversion.Permille()), 0);
        }
    }
    if (waiting != nullptr) ::DestroyWindow(waiting);
    if (window != nullptr) ::DestroyWindow(window);
    return conversion.Outcome();
}

// For --help and --version: the console halvic-gui.exe was started from, or where its output is
// sent; a box when there is neither.
void Print(const std::string& text) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD type =
        out != nullptr && out != INVALID_HANDLE_VALUE ? ::GetFileType(out) : FILE_TYPE_UNKNOWN;
    DWORD written = 0;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE) {
            std::wstring wide = Utf16("\n" + text);  // the prompt is already on the line
            ::WriteConsoleW(console, wide.c_str(), static_cast<DWORD>(wide.size()), &written,
                            nullptr);
            ::CloseHandle(console);
            return;
        }
    }
    ::MessageBoxW(nullptr, Utf16(text).c_str(), L"Halvic", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    // SHAutoComplete needs COM in this thread.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    halvic::CleanUpOnInterrupt();

    // "halvic-gui FILE", as "Open with" and Explorer's "Convert with Halvic" start it: FILE is
    // in the edit box and the files go to its folder. Or the help or the version, without the
    // dialog.
    CDialogState state;
    std::vector<std::string> arguments;
    int argc = 0;
    if (LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc)) {
        for (int i = 1; i < argc; ++i)
            arguments.push_back(Utf8(argv[i]));
        ::LocalFree(argv);
    }
    switch (halvic::app::ParseGuiArguments(arguments)) {
        case halvic::app::EGuiStart::kHelp:
            Print(halvic::app::GuiHelpText());
            return 0;
        case halvic::app::EGuiStart::kVersion:
            Print(halvic::app::GuiVersionText());
            return 0;
        case halvic::app::EGuiStart::kDialog:
            break;
    }
    if (!arguments.empty()) {
        // When FILE's folder cannot be entered, FILE stays as given.
        halvic::app::CGivenFile given = halvic::app::SplitGivenFile(arguments.front());
        state.m_strName = arguments.front();
        if (!given.m_strFolder.empty() &&
            ::SetCurrentDirectoryW(Utf16(given.m_strFolder).c_str())) {
            state.m_strName = given.m_strName;
        }
    }
    // The dialog, then a conversion; after a failure the dialog again, until a conversion
    // succeeds or Cancel, which ends with the status of the last conversion (0 when none).
    int status = 0;
    while (::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_FILENAME), nullptr, DialogProc,
                             reinterpret_cast<LPARAM>(&state)) == IDOK) {
        halvic::app::CTypedNameOutcome outcome = Convert(instance, state.m_strName);
        status = outcome.m_nExitCode;
        if (status == 0) {
            if (!outcome.m_warnings.empty()) {
                halvic::app::ShowWarnings(instance, outcome.m_warnings, CurrentFolder());
            }
            break;
        }
        Report("message", outcome.m_strMessage);
        ::MessageBoxW(nullptr, Utf16(outcome.m_strMessage).c_str(),
                      Utf16(halvic::app::kFailureTitle).c_str(), MB_OK | MB_ICONERROR);
        state.m_bAgain = true;
    }
    ::CoUninitialize();
    return status;
}
