// Writes the tray item's pixels, in both states and both sizes, as a C++ header: run when the
// program is built, so that a start copies the picture instead of drawing it.
#include <QImage>
#include <cstdio>
#include <string>

#include "linux/app/tray_icon_figure.h"

namespace {

using namespace tovami::linux_backend;

void writeArray(std::FILE* out, const char* name, const QImage& image) {
  const QImage pixels = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  std::fprintf(out, "inline constexpr uint32_t %s[%d * %d] = {", name, pixels.width(), pixels.height());
  for (int y = 0; y < pixels.height(); ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(pixels.constScanLine(y));
    std::fputs("\n   ", out);
    for (int x = 0; x < pixels.width(); ++x) std::fprintf(out, " 0x%08x,", row[x]);
  }
  std::fputs("\n};\n", out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: tray_icon_pixels <header to write>\n", stderr);
    return 2;
  }
  const std::string path = argv[1], partial = path + ".partial";
  std::FILE* out = std::fopen(partial.c_str(), "w");
  if (!out) {
    std::perror(partial.c_str());
    return 1;
  }
  std::fputs(R"(// Written by tray_icon_pixels when the program is built; do not edit.
#pragma once

#include <cstdint>

namespace tovami::linux_backend::tray_icon_pixels {

)",
             out);
  for (const bool attention : {false, true}) {
    const QImage large = renderTrayIcon(attention, kTrayIconLargePixels);
    writeArray(out, attention ? "kAttentionLarge" : "kSleepLarge", large);
    writeArray(out, attention ? "kAttentionSmall" : "kSleepSmall", halveTrayIcon(large));
  }
  std::fputs("\n}  // namespace tovami::linux_backend::tray_icon_pixels\n", out);
  // Written whole or not at all: a build stopped halfway leaves no header that compiles wrong.
  const bool written = std::ferror(out) == 0;
  if (std::fclose(out) != 0 || !written || std::rename(partial.c_str(), path.c_str()) != 0) {
    std::perror(path.c_str());
    std::remove(partial.c_str());
    return 1;
  }
  return 0;
}
