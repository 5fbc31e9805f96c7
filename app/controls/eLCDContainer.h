// Display frame: a background and a pair of segment colours it hands to the
// controls placed in it, with five built-in schemes (1 to 5, 0 for none).
#pragma once

#include "controls/PropertyBag.h"
#include "controls/QtSurface.h"
#include "controls/TileColours.h"

class eLCDContainer : public ControlSurface {
    Q_OBJECT

  public:
    explicit eLCDContainer(QWidget* parent = nullptr);

    ColourValue BackColor() const override { return m_p.BackColor; }
    void setBackColor(ColourValue c) override;
    ColourValue OnColor() const override { return m_p.OnColor; }
    void setOnColor(ColourValue c) override;
    ColourValue OffColor() const override { return m_p.OffColor; }
    void setOffColor(ColourValue c) override;
    int32_t Scheme() const { return m_p.Scheme; }
    // 1 to 5 apply a scheme row; any number then pushes the colours on.
    void setScheme(int32_t scheme);
    // Always false; assigning anything pushes the colours to the children.
    bool ColorChildren() const { return false; }
    void setColorChildren(bool);
    int MousePointer() const { return m_p.MousePointer; }
    void setMousePointer(int pointer);
    const std::string& MouseIcon() const { return m_p.MouseIcon; }
    void setMouseIcon(const std::string& encodedImage);
    int BorderStyle() const { return m_p.BorderStyle; }
    void setBorderStyle(int style);

    void save(PropertyBag& bag) const;
    // Takes the stored colours; the stored Scheme is kept, not applied.
    void load(const PropertyBag& bag);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void pushColours();

    FrameProperties m_p;
};
