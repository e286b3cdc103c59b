// Lists a ZIP archive and extracts it, with a progress line and a password
// prompt: the engine used from another project (see examples/CMakeLists.txt).
//   unzip_example ARCHIVE DESTINATION
#include <cstdio>
#include <iostream>
#include <string>

#include "unzip/UnZip.h"
#include "zip/Exception.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: unzip_example ARCHIVE DESTINATION\n";
    return 2;
  }
  quv::TUnZip zip;
  zip.SetDoProcessMessages(false);  // no window messages to pump in a console program
  zip.SetZipName(argv[1]);
  try {
    zip.LoadDirectory();
    for (std::int32_t i = 0; i < zip.Count(); ++i) {
      const quv::TZipHeaderInfo& entry = zip.Entry(i);
      std::printf("%12lld  %s\n", static_cast<long long>(entry.UncompressedSize), entry.StoredPath().c_str());
    }

    zip.SetDestDir(argv[2]);
    zip.SetRecreateDirs(true);
    zip.SetOverwriteMode(quv::Always);
    zip.SetDoAll(true);
    zip.OnTotalPercentDone = [](quv::TObject*, std::int32_t percent) {
      std::fprintf(stderr, "\r%3d%%", static_cast<int>(percent));
    };
    // Asked again for as long as the answer changes; an unchanged answer
    // skips the entry.
    zip.OnBadPassword = [&zip](quv::TObject*, std::int32_t index, std::string& password) {
      std::cerr << "\npassword for " << zip.Entry(index).StoredPath() << ": ";
      std::getline(std::cin, password);
    };
    int failed = 0;
    zip.OnBadCRC = [&failed](quv::TObject*, std::int32_t, std::int32_t, std::int32_t) { ++failed; };
    zip.OnSkippingFile = [&failed](quv::TObject*, quv::TSkipReason, const std::string& name, std::int32_t, bool&) {
      std::cerr << "\nskipped " << name << '\n';
      ++failed;
    };
    const std::int32_t extracted = zip.UnZipFiles();
    std::fprintf(stderr, "\n");
    std::printf("extracted %d of %d\n", static_cast<int>(extracted), static_cast<int>(zip.Count()));
    return failed == 0 ? 0 : 1;
  } catch (const quv::Exception& e) {  // every failure of the engine
    std::cerr << argv[1] << ": " << e.Message() << '\n';
    return 2;
  }
}
