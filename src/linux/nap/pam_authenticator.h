// Waking with the password on Linux: a prompt drawn by Tovami above the nap scene on the key
// display, and the user's own password checked through PAM off the GUI thread.
#pragma once

#include <QFrame>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/authentication.h"

class QLabel;
class QLineEdit;

namespace tovami::linux_backend {

// Checks `password` for `user` with the PAM service `service`: refused for a wrong password,
// unavailable (logged with PAM's reason) when the check cannot be made or the account is locked
// or expired. Blocks for seconds on a wrong password, so never call it on the GUI thread.
AuthOutcome checkPasswordWithPam(const std::string& service, const std::string& user,
                                 const std::string& password);

// False (logged) when PAM's account check says no password could ever let `user` in: an
// unknown, expired or locked account, or a broken stack.
bool pamAccountUsable(const std::string& service, const std::string& user);

// True (logged) when no password can pass `service` for `user` because the account's local
// password is locked ("passwd -l", "usermod -L"): PAM's account check still passes then, and
// pam_unix refuses every password, the right one too, like a typo. Told from the account's own
// status as `passwd -S` shows it to its owner, and only where the service's password check rests
// on that local password alone (pam_unix and modules that accept no password themselves); false
// whenever it cannot be told for sure, so that the password is asked for.
bool localPasswordLocked(const std::string& service, const std::string& user);

// The PAM service to use: our own "tovami" where it is installed, else "login" (which every
// distribution ships for password logins); absent when neither exists.
std::optional<std::string> resolvePamService();

class PasswordPrompt final : public QFrame {
 public:
  PasswordPrompt(QWidget* host, const QString& reason);
  // Called once with the typed password, or with nothing when the user cancels.
  std::function<void(std::optional<std::string>)> onDone;
  void showChecking();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void place();
  void finish(std::optional<std::string> password);
  QLineEdit* field_;
  QLabel* status_;
};

class PamAuthenticator final : public Authenticator {
 public:
  // `promptHost` names the window that shows the prompt (the key blackout window), or null.
  explicit PamAuthenticator(std::function<QWidget*()> promptHost);
  std::shared_ptr<AuthenticationContext> makeContext() override;

 private:
  std::function<QWidget*()> promptHost_;
};

}  // namespace tovami::linux_backend
