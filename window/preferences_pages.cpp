#include "window/preferences_pages.h"

namespace kestrel::window {
namespace {

using S = SettingId;
using K = LineKind;

const std::initializer_list<std::string_view> kPositions = {
    "Top-Left",    "Top-Center",    "Top-Right",    "Middle-Left", "Middle-Center",
    "Middle-Right", "Bottom-Left", "Bottom-Center", "Bottom-Right"};
const std::initializer_list<std::string_view> kBoundaries = {"Bound Image", "Bound Frame"};

const PreferenceLine kGeneral[] = {
    {"Check for Updates", S::UpdateRange, K::Choice,
     {"Every day", "Every week", "Every month", "Every 3 months", "Every 6 months", "Never"}},
    {"Save window position", S::SaveWindowPosition, K::Check},
};

// The edition reads Photoshop files only.
const PreferenceLine kInput[] = {
    {"Color Mode", S::PsdColorMode, K::Choice, {"RGB", "CMYK", "LAB"}},
};

// The edition writes bitmaps only.
const PreferenceLine kOutput[] = {
    {"Bits Per Pixel", S::BmpBpp, K::Depth},
    {"Compression", S::BmpCompression, K::Compression},
    {"Color Table", S::BmpColorTable, K::Choice, {"Auto", "Exact"}},
    {"Header", S::BmpHeader, K::Choice, {"Basic", "V5"}},
    {"Background Color", S::Background, K::Colour},
};

const PreferenceLine kTransform[] = {
    {"Image Rotation", S::None, K::Section},
    {"Image Rotation", S::DoImageRotation, K::Check},
    {"Rotation Type", S::RotationType, K::Choice, {"Simple Rotation", "Advanced Rotation"}},
    {"Rotation Angle", S::Rotation, K::Number},
    {"Background Color", S::RotationBackColor, K::Colour},
    {"Image Resize", S::None, K::Section},
    {"Image Resize", S::DoImageResize, K::Check},
    {"Image Width", S::Width, K::Number, {"Pixels", "Percent"}, {}, S::WidthUnit},
    {"Image Height", S::Height, K::Number, {"Pixels", "Percent"}, {}, S::HeightUnit},
    {"Keep Aspect Ratio", S::KeepAspectRatio, K::Check},
    {"Resize Type", S::ResizeType, K::Choice, {"All Images", "Large Images"}},
    {"Resize Algorithm", S::ResizeAlgorithm, K::Choice, {"Box", "Bilinear", "Bspline", "Bicubic", "Catmullrom", "Lanczos"}},
    {"Transform", S::None, K::Section},
    {"Image Flip Horizontal", S::FlipHorizontal, K::Check},
    {"Image Flip Vertical", S::FlipVertical, K::Check},
};

const PreferenceLine kAdjustment[] = {
    {"Adjustment", S::DoImageColorCorrection, K::Check},
    {"Image Brightness", S::Brightness, K::Number},
    {"Image Contrast", S::Contrast, K::Number},
    {"Image Gamma", S::Gamma, K::Real},
    {"Image Invert", S::Invert, K::Check},
    {"Image Greyscale", S::Greyscale, K::Check},
    {"Image Threshold", S::DoImageThreshold, K::Check},
    {"Threshold Level", S::Threshold, K::Number},
    {"Image Dither", S::DoImageDither, K::Check},
    {"Dither Algorithm", S::Dither, K::Choice, {"FS", "Bayer4", "Bayer8", "Bayer16", "Cluster6", "Cluster8", "Cluster16"}},
};

const PreferenceLine kFrame[] = {
    {"Frame Type", S::DoFrame, K::Choice, {"None", "Frame Solid"}},
    {"Left", S::FrSolidLeft, K::Number, {}, "Pixels"},
    {"Right", S::FrSolidRight, K::Number, {}, "Pixels"},
    {"Top", S::FrSolidTop, K::Number, {}, "Pixels"},
    {"Bottom", S::FrSolidBottom, K::Number, {}, "Pixels"},
    {"Left Color", S::FrSolidLeftColor, K::Colour},
    {"Right Color", S::FrSolidRightColor, K::Colour},
    {"Top Color", S::FrSolidTopColor, K::Colour},
    {"Bottom Color", S::FrSolidBottomColor, K::Colour},
    {"Opacity", S::FrSolidOpacity, K::Number},
};

const PreferenceLine kWatermark[] = {
    {"Watermark Type", S::DoWatermark, K::Choice, {"None", "Text", "Image"}},
    {"Watermark Text", S::None, K::Section},
    {"Text", S::WmText, K::Text},
    {"Font", S::WmFont, K::Font},
    {"Font Size", S::WmFontSize, K::Number, {}, "Points"},
    {"Font Leading", S::WmFontLeading, K::Number},
    {"Font Color", S::WmFontColor, K::Colour},
    {"Font Style", S::WmFontStyle, K::Choice, {"Regular", "Bold", "Italic", "Bold Italic"}},
    {"Font Effect", S::WmFontEffect, K::Choice, {"None", "Underline", "Strikeout"}},
    {"Antialiasing", S::WmTextAntialiasing, K::Check},
    {"Text Alignment", S::WmTextAlignment, K::Choice, {"Align Left", "Align Center", "Align Right"}},
    {"Text Padding", S::WmTextPadding, K::Number, {}, "Pixels"},
    {"Text Opacity", S::WmTextOpacity, K::Number},
    {"Background Color", S::WmBackColor, K::Colour},
    {"Background Opacity", S::WmBackOpacity, K::Number},
    {"Boundary", S::WmTextBoundary, K::Choice, kBoundaries},
    {"Position", S::WmTextPosition, K::Choice, kPositions},
    {"X-Offset", S::WmTextXOffset, K::Number, {}, "Pixels"},
    {"Y-Offset", S::WmTextYOffset, K::Number, {}, "Pixels"},
    {"Rotation Angle", S::WmTextRotation, K::Number},
    {"Watermark Image", S::None, K::Section},
    {"Image", S::WmImage, K::Picture},
    {"Image Greyscale", S::WmImageGreyscale, K::Check},
    {"Opacity", S::WmImageOpacity, K::Number},
    {"Boundary", S::WmImageBoundary, K::Choice, kBoundaries},
    {"Position", S::WmImagePosition, K::Choice, kPositions},
    {"X-Offset", S::WmImageXOffset, K::Number, {}, "Pixels"},
    {"Y-Offset", S::WmImageYOffset, K::Number, {}, "Pixels"},
    {"Rotation Angle", S::WmImageRotation, K::Number},
};

const PreferenceLine kFileName[] = {
    {"Filename Mask", S::FilenameMask, K::Text},
    {"File Timestamp", S::FileTimestamp, K::Choice, {"Current", "Original", "Custom"}},
    {"Custom Timestamp", S::FileTimestampCustom, K::Date},
    {"Keep Subfolders", S::KeepSubfolders, K::Check},
    {"Out Folders History", S::None, K::Section},
    {"Keep Folders", S::OutFoldersHistory, K::Check},
    {"Out Folders Number", S::OutFoldersNumber, K::Number},
};

const PreferencePage kPages[] = {
    {"General", kGeneral},     {"Input", kInput}, {"Output", kOutput},       {"Transform", kTransform},
    {"Adjustment", kAdjustment}, {"Frame", kFrame}, {"Watermark", kWatermark}, {"File name", kFileName},
};

}  // namespace

std::span<const PreferencePage> PreferencePages() { return kPages; }

}  // namespace kestrel::window
