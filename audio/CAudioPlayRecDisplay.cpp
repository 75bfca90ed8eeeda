// The recorder's waveform display: the latest buffer's left channel traced in the upper half and
// the right channel in the lower half, each labelled, with the input device's name in a corner.
#include <cstring>
#include <vector>

#include "audio/CAudioPlayRec.h"
#include "platform/draw/IScopeWindow.h"

namespace vexa {

using platform::DrawPoint;
using platform::DrawRect;
using platform::Rgb;

namespace {

constexpr platform::DrawColour kLabelColour = Rgb(255, 255, 0);
constexpr platform::DrawColour kNameColour = Rgb(128, 255, 255);
constexpr platform::DrawColour kFrameColour = Rgb(128, 64, 0);
// The desktop traces with the default black pen, which vanishes on the black background; an
// oscilloscope green keeps the level visible.
constexpr platform::DrawColour kTraceColour = Rgb(0, 255, 0);

DrawRect ToDraw(const ScopeRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

DrawRect Shrunk(const ScopeRect& r, int by) {
    return {r.left + by, r.top + by, r.right - by, r.bottom - by};
}

ScopeRect UpperHalf(const ScopeRect& client) {
    ScopeRect r = client;
    r.bottom = (client.bottom - client.top - 2) / 2;
    return r;
}

ScopeRect LowerHalf(const ScopeRect& client) {
    ScopeRect r = client;
    r.top = (client.bottom - client.top + 2) / 2;
    return r;
}

}  // namespace

struct ScopeResources {
    bool hasBrush = false;
    platform::DrawColour brush = 0;
    std::unique_ptr<platform::IScopeWindow> window;
    std::unique_ptr<platform::IDrawFont> labelFont;
    std::unique_ptr<platform::IDrawFont> nameFont;
    // Reused trace points: no allocation per buffer once the largest buffer was drawn.
    std::vector<DrawPoint> points;
};

struct ScopeDC {
    platform::ICanvas& canvas;
};

void ScopeResourcesDeleter::operator()(ScopeResources* resources) const {
    delete resources;
}

void CAudioPlayRec::SetBackColor(std::uint32_t colour) {
    m_crBackColor = colour;
    if (!m_pScope) m_pScope.reset(new ScopeResources);
    m_pScope->brush = colour;
    m_pScope->hasBrush = true;
    if (m_pScope->window) m_pScope->window->Invalidate(nullptr);
}

bool CAudioPlayRec::CreateScopeWindow(platform::WindowHandle parent) {
    if (!m_pScope) m_pScope.reset(new ScopeResources);
    auto window = platform::ScopeWindows().Create(parent, [this](platform::ICanvas& canvas) {
        ScopeDC dc{canvas};
        DrawBackground(dc);
    });
    if (!window) return false;
    DrawRect client = window->ClientRect();
    m_rcClient = {client.left, client.top, client.right, client.bottom};

    platform::FontRequest label;
    label.family = "Impact";
    label.points = 10;
    platform::FontRequest name;
    name.family = "MS Sans Serif";
    name.cellHeight = 14;
    name.italic = true;
    name.underline = true;
    m_pScope->labelFont = window->CreateFont(label);
    m_pScope->nameFont = window->CreateFont(name);
    m_pScope->window = std::move(window);
    return true;
}

void CAudioPlayRec::InvalidateScope(bool nameOnly) {
    if (!m_pScope || !m_pScope->window) return;
    if (nameOnly) {
        DrawRect corner = Shrunk(LowerHalf(m_rcClient), 4);
        m_pScope->window->Invalidate(&corner);
    } else {
        m_pScope->window->Invalidate(nullptr);
    }
}

void CAudioPlayRec::DrawBackground(ScopeDC& dc) {
    if (!m_pScope) return;
    const struct {
        ScopeRect rect;
        const char* label;
    } halves[] = {{UpperHalf(m_rcClient), "Left"}, {LowerHalf(m_rcClient), "Right"}};
    for (const auto& half : halves) {
        if (!m_pScope->hasBrush) continue;
        dc.canvas.FillRect(ToDraw(half.rect), m_pScope->brush);
        if (m_pScope->labelFont)
            dc.canvas.DrawText(half.label, Shrunk(half.rect, 2), *m_pScope->labelFont, kLabelColour,
                               platform::ICanvas::Align::TopLeft);
    }
    if (m_pScope->nameFont)
        dc.canvas.DrawText(m_strDeviceName, Shrunk(m_rcClient, 4), *m_pScope->nameFont, kNameColour,
                           platform::ICanvas::Align::BottomRight);
    dc.canvas.Draw3dRect(ToDraw(m_rcClient), kFrameColour, kFrameColour);
}

void CAudioPlayRec::DrawWave(std::uint32_t bytesPerChannel) {
    if (!m_pScope || !m_pScope->window) return;
    bool drawLeft = true, drawRight = true;
    if (m_nState == Recording && m_nChannelMode == 2) {
        drawLeft = m_hWaveFile[0] || m_pMp3File[0] != nullptr;
        drawRight = m_hWaveFile[1] || m_pMp3File[1] != nullptr;
    }
    std::unique_ptr<platform::ICanvas> canvas = m_pScope->window->GetCanvas();
    ScopeDC dc{*canvas};
    DrawBackground(dc);

    // The channel buffers hold one sample buffer at most.
    std::uint32_t n = std::min(bytesPerChannel, m_dwBufferSize);
    bool wide = m_wfx.wBitsPerSample == 16;
    if ((!wide && m_wfx.wBitsPerSample != 8) || !m_pLeft || !m_pRight) return;
    std::uint32_t count = wide ? n / 2 : n;
    if (count == 0) return;
    const struct {
        bool draw;
        ScopeRect rect;
        const std::uint8_t* samples;
    } traces[] = {{drawLeft, UpperHalf(m_rcClient), m_pLeft.get()},
                  {drawRight, LowerHalf(m_rcClient), m_pRight.get()}};
    std::vector<DrawPoint>& points = m_pScope->points;
    points.resize(count);
    for (const auto& trace : traces) {
        if (!trace.draw) continue;
        const int t = trace.rect.top, b = trace.rect.bottom;
        const int middle = (t + b) / 2;
        const float step =
            static_cast<float>(trace.rect.right - trace.rect.left) / static_cast<float>(count);
        float x = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            int y;
            if (wide) {
                std::int16_t v;
                std::memcpy(&v, trace.samples + 2 * i, 2);
                y = middle + v * (b - t) / 65535;
            } else {
                y = t + trace.samples[i] * (b - t) / 255;
            }
            points[i] = {static_cast<int>(x), y};
            x += step;
        }
        canvas->Polyline(points.data(), points.size(), kTraceColour);
    }
}

}  // namespace vexa
