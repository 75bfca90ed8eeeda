// A font for the cairo canvases: a Pango description of the installed family nearest to the
// requested desktop family, at the requested size.
#pragma once

#include <pango/pango.h>

#include <memory>
#include <string>

#include "platform/draw/ICanvas.h"

namespace vexa::platform {

class CCairoFont : public IDrawFont {
  public:
    // dpi converts point sizes for the screen the font is made for.
    static std::unique_ptr<CCairoFont> Create(const FontRequest& request, double dpi);
    ~CCairoFont() override;
    CCairoFont(const CCairoFont&) = delete;
    CCairoFont& operator=(const CCairoFont&) = delete;

    std::string Family() const override;
    // Made on first use, so that an area too small to show text never loads any font.
    const PangoFontDescription* Description() const;
    bool Underline() const { return m_underline; }
    bool StrikeOut() const { return m_strikeOut; }

    // The first installed family of the lookalikes of a desktop family (the family itself
    // first), with the weight that makes it look alike.
    static std::string NearestFamily(const std::string& family, int* weight = nullptr);

  private:
    CCairoFont() = default;
    void Resolve() const;

    FontRequest m_request;
    double m_dpi = 96;
    mutable PangoFontDescription* m_desc = nullptr;
    mutable std::string m_family;
    bool m_underline = false;
    bool m_strikeOut = false;
};

}  // namespace vexa::platform
