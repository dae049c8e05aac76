#include "nap/nap_report.h"

#include <cmath>

namespace tovami {

std::string NapReport::durationText() const {
  // Whole minutes, truncated; a nonsensical duration reads as under a minute.
  const double minutes = std::isfinite(duration) && duration > 0 ? std::trunc(duration / 60.0) : 0.0;
  if (minutes < 1) return "Napped under a minute";
  const auto m = minutes > 9.0e15 ? std::int64_t(9.0e15) : std::int64_t(minutes);
  if (m <= 59) return "Napped " + std::to_string(m) + " min";
  const std::int64_t h = m / 60, r = m % 60;
  if (r == 0) return "Napped " + std::to_string(h) + " hr";
  return "Napped " + std::to_string(h) + " hr " + std::to_string(r) + " min";
}

std::string NapReport::pokesText() const {
  if (pokesIgnored <= 0) return "nobody poked";
  if (pokesIgnored == 1) return "1 poke ignored";
  return std::to_string(pokesIgnored) + " pokes ignored";
}

}  // namespace tovami
