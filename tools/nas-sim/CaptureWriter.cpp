#include "CaptureWriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace nassim {

std::string CaptureFileName(std::uint16_t port, unsigned number) {
  char name[32];
  std::snprintf(name, sizeof name, "%u-%04u.bin", static_cast<unsigned>(port), number);
  return name;
}

CaptureWriter::CaptureWriter(std::string directory) : directory_(std::move(directory)) {
  std::filesystem::create_directories(directory_);
}

std::string CaptureWriter::Write(std::uint16_t port, const void* data, std::size_t length) {
  const std::filesystem::path directory(directory_);
  const std::string name = CaptureFileName(port, ++count_);
  const std::filesystem::path hidden = directory / ("." + name + ".part");
  const std::filesystem::path path = directory / name;
  {
    std::ofstream file(hidden, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(length));
    file.close();
    if (!file) {
      throw std::system_error(std::make_error_code(std::errc::io_error),
                              "cannot write " + hidden.string());
    }
  }
  std::filesystem::rename(hidden, path);
  return path.string();
}

}  // namespace nassim
