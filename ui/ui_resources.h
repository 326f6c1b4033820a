// The images and the list font every window shares. Made once at start-up on the UI thread and
// kept until the process ends; the windows only read it.
#pragma once

#include <QFont>
#include <string>

namespace tovarek {

class UiImage;

struct UiResources {
    std::u16string moduleDir;
    UiImage* imgMinButton = nullptr;    // strip 133
    UiImage* imgCloseButton = nullptr;  // strip 132
    UiImage* imgCheckBox = nullptr;     // strip 131
    UiImage* imgTabButton = nullptr;    // strip 134
    UiImage* imgButton = nullptr;       // strip 134 again, a separate object
    QFont fntText;                      // 10-point "宋体" or the CJK faces Linux has instead
};

// The 10-point list font: "宋体" where it exists, else the CJK faces a Debian desktop has.
QFont MakeListFont();

// The markup id ("p5=") of one of the shared images, e.g. ImageIdOf(res, &UiResources::imgButton);
// 0 (no image) when the resources or the image are missing, as in tests that draw without them.
int ImageIdOf(const UiResources* res, UiImage* UiResources::*image);

// Creates the five image objects (destroying any already in the slots) and loads their strips.
void LoadUiResources(UiResources& res);

}  // namespace tovarek
