// Fonts by face name through fontconfig and Pango.
#pragma once

#include <memory>
#include <optional>
#include <string>

typedef struct _PangoFontDescription PangoFontDescription;

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

// The text watermark's font: a face by name, a size in points at 96 DPI and a
// style. Created before a job and read by every file of it.
struct WatermarkFont {
  std::unique_ptr<PangoFontDescription, FontDescriptionFree> description;
  std::string face;
  int sizePoints = 0;
  FontStyle style;
};

// Asks fontconfig for the face; a face it substitutes for an unknown name
// counts as found. Fails only when no font at all can be loaded.
std::optional<WatermarkFont> CreateWatermarkFont(const std::string& face, int sizePoints, FontStyle style);

}  // namespace kestrel
