#include "dialogs/screen_centring.h"

ScreenPlacement CentreOnScreen(int left, int top, int right, int bottom, int screenWidth,
                               int screenHeight) {
    const int width = right - left;
    const int height = bottom - top;
    return {screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, width, height};
}
