// The markup of a rich-text object: an optional block of comma-separated attributes between
// slashes, then plain text, e.g. "/a,p5=3,btn_width=80,btn_text='扫描'/" or "/a,linkl=1/关闭".
// Parsing never fails: unknown attributes and bad values are ignored, and a string whose block
// is never closed is all plain text. Pure function, safe from any thread.
#pragma once

#include <QString>
#include <QStringView>

namespace tovarek {

struct Markup {
    bool clickable = false;  // "a": reacts to the mouse and clicks
    int imageId = 0;         // "p5": image drawn as the face; 0 = none
    int btnWidth = -1;       // "btn_width" in pixels; -1 = from the face
    int btnHeight = -1;      // "btn_height" in pixels; -1 = from the face
    bool hasBtnText = false;
    QString btnText;        // "btn_text": caption drawn on the face
    bool twoState = false;  // "btn_type=1": the text holds two captions split by "//"
    bool link = false;      // "linkl=1"
    int lineWidth = -1;     // "line_width": the text is fitted into this many pixels; -1 = free
    QString text;           // plain text after the block (the first caption when twoState)
    QString text2;          // second caption when twoState
};

Markup ParseMarkup(QStringView markup);

}  // namespace tovarek
