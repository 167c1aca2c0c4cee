// Batch runs from outside: folders and lists, the output tree, the report in
// input order, and outputs byte-identical to single-file runs.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "tests/support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::RunKestrel;
using Lines = std::vector<std::string>;

// A small nested tree: good files in several folders and letter cases, two
// damaged ones, a hidden folder and file, a symbolic link loop and a text file.
struct Tree {
  test::TempDir dir;
  std::string root = dir.File("in");
  // The files a folder run takes, in its order, with their subfolders.
  Lines good = {"a.psd", "sub/B.PSD", "sub/deep/c.psd", "sub/deep/d.psd", "z/e.Psd"};
  Lines damaged = {"sub/broken.psd", "z/junk.psd"};

  Tree() {
    for (const char* folder : {"in/sub/deep", "in/z", "in/.hidden", "out", "ref"}) fs::create_directories(dir.File(folder));
    const char* kinds[] = {"rgb8", "grey8", "rgba8", "indexed8", "rgb16"};
    for (std::size_t i = 0; i < good.size(); ++i) {
      test::MakePsd(root, good[i], kinds[i], 7 + static_cast<int>(i), 5);
    }
    const std::string whole = test::ReadText(test::MakePsd(dir.Path(), "whole.psd", "rgb8", 40, 30));
    test::WriteText(root + "/sub/broken.psd", whole.substr(0, 60));
    test::WriteText(root + "/z/junk.psd", "this is no picture at all");
    test::MakePsd(root, ".hidden/h.psd", "rgb8", 4, 4);
    test::MakePsd(root, "sub/.h.psd", "rgb8", 4, 4);
    test::WriteText(root + "/notes.txt", "not an input");
    fs::create_directory_symlink("..", root + "/sub/loop");
  }
  // The output of a single-file run of one input, as bytes.
  std::string SingleRun(const std::string& relative, const Lines& options = {}) {
    const std::string out = dir.File("ref/" + std::to_string(++runs));
    fs::create_directories(out);
    Lines args = {"-q", "-i", root + "/" + relative, "-o", out};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(RunKestrel(args).exitCode, 0) << relative;
    const auto name = fs::path(relative).stem().string() + ".bmp";
    return test::ReadText(out + "/" + name);
  }
  int runs = 0;
};

std::string BmpOf(const std::string& relative) { return (fs::path(relative).replace_extension(".bmp")).string(); }

TEST(Batch, FolderTreeIsMirroredAndEveryOutputMatchesASingleRun) {
  Tree tree;
  for (const char* jobs : {"--jobs=1", "--jobs=3"}) {
    fs::remove_all(tree.dir.File("out"));
    fs::create_directories(tree.dir.File("out"));
    const auto result = RunKestrel({"--input-folder=" + tree.root, "-o", tree.dir.File("out"), jobs});
    EXPECT_EQ(result.exitCode, 1) << jobs;
    EXPECT_TRUE(result.HasLine("Import complete, new files added: 7")) << result.out;
    EXPECT_TRUE(result.HasLine("Files converted: 5 of 7")) << result.out;
    // The failures come in input order, named with their reasons.
    const auto brokenAt = result.err.find("kestrel: " + tree.root + "/sub/broken.psd: ");
    const auto junkAt = result.err.find("kestrel: " + tree.root + "/z/junk.psd: ");
    EXPECT_NE(brokenAt, std::string::npos) << result.err;
    EXPECT_NE(junkAt, std::string::npos) << result.err;
    EXPECT_LT(brokenAt, junkAt);
    for (const auto& relative : tree.good) {
      const std::string made = tree.dir.File("out/" + BmpOf(relative));
      ASSERT_TRUE(fs::exists(made)) << made;
      EXPECT_EQ(test::ReadText(made), tree.SingleRun(relative)) << relative;
    }
    // Nothing from the hidden entries, through the loop or for the damaged files.
    std::size_t outputs = 0;
    for (const auto& entry : fs::recursive_directory_iterator(tree.dir.File("out"))) outputs += entry.is_regular_file();
    EXPECT_EQ(outputs, tree.good.size()) << jobs;
  }
}

// The processes whose parent is `parent`.
// A worker of the run, or the zygote that forks its decoders, that dies in
// the middle of a file (killed while a decoder runs) takes no file down with
// it: the worker's files are converted again, the zygote's file is decoded
// again by a new one.
TEST(Batch, FilesOfAWorkerOrZygoteThatDiesAreConvertedAgain) {
  for (const bool killZygote : {false, true}) {
    SCOPED_TRACE(killZygote ? "zygote killed" : "worker killed");
    test::TempDir dir;
    const std::string root = dir.File("in");
    for (const char* folder : {"in", "out", "ref"}) fs::create_directories(dir.File(folder));
    const std::string first = test::MakePsd(root, "f0.psd", "rgb8", 1500, 1200);
    constexpr int kFiles = 8;
    for (int i = 1; i < kFiles; ++i) fs::copy_file(first, root + "/f" + std::to_string(i) + ".psd");
    bool killed = false;
    test::RunOptions options;
    // run -> worker -> zygote -> decoder
    options.started = [&](pid_t run) {
      // Watched for as long as the run lasts: a decoder lives a few milliseconds.
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      const auto running = [run] {
        const char state = test::FactsOf(run).state;
        return state != 'Z' && state != '\0';
      };
      while (!killed && running() && std::chrono::steady_clock::now() < until) {
        for (const pid_t worker : test::ChildrenOf(run)) {
          for (const pid_t zygote : test::ChildrenOf(worker)) {
            if (!test::ChildrenOf(zygote).empty()) killed = ::kill(killZygote ? zygote : worker, SIGKILL) == 0;
            if (killed) break;
          }
          if (killed) break;
        }
        if (!killed) std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    };
    const auto result = RunKestrel({"--input-folder=" + root, "-o", dir.File("out"), "--jobs=2"}, options);
    ASSERT_TRUE(killed) << "no decoder was caught running";
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.HasLine("Files converted: 8 of 8")) << result.out << result.err;
    ASSERT_EQ(RunKestrel({"-q", "-i", first, "-o", dir.File("ref")}).exitCode, 0);
    const std::string expected = test::ReadText(dir.File("ref/f0.bmp"));
    for (int i = 0; i < kFiles; ++i) {
      EXPECT_EQ(test::ReadText(dir.File("out/f" + std::to_string(i) + ".bmp")), expected) << i;
    }
  }
}

// Two workers write standard error at once: the notes of files rebuilt from
// their layers come from the workers, the failures from the run. Each line
// is whole and names one file, even a file whose name holds a line end.
TEST(Batch, EveryErrorLineOfTwoWorkersIsOneWholeLineNamingOneFile) {
  test::TempDir dir;
  const std::string root = dir.File("in");
  for (const char* folder : {"in", "out"}) fs::create_directories(dir.File(folder));
  const std::string rebuilt = test::MakePsd(dir.Path(), "rebuilt.psd", "rgb8-rebuilt", 6, 4);
  // Each name with how the line must show it; the shell-escape form is what GNU ls prints.
  std::map<std::string, std::string> shown;
  for (int i = 0; i < 200; ++i) {
    const std::string name = "rebuilt" + std::to_string(i) + ".psd";
    fs::copy_file(rebuilt, root + "/" + name);
    shown[name] = root + "/" + name;
  }
  for (int i = 0; i < 60; ++i) {
    const std::string name = "junk" + std::to_string(i) + ".psd";
    test::WriteText(root + "/" + name, "no picture here");
    shown[name] = root + "/" + name;
  }
  fs::copy_file(rebuilt, root + "/new\nline.psd");
  shown["new\nline.psd"] = (root + "/new'$'\\n''line.psd'").insert(0, 1, '\'');
  test::WriteText(root + "/bad\n\x1b[2Kname.psd", "no picture here");
  shown["bad\n\x1b[2Kname.psd"] = (root + "/bad'$'\\n\\033''[2Kname.psd'").insert(0, 1, '\'');

  const auto result = RunKestrel({"-q", "--input-folder=" + root, "-o", dir.File("out"), "--jobs=2"});
  EXPECT_EQ(result.exitCode, 1);
  ASSERT_FALSE(result.err.empty());
  ASSERT_EQ(result.err.back(), '\n');
  std::map<std::string, int> linesOf;
  std::size_t start = 0;
  for (std::size_t end; (end = result.err.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = result.err.substr(start, end - start);
    EXPECT_EQ(line.rfind("kestrel: ", 0), 0u) << "not a whole line: " << line;
    EXPECT_EQ(line.find("kestrel: ", 1), std::string::npos) << "two lines run together: " << line;
    int named = 0;
    for (const auto& [name, form] : shown) {
      if (line.rfind("kestrel: " + form + ": ", 0) == 0) {
        ++named;
        ++linesOf[name];
      }
    }
    EXPECT_EQ(named, 1) << line;
  }
  for (const auto& [name, form] : shown) EXPECT_EQ(linesOf[name], 1) << form;
}

TEST(Batch, DebugTraceAndNumbersFollowTheInputOrder) {
  Tree tree;
  const auto result = RunKestrel({"--input-folder=" + tree.root, "-o", tree.dir.File("out"), "--jobs=4", "-d",
                                  "--no-subfolders", "--filename-mask=%n%_%filename%.%ext%"});
  Lines processed;
  for (const auto& line : result.Lines()) {
    if (line.starts_with("Processing: ")) processed.push_back(line.substr(12 + tree.root.size() + 1));
  }
  const Lines order = {"a.psd", "sub/B.PSD", "sub/broken.psd", "sub/deep/c.psd", "sub/deep/d.psd", "z/e.Psd",
                       "z/junk.psd"};
  EXPECT_EQ(processed, order);
  // %n% is the position in the input, whatever finished first.
  for (const auto& [number, name] : {std::pair{"00001", "a"}, {"00002", "B"}, {"00004", "c"}, {"00006", "e"}}) {
    EXPECT_TRUE(fs::exists(tree.dir.File("out/" + std::string(number) + "_" + name + ".bmp"))) << name;
  }
  EXPECT_TRUE(result.HasLine("[OK] Saving As: " + tree.dir.File("out/00001_a.bmp"))) << result.out;
}

TEST(Batch, FlatOutputRefusesASecondInputWithTheSameName) {
  test::TempDir dir;
  fs::create_directories(dir.File("in/y"));
  fs::create_directories(dir.File("out"));
  const std::string first = test::MakePsd(dir.File("in"), "x.psd", "rgb8", 6, 4);
  const std::string second = test::MakePsd(dir.File("in/y"), "x.psd", "grey8", 3, 3);
  const auto result = RunKestrel({"-q", "--input-folder=" + dir.File("in"), "-o", dir.File("out"), "--no-subfolders"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("kestrel: " + second + ": its output " + dir.File("out/") + "x.bmp would replace"),
            std::string::npos)
      << result.err;
  // The first input's output stands as a single run makes it.
  const auto single = RunKestrel({"-q", "-i", first, "-o", dir.File("in")});
  ASSERT_EQ(single.exitCode, 0);
  EXPECT_EQ(test::ReadText(dir.File("out/x.bmp")), test::ReadText(dir.File("in/x.bmp")));
}

TEST(Batch, ListsFromFilesAndStandardInput) {
  Tree tree;
  const std::string a = tree.root + "/a.psd";
  const std::string c = tree.root + "/sub/deep/c.psd";
  test::WriteText(tree.dir.File("list.txt"), c + "\r\n\n" + a + "\n" + c + "\n");
  struct Case {
    Lines options;
    std::string input;
  };
  const Case cases[] = {
      {{"--input-list=" + tree.dir.File("list.txt")}, ""},
      {{"--input-list=-"}, c + "\n" + a + "\n"},
      {{"--input-list0=-"}, c + std::string(1, '\0') + a + std::string(1, '\0')},
  };
  for (const auto& [options, input] : cases) {
    fs::remove_all(tree.dir.File("out"));
    fs::create_directories(tree.dir.File("out"));
    Lines args = {"-d", "-o", tree.dir.File("out")};
    args.insert(args.end(), options.begin(), options.end());
    const auto result = RunKestrel(args, test::WithInput(input));
    EXPECT_EQ(result.exitCode, 0) << options[0] << result.err;
    EXPECT_TRUE(result.HasLine("Files converted: 2 of 2")) << options[0] << result.out;
    Lines processed;
    for (const auto& line : result.Lines()) {
      if (line.starts_with("Processing: ")) processed.push_back(line.substr(12));
    }
    EXPECT_EQ(processed, (Lines{c, a})) << options[0];
    EXPECT_EQ(test::ReadText(tree.dir.File("out/c.bmp")), tree.SingleRun("sub/deep/c.psd"));
  }
  // Without an output folder each listed file's output goes next to it.
  const auto beside = RunKestrel({"-q", "--input-list=-"}, test::WithInput(a + "\n"));
  EXPECT_EQ(beside.exitCode, 0);
  EXPECT_TRUE(fs::exists(tree.root + "/a.bmp"));
}

TEST(Batch, UpdateSkipsOutputsThatAreUpToDate) {
  Tree tree;
  const Lines args = {"--input-folder=" + tree.root + "/sub/deep", "-o", tree.dir.File("out"), "--update"};
  auto result = RunKestrel(args);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(result.HasLine("Files converted: 2 of 2")) << result.out;
  result = RunKestrel(args);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(result.HasLine("Files converted: 0 of 2")) << result.out;
  EXPECT_TRUE(result.HasLine("Files skipped (up to date): 2")) << result.out;
  // An input changed after its output was made is converted again.
  const auto later = fs::last_write_time(tree.dir.File("out/c.bmp")) + std::chrono::seconds(5);
  fs::last_write_time(tree.root + "/sub/deep/c.psd", later);
  result = RunKestrel(args);
  EXPECT_TRUE(result.HasLine("Files converted: 1 of 2")) << result.out;
  EXPECT_TRUE(result.HasLine("Files skipped (up to date): 1")) << result.out;
}

TEST(Batch, RefusalsAndEmptyInputs) {
  Tree tree;
  struct Case {
    Lines args;
    int exitCode;
    Lines lastLines;
  };
  const Case cases[] = {
      {{"-q", "--input-folder=" + tree.dir.File("missing")}, 1, {"Error: Invalid input folder"}},
      {{"-q", "--input-folder=" + tree.root + "/a.psd"}, 1, {"Error: Invalid input folder"}},
      {{"-q", "--input-list=" + tree.dir.File("missing.txt")}, 1, {"Error: Invalid input list"}},
      {{"-q", "--input-folder=" + tree.dir.File("ref"), "-o", tree.dir.File("out")},
       1,
       {"Conversion stopped", "No input file(s) found. Please, add valid file(s) and try again!"}},
      {{"--input-folder=" + tree.root, "--jobs=0"}, 2, {"Error: Invalid jobs value"}},
      {{"--input-folder=" + tree.root, "--jobs=x"}, 2, {"Error: Invalid jobs value"}},
      {{"--input-folder"}, 2, {"Error: Incorrect number of parameters"}},
  };
  for (const auto& [args, exitCode, lastLines] : cases) {
    const auto result = RunKestrel(args);
    EXPECT_EQ(result.exitCode, exitCode) << args[1];
    const Lines lines = result.Lines();
    ASSERT_GE(lines.size(), lastLines.size()) << args[1];
    EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(lastLines.size()), lines.end()), lastLines) << args[1];
  }
}

// The README's recipe for spreading a list over machines, with this machine
// as the only one: GNU parallel cuts the list and feeds each part to a kestrel.
TEST(Batch, GnuParallelRecipe) {
  if (test::CommandOutput("command -v parallel").empty()) KESTREL_CANNOT_RUN("GNU parallel is not installed");
  Tree tree;
  test::TempDir lock;
  const std::string command = "cd '" + tree.dir.Path() + "' && find in -name '*.psd' ! -path '*/.*' ! -name broken.psd ! -name junk.psd | sort | "
                              "XDG_RUNTIME_DIR='" + lock.Path() + "' parallel --will-cite --pipe -N 2 -j 1 -S : '" +
                              KESTREL_BINARY + "' -q --input-list=- -o '" + tree.dir.File("out") + "' ; echo status=$?";
  const std::string output = test::CommandOutput(command);
  EXPECT_NE(output.find("status=0"), std::string::npos) << output;
  for (const auto& relative : tree.good) {
    if (!relative.ends_with(".psd")) continue;  // the recipe's find takes the lower-case extension only
    const std::string name = fs::path(relative).stem().string() + ".bmp";
    EXPECT_EQ(test::ReadText(tree.dir.File("out/" + name)), tree.SingleRun(relative)) << relative;
  }
}

}  // namespace
}  // namespace kestrel
