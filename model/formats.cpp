#include "model/formats.h"

#include <FreeImage.h>

#include <charconv>

#include "platform/text.h"

namespace kestrel {
namespace {

struct InputRow {
  std::string_view canonical;
  std::initializer_list<std::string_view> extensions;
  std::string_view description;
};

const InputRow kInputRows[] = {
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
    {"psd", {"psd"}, "Adobe Photoshop File"},
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

const OutputFormat kOutputRows[] = {
    {FIF_BMP, "bmp", "Windows or OS/2 Bitmap", "1,4,8,16,24,32"},
    {FIF_EXR, "exr", "ILM OpenEXR", "96"},
    {FIF_GIF, "gif", "Graphics Interchange Format", "8"},
    {FIF_HDR, "hdr", "High Dynamic Range Image", "96"},
    {FIF_ICO, "ico", "Windows Icon", "1,4,8,16,24,32"},
    {FIF_J2K, "j2k", "JPEG-2000 Codestream", "8,24,32,48"},
    {FIF_JNG, "jng", "JPEG Network Graphics", "24,32"},
    {FIF_JP2, "jp2", "JPEG-2000 File Format", "8,24,32,48"},
    {FIF_JPEG, "jpg", "JPEG File Format", "8,24"},
    {FIF_JXR, "jxr", "JPEG XR Image Format", "1,8,16,24,32,48,96"},
    {FIF_PBM, "pbm", "Portable Bitmap", "1"},
    {FIF_PFM, "pfm", "Portable Floatmap", "96"},
    {FIF_PGM, "pgm", "Portable Greymap", "8"},
    {FIF_PNG, "png", "Portable Network Graphics", "1,4,8,24,32,48"},
    {FIF_PPM, "ppm", "Portable Pixelmap", "24,48"},
    {FIF_TARGA, "tga", "Truevision Targa", "8,16,24,32"},
    {FIF_TIFF, "tiff", "Tagged Image File Format", "1,4,8,24,32,48,96"},
    {FIF_WBMP, "wbmp", "Wireless Bitmap", "1"},
    {FIF_WEBP, "webp", "Google WebP Image Format", "24,32"},
    {FIF_XPM, "xpm", "X11 Pixmap Format", "24"},
};

constexpr std::string_view kRleCompression[] = {"NONE", "RLE"};
constexpr std::string_view kExrCompression[] = {"NONE", "ZIP", "PIZ", "PXR24", "B44"};
constexpr std::string_view kPngCompression[] = {"NONE", "ZLIB1", "ZLIB6", "ZLIB9"};
constexpr std::string_view kTiffCompression[] = {"NONE",    "CCITTFAX3",    "CCITTFAX4",
                                                 "PACKBITS", "DEFLATE",     "ADOBEDEFLATE",
                                                 "LZW",     "JPEG",         "LOGLUV"};

// The FreeImage flag of a setting value, or 0 for a value without one.
int Pick(std::span<const int> flags, int value) {
  return value >= 0 && static_cast<std::size_t>(value) < flags.size() ? flags[static_cast<std::size_t>(value)] : 0;
}

}  // namespace

FormatRegistry MakeEditionRegistry() {
  FormatRegistry registry;
  registry.sourceFormats = {"psd"};
  registry.targetFormats = {"bmp"};
  return registry;
}

void BuildInputFormats(FormatRegistry& registry) {
  registry.inputFormats.clear();
  for (const auto& row : kInputRows) {
    for (auto extension : row.extensions) {
      registry.inputFormats[std::string(extension)] = {std::string(row.canonical), std::string(row.description)};
    }
  }
}

void BuildOutputFormats(FormatRegistry& registry) {
  registry.outputFormats.clear();
  for (const auto& row : kOutputRows) registry.outputFormats[row.extension] = row;
}

void BuildAcceptedInputExtensions(FormatRegistry& registry) {
  std::string joined;
  for (const auto& source : registry.sourceFormats) {
    for (const auto& [extension, format] : registry.inputFormats) {
      if (format.canonical == source) joined += extension + ",";
    }
  }
  if (!joined.empty()) joined.pop_back();
  registry.acceptedInputExtensions.clear();
  std::size_t start = 0;
  for (;;) {
    const auto comma = joined.find(',', start);
    registry.acceptedInputExtensions.push_back(joined.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

bool IsConversionTarget(const FormatRegistry& registry, std::string_view extension) {
  return ListContains(registry.targetFormats, extension);
}

bool ListContains(const std::vector<std::string>& list, std::string_view text) {
  for (const auto& row : list) {
    if (row == text) return true;
  }
  return false;
}

std::vector<int> AllowedDepths(const FormatRegistry& registry, std::string_view extension) {
  std::vector<int> depths;
  const auto row = registry.outputFormats.find(extension);
  if (row == registry.outputFormats.end()) return depths;
  std::string_view list = row->second.allowedDepths;
  while (!list.empty()) {
    const auto comma = list.find(',');
    const auto field = list.substr(0, comma);
    int value = 0;
    std::from_chars(field.data(), field.data() + field.size(), value);
    depths.push_back(value);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return depths;
}

bool IsAllowedDepth(const FormatRegistry& registry, std::string_view extension, int depth) {
  if (depth == 0) return true;
  for (int allowed : AllowedDepths(registry, extension)) {
    if (allowed == depth) return true;
  }
  return false;
}

int OutputFormatId(const FormatRegistry& registry, std::string_view extension) {
  const auto row = registry.outputFormats.find(extension);
  return row == registry.outputFormats.end() ? FIF_UNKNOWN : row->second.formatId;
}

int SaveFlags(const Settings& settings, std::string_view extension) {
  if (extension == "bmp") {
    static constexpr int kFlags[] = {0, BMP_SAVE_RLE};
    return Pick(kFlags, settings.Int(SettingId::BmpCompression));
  }
  if (extension == "exr") {
    static constexpr int kFlags[] = {EXR_NONE, EXR_ZIP, EXR_PIZ, EXR_PXR24, EXR_B44};
    return Pick(kFlags, settings.Int(SettingId::ExrCompression));
  }
  if (extension == "jpg") {
    static constexpr int kChroma[] = {JPEG_SUBSAMPLING_444, JPEG_SUBSAMPLING_422, JPEG_SUBSAMPLING_420,
                                      JPEG_SUBSAMPLING_411};
    static constexpr int kSaveAs[] = {0, JPEG_BASELINE, JPEG_OPTIMIZE, JPEG_PROGRESSIVE};
    return settings.Int(SettingId::JpgQuality) + Pick(kChroma, settings.Int(SettingId::JpgChroma)) +
           Pick(kSaveAs, settings.Int(SettingId::JpgSaveAs));
  }
  if (extension == "jxr") return JXR_LOSSLESS;
  if (extension == "png") {
    static constexpr int kFlags[] = {PNG_Z_NO_COMPRESSION, PNG_Z_BEST_SPEED, PNG_Z_DEFAULT_COMPRESSION,
                                     PNG_Z_BEST_COMPRESSION};
    return Pick(kFlags, settings.Int(SettingId::PngCompression)) +
           (settings.Int(SettingId::PngInterlaced) == 1 ? PNG_INTERLACED : 0);
  }
  if (extension == "tga") {
    static constexpr int kFlags[] = {0, TARGA_SAVE_RLE};
    return Pick(kFlags, settings.Int(SettingId::TgaCompression));
  }
  if (extension == "tiff") {
    static constexpr int kFlags[] = {TIFF_NONE, TIFF_CCITTFAX3, TIFF_CCITTFAX4, TIFF_PACKBITS, TIFF_DEFLATE,
                                     TIFF_ADOBE_DEFLATE, TIFF_LZW, TIFF_JPEG, TIFF_LOGLUV};
    return Pick(kFlags, settings.Int(SettingId::TiffCompression)) +
           (settings.Int(SettingId::TiffColorMode) == 1 ? TIFF_CMYK : 0);
  }
  if (extension == "webp") {
    const int quality = settings.Int(SettingId::WebpQuality);
    return quality == 100 ? WEBP_LOSSLESS : quality;
  }
  return 0;
}

SettingId DepthSettingOf(std::string_view extension) {
  const SettingRow* row = FindRowByKey(AsciiUpper(extension) + "-BPP");
  return row == nullptr ? SettingId::None : row->id;
}

std::span<const std::string_view> CompressionKeywords(std::string_view extension) {
  if (extension == "bmp" || extension == "tga") return kRleCompression;
  if (extension == "exr") return kExrCompression;
  if (extension == "png") return kPngCompression;
  if (extension == "tiff") return kTiffCompression;
  return {};
}

}  // namespace kestrel
