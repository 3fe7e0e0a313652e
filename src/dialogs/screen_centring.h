// Where the license and credits dialogs are placed: centred on the whole
// screen (not the work area), whatever their owner.
#pragma once

struct ScreenPlacement {
    int x;
    int y;
    int width;
    int height;
};

// The dialog's window rectangle (left, top, right, bottom) moved so that its
// middle sits on the middle of a screen of `screenWidth` x `screenHeight`:
// x = screenWidth/2 - width/2 and y = screenHeight/2 - height/2, each halving
// a signed division truncating toward zero. A dialog larger than the screen
// gets a negative position and stays centred. The size is kept.
ScreenPlacement CentreOnScreen(int left, int top, int right, int bottom, int screenWidth,
                               int screenHeight);
