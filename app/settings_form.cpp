#include "app/settings_form.h"

#include <cstdint>

#include "settings/settings.h"
#include "settings/settings_table.h"
#include "settings/stop_request.h"
#include "text/number_text.h"

namespace {

constexpr FormControl blankForm[settingsFormControls] = {
    {idComPort, FormControlKind::edit, {}, false, true},
    {idScreenDistance, FormControlKind::edit, {}, false, true},
    {idScrollSpeed, FormControlKind::edit, {}, false, true},
    {idMouseAveraging, FormControlKind::edit, {}, false, true},
    {idLanAveraging, FormControlKind::edit, {}, false, true},
    {idLanPort, FormControlKind::edit, {}, false, true},
    {idMouseEnabled, FormControlKind::checkBox, {}, false, true},
    {idLanEnabled, FormControlKind::checkBox, {}, false, true},
    {idWebSocketEnabled, FormControlKind::checkBox, {}, false, true},
    {idPresetC, FormControlKind::radioButton, {}, false, true},
    {idPresetB, FormControlKind::radioButton, {}, false, true},
    {idAccelerationOutput, FormControlKind::radioButton, {}, false, true},
    {idRotationOutput, FormControlKind::radioButton, {}, false, true},
};

// The control of each of the eleven lines, in the file's order.
constexpr int lineControls[settingsLineCount] = {
    idComPort,      idScreenDistance,   idScrollSpeed,        idMouseAveraging,
    idLanAveraging, idLanPort,          idMouseEnabled,       idPresetB,
    idLanEnabled,   idWebSocketEnabled, idAccelerationOutput,
};

FormControl& control(SettingsForm& form, int id) {
    // Only called with the ids above.
    return *findFormControl(form, id);
}

bool isChecked(const SettingsForm& form, int id) {
    const FormControl* c = findFormControl(form, id);
    return c != nullptr && c->checked;
}

void setEnabled(SettingsForm& form, int id, bool enabled) {
    control(form, id).enabled = enabled;
}

void showInteger(SettingsForm& form, int id, long long value) {
    formatInteger(control(form, id).text, formTextSize, value);
}

// The partner of a radio button in its exclusive pair, or 0.
int radioPartner(int id) {
    switch (id) {
    case idPresetC:
        return idPresetB;
    case idPresetB:
        return idPresetC;
    case idAccelerationOutput:
        return idRotationOutput;
    case idRotationOutput:
        return idAccelerationOutput;
    default:
        return 0;
    }
}

// Enables or greys out the controls of every setting greyed out when.
void setGreyGroupEnabled(SettingsForm& form, GreyWhen when, bool enabled) {
    for (int line = 1; line <= settingsLineCount; ++line)
        if (settingsTable[settingOfLine(line)].grey == when)
            setEnabled(form, lineControls[line - 1], enabled);
}

void setLanDetailsEnabled(SettingsForm& form, bool enabled) {
    setGreyGroupEnabled(form, GreyWhen::lanOffOrPresetB, enabled);
}

// A text without a number keeps the previous value; then the row's range
// applies, if it has one.
void takeInteger(const SettingsForm& form, std::atomic<int32_t>& field, int line) {
    const SettingRow& row = settingsTable[settingOfLine(line)];
    int32_t value = field;
    scanInteger(findFormControl(form, lineControls[line - 1])->text, &value);
    if (row.range == RangeRule::clamp) {
        const auto low = static_cast<int32_t>(row.low);
        const auto high = static_cast<int32_t>(row.high);
        value = value < low ? low : (value > high ? high : value);
    }
    field = value;
}

} // namespace

int settingControl(int line) {
    return lineControls[line - 1];
}

FormControl* findFormControl(SettingsForm& form, int id) {
    for (FormControl& c : form.controls)
        if (c.id == id) return &c;
    return nullptr;
}

const FormControl* findFormControl(const SettingsForm& form, int id) {
    for (const FormControl& c : form.controls)
        if (c.id == id) return &c;
    return nullptr;
}

void initSettingsForm(SettingsForm& form) {
    for (int i = 0; i < settingsFormControls; ++i)
        form.controls[i] = blankForm[i];

    getComPort(control(form, idComPort).text);
    // A distance from a hand-edited file may need more than 31 characters;
    // the text is then cut, and confirming forces it into range anyway.
    formatFixed(control(form, idScreenDistance).text, formTextSize,
                static_cast<double>(settings.screenDistance.load()), 3);
    showInteger(form, idScrollSpeed, settings.scrollSpeed);
    showInteger(form, idMouseAveraging, settings.mouseAveraging);
    showInteger(form, idLanAveraging, settings.lanAveraging);
    showInteger(form, idLanPort, settings.lanPort);

    if (settings.mouseEnabled != 0)
        control(form, idMouseEnabled).checked = true;
    else
        setGreyGroupEnabled(form, GreyWhen::mouseOff, false);

    if (settings.deviceMode == devicePresetB) {
        control(form, idPresetB).checked = true;
        setGreyGroupEnabled(form, GreyWhen::presetB, false);
        setLanDetailsEnabled(form, false);
    } else {
        // 0, and the start-up value 2 before any file was read.
        control(form, idPresetC).checked = true;
    }

    if (settings.accelerationOutput == 1)
        control(form, idAccelerationOutput).checked = true;
    else
        control(form, idRotationOutput).checked = true;

    if (settings.lanEnabled != 0)
        control(form, idLanEnabled).checked = true;
    else
        setLanDetailsEnabled(form, false);

    control(form, idWebSocketEnabled).checked = settings.webSocketEnabled != 0;
}

void toggleFormControl(SettingsForm& form, int id) {
    FormControl* c = findFormControl(form, id);
    if (c == nullptr) return;
    if (c->kind == FormControlKind::checkBox) {
        c->checked = !c->checked;
    } else if (c->kind == FormControlKind::radioButton) {
        c->checked = true;
        control(form, radioPartner(id)).checked = false;
    }
}

bool applyEnablingRule(SettingsForm& form, int id) {
    switch (id) {
    case idMouseEnabled:
        setGreyGroupEnabled(form, GreyWhen::mouseOff, isChecked(form, idMouseEnabled));
        return true;
    case idLanEnabled:
        setLanDetailsEnabled(form, isChecked(form, idLanEnabled));
        return true;
    case idPresetC:
        setGreyGroupEnabled(form, GreyWhen::presetB, !isChecked(form, idPresetB));
        setLanDetailsEnabled(form, isChecked(form, idLanEnabled));
        return true;
    case idPresetB:
        setGreyGroupEnabled(form, GreyWhen::presetB, !isChecked(form, idPresetB));
        setLanDetailsEnabled(form, false);
        return true;
    default:
        return false;
    }
}

void applySettingsForm(const SettingsForm& form) {
    // Before any field changes; also ends a pause of the worker at once.
    requestStop();

    setComPort(findFormControl(form, idComPort)->text);

    const SettingRow& distanceRow = settingsTable[settingOfLine(2)];
    float distance = settings.screenDistance;
    scanFloat(findFormControl(form, idScreenDistance)->text, &distance);
    // Compared in double: the float nearest to 0.1 lies above 0.1 and stays.
    if (static_cast<double>(distance) < distanceRow.low)
        distance = static_cast<float>(distanceRow.low);
    if (static_cast<double>(distance) > distanceRow.high)
        distance = static_cast<float>(distanceRow.high);
    settings.screenDistance = distance;

    takeInteger(form, settings.scrollSpeed, 3);
    takeInteger(form, settings.mouseAveraging, 4);
    takeInteger(form, settings.lanAveraging, 5);
    // Taken as typed (no range): the server uses it modulo 65536.
    takeInteger(form, settings.lanPort, 6);

    settings.mouseEnabled = isChecked(form, idMouseEnabled) ? 1 : 0;
    settings.deviceMode = isChecked(form, idPresetB) ? devicePresetB : devicePresetC;
    settings.accelerationOutput = isChecked(form, idAccelerationOutput) ? 1 : 0;
    // Read whether or not the LAN controls are enabled.
    settings.lanEnabled = isChecked(form, idLanEnabled) ? 1 : 0;
    settings.webSocketEnabled = isChecked(form, idWebSocketEnabled) ? 1 : 0;
}

void confirmSettingsForm(const SettingsForm& form, const char* path) {
    applySettingsForm(form);
    writeSettingsFile(path);
}
