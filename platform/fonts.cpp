#include "platform/fonts.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <cstdlib>

#include "platform/text.h"

namespace kestrel {

void FontDescriptionFree::operator()(PangoFontDescription* description) const {
  pango_font_description_free(description);
}

void GObjectFree::operator()(void* object) const { g_object_unref(object); }

int FontPixelSize(int sizePoints) {
  const long pixels = std::lround(std::abs(static_cast<double>(sizePoints)) * 96.0 / 72.0);
  return pixels < 1 ? 1 : pixels > 100000 ? 100000 : static_cast<int>(pixels);
}

std::optional<WatermarkFont> CreateWatermarkFont(const std::string& face, int sizePoints, FontStyle style) {
  std::unique_ptr<PangoFontDescription, FontDescriptionFree> description(pango_font_description_new());
  pango_font_description_set_family(description.get(), face.c_str());
  // The size is the character height in whole pixels at 96 DPI.
  const int pixelSize = FontPixelSize(sizePoints);
  pango_font_description_set_absolute_size(description.get(), static_cast<double>(pixelSize) * PANGO_SCALE);
  pango_font_description_set_weight(description.get(), style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(description.get(), style.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);

  GObjectPtr<PangoFontMap> map(pango_cairo_font_map_new());
  if (!map) return std::nullopt;
  GObjectPtr<PangoContext> context(pango_font_map_create_context(map.get()));
  GObjectPtr<PangoFont> font(pango_font_map_load_font(map.get(), context.get(), description.get()));
  if (!font) return std::nullopt;

  WatermarkFont result;
  result.description = std::move(description);
  result.face = face;
  result.sizePoints = sizePoints;
  result.pixelSize = pixelSize;
  result.style = style;
  result.fontMap = std::move(map);
  return result;
}

namespace {

GObjectPtr<PangoContext> MakeContext(PangoFontMap* map, bool vector) {
  GObjectPtr<PangoContext> context(pango_font_map_create_context(map));
  if (!context) return context;
  std::unique_ptr<cairo_font_options_t, decltype(&cairo_font_options_destroy)> options(cairo_font_options_create(),
                                                                                      cairo_font_options_destroy);
  cairo_font_options_set_antialias(options.get(), vector ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
  cairo_font_options_set_hint_style(options.get(), vector ? CAIRO_HINT_STYLE_NONE : CAIRO_HINT_STYLE_FULL);
  cairo_font_options_set_hint_metrics(options.get(), vector ? CAIRO_HINT_METRICS_OFF : CAIRO_HINT_METRICS_ON);
  pango_cairo_context_set_font_options(context.get(), options.get());
  pango_cairo_context_set_resolution(context.get(), 96.0);
  pango_context_set_round_glyph_positions(context.get(), vector ? FALSE : TRUE);
  return context;
}

}  // namespace

std::optional<TextRenderer> OpenTextRenderer(const WatermarkFont& font) {
  TextRenderer renderer;
  renderer.fontMap.reset(font.fontMap ? PANGO_FONT_MAP(g_object_ref(font.fontMap.get())) : pango_cairo_font_map_new());
  if (!renderer.fontMap) return std::nullopt;
  renderer.standard = MakeContext(renderer.fontMap.get(), false);
  renderer.vector = MakeContext(renderer.fontMap.get(), true);
  if (!renderer.standard || !renderer.vector) return std::nullopt;
  return renderer;
}

GObjectPtr<PangoLayout> LayoutLine(const TextRenderer& renderer, const WatermarkFont& font, std::string_view text,
                                   bool vector) {
  GObjectPtr<PangoLayout> layout(pango_layout_new(vector ? renderer.vector.get() : renderer.standard.get()));
  if (!layout) return layout;
  pango_layout_set_font_description(layout.get(), font.description.get());
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  // Pango wants valid UTF-8; stray bytes become replacement characters.
  const GlibText valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
  pango_layout_set_text(layout.get(), valid.get(), -1);
  if (font.style.underline || font.style.strikeOut) {
    const std::unique_ptr<PangoAttrList, decltype(&pango_attr_list_unref)> owner(pango_attr_list_new(),
                                                                                pango_attr_list_unref);
    PangoAttrList* attributes = owner.get();
    if (font.style.underline) pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (font.style.strikeOut) pango_attr_list_insert(attributes, pango_attr_strikethrough_new(TRUE));
    pango_layout_set_attributes(layout.get(), attributes);
  }
  return layout;
}

LineSize MeasureLine(PangoLayout* layout) {
  PangoRectangle logical{};
  pango_layout_get_extents(layout, nullptr, &logical);
  return LineSize{PANGO_PIXELS_CEIL(logical.width), PANGO_PIXELS_CEIL(logical.height)};
}

InkBox LineInk(PangoLayout* layout) {
  PangoRectangle ink{};
  pango_layout_get_pixel_extents(layout, &ink, nullptr);
  return InkBox{ink.x, ink.y, ink.width, ink.height};
}

double LineVectorWidth(PangoLayout* layout) {
  PangoRectangle logical{};
  pango_layout_get_extents(layout, nullptr, &logical);
  return static_cast<double>(logical.width) / PANGO_SCALE;
}

}  // namespace kestrel

