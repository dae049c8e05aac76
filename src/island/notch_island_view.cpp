#include "island/notch_island_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "agents/user_text.h"
#include "app/platform_wording.h"
#include "pixel_art/palette.h"

namespace tovami {

namespace island_text {

std::string agentTag(const std::string& agentName) {
  return agentName == "Claude Code" ? "Claude" : agentName;
}

std::string moreLine(size_t hidden) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld more", static_cast<long long>(hidden));
  return text;
}

std::string queuePosition(size_t waiting) {
  char text[48];
  std::snprintf(text, sizeof text, "1 of %lld", static_cast<long long>(waiting));
  return text;
}

std::string countdown(Seconds remaining) {
  // A deadline years away (or not a number) still gives a bounded text.
  const double bounded = remaining > 0 ? std::min(remaining, 6e9) : 0;
  const long long seconds = static_cast<long long>(std::ceil(bounded));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
  return text;
}

}  // namespace island_text

namespace {

using namespace island_layout;

Color white(double opacity) {
  return palette::kWhite.withOpacity(opacity);
}

FontStyle systemFont(double size, FontWeight weight = FontWeight::regular) {
  FontStyle font;
  font.pointSize = size;
  font.monospaced = false;
  font.weight = weight;
  return font;
}

// Line breaks, tabs and other control characters from transcripts become spaces: every text here
// is a single line.
std::string singleLine(std::string_view text) {
  std::string line(text);
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return line;
}

// The details a row shows beside its model tag.
std::string detailsWithoutModel(SessionDetails details) {
  details.model.reset();
  return sessionDetailsLine(details);
}

std::string percentText(int percent) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld%%", static_cast<long long>(percent));
  return text;
}

CollapsedCatBadge::Mood badgeMood(const IslandScene& scene) {
  if (scene.approval) return CollapsedCatBadge::Mood::needsYou;
  if (scene.agentsListed() && scene.anyWorking()) return CollapsedCatBadge::Mood::working;
  return CollapsedCatBadge::Mood::asleep;
}

// The right wing shows the cat only when no countdown is set and the cat is wanted.
bool showsBadge(const IslandScene& scene) {
  return !scene.napTimerDeadline && scene.showsCat;
}

constexpr double kCollapsedBottomPadding = 3;
constexpr double kControlSpacing = 8;
constexpr double kAgentsEntryScale = 0.85;  // the agents section grows from here as it appears

}  // namespace

// One drawing pass: the pieces of the picture, and the controls they leave behind for hitTest.
class NotchIslandView::Painter {
 public:
  Painter(Canvas& canvas, const IslandScene& scene, const OutlineGeometry& geometry,
          const CollapsedCatBadge& badge, std::vector<Control>& controls)
      : c_(canvas), scene_(scene), g_(geometry), badge_(badge), controls_(controls) {}

  void collapsedContent() {
    const bool pill = scene_.mode == IslandMode::pill;
    wingRow({g_.frame.x, g_.frame.y, g_.frame.width, scene_.collapsedSize.height}, pill ? 14 : 12,
            pill ? 14 : 10);
  }

  // `entry` runs from 0 to 1 as the expanded content fades in: the agents section grows from 85 %
  // of its size, anchored at its top centre.
  void expandedContent(double entry) {
    const double left = g_.scaleAnchor().x - kExpandedWidth / 2;
    // In notch mode the shoulders take the top corners; the row keeps its padding from the body.
    const double inset = 14 + bodyInset();
    wingRow({left, g_.frame.y, kExpandedWidth, scene_.collapsedSize.height}, inset, inset);
    const Rect card = cardFrame(scene_, g_);
    switch (expandedCard(scene_)) {
      case ExpandedCard::approval:
        approvalCard(card);
        break;
      case ExpandedCard::report:
        reportCard(card);
        break;
      case ExpandedCard::agents: {
        CanvasStateSaver grow(c_);
        if (entry < 1) {
          const double anchorX = card.x + card.width / 2;
          c_.translate(anchorX, card.y);
          c_.scale(kAgentsEntryScale + (1 - kAgentsEntryScale) * entry);
          c_.translate(-anchorX, -card.y);
        }
        agentsSection(card);
        break;
      }
    }
  }

 private:
  // How far the outline's body lies inside its frame at the sides (the notch's shoulders).
  double bodyInset() const { return scene_.mode == IslandMode::notch ? g_.topRadius : 0; }

  // Draws `text` cut to `maxWidth`, vertically centred on `centreY`; returns the width used.
  double text(std::string_view value, double x, double centreY, const FontStyle& font, Color color,
              double maxWidth = 1e9) {
    const std::string shown = c_.elideText(singleLine(value), font, std::max(0.0, maxWidth));
    if (shown.empty()) return 0;
    const Size size = c_.measureText(shown, font);
    c_.drawText(shown, {x, centreY - size.height / 2}, font, color);
    return size.width;
  }

  double width(std::string_view value, const FontStyle& font) const {
    return c_.measureText(value, font).width;
  }

  void addControl(IslandTarget target, const Rect& rect, std::optional<int32_t> pid = std::nullopt) {
    controls_.push_back({{target, pid}, rect});
  }

  // ---- the row of the collapsed island, repeated at the top of the expanded one ----

  void wingRow(const Rect& row, double leading, double trailing) {
    const double centreY = row.y + (row.height - kCollapsedBottomPadding) / 2;
    const double wingScale = scene_.mode == IslandMode::pill ? 0.85 : 1;
    if (scene_.showsStatusWing()) {
      CanvasStateSaver saver(c_);
      c_.translate(row.x + leading, centreY);
      c_.scale(wingScale);
      leftWing();
    }
    CanvasStateSaver saver(c_);
    c_.translate(row.maxX() - trailing, centreY);
    c_.scale(wingScale);
    rightWing();
  }

  // Drawn with its leading edge at x = 0, centred on y = 0.
  void leftWing() {
    Color dot = white(0.4);
    Color word = white(0.55);
    const char* status = "idle";
    if (scene_.approval) {
      dot = palette::kTerracotta;
      word = palette::kTerracotta.withOpacity(0.95);
      status = "needs you";
    } else if (scene_.anyWorking()) {
      dot = palette::kWorkingBlue;
      word = white(0.8);
      status = "Working\u2026";
    }
    FontStyle font = systemFont(10, FontWeight::medium);
    font.monospaced = true;
    font.builtIn = true;  // the collapsed island's only text: no font stack for it
    c_.fillEllipse({0, -3, 6, 6}, dot);
    double x = 6 + 5;
    x += text(status, x, 0, font, word) + 6;
    // While requests wait, the figure counts them; otherwise the sessions.
    const std::size_t figure = scene_.approval ? scene_.approvalCount : scene_.sessions.size();
    char count[32];
    std::snprintf(count, sizeof count, "%lld", static_cast<long long>(figure));
    text(count, x, 0, font, scene_.approval ? word : white(0.6));
  }

  // Drawn with its trailing edge at x = 0, centred on y = 0.
  void rightWing() {
    if (scene_.napTimerDeadline) {
      if (!scene_.countdownRunning()) return;
      FontStyle font = systemFont(11, FontWeight::medium);
      font.monospacedDigits = true;
      const std::string label = island_text::countdown(*scene_.napTimerDeadline - scene_.now);
      const Size size = c_.measureText(label, font);
      const Rect chip{-(size.width + 14), -(size.height / 2 + 1), size.width + 14, size.height + 2};
      c_.strokeRoundedRect(chip, 5, 1, palette::kTerracotta.withOpacity(0.4));
      text(label, chip.x + 7, 0, font, palette::kTerracotta);
      return;
    }
    if (!scene_.showsCat) return;
    const Size size = badge_.size();
    badge_.draw(c_, {-size.width, -size.height / 2}, scene_.animationTime);
  }

  // ---- approval card ----

  // Title: the project, the session's name, the agent's tag and "1 of 3"; then the tool and what
  // it is asked to do; then the notice of an answer not delivered; then the buttons, or "Answer in
  // the terminal". Fixed parts are measured first, so long texts give way and never push a button
  // out of the card.
  void approvalCard(const Rect& card) {
    const double left = card.x + 24, right = card.maxX() - 24 - bodyInset();
    const double titleY = card.y + 20;
    const ApprovalRequest* request = scene_.approval ? &*scene_.approval : nullptr;
    c_.fillEllipse({card.x + 28, titleY - 3.5, 7, 7}, palette::kTerracotta);
    const double titleX = card.x + 28 + 7 + 8;
    if (!request) {
      // Only the notice is left: the card that asked is gone. Said whole, over up to three lines.
      noticeLines(titleX, titleY - 8, right - titleX, systemFont(13, FontWeight::semibold), 3);
      return;
    }

    const FontStyle titleFont = systemFont(17, FontWeight::semibold);
    const FontStyle tagFont = systemFont(10, FontWeight::medium);
    const FontStyle countFont = systemFont(11);
    const std::string tag = island_text::agentTag(request->agentName());
    const std::string position =
        scene_.approvalCount > 1 ? island_text::queuePosition(scene_.approvalCount) : std::string();
    double fixed = width(tag, tagFont) + 12 + 10;
    if (!position.empty()) fixed += width(position, countFont) + 12;
    const double titleRoom = std::max(0.0, right - titleX - fixed);
    // The project keeps at least half the room; the session's name takes what is left.
    const std::string session = request->sessionName ? " \u00b7 " + *request->sessionName : std::string();
    const double sessionWidth = std::min(width(singleLine(session), titleFont), titleRoom / 2);
    double x =
        titleX + text(request->projectName, titleX, titleY, titleFont, white(1), titleRoom - sessionWidth);
    if (!session.empty()) x += text(session, x, titleY, titleFont, white(0.5), titleX + titleRoom - x);
    x += 10;
    const Size tagSize = c_.measureText(tag, tagFont);
    const Rect pill{x, titleY - tagSize.height / 2 - 2, tagSize.width + 12, tagSize.height + 4};
    c_.fillRoundedRect(pill, pill.height / 2, white(0.09));
    text(tag, x + 6, titleY, tagFont, palette::kTerracotta);
    if (!position.empty()) {
      const double positionWidth = width(position, countFont);
      text(position, right - positionWidth, titleY, countFont, white(0.5));
    }

    // What is asked: the tool in bold, its main argument after it (a notice has only its message).
    const FontStyle toolFont = systemFont(12, FontWeight::semibold);
    FontStyle detailFont = systemFont(12);
    detailFont.monospaced = request->road == ApprovalRoad::decision;
    const double lineHeight = c_.measureText("Ag", detailFont).height + 1;
    double y = card.y + 40;
    double detailX = left;
    if (request->road == ApprovalRoad::decision && !request->toolName.empty()) {
      const std::string tool = c_.elideText(singleLine(request->toolName), toolFont, (right - left) / 3);
      c_.drawText(tool, {left, y}, toolFont, palette::kTerracotta);
      detailX = left + width(tool, toolFont) + 8;
    }
    const bool always = request->answerable && request->canAlwaysAllow;
    for (const std::string& line :
         wrapLines(singleLine(request->detail), detailFont, right - detailX, always ? 2 : 3)) {
      c_.drawText(line, {detailX, y}, detailFont, white(0.8));
      y += lineHeight;
    }
    // What the Always button grants, under the command: nobody grants what the card does not say.
    if (always) {
      const FontStyle font = systemFont(11);
      const double height = c_.measureText("Ag", font).height + 1;
      for (const std::string& line :
           wrapLines(singleLine(request->always.sentence()), font, right - left, 2)) {
        c_.drawText(line, {left, y + 2}, font, white(0.55));
        y += height;
      }
    }

    const double buttonsY = card.maxY() - 26;
    double buttonsLeft = right;
    if (!request->answerable) {
      const FontStyle font = systemFont(12, FontWeight::medium);
      buttonsLeft = right - width(island_text::kAnswerInTerminal, font);
      text(island_text::kAnswerInTerminal, buttonsLeft, buttonsY, font, white(0.7));
    } else {
      // Until the card has been up for a moment its buttons are dimmed and take no click.
      CanvasStateSaver dim(c_);
      if (!scene_.approvalArmed) c_.setOpacity(0.45);
      const Rect allow = terracottaButton("Allow", 13, right, buttonsY, true, IslandTarget::allow);
      double edge = allow.x - kControlSpacing;
      if (request->canAlwaysAllow)
        edge = chipButton(request->always.buttonLabel(), edge, buttonsY, true, IslandTarget::always).x -
               kControlSpacing;
      buttonsLeft = chipButton("Deny", edge, buttonsY, true, IslandTarget::deny).x;
      for (auto& control : controls_)
        if (isAnswer(control.hit.target)) control.hit.requestId = request->id;
    }
    if (scene_.approvalNotice) {
      const FontStyle font = systemFont(11);
      const double top = buttonsY - c_.measureText("Ag", font).height;
      noticeLines(left, top, buttonsLeft - kControlSpacing - left, font, 2);
    }
  }

  // The notice of an answer not delivered, from `top`, wrapped to `maxWidth`.
  void noticeLines(double x, double top, double maxWidth, const FontStyle& font, int maxLines) {
    const double lineHeight = c_.measureText("Ag", font).height;
    const std::string notice = singleLine(scene_.approvalNotice->text);
    for (const std::string& line : wrapLines(notice, font, maxWidth, maxLines)) {
      c_.drawText(line, {x, top}, font, palette::kTerracotta);
      top += lineHeight;
    }
  }

  static bool isAnswer(IslandTarget target) {
    return target == IslandTarget::allow || target == IslandTarget::deny || target == IslandTarget::always;
  }

  // Greedy lines of at most `maxWidth`, broken at spaces where possible and between user-perceived
  // characters otherwise; the last line takes the rest, cut with an ellipsis.
  std::vector<std::string> wrapLines(std::string_view text, const FontStyle& font, double maxWidth,
                                     int maxLines) {
    std::vector<std::string> lines;
    text = user_text::trimWhitespace(text);
    while (!text.empty() && static_cast<int>(lines.size()) < maxLines - 1) {
      if (width(text, font) <= maxWidth) break;
      // The most characters that fit, found by halving.
      size_t low = 1, high = user_text::characterCount(text);
      while (low < high) {
        const size_t middle = (low + high + 1) / 2;
        if (width(user_text::prefixCharacters(text, middle), font) <= maxWidth)
          low = middle;
        else
          high = middle - 1;
      }
      std::string_view line = user_text::prefixCharacters(text, low);
      const size_t space = line.find_last_of(' ');
      if (space != std::string_view::npos && space > line.size() / 2) line = line.substr(0, space);
      lines.emplace_back(line);
      text = user_text::trimWhitespace(text.substr(line.size()));
    }
    if (!text.empty()) lines.push_back(c_.elideText(text, font, maxWidth));
    return lines;
  }

  // ---- wake-report card ----

  void reportCard(const Rect& card) {
    const NapReport& report = *scene_.wakeReport;
    const FontStyle durationFont = systemFont(14, FontWeight::semibold);
    const FontStyle dotFont = systemFont(14);
    const FontStyle pokesFont = systemFont(12);
    const std::string duration = report.durationText(), pokes = report.pokesText();
    const double total =
        26 + 8 + width(duration, durationFont) + 6 + width("\u00b7", dotFont) + 6 + width(pokes, pokesFont);
    const double centreY = card.y + card.height / 2 - 6;
    double x = std::max(card.x + 28, card.x + (card.width - total) / 2);
    const double limit = card.maxX() - 28;
    c_.fillPath(CurledCatShape::path({x, centreY - 6.5, 26, 13}), palette::kTerracotta);
    x += 26 + 8;
    x += text(duration, x, centreY, durationFont, white(1), limit - x) + 6;
    x += text("\u00b7", x, centreY, dotFont, white(0.4), limit - x) + 6;
    text(pokes, x, centreY, pokesFont, palette::kTerracotta, limit - x);
  }

  // ---- agents section ----

  void agentsSection(const Rect& card) {
    const double header = scene_.showsUsageLine() ? kHeaderWithUsageHeight : kHeaderHeight;
    if (scene_.showsUsageLine()) usageMeter(card.x + 32, card.maxX() - 32, card.y + kUsageLineCentre);
    controlsRow(card, card.y + 29 + (scene_.showsUsageLine() ? 26 : 0));

    const auto& rows = listedSessions(scene_);
    if (rows.empty()) {
      const FontStyle font = systemFont(11);
      const std::string line = c_.elideText(island_text::kNoAgents, font, card.width - 64);
      c_.drawText(line, {card.x + 32, card.y + header - 6 + 4}, font, white(0.4));
      return;
    }
    const std::vector<Rect> frames = agentRowFrames(scene_, card);
    for (size_t i = 0; i < frames.size(); ++i) agentRow(rows[i], frames[i]);
    if (rows.size() > frames.size()) {
      c_.drawText(island_text::moreLine(rows.size() - frames.size()), {card.x + 66, frames.back().maxY() + 4},
                  systemFont(10), white(0.4));
    }
  }

  void usageMeter(double x, double right, double centreY) {
    const FontStyle font = systemFont(10);
    if (!scene_.usage) {
      text(scene_.usageCaption, x, centreY, font, white(0.45), right - x);
      return;
    }
    const UsageSnapshot& usage = *scene_.usage;
    const FontStyle figure = systemFont(10, FontWeight::semibold);
    auto item = [&](const char* label, int percent, std::optional<Seconds> resets) {
      x += text(label, x, centreY, font, white(0.5)) + 4;
      const Color colour = percent >= 80 ? palette::kTerracotta : palette::kUsageGreen;
      x += text(percentText(percent), x, centreY, figure, colour);
      if (auto countdown = resetCountdown(resets, scene_.now))
        x += 4 + text(*countdown, x + 4, centreY, font, white(0.4));
    };
    item("5h", usage.fiveHourPct, usage.fiveHourResets);
    x += 8;
    c_.fillRect({x, centreY - 5, 1, 10}, white(0.15));
    x += 1 + 8;
    item("7d", usage.sevenDayPct, usage.sevenDayResets);
    if (!scene_.usageCaption.empty() && right - x > 40)
      text(scene_.usageCaption, x + 10, centreY, font, white(0.35), right - x - 10);
  }

  void controlsRow(const Rect& card, double centreY) {
    double x = card.x + 32;
    const Rect napNow = terracottaButton("Nap now", 11, 0, centreY, false, IslandTarget::napNow, x);
    x = napNow.maxX() + kControlSpacing;
    x = chipButton("5m", x, centreY, false, IslandTarget::napIn5Minutes).maxX() + kControlSpacing;
    x = chipButton("15m", x, centreY, false, IslandTarget::napIn15Minutes).maxX() + kControlSpacing + 2;
    const double hintStart = x;

    // From the right edge leftwards: the gear, the speaker, the nap-when-idle chip.
    double right = card.maxX() - 32;
    const Rect gear{right - 16, centreY - 8, 16, 16};
    c_.drawSymbol("emblem-system", {gear.x + 2, gear.y + 2, 12, 12}, white(0.55));
    addControl(IslandTarget::gear, {gear.x - 4, gear.y - 4, gear.width + 8, gear.height + 8});
    right = gear.x - kControlSpacing;
    const Rect speaker{right - 16, centreY - 8, 16, 16};
    c_.drawSymbol(scene_.agentQuietSound ? "audio-volume-high" : "audio-volume-muted",
                  {speaker.x + 2.5, speaker.y + 2.5, 11, 11}, white(0.55));
    addControl(IslandTarget::speaker, {speaker.x - 4, speaker.y - 4, speaker.width + 8, speaker.height + 8});
    right = speaker.x - kControlSpacing;
    const bool armed = scene_.napWhenIdleArmed;
    const FontStyle chipFont = systemFont(10);
    const char* chipLabel = armed ? "napping when idle" : "nap when idle";
    const Size chipText = c_.measureText(chipLabel, chipFont);
    const Rect chip{right - chipText.width - 18, centreY - chipText.height / 2 - 4, chipText.width + 18,
                    chipText.height + 8};
    c_.strokeRoundedRect(chip, chip.height / 2, 1,
                         armed ? palette::kTerracotta.withOpacity(0.8) : white(0.2));
    text(chipLabel, chip.x + 9, centreY, chipFont, armed ? palette::kTerracotta : white(0.7));
    addControl(IslandTarget::napWhenIdle, chip);

    // The hint takes what room is left between the chips and the chip on the right.
    text(wording::kNapHotKey, hintStart, centreY, systemFont(10), white(0.5),
         chip.x - kControlSpacing - hintStart);
  }

  // A capsule in terracotta. Placed with its left edge at `left` when `alignRight` is false, else with
  // its right edge at `right`.
  Rect terracottaButton(const char* label, double fontSize, double right, double centreY, bool alignRight,
                        IslandTarget target, double left = 0) {
    const FontStyle font = systemFont(fontSize, FontWeight::semibold);
    const Size size = c_.measureText(label, font);
    const double w = size.width + 2 * (fontSize + 6), h = size.height + 2 * (fontSize * 0.5 + 1);
    const Rect button{alignRight ? right - w : left, centreY - h / 2, w, h};
    const bool down = pressed(target);
    CanvasStateSaver saver(c_);
    if (down) shrinkAbout(button);
    c_.fillRoundedRect(button, h / 2, down ? palette::kDeepTerracotta : palette::kTerracotta);
    text(label, button.x + fontSize + 6, centreY, font, down ? palette::kOffWhite : palette::kDarkBrown);
    addControl(target, button);
    return button;
  }

  // A capsule outlined in white. Placed like terracottaButton, from `edge`.
  Rect chipButton(const std::string& label, double edge, double centreY, bool alignRight,
                  IslandTarget target) {
    const FontStyle font = systemFont(11);
    const Size size = c_.measureText(label, font);
    const double w = size.width + 18, h = size.height + 8;
    const Rect chip{alignRight ? edge - w : edge, centreY - h / 2, w, h};
    const bool down = pressed(target);
    CanvasStateSaver saver(c_);
    if (down) shrinkAbout(chip);
    c_.strokeRoundedRect(chip, h / 2, 1, white(down ? 0.4 : 0.2));
    text(label, chip.x + 9, centreY, font, white(down ? 1 : 0.7));
    addControl(target, chip);
    return chip;
  }

  bool pressed(IslandTarget target, std::optional<int32_t> pid = std::nullopt) const {
    return scene_.pressed && scene_.pressed->target == target && scene_.pressed->pid == pid;
  }

  // A pressed button shrinks to 0.98 about its centre.
  void shrinkAbout(const Rect& rect) {
    const double cx = rect.x + rect.width / 2, cy = rect.y + rect.height / 2;
    c_.translate(cx, cy);
    c_.scale(0.98);
    c_.translate(-cx, -cy);
  }

  void agentRow(const AgentSession& session, const Rect& row) {
    if (scene_.hoveredSession == session.pid) c_.fillRoundedRect(row, 12, white(0.07));
    if (pressed(IslandTarget::agentRow, session.pid)) c_.fillRoundedRect(row, 10, white(0.08));
    addControl(IslandTarget::agentRow, row, session.pid);
    const bool working = session.activity == AgentActivity::working;
    const Color accent = working ? palette::kWorkingBlue : white(0.45);
    const double contentX = row.x + kRowContentInset, top = row.y + 5;
    const PixelGrid cat{standingCatRows(), accent, 1.6, 0.6};
    cat.draw(c_, {contentX, top + 3});
    if (working) {
      RunningPixelIndicator indicator{accent, 2, 0.8};
      const Size size = indicator.size();
      const Seconds time = scene_.reduceMotion ? 0 : scene_.animationTime;
      indicator.draw(c_, {contentX + (cat.size().width - size.width) / 2, top + 3 + cat.size().height + 4},
                     time);
    }

    const double columnX = row.x + 48, columnRight = row.maxX() - kRowContentInset;
    const double columnWidth = columnRight - columnX;
    const ClaudeSessionInfo* info = session.context ? &*session.context : nullptr;

    // Header: the tags keep their room; the name and title are cut first.
    const FontStyle tagFont = systemFont(9, FontWeight::medium);
    struct Tag {
      std::string label;
      Color colour;
    };
    std::vector<Tag> tags;
    tags.push_back(
        {c_.elideText(island_text::agentTag(session.agentName), tagFont, 120), palette::kTerracotta});
    const SessionDetails* details = session.details ? &*session.details : nullptr;
    const std::optional<std::string> model =
        details && details->model ? details->model : (info ? info->modelName : std::nullopt);
    if (model) tags.push_back({c_.elideText(*model, tagFont, 140), white(0.7)});
    if (session.waitingFor) tags.push_back({"needs you", palette::kTerracotta});
    double tagsWidth = 0;
    for (const auto& tag : tags) tagsWidth += width(tag.label, tagFont) + 12 + 6;

    const FontStyle titleFont = systemFont(12, FontWeight::semibold);
    // The session's own name where it has one, else the conversation's first prompt.
    std::string title = session.projectName;
    if (session.sessionName && !session.sessionName->empty() && *session.sessionName != session.projectName)
      title += " \u00b7 " + *session.sessionName;
    else if (info && info->title)
      title += " \u00b7 " + *info->title;
    const double headerY = top + 8;
    double x = columnX + text(title, columnX, headerY, titleFont, white(1), columnWidth - tagsWidth) + 6;
    for (const auto& tag : tags) {
      const Size size = c_.measureText(tag.label, tagFont);
      if (tag.label.empty()) continue;
      const Rect pill{x, headerY - size.height / 2 - 2, size.width + 12, size.height + 4};
      c_.fillRoundedRect(pill, pill.height / 2, white(0.09));
      text(tag.label, x + 6, headerY, tagFont, tag.colour);
      x = pill.maxX() + 6;
    }

    if (scene_.showSnippets && session.hasSnippet()) {
      const double youY = top + 26, replyY = top + 42;
      if (info->youLine) {
        const FontStyle font = systemFont(11);
        const double label = text("You: ", columnX, youY, font, palette::kWorkingBlue);
        text(*info->youLine, columnX + label, youY, font, white(0.55), columnWidth - label);
      }
      if (info->replyLine)
        text(*info->replyLine, columnX, replyY, systemFont(10), palette::kWorkingBlue.withOpacity(0.9),
             columnWidth);
      if (details)
        text(detailsWithoutModel(*details), columnX, top + 58, systemFont(10), white(0.45), columnWidth);
      return;
    }
    std::string status = session.ageLabel() + " \u00b7 " + agentStateLabel(session);
    if (details && !detailsWithoutModel(*details).empty())
      status += " \u00b7 " + detailsWithoutModel(*details);
    text(status, columnX, top + 24, systemFont(10), accent.withOpacity(accent.opacity * 0.9), columnWidth);
  }

  Canvas& c_;
  const IslandScene& scene_;
  const OutlineGeometry& g_;
  const CollapsedCatBadge& badge_;
  std::vector<Control>& controls_;
};

NotchIslandView::NotchIslandView(TaskQueue& queue, std::shared_ptr<RandomSource> random,
                                 std::function<void()> redraw)
    : queue_(queue), random_(std::move(random)), redraw_(std::move(redraw)) {
  badge_ =
      std::make_unique<CollapsedCatBadge>(CollapsedCatBadge::Mood::asleep, false, queue_, random_, redraw_);
}

NotchIslandView::~NotchIslandView() = default;

void NotchIslandView::updateBadge(const IslandScene& scene, bool shown) {
  if (badge_->reduceMotion() != scene.reduceMotion) {
    badge_ =
        std::make_unique<CollapsedCatBadge>(badgeMood(scene), scene.reduceMotion, queue_, random_, redraw_);
    badgeShown_ = false;
  }
  if (shown != badgeShown_) {
    badgeShown_ = shown;
    if (shown)
      badge_->appear();
    else
      badge_->disappear();
  }
  badge_->setMood(badgeMood(scene), scene.animationTime);
}

void NotchIslandView::disappear() {
  if (badgeShown_) badge_->disappear();
  badgeShown_ = false;
}

void NotchIslandView::draw(Canvas& canvas, const IslandScene& scene, const OutlineGeometry& geometry,
                           double expandedOpacity) {
  expandedOpacity = std::clamp(expandedOpacity, 0.0, 1.0);
  updateBadge(scene, showsBadge(scene));
  controls_.clear();
  expandedControls_ = expandedOpacity >= 0.5;

  const VectorPath outline = geometry.path();
  if (geometry.shadowOpacity > 0 && geometry.shadowRadius > 0)
    canvas.fillShadow(outline, palette::kBlack.withOpacity(geometry.shadowOpacity), geometry.shadowRadius,
                      geometry.shadowOffset);
  canvas.fillPath(outline, palette::kBlack);
  if (geometry.topStrip > 0) {
    const Rect frame = geometry.scaledFrame();
    canvas.fillRect({frame.x, frame.y, frame.width, geometry.topStrip}, palette::kBlack);
  }

  CanvasStateSaver clip(canvas);
  canvas.clipToPath(outline);
  const Point anchor = geometry.scaleAnchor();
  canvas.translate(anchor.x, anchor.y);
  canvas.scale(geometry.hoverScale);
  canvas.translate(-anchor.x, -anchor.y);
  std::vector<Control> discarded;
  if (expandedOpacity < 1) {
    CanvasStateSaver fade(canvas);
    canvas.setOpacity(1 - expandedOpacity);
    Painter(canvas, scene, geometry, *badge_, discarded).collapsedContent();
  }
  if (expandedOpacity > 0) {
    CanvasStateSaver fade(canvas);
    canvas.setOpacity(expandedOpacity);
    Painter(canvas, scene, geometry, *badge_, expandedControls_ ? controls_ : discarded)
        .expandedContent(expandedOpacity);
  }
}

IslandHit NotchIslandView::hitTest(const IslandScene& scene, const OutlineGeometry& geometry,
                                   Point point) const {
  if (!hitsOutline(geometry, point)) return {};
  if (scene.phase == IslandPhase::expanded && expandedControls_) {
    const Point p = geometry.unscale(point);
    for (const auto& control : controls_)
      if (control.rect.contains(p)) return control.hit;
  }
  return {IslandTarget::outline, std::nullopt};
}

std::optional<Seconds> NotchIslandView::nextRedrawIn(const IslandScene& scene) const {
  std::optional<Seconds> soonest;
  auto take = [&soonest](Seconds delay) { soonest = soonest ? std::min(*soonest, delay) : delay; };
  if (scene.countdownRunning()) {
    // The next whole second of the countdown.
    const double remaining = *scene.napTimerDeadline - scene.now;
    const double fraction = remaining - std::floor(remaining);
    take(fraction > 0.001 ? fraction : 1);
  } else if (showsBadge(scene)) {
    // The badge as last drawn: the sleeping cat stops breathing after a while.
    if (const auto next = badge_->nextFrameIn(scene.animationTime)) take(*next);
  }
  if (scene.phase == IslandPhase::expanded && expandedCard(scene) == ExpandedCard::agents) {
    if (!scene.reduceMotion && !listedSessions(scene).empty()) {
      const auto& rows = listedSessions(scene);
      const size_t shown = std::min<size_t>(rows.size(), kVisibleRows);
      for (size_t i = 0; i < shown; ++i)
        if (rows[i].activity == AgentActivity::working)
          take(RunningPixelIndicator::nextFrameIn(scene.animationTime));
    }
    if (scene.showsUsageLine()) take(60);  // the reset countdowns count in minutes
  }
  return soonest;
}

}  // namespace tovami
