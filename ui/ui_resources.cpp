#include "ui/ui_resources.h"

#include "res/artwork.h"
#include "ui/skin/skin_ui.h"

namespace tovarek {

QFont MakeListFont() {
    QFont font;
    font.setFamilies({"SimSun", QString::fromUtf8("宋体"), "WenQuanYi Micro Hei",
                      "Noto Sans CJK SC", "Liberation Sans"});
    font.setPointSize(10);
    return font;
}

int ImageIdOf(const UiResources* res, UiImage* UiResources::*image) {
    return res && res->*image ? (res->*image)->GetId() : 0;
}

void LoadUiResources(UiResources& res) {
    // The skin reads images from the resource table; the program's artwork goes in first.
    InitArtworkResources();
    UiImage** images[] = {&res.imgMinButton, &res.imgCloseButton, &res.imgCheckBox,
                          &res.imgTabButton, &res.imgButton};
    const int ids[] = {133, 132, 131, 134, 134};
    for (UiImage** slot : images) {
        GetSkinUi()->DestroyObject(*slot);
        *slot = GetSkinUi()->CreateImage();
    }
    for (int i = 0; i < 5; ++i) (*images[i])->LoadFromResource(ids[i], 0, "PNG");
}

}  // namespace tovarek
