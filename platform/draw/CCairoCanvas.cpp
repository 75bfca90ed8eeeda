#include "platform/draw/CCairoCanvas.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/draw/CCairoFont.h"

namespace vexa::platform {
namespace {

void SetSource(cairo_t* cr, DrawColour c) {
    cairo_set_source_rgb(cr, RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
}

DrawRect Intersect(const DrawRect& a, const DrawRect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

bool Empty(const DrawRect& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

}  // namespace

CCairoCanvas::CCairoCanvas(cairo_surface_t* surface, const DrawRect* clip)
    : m_surface(surface), m_cr(cairo_create(surface)) {
    DrawRect whole{0, 0, cairo_image_surface_get_width(surface),
                   cairo_image_surface_get_height(surface)};
    m_clip = clip != nullptr ? Intersect(*clip, whole) : whole;
    cairo_rectangle(m_cr, m_clip.left, m_clip.top, std::max(0, m_clip.right - m_clip.left),
                    std::max(0, m_clip.bottom - m_clip.top));
    cairo_clip(m_cr);
    cairo_set_antialias(m_cr, CAIRO_ANTIALIAS_NONE);
}

CCairoCanvas::~CCairoCanvas() {
    Finish();
    cairo_destroy(m_cr);
}

void CCairoCanvas::Finish() {
    if (m_pixels != nullptr) cairo_surface_mark_dirty(m_surface);
    m_pixels = nullptr;
    cairo_surface_flush(m_surface);
}

void CCairoCanvas::FillRect(const DrawRect& rect, DrawColour colour) {
    if (Empty(rect)) return;
    if (m_pixels != nullptr) {
        // Pixels were set directly since the last cairo drawing: hand them back first.
        cairo_surface_mark_dirty(m_surface);
        m_pixels = nullptr;
    }
    SetSource(m_cr, colour);
    cairo_rectangle(m_cr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    cairo_fill(m_cr);
}

void CCairoCanvas::DrawText(const std::string& text, const DrawRect& rect, const IDrawFont& font,
                            DrawColour colour, Align align) {
    if (Empty(rect) || text.empty()) return;
    if (m_pixels != nullptr) {
        cairo_surface_mark_dirty(m_surface);
        m_pixels = nullptr;
    }
    const auto& cairoFont = static_cast<const CCairoFont&>(font);
    PangoLayout* layout = pango_cairo_create_layout(m_cr);
    pango_layout_set_font_description(layout, cairoFont.Description());
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
    if (cairoFont.Underline() || cairoFont.StrikeOut()) {
        PangoAttrList* attrs = pango_attr_list_new();
        if (cairoFont.Underline())
            pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (cairoFont.StrikeOut())
            pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
        pango_layout_set_attributes(layout, attrs);
        pango_attr_list_unref(attrs);
    }
    PangoRectangle logical{};
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    int x = align == Align::TopLeft ? rect.left : rect.right - logical.width;
    int y = align == Align::TopLeft ? rect.top : rect.bottom - logical.height;
    cairo_save(m_cr);
    cairo_rectangle(m_cr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    cairo_clip(m_cr);
    SetSource(m_cr, colour);
    cairo_move_to(m_cr, x - logical.x, y - logical.y);
    pango_cairo_show_layout(m_cr, layout);
    cairo_restore(m_cr);
    g_object_unref(layout);
}

void CCairoCanvas::Draw3dRect(const DrawRect& r, DrawColour topLeft, DrawColour bottomRight) {
    FillRect({r.left, r.top, r.right - 1, r.top + 1}, topLeft);
    FillRect({r.left, r.top, r.left + 1, r.bottom - 1}, topLeft);
    FillRect({r.right - 1, r.top, r.right, r.bottom}, bottomRight);
    FillRect({r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
}

void CCairoCanvas::SetPixel(int x, int y, std::uint32_t argb) {
    if (x < m_clip.left || x >= m_clip.right || y < m_clip.top || y >= m_clip.bottom) return;
    std::memcpy(m_pixels + static_cast<std::ptrdiff_t>(y) * m_stride + x * 4, &argb, 4);
}

// Bresenham, leaving out the end point as the desktop's LineTo does.
void CCairoCanvas::Line(DrawPoint from, DrawPoint to, std::uint32_t argb) {
    int dx = std::abs(to.x - from.x), sx = from.x < to.x ? 1 : -1;
    int dy = -std::abs(to.y - from.y), sy = from.y < to.y ? 1 : -1;
    int err = dx + dy;
    int x = from.x, y = from.y;
    while (x != to.x || y != to.y) {
        SetPixel(x, y, argb);
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void CCairoCanvas::Polyline(const DrawPoint* points, std::size_t count, DrawColour colour) {
    if (points == nullptr || count < 2 || Empty(m_clip)) return;
    if (m_pixels == nullptr) {
        cairo_surface_flush(m_surface);
        m_pixels = cairo_image_surface_get_data(m_surface);
        m_stride = cairo_image_surface_get_stride(m_surface);
        if (m_pixels == nullptr) return;
    }
    std::uint32_t argb = 0xFF000000u | (static_cast<std::uint32_t>(RedOf(colour)) << 16) |
                         (static_cast<std::uint32_t>(GreenOf(colour)) << 8) | BlueOf(colour);
    for (std::size_t i = 0; i + 1 < count; ++i) Line(points[i], points[i + 1], argb);
}

}  // namespace vexa::platform
