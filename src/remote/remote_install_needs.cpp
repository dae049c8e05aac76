#include "remote/remote_install_needs.h"

#include <cstdint>
#include <cstring>

namespace tovami::remote::install {
namespace {

constexpr uint32_t kVersionNeeds = 0x6ffffffe;  // SHT_GNU_verneed
constexpr int kMaxSections = 4096, kMaxNeeds = 256, kMaxAux = 256;

// Little-endian fields at offsets the file gave: every read is checked against its size.
struct Reader {
  std::string_view bytes;
  bool ok = true;
  template <typename T>
  T at(uint64_t offset) {
    T value{};
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
      ok = false;
      return value;
    }
    std::memcpy(&value, bytes.data() + offset, sizeof(T));  // the hosts Tovami builds for are little-endian
    return value;
  }
};

}  // namespace

std::optional<GlibcVersion> newestGlibcNeeded(std::string_view elf) {
  if (elf.size() < 64 || elf.substr(0, 4) != "\x7f" "ELF" || elf[4] != 2 || elf[5] != 1) return std::nullopt;
  Reader r{elf};
  const auto sectionsAt = r.at<uint64_t>(0x28);
  const auto sectionSize = r.at<uint16_t>(0x3a);
  const auto sections = r.at<uint16_t>(0x3c);
  if (!r.ok || sectionSize < 64 || sections > kMaxSections || sectionsAt > elf.size() ||
      (elf.size() - sectionsAt) / sectionSize < sections)
    return std::nullopt;
  GlibcVersion newest;
  for (uint64_t i = 0; i < sections; ++i) {
    const uint64_t header = sectionsAt + i * sectionSize;
    if (r.at<uint32_t>(header + 4) != kVersionNeeds) continue;
    const auto offset = r.at<uint64_t>(header + 0x18);
    const auto size = r.at<uint64_t>(header + 0x20);
    const auto stringsIndex = r.at<uint32_t>(header + 0x28);
    const auto count = r.at<uint32_t>(header + 0x2c);
    if (!r.ok || stringsIndex >= sections || count > kMaxNeeds || offset > elf.size() || size > elf.size() - offset)
      return std::nullopt;
    const uint64_t stringsHeader = sectionsAt + stringsIndex * sectionSize;
    const auto stringsAt = r.at<uint64_t>(stringsHeader + 0x18);
    const auto stringsSize = r.at<uint64_t>(stringsHeader + 0x20);
    if (!r.ok || stringsAt > elf.size() || stringsSize > elf.size() - stringsAt) return std::nullopt;
    const std::string_view strings = elf.substr(stringsAt, stringsSize);
    const std::string_view needs = elf.substr(offset, size);
    Reader n{needs};
    uint64_t need = 0;
    for (uint32_t k = 0; k < count; ++k) {
      const auto aux = n.at<uint16_t>(need + 2);
      uint64_t entry = need + n.at<uint32_t>(need + 8);
      if (!n.ok || aux > kMaxAux) return std::nullopt;
      for (uint16_t a = 0; a < aux; ++a) {
        const auto name = n.at<uint32_t>(entry + 8);
        if (!n.ok || name >= strings.size()) return std::nullopt;
        const std::string_view text = strings.substr(name, strings.find('\0', name) - name);
        if (const auto version = glibcVersionNeed(text); version && *version > newest) newest = *version;
        const auto next = n.at<uint32_t>(entry + 12);
        if (next == 0) break;
        entry += next;
      }
      const auto next = n.at<uint32_t>(need + 12);
      if (!n.ok) return std::nullopt;
      if (next == 0) break;
      need += next;
    }
  }
  return newest;
}

}  // namespace tovami::remote::install
