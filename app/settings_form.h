#pragma once
// The settings dialog's rules, kept apart from any window system: what each
// control shows when the dialog opens, which controls a click enables, and
// how the texts and check states become Settings on confirm. A shell copies
// the controls' texts and check states into a SettingsForm and back.

#include <cstddef>

#include "app/settings_controls.h"

// Control ids of dialog 129.
enum SettingsControlId : int {
    idOk = 1,
    idCancel = 2,
    idMouseAveraging = IDC_MOUSE_AVERAGING,
    idComPort = IDC_COM_PORT,
    idScreenDistance = IDC_SCREEN_DISTANCE,
    idLanAveraging = IDC_LAN_AVERAGING,
    idLanPort = IDC_LAN_PORT,
    idMouseEnabled = IDC_MOUSE_ENABLED,
    idLanEnabled = IDC_LAN_ENABLED,
    idWebSocketEnabled = IDC_WEBSOCKET_ENABLED,
    idPresetC = IDC_PRESET_C,
    idPresetB = IDC_PRESET_B,
    idScrollSpeed = IDC_SCROLL_SPEED,
    idAccelerationOutput = IDC_ACCELERATION_OUTPUT,
    idRotationOutput = IDC_ROTATION_OUTPUT,
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

// The control that holds the setting of a line 1..11 (for the radio pairs,
// the second button: preset B, acceleration output).
int settingControl(int line);

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
