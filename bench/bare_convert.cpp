// The floor for kestrel's speed: load a PSD and save it as BMP with FreeImage
// alone, nothing else. Usage: bare_convert INPUT.psd OUTPUT.bmp
#include <FreeImage.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s INPUT.psd OUTPUT.bmp\n", argv[0]);
    return 2;
  }
  FIBITMAP* image = FreeImage_Load(FIF_PSD, argv[1], 0);
  if (image == nullptr) return 1;
  const BOOL saved = FreeImage_Save(FIF_BMP, image, argv[2], 0);
  FreeImage_Unload(image);
  return saved ? 0 : 1;
}
