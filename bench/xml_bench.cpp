// XmlObject::Load and Save on the libxml2 adapter against libxml2's own parse
// into its tree (xmlReadFile) and its own save of that tree (xmlSaveFileEnc,
// UTF-16), on generated documents of three shapes (many small elements with
// attributes, long texts, deep nesting) at about 1, 10 and 100 MB. The memory
// benchmarks load (or load and save) each document in a child process and
// report its peak resident memory during Load against the resident memory of
// the finished tree, and the memory that Save adds above the loaded tree.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "port/linux/xml_dom.h"
#include "port/platform.h"
#include "utils/xml.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

namespace fs = std::filesystem;

const char* const kShapes[] = {"small", "text", "deep"};
const size_t kSizes[] = {1u << 20, 10u << 20, 100u << 20};

fs::path folder() {
  static const fs::path path = [] {
    fs::path p = fs::temp_directory_path() / ("xml_bench_" + std::to_string(::getpid()));
    fs::create_directories(p);
    return p;
  }();
  return path;
}

std::string documentName(int shape, size_t size) {
  return std::string(kShapes[shape]) + "_" + std::to_string(size >> 20) + "mb.xml";
}

void generate(int shape, size_t size, const fs::path& path) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n";
  size_t written = 0;
  unsigned n = 0;
  std::string piece;
  while (written < size) {
    piece.clear();
    if (shape == 0) {
      piece = "  <item id=\"" + std::to_string(n) + "\" name=\"name" + std::to_string(n) + "\" kind=\"k" +
              std::to_string(n % 7) + "\" flag=\"true\"><v>" + std::to_string(n * 3) + "</v></item>\n";
    } else if (shape == 1) {
      piece = "  <para n=\"" + std::to_string(n) + "\">";
      while (piece.size() < 8192) piece += "Lorem ipsum dolor sit amet, consectetur &amp; adipiscing elit. ";
      piece += "</para>\n";
    } else {
      // Chains 200 levels deep (libxml2's own parse refuses more than 256).
      for (int level = 0; level < 200; ++level) piece += "<d l=\"" + std::to_string(level) + "\">t";
      for (int level = 0; level < 200; ++level) piece += "</d>";
      piece += '\n';
    }
    out << piece;
    written += piece.size();
    ++n;
  }
  out << "</root>\n";
}

std::string document(int shape, size_t size) {
  const fs::path path = folder() / documentName(shape, size);
  if (!fs::exists(path)) generate(shape, size, path);
  return path.string();
}

void installAdapter() {
  static utils::linuxport::LibxmlDom dom;
  utils::port::Platform record;
  record.xmlDom = &dom;
  utils::port::installPlatform(record);
}

void BM_Load(benchmark::State& state) {
  installAdapter();
  const std::string path = document(static_cast<int>(state.range(0)), kSizes[state.range(1)]);
  const std::wstring wide(path.begin(), path.end());
  for (auto _ : state) {
    XmlObject* root = nullptr;
    if (XmlObject::Load(wide.c_str(), &root, L"") != OBJECT_ERROR_NONE) state.SkipWithError("Load failed");
    state.PauseTiming();
    delete root;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(path)));
}

void BM_LibxmlReadFile(benchmark::State& state) {
  const std::string path = document(static_cast<int>(state.range(0)), kSizes[state.range(1)]);
  for (auto _ : state) {
    xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) state.SkipWithError("xmlReadFile failed");
    state.PauseTiming();
    xmlFreeDoc(doc);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(path)));
}

void BM_Save(benchmark::State& state) {
  installAdapter();
  const std::string path = document(static_cast<int>(state.range(0)), kSizes[state.range(1)]);
  const std::wstring wide(path.begin(), path.end());
  XmlObject* root = nullptr;
  if (XmlObject::Load(wide.c_str(), &root, L"") != OBJECT_ERROR_NONE) {
    state.SkipWithError("Load failed");
    return;
  }
  const std::wstring target = (folder() / "saved.xml").wstring();
  for (auto _ : state) root->Save(target.c_str());
  delete root;
}

void BM_LibxmlSave(benchmark::State& state) {
  const std::string path = document(static_cast<int>(state.range(0)), kSizes[state.range(1)]);
  xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  const std::string target = (folder() / "saved_libxml2.xml").string();
  for (auto _ : state) {
    if (xmlSaveFileEnc(target.c_str(), doc, "UTF-16") < 0) state.SkipWithError("xmlSaveFileEnc failed");
  }
  xmlFreeDoc(doc);
}

// The durable-save comparison: Save against libxml2's save of its own tree
// followed by an fsync of the file, so both leave the content on disk. Wall
// time, median of 5, on 20 MB documents of each shape.
constexpr size_t kDurableSize = 20u << 20;

void BM_SaveDurable(benchmark::State& state) {
  installAdapter();
  const std::string path = document(static_cast<int>(state.range(0)), kDurableSize);
  const std::wstring wide(path.begin(), path.end());
  XmlObject* root = nullptr;
  if (XmlObject::Load(wide.c_str(), &root, L"") != OBJECT_ERROR_NONE) {
    state.SkipWithError("Load failed");
    return;
  }
  const std::wstring target = (folder() / "saved_durable.xml").wstring();
  for (auto _ : state) {
    if (root->Save(target.c_str()) != 1) state.SkipWithError("Save failed");
  }
  delete root;
}

void BM_LibxmlSaveDurable(benchmark::State& state) {
  const std::string path = document(static_cast<int>(state.range(0)), kDurableSize);
  xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  const std::string target = (folder() / "saved_durable_libxml2.xml").string();
  for (auto _ : state) {
    if (xmlSaveFileEnc(target.c_str(), doc, "UTF-16") < 0) state.SkipWithError("xmlSaveFileEnc failed");
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) state.SkipWithError("fsync failed");
    if (fd >= 0) ::close(fd);
  }
  xmlFreeDoc(doc);
}

void durableShapes(benchmark::internal::Benchmark* b) {
  for (int shape = 0; shape < 3; ++shape) b->Args({shape});
  b->ArgNames({"shape"})->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
}

long statusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}

// Resident memory of this (fresh) process before, at its peak during, and after
// loading path: the numbers that BM_LoadMemory reads from a child. useLibxml:
// libxml2's xmlReadFile instead of Load, for comparison.
int measureLoad(const std::string& path, bool useLibxml) {
  const long before = statusKilobytes("VmRSS:");
  long after = -1;
  if (useLibxml) {
    xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc != nullptr) after = statusKilobytes("VmRSS:");
  } else {
    installAdapter();
    const std::wstring wide(path.begin(), path.end());
    XmlObject* root = nullptr;
    if (XmlObject::Load(wide.c_str(), &root, L"") == OBJECT_ERROR_NONE) after = statusKilobytes("VmRSS:");
  }
  std::printf("%ld %ld\n", statusKilobytes("VmHWM:") - before, after < 0 ? -1 : after - before);
  return after < 0 ? 1 : 0;
}

// Resident memory that saving path's tree adds at its peak, above the loaded
// tree: Save on the tree from Load, or libxml2's own save of its own tree.
int measureSave(const std::string& path, bool useLibxml) {
  const fs::path target = fs::path(path).parent_path() / ("measure_save_" + std::to_string(::getpid()) + ".xml");
  long before = -1;
  auto resetPeak = [&before] {
    // Writing 5 sets the peak resident size back to the current one.
    std::ofstream("/proc/self/clear_refs") << "5";
    before = statusKilobytes("VmRSS:");
  };
  bool saved = false;
  if (useLibxml) {
    xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc != nullptr) {
      resetPeak();
      saved = xmlSaveFileEnc(target.c_str(), doc, "UTF-16") >= 0;
    }
  } else {
    installAdapter();
    const std::wstring wide(path.begin(), path.end());
    XmlObject* root = nullptr;
    if (XmlObject::Load(wide.c_str(), &root, L"") == OBJECT_ERROR_NONE) {
      resetPeak();
      saved = root->Save(target.wstring().c_str()) == 1 && fs::file_size(target) > 1000;
    }
  }
  std::error_code ignored;
  fs::remove(target, ignored);
  std::printf("%ld %ld\n", statusKilobytes("VmHWM:") - before, before);
  return saved ? 0 : 1;
}

// Runs this program again as a fresh process to measure one load or save.
bool measureInChild(const char* what, const std::string& path, bool useLibxml, long* first, long* second) {
  const std::string command =
      "/proc/" + std::to_string(::getpid()) + "/exe " + what + " " + (useLibxml ? "libxml2 " : "load ") + path;
  FILE* child = ::popen(command.c_str(), "r");
  if (child == nullptr) return false;
  const bool read = std::fscanf(child, "%ld %ld", first, second) == 2;
  return ::pclose(child) == 0 && read && *second > 0;
}

void BM_LoadMemory(benchmark::State& state) {
  const std::string path = document(static_cast<int>(state.range(0)), kSizes[state.range(1)]);
  long peak = 0, tree = 0, libxmlPeak = 0, libxmlTree = 0;
  for (auto _ : state) {
    if (!measureInChild("--measure-load", path, false, &peak, &tree) ||
        !measureInChild("--measure-load", path, true, &libxmlPeak, &libxmlTree)) {
      state.SkipWithError("measurement failed");
    }
  }
  state.counters["load_peak_MB"] = peak / 1024.0;
  state.counters["tree_MB"] = tree / 1024.0;
  state.counters["peak_over_tree"] = tree > 0 ? static_cast<double>(peak) / tree : 0;
  state.counters["libxml2_tree_MB"] = libxmlTree / 1024.0;
  state.counters["libxml2_peak_MB"] = libxmlPeak / 1024.0;
}

void BM_SaveMemory(benchmark::State& state) {
  const std::string path = document(static_cast<int>(state.range(0)), kSizes[state.range(1)]);
  long added = 0, tree = 0, libxmlAdded = 0, libxmlTree = 0;
  for (auto _ : state) {
    if (!measureInChild("--measure-save", path, false, &added, &tree) ||
        !measureInChild("--measure-save", path, true, &libxmlAdded, &libxmlTree)) {
      state.SkipWithError("measurement failed");
    }
  }
  state.counters["save_added_MB"] = added / 1024.0;
  state.counters["loaded_MB"] = tree / 1024.0;
  state.counters["libxml2_save_added_MB"] = libxmlAdded / 1024.0;
  state.counters["libxml2_loaded_MB"] = libxmlTree / 1024.0;
}

void shapesAndSizes(benchmark::internal::Benchmark* b) {
  for (int shape = 0; shape < 3; ++shape) {
    for (int size = 0; size < 3; ++size) {
      b->Args({shape, size});
    }
  }
  b->ArgNames({"shape", "size"})->Unit(benchmark::kMillisecond);
}

}  // namespace

// Iterations fixed per size so the 100 MB documents do not take minutes.
#define XML_TIMED(fn) BENCHMARK(fn)->Apply([](benchmark::internal::Benchmark* b) { shapesAndSizes(b); })->Iterations(3)
XML_TIMED(BM_LibxmlReadFile);
XML_TIMED(BM_Load);
XML_TIMED(BM_LibxmlSave);
XML_TIMED(BM_Save);
BENCHMARK(BM_LibxmlSaveDurable)->Apply(durableShapes);
BENCHMARK(BM_SaveDurable)->Apply(durableShapes);
BENCHMARK(BM_LoadMemory)->Apply([](benchmark::internal::Benchmark* b) { shapesAndSizes(b); })->Iterations(1);
BENCHMARK(BM_SaveMemory)->Apply([](benchmark::internal::Benchmark* b) { shapesAndSizes(b); })->Iterations(1);

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--measure-load") == 0) {
    return measureLoad(argv[3], std::strcmp(argv[2], "libxml2") == 0);
  }
  if (argc == 4 && std::strcmp(argv[1], "--measure-save") == 0) {
    return measureSave(argv[3], std::strcmp(argv[2], "libxml2") == 0);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(folder(), ignored);
  return 0;
}
