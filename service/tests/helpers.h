// Small fixtures shared by the service's tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace nimbrel::service::testing {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TTempDir {
 public:
  TTempDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "nimbrel-service-XXXXXX").string();
    FPath = ::mkdtemp(Pattern.data());
  }
  ~TTempDir() {
    std::error_code Ignored;
    std::filesystem::remove_all(FPath, Ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

// A report body in the program's own shape: "[" + Objects joined by "," + "]".
inline std::string ReportBody(const std::vector<std::string>& Objects) {
  std::string Body = "[";
  for (size_t I = 0; I < Objects.size(); ++I) Body += (I ? "," : "") + Objects[I];
  return Body + "]";
}

inline const std::string MemoryObject = R"({"cate":"memory","old":"1073741824","new":"2147483648","tot":"8589934592"})";

}  // namespace nimbrel::service::testing
