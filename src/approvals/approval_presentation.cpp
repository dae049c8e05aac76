#include "approvals/approval_presentation.h"

#include <algorithm>

namespace tovami {
namespace {

constexpr const char* kDash = " \u2014 ";

std::string escapeMarkup(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

const char* keyOf(ApprovalDecision decision) {
  switch (decision) {
    case ApprovalDecision::allow:
      return "allow";
    case ApprovalDecision::deny:
      return "deny";
    case ApprovalDecision::always:
      return "always";
  }
  return "deny";
}

std::string countLine(std::size_t more) {
  return std::to_string(more) + (more == 1 ? " more request waits" : " more requests wait");
}

}  // namespace

std::string approvalSubject(const ApprovalRequest& request) {
  if (request.road == ApprovalRoad::keystroke || request.toolName.empty()) return request.detail;
  if (request.detail.empty()) return request.toolName;
  return request.toolName + " " + request.detail;
}

std::vector<ApprovalMenuRow> approvalMenuRows(const ApprovalState& state) {
  std::vector<ApprovalMenuRow> rows;
  if (const auto& front = state.pending()) {
    // The texts are already clean; the cut keeps the menu a menu's width.
    const std::string asked =
        front->projectName + kDash + approvalDisplayText(approvalSubject(*front), kApprovalMenuSubjectLength);
    if (front->answerable) {
      rows.push_back({"Allow: " + asked, front->id, ApprovalDecision::allow});
      // The row says what it grants, whole: a menu row is never cut.
      if (front->canAlwaysAllow) rows.push_back({front->always.answerText(), front->id, ApprovalDecision::always});
      rows.push_back({"Deny", front->id, ApprovalDecision::deny});
    } else {
      rows.push_back({asked + ": answer in the terminal", {}, std::nullopt});
    }
    if (state.count() > 1) rows.push_back({countLine(state.count() - 1), {}, std::nullopt});
  }
  if (const auto& notice = state.notice()) rows.push_back({notice->text, {}, std::nullopt});
  return rows;
}

NotificationOffer notificationOffer(const std::vector<std::string>& capabilities) {
  const auto has = [&](const char* name) {
    return std::find(capabilities.begin(), capabilities.end(), name) != capabilities.end();
  };
  return {has("actions"), has("body-markup")};
}

DesktopNotification approvalNotification(const ApprovalRequest& request, std::size_t waiting,
                                         NotificationOffer offer) {
  DesktopNotification notification;
  notification.summary = request.agentName() + " asks" + kDash + request.projectName;
  std::string body = approvalSubject(request);
  if (request.sessionName) body += "\nSession: " + *request.sessionName;
  if (request.canAlwaysAllow && request.answerable) body += "\n" + request.always.answerText();
  if (waiting > 1) body += "\n" + countLine(waiting - 1);
  if (!request.answerable)
    body += "\nAnswer in the terminal.";
  else if (!offer.actions)
    body += "\nAnswer from Tovami's tray menu.";
  notification.body = offer.markup ? escapeMarkup(body) : body;
  notification.persistent = true;
  if (offer.actions && request.answerable) {
    const auto action = [&](ApprovalDecision decision, std::string label) {
      notification.actions.push_back({std::string(keyOf(decision)) + ":" + request.id, label});
    };
    action(ApprovalDecision::allow, "Allow");
    if (request.canAlwaysAllow) action(ApprovalDecision::always, request.always.buttonLabel());
    action(ApprovalDecision::deny, "Deny");
  }
  return notification;
}

DesktopNotification approvalNoticeNotification(const ApprovalNotice& notice, NotificationOffer offer) {
  DesktopNotification notification;
  notification.summary = "Tovami";
  notification.body = offer.markup ? escapeMarkup(notice.text) : notice.text;
  return notification;
}

std::optional<std::pair<std::string, ApprovalDecision>> approvalActionFromKey(std::string_view key) {
  const auto colon = key.find(':');
  if (colon == std::string_view::npos || colon + 1 == key.size()) return std::nullopt;
  const std::string_view name = key.substr(0, colon);
  for (ApprovalDecision decision :
       {ApprovalDecision::allow, ApprovalDecision::deny, ApprovalDecision::always})
    if (name == keyOf(decision)) return std::pair{std::string(key.substr(colon + 1)), decision};
  return std::nullopt;
}

}  // namespace tovami
