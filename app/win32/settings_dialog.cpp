// Binds the portable settings form to the controls of dialog 129.
#include "app/settings_form.h"
#include "app/win32/resource.h"
#include "app/win32/win32_shell.h"
#include "app/win32/window_notes.h"
#include "measurement/worker.h"
#include "settings/settings.h"

namespace {

// Reads every control into the form; GetWindowTextA with the form's 32-byte
// buffer cuts a longer text to 31 characters.
void readControls(HWND dialog, SettingsForm& form) {
    initSettingsForm(form); // ids and kinds; every value is overwritten below
    for (FormControl& c : form.controls) {
        HWND item = GetDlgItem(dialog, c.id);
        if (c.kind == FormControlKind::edit) {
            if (GetWindowTextA(item, c.text, formTextSize) == 0) c.text[0] = '\0';
        } else {
            c.checked = SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED;
        }
        c.enabled = IsWindowEnabled(item) != FALSE;
    }
}

void showEnabledStates(HWND dialog, const SettingsForm& form) {
    for (const FormControl& c : form.controls) {
        HWND item = GetDlgItem(dialog, c.id);
        if ((IsWindowEnabled(item) != FALSE) != c.enabled) EnableWindow(item, c.enabled);
    }
}

void showControls(HWND dialog, const SettingsForm& form) {
    for (const FormControl& c : form.controls) {
        HWND item = GetDlgItem(dialog, c.id);
        if (c.kind == FormControlKind::edit)
            SetWindowTextA(item, c.text);
        else
            SendMessageW(item, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    showEnabledStates(dialog, form);
}

} // namespace

INT_PTR CALLBACK settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SettingsForm form;
        initSettingsForm(form);
        showControls(dialog, form);
        return TRUE; // the dialog manager sets the default focus
    }
    if (message != WM_COMMAND) return FALSE;

    const int id = LOWORD(wParam);
    if (id == IDOK) {
        SettingsForm form;
        readControls(dialog, form);
        // The confirm stops a measurement as Run's stop does: the worker ends
        // and the port and the LAN listener are closed (for other programs,
        // and so that no client is accepted and left unanswered) until Run
        // opens them again. The log keeps its last lines, so the notes line
        // says that nothing runs until the next Run.
        const bool measuring = workerRecorded();
        stopMeasurement();
        confirmSettingsForm(form, settingsFileName);
        EndDialog(dialog, IDOK);
        if (measuring) showProgramNote(measurementSource, IDS_NOTE_STOPPED, NoteLevel::problem);
        return TRUE;
    }
    if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    if (HIWORD(wParam) != BN_CLICKED) return FALSE;
    // The button has already toggled itself; the rule reads the states after the click.
    SettingsForm form;
    readControls(dialog, form);
    if (!applyEnablingRule(form, id)) return FALSE;
    showEnabledStates(dialog, form);
    return TRUE;
}
