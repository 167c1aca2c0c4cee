// Fonts by face name through fontconfig and Pango, and the text renderer that
// measures and lays out lines with them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

typedef struct _PangoFontDescription PangoFontDescription;
typedef struct _PangoFontMap PangoFontMap;
typedef struct _PangoContext PangoContext;
typedef struct _PangoLayout PangoLayout;

namespace kestrel {

struct FontStyle {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
};

struct FontDescriptionFree {
  void operator()(PangoFontDescription* description) const;
};

struct GObjectFree {
  void operator()(void* object) const;
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectFree>;

// The text watermark's font: a face by name, a size in points at 96 DPI and a
// style. Created before a job and read by every file of it.
struct WatermarkFont {
  std::unique_ptr<PangoFontDescription, FontDescriptionFree> description;
  std::string face;
  int sizePoints = 0;
  int pixelSize = 0;  // the character (em) height: points * 96 / 72, rounded
  FontStyle style;
  // The font map the face was found in, kept so that the job's text
  // renderer finds it again without a second fontconfig search. Used by one
  // thread at a time: the launcher before the job, the worker during it.
  GObjectPtr<PangoFontMap> fontMap;
};

// The em height in pixels of a size in points at 96 DPI, rounded to the
// nearest integer; at least 1.
int FontPixelSize(int sizePoints);

// Asks fontconfig for the face; a face it substitutes for an unknown name
// counts as found. Fails only when no font at all can be loaded.
std::optional<WatermarkFont> CreateWatermarkFont(const std::string& face, int sizePoints, FontStyle style);

// The font's own font map (a fresh one when it has none) with two text
// contexts: the standard one measures and draws plain text (hinted
// metrics, whole-pixel advances, no antialiasing); the vector one draws
// antialiased text with unhinted outlines at fractional positions.
struct TextRenderer {
  GObjectPtr<PangoFontMap> fontMap;
  GObjectPtr<PangoContext> standard;
  GObjectPtr<PangoContext> vector;
};

std::optional<TextRenderer> OpenTextRenderer(const WatermarkFont& font);

// One line of text in the font, laid out by the standard or the vector
// context. A line end in the text is shown as a glyph, not broken.
GObjectPtr<PangoLayout> LayoutLine(const TextRenderer& renderer, const WatermarkFont& font, std::string_view text,
                                   bool vector);

// The line's logical box in pixels: advance width and line height.
struct LineSize {
  int width = 0;
  int height = 0;
};
LineSize MeasureLine(PangoLayout* layout);

// The box of the pixels the line's glyphs may touch, relative to the
// top-left corner of its logical box.
struct InkBox {
  int x = 0, y = 0, width = 0, height = 0;
};
InkBox LineInk(PangoLayout* layout);

// The line's typographic width in (fractional) pixels, trailing spaces included.
double LineVectorWidth(PangoLayout* layout);

}  // namespace kestrel
