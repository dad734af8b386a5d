#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TGraphic;

// The least of a component framework that the report layout stands on: components with an owner
// and a name, controls with bounds, alignment and a parent, windowed controls holding children,
// and a small painter interface for the design-view look. Free of any GUI toolkit.
//
// Ownership: an owner owns its components (std::unique_ptr) and frees them, last made first.
// A parent only borrows its children: destroying a child takes it off its parent, destroying a
// parent leaves its children without one.

// 0x00BBGGRR, red in the lowest byte; negative values stand for system colours.
using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clWhite = 0xFFFFFF;

struct TRect
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect Rect(int left, int top, int right, int bottom)
{
    return TRect{left, top, right, bottom};
}

inline TRect Bounds(int left, int top, int width, int height)
{
    return TRect{left, top, left + width, top + height};
}

class TComponent
{
public:
    // The owner is only recorded here; the owner takes the component over through Create or
    // InsertComponent. A component without owner belongs to whoever made it.
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    // The class name as messages quote it.
    virtual const char* ClassName() const { return "TComponent"; }

    TComponent* Owner() const { return m_owner; }
    const std::string& Name() const { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }

    int ComponentCount() const { return static_cast<int>(m_components.size()); }
    // Borrowed; throws std::out_of_range for a bad index.
    TComponent* Components(int index) const;

    // Makes a component owned by this one, passing this as its owner.
    template <class T, class... Args>
    T& Create(Args&&... args)
    {
        auto component = std::make_unique<T>(this, std::forward<Args>(args)...);
        T& stored = *component;
        InsertComponent(std::move(component));
        return stored;
    }
    // Takes over a component made with this owner; returns it. A component made for another
    // owner is refused with EInvalidOperation (and freed with the pointer).
    TComponent& InsertComponent(std::unique_ptr<TComponent> component);

private:
    TComponent* m_owner;
    std::string m_name;
    std::vector<std::unique_ptr<TComponent>> m_components;
};

enum TAlign
{
    alNone,
    alTop,
    alBottom,
    alLeft,
    alRight,
    alClient
};

enum TPenStyle
{
    psSolid,
    psDot
};

// An on-screen font.
struct TFont
{
    std::string Name = "Arial";
    int Size = 8; // in screen points
    bool Bold = false;
    bool Italic = false;
    TColor Color = clBlack;
    int Charset = 0; // ANSI
    friend bool operator==(const TFont&, const TFont&) = default;
};

// Where controls paint their design-view look; coordinates are the control's own, origin at its
// top-left corner.
class TPainter
{
public:
    virtual ~TPainter() = default;
    virtual void FillRect(const TRect& rect, TColor color) = 0;
    virtual void Line(int x1, int y1, int x2, int y2, TColor color, TPenStyle style) = 0;
    // The outline of rect: its left and top edges on the rectangle, the right and bottom ones
    // one unit inside it.
    virtual void FrameRect(const TRect& rect, TColor color, TPenStyle style) = 0;
    // Transparent background; (x, y) is the top-left corner of the text.
    virtual void TextOut(int x, int y, std::string_view text, const TFont& font) = 0;
    // The graphic stretched into dest.
    virtual void DrawGraphic(const TRect& dest, const TGraphic& graphic) = 0;
};

class TWinControl;

class TControl : public TComponent
{
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;

    const char* ClassName() const override { return "TControl"; }

    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetLeft(int value) { SetBounds(value, m_top, m_width, m_height); }
    void SetTop(int value) { SetBounds(m_left, value, m_width, m_height); }
    void SetWidth(int value) { SetBounds(m_left, m_top, value, m_height); }
    void SetHeight(int value) { SetBounds(m_left, m_top, m_width, value); }
    // Asks the parent to align its children again when anything changed.
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return Bounds(m_left, m_top, m_width, m_height); }
    void SetBoundsRect(const TRect& rect)
    {
        SetBounds(rect.Left, rect.Top, rect.Width(), rect.Height());
    }
    // (0, 0, Width, Height).
    TRect ClientRect() const { return Rect(0, 0, m_width, m_height); }

    TAlign Align() const { return m_align; }
    void SetAlign(TAlign value);
    bool Visible() const { return m_visible; }
    void SetVisible(bool value);

    TWinControl* Parent() const { return m_parent; }
    // Puts the control on a parent, or on none. Subclasses that refuse a parent throw before
    // calling this, so the parent stays as it was. A control cannot be put on itself or on one
    // of its own children (EInvalidOperation).
    virtual void SetParent(TWinControl* parent);

    // The design-view look; the base paints nothing.
    virtual void Paint(TPainter& painter) const;

protected:
    void RequestAlign();

private:
    friend class TWinControl;

    int m_left = 0;
    int m_top = 0;
    int m_width = 0;
    int m_height = 0;
    TAlign m_align = alNone;
    bool m_visible = true;
    TWinControl* m_parent = nullptr;
};

// A non-windowed control: it cannot hold children.
class TGraphicControl : public TControl
{
public:
    using TControl::TControl;
    const char* ClassName() const override { return "TGraphicControl"; }
};

// A windowed control: holds children in two lists, non-windowed and windowed, each in insertion
// order; the child order is all non-windowed children, then all windowed ones.
class TWinControl : public TControl
{
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    const char* ClassName() const override { return "TWinControl"; }

    int ControlCount() const;
    // In child order; borrowed; throws std::out_of_range for a bad index.
    TControl* Controls(int index) const;

    // A new size aligns the children again.
    void SetBounds(int left, int top, int width, int height) override;
    // Places the aligned children within the client rectangle.
    void Realign();

protected:
    // Places the aligned children within rect, after AdjustClientRect: alTop, alBottom, alLeft
    // and alRight take their side of what is left (in that order of kinds, each kind in the
    // order of its position), alClient takes the rest, alNone keeps its bounds. Invisible
    // children are not placed. control is the child whose change asked for it, or null.
    virtual void AlignControls(TControl* control, TRect rect);
    // Room taken by borders and bevels; the base takes none.
    virtual void AdjustClientRect(TRect& rect) const;

private:
    friend class TControl;
    void InsertControl(TControl& control);
    void RemoveControl(TControl& control);
    void AlignControl(TControl* control);

    std::vector<TControl*> m_controls;       // non-windowed, borrowed
    std::vector<TWinControl*> m_winControls; // windowed, borrowed
    bool m_aligning = false;
};

enum TBevelCut
{
    bvNone,
    bvLowered,
    bvRaised
};

// A panel: a windowed control whose bevel takes BevelWidth on every side when present.
class TCustomPanel : public TWinControl
{
public:
    explicit TCustomPanel(TComponent* owner);
    const char* ClassName() const override { return "TCustomPanel"; }

    TBevelCut BevelOuter() const { return m_bevelOuter; }
    void SetBevelOuter(TBevelCut value);
    int BevelWidth() const { return m_bevelWidth; }
    void SetBevelWidth(int value);

protected:
    // TWinControl:
    void AdjustClientRect(TRect& rect) const override;

private:
    TBevelCut m_bevelOuter = bvRaised;
    int m_bevelWidth = 1;
};

// A top-level window that owns the components of a layout.
class TForm : public TWinControl
{
public:
    explicit TForm(TComponent* owner);
    const char* ClassName() const override { return "TForm"; }
};

// Paints a control and, for a visible windowed one, its visible children in child order, each in
// its own coordinates.
void PaintControl(const TControl& control, TPainter& painter);
