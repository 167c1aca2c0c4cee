#include "engine/decode/load.h"

#include "engine/decode/confined_psd.h"

namespace kestrel {

int LoadFlagsForInput(const Settings& settings, const std::string& extension) {
  if (extension != "psd") return 0;
  switch (settings.Int(SettingId::PsdColorMode)) {
    case 1: return PSD_CMYK;
    case 2: return PSD_LAB;
    default: return PSD_DEFAULT;
  }
}

ImageResult LoadInputLayer(const std::string& path, int flags, std::size_t layer) {
  return LoadPsdLayerSandboxed(path, flags, layer);
}

}  // namespace kestrel
