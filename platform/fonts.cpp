#include "platform/fonts.h"

#include <pango/pangocairo.h>

namespace kestrel {

void FontDescriptionFree::operator()(PangoFontDescription* description) const {
  pango_font_description_free(description);
}

std::optional<WatermarkFont> CreateWatermarkFont(const std::string& face, int sizePoints, FontStyle style) {
  std::unique_ptr<PangoFontDescription, FontDescriptionFree> description(pango_font_description_new());
  pango_font_description_set_family(description.get(), face.c_str());
  // Pango sizes are in points; the layout's resolution (96 DPI) turns them into pixels.
  pango_font_description_set_size(description.get(), sizePoints * PANGO_SCALE);
  pango_font_description_set_weight(description.get(), style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(description.get(), style.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);

  PangoFontMap* map = pango_cairo_font_map_new();
  if (map == nullptr) return std::nullopt;
  PangoContext* context = pango_font_map_create_context(map);
  PangoFont* font = pango_font_map_load_font(map, context, description.get());
  const bool loaded = font != nullptr;
  if (font != nullptr) g_object_unref(font);
  g_object_unref(context);
  g_object_unref(map);
  if (!loaded) return std::nullopt;

  WatermarkFont result;
  result.description = std::move(description);
  result.face = face;
  result.sizePoints = sizePoints;
  result.style = style;
  return result;
}

}  // namespace kestrel
