#include "ui/skin/skin_ui.h"

#include <QEvent>
#include <QFile>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <vector>

namespace tovarek {

namespace {

constexpr int kSliceCap = 4;     // edge pixels of a face kept unscaled
constexpr int kCaptionPad = 16;  // room left and right of a caption on a face sized to fit it
constexpr int kLabelGap = 4;     // between a face and the text after it

const QColor kTextColour(0x1E, 0x1E, 0x1E);
const QColor kCaptionColour(0x14, 0x2C, 0x4E);
const QColor kGreyText(0x8C, 0x8C, 0x8C);
const QColor kLinkColours[kFrameCount] = {QColor(0x1F, 0x5F, 0xAF), QColor(0xD0, 0x5A, 0x00),
                                          QColor(0x8A, 0x3A, 0x00), QColor(0x1F, 0x5F, 0xAF),
                                          kGreyText};

}  // namespace

QFont SkinTextFont() {
    // Built once, as status lines are laid out again for every scanned file. Never deleted: a
    // static destructor would run after the application's font database is gone.
    static const QFont* font = [] {
        auto* f = new QFont();
        f->setFamilies({"SimSun", QString::fromUtf8("宋体"), "WenQuanYi Micro Hei",
                        "Noto Sans CJK SC", "Liberation Sans"});
        f->setPixelSize(12);
        return f;
    }();
    return *font;
}

// Watches one window's mouse events for every object drawn on it. Lives as a child of the
// window, so it goes away with it; objects hold it through a QPointer.
class SkinHost : public QObject {
public:
    explicit SkinHost(QWidget* window) : QObject(window), m_pWindow(window) {
        window->setMouseTracking(true);  // hover needs moves without a pressed button
        window->installEventFilter(this);
    }

    ~SkinHost() override {
        for (UiRichText* object : m_objects) object->m_pHost = nullptr;
    }

    static SkinHost* For(QWidget* window) {
        for (QObject* child : window->children()) {
            // Only our own hosts are children of this exact type.
            if (auto* host = dynamic_cast<SkinHost*>(child)) return host;
        }
        return new SkinHost(window);
    }

    QWidget* window() const { return m_pWindow; }
    unsigned paintGen() const { return m_nPaintGen; }
    unsigned NextDrawSeq() { return ++m_nDrawSeq; }
    bool IsHover(const UiRichText* o) const { return m_pHover == o; }
    bool IsPressed(const UiRichText* o) const { return m_pPressed == o; }

    void Add(UiRichText* object) {
        if (std::find(m_objects.begin(), m_objects.end(), object) == m_objects.end())
            m_objects.push_back(object);
    }

    void Remove(UiRichText* object) {
        m_objects.erase(std::remove(m_objects.begin(), m_objects.end(), object), m_objects.end());
        Forget(object);
    }

    // The object no longer takes the mouse (removed or disabled).
    void Forget(UiRichText* object) {
        if (m_pPressed == object) m_pPressed = nullptr;
        if (m_pHover == object) SetHover(nullptr);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_pWindow) return false;
        switch (event->type()) {
            case QEvent::Paint:
                // A new paint pass: only objects drawn in it can be hit afterwards.
                ++m_nPaintGen;
                return false;
            case QEvent::MouseMove:
                OnMove(static_cast<QMouseEvent*>(event)->position().toPoint());
                return false;
            case QEvent::Leave:
            case QEvent::Hide:
                m_pPressed = nullptr;
                SetHover(nullptr);
                return false;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:  // a quick second press is a press like the first
                return OnPress(static_cast<QMouseEvent*>(event));
            case QEvent::MouseButtonRelease:
                return OnRelease(static_cast<QMouseEvent*>(event));
            default:
                return false;
        }
    }

private:
    // The topmost clickable object at `pos` drawn in the current paint pass. Enabled objects win
    // over disabled ones at the same place (pages stack their idle and busy buttons).
    UiRichText* HitTest(const QPoint& pos, bool* disabled = nullptr) const {
        UiRichText* best = nullptr;
        UiRichText* bestDisabled = nullptr;
        for (UiRichText* o : m_objects) {
            if (!o->m_markup.clickable || o->m_nPaintGen != m_nPaintGen) continue;
            if (!o->m_rcBounds.contains(pos)) continue;
            UiRichText*& slot = o->m_bEnabled ? best : bestDisabled;
            if (!slot || o->m_nDrawSeq > slot->m_nDrawSeq) slot = o;
        }
        if (disabled) *disabled = !best && bestDisabled;
        return best;
    }

    void OnMove(const QPoint& pos) {
        UiRichText* hit = HitTest(pos);
        // While a button is held, only the pressed object can light up, as with a real button.
        if (m_pPressed && hit != m_pPressed) hit = nullptr;
        SetHover(hit);
    }

    bool OnPress(QMouseEvent* e) {
        if (e->button() != Qt::LeftButton) return false;
        bool disabled = false;
        UiRichText* hit = HitTest(e->position().toPoint(), &disabled);
        if (!hit) return disabled;  // a greyed button swallows the press; free space drags
        m_pPressed = hit;
        SetHover(hit);
        hit->Invalidate();
        return true;
    }

    bool OnRelease(QMouseEvent* e) {
        if (e->button() != Qt::LeftButton || !m_pPressed) return false;
        UiRichText* pressed = m_pPressed;
        m_pPressed = nullptr;
        pressed->Invalidate();
        if (HitTest(e->position().toPoint()) != pressed) return true;
        QPointer<SkinHost> alive(this);
        pressed->Click();  // may destroy objects, this host or the window
        if (!alive) return true;
        // A handler that hid its window (a pop-up's close link) leaves nothing lit for the
        // next showing.
        if (m_pWindow && m_pWindow->isHidden() &&
            m_pWindow->testAttribute(Qt::WA_WState_ExplicitShowHide))
            SetHover(nullptr);
        else
            OnMove(e->position().toPoint());
        return true;
    }

    void SetHover(UiRichText* object) {
        if (m_pHover == object) return;
        if (m_pHover) m_pHover->Invalidate();
        m_pHover = object;
        if (m_pHover) m_pHover->Invalidate();
        if (!m_pWindow) return;
        if (object && !m_bCursorSet) {
            m_bHadCursor = m_pWindow->testAttribute(Qt::WA_SetCursor);
            m_oldCursor = m_pWindow->cursor();
            m_pWindow->setCursor(Qt::PointingHandCursor);
            m_bCursorSet = true;
        } else if (!object && m_bCursorSet) {
            if (m_bHadCursor)
                m_pWindow->setCursor(m_oldCursor);
            else
                m_pWindow->unsetCursor();
            m_bCursorSet = false;
        }
    }

    QPointer<QWidget> m_pWindow;
    std::vector<UiRichText*> m_objects;
    UiRichText* m_pHover = nullptr;
    UiRichText* m_pPressed = nullptr;
    unsigned m_nPaintGen = 1;
    unsigned m_nDrawSeq = 0;
    bool m_bCursorSet = false;
    bool m_bHadCursor = false;
    QCursor m_oldCursor;
};

// ---- UiImage ----

int UiImage::LoadFromResource(int resourceId, int /*reserved*/, const char* type) {
    m_img = QImage();
    m_img2x = QImage();
    if (!type || !*type) return 0;
    const QString path = QString(":/%1/%2").arg(QString::fromLatin1(type)).arg(resourceId);
    QImage img;
    if (!img.load(path, type) || img.height() < kFrameCount || img.height() % kFrameCount != 0)
        return 0;
    m_img = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage img2x;
    const QString path2x = path + "@2x";
    if (QFile::exists(path2x) && img2x.load(path2x, type) && img2x.size() == img.size() * 2)
        m_img2x = img2x.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return 1;
}

QSize UiImage::FrameSize() const {
    if (m_img.isNull()) return {};
    return {m_img.width(), m_img.height() / kFrameCount};
}

void UiImage::DrawFrame(QPainter& dc, const QRect& target, int frame) const {
    if (m_img.isNull() || target.isEmpty()) return;
    frame = std::clamp(frame, 0, kFrameCount - 1);
    const bool dense = !m_img2x.isNull() && dc.device() && dc.device()->devicePixelRatioF() > 1.0;
    const QImage& src = dense ? m_img2x : m_img;
    const int scale = dense ? 2 : 1;
    const QSize frameSize = FrameSize();
    const QRect source(0, frame * frameSize.height() * scale, frameSize.width() * scale,
                       frameSize.height() * scale);
    dc.save();
    dc.setRenderHint(QPainter::SmoothPixmapTransform);
    if (target.size() == frameSize || frameSize.width() <= 2 * kSliceCap ||
        frameSize.height() <= 2 * kSliceCap || target.width() <= 2 * kSliceCap ||
        target.height() <= 2 * kSliceCap) {
        dc.drawImage(target, src, source);
        dc.restore();
        return;
    }
    // Nine pieces: corners as they are, edges stretched one way, the middle both ways.
    const int c = kSliceCap;
    const int sc = c * scale;
    const int xs[4] = {target.left(), target.left() + c, target.right() + 1 - c,
                       target.right() + 1};
    const int ys[4] = {target.top(), target.top() + c, target.bottom() + 1 - c,
                       target.bottom() + 1};
    const int sx[4] = {source.left(), source.left() + sc, source.right() + 1 - sc,
                       source.right() + 1};
    const int sy[4] = {source.top(), source.top() + sc, source.bottom() + 1 - sc,
                       source.bottom() + 1};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QRect t(xs[col], ys[row], xs[col + 1] - xs[col], ys[row + 1] - ys[row]);
            const QRect s(sx[col], sy[row], sx[col + 1] - sx[col], sy[row + 1] - sy[row]);
            if (!t.isEmpty() && !s.isEmpty()) dc.drawImage(t, src, s);
        }
    }
    dc.restore();
}

// ---- UiRichText ----

UiRichText::~UiRichText() {
    if (m_pHost) m_pHost->Remove(this);
}

void UiRichText::SetMarkup(const QString& markup) {
    const QRect old = m_rcBounds;
    const bool wasTwoState = m_markup.twoState;
    m_strMarkup = markup;
    m_markup = ParseMarkup(markup);
    if (!m_markup.twoState || !wasTwoState) m_bToggled = false;
    if (m_pHost && !m_markup.clickable) m_pHost->Forget(this);
    // The new text may be wider than the old: repaint both extents.
    Invalidate(old.isNull() ? QRect() : QRect(old.topLeft(), GetSize()));
}

bool UiRichText::SetClickHandler(int event, int index, std::function<void(int, int)> handler) {
    if (event != 1) return false;
    m_nClickIndex = index;
    m_fnClick = std::move(handler);
    return true;
}

void UiRichText::SetEnabled(int enabled, int redraw) {
    m_bEnabled = enabled != 0;
    if (!m_bEnabled && m_pHost) m_pHost->Forget(this);
    if (redraw) Invalidate();
}

void UiRichText::SetState(int state) {
    if (state < -1 || state >= kFrameCount) return;
    m_nState = state;
    Invalidate();
}

int UiRichText::CurrentFrame() const {
    if (!m_bEnabled) return kFrameDisabled;
    if (m_nState >= 0) return m_nState;
    const bool hover = m_pHost && m_pHost->IsHover(this);
    const bool pressed = m_pHost && m_pHost->IsPressed(this);
    if (pressed && hover) return kFramePressed;
    if (m_markup.twoState && m_bToggled) return kFrameSelected;
    if (hover) return kFrameHover;
    return kFrameNormal;
}

QString UiRichText::GetLabel() const {
    QString label = m_markup.twoState && m_bToggled ? m_markup.text2 : m_markup.text;
    // One line: a line break would spill out of the object's box.
    label.replace(u'\n', u' ').replace(u'\r', u' ');
    if (m_markup.lineWidth >= 0)
        label = QFontMetrics(SkinTextFont()).elidedText(label, Qt::ElideMiddle, m_markup.lineWidth);
    return label;
}

namespace {

struct Layout {
    QRect face;   // empty when there is none
    QRect label;  // empty when there is no text
    QSize size;
};

Layout ComputeLayout(const Markup& m, const QString& label, const UiImage* image) {
    const QFontMetrics fm(SkinTextFont());
    Layout l;
    const bool hasImage = image && image->IsLoaded();
    if (hasImage || m.hasBtnText) {
        const QSize frame = hasImage ? image->FrameSize() : QSize();
        const int captionWidth = m.hasBtnText ? fm.horizontalAdvance(m.btnText) + kCaptionPad : 0;
        const int w = m.btnWidth >= 0 ? m.btnWidth : std::max(frame.width(), captionWidth);
        const int h =
            m.btnHeight >= 0 ? m.btnHeight : (hasImage ? frame.height() : fm.height() + 6);
        l.face = QRect(0, 0, w, h);
    }
    if (!label.isEmpty()) {
        const int x = l.face.isEmpty() ? 0 : l.face.width() + kLabelGap;
        l.label = QRect(x, 0, fm.horizontalAdvance(label), fm.height());
    }
    const int width = l.label.isEmpty() ? l.face.width() : l.label.right() + 1;
    const int height = std::max(l.face.height(), l.label.height());
    l.size = QSize(width, height);
    // Both parts are centred on the object's height.
    l.face.moveTop((height - l.face.height()) / 2);
    l.label.moveTop((height - l.label.height()) / 2);
    return l;
}

}  // namespace

QSize UiRichText::GetSize() const {
    const UiImage* image = m_markup.imageId ? GetSkinUi()->FindImage(m_markup.imageId) : nullptr;
    return ComputeLayout(m_markup, GetLabel(), image).size;
}

void UiRichText::Draw(QPainter& dc, int x, int y, QWidget* window, int /*reserved*/) {
    const UiImage* image = m_markup.imageId ? GetSkinUi()->FindImage(m_markup.imageId) : nullptr;
    const QString label = GetLabel();
    const Layout layout = ComputeLayout(m_markup, label, image);
    m_rcBounds = QRect(QPoint(x, y), layout.size);
    Attach(window);
    if (m_pHost) {
        m_nDrawSeq = m_pHost->NextDrawSeq();
        m_nPaintGen = m_pHost->paintGen();
    }

    const int frame = CurrentFrame();
    dc.save();
    dc.setFont(SkinTextFont());
    if (!layout.face.isEmpty()) {
        const QRect face = layout.face.translated(x, y);
        if (image) image->DrawFrame(dc, face, frame);
        if (m_markup.hasBtnText) {
            // A pressed face moves its caption down and right by one pixel, as if pushed in.
            const QRect caption = frame == kFramePressed ? face.translated(1, 1) : face;
            dc.setPen(frame == kFrameDisabled ? kGreyText : kCaptionColour);
            const QString text = dc.fontMetrics().elidedText(m_markup.btnText, Qt::ElideRight,
                                                             std::max(0, face.width() - 4));
            dc.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, text);
        }
    }
    if (!layout.label.isEmpty()) {
        const QRect rc = layout.label.translated(x, y);
        if (m_markup.link) {
            QFont font = dc.font();
            font.setUnderline(frame != kFrameDisabled);
            dc.setFont(font);
            dc.setPen(kLinkColours[frame]);
        } else {
            dc.setPen(frame == kFrameDisabled ? kGreyText : kTextColour);
        }
        dc.drawText(rc, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, label);
    }
    dc.restore();
}

void UiRichText::Attach(QWidget* window) {
    SkinHost* host = window ? SkinHost::For(window) : nullptr;
    if (host == m_pHost) {
        if (host) host->Add(this);
        return;
    }
    if (m_pHost) m_pHost->Remove(this);
    m_pHost = host;
    if (host) host->Add(this);
}

void UiRichText::Invalidate(const QRect& extra) {
    if (!m_pHost || !m_pHost->window()) return;
    QRect area = m_rcBounds.united(extra);
    if (!area.isEmpty()) m_pHost->window()->update(area);
}

void UiRichText::Click() {
    if (!m_bEnabled || !m_markup.clickable) return;
    if (m_markup.twoState) {
        m_bToggled = !m_bToggled;
        Invalidate(QRect(m_rcBounds.topLeft(), GetSize()));
    }
    if (!m_fnClick) return;
    // A copy: the handler may register a new handler or destroy this object.
    const auto handler = m_fnClick;
    handler(m_nClickIndex, 0);
}

// ---- UiFactory ----

UiFactory::~UiFactory() = default;

UiImage* UiFactory::CreateImage() {
    auto image = std::unique_ptr<UiImage>(new UiImage(m_nNextImageId++));
    UiImage* raw = image.get();
    m_images[raw->GetId()] = raw;
    m_objects.emplace(raw, std::move(image));
    return raw;
}

UiRichText* UiFactory::CreateRichText() {
    auto text = std::unique_ptr<UiRichText>(new UiRichText());
    UiRichText* raw = text.get();
    m_objects.emplace(raw, std::move(text));
    return raw;
}

void UiFactory::DestroyObject(UiObject* object) {
    auto it = m_objects.find(object);
    if (it == m_objects.end()) return;
    if (auto* image = dynamic_cast<UiImage*>(object)) m_images.erase(image->GetId());
    m_objects.erase(it);
}

UiImage* UiFactory::FindImage(int id) const {
    auto it = m_images.find(id);
    return it == m_images.end() ? nullptr : it->second;
}

UiFactory* GetSkinUi() {
    // Never deleted: its objects live as long as the windows that draw them, that is, until the
    // process ends, and must not outlive the Qt application in a static destructor.
    static UiFactory* factory = new UiFactory();
    return factory;
}

}  // namespace tovarek
