#include "report/Components.h"

#include <algorithm>
#include <stdexcept>

#include "platform/Exceptions.h"

// ---- TComponent ----

TComponent::TComponent(TComponent* owner) : m_owner(owner) {}

TComponent::~TComponent()
{
    // Last made first, as components made later may refer to earlier ones.
    while (!m_components.empty())
    {
        std::unique_ptr<TComponent> last = std::move(m_components.back());
        m_components.pop_back();
        last.reset();
    }
}

TComponent* TComponent::Components(int index) const
{
    return m_components.at(static_cast<std::size_t>(index)).get();
}

TComponent& TComponent::InsertComponent(std::unique_ptr<TComponent> component)
{
    if (component == nullptr || component->Owner() != this)
    {
        throw EInvalidOperation("InsertComponent --the component was made for another owner.");
    }
    TComponent& stored = *component;
    m_components.push_back(std::move(component));
    return stored;
}

// ---- TControl ----

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl()
{
    if (m_parent != nullptr)
    {
        // RemoveControl forgets this control before it realigns the rest; a realignment that
        // fails cannot be reported from here, and the next change of the parent redoes it.
        try
        {
            m_parent->RemoveControl(*this);
        }
        catch (const std::exception&)
        {
        }
    }
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    if (left == m_left && top == m_top && width == m_width && height == m_height)
    {
        return;
    }
    m_left = left;
    m_top = top;
    m_width = width;
    m_height = height;
    RequestAlign();
}

void TControl::SetAlign(TAlign value)
{
    if (value == m_align)
    {
        return;
    }
    m_align = value;
    RequestAlign();
}

void TControl::SetVisible(bool value)
{
    if (value == m_visible)
    {
        return;
    }
    m_visible = value;
    RequestAlign();
}

void TControl::SetParent(TWinControl* parent)
{
    if (parent == m_parent)
    {
        return;
    }
    for (const TControl* p = parent; p != nullptr; p = p->Parent())
    {
        if (p == this)
        {
            throw EInvalidOperation("SetParent --a control can not be its own parent.");
        }
    }
    if (m_parent != nullptr)
    {
        m_parent->RemoveControl(*this);
    }
    if (parent != nullptr)
    {
        parent->InsertControl(*this);
    }
}

void TControl::Paint(TPainter& /*painter*/) const {}

void TControl::RequestAlign()
{
    if (m_parent != nullptr)
    {
        m_parent->AlignControl(this);
    }
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl()
{
    // The children are borrowed: they stay alive, without a parent.
    for (TControl* control : m_controls)
    {
        control->m_parent = nullptr;
    }
    for (TWinControl* control : m_winControls)
    {
        control->m_parent = nullptr;
    }
}

int TWinControl::ControlCount() const
{
    return static_cast<int>(m_controls.size() + m_winControls.size());
}

TControl* TWinControl::Controls(int index) const
{
    if (index < 0 || index >= ControlCount())
    {
        throw std::out_of_range("TWinControl::Controls");
    }
    const auto i = static_cast<std::size_t>(index);
    if (i < m_controls.size())
    {
        return m_controls[i];
    }
    return m_winControls[i - m_controls.size()];
}

void TWinControl::SetBounds(int left, int top, int width, int height)
{
    const bool resized = width != Width() || height != Height();
    TControl::SetBounds(left, top, width, height);
    if (resized)
    {
        Realign();
    }
}

void TWinControl::Realign()
{
    AlignControl(nullptr);
}

void TWinControl::InsertControl(TControl& control)
{
    if (auto* windowed = dynamic_cast<TWinControl*>(&control))
    {
        m_winControls.push_back(windowed);
    }
    else
    {
        m_controls.push_back(&control);
    }
    control.m_parent = this;
    if (control.Align() != alNone)
    {
        AlignControl(&control);
    }
}

void TWinControl::RemoveControl(TControl& control)
{
    std::erase(m_controls, &control);
    std::erase(m_winControls, &control);
    control.m_parent = nullptr;
    if (control.Align() != alNone)
    {
        AlignControl(nullptr);
    }
}

void TWinControl::AlignControl(TControl* control)
{
    // Placing a child moves it, which asks for another alignment: one pass is enough.
    if (m_aligning)
    {
        return;
    }
    m_aligning = true;
    try
    {
        AlignControls(control, ClientRect());
    }
    catch (...)
    {
        m_aligning = false;
        throw;
    }
    m_aligning = false;
}

void TWinControl::AdjustClientRect(TRect& /*rect*/) const {}

void TWinControl::AlignControls(TControl* control, TRect rect)
{
    AdjustClientRect(rect);

    const auto key = [](const TControl& c, TAlign align) {
        switch (align)
        {
        case alTop:
            return c.Top();
        case alBottom:
            return -(c.Top() + c.Height());
        case alLeft:
            return c.Left();
        case alRight:
            return -(c.Left() + c.Width());
        default:
            return 0;
        }
    };

    for (TAlign align : {alTop, alBottom, alLeft, alRight, alClient})
    {
        std::vector<TControl*> list;
        for (int i = 0; i < ControlCount(); ++i)
        {
            TControl* child = Controls(i);
            if (child->Align() == align && child->Visible())
            {
                list.push_back(child);
            }
        }
        // The child that asked keeps its place among equals, so moving it is what the user sees.
        std::stable_sort(list.begin(), list.end(), [&](const TControl* a, const TControl* b) {
            const int ka = key(*a, align);
            const int kb = key(*b, align);
            if (ka != kb)
            {
                return ka < kb;
            }
            return a == control && b != control;
        });
        for (TControl* child : list)
        {
            const int width = std::max(0, rect.Width());
            const int height = std::max(0, rect.Height());
            switch (align)
            {
            case alTop:
                child->SetBounds(rect.Left, rect.Top, width, child->Height());
                rect.Top += child->Height();
                break;
            case alBottom:
                child->SetBounds(rect.Left, rect.Bottom - child->Height(), width, child->Height());
                rect.Bottom -= child->Height();
                break;
            case alLeft:
                child->SetBounds(rect.Left, rect.Top, child->Width(), height);
                rect.Left += child->Width();
                break;
            case alRight:
                child->SetBounds(rect.Right - child->Width(), rect.Top, child->Width(), height);
                rect.Right -= child->Width();
                break;
            default:
                child->SetBounds(rect.Left, rect.Top, width, height);
                break;
            }
        }
    }
}

// ---- TCustomPanel ----

TCustomPanel::TCustomPanel(TComponent* owner) : TWinControl(owner)
{
    SetBounds(0, 0, 185, 41);
}

void TCustomPanel::SetBevelOuter(TBevelCut value)
{
    if (value != m_bevelOuter)
    {
        m_bevelOuter = value;
        Realign();
    }
}

void TCustomPanel::SetBevelWidth(int value)
{
    if (value != m_bevelWidth && value > 0)
    {
        m_bevelWidth = value;
        Realign();
    }
}

void TCustomPanel::AdjustClientRect(TRect& rect) const
{
    if (m_bevelOuter != bvNone)
    {
        rect.Left += m_bevelWidth;
        rect.Top += m_bevelWidth;
        rect.Right -= m_bevelWidth;
        rect.Bottom -= m_bevelWidth;
    }
}

// ---- TForm ----

TForm::TForm(TComponent* owner) : TWinControl(owner)
{
    SetBounds(0, 0, 640, 480);
}

// ---- painting ----

namespace
{

// Forwards to another painter, moved by (dx, dy): a child paints in its own coordinates.
class TOffsetPainter : public TPainter
{
public:
    TOffsetPainter(TPainter& target, int dx, int dy) : m_target(target), m_dx(dx), m_dy(dy) {}

    void FillRect(const TRect& rect, TColor color) override
    {
        m_target.FillRect(Move(rect), color);
    }
    void Line(int x1, int y1, int x2, int y2, TColor color, TPenStyle style) override
    {
        m_target.Line(x1 + m_dx, y1 + m_dy, x2 + m_dx, y2 + m_dy, color, style);
    }
    void FrameRect(const TRect& rect, TColor color, TPenStyle style) override
    {
        m_target.FrameRect(Move(rect), color, style);
    }
    void TextOut(int x, int y, std::string_view text, const TFont& font) override
    {
        m_target.TextOut(x + m_dx, y + m_dy, text, font);
    }
    void DrawGraphic(const TRect& dest, const TGraphic& graphic) override
    {
        m_target.DrawGraphic(Move(dest), graphic);
    }

private:
    TRect Move(const TRect& r) const
    {
        return Rect(r.Left + m_dx, r.Top + m_dy, r.Right + m_dx, r.Bottom + m_dy);
    }

    TPainter& m_target;
    int m_dx;
    int m_dy;
};

} // namespace

void PaintControl(const TControl& control, TPainter& painter)
{
    control.Paint(painter);
    const auto* windowed = dynamic_cast<const TWinControl*>(&control);
    if (windowed == nullptr)
    {
        return;
    }
    for (int i = 0; i < windowed->ControlCount(); ++i)
    {
        const TControl& child = *windowed->Controls(i);
        if (child.Visible())
        {
            TOffsetPainter offset(painter, child.Left(), child.Top());
            PaintControl(child, offset);
        }
    }
}
