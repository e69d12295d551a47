#include "output/hand/air_mouse.h"

#include <cmath>

#include "output/desktop/pointer.h"
#include "output/hand/held_input.h"
#include "settings/settings.h"

std::atomic<int32_t> screenWidth{0};
std::atomic<int32_t> screenHeight{0};
std::atomic<float> screenDistancePixels{0.0f};
std::atomic<float> screenReachX{1.0f};
std::atomic<float> screenReachY{1.0f};

namespace {

// Button states last acted upon; the worker's thread only.
int32_t previousButtons[5] = {0, 0, 0, 0, 0};
// Let go by the bridge while the device still held it: the button acts
// again only after the device lets it go.
bool letGoWhileHeld[5] = {false, false, false, false, false};

// Event flag words per button (left, right, wheel forward, wheel backward,
// middle): sent when its state becomes 1 / leaves 1; 0 means no event.
const uint32_t buttonDownFlags[5] = {mouseEventAbsolute | mouseEventLeftDown,
                                     mouseEventAbsolute | mouseEventRightDown, mouseEventWheel,
                                     mouseEventWheel, mouseEventAbsolute | mouseEventMiddleDown};
const uint32_t buttonUpFlags[5] = {mouseEventAbsolute | mouseEventLeftUp,
                                   mouseEventAbsolute | mouseEventRightUp, 0, 0,
                                   mouseEventAbsolute | mouseEventMiddleUp};
// Sign of the wheel data (scrollSpeed) that goes with the down flags.
const int32_t buttonWheelDirection[5] = {0, 0, 1, -1, 0};

} // namespace

void computeScreenDistancePixels() {
    screenDistancePixels = static_cast<float>(screenWidth.load()) * settings.screenDistance.load();
    screenReachX = settings.mouseReachX.load();
    screenReachY = settings.mouseReachY.load();
}

void resetPreviousButtons() {
    for (int k = 0; k < 5; ++k) {
        previousButtons[k] = 0;
        letGoWhileHeld[k] = false;
    }
}

void releaseAirMouseButtons(bool untilLetGo) {
    for (int k = 0; k < 5; ++k) {
        const bool down = previousButtons[k] == 1;
        if (down && buttonUpFlags[k] != 0) sendHeldMouseEvent(buttonUpFlags[k], 0);
        if (untilLetGo && down) letGoWhileHeld[k] = true;
        if (!untilLetGo) letGoWhileHeld[k] = false;
        previousButtons[k] = 0;
    }
}

void pointingDirection(const MotionOutput& mouseOutput, float direction[3]) {
    const RotationMatrix r =
        quaternionToMatrix(mouseOutput.quaternion[0], mouseOutput.quaternion[1],
                           mouseOutput.quaternion[2], mouseOutput.quaternion[3]);
    const float* m = r.m;
    // The forward axis as a row vector times the matrix; the zero terms are
    // kept so that infinite entries give the same not-a-number results.
    direction[0] = (0.0f * m[0] + 0.0f * m[4]) + m[8];
    direction[1] = (0.0f * m[1] + 0.0f * m[5]) + m[9];
    direction[2] = (0.0f * m[2] + 0.0f * m[6]) + m[10];
}

bool projectUnlimited(const float direction[3], float* x, float* y) {
    const float dx = direction[0], dy = direction[1], dz = direction[2];
    // Pointing away from the plane (dz < 0) is not tested for: the cursor goes
    // where the opposite direction points, and the limits keep it on screen.
    const float f = screenDistancePixels.load() / dz;
    const float w = static_cast<float>(screenWidth.load());
    const float h = static_cast<float>(screenHeight.load());
    // A reach of 1 multiplies exactly: the default mapping is unchanged.
    const float fx = f * screenReachX.load();
    const float fy = f * screenReachY.load();
    *x = w * 0.5f - dx * fx;
    *y = dy * fy + h * 0.5f;
    return !std::isnan(*x) && !std::isnan(*y);
}

void limitToScreen(float* x, float* y) {
    const float w = static_cast<float>(screenWidth.load());
    const float h = static_cast<float>(screenHeight.load());
    float sx = *x, sy = *y;
    if (0.0f > sx) sx = 0.0f;
    if (w - 1.0f < sx) sx = w - 1.0f;
    if (0.0f > sy) sy = 0.0f;
    if (h - 1.0f < sy) sy = h - 1.0f;
    *x = sx;
    *y = sy;
}

bool projectDirection(const float direction[3], float* x, float* y) {
    float sx, sy;
    // A not-a-number passes the limits; converting it to an integer is
    // undefined, so the cursor stays where it is instead.
    if (!projectUnlimited(direction, &sx, &sy)) return false;
    limitToScreen(&sx, &sy);
    *x = sx;
    *y = sy;
    return true;
}

void directionOfPosition(float x, float y, double direction[3]) {
    const double w = static_cast<double>(screenWidth.load());
    const double h = static_cast<double>(screenHeight.load());
    direction[0] = (w * 0.5 - x) / static_cast<double>(screenReachX.load());
    direction[1] = (y - h * 0.5) / static_cast<double>(screenReachY.load());
    direction[2] = static_cast<double>(screenDistancePixels.load());
}

bool cursorPosition(const MotionOutput& mouseOutput, int32_t* x, int32_t* y) {
    float direction[3], sx, sy;
    pointingDirection(mouseOutput, direction);
    if (!projectDirection(direction, &sx, &sy)) return false;
    *x = static_cast<int32_t>(sx);
    *y = static_cast<int32_t>(sy);
    return true;
}

void updateCursor(const MotionOutput& mouseOutput) {
    int32_t x, y;
    if (cursorPosition(mouseOutput, &x, &y)) placeCursor(x, y);
}

int32_t previousButton(int k) {
    return previousButtons[k];
}

bool buttonsChange(const ButtonState& buttons) {
    for (int k = 0; k < 5; ++k)
        if (buttonWheelDirection[k] == 0 && !letGoWhileHeld[k] &&
            buttons.button[k] != previousButtons[k])
            return true;
    return false;
}

void injectButtons(const ButtonState& buttons) {
    for (int k = 0; k < 5; ++k) {
        const int32_t s = buttons.button[k];
        if (letGoWhileHeld[k]) {
            if (s == 1) continue;
            letGoWhileHeld[k] = false;
        }
        // The wheel buttons have no previous state to compare with: a held
        // wheel button repeats with every sample.
        if (s == previousButtons[k] && buttonWheelDirection[k] == 0) continue;
        if (s == 1) {
            if (buttonDownFlags[k] != 0) {
                // Negated in unsigned arithmetic: the file does not limit the
                // scroll speed, and the most negative value must not overflow.
                const uint32_t speed = static_cast<uint32_t>(settings.scrollSpeed.load());
                uint32_t data = 0;
                if (buttonWheelDirection[k] > 0) data = speed;
                if (buttonWheelDirection[k] < 0) data = 0u - speed;
                sendHeldMouseEvent(buttonDownFlags[k], static_cast<int32_t>(data));
            }
        } else if (buttonUpFlags[k] != 0) {
            sendHeldMouseEvent(buttonUpFlags[k], 0);
        }
        previousButtons[k] = s;
    }
}
