#pragma once
// The settings dialog's rules, kept apart from any window system: what each
// control shows when the dialog opens, which controls a click enables, and
// how the texts and check states become Settings on confirm. A shell copies
// the controls' texts and check states into a SettingsForm and back.

#include <cstddef>

// Control ids of dialog 129.
enum SettingsControlId : int {
    idOk = 1,
    idCancel = 2,
    idMouseAveraging = 1000,
    idComPort = 1003,
    idScreenDistance = 1005,
    idLanAveraging = 1004,
    idLanPort = 1010,
    idMouseEnabled = 1011,
    idLanEnabled = 1012,
    idWebSocketEnabled = 1013,
    idPresetC = 1016,
    idPresetB = 1017,
    idScrollSpeed = 1018,
    idAccelerationOutput = 1019,
    idRotationOutput = 1020,
};

enum class FormControlKind { edit, checkBox, radioButton };

// Every text moves through a 32-byte buffer: at most 31 characters.
constexpr int formTextSize = 32;

struct FormControl {
    int id;
    FormControlKind kind;
    char text[formTextSize]; // edits only
    bool checked;            // check boxes and radio buttons only
    bool enabled;
};

constexpr int settingsFormControls = 13;

struct SettingsForm {
    FormControl controls[settingsFormControls];
};

// The control with this id, or nullptr for an id the form does not hold.
FormControl* findFormControl(SettingsForm& form, int id);
const FormControl* findFormControl(const SettingsForm& form, int id);

// Fills the form from the current Settings, as the dialog shows them on opening.
void initSettingsForm(SettingsForm& form);

// What the platform's own button does on a click before the dialog hears of
// it: a check box toggles, a radio button selects itself and clears its partner.
void toggleFormControl(SettingsForm& form, int id);

// The enabling rule of a clicked control, reading the check states after the
// click. Ids without a rule change nothing. Returns whether a rule ran.
bool applyEnablingRule(SettingsForm& form, int id);

// Confirm without the file: requests a stop first (requestStop), then forces
// every value into its range and stores it in Settings.
void applySettingsForm(const SettingsForm& form);

// Confirm: requests a stop first (requestStop), then forces every value into its range,
// stores it in Settings and writes the configuration file to path (a file that
// cannot be written is skipped; the new Settings stay in effect).
void confirmSettingsForm(const SettingsForm& form, const char* path);
