// What the confined decoding costs: loads a PSD (and encodes it as BMP in
// memory, as a conversion does) with the decoder in this process and with the
// decoder confined, alternating, and prints the median of each.
// Usage: sandbox_cost FILE.psd [ROUNDS]
#include <FreeImage.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/sandboxed_load.h"

namespace {

// CPU time of this process and of its reaped children, in milliseconds.
double CpuMilliseconds() {
  double total = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    total += (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  }
  return total;
}

struct Cost {
  double wall;
  double cpu;
};

Cost Convert(bool confined, const std::string& path) {
  const double cpuStart = CpuMilliseconds();
  const auto start = std::chrono::steady_clock::now();
  kestrel::PsdLoad load = confined ? kestrel::LoadPsdSandboxed(path, 0) : kestrel::LoadPsdInProcess(path, 0);
  if (!load.image) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), load.failure.c_str());
    std::exit(1);
  }
  FIMEMORY* stream = FreeImage_OpenMemory(nullptr, 0);
  FreeImage_SaveToMemory(FIF_BMP, load.image.get(), stream, 0);
  FreeImage_CloseMemory(stream);
  load.image.reset();
  return {std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
          CpuMilliseconds() - cpuStart};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.psd [ROUNDS]\n", argv[0]);
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
  std::vector<double> direct, confined, directCpu, confinedCpu;
  Convert(false, argv[1]);  // warm the page cache and the library
  for (int i = 0; i < rounds; ++i) {
    const Cost in = Convert(false, argv[1]);
    const Cost out = Convert(true, argv[1]);
    direct.push_back(in.wall);
    directCpu.push_back(in.cpu);
    confined.push_back(out.wall);
    confinedCpu.push_back(out.cpu);
  }
  // Wall time shows what a user waits; CPU time (parent and child) is the work
  // added, free of the scheduling delays of a busy machine.
  const double d = Median(direct), c = Median(confined);
  const double dc = Median(directCpu), cc = Median(confinedCpu);
  std::printf("%s\n  wall: in process %.2f ms, confined %.2f ms, cost %+.2f ms (%+.1f%%)\n", argv[1], d, c, c - d,
              100.0 * (c - d) / d);
  std::printf("  cpu:  in process %.2f ms, confined %.2f ms, cost %+.2f ms (%+.1f%%)\n", dc, cc, cc - dc,
              100.0 * (cc - dc) / dc);
  return 0;
}
