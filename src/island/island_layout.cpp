#include "island/island_layout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tovami {

VectorPath NotchShape::path(const Rect& r) const {
  const double t = topRadius, b = bottomRadius;
  VectorPath p;
  p.moveTo({r.x, r.y});
  p.quadTo({r.x + t, r.y + t}, {r.x + t, r.y});
  p.lineTo({r.x + t, r.maxY() - b});
  p.quadTo({r.x + t + b, r.maxY()}, {r.x + t, r.maxY()});
  p.lineTo({r.maxX() - t - b, r.maxY()});
  p.quadTo({r.maxX() - t, r.maxY() - b}, {r.maxX() - t, r.maxY()});
  p.lineTo({r.maxX() - t, r.y + t});
  p.quadTo({r.maxX(), r.y}, {r.maxX() - t, r.y});
  p.close();
  return p;
}

VectorPath roundedRectPath(const Rect& r, double radius) {
  const double c = std::clamp(radius, 0.0, std::min(r.width, r.height) / 2);
  VectorPath p;
  p.moveTo({r.x + c, r.y});
  p.lineTo({r.maxX() - c, r.y});
  p.quadTo({r.maxX(), r.y + c}, {r.maxX(), r.y});
  p.lineTo({r.maxX(), r.maxY() - c});
  p.quadTo({r.maxX() - c, r.maxY()}, {r.maxX(), r.maxY()});
  p.lineTo({r.x + c, r.maxY()});
  p.quadTo({r.x, r.maxY() - c}, {r.x, r.maxY()});
  p.lineTo({r.x, r.y + c});
  p.quadTo({r.x + c, r.y}, {r.x, r.y});
  p.close();
  return p;
}

namespace island_layout {

double wingWidth(const IslandScene& scene) {
  if (scene.showsStatusWing()) return 96;
  if (scene.napTimerDeadline) return 60;
  if (scene.showsCat) return 34;
  return 0;
}

double collapsedWidth(const IslandScene& scene) {
  if (scene.mode == IslandMode::pill) return scene.collapsedSize.width;
  return scene.collapsedSize.width + 2 * wingWidth(scene);
}

const std::vector<AgentSession>& listedSessions(const IslandScene& scene) {
  static const std::vector<AgentSession> kNone;
  return scene.agentWatch ? scene.sessions : kNone;
}

double agentRowHeight(const IslandScene& scene, const AgentSession& session) {
  if (!scene.showSnippets || !session.hasSnippet()) return kPlainRowHeight;
  return kSnippetRowHeight + (session.details ? kDetailsLineHeight : 0);
}

ExpandedCard expandedCard(const IslandScene& scene) {
  if (scene.wakeReport) return ExpandedCard::report;
  if (scene.approval || scene.approvalNotice) return ExpandedCard::approval;
  return ExpandedCard::agents;
}

Size expandedSize(const IslandScene& scene) {
  switch (expandedCard(scene)) {
    case ExpandedCard::report:
      return {kExpandedWidth, kReportHeight};
    case ExpandedCard::approval:
      return {kExpandedWidth, kApprovalHeight};
    case ExpandedCard::agents:
      break;
  }
  const double header = scene.showsUsageLine() ? kHeaderWithUsageHeight : kHeaderHeight;
  const auto& rows = listedSessions(scene);
  if (rows.empty()) return {kExpandedWidth, header + kNoRowsExtra};
  const size_t shown = std::min<size_t>(rows.size(), kVisibleRows);
  double height = header + kRowSpacing + kRowSpacing * static_cast<double>(shown - 1);
  for (size_t i = 0; i < shown; ++i) height += agentRowHeight(scene, rows[i]);
  if (rows.size() > kVisibleRows) height += kMoreLineHeight;
  return {kExpandedWidth, height};
}

Rect cardFrame(const IslandScene& scene, const OutlineGeometry& geometry) {
  return {geometry.scaleAnchor().x - kExpandedWidth / 2,
          geometry.frame.y + scene.collapsedSize.height + kFirstRowSpacing, kExpandedWidth,
          expandedSize(scene).height};
}

std::vector<Rect> agentRowFrames(const IslandScene& scene, const Rect& card) {
  std::vector<Rect> frames;
  const auto& rows = listedSessions(scene);
  double y = card.y + (scene.showsUsageLine() ? kHeaderWithUsageHeight : kHeaderHeight) - 6;
  for (size_t i = 0; i < rows.size() && i < kVisibleRows; ++i) {
    const double height = agentRowHeight(scene, rows[i]);
    frames.push_back({card.x + kRowInset, y, card.width - 2 * kRowInset, height});
    y += height + kRowSpacing;
  }
  return frames;
}

}  // namespace island_layout

namespace {

Point scaledAbout(Point p, Point anchor, double factor) {
  return {anchor.x + (p.x - anchor.x) * factor, anchor.y + (p.y - anchor.y) * factor};
}

double lerp(double a, double b, double t) {
  return a + (b - a) * t;
}

}  // namespace

OutlineGeometry outlineGeometry(const IslandScene& scene, IslandPhase phase) {
  using namespace island_layout;
  // A housing or menu bar reported with negative figures counts as none.
  const Size housing{std::max(0.0, scene.collapsedSize.width), std::max(0.0, scene.collapsedSize.height)};
  const double menuBar = std::max(0.0, scene.menuBarHeight);
  const bool expanded = phase == IslandPhase::expanded;
  const bool notch = scene.mode == IslandMode::notch;
  const double height =
      expanded ? housing.height + kFirstRowSpacing + expandedSize(scene).height : housing.height;
  const double width = expanded ? kExpandedWidth : housing.width + (notch ? 2 * wingWidth(scene) : 0);
  const bool hoverGrows = scene.hovering && !expanded;
  OutlineGeometry g;
  g.mode = scene.mode;
  if (notch) {
    g.frame = {(kPanelWidth - width) / 2, 0, width, height};
    g.topRadius = expanded ? 18 : 6;
    g.bottomRadius = expanded ? 26 : 14;
    g.shadowOpacity = expanded ? 0.5 : 0;
    g.shadowRadius = 14;
    g.shadowOffset = {0, 4};
    g.hoverScale = hoverGrows ? 1.04 : 1;
    g.topStrip = 1;
  } else {
    g.frame = {(kPanelWidth - width) / 2, menuBar + 4, width, height};
    g.cornerRadius = expanded ? 24 : std::max(16.0, housing.height) / 2;
    g.shadowOpacity = 0.35;
    g.shadowRadius = 10;
    g.shadowOffset = {0, 2};
    g.hoverScale = hoverGrows ? 1.05 : 1;
  }
  return g;
}

OutlineGeometry mix(const OutlineGeometry& a, const OutlineGeometry& b, double t) {
  OutlineGeometry g = b;
  g.frame = {lerp(a.frame.x, b.frame.x, t), lerp(a.frame.y, b.frame.y, t),
             std::max(0.0, lerp(a.frame.width, b.frame.width, t)),
             std::max(0.0, lerp(a.frame.height, b.frame.height, t))};
  g.topRadius = std::max(0.0, lerp(a.topRadius, b.topRadius, t));
  g.bottomRadius = std::max(0.0, lerp(a.bottomRadius, b.bottomRadius, t));
  g.cornerRadius = std::max(0.0, lerp(a.cornerRadius, b.cornerRadius, t));
  g.shadowOpacity = std::clamp(lerp(a.shadowOpacity, b.shadowOpacity, t), 0.0, 1.0);
  g.shadowRadius = std::max(0.0, lerp(a.shadowRadius, b.shadowRadius, t));
  g.shadowOffset = {lerp(a.shadowOffset.x, b.shadowOffset.x, t), lerp(a.shadowOffset.y, b.shadowOffset.y, t)};
  g.hoverScale = std::max(0.0, lerp(a.hoverScale, b.hoverScale, t));
  g.topStrip = lerp(a.topStrip, b.topStrip, t);
  return g;
}

Rect OutlineGeometry::scaledFrame() const {
  const Point anchor = scaleAnchor();
  const Point topLeft = scaledAbout({frame.x, frame.y}, anchor, hoverScale);
  return {topLeft.x, topLeft.y, frame.width * hoverScale, frame.height * hoverScale};
}

Point OutlineGeometry::unscale(Point p) const {
  if (hoverScale <= 0) return p;
  return scaledAbout(p, scaleAnchor(), 1 / hoverScale);
}

VectorPath OutlineGeometry::path() const {
  // Radii that do not fit the frame (mid-animation, or a tiny housing) are shrunk to fit.
  VectorPath unscaled;
  if (mode == IslandMode::notch) {
    const double top = std::min(topRadius, frame.width / 4);
    const double bottom = std::min({bottomRadius, frame.width / 2 - top, frame.height - top});
    unscaled = NotchShape{top, std::max(0.0, bottom)}.path(frame);
  } else {
    unscaled = roundedRectPath(frame, cornerRadius);
  }
  if (hoverScale == 1) return unscaled;
  VectorPath scaled;
  const Point anchor = scaleAnchor();
  for (const auto& e : unscaled.elements()) {
    switch (e.verb) {
      case VectorPath::Verb::moveTo:
        scaled.moveTo(scaledAbout(e.point, anchor, hoverScale));
        break;
      case VectorPath::Verb::lineTo:
        scaled.lineTo(scaledAbout(e.point, anchor, hoverScale));
        break;
      case VectorPath::Verb::quadTo:
        scaled.quadTo(scaledAbout(e.point, anchor, hoverScale), scaledAbout(e.control, anchor, hoverScale));
        break;
      case VectorPath::Verb::close:
        scaled.close();
        break;
    }
  }
  return scaled;
}

std::vector<Point> outlinePolygon(const OutlineGeometry& geometry) {
  constexpr int kCurveSteps = 8;
  std::vector<Point> points;
  Point last;
  const VectorPath path = geometry.path();
  for (const auto& e : path.elements()) {
    switch (e.verb) {
      case VectorPath::Verb::moveTo:
      case VectorPath::Verb::lineTo:
        points.push_back(e.point);
        last = e.point;
        break;
      case VectorPath::Verb::quadTo:
        for (int i = 1; i <= kCurveSteps; ++i) {
          const double s = static_cast<double>(i) / kCurveSteps, u = 1 - s;
          points.push_back({u * u * last.x + 2 * u * s * e.control.x + s * s * e.point.x,
                            u * u * last.y + 2 * u * s * e.control.y + s * s * e.point.y});
        }
        last = e.point;
        break;
      case VectorPath::Verb::close:
        break;
    }
  }
  return points;
}

namespace {

// The x positions where the horizontal line at `y` crosses the polygon's edges.
std::vector<double> crossings(const std::vector<Point>& polygon, double y) {
  std::vector<double> xs;
  for (size_t i = 0, n = polygon.size(); i < n; ++i) {
    const Point a = polygon[i], b = polygon[(i + 1) % n];
    if ((a.y <= y) == (b.y <= y)) continue;
    xs.push_back(a.x + (y - a.y) / (b.y - a.y) * (b.x - a.x));
  }
  return xs;
}

}  // namespace

bool hitsOutline(const OutlineGeometry& geometry, Point point) {
  if (!geometry.scaledFrame().contains(point)) return false;
  int crossed = 0;
  for (double x : crossings(outlinePolygon(geometry), point.y))
    if (x > point.x) ++crossed;
  return crossed % 2 == 1;
}

std::vector<Rect> outlineRegion(const OutlineGeometry& geometry) {
  const std::vector<Point> polygon = outlinePolygon(geometry);
  const Rect bounds = geometry.scaledFrame();
  std::vector<Rect> bands;
  if (polygon.size() < 3 || bounds.width <= 0 || bounds.height <= 0) return bands;
  for (double y = std::floor(bounds.y); y < bounds.maxY(); ++y) {
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (double probe : {y + 0.01, y + 0.5, y + 0.99}) {
      for (double x : crossings(polygon, probe)) {
        low = std::min(low, x);
        high = std::max(high, x);
      }
    }
    for (const Point& p : polygon)
      if (p.y >= y && p.y <= y + 1) {
        low = std::min(low, p.x);
        high = std::max(high, p.x);
      }
    if (!(low < high)) continue;
    const Rect band{std::floor(low), y, std::ceil(high) - std::floor(low), 1};
    if (!bands.empty() && bands.back().x == band.x && bands.back().width == band.width &&
        bands.back().maxY() == y)
      bands.back().height += 1;
    else
      bands.push_back(band);
  }
  return bands;
}

}  // namespace tovami
