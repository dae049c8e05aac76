#include "linux/nap/overlay_renderer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QPainter>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "nap/nap_overlay_view.h"
#include "linux/qt/qt_canvas.h"

namespace tovami::linux_backend {
namespace {

bool writeAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  size_t left = static_cast<size_t>(bytes.size());
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool writeDirectly(const std::string& path, const QByteArray& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  const bool ok = writeAll(fd, bytes);
  return (::close(fd) == 0) && ok;
}

}  // namespace

bool writeFileCompletely(const std::string& requested, const QByteArray& bytes) {
  if (requested.empty()) return false;
  std::string path = requested;
  struct stat info = {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    // Replace what the link points to, not the link itself.
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return false;
    path = resolved;
  }
  mode_t mode = 0666;
  bool replacing = false;
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return false;
    if (!S_ISREG(info.st_mode)) return writeDirectly(path, bytes);
    // A file nobody may write stays as it is, even for a user whom permissions do not bind.
    if (::access(path.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0) return false;
    mode = info.st_mode & 07777;
    replacing = true;
  } else if (errno != ENOENT) {
    return false;
  }

  std::string temp = folderOf(path) + "/." + nameOf(path) + ".XXXXXX";
  std::vector<char> pattern(temp.begin(), temp.end());
  pattern.push_back('\0');
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return false;
  temp = pattern.data();
  bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
  if (ok) {
    if (!replacing) {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode &= ~mask;
    }
    ok = ::fchmod(fd, mode) == 0;
  }
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

QImage renderStill(Size size, double scale, const std::function<void(Canvas&)>& draw) {
  QImage image(static_cast<int>(size.width * scale), static_cast<int>(size.height * scale),
               QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return image;
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  QtCanvas canvas(painter);
  draw(canvas);
  painter.end();
  return image;
}

bool writeStill(const QImage& image, const std::string& path) {
  bool ok = false;
  if (!image.isNull()) {
    QByteArray png;
    QBuffer buffer(&png);
    // The backdrop is opaque, so the picture needs no alpha channel.
    const QImage opaque = image.convertToFormat(QImage::Format_RGB32);
    if (buffer.open(QIODevice::WriteOnly) && opaque.save(&buffer, "PNG") && !png.isEmpty())
      ok = writeFileCompletely(path, png);
  }
  if (!ok) {
    std::fputs("render failed\n", stderr);
    std::fflush(stderr);
  }
  return ok;
}

QImage renderOverlayImage(Dispatcher& dispatcher) {
  return renderStill(OverlayStill::kSize, OverlayStill::kScale,
                     [&dispatcher](Canvas& canvas) { OverlayStill::draw(canvas, dispatcher); });
}

bool renderOverlay(const std::string& path, Dispatcher& dispatcher) {
  return writeStill(renderOverlayImage(dispatcher), path);
}

}  // namespace tovami::linux_backend
