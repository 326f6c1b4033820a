// The skinned-UI library: images cut into five state frames, and rich-text objects (buttons,
// check options, two-state toggles, links and text lines) that draw themselves from markup and
// take hover, press and click from the mouse events of the window they are drawn on. A window
// only calls Draw from its paint handler; the library watches the window's mouse events itself,
// hit-tests its objects and calls the registered click handlers.
//
// Everything here belongs to the UI thread. GetSkinUi() returns the one process-wide factory;
// the objects it creates live until DestroyObject (or the end of the process).
#pragma once

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringView>
#include <QWidget>
#include <functional>
#include <memory>
#include <type_traits>
#include <unordered_map>

#include "ui/skin/markup.h"
#include "ui/skin/printf_format.h"

class QPainter;

namespace tovarek {

class SkinHost;
class UiFactory;

// Frames of every image strip, top to bottom.
enum UiFrame {
    kFrameNormal = 0,
    kFrameHover = 1,
    kFramePressed = 2,
    kFrameSelected = 3,
    kFrameDisabled = 4,
    kFrameCount = 5
};

// Base of the library's objects. Made and destroyed only by the factory.
class UiObject {
public:
    virtual ~UiObject() = default;
    UiObject(const UiObject&) = delete;
    UiObject& operator=(const UiObject&) = delete;

protected:
    UiObject() = default;
};

// A vertical strip of five equal frames, one per state.
class UiImage : public UiObject {
public:
    // Loads the embedded resource ":/<type>/<id>" (with its "@2x" form when there is one, used on
    // high-density screens). Returns 1 on success; 0 when there is no such image or its height
    // is not five frames, in which case the object stays empty and draws nothing. The second
    // argument is reserved and must be 0.
    int LoadFromResource(int resourceId, int reserved, const char* type);

    // The number by which markup ("p5=") names this image; never 0.
    int GetId() const { return m_nId; }

    bool IsLoaded() const { return !m_img.isNull(); }
    QSize FrameSize() const;  // logical pixels; empty when not loaded

    // Draws frame `frame` (clamped to 0..4) into `target`. A target of another size keeps
    // 4-pixel caps at the edges and stretches only the middle, so corners stay crisp.
    void DrawFrame(QPainter& dc, const QRect& target, int frame) const;

private:
    friend class UiFactory;
    explicit UiImage(int id) : m_nId(id) {}

    int m_nId;
    QImage m_img;    // 1x strip
    QImage m_img2x;  // 2x strip, or null
};

// One piece of markup drawn at a point: see ui/skin/markup.h for the attributes.
class UiRichText : public UiObject {
public:
    ~UiRichText() override;

    // printf-style; the composed text becomes the object's markup. May be called at any time.
    template <typename... Args>
    void SetText(QStringView format, const Args&... args) {
        SetMarkup(FormatText(format, args...));
    }
    void SetMarkup(const QString& markup);
    const QString& GetText() const { return m_strMarkup; }

    // Event 1 is the click, the only one there is; other events are refused (false). On a click
    // of an enabled object whose markup has "a", the handler is called with `index` and a second
    // argument that is always 0. Registering again replaces the handler, also from inside it.
    // When the owner is a QObject that has been deleted, the handler is no longer called.
    template <typename T, typename Fn>
    bool SetClickHandler(int event, int index, T* owner, Fn T::*handler);
    bool SetClickHandler(int event, int index, std::function<void(int, int)> handler);

    // Paints the object with its top left at (x, y), in client coordinates of `window`, and
    // makes it take that window's mouse events at that place. `window` may be null (drawing
    // only). The last argument is reserved and must be 0.
    void Draw(QPainter& dc, int x, int y, QWidget* window, int reserved);

    // Greys the object (frame 4, grey text) and makes it deaf to the mouse, or undoes that.
    // With redraw non-zero the window repaints the object.
    void SetEnabled(int enabled, int redraw);

    // 0..4 shows that frame whatever the mouse does (clicks still arrive); -1 follows the mouse
    // again. Other values are ignored.
    void SetState(int state);

    // What the object looks like and where it is; for windows that lay out around it, and tests.
    bool IsEnabled() const { return m_bEnabled; }
    int GetState() const { return m_nState; }
    bool IsToggled() const { return m_bToggled; }
    int CurrentFrame() const;
    QSize GetSize() const;
    QRect GetBounds() const { return m_rcBounds; }  // where it was last drawn
    const Markup& GetMarkup() const { return m_markup; }
    QString GetLabel() const;  // the text shown after the face (current caption for toggles)

private:
    friend class UiFactory;
    friend class SkinHost;
    UiRichText() = default;

    void Attach(QWidget* window);
    void Invalidate(const QRect& extra = QRect());
    void Click();  // called by the host after a completed press and release

    QString m_strMarkup;
    Markup m_markup;
    bool m_bEnabled = true;
    int m_nState = -1;
    bool m_bToggled = false;  // two-state buttons: showing the second caption
    std::function<void(int, int)> m_fnClick;
    int m_nClickIndex = 0;
    QRect m_rcBounds;
    QPointer<SkinHost> m_pHost;
    unsigned m_nDrawSeq = 0;   // z-order within the host: later draws lie on top
    unsigned m_nPaintGen = 0;  // the host's paint pass in which it was last drawn
};

class UiFactory {
public:
    UiFactory() = default;
    ~UiFactory();
    UiFactory(const UiFactory&) = delete;
    UiFactory& operator=(const UiFactory&) = delete;

    UiImage* CreateImage();
    UiRichText* CreateRichText();
    // Destroys an object made by this factory; null, foreign or already destroyed objects are
    // ignored. Markup naming a destroyed image simply draws without it.
    void DestroyObject(UiObject* object);

    UiImage* FindImage(int id) const;

private:
    std::unordered_map<UiObject*, std::unique_ptr<UiObject>> m_objects;
    std::unordered_map<int, UiImage*> m_images;
    int m_nNextImageId = 1;
};

// The process-wide factory; also registers the embedded artwork on first use.
UiFactory* GetSkinUi();

// The library's text font: 12-pixel SimSun, or the CJK fonts Linux has in its place.
QFont SkinTextFont();

template <typename T, typename Fn>
bool UiRichText::SetClickHandler(int event, int index, T* owner, Fn T::*handler) {
    if (!owner || !handler) return false;
    std::function<void(int, int)> call;
    auto invoke = [handler](T* self, int i, int arg) {
        if constexpr (std::is_invocable_v<Fn T::*, T*, int, int>) {
            (self->*handler)(i, arg);
        } else {
            static_assert(std::is_invocable_v<Fn T::*, T*, int>,
                          "a click handler takes (int index) or (int index, int)");
            (void)arg;
            (self->*handler)(i);
        }
    };
    if constexpr (std::is_base_of_v<QObject, T>) {
        QPointer<T> guard(owner);
        call = [guard, invoke](int i, int arg) {
            if (T* self = guard.data()) invoke(self, i, arg);
        };
    } else {
        call = [owner, invoke](int i, int arg) { invoke(owner, i, arg); };
    }
    return SetClickHandler(event, index, std::move(call));
}

}  // namespace tovarek
