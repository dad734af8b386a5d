#include "report/Components.h"

#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "tests/report/RecordingPainter.h"

namespace
{

// A control that refuses every parent but TForm, as report classes refuse theirs.
class TPickyControl : public TGraphicControl
{
public:
    using TGraphicControl::TGraphicControl;
    void SetParent(TWinControl* parent) override
    {
        if (parent != nullptr && dynamic_cast<TForm*>(parent) == nullptr)
        {
            throw Exception("picky");
        }
        TGraphicControl::SetParent(parent);
    }
};

class TCountedComponent : public TComponent
{
public:
    TCountedComponent(TComponent* owner, std::vector<std::string>* log, std::string name)
        : TComponent(owner), m_log(log)
    {
        SetName(std::move(name));
    }
    ~TCountedComponent() override { m_log->push_back(Name()); }

private:
    std::vector<std::string>* m_log;
};

TEST(ComponentsTest, OwnerFreesItsComponentsLastMadeFirst)
{
    std::vector<std::string> freed;
    {
        TForm form(nullptr);
        auto& a = form.Create<TCountedComponent>(&freed, "a");
        form.Create<TCountedComponent>(&freed, "b");
        EXPECT_EQ(a.Owner(), &form);
        EXPECT_EQ(form.ComponentCount(), 2);
        EXPECT_EQ(form.Components(1)->Name(), "b");
    }
    EXPECT_EQ(freed, (std::vector<std::string>{"b", "a"}));

    TForm form(nullptr);
    TForm other(nullptr);
    EXPECT_THROW(form.InsertComponent(std::make_unique<TForm>(&other)), EInvalidOperation);
    EXPECT_EQ(form.ComponentCount(), 0);
}

TEST(ComponentsTest, ChildOrderIsNonWindowedThenWindowedAndParentsOnlyBorrow)
{
    TForm form(nullptr);
    auto& panel1 = form.Create<TCustomPanel>();
    auto& label = form.Create<TGraphicControl>();
    auto& panel2 = form.Create<TCustomPanel>();
    auto& label2 = form.Create<TGraphicControl>();
    for (TControl* c : std::initializer_list<TControl*>{&panel1, &label, &panel2, &label2})
    {
        c->SetParent(&form);
    }
    ASSERT_EQ(form.ControlCount(), 4);
    EXPECT_EQ(form.Controls(0), &label);
    EXPECT_EQ(form.Controls(1), &label2);
    EXPECT_EQ(form.Controls(2), &panel1);
    EXPECT_EQ(form.Controls(3), &panel2);
    EXPECT_THROW(form.Controls(4), std::out_of_range);

    // Moving a child to another parent takes it off the first.
    label.SetParent(&panel1);
    EXPECT_EQ(form.ControlCount(), 3);
    EXPECT_EQ(panel1.Controls(0), &label);

    // A control on itself or below itself would make a cycle.
    EXPECT_THROW(panel1.SetParent(&panel1), EInvalidOperation);
    panel2.SetParent(&panel1);
    EXPECT_THROW(panel1.SetParent(&panel2), EInvalidOperation);
    EXPECT_EQ(panel1.Parent(), &form);

    // Destroying a parent leaves its children alive and without one; destroying a child takes
    // it off its parent.
    {
        TCustomPanel temporary(nullptr);
        label2.SetParent(&temporary);
    }
    EXPECT_EQ(label2.Parent(), nullptr);
    {
        TGraphicControl temporary(nullptr);
        temporary.SetParent(&panel2);
        EXPECT_EQ(panel2.ControlCount(), 1);
    }
    EXPECT_EQ(panel2.ControlCount(), 0);
}

TEST(ComponentsTest, RefusedParentLeavesTheParentUnchanged)
{
    TForm form(nullptr);
    auto& panel = form.Create<TCustomPanel>();
    auto& picky = form.Create<TPickyControl>();
    picky.SetParent(&form);
    EXPECT_THROW(picky.SetParent(&panel), Exception);
    EXPECT_EQ(picky.Parent(), &form);
    EXPECT_EQ(panel.ControlCount(), 0);
    EXPECT_EQ(form.ControlCount(), 1);
}

TEST(ComponentsTest, AlignmentFollowsTheClientAreaAndTheBevel)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 200, 100);
    auto& panel = form.Create<TCustomPanel>(); // raised bevel of 1
    panel.SetParent(&form);
    panel.SetBounds(0, 0, 100, 80);
    auto& top = form.Create<TCustomPanel>();
    auto& bottom = form.Create<TGraphicControl>();
    auto& left = form.Create<TGraphicControl>();
    auto& right = form.Create<TGraphicControl>();
    auto& client = form.Create<TCustomPanel>();
    auto& fixed = form.Create<TGraphicControl>();
    top.SetBounds(0, 0, 5, 10);
    bottom.SetBounds(0, 0, 5, 20);
    left.SetBounds(0, 0, 7, 5);
    right.SetBounds(0, 0, 9, 5);
    fixed.SetBounds(3, 4, 5, 6);
    top.SetAlign(alTop);
    bottom.SetAlign(alBottom);
    left.SetAlign(alLeft);
    right.SetAlign(alRight);
    client.SetAlign(alClient);
    for (TControl* c :
         std::initializer_list<TControl*>{&client, &right, &left, &bottom, &top, &fixed})
    {
        c->SetParent(&panel);
    }
    EXPECT_EQ(top.BoundsRect(), Rect(1, 1, 99, 11));
    EXPECT_EQ(bottom.BoundsRect(), Rect(1, 59, 99, 79));
    EXPECT_EQ(left.BoundsRect(), Rect(1, 11, 8, 59));
    EXPECT_EQ(right.BoundsRect(), Rect(90, 11, 99, 59));
    EXPECT_EQ(client.BoundsRect(), Rect(8, 11, 90, 59));
    EXPECT_EQ(fixed.BoundsRect(), Rect(3, 4, 8, 10));

    // Resizing the parent or dropping the bevel realigns; hiding a child gives its room away.
    panel.SetBounds(0, 0, 120, 80);
    EXPECT_EQ(client.BoundsRect(), Rect(8, 11, 110, 59));
    panel.SetBevelOuter(bvNone);
    EXPECT_EQ(client.BoundsRect(), Rect(7, 10, 111, 60));
    top.SetVisible(false);
    EXPECT_EQ(client.BoundsRect(), Rect(7, 0, 111, 60));
    // Too little room gives an empty rectangle, never a negative size.
    panel.SetBounds(0, 0, 10, 10);
    EXPECT_EQ(client.Width(), 0);
    EXPECT_EQ(fixed.BoundsRect(), Rect(3, 4, 8, 10));
}

TEST(ComponentsTest, PaintingVisitsVisibleChildrenInTheirOwnCoordinates)
{
    class TBox : public TGraphicControl
    {
    public:
        using TGraphicControl::TGraphicControl;
        void Paint(TPainter& painter) const override
        {
            painter.FrameRect(ClientRect(), clRed, psSolid);
        }
    };
    TForm form(nullptr);
    auto& panel = form.Create<TCustomPanel>();
    panel.SetParent(&form);
    panel.SetBounds(10, 20, 100, 100);
    auto& box = form.Create<TBox>();
    box.SetParent(&panel);
    box.SetBounds(1, 2, 3, 4);
    auto& hidden = form.Create<TBox>();
    hidden.SetParent(&panel);
    hidden.SetVisible(false);

    TRecordingPainter painter;
    PaintControl(form, painter);
    EXPECT_EQ(painter.Calls, (std::vector<std::string>{"frame 11,22 14,26 0000ff solid"}));
}

} // namespace
