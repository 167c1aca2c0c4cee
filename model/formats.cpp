#include "model/formats.h"

#include <FreeImage.h>

#include <algorithm>

namespace kestrel {
namespace {

// The compression methods of the output formats, by number, with their save flags.
constexpr Keyword kBmpCompression[] = {{"NONE"}, {"RLE", BMP_SAVE_RLE}};
constexpr Keyword kExrCompression[] = {{"NONE", EXR_NONE}, {"ZIP", EXR_ZIP}, {"PIZ", EXR_PIZ},
                                       {"PXR24", EXR_PXR24}, {"B44", EXR_B44}};
constexpr Keyword kPngCompression[] = {{"NONE", PNG_Z_NO_COMPRESSION}, {"ZLIB1", PNG_Z_BEST_SPEED},
                                       {"ZLIB6", PNG_Z_DEFAULT_COMPRESSION}, {"ZLIB9", PNG_Z_BEST_COMPRESSION}};
constexpr Keyword kTgaCompression[] = {{"NONE"}, {"RLE", TARGA_SAVE_RLE}};
constexpr Keyword kTiffCompression[] = {
    {"NONE", TIFF_NONE},         {"CCITTFAX3", TIFF_CCITTFAX3}, {"CCITTFAX4", TIFF_CCITTFAX4},
    {"PACKBITS", TIFF_PACKBITS}, {"DEFLATE", TIFF_DEFLATE},     {"ADOBEDEFLATE", TIFF_ADOBE_DEFLATE},
    {"LZW", TIFF_LZW},           {"JPEG", TIFF_JPEG},           {"LOGLUV", TIFF_LOGLUV}};

using S = SettingId;

// One row a format, in extension order. The order also sets the compression
// keywords' union that options read: the first format with a word gives its number.
constexpr OutputFormat kOutputRows[] = {
    {.extension = "bmp", .formatId = FIF_BMP, .description = "Windows or OS/2 Bitmap", .depths = {1, 4, 8, 16, 24, 32},
     .depthSetting = S::BmpBpp, .reportLines = {S::BmpBpp, S::BmpCompression, S::BmpColorTable, S::BmpHeader},
     .compression = S::BmpCompression, .compressions = kBmpCompression, .colourTable = S::BmpColorTable},
    {.extension = "dds", .formatId = FIF_UNKNOWN, .depthSetting = S::DdsBpp, .reportLines = {S::DdsBpp}},
    {.extension = "exr", .formatId = FIF_EXR, .description = "ILM OpenEXR", .depths = {96},
     .depthSetting = S::ExrBpp, .reportLines = {S::ExrBpp, S::ExrCompression},
     .compression = S::ExrCompression, .compressions = kExrCompression},
    {.extension = "gif", .formatId = FIF_GIF, .description = "Graphics Interchange Format", .depths = {8},
     .depthSetting = S::GifBpp, .reportLines = {S::GifBpp}},
    {.extension = "hdr", .formatId = FIF_HDR, .description = "High Dynamic Range Image", .depths = {96},
     .depthSetting = S::HdrBpp, .reportLines = {S::HdrBpp}},
    {.extension = "ico", .formatId = FIF_ICO, .description = "Windows Icon", .depths = {1, 4, 8, 16, 24, 32},
     .depthSetting = S::IcoBpp, .reportLines = {S::IcoBpp}, .sixteenBitsAs555 = true},
    {.extension = "j2k", .formatId = FIF_J2K, .description = "JPEG-2000 Codestream", .depths = {8, 24, 32, 48},
     .depthSetting = S::J2kBpp, .reportLines = {S::J2kBpp}, .eightBitsByConversion = true},
    {.extension = "jng", .formatId = FIF_JNG, .description = "JPEG Network Graphics", .depths = {24, 32},
     .depthSetting = S::JngBpp, .reportLines = {S::JngBpp}},
    {.extension = "jp2", .formatId = FIF_JP2, .description = "JPEG-2000 File Format", .depths = {8, 24, 32, 48},
     .depthSetting = S::Jp2Bpp, .reportLines = {S::Jp2Bpp}, .eightBitsByConversion = true},
    {.extension = "jpg", .formatId = FIF_JPEG, .description = "JPEG File Format", .depths = {8, 24},
     .depthSetting = S::JpgBpp, .reportLines = {S::JpgBpp, S::JpgQuality, S::JpgChroma, S::JpgSaveAs},
     .quality = S::JpgQuality,
     .otherFlags = [](const Settings& s) {
       return s.Int(S::JpgQuality) + KeywordLibraryValue(KeywordSet::JpgChroma, s.Int(S::JpgChroma), 0) +
              KeywordLibraryValue(KeywordSet::JpgSaveAs, s.Int(S::JpgSaveAs), 0);
     },
     .eightBitsByConversion = true},
    {.extension = "jxr", .formatId = FIF_JXR, .description = "JPEG XR Image Format",
     .depths = {1, 8, 16, 24, 32, 48, 96}, .depthSetting = S::JxrBpp, .reportLines = {S::JxrBpp},
     .otherFlags = [](const Settings&) { return JXR_LOSSLESS; }, .eightBitsByConversion = true},
    {.extension = "pbm", .formatId = FIF_PBM, .description = "Portable Bitmap", .depths = {1},
     .depthSetting = S::PbmBpp, .reportLines = {S::PbmBpp}},
    {.extension = "pcx", .formatId = FIF_UNKNOWN, .depthSetting = S::PcxBpp, .reportLines = {S::PcxBpp}},
    {.extension = "pfm", .formatId = FIF_PFM, .description = "Portable Floatmap", .depths = {96},
     .depthSetting = S::PfmBpp, .reportLines = {S::PfmBpp}},
    {.extension = "pgm", .formatId = FIF_PGM, .description = "Portable Greymap", .depths = {8},
     .depthSetting = S::PgmBpp, .reportLines = {S::PgmBpp}},
    {.extension = "png", .formatId = FIF_PNG, .description = "Portable Network Graphics",
     .depths = {1, 4, 8, 24, 32, 48}, .depthSetting = S::PngBpp,
     .reportLines = {S::PngBpp, S::PngCompression, S::PngInterlaced}, .compression = S::PngCompression,
     .compressions = kPngCompression,
     .otherFlags = [](const Settings& s) { return s.Int(S::PngInterlaced) == 1 ? PNG_INTERLACED : 0; }},
    {.extension = "ppm", .formatId = FIF_PPM, .description = "Portable Pixelmap", .depths = {24, 48},
     .depthSetting = S::PpmBpp, .reportLines = {S::PpmBpp}},
    {.extension = "psd", .formatId = FIF_UNKNOWN, .depthSetting = S::PsdBpp, .reportLines = {S::PsdBpp}},
    {.extension = "tga", .formatId = FIF_TARGA, .description = "Truevision Targa", .depths = {8, 16, 24, 32},
     .depthSetting = S::TgaBpp, .reportLines = {S::TgaBpp, S::TgaCompression}, .compression = S::TgaCompression,
     .compressions = kTgaCompression, .sixteenBitsAs555 = true},
    {.extension = "tiff", .formatId = FIF_TIFF, .description = "Tagged Image File Format",
     .depths = {1, 4, 8, 24, 32, 48, 96}, .depthSetting = S::TiffBpp,
     .reportLines = {S::TiffBpp, S::TiffCompression, S::TiffColorMode}, .compression = S::TiffCompression,
     .compressions = kTiffCompression,
     .otherFlags = [](const Settings& s) { return s.Int(S::TiffColorMode) == 1 ? TIFF_CMYK : 0; }},
    {.extension = "wbmp", .formatId = FIF_WBMP, .description = "Wireless Bitmap", .depths = {1},
     .depthSetting = S::WbmpBpp, .reportLines = {S::WbmpBpp}},
    // WebP quality 100 means lossless.
    {.extension = "webp", .formatId = FIF_WEBP, .description = "Google WebP Image Format", .depths = {24, 32},
     .depthSetting = S::WebpBpp, .reportLines = {S::WebpBpp, S::WebpQuality}, .quality = S::WebpQuality,
     .otherFlags = [](const Settings& s) {
       return s.Int(S::WebpQuality) == 100 ? WEBP_LOSSLESS : s.Int(S::WebpQuality);
     }},
    {.extension = "xpm", .formatId = FIF_XPM, .description = "X11 Pixmap Format", .depths = {24},
     .depthSetting = S::XpmBpp, .reportLines = {S::XpmBpp}},
};

constexpr bool RowsAreWhole() {
  for (const OutputFormat& row : kOutputRows) {
    if (row.depthSetting == S::None || *row.reportLines.begin() != row.depthSetting) return false;
    if ((row.compression == S::None) != row.compressions.empty()) return false;
  }
  return true;
}
static_assert(RowsAreWhole(), "every format has its depth setting first in the report, and methods with compression");

}  // namespace

std::span<const InputFormat> InputFormats() {
  // Inside the function so that it is built before its first use.
  static const InputFormat kRows[] = {
      {"bmp", {"bmp", "rle", "dib"}, "Windows or OS/2 Bitmap"},
      {"dds", {"dds"}, "DirectDraw Surface File"},
      {"emf", {"emf", "emz"}, "Enhanced Metafile Format"},
      {"gif", {"gif"}, "GIF File"},
      {"hdr", {"hdr", "hdri"}, "High Dynamic Range File"},
      {"ico", {"ico"}, "Windows Icon"},
      {"jpg", {"jpg", "jpeg", "jpe", "jif"}, "JPEG File"},
      {"pcd", {"pcd", "pcd1", "pcds", "ppcd"}, "Kodak PhotoCD File"},
      {"pcx", {"pcx"}, "ZSoft Paintbrush File"},
      {"pic", {"pic", "pict", "pct"}, "Macintosh PICT"},
      {"png", {"png"}, "Portable Network Graphics"},
      {"psd", {"psd", "psb"}, "Adobe Photoshop File"},
      {"tga", {"tga", "targa"}, "Truevision Targa"},
      {"tiff", {"tiff", "tif"}, "Tagged Image File Format"},
      {"wmf", {"wmf", "wmz"}, "Windows Metafile Format"},
      {"wmf", {"apm"}, "Aldus Placeable Metafile"},
      {"raw", {"raw", "raw1", "raw2"}, "Camera RAW Image"},
      {"raw", {"3fr"}, "Hasselblad Camera RAW Image"},
      {"raw", {"arw", "sr2", "srf"}, "Sony Camera RAW Image"},
      {"raw", {"bay"}, "Casio Camera RAW Image"},
      {"raw", {"bmq"}, "NuCore RAW Image"},
      {"raw", {"cap", "iiq", "eip"}, "Phase One Camera RAW Image"},
      {"raw", {"cine"}, "Phantom RAW Image"},
      {"raw", {"cr2", "crw"}, "Canon Camera RAW Image"},
      {"raw", {"cs1"}, "Capture Shop RAW Image"},
      {"raw", {"dc2", "dcr", "drf", "dsc", "k25", "kc2", "kdc", "dcs"}, "Kodak Camera RAW Image"},
      {"raw", {"dng"}, "Adobe Digital Negative Image"},
      {"raw", {"erf"}, "Epson Camera RAW Image"},
      {"raw", {"fff"}, "Imacon Camera RAW Image"},
      {"raw", {"ia", "sti"}, "Sinar RAW Image"},
      {"raw", {"mdc", "mrw"}, "Minolta Camera RAW Image"},
      {"raw", {"mef", "mos"}, "Mamiya Camera RAW Image"},
      {"raw", {"nef", "nrw"}, "Nikon Camera RAW Image"},
      {"raw", {"orf"}, "Olympus Camera RAW Image"},
      {"raw", {"pef", "ptx"}, "Pentax Camera RAW Image"},
      {"raw", {"pxn"}, "Logitech Camera RAW Image"},
      {"raw", {"qtk"}, "Apple Quicktake Camera RAW Image"},
      {"raw", {"raf"}, "Fuji Camera RAW Image"},
      {"raw", {"rdc"}, "Digital Foto Maker RAW Image"},
      {"raw", {"rw2"}, "Panasonic Camera RAW Image"},
      {"raw", {"rwz"}, "Rawzor Camera RAW Image"},
      {"raw", {"x3f"}, "Sigma Camera RAW Image"},
      {"raw", {"ari"}, "ARRI RAW Image"},
      {"raw", {"r3d"}, "RED RAW Image"},
      {"raw", {"rwl"}, "Leica Camera RAW Image"},
  };
  return kRows;
}

std::span<const OutputFormat> OutputFormats() { return kOutputRows; }

const InputFormat* FindInputFormat(std::string_view extension) {
  for (const InputFormat& row : InputFormats()) {
    if (std::find(row.extensions.begin(), row.extensions.end(), extension) != row.extensions.end()) return &row;
  }
  return nullptr;
}

const OutputFormat* FindOutputFormat(std::string_view extension) {
  for (const OutputFormat& row : kOutputRows) {
    if (row.extension == extension) return &row;
  }
  return nullptr;
}

FormatRegistry MakeEditionRegistry() {
  FormatRegistry registry;
  registry.sourceFormats = {"psd"};
  registry.targetFormats = {"bmp"};
  auto& accepted = registry.acceptedInputExtensions;
  for (const auto& source : registry.sourceFormats) {
    const auto first = static_cast<std::ptrdiff_t>(accepted.size());
    for (const InputFormat& row : InputFormats()) {
      if (row.canonical == source) accepted.insert(accepted.end(), row.extensions.begin(), row.extensions.end());
    }
    // A source's extensions in name order.
    std::sort(accepted.begin() + first, accepted.end());
  }
  return registry;
}

bool IsConversionTarget(const FormatRegistry& registry, std::string_view extension) {
  return ListContains(registry.targetFormats, extension);
}

bool ListContains(const std::vector<std::string>& list, std::string_view text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

std::span<const int> AllowedDepths(std::string_view extension) {
  const OutputFormat* row = FindOutputFormat(extension);
  return row == nullptr ? std::span<const int>() : std::span<const int>(row->depths.begin(), row->depths.size());
}

bool IsAllowedDepth(std::string_view extension, int depth) {
  const auto depths = AllowedDepths(extension);
  return depth == 0 || std::find(depths.begin(), depths.end(), depth) != depths.end();
}

int OutputFormatId(std::string_view extension) {
  const OutputFormat* row = FindOutputFormat(extension);
  return row == nullptr ? FIF_UNKNOWN : row->formatId;
}

int SaveFlags(const Settings& settings, std::string_view extension) {
  const OutputFormat* row = FindOutputFormat(extension);
  if (row == nullptr) return 0;
  int flags = row->otherFlags ? row->otherFlags(settings) : 0;
  if (row->compression != S::None) {
    // A number that names no method of the format adds nothing.
    if (const Keyword* method = KeywordAt(row->compressions, settings.Int(row->compression))) flags += method->library;
  }
  return flags;
}

SettingId DepthSettingOf(std::string_view extension) {
  const OutputFormat* row = FindOutputFormat(extension);
  return row == nullptr ? S::None : row->depthSetting;
}

bool WritesExactColourTable(const Settings& settings, std::string_view extension, int depth) {
  const OutputFormat* row = FindOutputFormat(extension);
  return row != nullptr && row->colourTable != S::None && depth == 8 && settings.Int(row->colourTable) == 1;
}

}  // namespace kestrel
