#include "platform/draw/CCairoFont.h"

#include <pango/pangocairo.h>
#include <strings.h>

#include <set>
#include <vector>

namespace vexa::platform {
namespace {

struct Lookalike {
    const char* family;
    int weight;  // 0: as requested
};

// Desktop families and installed families that look like them: Impact is a heavy, condensed
// sans-serif; MS Sans Serif a plain one.
std::vector<Lookalike> LookalikesOf(const std::string& family) {
    if (strcasecmp(family.c_str(), "Impact") == 0)
        return {{"Impact", 0},
                {"Anton", 0},
                {"Oswald", 700},
                {"Nimbus Sans Narrow", 700},
                {"Liberation Sans Narrow", 700},
                {"DejaVu Sans Condensed", 700},
                {"Sans", 700}};
    if (strcasecmp(family.c_str(), "MS Sans Serif") == 0)
        return {{"MS Sans Serif", 0}, {"Microsoft Sans Serif", 0}, {"Liberation Sans", 0},
                {"Arial", 0},         {"Nimbus Sans", 0},          {"DejaVu Sans", 0},
                {"Sans", 0}};
    return {{family.c_str(), 0}, {"Sans", 0}};
}

struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

std::set<std::string, CaseLess> InstalledFamilies() {
    std::set<std::string, CaseLess> names;
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoFontFamily** families = nullptr;
    int count = 0;
    pango_font_map_list_families(map, &families, &count);
    for (int i = 0; i < count; ++i) names.insert(pango_font_family_get_name(families[i]));
    g_free(families);
    return names;
}

}  // namespace

std::string CCairoFont::NearestFamily(const std::string& family, int* weight) {
    std::set<std::string, CaseLess> installed = InstalledFamilies();
    std::vector<Lookalike> lookalikes = LookalikesOf(family);
    for (const Lookalike& l : lookalikes) {
        // "Sans" is fontconfig's generic family: always there, whatever it resolves to.
        if (installed.count(l.family) != 0 || strcasecmp(l.family, "Sans") == 0) {
            if (weight != nullptr) *weight = l.weight;
            return l.family;
        }
    }
    return "Sans";
}

std::unique_ptr<CCairoFont> CCairoFont::Create(const FontRequest& request, double dpi) {
    std::unique_ptr<CCairoFont> font(new CCairoFont);
    font->m_request = request;
    font->m_dpi = dpi;
    font->m_underline = request.underline;
    font->m_strikeOut = request.strikeOut;
    return font;
}

std::string CCairoFont::Family() const {
    Resolve();
    return m_family;
}

const PangoFontDescription* CCairoFont::Description() const {
    Resolve();
    return m_desc;
}

void CCairoFont::Resolve() const {
    if (m_desc != nullptr) return;
    const FontRequest& request = m_request;
    int lookalikeWeight = 0;
    m_family = NearestFamily(request.family, &lookalikeWeight);
    m_desc = pango_font_description_new();
    pango_font_description_set_family(m_desc, m_family.c_str());
    int weight = request.weight != 0 ? request.weight : lookalikeWeight;
    pango_font_description_set_weight(m_desc, static_cast<PangoWeight>(weight != 0 ? weight : 400));
    pango_font_description_set_style(m_desc,
                                     request.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);

    double pixels = 13;
    if (request.points > 0) {
        pixels = request.points * m_dpi / 72.0;
    } else if (request.cellHeight > 0) {
        // A cell height is ascent + descent: measure the font once at a known size and scale.
        constexpr double probe = 100;
        pango_font_description_set_absolute_size(m_desc, probe * PANGO_SCALE);
        PangoFontMap* map = pango_cairo_font_map_get_default();
        PangoContext* context = pango_font_map_create_context(map);
        PangoFontMetrics* metrics = pango_context_get_metrics(context, m_desc, nullptr);
        double cell = static_cast<double>(pango_font_metrics_get_ascent(metrics) +
                                          pango_font_metrics_get_descent(metrics)) /
                      PANGO_SCALE;
        pango_font_metrics_unref(metrics);
        g_object_unref(context);
        pixels = cell > 0 ? request.cellHeight * probe / cell : request.cellHeight;
    }
    pango_font_description_set_absolute_size(m_desc, pixels * PANGO_SCALE);
}

CCairoFont::~CCairoFont() {
    if (m_desc != nullptr) pango_font_description_free(m_desc);
}

}  // namespace vexa::platform
