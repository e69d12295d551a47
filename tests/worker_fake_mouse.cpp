// Stand-in for the air mouse until the real one is linked with a recording pointer.
#include <atomic>
#include <string>

#include "output/air_mouse.h"

void fakeMouseTrace(const std::string& entry);

std::atomic<int32_t> screenWidth{1920};
std::atomic<int32_t> screenHeight{1080};
std::atomic<float> screenDistancePixels{0.0f};
int32_t previousButtons[5];

void computeScreenDistancePixels() {
    fakeMouseTrace("screen distance");
}
void resetPreviousButtons() {
    for (int32_t& b : previousButtons)
        b = 0;
    fakeMouseTrace("reset buttons");
}
void updateCursor(const MotionOutput&) {
    fakeMouseTrace("cursor");
}
void injectButtons(const ButtonState& buttons) {
    std::string text = "buttons ";
    for (int32_t b : buttons.button)
        text += char('0' + b);
    fakeMouseTrace(text);
}
