// The program where people browse their files: thumbnails made as a file
// manager makes them (inside GNOME's sandbox), the installed thumbnailer and
// MIME type, compared with an independent scaling of the full conversion.
#include <gtest/gtest.h>

#include <FreeImage.h>
#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace kestrel {
namespace {

// A tool the test needs, which scripts/install-deps.sh installs.
#define REQUIRE_TOOL(tool)                                                                  \
  do {                                                                                      \
    if (test::CommandOutput("command -v " tool).empty()) KESTREL_CANNOT_RUN(tool " is not installed"); \
  } while (false)

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

struct Flat {
  unsigned width = 0, height = 0;
  std::vector<double> rgb;  // flattened onto white, 0..255, top row first
};

// A picture file read by FreeImage, flattened onto white.
Flat ReadFlat(const std::string& path) {
  Flat flat;
  FIBITMAP* loaded = FreeImage_Load(FreeImage_GetFileType(path.c_str()), path.c_str());
  if (loaded == nullptr) return flat;
  FIBITMAP* rgba = FreeImage_ConvertTo32Bits(loaded);
  FreeImage_Unload(loaded);
  if (rgba == nullptr) return flat;
  flat.width = FreeImage_GetWidth(rgba);
  flat.height = FreeImage_GetHeight(rgba);
  for (unsigned y = 0; y < flat.height; ++y) {
    const BYTE* line = FreeImage_GetScanLine(rgba, static_cast<int>(flat.height - 1 - y));
    for (unsigned x = 0; x < flat.width; ++x) {
      const BYTE* p = line + 4 * x;
      const double a = p[FI_RGBA_ALPHA] / 255.0;
      for (const int c : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE}) flat.rgb.push_back(p[c] * a + 255 * (1 - a));
    }
  }
  FreeImage_Unload(rgba);
  return flat;
}

double Rmse(const Flat& a, const Flat& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.rgb.size(); ++i) sum += (a.rgb[i] - b.rgb[i]) * (a.rgb[i] - b.rgb[i]);
  return std::sqrt(sum / static_cast<double>(a.rgb.size()));
}

// Opaque corpus files of every kind a thumbnail meets: PSB, CMYK, grey with a
// profile, 16 and 32 bits, and layers rebuilt where the merged image is a placeholder.
const char* const kThumbnailFiles[] = {
    "ag_psb.psb",        "papi_CMYK_8.psb",      "js_example-greyscale.psd",     "js_example16.psd",
    "oiio_psd_rgb_32.psd", "pt_rgb-blend-modes.psd", "oiio_psd_123_nomaxcompat.psd", "ag_gradient-overlay.psd",
};

// The thumbnail is the picture a conversion gives, scaled: ImageMagick scales
// the converted bitmap to the thumbnail's size with the same filter.
TEST(Thumbnails, AreTheConversionScaledWithTheSameFilter) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  REQUIRE_TOOL("convert");
  for (const char* name : kThumbnailFiles) {
    test::TempDir dir;
    const std::string input = test::CorpusPath(std::string("psd/") + name);
    const std::string thumbnail = dir.File("thumbnail.png");
    const auto made = test::RunKestrel({"--thumbnail=128", "-i", input, "--thumbnail-out=" + thumbnail});
    ASSERT_EQ(made.exitCode, 0) << name << ": " << made.err;
    EXPECT_EQ(made.out + made.err, "") << name;
    const Flat ours = ReadFlat(thumbnail);
    ASSERT_EQ(std::max(ours.width, ours.height), 128u) << name;

    const auto converted = test::RunKestrel({"-q", "-i", input, "-o", dir.Path()});
    ASSERT_EQ(converted.exitCode, 0) << name << ": " << converted.err;
    const std::string size = std::to_string(ours.width) + "x" + std::to_string(ours.height) + "!";
    const std::string full = dir.File(std::filesystem::path(name).stem().string() + ".bmp");
    const std::string scale = "convert " + Quoted(full) + " -filter Catrom -resize " + size + " " +
                              Quoted(dir.File("reference.png"));
    ASSERT_EQ(std::system(scale.c_str()), 0) << name;
    const double rmse = Rmse(ours, ReadFlat(dir.File("reference.png")));
    std::printf("%-32s %ux%u  RMSE %.2f\n", name, ours.width, ours.height, rmse);
    EXPECT_LT(rmse, 2.0) << name;
  }
}

TEST(Thumbnails, KeepTransparencyAndASmallPicturesSize) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  test::TempDir dir;
  // 300x200 with transparency: the thumbnail keeps it as PNG alpha.
  const std::string thumbnail = dir.File("t.png");
  ASSERT_EQ(test::RunKestrel({"--thumbnail=64", "-i", test::CorpusPath("psd/ag_grayscale-alpha.psd"),
                              "--thumbnail-out=" + thumbnail}).exitCode, 0);
  FIBITMAP* png = FreeImage_Load(FIF_PNG, thumbnail.c_str());
  ASSERT_NE(png, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(png), 64u);
  EXPECT_EQ(FreeImage_GetHeight(png), 43u);
  EXPECT_TRUE(FreeImage_IsTransparent(png));
  FreeImage_Unload(png);
  // A picture smaller than the size asked for is not blown up.
  ASSERT_EQ(test::RunKestrel({"--thumbnail=1024", "-i", test::CorpusPath("psd/ag_psb.psb"),
                              "--thumbnail-out=" + thumbnail}).exitCode, 0);
  const Flat kept = ReadFlat(thumbnail);
  EXPECT_EQ(kept.width, 413u);
  EXPECT_EQ(kept.height, 413u);
}

// A filter like the one GNOME puts its thumbnailers under: no new namespaces,
// no mounts, no chroot, no clone3, no keyrings or memory policy.
std::string WriteGnomeLikeFilter(const std::string& path) {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  if (filter == nullptr) return "seccomp_init failed";
  for (const int call : {SCMP_SYS(unshare), SCMP_SYS(setns), SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(chroot),
                         SCMP_SYS(pivot_root), SCMP_SYS(clone3), SCMP_SYS(syslog), SCMP_SYS(uselib), SCMP_SYS(acct),
                         SCMP_SYS(modify_ldt), SCMP_SYS(quotactl), SCMP_SYS(add_key), SCMP_SYS(keyctl),
                         SCMP_SYS(request_key), SCMP_SYS(move_pages), SCMP_SYS(mbind), SCMP_SYS(get_mempolicy),
                         SCMP_SYS(set_mempolicy), SCMP_SYS(migrate_pages)}) {
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0);
  }
  for (const scmp_datum_t flag : {CLONE_NEWNS, CLONE_NEWUSER, CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWUTS, CLONE_NEWIPC,
                                  CLONE_NEWCGROUP}) {
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag));
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const bool written = fd >= 0 && seccomp_export_bpf(filter, fd) == 0;
  if (fd >= 0) ::close(fd);
  seccomp_release(filter);
  return written ? "" : "the filter could not be written";
}

// The thumbnailer entry's command, run as GNOME runs it: under bubblewrap
// with read-only /usr, the input bound into an otherwise empty /tmp, no home,
// no network, and the filter above. The program is bound where /usr would hold it.
TEST(Thumbnails, AreMadeInsideGnomesSandbox) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  REQUIRE_TOOL("bwrap");
  test::TempDir scratch;
  const std::string filter = scratch.File("filter.bpf");
  ASSERT_EQ(WriteGnomeLikeFilter(filter), "");
  const std::string entry = test::ReadText(test::SourcePath("docs/desktop/kestrel.thumbnailer"));
  const auto exec = entry.find("\nExec=");
  ASSERT_NE(exec, std::string::npos);
  std::string command = entry.substr(exec + 6, entry.find('\n', exec + 1) - exec - 6);
  const auto replace = [&command](const std::string& from, const std::string& to) {
    command.replace(command.find(from), from.size(), to);
  };
  replace("kestrel", "/opt/kestrel/kestrel");
  replace("%s", "128");
  replace("%i", "/tmp/gnome-desktop-file-to-thumbnail.psd");
  replace("%o", "/tmp/gnome-desktop-thumbnailer.png");

  struct Case {
    const char* file;
    bool readable;
  };
  for (const Case& c : {Case{"psd/ag_psb.psb", true}, Case{"psd/js_example16.psd", true},
                        Case{"psd/oiio_psd_123_nomaxcompat.psd", true},
                        Case{"malformed/asan05_depth65535_cmyk_raw.psd", false}}) {
    const std::string input = test::CorpusPath(c.file);
    test::TempDir tmp;
    const std::string sandbox =
        "bwrap --ro-bind /usr /usr --ro-bind /etc/ld.so.cache /etc/ld.so.cache --symlink usr/lib /lib "
        "--symlink usr/lib64 /lib64 --symlink usr/bin /bin --symlink usr/sbin /sbin --proc /proc --dev /dev "
        "--chdir / --setenv GIO_USE_VFS local --unshare-all --die-with-parent --unsetenv HOME "
        "--unsetenv XDG_RUNTIME_DIR --unsetenv XDG_CONFIG_HOME --bind " + Quoted(tmp.Path()) + " /tmp "
        "--ro-bind " + Quoted(input) + " /tmp/gnome-desktop-file-to-thumbnail.psd "
        "--ro-bind " + Quoted(std::filesystem::path(KESTREL_BINARY).parent_path().string()) + " /opt/kestrel "
        "--seccomp 9 9<" + Quoted(filter) + " " + command + " 2>" + Quoted(scratch.File("err"));
    const int status = std::system(sandbox.c_str());
    const std::string png = tmp.File("gnome-desktop-thumbnailer.png");
    std::vector<std::string> left;
    for (const auto& file : std::filesystem::directory_iterator(tmp.Path())) left.push_back(file.path().filename());
    if (c.readable) {
      EXPECT_EQ(status, 0) << c.file << ": " << test::ReadText(scratch.File("err"));
      EXPECT_EQ(std::max(ReadFlat(png).width, ReadFlat(png).height), 128u) << c.file;
      EXPECT_EQ(left.size(), 2u) << c.file << ": only the input and the thumbnail";
    } else {
      EXPECT_NE(status, 0) << c.file;
      EXPECT_EQ(left, std::vector<std::string>{"gnome-desktop-file-to-thumbnail.psd"}) << c.file;
    }
  }
}

// Installed into a prefix, the MIME package makes a PSB file a type of its own,
// a kind of Photoshop image, for the desktop's own tools.
TEST(Desktop, TheInstalledFilesAreWhereTheDesktopLooks) {
  REQUIRE_TOOL("update-mime-database");
  REQUIRE_TOOL("xdg-mime");
  REQUIRE_TOOL("mimetype");
  test::TempDir prefix, work;
  ASSERT_EQ(std::system(("cmake --install " + Quoted(KESTREL_BUILD_DIR) + " --prefix " + Quoted(prefix.Path()) +
                         " >/dev/null 2>&1").c_str()), 0);
  for (const char* file : {"share/thumbnailers/kestrel.thumbnailer", "share/mime/packages/kestrel-psb.xml",
                           "share/kio/servicemenus/kestrel-convert.desktop",
                           "share/kestrel/nautilus-scripts/Convert to BMP", "share/applications/kestrel.desktop"}) {
    EXPECT_TRUE(std::filesystem::exists(prefix.File(file))) << file;
  }
  ASSERT_EQ(std::system(("update-mime-database " + Quoted(prefix.File("share/mime")) + " >/dev/null 2>&1").c_str()), 0);
  // A PSB under any name is known by its signature; a PSD stays a PSD.
  const std::string psb = work.File("big document.psb"), psd = work.File("small.psd");
  std::filesystem::copy_file(test::CorpusPath("psd/ag_psb.psb"), psb);
  test::MakePsd(work.Path(), "small.psd", "rgb8", 4, 4);
  const std::string environment = "XDG_DATA_DIRS=" + Quoted(prefix.File("share") + ":/usr/share") +
                                  " XDG_DATA_HOME=" + Quoted(work.File("none")) + " XDG_CURRENT_DESKTOP= ";
  EXPECT_EQ(test::CommandOutput(environment + "xdg-mime query filetype " + Quoted(psb)), "image/x-photoshop-large\n");
  EXPECT_EQ(test::CommandOutput(environment + "xdg-mime query filetype " + Quoted(psd)), "image/vnd.adobe.photoshop\n");
}

}  // namespace
}  // namespace kestrel
