// The island's outline: its shape, its size for each mode and phase, its shadow and hover scale,
// where it sits in the 700-point panel, and the region that takes the pointer.
#pragma once

#include <vector>

#include "island/island_scene.h"
#include "platform/canvas.h"

namespace tovami {

// The outline of a downward extension of the camera housing: shoulders that flare out at the top
// corners (topRadius) and a body with rounded bottom corners (bottomRadius).
struct NotchShape {
  double topRadius = 6;
  double bottomRadius = 14;

  VectorPath path(const Rect& rect) const;
};

// A rounded rectangle whose corners are quadratic curves, the radius capped at half the shorter side.
VectorPath roundedRectPath(const Rect& rect, double radius);

namespace island_layout {

inline constexpr double kPanelWidth = 700;
inline constexpr double kExpandedWidth = 660;
inline constexpr double kFirstRowSpacing = 2;  // between the first row and the expanded content
inline constexpr int kVisibleRows = 4;
inline constexpr double kRowSpacing = 8;
inline constexpr double kSnippetRowHeight = 64;
inline constexpr double kPlainRowHeight = 36;
// A snippet row's status line details (model, context, cost, branch) below the reply.
inline constexpr double kDetailsLineHeight = 14;
inline constexpr double kMoreLineHeight = 20;
inline constexpr double kHeaderHeight = 64;
inline constexpr double kHeaderWithUsageHeight = 90;
inline constexpr double kNoRowsExtra = 26;
inline constexpr double kReportHeight = 88;
inline constexpr double kApprovalHeight = 150;

// Each collapsed wing beside the housing in notch mode: 96 with agents, 60 with a countdown,
// 34 with the cat, else 0.
double wingWidth(const IslandScene& scene);
double collapsedWidth(const IslandScene& scene);
// The sessions shown as rows (none while agent watching is off).
const std::vector<AgentSession>& listedSessions(const IslandScene& scene);
double agentRowHeight(const IslandScene& scene, const AgentSession& session);
// What the expanded card shows. A wake report outranks an approval in size and content alike:
// the report stays for a few seconds, the approval waits, and "needs you" stays in the first row.
enum class ExpandedCard { approval, report, agents };
ExpandedCard expandedCard(const IslandScene& scene);
// The expanded content below the first row: 660 wide, as high as the card needs.
Size expandedSize(const IslandScene& scene);

inline constexpr double kUsageLineCentre = 14;  // below the card's top
inline constexpr double kRowInset = 18;         // agent rows from the card's sides
inline constexpr double kRowContentInset = 14;  // row content from the row's sides

}  // namespace island_layout

struct OutlineGeometry;

namespace island_layout {
// The expanded card below the first row, centred on the panel.
Rect cardFrame(const IslandScene& scene, const OutlineGeometry& geometry);
// The frames of the agent rows the card shows (at most four).
std::vector<Rect> agentRowFrames(const IslandScene& scene, const Rect& card);
}  // namespace island_layout

// Where and how the outline is drawn for one scene and phase, in panel coordinates.
struct OutlineGeometry {
  IslandMode mode = IslandMode::notch;
  Rect frame;                // before the hover scale
  double topRadius = 0;      // notch mode
  double bottomRadius = 0;   // notch mode
  double cornerRadius = 0;   // pill mode
  double shadowOpacity = 0;  // black
  double shadowRadius = 0;
  Point shadowOffset;
  double hoverScale = 1;  // about the top centre of the frame
  double topStrip = 0;    // height of the black strip laid over the top edge (notch mode)

  Point scaleAnchor() const { return {frame.x + frame.width / 2, frame.y}; }
  // The frame as it appears on screen, after the hover scale.
  Rect scaledFrame() const;
  // The outline at its place in the panel, hover scale included.
  VectorPath path() const;
  // A point on screen mapped back into the unscaled frame's coordinates.
  Point unscale(Point p) const;
};

OutlineGeometry outlineGeometry(const IslandScene& scene, IslandPhase phase);
// Every figure of `a` moved towards `b` by `progress` (which a spring may take a little past 1).
OutlineGeometry mix(const OutlineGeometry& a, const OutlineGeometry& b, double progress);
bool hitsOutline(const OutlineGeometry& geometry, Point point);
// The outline as a polygon (curves flattened), in panel coordinates.
std::vector<Point> outlinePolygon(const OutlineGeometry& geometry);
// The outline as horizontal bands of whole points, top to bottom (for an input shape): each
// band covers the outline's extent across it, so no part of the outline is left out.
std::vector<Rect> outlineRegion(const OutlineGeometry& geometry);

}  // namespace tovami
